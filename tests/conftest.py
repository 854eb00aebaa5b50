import os

import pytest
from hypothesis import settings

settings.register_profile("ci", max_examples=150, deadline=None)
settings.register_profile("dev", max_examples=60, deadline=None)
# Repeated runs must see the same examples, or their reference totals differ by chance.
settings.register_profile("refleak", max_examples=20, deadline=None, derandomize=True,
                          database=None)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "dev"))


@pytest.fixture(scope="session")
def tv():
    import tarvel._tarvel as mod

    return mod


def pytest_addoption(parser):
    parser.addoption("--refleak", metavar="WARMUPS:RUNS", default=None,
                     help="run each test module 1 + WARMUPS + RUNS times and fail the modules "
                          "whose RUNS repeats all grow sys.gettotalrefcount() (debug "
                          "interpreters only)")


def pytest_runtestloop(session):
    spec = session.config.getoption("refleak")
    if not spec or session.config.option.collectonly:
        return None
    import refleak

    return refleak.run(session, *refleak.parse(spec))

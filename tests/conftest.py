import os

import pytest
from hypothesis import settings

from leakcheck import FREE_THREADED

settings.register_profile("ci", max_examples=150, deadline=None)
settings.register_profile("dev", max_examples=60, deadline=None)
# Repeated runs must see the same examples, or their reference totals differ by chance.
# Every test run by four threads at once: what that run proves is that concurrent calls stay
# correct; the single-threaded run before it has already drawn the full count of examples.
settings.register_profile("threads", max_examples=20, deadline=None, database=None)
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


# When every test is run by several threads at once (pytest-run-parallel on a free-threaded
# build), these stay in one thread: they change what is process-wide (signal handlers, the
# recursion limit, allocator hooks, forks, imports of a fresh module, the standard streams a
# doctest runner swaps), start threads of their own with bounds on how long they wait, or
# measure memory and reference counts that other threads' work would move.
SINGLE_THREADED_MODULES = {
    "test_signals", "test_fork", "test_fault_injection", "test_deep_nesting", "test_threads",
    "test_free_threading", "test_cached", "test_subinterpreters", "test_leakcheck",
    "test_module", "test_readme", "test_stub_docs",
}
# Fixtures that patch process-wide state (module attributes, the standard streams, the
# warning filters) for the test that asks for them.
SINGLE_THREADED_FIXTURES = {"monkeypatch", "capsys", "capfd", "recwarn"}
SINGLE_THREADED_CALLS = {"check_leaks", "setrecursionlimit", "set_nomemory", "getrefcount",
                         "tracemalloc", "signal"}


def pytest_configure(config):
    config.addinivalue_line("markers", "thread_unsafe: run in one thread only")


def _calls(fn):
    code = getattr(fn, "__code__", None)
    if code is None:
        return set()
    names = set(code.co_names)
    for const in code.co_consts:  # nested functions and lambdas
        if hasattr(const, "co_names"):
            names |= set(const.co_names)
    return names


def pytest_collection_modifyitems(config, items):
    if FREE_THREADED:
        # A free-threaded 3.13 makes every function created after its first thread started
        # immortal, so memory can no longer show a leak: the leak checks go first.
        items.sort(key=lambda item: "check_leaks" not in _calls(getattr(item, "function", None)))
    for item in items:
        module = getattr(item, "module", None)
        name = module.__name__.rpartition(".")[2] if module else ""
        fn = getattr(item, "function", None)
        if (name in SINGLE_THREADED_MODULES or _calls(fn) & SINGLE_THREADED_CALLS
                or _one_shot_params(item)
                or SINGLE_THREADED_FIXTURES & set(getattr(item, "fixturenames", ()))):
            item.add_marker(pytest.mark.thread_unsafe)


def _one_shot_params(item):
    # A parametrized iterator or generator is made once and would be shared by every thread
    # running the test: only one of them could consume it, and a free-threaded 3.13 crashes
    # inside its own generator code when several advance one generator at once.
    callspec = getattr(item, "callspec", None)
    values = list(callspec.params.values()) if callspec else []
    values += [x for v in values if isinstance(v, (tuple, list)) for x in v]
    return any(hasattr(v, "__next__") for v in values)

import os

import pytest
from hypothesis import settings

settings.register_profile("ci", max_examples=150, deadline=None)
settings.register_profile("dev", max_examples=60, deadline=None)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "dev"))


@pytest.fixture(scope="session")
def tv():
    import tarvel._tarvel as mod

    return mod

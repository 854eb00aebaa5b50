"""The README's examples run as written."""

import doctest
import os

import pytest

README = os.path.join(os.path.dirname(__file__), "..", "README.md")


@pytest.mark.skipif(not os.path.exists(README), reason="README not shipped")
def test_readme_examples():
    # The examples name what they need from tarvel; skip when a family is not built yet.
    failures, tried = doctest.testfile(README, module_relative=False,
                                       optionflags=doctest.ELLIPSIS)
    assert tried > 0
    assert failures == 0

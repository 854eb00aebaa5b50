"""The README's examples run as written, each block on its own: a reader pastes one block
into a fresh interpreter, so a block may not lean on an import made by an earlier one."""

import doctest
import os
import re

import pytest

README = os.path.join(os.path.dirname(__file__), "..", "README.md")


def _blocks():
    if not os.path.exists(README):
        return []
    with open(README, encoding="utf-8") as f:
        text = f.read()
    out = []
    for m in re.finditer(r"^```python\n(.*?)^```", text, re.S | re.M):
        line = text.count("\n", 0, m.start()) + 2
        out.append(pytest.param(m.group(1), line, id=f"line{line}"))
    return out


BLOCKS = _blocks()


@pytest.mark.skipif(not BLOCKS, reason="README not shipped")
def test_readme_has_examples():
    assert len(BLOCKS) >= 5


@pytest.mark.parametrize("source, line", BLOCKS)
def test_readme_block_runs_alone(source, line):
    # A fresh namespace per block is the isolation: nothing defined above it is visible.
    test = doctest.DocTestParser().get_doctest(source, {"__name__": "readme"}, "README.md",
                                               README, line - 1)
    assert test.examples, "a python block without examples"
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    out = []
    runner.run(test, out=out.append)
    assert runner.failures == 0, "".join(out)

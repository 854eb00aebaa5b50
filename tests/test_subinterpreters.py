"""The module keeps process-wide state (type objects, cached standard-library objects), so
it refuses to load in a subinterpreter, and such an attempt leaves the main interpreter's
module working."""

import importlib
import operator
import os
import sys
import textwrap

import pytest

_testcapi = pytest.importorskip("_testcapi")

ATTEMPT = textwrap.dedent("""
    import os, sys
    sys.path[:] = {path!r}
    try:
        import tarvel._tarvel
        outcome = "imported"
    except ImportError as e:
        outcome = "ImportError: " + str(e)
    os.write({fd}, outcome.encode())
""")


def _import_in_subinterpreter():
    r, w = os.pipe()
    try:
        rc = _testcapi.run_in_subinterp(ATTEMPT.format(path=list(sys.path), fd=w))
        os.close(w)
        w = None
        return rc, os.read(r, 1000).decode()
    finally:
        os.close(r)
        if w is not None:
            os.close(w)


def test_subinterpreter_import_fails_and_main_is_unaffected(tv):
    tv.curry(operator.add)(1)(2)  # the cached objects exist before the attempt
    for _ in range(2):
        rc, outcome = _import_in_subinterpreter()
        assert rc == 0
        assert outcome.startswith("ImportError"), outcome
        assert "subinterpreter" in outcome
    assert tv.curry(operator.add)(1)(2) == 3
    assert tv.nth(1, range(3)) == 1
    assert list(tv.take(2, tv.cons(0, [1, 2]))) == [0, 1]


def test_reimport_in_the_main_interpreter(tv):
    saved = sys.modules.pop("tarvel._tarvel")
    try:
        fresh = importlib.import_module("tarvel._tarvel")
        assert fresh is not saved
        assert fresh.__all__ == saved.__all__
        assert fresh.curry(operator.mul)(3)(4) == 12
        assert list(fresh.unique([1, 1, 2])) == [1, 2]
    finally:
        sys.modules["tarvel._tarvel"] = saved

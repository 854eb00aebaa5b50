"""Lazily imported standard-library objects: filled once, by one thread, while the others
wait without holding the interpreter lock; a failed import is retried on the next call."""

import subprocess
import sys
import textwrap

import pytest

from interpreter_faults import require_survival

SCRIPT = textwrap.dedent("""
    import builtins, threading, time
    real_import = builtins.__import__
    calls = []
    fail_first = {fail_first}

    def slow_import(name, *args, **kwargs):
        if name == "collections.abc":
            calls.append(threading.get_ident())
            if fail_first and len(calls) == 1:
                raise ImportError("first import fails")
            time.sleep(0.3)  # lets the other threads pile up on the cell (GIL released)
        return real_import(name, *args, **kwargs)

    import tarvel._tarvel as m
    builtins.__import__ = slow_import

    if fail_first:
        try:
            m.nth(0, iter([1]))
        except ImportError as e:
            print("first call:", e)

    results, errors = [], []
    def worker():
        try:
            results.append(m.nth(1, iter([10, 20])))
        except BaseException as e:
            errors.append(repr(e))

    threads = [threading.Thread(target=worker) for _ in range(8)]
    for t in threads: t.start()
    for t in threads: t.join(20)
    assert not any(t.is_alive() for t in threads), "a waiter deadlocked"
    print("results", results, "errors", errors, "imports", len(calls))
""")


def run(fail_first):
    out = subprocess.run([sys.executable, "-c", SCRIPT.format(fail_first=fail_first)],
                         capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    return out.stdout


def test_one_thread_fills_while_others_wait():
    out = run(False)
    assert "results [20, 20, 20, 20, 20, 20, 20, 20] errors []" in out
    assert out.strip().endswith("imports 1")


def test_failed_fill_is_retried():
    out = run(True)
    assert "first call: first import fails" in out
    assert "errors []" in out
    assert out.strip().endswith("imports 2")


# First calls of a fresh process that fill a cell (an interned name, a cached object): the
# n-th allocation of the very first call fails, for every n in turn, and the call after it
# must still give the right answer. A cell that kept the failure would answer with an error
# (or a SystemError for an error return without an exception) forever after.
COLD_FIRST_CALLS = [
    ("count", "tv.count([1, 2])", "2"),
    ("count_iter", "tv.count(iter([1, 2]))", "2"),
    ("diff_key", "list(tv.diff([1, 2], [1, -3], key=abs))", "[(2, -3)]"),
    ("diff_default", "list(tv.diff([1], [1, 2], default=0))", "[(0, 2)]"),
    ("topk", "tv.topk(2, [3, 1, 2])", "(3, 2)"),
    ("valmap_mapping", "tv.valmap(str, types.MappingProxyType({1: 2}))", "{1: '2'}"),
    ("merge_mapping", "tv.merge(types.MappingProxyType({1: 2}))", "{1: 2}"),
    ("nth", "tv.nth(1, iter([10, 20]))", "20"),
    ("iter_collect", "tv.Iter((1, 2)).collect()", "[1, 2]"),
]

COLD_SCRIPT = textwrap.dedent("""
    import sys, types, _testcapi
    # The interpreter's own first import does not survive failing allocations (nor does
    # inspect.signature, so curry is not a row): imports are warmed, our cells are not.
    import collections.abc, functools, inspect, itertools
    import tarvel._tarvel as tv
    call = eval("lambda: " + sys.argv[1])
    for n in range(1, 60):
        _testcapi.set_nomemory(n, n + 1)
        try:
            call()
        except MemoryError:
            pass
        finally:
            _testcapi.remove_mem_hooks()
        got = repr(call())
        if got != sys.argv[2]:
            sys.exit(f"allocation {n} failing left {got}")
    print("ok")
""")


@pytest.mark.parametrize("expr,expected", [r[1:] for r in COLD_FIRST_CALLS],
                         ids=[r[0] for r in COLD_FIRST_CALLS])
def test_cold_first_call_failure_is_retried(expr, expected):
    require_survival()
    out = subprocess.run([sys.executable, "-c", COLD_SCRIPT, expr, expected],
                         capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout.strip() == "ok"

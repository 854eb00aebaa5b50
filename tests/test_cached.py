"""Lazily imported standard-library objects: filled once, by one thread, while the others
wait without holding the interpreter lock; a failed import is retried on the next call."""

import subprocess
import sys
import textwrap

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

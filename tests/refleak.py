"""Reference-leak hunting for debug interpreters, in the manner of CPython's regrtest -R:
each test module's tests run several times in a row, and a module whose runs keep adding
to sys.gettotalrefcount() fails the session. Enabled by `--refleak=WARMUPS:RUNS`."""

import gc
import sys

from _pytest.runner import runtestprotocol


def parse(spec):
    warmups, runs = (int(x) for x in spec.split(":"))
    return warmups, runs


def _modules(items):
    groups = []
    for item in items:
        path = item.nodeid.split("::")[0]
        if groups and groups[-1][0] == path:
            groups[-1][1].append(item)
        else:
            groups.append((path, [item]))
    return groups


# Modules about processes, threads and signals, and the tests that are leak checks of
# their own, run in the first pass only: their repeats would cost minutes and prove nothing
# more about references.
# The module and benchmark-report tests read files, package metadata and freshly loaded
# benchmark modules through the standard library's caches, and call no tool twice alike.
FIRST_PASS_ONLY = ("test_module.py", "test_bench_report.py", "test_fault_injection.py", "test_fork.py", "test_threads.py",
                   "test_signals.py", "test_subinterpreters.py", "test_deep_nesting.py",
                   "test_leakcheck.py")


# CPython 3.11 itself keeps a reference each time __hash__ returns a non-int: a plain
# hash() of such an object grows the total alike, so repeats would blame the test.
FIRST_PASS_TESTS = ("test_hash_failing_without_exception_type",)


def _repeatable(item):
    if "leak" in item.name or item.nodeid.split("::")[0].endswith(FIRST_PASS_ONLY):
        return False
    if item.name in FIRST_PASS_TESTS:
        return False
    # Property tests that are also parametrized make hypothesis keep a few references per
    # parametrized run (whatever the examples are), which repeats would read as a leak.
    fn = getattr(item, "obj", None)
    return not (getattr(fn, "is_hypothesis_test", False) and hasattr(item, "callspec"))


def _run_module(items, log):
    for i, item in enumerate(items):
        nextitem = items[i + 1] if i + 1 < len(items) else None
        runtestprotocol(item, nextitem=nextitem, log=log)


def run(session, warmups, runs):
    """The session's test loop: the first pass reports as usual, the repeats only count."""
    if not hasattr(sys, "gettotalrefcount"):
        raise session.Failed("--refleak needs a debug interpreter (sys.gettotalrefcount)")
    leaks = []
    for path, items in _modules(session.items):
        deltas = [0] * (1 + warmups + runs)  # filled in place: appending would count
        repeat = [item for item in items if _repeatable(item)]
        for rep in range(len(deltas)):
            if rep and not repeat:
                break
            gc.collect()
            before = sys.gettotalrefcount()
            _run_module(items if rep == 0 else repeat, log=rep == 0)
            gc.collect()
            deltas[rep] = sys.gettotalrefcount() - before
            if session.shouldfail or session.shouldstop:
                raise session.Interrupted(session.shouldfail or session.shouldstop)
        counted = deltas[1 + warmups:]
        if repeat and all(d > 0 for d in counted):
            leaks.append(f"{path} leaked references: {counted} (all runs {deltas})")
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    for line in leaks:
        reporter.write_line(f"REFLEAK {line}", red=True)
    if leaks:
        session.testsfailed += len(leaks)
    return True

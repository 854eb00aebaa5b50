"""Leak check: run an operation many times; Python-object memory (tracemalloc) and the
reference counts of the objects it touches must stay flat."""

import gc
import sys
import sysconfig
import tracemalloc

import pytest

# A leak of even one small object per call grows memory in every round; a cache filling
# up or a free list settling grows it in one round at most.
REPEAT = 3000
ROUNDS = 3
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def functions_outlive_their_references():
    # A free-threaded 3.13 makes every function created after its first thread started
    # immortal (their counts read as the immortal value), so they are never freed.
    return FREE_THREADED and sys.getrefcount(lambda: None) > 1 << 30


def _run(op, times, raises):
    for _ in range(times):
        try:
            op()
        except raises:
            pass


def _check_total_refcount(op, raises):
    # A debug interpreter counts every reference it holds: one leaked reference per call
    # shows at once, so a few hundred calls per round say more than thousands under
    # tracemalloc (and take a fraction of the time on that slower build).
    per_round = 200
    samples = []
    for i in range(ROUNDS + 4 + 1):  # up to the first flat round, as below
        if i:
            _run(op, per_round, raises)
        gc.collect()
        samples.append(sys.gettotalrefcount())
        if i and samples[-1] - samples[-2] < per_round // 2:
            break
    growth = [b - a for a, b in zip(samples, samples[1:])]
    assert min(growth) < per_round // 2, (
        f"references grew in every round of {per_round} calls: {growth}")


def _memory_samples(op, raises, warm, per_round, rounds, slack):
    # A function of its own: its round counter must not outlive it, or a watched small int
    # (a shared object on interpreters without immortal ones) would gain its reference.
    tracemalloc.start()
    try:
        _run(op, warm, raises)
        samples = []
        for i in range(rounds + 1):
            if i:
                _run(op, per_round, raises)
            gc.collect()
            samples.append(tracemalloc.get_traced_memory()[0])
            if i and samples[-1] - samples[-2] < slack:
                break
        return samples
    finally:
        tracemalloc.stop()


def check_leaks(op, *, watch=(), raises=(), repeat=REPEAT):
    """Fail when `op()` leaks memory or references.

    `watch` lists objects whose reference counts must be the same after the runs; `raises`
    lists exception types that `op` is expected to raise (error paths are checked too).
    """
    raises = tuple(raises) if isinstance(raises, (list, tuple)) else (raises,)
    if hasattr(sys, "gettotalrefcount"):
        _run(op, 50, raises)  # warm caches, lazy imports, free lists
        gc.collect()
        before_refs = [sys.getrefcount(o) for o in watch]
        _check_total_refcount(op, raises)
        after_refs = [sys.getrefcount(o) for o in watch]
        assert after_refs == before_refs, f"reference counts changed: {before_refs} -> {after_refs}"
        return
    if functions_outlive_their_references():
        pytest.skip("this interpreter has made new functions immortal since a thread started, "
                    "so memory cannot show a leak (the suite runs leak checks first)")
    per_round = max(100, repeat // 2)
    # The smallest object a leak can lose is 16 bytes; half of that per call is the bar.
    slack = min(12 * 1024, per_round * 8)
    # The free-threaded build frees some memory (list and dict storage among it) only once
    # enough has piled up, and how much has piled up depends on the tests before: memory can
    # climb for a few rounds before it settles. Every build gets up to four more rounds to
    # settle in (a loaded machine's interpreter can carry some growth over a round or two),
    # and the check stops at the first flat round: a leak grows in every one of them, so
    # the verdict is the one all the rounds would give.
    warm = 50 + (per_round if FREE_THREADED else 0)
    rounds = ROUNDS + 4
    _run(op, 50, raises)  # warm caches, lazy imports, free lists
    gc.collect()
    before_refs = [sys.getrefcount(o) for o in watch]
    samples = _memory_samples(op, raises, warm, per_round, rounds, slack)
    after_refs = [sys.getrefcount(o) for o in watch]
    growth = [b - a for a, b in zip(samples, samples[1:])]
    assert min(growth) < slack, (
        f"memory grew in every round of {per_round} calls: {growth} bytes")
    assert after_refs == before_refs, f"reference counts changed: {before_refs} -> {after_refs}"

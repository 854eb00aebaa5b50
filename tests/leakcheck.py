"""Leak check: run an operation many times; Python-object memory (tracemalloc) and the
reference counts of the objects it touches must stay flat."""

import gc
import sys
import tracemalloc

# A leak of one small object per call over REPEAT calls shows up as well over this many bytes.
REPEAT = 3000
SLACK_BYTES = 24 * 1024


def _run(op, times, raises):
    for _ in range(times):
        try:
            op()
        except raises:
            pass


def check_leaks(op, *, watch=(), raises=(), repeat=REPEAT):
    """Fail when `op()` leaks memory or references.

    `watch` lists objects whose reference counts must be the same after the runs; `raises`
    lists exception types that `op` is expected to raise (error paths are checked too).
    """
    raises = tuple(raises) if isinstance(raises, (list, tuple)) else (raises,)
    _run(op, 50, raises)  # warm caches, lazy imports, free lists
    gc.collect()
    before_refs = [sys.getrefcount(o) for o in watch]
    tracemalloc.start()
    try:
        _run(op, 50, raises)
        gc.collect()
        start, _ = tracemalloc.get_traced_memory()
        _run(op, repeat, raises)
        gc.collect()
        end, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    after_refs = [sys.getrefcount(o) for o in watch]
    grown = end - start
    assert grown < SLACK_BYTES, f"memory grew by {grown} bytes over {repeat} calls"
    assert after_refs == before_refs, f"reference counts changed: {before_refs} -> {after_refs}"

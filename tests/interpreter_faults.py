"""Whether this interpreter itself survives failing allocations, for the tests that make
allocations fail. The free-threaded 3.13 interpreter's own PyList_New frees the new list,
garbage item pointers and length included, when its item array cannot be allocated: any
failing allocation that lands there corrupts the heap or crashes, whatever code made the
list, so such tests mean nothing there. The probe is a two-element list display with each
allocation failing in turn, made fresh (the free list of lists emptied first); under the
debug allocator a list freed with garbage in it crashes."""

import functools
import os
import subprocess
import sys
import sysconfig

import pytest

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))

PROBE = """
import _testcapi
def build(a, b):
    return [a, b]
for n in range(1, 30):
    keep = [[] for _ in range(200)]
    a, b = object(), object()
    _testcapi.set_nomemory(n, n + 1)
    try:
        build(a, b)
    except MemoryError:
        pass
    finally:
        _testcapi.remove_mem_hooks()
"""


@functools.cache
def _probe():
    env = dict(os.environ, PYTHONMALLOC="mimalloc_debug" if FREE_THREADED else "debug")
    proc = subprocess.run([sys.executable, "-c", PROBE], capture_output=True, text=True,
                          timeout=180, env=env)
    return proc.returncode, proc.stderr[-2000:]


def require_survival():
    """Skips on a free-threaded interpreter that fails the probe; on any other build the
    probe must pass."""
    pytest.importorskip("_testcapi")
    rc, err = _probe()
    if rc != 0 and FREE_THREADED:
        pytest.skip("this free-threaded interpreter crashes by itself when a new list's item "
                    f"array cannot be allocated (exit {rc})")
    assert rc == 0, err

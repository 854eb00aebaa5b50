"""Parallel rows: the same counting work split over two threads against one thread doing
both halves. The ratio is the speed-up. Only a free-threaded interpreter with the lock off
can reach one of about 2 on two cores, so only there the row has a target; beside it the
same pair is measured in a child interpreter with the lock switched on (about 1.0)."""

import os
import random
import subprocess
import sys
import sysconfig
from concurrent.futures import ThreadPoolExecutor

import tarvel as tv
from harness import Row, measure

N = 10**6
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def gil_enabled():
    return getattr(sys, "_is_gil_enabled", lambda: True)()


def _halves():
    rng = random.Random(5)
    data = [rng.randrange(1000) for _ in range(N)]
    return data[: N // 2], data[N // 2:]


def _pair():
    a, b = _halves()
    # A worker that lives across the timings, as in any program that spreads work over
    # threads: starting a thread costs a free-threaded 3.13 about 0.3 ms (a tenth of the
    # split work), which would be measured instead of the counting.
    pool = ThreadPoolExecutor(max_workers=1)
    pool.submit(int).result()

    def two_threads():
        other = pool.submit(tv.frequencies, b)
        tv.frequencies(a)
        other.result()

    def one_thread():
        tv.frequencies(a)
        tv.frequencies(b)

    return two_threads, one_thread


def _row(extra=None):
    note = "ratio = speed-up; 2 cores give at most 2"
    if not gil_enabled():
        return Row("frequencies(half) in each of 2 threads (lock off)",
                   "frequencies of both halves in 1 thread", _pair,
                   1.7 if FREE_THREADED else None, note=note, extra=extra, rounds=30)
    return Row("frequencies(half) in each of 2 threads (lock on)",
               "frequencies of both halves in 1 thread", _pair, None, note=note, extra=extra,
               rounds=30)


def _with_lock_on():
    """The same pair in a child interpreter with the lock on, as text for the table."""
    env = dict(os.environ, PYTHON_GIL="1")
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run([sys.executable, os.path.join(here, "rows_threads.py")], env=env,
                         capture_output=True, text=True, timeout=600)
    if out.returncode != 0:
        return "lock on: failed: " + out.stderr.strip().splitlines()[-1:][0]
    return "lock on: " + out.stdout.strip()


def rows():
    if FREE_THREADED and not gil_enabled():
        return [_row(extra=_with_lock_on)]
    return [_row()]


if __name__ == "__main__":
    t_two, t_one = measure(_row())
    print(f"{t_one / t_two:.2f}x")

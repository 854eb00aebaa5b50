"""Ctrl-C stops every long native loop: over endless C iterators (which never hand control
back to the interpreter) and over huge integer buffers."""

import collections
import faulthandler
import itertools
import mmap
import operator
import signal
import time

import pytest

# A zero-filled anonymous mapping: gigabytes to scan that cost no memory until written.
BIG = 1 << 32


@pytest.fixture(scope="module")
def zeros():
    m = mmap.mmap(-1, BIG, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS)
    yield m
    m.close()


def _second(it):
    next(it)
    return next(it)


def _self_nested():
    d = {}
    d["a"] = d
    return d


LOOPS = {
    "count": lambda tv, z: tv.count(itertools.repeat(1)),
    "last": lambda tv, z: tv.last(itertools.repeat(1)),
    "last_opt": lambda tv, z: tv.last_opt(itertools.repeat(1)),
    "tail": lambda tv, z: tv.tail(3, itertools.repeat(1)),
    "nth": lambda tv, z: tv.nth(1 << 60, itertools.repeat(1)),
    "nth_opt": lambda tv, z: tv.nth_opt(1 << 60, itertools.repeat(1)),
    "frequencies": lambda tv, z: tv.frequencies(itertools.repeat(1)),
    "frequencies buffer": lambda tv, z: tv.frequencies(z),
    "unique": lambda tv, z: _second(tv.unique(itertools.repeat(1))),
    "unique buffer": lambda tv, z: _second(tv.unique(z)),
    "remove": lambda tv, z: next(tv.remove(bool, itertools.repeat(1))),
    # Lazy results drained by a consumer written in C, which never checks for signals.
    "partition": lambda tv, z: collections.deque(tv.partition(2, itertools.repeat(1)), 0),
    "sliding_window": lambda tv, z: collections.deque(
        tv.sliding_window(2, itertools.repeat(1)), 0),
    "accumulate": lambda tv, z: collections.deque(
        tv.accumulate(operator.or_, itertools.repeat(1)), 0),
    "get_in": lambda tv, z: tv.get_in(itertools.repeat("a"), _self_nested()),
    # The skip over right elements with no match and no left default.
    "join unmatched": lambda tv, z: next(tv.join(0, [(1,)], 0, itertools.repeat((2,)))),
    "topk": lambda tv, z: tv.topk(1, itertools.repeat(1)),
    "interleave": lambda tv, z: collections.deque(tv.interleave([itertools.repeat(1)]), 0),
    "diff equal": lambda tv, z: next(tv.diff(itertools.repeat(1), itertools.repeat(1))),
}


@pytest.mark.parametrize("name", sorted(LOOPS))
def test_sigint_stops_the_loop(tv, zeros, name):
    # The loop holds the interpreter lock throughout, so no Python thread could send the
    # signal: an interval timer does, and its handler is the one Ctrl-C runs.
    old = signal.signal(signal.SIGALRM, signal.default_int_handler)
    # Should the loop never notice the signal, end the run instead of hanging it.
    faulthandler.dump_traceback_later(60, exit=True)
    try:
        due = time.monotonic() + 0.05
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        with pytest.raises(KeyboardInterrupt):
            LOOPS[name](tv, zeros)
        latency = time.monotonic() - due
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        faulthandler.cancel_dump_traceback_later()
        signal.signal(signal.SIGALRM, old)
    # Measured well under 10 ms; the bound leaves room for a loaded machine.
    assert latency < 0.5, f"stopped {latency * 1000:.0f} ms after the signal"

"""Ctrl-C stops every long native loop of the rows of tool_table: over endless C iterators
(which never hand control back to the interpreter) and huge integer buffers."""

import faulthandler
import mmap
import signal
import time
import types

import pytest

from tool_table import TOOLS

# A zero-filled anonymous mapping: gigabytes to scan that cost no memory until written.
BIG = 1 << 32


@pytest.fixture(scope="module")
def big():
    zeros = mmap.mmap(-1, BIG, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS)
    # A list scanned natively from end to end: a third of a second of one repeated key.
    same_strs = ["a"] * (1 << 25)
    yield types.SimpleNamespace(zeros=zeros, same_strs=same_strs)
    zeros.close()


LOOPS = {f"{name}-{i}" if i else name: loop
         for name, row in TOOLS.items() for i, loop in enumerate(row.loops)}


def _settle():
    # A loop that ignored the signal ends with it pending: it is raised here, late, and
    # still inside the test rather than in pytest's own code.
    for _ in range(100):
        pass


@pytest.mark.parametrize("name", sorted(LOOPS))
def test_sigint_stops_the_loop(tv, big, name):
    # The loop holds the interpreter lock throughout, so no Python thread could send the
    # signal: an interval timer does, and its handler is the one Ctrl-C runs.
    old = signal.signal(signal.SIGALRM, signal.default_int_handler)
    # Should the loop never notice the signal, end the run instead of hanging it.
    faulthandler.dump_traceback_later(60, exit=True)
    try:
        due = time.monotonic() + 0.05
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        with pytest.raises(KeyboardInterrupt):
            LOOPS[name](tv, big)
            _settle()
        latency = time.monotonic() - due
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        faulthandler.cancel_dump_traceback_later()
        signal.signal(signal.SIGALRM, old)
    # Measured well under 10 ms; the bound leaves room for a loaded machine.
    assert latency < 0.5, f"stopped {latency * 1000:.0f} ms after the signal"

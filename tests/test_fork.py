"""A fork while another thread fills a once-initialised cell (here a curry object's
signature): the child has no thread to finish that fill and must not wait for it."""

import inspect
import os
import signal
import sys
import threading
import time
import warnings

import pytest

pytestmark = pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")


class SlowSignature:
    """A callable whose signature takes `delay` seconds to read."""

    def __init__(self, delay):
        self.delay = delay
        self.reading = threading.Event()

    def __call__(self, a, b):
        return a + b

    @property
    def __signature__(self):
        self.reading.set()
        time.sleep(self.delay)
        return inspect.Signature([inspect.Parameter(n, inspect.Parameter.POSITIONAL_OR_KEYWORD)
                                  for n in "ab"])


def _wait_child(pid, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.02)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    pytest.fail(f"the forked child did not finish within {timeout} s")


def test_child_forked_during_a_fill_finishes(tv):
    func = SlowSignature(delay=0.5)
    c = tv.curry(func)
    results = []
    filler = threading.Thread(target=lambda: results.append(c(1)(2)))
    filler.start()
    assert func.reading.wait(5)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads, 3.12+
        pid = os.fork()
    if pid == 0:  # the child: only this thread exists
        code = 1
        try:
            code = 0 if c(1)(2) == 3 and tv.curry(func)(3, 4) == 7 else 3
        finally:
            os._exit(code)
    assert _wait_child(pid, timeout=20) == 0
    filler.join(10)
    assert results == [3]
    assert c(10)(20) == 30


def test_fork_after_fill_keeps_the_value(tv):
    c = tv.curry(lambda a, b: a * b)
    assert c(2)(3) == 6
    pid = os.fork()
    if pid == 0:
        os._exit(0 if c(4)(5) == 20 else 1)
    assert _wait_child(pid, timeout=20) == 0

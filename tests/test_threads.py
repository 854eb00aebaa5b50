"""Threads that meet a once-initialised cell while another thread fills it sleep until the
outcome is known (without holding the interpreter lock), then share it."""

import inspect
import threading
import time

from test_fork import SlowSignature


def test_waiters_sleep_while_a_fill_runs(tv):
    func = SlowSignature(delay=0.6)
    c = tv.curry(func)
    results = []
    lock = threading.Lock()

    def call():
        r = c(1)(2)
        with lock:
            results.append(r)

    filler = threading.Thread(target=call)
    filler.start()
    assert func.reading.wait(5)
    cpu0, wall0 = time.process_time(), time.monotonic()
    waiters = [threading.Thread(target=call) for _ in range(4)]
    for t in waiters:
        t.start()
    for t in [filler, *waiters]:
        t.join(10)
    cpu, wall = time.process_time() - cpu0, time.monotonic() - wall0
    assert results == [3] * 5
    # Spinning waiters burn a core each for the whole fill (less on a loaded machine);
    # sleeping ones next to nothing.
    assert cpu < 0.05 * wall, f"{cpu:.2f} s of CPU in {wall:.2f} s"


def test_failed_fill_is_retried_by_the_next_caller(tv):
    calls = []

    class Flaky:
        def __call__(self, a, b):
            return a - b

        @property
        def __signature__(self):
            calls.append(1)
            if len(calls) == 1:
                raise KeyboardInterrupt  # propagates and leaves the cell empty
            return inspect.Signature([inspect.Parameter(n, inspect.Parameter.POSITIONAL_ONLY)
                                      for n in "ab"])

    c = tv.curry(Flaky())
    try:
        c(5)
    except KeyboardInterrupt:
        pass
    else:
        raise AssertionError("the interrupt was swallowed")
    assert c(5)(3) == 2
    assert len(calls) == 2


def test_concurrent_first_calls_agree(tv):
    def f(a, b, c):
        return a + b + c

    cs = [tv.curry(f) for _ in range(20)]
    out = []

    def work(c):
        for _ in range(50):
            out.append(c(1)(2)(3))

    threads = [threading.Thread(target=work, args=(c,)) for c in cs for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(30)
    assert out == [6] * (len(threads) * 50)

"""Side-by-side timing: each row times tarvel and its baseline interleaved in one run and
reports baseline time / tarvel time (above 1 means tarvel is faster)."""

import gc
import time
from dataclasses import dataclass, field
from typing import Callable, Optional


@dataclass
class Row:
    name: str            # what tarvel runs, e.g. "get(k, d)"
    baseline: str        # what it is compared with, e.g. "operator.getitem(d, k)"
    setup: Callable[[], tuple]  # returns (tarvel_fn, baseline_fn), both zero-argument
    # The ratio the row must reach; None for a row that is only reported (shown without a
    # target and never counted as met or missed).
    target: Optional[float]
    note: str = ""
    extra: Optional[Callable[[], str]] = field(default=None)  # e.g. peak memory, shown after
    # At least this many interleaved rounds: a row whose single timings scatter widely (one
    # that depends on the scheduler placing threads, say) needs more of them to find its best.
    rounds: int = 0


def _time_once(fn, number):
    t0 = time.perf_counter()
    for _ in range(number):
        fn()
    return (time.perf_counter() - t0) / number


def _calibrate(fn, budget=0.02):
    number = 1
    while True:
        t = _time_once(fn, number) * number
        if t >= budget or number >= 1 << 22:
            return number
        number *= 2 if t == 0 else max(2, int(budget / max(t, 1e-9)))


def measure(row, rounds=7):
    tv_fn, base_fn = row.setup()
    number = max(_calibrate(tv_fn), _calibrate(base_fn))
    best_tv = best_base = float("inf")
    gc_was = gc.isenabled()
    gc.disable()
    try:
        for _ in range(max(rounds, row.rounds)):  # interleaved so that drift hits both sides alike
            best_tv = min(best_tv, _time_once(tv_fn, number))
            best_base = min(best_base, _time_once(base_fn, number))
    finally:
        if gc_was:
            gc.enable()
    return best_tv, best_base


def fmt_time(t):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if t >= scale:
            return f"{t / scale:7.2f} {unit}"
    return f"{t / 1e-9:7.2f} ns"

"""Hashing rows: frequencies and unique against collections.Counter, dict.fromkeys,
numpy.unique and the unique_everseen recipe of the itertools documentation."""

import array
import collections
import itertools
import random
import time

import numpy as np

import tarvel as tv
from harness import Row, fmt_time

N_LIST = 10**6
N_BIG = 10**7
DISTINCT = 1000


def unique_everseen(iterable, key=None):
    # The recipe of the itertools documentation.
    seen = set()
    if key is None:
        for element in itertools.filterfalse(seen.__contains__, iterable):
            seen.add(element)
            yield element
    else:
        for element in iterable:
            k = key(element)
            if k not in seen:
                seen.add(k)
                yield element


def _ints(n):
    rng = random.Random(0)
    return [rng.randrange(DISTINCT) for _ in range(n)]


def _np_ints(n):
    return np.random.default_rng(0).integers(0, DISTINCT, n, dtype=np.int64)


def _status_kb(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1])
    raise LookupError(field)


def peak_rss_delta(fn):
    """Peak resident-set growth caused by fn(), in bytes: the kernel's high-water mark
    (VmHWM) is reset through /proc/self/clear_refs, then compared with VmRSS before."""
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = _status_kb("VmRSS")
    result = fn()
    peak = _status_kb("VmHWM")
    del result
    return (peak - before) * 1024


def _mib(n):
    return f"{n / 2**20:.1f} MiB"


def _memory_line(label_fns):
    try:
        parts = [f"{label}: {_mib(peak_rss_delta(fn))}" for label, fn in label_fns]
    except OSError as e:
        return f"peak memory not measured ({e})"
    return "peak RSS growth (VmHWM after - VmRSS before) " + "; ".join(parts)


def rows():
    def freq_list_ints():
        data = _ints(N_LIST)
        return (lambda: tv.frequencies(data)), (lambda: collections.Counter(data))

    def freq_list_strs():
        data = [f"k{x}" for x in _ints(N_LIST)]
        return (lambda: tv.frequencies(data)), (lambda: collections.Counter(data))

    big_np = None
    big_q = None

    def get_np():
        nonlocal big_np
        if big_np is None:
            big_np = _np_ints(N_BIG)
        return big_np

    def get_q():
        nonlocal big_q
        if big_q is None:
            big_q = array.array("q", get_np().tobytes())
        return big_q

    def freq_np():
        arr = get_np()
        return (lambda: tv.frequencies(arr)), (lambda: np.unique(arr, return_counts=True))

    def freq_np_mem():
        arr = get_np()
        return _memory_line([
            ("frequencies", lambda: tv.frequencies(arr)),
            ("numpy.unique", lambda: np.unique(arr, return_counts=True)),
            ("list(unique)", lambda: list(tv.unique(arr))),
        ])

    def freq_q():
        arr = get_q()
        return (lambda: tv.frequencies(arr)), (lambda: collections.Counter(arr))

    def freq_q_mem():
        arr = get_q()
        return _memory_line([
            ("frequencies", lambda: tv.frequencies(arr)),
            ("Counter", lambda: collections.Counter(arr)),
        ])

    def unique_list():
        data = _ints(N_LIST)
        return (lambda: list(tv.unique(data))), (lambda: list(dict.fromkeys(data)))

    def unique_list_strs():
        # Each element is its own object: equal strs meet by their contents, not identity.
        data = [f"k{x}" for x in _ints(N_LIST)]
        return (lambda: list(tv.unique(data))), (lambda: list(dict.fromkeys(data)))

    def take_unique():
        arr = get_np()
        return (lambda: list(tv.take(10, tv.unique(arr)))), (
            lambda: list(itertools.islice(unique_everseen(arr), 10)))

    def take_unique_scaling():
        small = get_np()[:10**4].copy()
        big = get_np()
        # Sorted runs of 100 equal values: the ten distinct values sit 1000 elements deep.
        runs = np.repeat(np.arange(N_BIG // 100, dtype=np.int64), 100)

        def per_call(fn, number=2000):
            best = float("inf")
            for _ in range(3):
                t0 = time.perf_counter()
                for _ in range(number):
                    fn()
                best = min(best, (time.perf_counter() - t0) / number)
            return best

        t_small = per_call(lambda: list(tv.take(10, tv.unique(small))))
        t_big = per_call(lambda: list(tv.take(10, tv.unique(big))))
        t_runs = per_call(lambda: list(tv.take(10, tv.unique(runs))))
        t_runs_base = per_call(lambda: list(itertools.islice(unique_everseen(runs), 10)))
        mem = _memory_line([("take(10, unique(1e7))", lambda: list(tv.take(10, tv.unique(big))))])
        return (f"cost vs length: 1e4 array {fmt_time(t_small).strip()}, 1e7 array "
                f"{fmt_time(t_big).strip()} (ratio {t_big / t_small:.2f}); sorted runs of 100: "
                f"{fmt_time(t_runs).strip()} vs recipe {fmt_time(t_runs_base).strip()} "
                f"(ratio {t_runs_base / t_runs:.1f})\n    {mem}")

    return [
        Row("frequencies(list 1e6 int, 1e3 distinct)", "collections.Counter(list)",
            freq_list_ints, 1.5),
        Row("frequencies(list 1e6 str, 1e3 distinct)", "collections.Counter(list)",
            freq_list_strs, 1.3),
        Row("frequencies(int64 ndarray 1e7, 1e3 dist.)", "numpy.unique(a, return_counts=True)",
            freq_np, 5.0, extra=freq_np_mem),
        Row("frequencies(array('q') 1e7, 1e3 distinct)", "collections.Counter(array)",
            freq_q, 10.0, extra=freq_q_mem),
        Row("list(unique(list 1e6 int, 1e3 distinct))", "list(dict.fromkeys(list))",
            unique_list, 1.0),
        Row("list(unique(list 1e6 str, 1e3 distinct))", "list(dict.fromkeys(list))",
            unique_list_strs, 1.5,
            note="every element its own object; paired on a loaded machine 1.19-1.23 while "
                 "equal strs went through the rich comparison, 1.49-1.91 since they are "
                 "compared by their code points"),
        Row("list(take(10, unique(int64 ndarray 1e7)))", "list(islice(unique_everseen(a), 10))",
            take_unique, 10.0, extra=take_unique_scaling),
    ]

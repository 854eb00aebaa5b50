"""How cost grows: nanoseconds per element for frequencies, unique and groupby against
Counter, dict.fromkeys and the defaultdict loop, on lists of ints and on int64 NumPy arrays
of 1e3 to 1e7 elements, with 1000 distinct values and with all values distinct.

The tables grow with the distinct values: 1000 of them fit in the first-level cache at any
length, all-distinct ones leave the second-level cache near 1e5 and the last-level cache
near 1e6, which is where the cost per element should jump. frequencies and unique read an
int64 array natively and give Python ints: their baselines read a.tolist() (included in
their time), as iterating the array itself hands out NumPy scalars, slower still. groupby
keeps the elements it is given (NumPy scalars), so its baseline loops over the array too."""

import collections
import gc
import operator
import time

import numpy as np

import tarvel as tv

DISTINCT = 1000
EXPONENTS = (3, 4, 5, 6, 7)
KEY = operator.pos  # a cheap C key for groupby, the same on both sides


def _groupby_loop(xs, key=KEY):
    groups = collections.defaultdict(list)
    for x in xs:
        groups[key(x)].append(x)
    return groups


# (tool, baseline name, tarvel call, baseline call, whether the baseline gets a.tolist() of
# an array: the same result as the tool's); each call takes the input as built.
TOOLS = [
    ("frequencies", "Counter", tv.frequencies, collections.Counter, True),
    ("unique", "dict.fromkeys",
     lambda xs: list(tv.unique(xs)), lambda xs: list(dict.fromkeys(xs)), True),
    ("groupby", "defaultdict loop", lambda xs: tv.groupby(KEY, xs), _groupby_loop, False),
]


def _data(n, distinct, kind):
    rng = np.random.default_rng(n)
    if distinct == "all":
        a = rng.permutation(n).astype(np.int64)
    else:
        a = rng.integers(0, DISTINCT, n, dtype=np.int64)
    return a if kind == "int64" else a.tolist()


def _repeats(n):
    # About the same total work per size, and at least two runs of the longest inputs.
    return max(2, min(200, 3 * 10**6 // n))


def _best(fn, arg, repeats):
    best = float("inf")
    for _ in range(repeats):
        t0 = time.perf_counter()
        r = fn(arg)
        t = time.perf_counter() - t0
        del r
        best = min(best, t)
    return best


def measure(exponents=EXPONENTS, say=print):
    """Returns {"sizes": [...], "series": [...]}: per tool, input kind and distinct count,
    the ns per element of tarvel and of the baseline at each size. Interleaved per size,
    so that drift hits both sides alike."""
    sizes = [10**e for e in exponents]
    series = []
    gc_was = gc.isenabled()
    gc.disable()
    try:
        for kind in ("list", "int64"):
            for distinct in (str(DISTINCT), "all"):
                for tool, base_name, tv_fn, base_fn, as_list in TOOLS:
                    rec = {"tool": tool, "baseline": base_name, "input": kind,
                           "distinct": distinct, "tarvel_ns": [], "baseline_ns": []}
                    for n in sizes:
                        xs = _data(n, distinct, kind)
                        if kind == "int64" and as_list:
                            # The baseline pays for the conversion a user would write.
                            def base_call(a, f=base_fn):
                                return f(a.tolist())
                        else:
                            base_call = base_fn
                        reps = _repeats(n)
                        t_tv = t_base = float("inf")
                        for _ in range(2):
                            t_tv = min(t_tv, _best(tv_fn, xs, (reps + 1) // 2))
                            t_base = min(t_base, _best(base_call, xs, (reps + 1) // 2))
                        rec["tarvel_ns"].append(t_tv / n * 1e9)
                        rec["baseline_ns"].append(t_base / n * 1e9)
                        del xs
                    series.append(rec)
                    say(format_series(rec, sizes))
    finally:
        if gc_was:
            gc.enable()
    return {"sizes": sizes, "series": series}


def label(rec):
    d = "1e3 distinct" if rec["distinct"] == str(DISTINCT) else "all distinct"
    return f"{rec['tool']}, {rec['input']}, {d}"


def format_header(sizes):
    cols = "".join(f"{'1e%d' % round(np.log10(n)):>8}" for n in sizes)
    return f"{'ns per element (tarvel / baseline, ratio)':<44}{cols}"


def format_series(rec, sizes):
    lines = [f"{label(rec):<44}" + "".join(f"{t:8.1f}" for t in rec["tarvel_ns"]),
             f"{'  ' + rec['baseline']:<44}" + "".join(f"{t:8.1f}" for t in rec["baseline_ns"]),
             f"{'  ratio':<44}" + "".join(
                 f"{b / t:8.2f}" for t, b in zip(rec["tarvel_ns"], rec["baseline_ns"]))]
    return "\n".join(lines)

"""Aggregation rows: grouping, counting, folding, top k, join, diff, distinctness, sorted
merge and frequencies on mostly distinct input, against the plain-Python loops, the
collections / heapq tools and NumPy."""

import array
import collections
import heapq
import itertools
import operator
import random
import timeit

import numpy as np

import tarvel as tv
from harness import Row, fmt_time

N = 10**6


def _records(n, distinct=1000):
    rng = random.Random(1)
    return [(rng.randrange(distinct), i) for i in range(n)]


def _short_strs(n):
    rng = random.Random(2)
    return ["x" * rng.randrange(1, 12) for _ in range(n)]


def _ints(n, hi=2**40):
    rng = random.Random(3)
    return [rng.randrange(-hi, hi) for _ in range(n)]


def groupby_loop(key, seq):
    d = collections.defaultdict(list)
    for x in seq:
        d[key(x)].append(x)
    return d


def groupby_index_loop(seq):
    d = collections.defaultdict(list)
    for x in seq:
        d[x[0]].append(x)
    return d


def add(acc, x):
    return acc + x[1]


def reduceby_call_loop(seq):
    d = {}
    for x in seq:
        k = x[0]
        d[k] = add(d[k] if k in d else 0, x)
    return d


def reduceby_inline_loop(seq):
    d = collections.defaultdict(int)
    for x in seq:
        d[x[0]] += x[1]
    return d


def join_baseline(left, right):
    idx = collections.defaultdict(list)
    for l in left:
        idx[l[0]].append(l)
    return ((l, r) for r in right for l in idx.get(r[0], ()))


def rows():
    def grp_index():
        data = _records(N)
        return (lambda: tv.groupby(0, data)), (lambda: groupby_index_loop(data))

    def grp_len():
        data = _short_strs(N)
        return (lambda: tv.groupby(len, data)), (lambda: groupby_loop(len, data))

    def cnt_index():
        data = _records(N)
        get0 = operator.itemgetter(0)
        return (lambda: tv.countby(0, data)), (lambda: collections.Counter(map(get0, data)))

    def red_call():
        data = _records(N)
        return (lambda: tv.reduceby(0, add, data, 0)), (lambda: reduceby_call_loop(data))

    def red_inline():
        data = _records(N)
        return (lambda: tv.reduceby(0, add, data, 0)), (lambda: reduceby_inline_loop(data))

    def topk_ints():
        data = _ints(N)
        return (lambda: tv.topk(10, data)), (lambda: heapq.nlargest(10, data))

    def topk_floats():
        data = [x / 7.0 for x in _ints(N)]
        return (lambda: tv.topk(10, data)), (lambda: heapq.nlargest(10, data))

    def topk_np():
        a = np.random.default_rng(4).integers(-2**62, 2**62, 10**7, dtype=np.int64)

        def base():
            top = np.partition(a, a.size - 10)[-10:]
            return np.sort(top)[::-1]

        return (lambda: tv.topk(10, a)), base

    def join_lists():
        rng = random.Random(5)
        left = [(rng.randrange(10**5), i) for i in range(10**5)]
        right = [(rng.randrange(10**5), i) for i in range(10**5)]
        return (lambda: list(tv.join(0, left, 0, right))), (
            lambda: list(join_baseline(left, right)))

    def diff_lists():
        a = list(range(N))
        b = [x + 1 if x % 100 == 0 else x for x in a]
        return (lambda: list(tv.diff(a, b))), (
            lambda: list((x, y) for x, y in zip(a, b) if x != y))

    def distinct_list():
        d = random.Random(6).sample(range(10**9), 10**5)
        return (lambda: tv.isdistinct(d)), (lambda: len(set(d)) == len(d))

    def distinct_np():
        a = np.random.default_rng(7).permutation(10**5).astype(np.int64) * 7919
        return (lambda: tv.isdistinct(a)), (lambda: np.unique(a).size == a.size)

    def distinct_q():
        a = np.random.default_rng(7).permutation(10**5).astype(np.int64) * 7919
        q = array.array("q", a.tobytes())
        return (lambda: tv.isdistinct(q)), (lambda: np.unique(q).size == len(q))

    def distinct_early():
        small = array.array("q", [1, 2, 3, 4, 5, 1] + list(range(10, 10**3)))
        big = array.array("q", [1, 2, 3, 4, 5, 1] + list(range(10, N)))

        def per_call(fn, number=2000):
            return min(timeit.repeat(fn, number=number, repeat=3)) / number

        t_small, t_big = per_call(lambda: tv.isdistinct(small)), per_call(
            lambda: tv.isdistinct(big))
        return (f"duplicate at position 5: 1e3 array {fmt_time(t_small).strip()}, 1e6 array "
                f"{fmt_time(t_big).strip()} (ratio {t_big / t_small:.2f})")

    def merge4():
        rng = random.Random(8)
        seqs = [sorted(rng.randrange(10**6) for _ in range(25_000)) for _ in range(4)]
        return (lambda: list(tv.merge_sorted(*seqs))), (lambda: list(heapq.merge(*seqs)))

    def merge4_sorted():
        rng = random.Random(8)
        seqs = [sorted(rng.randrange(10**6) for _ in range(25_000)) for _ in range(4)]
        return (lambda: list(tv.merge_sorted(*seqs))), (lambda: sorted(itertools.chain(*seqs)))

    def freq_distinct():
        data = random.Random(9).sample(range(10**9), N)
        return (lambda: tv.frequencies(data)), (lambda: collections.Counter(data))

    return [
        Row("groupby(0, 1e6 tuple records)", "defaultdict(list) loop", grp_index, 3.0,
            note="memory-bound: perf puts releasing the previous result's 1000 lists (both "
                 "sides pay it) near a quarter; the walk appends each element and its group's "
                 "number to two sequential arrays and fills the lists, made at their final "
                 "sizes, in one pass at the end; records and key fields are asked for ahead"),
        Row("groupby(len, 1e6 short strs)", "defaultdict(list) loop", grp_len, 1.5),
        Row("countby(0, 1e6 records)", "Counter(map(itemgetter(0), records))", cnt_index, 1.5),
        Row("reduceby(0, f, 1e6 records, 0)", "Python loop calling f", red_call, 1.5),
        Row("reduceby(0, f, 1e6 records, 0) [inlined]", "defaultdict(int) loop, f inlined",
            red_inline, None,
            note="measures the price of taking a function: the baseline calls no function"),
        Row("topk(10, list 1e6 int)", "heapq.nlargest(10, list)", topk_ints, 2.0),
        Row("topk(10, list 1e6 float)", "heapq.nlargest(10, list)", topk_floats, 2.0),
        Row("topk(10, int64 ndarray 1e7)", "numpy.partition + sort of the top 10", topk_np, 3.0),
        Row("list(join(0, l, 0, r)), 1e5 records each", "dict-of-lists index + generator",
            join_lists, 1.5),
        Row("list(diff(a, b)), 1e6, 1% differ", "generator over zip", diff_lists, 1.5),
        Row("isdistinct(list 1e5 distinct ints)", "len(set(d)) == len(d)", distinct_list, 1.0),
        Row("isdistinct(int64 ndarray 1e5)", "numpy.unique(a).size == a.size", distinct_np, 5.0,
            extra=distinct_early),
        Row("isdistinct(array('q') 1e5)", "numpy.unique(a).size == len(a)", distinct_q, 5.0),
        Row("list(merge_sorted(4 lists of 25k))", "list(heapq.merge(...))", merge4, 4.0),
        Row("list(merge_sorted(4 lists of 25k)) [vs sorted]", "sorted(chain(*lists))",
            merge4_sorted, 1.0,
            note="the merge keeps heapq.merge's steps (its comparisons are observable); over "
                 "plain one-digit ints the heap holds (value, input) packed in one word, so "
                 "each of its comparisons is one native compare"),
        Row("frequencies(list 1e6 int, ~1e6 distinct)", "collections.Counter(list)",
            freq_distinct, 1.0,
            note="both sides are bound by the result dict's lookups (cache misses); counts move "
                 "into the presized result dict after 16k mostly distinct keys, one insertion "
                 "per new key against Counter's lookup + insertion"),
    ]

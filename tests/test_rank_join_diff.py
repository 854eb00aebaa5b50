"""topk, join, diff, isdistinct, merge_sorted: differential tests against short Python
models (hypothesis over lists, tuples, generators and integer buffers, with equal-but-
distinct values and NaN), hostile keys and inputs, reentrancy and the leak check."""

import array
import heapq
import operator

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks
from test_grouping import model_key

try:
    import numpy as np
except ImportError:  # debug interpreters have no NumPy build
    np = None
needs_numpy = pytest.mark.skipif(np is None, reason="NumPy is not installed")

nan = float("nan")


# ---- models

def model_topk(k, seq, key=None):
    if key is None:
        return tuple(sorted(seq, reverse=True)[:k])
    ranked = sorted(((model_key(key, x), -i, x) for i, x in enumerate(seq)), reverse=True)
    return tuple(t[2] for t in ranked[:k])


def model_join(lk, left, rk, right, ld=None, rd=None):
    index = {}
    for l in left:
        index.setdefault(model_key(lk, l), []).append(l)
    matched = set()
    for r in right:
        k = model_key(rk, r)
        if k in index:
            matched.add(k)
            for l in index[k]:
                yield l, r
        elif ld is not None:
            yield ld, r
    if rd is not None:
        for k, ls in index.items():
            if k not in matched:
                for l in ls:
                    yield l, rd


def model_diff(*seqs, **kw):
    its = [iter(s) for s in seqs]
    fill = "default" in kw
    key = kw.get("key")
    done = object()
    while True:
        row = [next(it, done) for it in its]
        if all(v is done for v in row) or (not fill and done in row):
            return
        row = [kw["default"] if v is done else v for v in row]
        vals = [key(v) for v in row] if key else row
        if not all(vals[0] == v for v in vals[1:]):  # no identity shortcut
            yield tuple(row)


def same_objects(got, want):
    assert len(got) == len(want)
    assert all(a is b for a, b in zip(got, want)), (got, want)


kinds = st.sampled_from([list, tuple, iter])
# Rank values: homogeneous lists take the native selection, mixed numeric ones the sort.
rank_lists = st.one_of(
    st.lists(st.integers(-5, 5) | st.integers(), max_size=30),
    st.lists(st.floats(allow_nan=False), max_size=30),
    st.lists(st.text(max_size=2), max_size=30),
    st.lists(st.sampled_from([1, 1.0, True, 0, -0.0, 2**64, 0.5]), max_size=30),
    st.lists(st.floats(), max_size=30),  # NaN among them: the sort's own answer
)


@given(st.integers(0, 12), rank_lists, kinds)
def test_topk_plain_matches_sort(tv, k, xs, kind):
    # Boxed copies: ties between distinct-but-equal objects must keep input order.
    xs = [x if not isinstance(x, int) or isinstance(x, bool) else int(str(x)) for x in xs]
    same_objects(tv.topk(k, kind(xs)), model_topk(k, xs))


@given(st.integers(0, 12), rank_lists, kinds,
       st.sampled_from(["call", "idx", "list"]))
def test_topk_keyed_matches_sort(tv, k, xs, kind, keyform):
    recs = [(x, i) for i, x in enumerate(xs)]
    key = {"call": lambda r: r[0], "idx": 0, "list": [0]}[keyform]
    same_objects(tv.topk(k, kind(recs), key=key), model_topk(k, recs, key))


@pytest.mark.parametrize("typecode", list("bBhHiIlLqQ"))
@given(data=st.data())
def test_topk_int_buffers(tv, typecode, data):
    bits = 8 * array.array(typecode).itemsize
    lo, hi = (-(2 ** (bits - 1)), 2 ** (bits - 1) - 1) if typecode.islower() else (0, 2**bits - 1)
    xs = data.draw(st.lists(st.integers(lo, hi), max_size=40))
    k = data.draw(st.integers(0, 45))
    got = tv.topk(k, array.array(typecode, xs))
    assert got == tuple(sorted(xs, reverse=True)[:k])
    assert all(type(v) is int for v in got)


def test_topk_examples_and_errors(tv):
    assert tv.topk(2, ["a", "bbb", "cc", "ddd"], key=len) == ("bbb", "ddd")
    assert tv.topk(1, [{"x": 1}, {"x": 3}], key="x") == ({"x": 3},)
    assert tv.topk(2, [{}, {}], key=lambda d: 1) == ({}, {})
    assert tv.topk(2, bytes([97, 122, 98])) == (122, 98)
    if np is not None:
        assert tv.topk(2, np.arange(10)[::2]) == (8, 6)  # strided view: the generic path
    with pytest.raises(OverflowError) as e:
        tv.topk(-1, [1])
    assert e.value.__notes__ == ["while processing 'k'"]
    # k = 0 still reads the whole input and sorts it: a mixed list raises.
    for k in (0, 2):
        with pytest.raises(TypeError, match="'<' not supported"):
            tv.topk(k, [1, "a"])
        with pytest.raises(TypeError, match="'<' not supported"):
            tv.topk(k, [(1, "a"), ("b", 2)], key=0)
    consumed = iter([3, 1, 2])
    assert tv.topk(0, consumed) == () and list(consumed) == []


def test_topk_mutating_key_and_comparison(tv):
    data = [3, 1, 2, 5]

    def key(x):
        data.clear()
        return x

    # The keyed path reads through an iterator: a key that empties the list ends it early.
    assert tv.topk(3, data, key=key) == (3,)

    class Rude:
        def __init__(self, v):
            self.v = v

        def __lt__(self, other):
            items.append(Rude(0))
            return self.v < other.v

    items = [Rude(i) for i in range(5)]
    got = tv.topk(2, items)
    assert [r.v for r in got] == [4, 3]


# ---- join

recs = st.lists(st.tuples(st.sampled_from([1, 1.0, True, 2, 3, "a"]), st.integers()), max_size=12)
defaults = st.sampled_from([None, "D"])


@given(recs, recs, defaults, defaults, kinds, kinds,
       st.sampled_from([(0, 0), (lambda r: r[0], 0), ([0], [0])]))
def test_join_matches_model(tv, left, right, ld, rd, lkind, rkind, keys):
    lk, rk = keys
    got = list(tv.join(lk, lkind(left), rk, rkind(right), ld, rd))
    want = list(model_join(lk, left, rk, right, ld, rd))
    assert len(got) == len(want)
    for (ga, gb), (wa, wb) in zip(got, want):
        assert ga is wa and gb is wb


def test_join_errors_keep_the_iterator_usable(tv):
    left = [(1, "a"), (2, "b")]

    def right():
        yield (1, "x")
        raise KeyError("right side")

    it = tv.join(0, left, 0, right(), right_default="R")
    assert next(it) == ((1, "a"), (1, "x"))
    with pytest.raises(KeyError, match="right side"):
        next(it)
    # The right generator is finished now: the tail of unmatched left elements follows.
    assert list(it) == [((2, "b"), "R")]

    # A right element whose key is unhashable fails its own step; the next one goes on.
    it = tv.join(0, left, 0, iter([([1], 0), (2, "y")]))
    with pytest.raises(TypeError, match="unhashable"):
        next(it)
    assert list(it) == [((2, "b"), (2, "y"))]

    # A left side that fails is indexed again, from a fresh iterator, at the next step.
    attempts = []

    class Left:
        def __iter__(self):
            attempts.append(1)
            if len(attempts) == 1:
                raise OSError("first build")
            return iter(left)

    it = tv.join(0, Left(), 0, [(2, "z")])
    with pytest.raises(OSError):
        next(it)
    assert list(it) == [((2, "b"), (2, "z"))] and len(attempts) == 2

    with pytest.raises(TypeError, match="not iterable"):
        tv.join(0, [], 0, 5)
    it = tv.join(0, 5, 0, [])
    with pytest.raises(TypeError, match="not iterable"):
        next(it)


# ---- diff

cells = st.sampled_from([0, 1, 1.0, True, "a", "A", nan, None])


@given(st.lists(st.lists(cells, max_size=8), min_size=2, max_size=4),
       st.sampled_from([{}, {"default": None}, {"default": 0, "key": str},
                        {"key": None, "other": 1}]), kinds)
def test_diff_matches_model(tv, seqs, kw, kind):
    got = list(tv.diff(*[kind(s) for s in seqs], **kw))
    want = list(model_diff(*seqs, **{k: v for k, v in kw.items() if k in ("default", "key")}))
    assert len(got) == len(want)
    for g, w in zip(got, want):
        same_objects(g, w)
    assert list(tv.diff(seqs, **kw)) == got  # one list of sequences: the same rows


def test_diff_examples_and_errors(tv):
    assert list(tv.diff([1, 2, 3], [1, 2, 10])) == [(3, 10)]
    assert list(tv.diff(["a", "B"], ["A", "b"], key=str.lower)) == []
    with pytest.raises(TypeError, match=r"Too few sequences given \(min 2 required\)"):
        tv.diff(([1], [2]))
    with pytest.raises(TypeError, match="not iterable"):
        tv.diff([1, 2])
    it = tv.diff([1], [2], key=5)
    with pytest.raises(TypeError, match="not callable"):
        next(it)

    class NoTruth:
        def __eq__(self, other):
            return self

        def __bool__(self):
            raise ValueError("no truth")

    it = tv.diff([NoTruth(), 1], [NoTruth(), 2])
    with pytest.raises(ValueError, match="no truth"):
        next(it)
    assert list(it) == [(1, 2)]  # the failed row was dropped, the next row is read


# ---- isdistinct

@given(st.lists(st.integers(-3, 3) | st.sampled_from([1.0, True, nan, "a", (1, 2)]),
                max_size=20), kinds)
def test_isdistinct_matches_set(tv, xs, kind):
    seen, want = set(), True
    for x in xs:
        if x in seen:
            want = False
            break
        seen.add(x)
    assert tv.isdistinct(kind(xs)) is want


@pytest.mark.parametrize("make", [
    lambda xs: array.array("q", xs), lambda xs: array.array("b", xs),
    lambda xs: array.array("Q", [x % 256 for x in xs]), lambda xs: bytes(x % 256 for x in xs),
    pytest.param(lambda xs: np.array(xs, dtype=np.int16), marks=needs_numpy),
    pytest.param(lambda xs: np.array(xs * 2, dtype=np.int64)[::2], marks=needs_numpy),
])
@given(xs=st.lists(st.integers(-100, 100), max_size=3000))
def test_isdistinct_buffers(tv, make, xs):
    buf = make(xs)
    assert tv.isdistinct(buf) is (len(set(buf)) == len(buf))


def test_isdistinct_unhashable(tv):
    assert tv.isdistinct(b"abc") and not tv.isdistinct([1, 1.0])
    with pytest.raises(TypeError, match="unhashable"):
        tv.isdistinct([[1]])


# ---- merge_sorted

@given(st.lists(st.lists(st.integers(-5, 5)), max_size=4), st.booleans())
def test_merge_sorted_matches_heapq(tv, seqs, keyed):
    seqs = [sorted(s, reverse=keyed) for s in seqs]
    kw = {"key": operator.neg} if keyed else {}
    assert list(tv.merge_sorted(*seqs, **kw)) == list(heapq.merge(*seqs, **kw))
    assert list(tv.merge_sorted(*seqs, key=None)) == list(heapq.merge(*seqs)) or keyed


# ---- shared: reentrancy and leaks

@pytest.mark.parametrize("make", [
    lambda tv, key: tv.join(key, [1, 2], 0, [(1,), (2,)]),
    lambda tv, key: tv.diff([1, 2], [3, 4], key=key),
    lambda tv, key: tv.merge_sorted([1, 3], [2], key=key),
])
def test_reentrant_next(tv, make):
    box = []

    def key(x):
        with pytest.raises(ValueError, match="iterator already executing"):
            next(box[0])
        return x

    it = make(tv, key)
    box.append(it)
    assert len(list(it)) >= 1


def test_no_leaks(tv):
    left = [(i % 7, str(i)) for i in range(60)]
    right = [(i % 9, str(i)) for i in range(60)]
    ints = list(range(500))
    mixed = [1, "a"]

    def bad_right():
        yield (1, "x")
        raise KeyError("r")

    def drain_join_error():
        it = tv.join(0, left, 0, bad_right(), "L", "R")
        try:
            for _ in it:
                pass
        except KeyError:
            pass
        return list(it)

    check_leaks(lambda: list(tv.join(0, left, 0, right, "L", "R")), watch=left[:2], repeat=400)
    check_leaks(drain_join_error, repeat=400)
    check_leaks(lambda: tv.topk(5, ints), watch=ints[:3], repeat=400)
    check_leaks(lambda: tv.topk(5, iter(left), key=1), watch=left[:3], repeat=400)
    check_leaks(lambda: tv.topk(5, mixed), raises=TypeError, repeat=400)
    check_leaks(lambda: tv.topk(5, array.array("q", ints)), repeat=400)
    check_leaks(lambda: list(tv.diff(ints, ints[::-1], ints, default=0)), repeat=400)
    check_leaks(lambda: list(tv.diff([1], [2], key=5)), raises=TypeError, repeat=400)
    check_leaks(lambda: tv.isdistinct(array.array("q", ints)), repeat=400)
    check_leaks(lambda: tv.isdistinct([[1]]), raises=TypeError, repeat=400)
    # On 3.11 the generator machinery behind heapq.merge settles over a few thousand calls
    # (a few KiB, whatever the number of calls): rounds large enough to see past that.
    short = ints[:50]
    check_leaks(lambda: list(tv.merge_sorted(short, short, key=operator.neg)), watch=short[:2])

import collections
import gc
import itertools
import operator
import weakref

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks
from sources import Boom, Counting, Flaky, Reentrant, raising_gen


def ref_sliding_window(n, seq):
    it = iter(seq)
    win = collections.deque(itertools.islice(it, n - 1), maxlen=n)
    for x in it:
        win.append(x)
        if len(win) == n:
            yield tuple(win)


def ref_partition(n, seq, *pad):
    it = iter(seq)
    while True:
        chunk = tuple(itertools.islice(it, n))
        if len(chunk) == n:
            yield chunk
        else:
            if chunk and pad:
                yield chunk + pad * (n - len(chunk))
            return


def ref_partition_all(n, seq):
    it = iter(seq)
    while chunk := tuple(itertools.islice(it, n)):
        yield chunk


class Tracked:
    """A weak-referenceable element, to see what an iterator still holds."""

    def __init__(self, v):
        self.v = v

    def __eq__(self, other):
        return isinstance(other, Tracked) and other.v == self.v

    def __repr__(self):
        return f"T{self.v}"


# ---------------------------------------------------------------- sliding_window


@pytest.mark.parametrize(
    "n, seq, expected",
    [
        (2, [1, 2, 3, 4], [(1, 2), (2, 3), (3, 4)]),
        (1, [1, 2], [(1,), (2,)]),
        (3, [1, 2], []),
        (3, [1, 2, 3], [(1, 2, 3)]),
        (2, iter([1, 2, 3]), [(1, 2), (2, 3)]),
        (2, "abc", [("a", "b"), ("b", "c")]),
        (10**12, [1, 2, 3], []),
    ],
)
def test_sliding_window_examples(tv, n, seq, expected):
    assert list(tv.sliding_window(n, seq)) == expected


def test_sliding_window_arguments(tv):
    assert list(tv.sliding_window(0, 5)) == []  # seq is not touched
    assert type(tv.sliding_window(0, [])).__name__ == "NativeIter"
    with pytest.raises(ValueError, match="^n must be >= 0$"):
        tv.sliding_window(-1, [])
    with pytest.raises(TypeError, match="not iterable"):
        tv.sliding_window(2, 5)
    with pytest.raises(TypeError) as info:
        tv.sliding_window("2", [])
    assert any("'n'" in note for note in getattr(info.value, "__notes__", []))
    with pytest.raises(OverflowError):
        tv.sliding_window(2**64, [])
    assert tv.sliding_window.__text_signature__ == "(n, seq)"


def test_sliding_window_type_and_docs(tv):
    w = tv.sliding_window(2, [1])
    cls = type(w)
    assert cls.__name__ == "SlidingWindowIter" and not hasattr(tv, "SlidingWindowIter")
    assert "sliding_window" in cls.__doc__
    assert cls.__length_hint__.__doc__ == (
        "Exact for list sources (one window per remaining element once\n"
        "primed), the source's own hint otherwise.")
    assert cls.__length_hint__.__text_signature__ == "($self)"
    assert iter(w) is w


def test_priming_happens_at_call(tv):
    src = Counting(range(10))
    w = tv.sliding_window(3, src)
    assert src.taken == 2
    assert next(w) == (0, 1, 2) and src.taken == 3


def test_priming_error_propagates_from_call(tv):
    with pytest.raises(Boom):
        tv.sliding_window(4, raising_gen([1, 2]))


@pytest.mark.parametrize("make", [list, iter], ids=["list", "list-iter"])
@pytest.mark.parametrize("n, size", [(1, 3), (2, 3), (3, 6), (4, 3), (3, 0)])
def test_sliding_window_hint_exact_throughout(tv, make, n, size):
    w = tv.sliding_window(n, make(range(size)))
    remaining = max(size - n + 1, 0)
    while True:
        assert w.__length_hint__() == remaining == operator.length_hint(w)
        try:
            next(w)
        except StopIteration:
            break
        remaining -= 1
    assert remaining == 0


def test_sliding_window_live_list(tv):
    data = [1, 2, 3]
    w = tv.sliding_window(2, data)
    assert next(w) == (1, 2)
    data.append(4)
    assert w.__length_hint__() == 2
    assert list(w) == [(2, 3), (3, 4)]
    data.append(5)
    assert list(w) == [] and w.__length_hint__() == 0


@pytest.mark.parametrize("hint", [False, True])
def test_sliding_window_reentrant(tv, hint):
    src = Reentrant(range(5), hint=hint)
    w = tv.sliding_window(2, src)
    src.target = w
    assert list(w) == [(0, 1), (1, 2), (2, 3), (3, 4)]
    assert set(src.errors) == {"iterator already executing"}


def test_sliding_window_error_mid_window_keeps_state(tv):
    src = Flaky(range(6), fail_at={4})  # calls 0, 1 prime; 2, 3 give windows; 4 fails
    w = tv.sliding_window(3, src)
    assert [next(w), next(w)] == [(0, 1, 2), (1, 2, 3)]
    with pytest.raises(Boom):
        next(w)
    assert w.__length_hint__() == 0  # no hint from the source: not done, just unknown
    assert list(w) == [(2, 3, 4), (3, 4, 5)]


def test_sliding_window_hostile_generator(tv):
    w = tv.sliding_window(2, raising_gen([1, 2, 3]))
    assert list(itertools.islice(w, 2)) == [(1, 2), (2, 3)]
    with pytest.raises(Boom):
        next(w)
    assert list(w) == []


def test_sliding_window_done_is_final(tv):
    src = Flaky([1, 2], resume=[3, 4])
    w = tv.sliding_window(2, src)
    assert list(w) == [(1, 2)]
    assert list(w) == []  # done: the revived source is not asked again
    assert next(src) == 3
    short = Flaky([1], resume=[2, 3])  # priming came up short: nothing, ever
    w = tv.sliding_window(3, short)
    assert w.__length_hint__() == 0 and list(w) == [] and list(w) == []


def test_windows_dropped_at_once_stay_correct(tv):
    # Consumers that drop every window before asking for the next one.
    data = list(range(50))
    expected = [list(t) for t in ref_sliding_window(4, data)]
    assert list(map(list, tv.sliding_window(4, data))) == expected
    kept = []
    for i, t in enumerate(tv.sliding_window(3, data)):
        if i % 3 == 0:
            kept.append(t)
    assert kept == [tuple(data[i:i + 3]) for i in range(0, 48, 3)]


def test_window_with_container_is_tracked(tv):
    data = [1, 2, 3, [], {}]
    w = tv.sliding_window(2, data)
    t = next(w)
    gc.collect()
    if gc.is_tracked(t):
        pytest.skip("the collector keeps atomic tuples tracked here")
    del t
    assert next(w) == (2, 3)
    t = next(w)
    assert t == (3, []) and gc.is_tracked(t)
    del t
    t = next(w)
    assert gc.is_tracked(t)


def drain(items):
    while items:
        yield items.pop(0)


def test_sliding_window_releases_elements(tv):
    items = [Tracked(i) for i in range(4)]
    refs = [weakref.ref(x) for x in items]
    w = tv.sliding_window(3, drain(items))
    assert next(w) == (Tracked(0), Tracked(1), Tracked(2))
    gc.collect()
    assert refs[0]() is not None  # the last window is kept
    next(w)
    assert refs[0]() is None and refs[1]() is not None
    del w
    assert all(r() is None for r in refs)


@given(st.integers(0, 6), st.lists(st.integers(), max_size=20), st.booleans())
def test_sliding_window_matches_reference(tv, n, data, as_iter):
    src = iter(data) if as_iter else data
    expected = list(ref_sliding_window(n, data)) if n else []
    assert list(tv.sliding_window(n, src)) == expected


# ---------------------------------------------------------------- partition(_all)


@pytest.mark.parametrize(
    "args, expected",
    [
        ((2, [1, 2, 3]), [(1, 2)]),
        ((2, [1, 2, 3], None), [(1, 2), (3, None)]),
        ((2, [], 0), []),
        ((0, 5), []),
        ((-1, 5, 0), []),
        ((3, iter(range(7)), "x"), [(0, 1, 2), (3, 4, 5), (6, "x", "x")]),
        ((10**12, [1, 2, 3]), []),
        ((5000, range(10001)), [tuple(range(5000)), tuple(range(5000, 10000))]),
        ((5000, range(5002), 0), [tuple(range(5000)), (5000, 5001) + (0,) * 4998]),
    ],
)
def test_partition_examples(tv, args, expected):
    assert list(tv.partition(*args)) == expected


@pytest.mark.parametrize(
    "args, expected",
    [
        ((2, [1, 2, 3]), [(1, 2), (3,)]),
        ((-3, [1]), []),
        ((0, 5), []),
        ((3, []), []),
        ((3, (1, 2, 3)), [(1, 2, 3)]),
        ((10**12, [1, 2, 3]), [(1, 2, 3)]),
        ((5000, range(10001)), [tuple(range(5000)), tuple(range(5000, 10000)), (10000,)]),
    ],
)
def test_partition_all_examples(tv, args, expected):
    assert list(tv.partition_all(*args)) == expected


def test_partition_arguments(tv):
    with pytest.raises(TypeError, match="^partition takes at most 3 arguments$"):
        tv.partition(2, [], 1, 2)
    with pytest.raises(TypeError, match="not iterable"):
        tv.partition(2, 5)
    with pytest.raises(TypeError, match="not iterable"):
        tv.partition_all(2, 5)
    with pytest.raises(TypeError):
        tv.partition_all(2.5, [])
    assert tv.partition.__text_signature__ == "(n, seq, *rest)"
    assert tv.partition_all.__text_signature__ == "(n, seq)"
    for r in (tv.partition(2, []), tv.partition_all(2, [])):
        assert type(r).__name__ == "NativeIter"


def test_huge_n_allocates_nothing_up_front(tv):
    src = Counting(range(3))
    p = tv.partition(10**12, src, None)  # would need terabytes if reserved at the call
    assert src.taken == 0
    assert list(tv.partition(2**62, iter(range(100)))) == []
    assert list(tv.partition_all(2**62, iter(range(100)))) == [tuple(range(100))]
    assert list(tv.sliding_window(2**62, iter(range(100)))) == []
    del p


@pytest.mark.parametrize("fn", ["partition", "partition_all"])
@pytest.mark.parametrize("n", [3, 5000])
def test_error_mid_chunk_releases_partial(tv, fn, n):
    items = [Tracked(i) for i in range(2 * n + 2)]
    refs = [weakref.ref(x) for x in items]
    src = Flaky(items, fail_at={n + 1})  # one full chunk, then one element, then failure
    del items
    p = getattr(tv, fn)(n, src)
    assert len(next(p)) == n
    with pytest.raises(Boom):
        next(p)
    src.items[n] = None  # the source itself lets go of the element it handed out
    gc.collect()
    assert refs[n]() is None  # the partial chunk was released
    rest = next(p)  # the next chunk starts after the lost element
    assert rest[0].v == n + 1


@pytest.mark.parametrize("n", [2, 3, 5000])
def test_chunks_live_list(tv, n):
    data = list(range(n))
    p = tv.partition_all(n, data)
    assert next(p) == tuple(range(n))
    data.append(n)
    assert next(p) == (n,)  # a short chunk: the list is exhausted
    data.append(-1)
    assert list(p) == []


@pytest.mark.parametrize("fn", ["partition", "partition_all"])
def test_chunks_ask_the_source_again_after_the_end(tv, fn):
    src = Flaky([1, 2], resume=[3, 4])
    p = getattr(tv, fn)(2, src)
    assert list(p) == [(1, 2)]
    assert list(p) == [(3, 4)]  # no end flag: the source answered again


def test_hostile_generator_chunks(tv):
    p = tv.partition_all(2, raising_gen([1, 2, 3]))
    assert next(p) == (1, 2)
    with pytest.raises(Boom):
        next(p)
    assert list(p) == []


@pytest.mark.parametrize("fn", ["partition", "partition_all"])
def test_chunks_reentrant(tv, fn):
    src = Reentrant(range(4))
    p = getattr(tv, fn)(2, src)
    src.target = p
    assert list(p) == [(0, 1), (2, 3)]
    assert set(src.errors) == {"iterator already executing"}


@given(st.integers(-2, 6), st.lists(st.integers(), max_size=20), st.booleans(),
       st.sampled_from([(), (None,), (0,)]))
def test_partition_matches_reference(tv, n, data, as_iter, pad):
    src = iter(data) if as_iter else data
    expected = list(ref_partition(n, data, *pad)) if n > 0 else []
    assert list(tv.partition(n, src, *pad)) == expected


@given(st.integers(-2, 6), st.lists(st.integers(), max_size=20), st.booleans())
def test_partition_all_matches_reference(tv, n, data, as_iter):
    src = iter(data) if as_iter else data
    expected = list(ref_partition_all(n, data)) if n > 0 else []
    assert list(tv.partition_all(n, src)) == expected


# ---------------------------------------------------------------- leaks


def test_leaks(tv):
    data = [object() for _ in range(7)]
    pad = object()
    w = [data[0], pad]
    check_leaks(lambda: list(map(list, tv.sliding_window(3, iter(data)))), watch=w)
    check_leaks(lambda: next(tv.sliding_window(3, data)), watch=w)  # abandoned
    check_leaks(lambda: tv.sliding_window(30, data), watch=w)  # abandoned while priming
    check_leaks(lambda: tv.sliding_window(3, raising_gen(data[:1])), watch=w, raises=Boom)
    check_leaks(lambda: list(tv.sliding_window(3, raising_gen(data))), watch=w, raises=Boom)
    check_leaks(lambda: tv.sliding_window(-1, data), watch=w, raises=ValueError)
    for n in (3, 5000):
        check_leaks(lambda: list(tv.partition(n, data, pad)), watch=w, repeat=500)
        check_leaks(lambda: list(tv.partition_all(n, iter(data))), watch=w, repeat=500)
        check_leaks(lambda: list(tv.partition(n, raising_gen(data), pad)), watch=w,
                    raises=Boom, repeat=500)
        check_leaks(lambda: list(tv.partition_all(n, raising_gen(data))), watch=w,
                    raises=Boom, repeat=500)
    check_leaks(lambda: next(tv.partition(2, data)), watch=w)  # abandoned
    check_leaks(lambda: tv.partition(2, data, pad, pad), watch=w, raises=TypeError)


@pytest.mark.parametrize(
    "make",
    [
        lambda tv, data: tv.interpose(data, data),
        lambda tv, data: tv.sliding_window(2, data),
        lambda tv, data: tv.partition(2, data, data),
        lambda tv, data: tv.partition_all(2, iter(data)),
        lambda tv, data: tv.pluck(0, data),
        lambda tv, data: tv.pluck([0], iter(data), data),
    ],
    ids=["interpose", "sliding_window", "partition", "partition_all", "pluck", "pluck-many"],
)
def test_cycles_through_the_iterator_are_collected(tv, make):
    marker = Tracked(0)
    data = [[marker], [marker], [marker]]
    it = make(tv, data)
    next(it)
    data.append(it)  # the iterator holds data, data holds the iterator
    ref = weakref.ref(marker)
    del marker, data, it
    gc.collect()
    assert ref() is None

"""frequencies(seq): differential tests against collections.Counter (insertion order and
first-occurrence keys included), over lists, tuples and generators."""

from collections import Counter

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks
from sources import as_kind

values = st.one_of(
    st.integers(), st.integers(-300, 300), st.floats(), st.text(max_size=2), st.booleans(),
    st.sampled_from([-1, -2, 2**61 - 1, 2**61, -(2**61), 2**64 - 1, 1.0, 0.0, -0.0]),
    st.tuples(st.integers(-3, 3), st.text(max_size=1)),
)


@given(st.lists(values, max_size=80), st.sampled_from(["list", "tuple", "generator"]))
def test_matches_counter(tv, xs, kind):
    got = tv.frequencies(as_kind(kind, xs))
    want = Counter(xs)
    assert type(got) is dict
    assert list(got.values()) == list(want.values())
    assert len(got) == len(want) and all(a is b for a, b in zip(got, want))


# Ints of one digit or less (|v| < 2**30) are counted by value; the bounds, and kinds that
# must leave that path at whatever position they first appear.
small = st.one_of(st.integers(-(2**30) + 1, 2**30 - 1), st.integers(-40, 40),
                  st.sampled_from([2**30 - 1, -(2**30) + 1, 0, -1, -2]))
intruders = st.sampled_from([2**30, -(2**30), 2**64, True, 1.0, "1", None, (1,)])


class Int(int):
    pass


@given(st.lists(small, max_size=120), st.lists(st.tuples(st.integers(0, 120), intruders),
                                                 max_size=2),
       st.sampled_from(["list", "tuple"]))
def test_small_int_sequences_match_counter(tv, xs, inserts, kind):
    # Copies made at run time are distinct objects: the key kept is the first occurrence.
    xs = [int(str(x)) for x in xs]
    for at, x in inserts:
        xs.insert(at, x)
    got = tv.frequencies(as_kind(kind, xs))
    want = Counter(xs)
    assert list(got.values()) == list(want.values())
    assert len(got) == len(want) and all(a is b for a, b in zip(got, want))


@pytest.mark.parametrize("distinct", [100, 12_000, 12_289, 20_000])
@pytest.mark.parametrize("tail", [[], ["x"], [Int(3)], [2**40]])
def test_long_small_int_lists(tv, distinct, tail):
    # Around the share of distinct values past which counting moves to the result dict,
    # and with an element of another kind after every run has been counted.
    xs = [int(str(i % distinct)) for i in range(40_000)] + tail
    got = tv.frequencies(xs)
    assert got == Counter(xs) and list(got) == list(Counter(xs))
    assert all(a is b for a, b in zip(got, Counter(xs)))


@pytest.mark.parametrize("typecode", ["b", "H", "i", "q", "Q"])
@pytest.mark.parametrize("n, distinct", [(16_384, 16_384), (16_385, 16_385), (40_000, 40_000),
                                         (40_000, 12_000), (40_000, 13_000), (70_000, 60_000)])
def test_long_int_buffers_match_counter(tv, typecode, n, distinct):
    # Around the share of distinct values past which the counts are kept in the result dict
    # itself; narrow types hold fewer values than the pool asks for, so theirs repeat.
    import array

    rng = __import__("random").Random(n + distinct)
    width = array.array(typecode).itemsize * 8
    lo = 0 if typecode.isupper() else -(2 ** (width - 1))
    pool = [rng.randrange(lo, lo + 2**width) for _ in range(distinct)]
    xs = pool + [rng.choice(pool) for _ in range(n - distinct)]
    rng.shuffle(xs)
    got = tv.frequencies(array.array(typecode, xs))
    want = Counter(xs)
    assert list(got.items()) == list(want.items())


def test_edge_cases(tv):
    assert tv.frequencies([]) == {} and tv.frequencies(iter([])) == {}
    assert tv.frequencies(()) == {}
    got = tv.frequencies([1, 1.0, True, 2])
    assert list(got.items()) == [(1, 3), (2, 1)] and type(next(iter(got))) is int
    assert tv.frequencies([-1, -2, -1]) == {-1: 2, -2: 1}
    assert tv.frequencies(b"abca") == {97: 2, 98: 1, 99: 1}
    assert tv.frequencies("abca") == {"a": 2, "b": 1, "c": 1}
    assert tv.frequencies(seq=[1]) == {1: 1}
    assert tv.frequencies.__text_signature__ == "(seq)"
    nan, other = float("nan"), float("nan")
    assert list(tv.frequencies([nan, nan]).values()) == [2]
    assert list(tv.frequencies([nan, other]).values()) == [1, 1]


def test_errors(tv):
    with pytest.raises(TypeError, match="not iterable"):
        tv.frequencies(5)
    with pytest.raises(TypeError):
        tv.frequencies()
    with pytest.raises(TypeError):
        tv.frequencies([], [])

    def gen():
        yield 1
        raise KeyError("gen")

    with pytest.raises(KeyError):
        tv.frequencies(gen())


def test_result_store_failure(tv):
    # The dict hashes each key again when the result is built; a hash that fails the
    # second time ends the call with that error.
    class Flaky:
        calls = 0

        def __hash__(self):
            Flaky.calls += 1
            if Flaky.calls > 1:
                raise OSError("second hash")
            return 5

    with pytest.raises(OSError, match="second hash"):
        tv.frequencies([Flaky()])


def test_counts_are_exact_for_long_inputs(tv):
    xs = [i % 7 for i in range(100_000)] + ["x"] * 3
    assert tv.frequencies(xs) == Counter(xs)
    assert tv.frequencies(tuple(xs)) == Counter(xs)


def test_no_leaks(tv):
    ints = [10**7 + i % 30 for i in range(300)]
    objs = [(i % 10, "a") for i in range(100)]

    def gen():
        yield "a"
        raise KeyError("x")

    check_leaks(lambda: tv.frequencies(ints), watch=ints[:3])
    late = ints + ["a"]  # counted by value up to the str, then again by the generic path
    check_leaks(lambda: tv.frequencies(late), watch=late[:3])
    check_leaks(lambda: tv.frequencies(tuple(objs)), watch=objs[:3])
    check_leaks(lambda: tv.frequencies(iter(objs)), watch=objs[:3])
    check_leaks(lambda: tv.frequencies(gen()), raises=KeyError)
    check_leaks(lambda: tv.frequencies(5), raises=TypeError)
    check_leaks(lambda: tv.frequencies(b"hello"))
    import array

    distinct = array.array("q", range(20_000))  # counted in the result dict
    check_leaks(lambda: tv.frequencies(distinct), repeat=200)

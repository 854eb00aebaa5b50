"""Element access and slicing: take, drop, take_nth, nth, first, second, last, tail, get,
peek, cons, count."""

import collections
import itertools
import os
import subprocess
import sys
import textwrap
import weakref
from collections.abc import Sequence

import pytest
from hypothesis import given, strategies as st

import tarvel._tarvel as m
from leakcheck import check_leaks
from sources import Boom, Flaky

small_lists = st.lists(st.integers(-5, 5), max_size=12)
shapes = st.sampled_from(["list", "tuple", "iter", "gen", "str"])


def shaped(xs, shape):
    if shape == "list":
        return list(xs)
    if shape == "tuple":
        return tuple(xs)
    if shape == "iter":
        return iter(list(xs))
    if shape == "str":
        return "".join(chr(97 + (x % 26)) for x in xs)
    return (x for x in list(xs))


def plain(xs, shape):
    return list(shaped(xs, shape))


# ---------------------------------------------------------------- lazy slicing (islice)

@given(small_lists, shapes, st.one_of(st.none(), st.integers(0, 15)))
def test_take_and_drop_match_islice(xs, shape, n):
    ref = plain(xs, shape)
    assert list(m.take(n, shaped(xs, shape))) == list(itertools.islice(ref, n))
    assert list(m.drop(n, shaped(xs, shape))) == list(itertools.islice(ref, n, None))


@given(small_lists, shapes, st.integers(1, 5))
def test_take_nth_matches_slicing(xs, shape, n):
    assert list(m.take_nth(n, shaped(xs, shape))) == plain(xs, shape)[::n]


@pytest.mark.parametrize("call", [
    lambda: m.take(-1, []), lambda: m.drop(-1, []), lambda: m.take_nth(0, []),
    lambda: m.take("x", []), lambda: m.take_nth(-2, []),
])
def test_islice_errors_surface(call):
    with pytest.raises(ValueError):
        call()


def test_lazy_results_are_islice_and_chain():
    assert type(m.take(2, [1, 2, 3])) is itertools.islice
    assert type(m.drop(1, iter([1, 2, 3]))) is itertools.islice
    assert type(m.cons(0, [1])) is itertools.chain


def test_take_is_lazy_beyond_iter():
    pulled = []

    def gen():
        for i in range(10):
            pulled.append(i)
            yield i

    t = m.take(3, gen())
    assert pulled == []
    assert list(t) == [0, 1, 2]
    assert pulled == [0, 1, 2]


# ---------------------------------------------------------------- nth / first / second

@given(small_lists, shapes, st.integers(0, 14))
def test_nth_matches_indexing(xs, shape, n):
    ref = plain(xs, shape)
    if n < len(ref):
        assert m.nth(n, shaped(xs, shape)) == ref[n]
    elif shape in ("iter", "gen"):
        with pytest.raises(StopIteration) as info:
            m.nth(n, shaped(xs, shape))
        assert info.value.args == ()
    else:
        with pytest.raises(IndexError):
            m.nth(n, shaped(xs, shape))


def test_nth_negative_index():
    assert m.nth(-1, [1, 2, 3]) == 3
    assert m.nth(-1, (1, 2, 3)) == 3
    assert m.nth(-1, "abc") == "c"
    msg = "Indices for islice() must be None or an integer: 0 <= x <= sys.maxsize."
    for bad in (-1, "x", 2**70, None):
        with pytest.raises(ValueError) as info:
            m.nth(bad, iter([1, 2, 3]))
        assert str(info.value) == msg


def test_nth_paths():
    assert m.nth(1, {"a": 1, "b": 2}) == "b"
    assert m.nth(2, range(10)) == 2

    class Reg:  # registered, not inherited: still a Sequence
        def __getitem__(self, i):
            return ("item", i)

        def __len__(self):
            return 1

    Sequence.register(Reg)
    assert m.nth(7, Reg()) == ("item", 7)

    class SubList(list):
        def __getitem__(self, i):
            return "sub"

    assert m.nth(0, SubList([1])) == "sub"


# A built-in type's answer is remembered; registering it with an ABC must be seen at once.
# Run in a fresh interpreter: the registration cannot be undone.
def test_nth_sees_a_built_in_type_registered_later():
    code = textwrap.dedent("""
        from collections.abc import Sequence, Set
        import tarvel._tarvel as m
        it = lambda: iter(bytearray(b"abc"))
        assert m.nth(1, it()) == 98
        Set.register(type(it()))  # another ABC: the answer for Sequence stays the same
        assert m.nth(1, it()) == 98
        Sequence.register(type(it()))
        try:
            m.nth(1, it())
        except TypeError as e:
            assert "not subscriptable" in str(e), e
        else:
            raise AssertionError("the registration was not seen")
    """)
    subprocess.run([sys.executable, "-c", code], check=True, env=os.environ.copy())


def test_nth_through_proxies_asks_each_referent():
    # A proxy's __class__ is its referent's: one proxy type, both answers.
    class L(list):
        pass

    class It:
        def __init__(self):
            self.i = 0

        def __iter__(self):
            return self

        def __next__(self):
            self.i += 1
            return self.i

    seq, it = L([5, 6, 7]), It()
    for _ in range(3):
        assert m.nth(1, weakref.proxy(seq)) == 6
        assert m.nth(1, weakref.proxy(it)) == it.i


def test_nth_skips_errors_of_the_iterator():
    # The failing second call counts as one skipped element (it consumes nothing here).
    assert m.nth(2, Flaky([10, 20, 30], fail_at={1})) == 20
    assert m.second(Flaky([10, 20], fail_at={0})) == 10
    with pytest.raises(Boom):
        m.nth(1, Flaky([10, 20], fail_at={1, 2}))  # the element asked for raises
    with pytest.raises(StopIteration):
        m.nth(3, Flaky([10], fail_at={1}))


@pytest.mark.parametrize("fn,data", [
    (m.first, []), (m.second, [1]), (m.peek, []), (m.first, iter([])), (m.second, "a"),
])
def test_too_short_raises_bare_stopiteration(fn, data):
    with pytest.raises(StopIteration) as info:
        fn(data)
    assert info.value.args == ()


@given(small_lists, shapes)
def test_first_second(xs, shape):
    ref = plain(xs, shape)
    if len(ref) >= 1:
        assert m.first(shaped(xs, shape)) == ref[0]
    if len(ref) >= 2:
        assert m.second(shaped(xs, shape)) == ref[1]


def test_second_discards_first_error():
    def gen():
        yield 1
        yield 2

    class ErrFirst:
        def __init__(self):
            self.n = 0

        def __iter__(self):
            return self

        def __next__(self):
            self.n += 1
            if self.n == 1:
                raise KeyError("first")
            if self.n == 2:
                return "second"
            raise StopIteration

    assert m.second(ErrFirst()) == "second"
    assert m.second(gen()) == 2


# ---------------------------------------------------------------- tail / last

@given(small_lists, shapes, st.integers(0, 15))
def test_tail_matches_model(xs, shape, n):
    got = m.tail(n, shaped(xs, shape))
    ref = plain(xs, shape)
    want = ref if n == 0 else ref[-n:]
    if shape == "list":
        assert got == list(want)
    elif shape == "str":
        assert got == "".join(want)
    else:
        assert got == tuple(want)


def test_tail_huge_n_and_zero():
    assert m.tail(2**64 - 1, [1, 2]) == [1, 2]
    assert m.tail(2**64 - 1, iter([1, 2])) == (1, 2)
    assert m.tail(0, [1, 2]) == [1, 2]
    assert m.tail(0, iter([1, 2])) == (1, 2)
    assert m.tail(5, (1, 2)) == (1, 2)


def test_tail_fallback_rules():
    class KeyErr:
        def __getitem__(self, k):
            raise KeyError(k)

        def __iter__(self):
            return iter([1, 2, 3])

    class ValErr:
        def __getitem__(self, k):
            raise ValueError("no slicing")

        def __iter__(self):
            return iter([1, 2, 3])

    assert m.tail(2, KeyErr()) == (2, 3)
    with pytest.raises(ValueError, match="no slicing"):
        m.tail(2, ValErr())
    assert m.tail(1, {1: "a", 2: "b"}) == (2,)  # dicts reject slices with TypeError


def test_tail_iterator_error_propagates():
    def gen():
        yield 1
        raise RuntimeError("boom")

    with pytest.raises(RuntimeError, match="boom"):
        m.tail(3, gen())


@given(small_lists, shapes)
def test_last(xs, shape):
    ref = plain(xs, shape)
    if ref:
        assert m.last(shaped(xs, shape)) == ref[-1]
    else:
        with pytest.raises(IndexError):
            m.last(shaped(xs, shape))


def test_last_of_dict_iterates_keys():
    assert m.last({"a": 1, "b": 2}) == "b"


# ---------------------------------------------------------------- get

def test_get_single_and_defaults():
    assert m.get(1, [10, 20]) == 20
    assert m.get(5, [10, 20], None) is None
    with pytest.raises(IndexError):
        m.get(5, [10, 20])
    assert m.get("k", {}, 0) == 0
    assert m.get("a", 5, None) is None
    assert m.get((1, 2), {(1, 2): "t"}) == "t"  # a tuple is one key
    with pytest.raises(TypeError) as info:
        m.get(0, [1], 2, 3)
    assert str(info.value) == "get takes at most 3 arguments"


def test_get_list_of_indices():
    assert m.get([0, 5], [10, 20], "x") == (10, "x")
    assert m.get([], [1]) == ()
    assert m.get([1, 0], "ab") == ("b", "a")
    with pytest.raises(IndexError):
        m.get([0, 5], [10, 20])

    class L(list):
        pass

    assert m.get(L([1]), [10, 20]) == (20,)


def test_get_non_lookup_errors_propagate():
    class Raises:
        def __getitem__(self, k):
            raise ZeroDivisionError

    with pytest.raises(ZeroDivisionError):
        m.get(1, Raises(), "default")
    with pytest.raises(ZeroDivisionError):
        m.get([1, 2], Raises(), "default")


def test_get_index_list_shrinking_during_walk():
    idx = [0, 1, 2, 3]

    class Shrinker:
        def __getitem__(self, k):
            if k == 0:
                del idx[1:]
            return k * 10

    assert m.get(idx, Shrinker()) == (0,)


@given(st.lists(st.integers(-4, 6), max_size=6), st.lists(st.integers(), max_size=5))
def test_get_many_matches_model(idx, coll):
    def model():
        out = []
        for i in idx:
            try:
                out.append(coll[i])
            except IndexError:
                out.append("d")
        return tuple(out)

    assert m.get(list(idx), coll, "d") == model()


# ---------------------------------------------------------------- peek / cons / count

def test_peek_replays_first():
    first, it = m.peek(iter([1, 2]))
    assert first == 1
    assert list(it) == [1, 2]
    first, it = m.peek([5])
    assert (first, list(it)) == (5, [5])


def test_cons():
    assert list(m.cons(0, [1, 2])) == [0, 1, 2]
    c = m.cons(0, 5)
    assert next(c) == 0
    with pytest.raises(TypeError):
        next(c)


@given(small_lists, shapes)
def test_count_matches_len(xs, shape):
    assert m.count(shaped(xs, shape)) == len(plain(xs, shape))


def test_count_uses_len_without_iterating():
    class Sized:
        def __len__(self):
            return 7

        def __iter__(self):
            raise AssertionError("must not iterate")

    assert m.count(Sized()) == 7
    g = (x for x in range(4))
    assert m.count(g) == 4
    assert list(g) == []


def test_count_len_in_instance_dict_only():
    class Odd:
        def __iter__(self):
            return iter([1])

    o = Odd()
    o.__len__ = lambda: 3
    with pytest.raises(TypeError):
        m.count(o)


def test_count_attribute_lookup_error_propagates():
    class Weird:
        def __getattr__(self, name):
            raise RuntimeError(name)

    with pytest.raises(RuntimeError):
        m.count(Weird())


def test_count_iteration_error_propagates():
    def gen():
        yield 1
        raise KeyError("x")

    with pytest.raises(KeyError):
        m.count(gen())


# ---------------------------------------------------------------- leaks

def test_no_reference_leaks_on_inputs():
    data = [object() for _ in range(5)]
    key = object()
    d = {key: data}
    check_leaks(lambda: (m.get(key, d), m.tail(2, data), m.first(data), m.count(data)),
                watch=[data, key, d] + data, repeat=500)

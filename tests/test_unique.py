"""unique(seq, key=None): the general iterator over any iterable (live list reading,
reentrancy guard, length hints, key path) and differential tests against dict.fromkeys."""

import array
import gc
import operator

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks
from sources import as_kind, unique_model

hashables = st.recursive(
    st.one_of(st.integers(), st.floats(), st.text(max_size=3), st.booleans(), st.none(),
              st.sampled_from([-1, -2, 0, 1, 2**30, 2**62, -(2**63)])),
    lambda inner: st.tuples(inner, inner),
    max_leaves=4,
)


@given(st.lists(hashables, max_size=60), st.sampled_from(["list", "tuple", "generator"]))
def test_matches_dict_fromkeys(tv, xs, kind):
    got = list(tv.unique(as_kind(kind, xs)))
    want = list(dict.fromkeys(xs))
    assert len(got) == len(want) and all(a is b for a, b in zip(got, want))


@given(st.lists(st.integers(-20, 20), max_size=60), st.sampled_from([abs, lambda x: x % 3, str]))
def test_key_matches_reference(tv, xs, key):
    assert list(tv.unique(xs, key=key)) == unique_model(xs, key)
    assert list(tv.unique(iter(xs), key)) == unique_model(xs, key)


def test_basic_cases(tv):
    assert list(tv.unique([])) == []
    assert tv.unique([]).__length_hint__() == 0
    assert list(tv.unique([1, 1.0, True, 2])) == [1, 2]
    assert [type(x) for x in tv.unique([1, 1.0, True, 2])] == [int, int]
    assert list(tv.unique(b"abca", key=None)) == [97, 98, 99]
    assert list(tv.unique(b"abca", key=lambda c: c % 2)) == [97, 98]
    assert type(tv.unique(b"abca", key=lambda c: c)).__name__ == "UniqueIter"
    assert list(tv.unique(seq="abca")) == ["a", "b", "c"]
    with pytest.raises(TypeError):
        tv.unique(5)
    with pytest.raises(TypeError):
        tv.unique()
    assert tv.unique.__text_signature__ == "(seq, key=None)"


def test_docstrings(tv):
    it, iit = tv.unique([1]), tv.unique(b"a")
    assert type(it).__length_hint__.__doc__ == (
        "Upper bound (PEP 424 allows estimates): every remaining source\n"
        "element could be new. Lets consumers preallocate.")
    assert type(iit).__length_hint__.__doc__ == (
        "Upper bound (PEP 424 allows estimates): every remaining element\ncould be new.")
    assert "native" in type(it).__doc__ and "already executing" in type(it).__doc__
    assert "integer buffer" in type(iit).__doc__ and "take(5" in type(iit).__doc__
    assert iter(it) is it and iter(iit) is iit
    for t in (type(it), type(iit)):
        with pytest.raises(TypeError):
            t()


def test_live_list_reading(tv):
    xs = [1, 2]
    it = tv.unique(xs)
    assert next(it) == 1
    xs.append(3)
    xs.append(1)
    assert list(it) == [2, 3]
    xs.append(4)
    assert next(it, "end") == "end"  # exhausted stays exhausted
    shrinking = [1, 2, 3, 4]
    it = tv.unique(shrinking)
    assert next(it) == 1
    del shrinking[1:]
    assert list(it) == []


def test_list_subclass_and_tuple_use_their_iterator(tv):
    class Rev(list):
        def __iter__(self):
            return iter(list(reversed(list(list.__iter__(self)))))

    assert list(tv.unique(Rev([1, 2, 2, 3]))) == [3, 2, 1]
    assert list(tv.unique((3, 3, 1))) == [3, 1]


def test_length_hints(tv):
    it = tv.unique([1, 2, 3, 4, 5])
    next(it), next(it)
    assert it.__length_hint__() == 3
    assert operator.length_hint(it) == 3
    assert tv.unique(x for x in range(3)).__length_hint__() == 0
    assert tv.unique(iter([1, 2, 3])).__length_hint__() == 3

    class BadHint:
        def __iter__(self):
            return self

        def __next__(self):
            raise StopIteration

        def __length_hint__(self):
            raise RuntimeError("no hint")

    assert tv.unique(BadHint()).__length_hint__() == 0


@pytest.mark.parametrize("what", ["next", "length_hint"])
def test_reentrancy_guard(tv, what):
    caught = []

    def key(x):
        try:
            if what == "next":
                next(it)
            else:
                it.__length_hint__()
        except ValueError as e:
            caught.append(str(e))
        return x

    it = tv.unique([1, 2, 1, 3], key=key)
    assert list(it) == [1, 2, 3]
    assert caught == ["iterator already executing"] * 4

    def leaky_key(x):
        next(it2)

    it2 = tv.unique([1, 2], key=leaky_key)
    with pytest.raises(ValueError, match="iterator already executing"):
        next(it2)
    assert it2.__length_hint__() == 1  # the flag was given back: the guard is not stuck


def test_errors_leave_the_iterator_usable(tv):
    def gen():
        yield 1
        yield 2
        raise KeyError("boom")

    it = tv.unique(gen())
    assert next(it) == 1 and next(it) == 2
    with pytest.raises(KeyError):
        next(it)
    assert next(it, "end") == "end"

    def key(x):
        if x == 2:
            raise ArithmeticError("key")
        return x

    it = tv.unique([1, 2, 3, 1], key=key)
    assert next(it) == 1
    with pytest.raises(ArithmeticError):
        next(it)
    assert list(it) == [3]


def test_collected_in_cycles(tv):
    class Key:
        freed = False

        def __call__(self, x):
            return x

        def __del__(self):
            Key.freed = True

    k = Key()
    it = tv.unique([1, 2], key=k)
    k.it = it  # iterator -> key -> iterator
    del k, it
    gc.collect()
    assert Key.freed

    class Elem:
        freed = False

        def __del__(self):
            Elem.freed = True

    e = Elem()
    it = tv.unique([e])
    next(it)
    e.it = it  # the seen-set holds e, e holds the iterator
    del e, it
    gc.collect()
    assert Elem.freed


def test_no_leaks(tv):
    data = [10**6 + i % 40 for i in range(200)]
    keyed = [f"s{i}" for i in range(50)]

    def raising_key(x):
        raise LookupError(x)

    check_leaks(lambda: list(tv.unique(tuple(data))), watch=data[:3])
    check_leaks(lambda: list(tv.unique(x for x in data)), watch=data[:3])
    check_leaks(lambda: list(tv.unique(keyed, key=len)), watch=keyed[:3])
    check_leaks(lambda: next(tv.unique(keyed, key=raising_key)), raises=LookupError)
    check_leaks(lambda: tv.unique(5), raises=TypeError)
    check_leaks(lambda: list(tv.unique(array.array("q", data))))
    check_leaks(lambda: tv.unique([1, 2]).__length_hint__())


INT_KINDS = {"b": 8, "B": 8, "h": 16, "H": 16, "i": 32, "q": 64}


@pytest.mark.parametrize("kind", sorted(INT_KINDS))
@given(data=st.data())
def test_int_buffer_hint_never_promises_more_than_it_can_yield(tv, data, kind):
    bits = INT_KINDS[kind]
    lo, hi = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if kind.islower() else (0, (1 << bits) - 1)
    small = st.integers(lo, min(hi, lo + 300))  # narrow enough to exhaust an 8-bit kind
    xs = data.draw(st.lists(st.one_of(small, st.integers(lo, hi)), max_size=700))
    it = tv.unique(array.array(kind, xs))
    seen = set()
    while True:
        h = it.__length_hint__()
        # An upper bound on what is still to come, never above the values left unseen
        # nor the elements left unread.
        assert len(set(xs) - seen) <= h <= min((1 << bits) - len(seen), len(xs) - len(seen))
        x = next(it, None)
        if x is None:
            break
        seen.add(x)
    assert it.__length_hint__() == 0 and seen == set(xs)


@pytest.mark.parametrize("make, bound", [
    (lambda n: bytes(n), 256),
    (lambda n: array.array("b", bytes(n)), 256),
    (lambda n: array.array("H", bytes(2 * n)), 1 << 16),
])
def test_narrow_buffers_hint_their_value_range(tv, make, bound):
    import tracemalloc

    data = make(1_000_000)
    assert tv.unique(data).__length_hint__() == bound
    full = array.array("B", list(range(256)) * 3)
    it = tv.unique(full)
    assert len([next(it) for _ in range(256)]) == 256
    assert it.__length_hint__() == 0 and list(it) == []
    # list() preallocates the hint: 8 MB of pointers before the fix.
    tracemalloc.start()
    try:
        assert list(tv.unique(data)) == [0]
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert peak < 1_000_000

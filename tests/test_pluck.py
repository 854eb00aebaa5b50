import operator

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks
from sources import Boom, Flaky, Reentrant, drained, raising_gen

_MISSING = object()


def ref_pluck(ind, seqs, default=_MISSING):
    def get(el, key):
        if default is _MISSING:
            return el[key]
        try:
            return el[key]
        except (KeyError, IndexError, TypeError):
            return default

    for el in seqs:
        if isinstance(ind, list):
            yield tuple(get(el, k) for k in ind)
        else:
            yield get(el, ind)


@pytest.mark.parametrize(
    "args, expected",
    [
        ((0, [[1, 2], [3, 4]]), [1, 3]),
        (("a", iter([{"a": 1}])), [1]),
        (([0, 1], [[1, 2], [3, 4]]), [(1, 2), (3, 4)]),
        (([], [[1]]), [()]),
        ((1, [[1], [2, 3]], None), [None, 3]),
        (("a", [{"b": 1}], 0), [0]),
        (("a", [5], 0), [0]),
        ((-1, [(1, 2), [3, 4], "xy"]), [2, 4, "y"]),
        ((slice(1, None), [(1, 2, 3)]), [(2, 3)]),
        (((1, 2), [{(1, 2): "t"}]), ["t"]),  # a tuple is one key
        (([0, 5], [[1, 2]], "d"), [(1, "d")]),
        ((True, [(1, 2)]), [2]),
    ],
)
def test_examples(tv, args, expected):
    assert list(tv.pluck(*args)) == expected


def test_result_types_and_docs(tv):
    p = tv.pluck(0, [[1]])
    cls = type(p)
    assert cls.__name__ == "PluckIter" and not hasattr(tv, "PluckIter")
    assert "pluck" in cls.__doc__
    assert cls.__length_hint__.__doc__ == (
        "One output per remaining source element (PEP 424): exact for list\n"
        "sources, the source's own hint otherwise.")
    assert cls.__length_hint__.__text_signature__ == "($self)"
    assert iter(p) is p
    for other in (tv.pluck([0], [[1]]), tv.pluck(0, [[1]], None)):
        assert type(other).__name__ == "NativeIter"
    assert tv.pluck.__text_signature__ == "(ind, seqs, *rest)"


def test_bad_arguments(tv):
    with pytest.raises(TypeError, match="^pluck takes at most 3 arguments$"):
        tv.pluck(0, [], 1, 2)
    for rest in ((), (None,)):
        with pytest.raises(TypeError, match="not iterable"):
            tv.pluck(0, 5, *rest)
    with pytest.raises(TypeError, match="not iterable"):
        tv.pluck([0], 5)


@pytest.mark.parametrize(
    "ind, el, exc",
    [
        (1, [1], IndexError),
        (-3, (1, 2), IndexError),
        (2**70, (1, 2), IndexError),
        ("a", {"b": 1}, KeyError),
        (0, 5, TypeError),
        ("x", (1,), TypeError),
    ],
)
def test_lookup_errors_without_default(tv, ind, el, exc):
    with pytest.raises(exc) as ours:
        list(tv.pluck(ind, [el]))
    with pytest.raises(exc) as theirs:
        el[ind]
    assert str(ours.value) == str(theirs.value)


def test_overridden_getitem_is_honoured(tv):
    class L(list):
        def __getitem__(self, i):
            return ("L", i)

    class T(tuple):
        def __getitem__(self, i):
            return ("T", i)

    assert list(tv.pluck(0, [L([1]), T((1,)), (5,)])) == [("L", 0), ("T", 0), 5]


def test_non_lookup_error_is_not_defaulted(tv):
    class Bad:
        def __getitem__(self, key):
            raise ValueError("bad")

    with pytest.raises(ValueError):
        list(tv.pluck(0, [Bad()], "d"))
    with pytest.raises(ValueError):
        list(tv.pluck([0], [Bad()], "d"))


def test_failed_lookup_consumes_element(tv):
    p = tv.pluck(1, [[1], [2, 3]])
    with pytest.raises(IndexError):
        next(p)
    assert list(p) == [3]
    p = tv.pluck([1], iter([[1], [2, 3]]))
    with pytest.raises(IndexError):
        next(p)
    assert list(p) == [(3,)]


def test_key_list_shrinking_during_lookup(tv):
    keys = [0, 1, 2]

    class Shrinker:
        def __getitem__(self, key):
            if keys:
                keys.pop()
            return key

    assert list(tv.pluck(keys, [Shrinker()])) == [(0, 1)]


def test_key_list_read_live(tv):
    keys = [0]
    p = tv.pluck(keys, [[1, 2], [3, 4]])
    assert next(p) == (1,)
    keys.append(1)
    assert next(p) == (3, 4)


@pytest.mark.parametrize("make", [list, iter], ids=["list", "list-iter"])
@pytest.mark.parametrize("n", [0, 1, 4])
def test_length_hint_exact_throughout(tv, make, n):
    p = tv.pluck(0, make([(i,) for i in range(n)]))
    for remaining in range(n, -1, -1):
        assert p.__length_hint__() == remaining == operator.length_hint(p)
        next(p, None)
    assert p.__length_hint__() == 0


def test_length_hint_generator(tv):
    assert tv.pluck(0, ((i,) for i in range(3))).__length_hint__() == 0


def test_live_list_appends(tv):
    data = [(1,), (2,)]
    p = tv.pluck(0, data)
    assert next(p) == 1
    data.append((3,))
    assert p.__length_hint__() == 2
    assert list(p) == [2, 3]
    data.append((4,))
    assert list(p) == [] and p.__length_hint__() == 0


@pytest.mark.parametrize("rest", [(), ("d",)])
def test_iterator_source_is_asked_again(tv, rest):
    src = Flaky([(1,)], resume=[(2,)])
    p = tv.pluck(0, src, *rest)
    assert list(p) == [1]
    assert list(p) == [2]


@pytest.mark.parametrize("ind, rest", [(0, ()), (0, ("d",)), ([0], ())])
def test_hostile_generator(tv, ind, rest):
    p = tv.pluck(ind, raising_gen([(1,), (2,)]), *rest)
    assert len([next(p), next(p)]) == 2
    with pytest.raises(Boom):
        next(p)
    assert list(p) == []


@pytest.mark.parametrize("ind, hint", [(0, False), (0, True), ([0], False)])
def test_reentrant_source(tv, ind, hint):
    src = Reentrant([(1,), (2,), (3,)], hint=hint)
    p = tv.pluck(ind, src)
    src.target = p
    assert [x if ind == 0 else x[0] for x in p] == [1, 2, 3]
    assert set(src.errors) == {"iterator already executing"}


records = st.one_of(
    st.lists(st.integers(0, 9), max_size=4),
    st.tuples(st.integers(0, 9), st.integers(0, 9)),
    st.dictionaries(st.sampled_from([0, 1, "a"]), st.integers(0, 9), max_size=3),
    st.integers(0, 9),
)
keys = st.sampled_from([0, 1, -1, 3, "a"])


@given(
    st.one_of(keys, st.lists(keys, max_size=3)),
    st.lists(records, max_size=8),
    st.sampled_from([_MISSING, None, "d"]),
    st.booleans(),
)
def test_matches_reference(tv, ind, data, default, as_iter):
    args = () if default is _MISSING else (default,)
    ours = drained(tv.pluck(ind, iter(data) if as_iter else data, *args))
    assert ours == drained(ref_pluck(ind, data, default))


def test_leaks(tv):
    data = [(object(), object()) for _ in range(5)]
    d = object()
    w = [data[0][0], d]
    check_leaks(lambda: list(tv.pluck(1, iter(data))), watch=w)
    check_leaks(lambda: list(tv.pluck([0, 1, 5], data, d)), watch=w)
    check_leaks(lambda: list(tv.pluck(5, data, d)), watch=w)
    check_leaks(lambda: next(tv.pluck(0, data)), watch=w)  # abandoned
    check_leaks(lambda: next(tv.pluck([1, 0], data)), watch=w)  # abandoned
    check_leaks(lambda: list(tv.pluck(5, data)), watch=w, raises=IndexError)
    check_leaks(lambda: list(tv.pluck([0, 5], data)), watch=w, raises=IndexError)
    check_leaks(lambda: list(tv.pluck([0], raising_gen(data), d)), watch=w, raises=Boom)
    check_leaks(lambda: tv.pluck(0, data, d, d), watch=w, raises=TypeError)
    check_leaks(lambda: tv.pluck(0, 5, d), watch=w, raises=TypeError)

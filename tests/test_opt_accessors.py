"""first_opt, last_opt, nth_opt, get_opt, get_in_opt, peek_opt against short reference models."""

import collections

import pytest
from hypothesis import given
from hypothesis import strategies as st

from leakcheck import check_leaks
from sources import Boom, Scripted

LOOKUP = (KeyError, IndexError, TypeError)


def as_model(v, tv):
    if type(v) is tv.Some:
        return ("some", v.value)
    assert type(v) is tv.NothingType
    return ("nothing",)


def ref_first(seq):
    for x in seq:
        return ("some", x)
    return ("nothing",)


def ref_last(seq):
    out = ("nothing",)
    for x in seq:
        out = ("some", x)
    return out


def ref_nth(n, seq):
    it = iter(seq)
    for _ in range(n):
        try:
            next(it)
        except StopIteration:
            return ("nothing",)
        except Exception:
            pass  # a failing step counts as a skipped element
    try:
        return ("some", next(it))
    except StopIteration:
        return ("nothing",)


def ref_get(coll, *keys):
    cur = coll
    for k in keys:
        try:
            cur = cur[k]
        except LOOKUP:
            return ("nothing",)
    return ("some", cur)


SHAPES = {
    "list": list,
    "tuple": tuple,
    "iter": lambda xs: iter(list(xs)),
    "gen": lambda xs: (x for x in list(xs)),
    "deque": collections.deque,
    "list-subclass": type("L", (list,), {}),
}


@pytest.mark.parametrize("shape", SHAPES)
@given(xs=st.lists(st.integers(), max_size=6), n=st.integers(0, 8))
def test_element_accessors_match_model(tv, shape, xs, n):
    make = SHAPES[shape]
    assert as_model(tv.first_opt(make(xs)), tv) == ref_first(xs)
    assert as_model(tv.last_opt(make(xs)), tv) == ref_last(xs)
    assert as_model(tv.nth_opt(n, make(xs)), tv) == ref_nth(n, xs)
    assert as_model(tv.nth_opt(n=n, seq=make(xs)), tv) == ref_nth(n, xs)
    p = tv.peek_opt(make(xs))
    if xs:
        head, rest = p.value
        assert head == xs[0] and list(rest) == xs
    else:
        assert as_model(p, tv) == ("nothing",)


@given(st.lists(st.one_of(st.integers(), st.just("boom")), max_size=8), st.integers(0, 9))
def test_nth_opt_skipping_rule(tv, script, n):
    items = [Boom() if x == "boom" else x for x in script]
    try:
        want = ref_nth(n, Scripted(items))
    except Boom:
        with pytest.raises(Boom):
            tv.nth_opt(n, Scripted(items))
    else:
        assert as_model(tv.nth_opt(n, Scripted(items)), tv) == want


def test_element_accessor_edges(tv):
    it = iter([1, 2])
    assert tv.first_opt(it) == tv.Some(1) and list(it) == [2]
    assert tv.first_opt([0]) == tv.Some(0)
    assert tv.last_opt(iter([1, 2, 3])) == tv.Some(3)
    assert tv.nth_opt(1, "abc") == tv.Some("b")
    assert tv.last_opt({"a": 1, "b": 2}) == tv.Some("b")
    assert type(tv.nth_opt(5, [1])) is tv.NothingType
    assert type(tv.nth_opt(2**64 - 1, (1,))) is tv.NothingType
    assert tv.nth_opt(True, [7, 8]) == tv.Some(8)
    for fn in (tv.first_opt, tv.last_opt, tv.peek_opt):
        r = fn([])
        assert type(r) is tv.NothingType and r is not tv.Nothing
        with pytest.raises(TypeError, match="not iterable"):
            fn(5)
    with pytest.raises(TypeError, match="not iterable"):
        tv.nth_opt(0, 5)
    # Errors raised by the iterator propagate, except while nth_opt skips.
    for fn in (tv.first_opt, tv.last_opt, tv.peek_opt, lambda s: tv.nth_opt(1, s)):
        with pytest.raises(Boom):
            fn(Scripted([Boom()] * 3))
    assert tv.nth_opt(2, Scripted([Boom(), "a", "b"])) == tv.Some("b")
    with pytest.raises(Boom):
        tv.last_opt(Scripted([1, 2, Boom()]))


@pytest.mark.parametrize("bad, exc", [(-1, OverflowError), (2**64, OverflowError),
                                      ("a", TypeError), (1.5, TypeError)])
def test_nth_opt_conversion(tv, bad, exc):
    with pytest.raises(exc) as info:
        tv.nth_opt(bad, [1])
    assert info.value.__notes__ == ["while processing 'n'"]


def test_nth_opt_numpy_index(tv):
    np = pytest.importorskip("numpy")
    assert tv.nth_opt(np.int64(1), [5, 6]) == tv.Some(6)


class Custom:
    """Item access that fails with a chosen exception."""

    def __init__(self, exc):
        self.exc = exc

    def __getitem__(self, key):
        raise self.exc


class MyKeyError(KeyError):
    pass


def test_get_opt(tv):
    assert tv.get_opt(5, [1]) == tv.Nothing
    assert tv.get_opt("a", {}) == tv.Nothing
    assert tv.get_opt("a", 3) == tv.Nothing
    assert tv.get_opt(0, (7,)) == tv.Some(7)
    assert tv.get_opt(-1, [1, 2]) == tv.Some(2)
    assert tv.get_opt((0, 1), {(0, 1): "x"}) == tv.Some("x")
    assert tv.get_opt([0, 1], [5, 6]) == tv.Nothing  # a list is one (unhashable) key: TypeError
    assert tv.get_opt(ind="k", coll={"k": None}) == tv.Some(None)
    for exc in (MyKeyError("x"), IndexError(), TypeError()):
        assert type(tv.get_opt(0, Custom(exc))) is tv.NothingType
    for exc in (ValueError("v"), LookupError("plain"), Boom()):
        with pytest.raises(type(exc)):
            tv.get_opt(0, Custom(exc))


nested = st.recursive(
    st.integers(-2, 2) | st.text("ab", max_size=1),
    lambda inner: (st.lists(inner, max_size=3)
                   | st.dictionaries(st.sampled_from("ab"), inner, max_size=2)),
    max_leaves=8,
)


@given(nested, st.lists(st.sampled_from(["a", "b", 0, 1, -1]), max_size=4))
def test_get_in_opt_matches_model(tv, coll, keys):
    assert as_model(tv.get_in_opt(coll, *keys), tv) == ref_get(coll, *keys)
    if len(keys) == 1:
        assert as_model(tv.get_opt(keys[0], coll), tv) == ref_get(coll, keys[0])


def test_get_in_opt_edges(tv):
    assert tv.get_in_opt({"a": {"b": 1}}, "a", "b") == tv.Some(1)
    assert tv.get_in_opt({"a": 1}, "a", "b") == tv.Nothing
    x = object()
    assert tv.get_in_opt(x).value is x
    assert tv.get_in_opt(coll=[[1, 2]]) == tv.Some([[1, 2]])
    with pytest.raises(ValueError):
        tv.get_in_opt({"a": Custom(ValueError())}, "a", "b")
    with pytest.raises(TypeError, match=r"^get_in_opt\(\) missing 1 required positional"):
        tv.get_in_opt()


def test_signatures(tv):
    sigs = {"first_opt": "(seq)", "last_opt": "(seq)", "nth_opt": "(n, seq)",
            "get_opt": "(ind, coll)", "get_in_opt": "(coll, *keys)", "peek_opt": "(seq)"}
    for name, sig in sigs.items():
        fn = getattr(tv, name)
        assert fn.__text_signature__ == sig


def test_no_leaks(tv):
    data, d = [1, 2, 3], {"a": {"b": [1]}}
    check_leaks(lambda: (tv.first_opt(data), tv.first_opt(iter(data)), tv.first_opt(()),
                         tv.last_opt(iter(data)), tv.last_opt(data), tv.nth_opt(1, iter(data)),
                         tv.nth_opt(9, data), tv.peek_opt(iter(data)), tv.peek_opt([])))
    check_leaks(lambda: (tv.get_opt("a", d), tv.get_opt("z", d), tv.get_opt(0, 5),
                         tv.get_in_opt(d, "a", "b", 0), tv.get_in_opt(d, "a", "x", 0)))
    check_leaks(lambda: tv.nth_opt(3, Scripted([Boom(), 1, Boom(), 2, 3])))
    check_leaks(lambda: tv.get_opt(0, Custom(ValueError())), raises=ValueError)
    check_leaks(lambda: tv.last_opt(Scripted([1, Boom()])), raises=Boom)
    check_leaks(lambda: tv.nth_opt(-1, data), raises=OverflowError)
    check_leaks(lambda: tv.first_opt(5), raises=TypeError)

"""Some / NothingType / Option, and the equality rules shared by all four value types."""

import copy
import gc
import pickle
import types
import typing
import weakref

import pytest
from hypothesis import given
from hypothesis import strategies as st

from leakcheck import check_leaks
from tarvel import _tarvel as _tv
from sources import Boom


class Forbidden:
    """A callback that must not be called."""

    def __call__(self, *args, **kwargs):
        raise AssertionError(f"callback called with {args} {kwargs}")


class EqRaises:
    def __eq__(self, other):
        raise Boom("eq")

    __hash__ = None


class EqReturns:
    """__eq__ hands back an arbitrary object; its truth value decides."""

    def __init__(self, result):
        self.result = result

    def __eq__(self, other):
        return self.result


class BoolRaises:
    def __bool__(self):
        raise Boom("bool")


class AlwaysEq:
    def __eq__(self, other):
        return True

    def __ne__(self, other):
        return False


class ReprRaises:
    def __repr__(self):
        raise Boom("repr")


# ---- equality matrix -------------------------------------------------------------------------


def model_eq(a, b, tv):
    """What `a == b` must give when `a` is one of the four value types."""
    for cls, field in ((tv.Some, "value"), (tv.Ok, "value"), (tv.Err, "error")):
        if isinstance(a, cls):
            return isinstance(b, cls) and bool(getattr(a, field) == getattr(b, field))
    assert isinstance(a, tv.NothingType)
    return isinstance(b, tv.NothingType)


def matrix_values(tv):
    class SubSome(tv.Some):
        pass

    return [
        tv.Some(1), tv.Some(1.0), tv.Some(2), tv.Some(None), tv.Some("a"), tv.Some(tv.Some(1)),
        SubSome(1), tv.Nothing, tv.NothingType(), tv.Option.of(None),
        tv.Ok(1), tv.Ok(1.0), tv.Ok(None), tv.Err(1), tv.Err("a"), tv.Err(None),
        1, None, "a", (1,), object(),
    ]


def test_equality_matrix(tv):
    values = matrix_values(tv)
    ours = (tv.Some, tv.NothingType, tv.Ok, tv.Err)
    for a in values:
        for b in values:
            if isinstance(a, ours):
                want = model_eq(a, b, tv)
                assert (a == b) is want, (a, b)
                assert (a != b) is (not want), (a, b)
                # Never NotImplemented, so the other side is never consulted.
                assert a.__eq__(b) is want
                assert a.__ne__(b) is (not want)
            elif isinstance(b, ours):
                # A foreign left operand defers to ours, which answers False.
                assert (a == b) is False and (a != b) is True


def test_equality_is_not_delegated_to_foreign_objects(tv):
    # A foreign __eq__ that says True is never asked when ours is on the left.
    for v in (tv.Some(1), tv.Nothing, tv.Ok(1), tv.Err(1)):
        assert (v == AlwaysEq()) is False
        assert (v != AlwaysEq()) is True
        assert (AlwaysEq() == v) is True  # the foreign object decides on its own side


@pytest.mark.parametrize("make", ["Some", "Ok", "Err"])
def test_payload_eq_rules(tv, make):
    cls = getattr(tv, make)
    with pytest.raises(Boom):
        cls(EqRaises()) == cls(1)
    with pytest.raises(Boom):
        cls(1) == cls(EqRaises())  # int defers to the payload's reflected __eq__
    with pytest.raises(Boom):
        cls(EqRaises()) != cls(1)
    # No identity shortcut: the payload comparison always runs.
    x = EqRaises()
    with pytest.raises(Boom):
        cls(x) == cls(x)
    nan = float("nan")
    assert cls(nan) != cls(nan)
    # Non-bool results are reduced to their truth value.
    assert (cls(EqReturns("yes")) == cls(0)) is True
    assert (cls(EqReturns(0)) == cls(0)) is False
    assert (cls(EqReturns([])) != cls(0)) is True
    with pytest.raises(Boom):
        cls(EqReturns(BoolRaises())) == cls(0)
    with pytest.raises(Boom):
        cls(EqReturns(BoolRaises())) != cls(0)
    # A payload of another family is just a payload.
    assert cls(1) != 1 and cls(1) == cls(True)


@pytest.mark.parametrize("op", ["__lt__", "__le__", "__gt__", "__ge__"])
def test_ordering_not_supported(tv, op):
    for v in (tv.Some(1), tv.Nothing, tv.Ok(1), tv.Err(1)):
        assert getattr(v, op)(v) is NotImplemented
    with pytest.raises(TypeError):
        tv.Some(1) < tv.Some(2)
    with pytest.raises(TypeError):
        tv.Nothing >= tv.Nothing


def test_unhashable(tv):
    for v in (tv.Some(1), tv.Nothing, tv.NothingType(), tv.Ok(1), tv.Err(1)):
        with pytest.raises(TypeError):
            hash(v)
        with pytest.raises(TypeError):
            {v}


# ---- construction, attributes, slots ----------------------------------------------------------


def test_binding_uses_class_and_method_names(tv):
    assert tv.Some(value=3).value == 3 and tv.Some(2).map(f=lambda v: v * 3) == tv.Some(6)
    for call, msg in [
        (lambda: tv.Some(), r"Some\(\) missing 1 required positional argument: 'value'"),
        (lambda: tv.Some(1, x=2), r"Some\(\) got an unexpected keyword argument 'x'"),
        (lambda: tv.NothingType(1), r"NothingType\(\) takes 0 positional arguments but 1 was"),
        (lambda: tv.Option.of(), r"Option.of\(\) missing 1 required positional argument: 'v'"),
        (lambda: tv.Some(1).map(), r"Some.map\(\) missing 1 required positional argument: 'f'"),
        (lambda: tv.Nothing.unwrap_or(1, 2), r"NothingType.unwrap_or\(\) takes 1 positional"),
        (tv.Option, "cannot create"),
    ]:
        with pytest.raises(TypeError, match="^" + msg):
            call()


OPTION_SIGS = {"map": "f", "and_then": "f", "filter": "pred", "unwrap": "", "unwrap_or": "default",
               "unwrap_or_else": "f", "ok_or": "err", "is_some": "", "is_none": ""}
RESULT_SIGS = {"map": "f", "map_err": "f", "and_then": "f", "unwrap": "", "unwrap_or": "default",
               "ok": "", "err": "", "is_ok": "", "is_err": ""}


@pytest.mark.parametrize("cls, ctor, sigs", [
    ("Some", "(value)", OPTION_SIGS), ("NothingType", "()", OPTION_SIGS),
    ("Ok", "(value)", RESULT_SIGS), ("Err", "(error)", RESULT_SIGS)])
def test_method_table(tv, cls, ctor, sigs):
    t = getattr(tv, cls)
    assert t.__module__ == "tarvel._tarvel" and t.__name__ == cls
    assert t.__text_signature__ == ctor
    assert [n for n in vars(t) if not n.startswith("_")][: len(sigs)] == list(sigs)
    for name, params in sigs.items():
        m = getattr(t, name)
        assert m.__doc__ is None
        assert m.__text_signature__ == ("($self, %s)" % params if params else "($self)")
    assert tv.Option.of.__text_signature__ == "(v)" and tv.Result.of.__text_signature__ == "(f)"


def test_absence_is_always_a_new_instance(tv):
    made = [tv.NothingType(), tv.Option.of(None), tv.Some(1).filter(lambda v: False),
            tv.Nothing.map(Forbidden()), tv.Ok(1).err(), tv.Err(1).ok()]
    for n in made:
        assert type(n) is tv.NothingType and n == tv.Nothing and n is not tv.Nothing
    assert len({id(n) for n in made}) == len(made)
    assert type(tv.Nothing) is tv.NothingType


def test_value_attribute_is_read_only(tv):
    s = tv.Some([1])
    assert s.value == [1]
    with pytest.raises(AttributeError):
        s.value = 2
    with pytest.raises(AttributeError):
        del s.value
    with pytest.raises(AttributeError):
        s.other = 1
    assert tv.Some.__match_args__ == ("value",)
    assert not hasattr(tv.NothingType, "__match_args__")


def test_truth_and_repr(tv):
    assert bool(tv.Some(0)) and bool(tv.Some(None)) and bool(tv.Some(tv.Nothing))
    assert not tv.Nothing and not tv.NothingType()
    assert repr(tv.Some("a")) == "Some('a')"
    assert repr(tv.Some(tv.Some([1, None]))) == "Some(Some([1, None]))"
    assert repr(tv.Nothing) == str(tv.Nothing) == "Nothing"
    with pytest.raises(Boom):
        repr(tv.Some(ReprRaises()))


# ---- methods ---------------------------------------------------------------------------------


def test_some_methods(tv):
    s = tv.Some(2)
    calls = []

    def f(*args):
        calls.append(args)
        return args[0] * 10

    assert s.map(f) == tv.Some(20) and calls == [(2,)]
    assert s.filter(lambda v: v == 2) == s and s.filter(lambda v: v == 2) is not s
    assert s.filter(lambda v: []) == tv.Nothing
    assert s.unwrap() == 2 and s.unwrap_or(Forbidden()) == 2
    assert s.unwrap_or_else(Forbidden()) == 2
    ok = s.ok_or(Forbidden())
    assert type(ok) is tv.Ok and ok.value == 2
    assert s.is_some() is True and s.is_none() is False
    with pytest.raises(Boom):
        s.map(lambda v: (_ for _ in ()).throw(Boom()))
    with pytest.raises(Boom):
        s.filter(lambda v: BoolRaises())


def test_nothing_methods(tv):
    n = tv.NothingType()
    for name in ("map", "and_then", "filter"):
        r = getattr(n, name)(Forbidden())
        assert type(r) is tv.NothingType and r is not n
    with pytest.raises(ValueError, match=r"^called `unwrap` on Nothing$"):
        n.unwrap()
    sentinel = object()
    assert n.unwrap_or(sentinel) is sentinel
    assert n.unwrap_or_else(lambda *a: a) == ()
    with pytest.raises(Boom):
        n.unwrap_or_else(lambda: (_ for _ in ()).throw(Boom()))
    err = n.ok_or(sentinel)
    assert type(err) is tv.Err and err.error is sentinel
    assert n.is_some() is False and n.is_none() is True


def test_and_then_contract(tv):
    class SubSome(tv.Some):
        pass

    nothing = tv.Nothing
    assert tv.Some(2).and_then(lambda v: nothing) is nothing
    r = tv.Some(2).and_then(lambda v: tv.Some(v + 1))
    assert r == tv.Some(3)
    sub = SubSome(5)
    assert tv.Some(2).and_then(lambda v: sub) is sub
    for bad in (lambda v: v, lambda v: None, lambda v: tv.Ok(v), lambda v: tv.Err(v)):
        with pytest.raises(TypeError, match=r"^and_then callback must return an Option$"):
            tv.Some(2).and_then(bad)
    with pytest.raises(Boom):
        tv.Some(2).and_then(lambda v: (_ for _ in ()).throw(Boom()))


def test_option_of(tv):
    assert tv.Option.of(None) == tv.Nothing and tv.Option.of(None) is not tv.Nothing
    assert tv.Option.of(0) == tv.Some(0) and tv.Option.of(0)
    inner = tv.Nothing
    assert tv.Option.of(inner).value is inner  # only None means absence


# ---- pattern matching, pickling, generics, subclassing ---------------------------------------


def describe(v, tv):
    match v:
        case tv.Some(tv.Some(x)):
            return ("nested", x)
        case tv.Some(x):
            return ("some", x)
        case tv.NothingType():
            return ("nothing",)
        case tv.Ok(value=x):
            return ("ok", x)
        case tv.Err(e):
            return ("err", e)
    return ("other",)


def test_match_statements(tv):
    assert describe(tv.Some(1), tv) == ("some", 1)
    assert describe(tv.Some(tv.Some(2)), tv) == ("nested", 2)
    assert describe(tv.Option.of(None), tv) == ("nothing",)
    assert describe(tv.Ok(3), tv) == ("ok", 3)
    assert describe(tv.Err("e"), tv) == ("err", "e")
    assert describe(3, tv) == ("other",)


@pytest.mark.parametrize("proto", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickle_roundtrip(tv, proto):
    values = [tv.Some(1), tv.Some([1, {"a": tv.Nothing}]), tv.Nothing, tv.Ok((1, 2)),
              tv.Err(ValueError("x")), tv.Some(tv.Err(tv.Ok(None)))]
    for v in values:
        back = pickle.loads(pickle.dumps(v, proto))
        assert type(back) is type(v)
        if isinstance(v, tv.Err):
            assert type(back.error) is ValueError and back.error.args == ("x",)
        else:
            assert back == v
    n = pickle.loads(pickle.dumps(tv.Nothing, proto))
    assert type(n) is tv.NothingType and n == tv.Nothing


def test_copy_and_deepcopy(tv):
    inner = [1, 2]
    for cls in (tv.Some, tv.Ok, tv.Err):
        v = cls(inner)
        c = copy.copy(v)
        assert type(c) is cls and c == v
        d = copy.deepcopy(v)
        assert type(d) is cls and d == v
        payload = d.error if cls is tv.Err else d.value
        assert payload is not inner
    n = copy.deepcopy(tv.Nothing)
    assert type(n) is tv.NothingType and n == tv.Nothing


def test_generic_aliases(tv):
    for cls in (tv.Some, tv.Ok, tv.Err, tv.Option, tv.Result):
        alias = cls[int]
        assert isinstance(alias, types.GenericAlias)
        assert alias.__origin__ is cls and alias.__args__ == (int,)

    def f(x: "tv.Some[int]") -> "tv.Err[str]":
        return x

    hints = typing.get_type_hints(f, localns={"tv": tv})
    assert hints["x"] == tv.Some[int] and hints["return"] == tv.Err[str]


class PickledSome(_tv.Some):  # module level, so that pickle can find it
    def __init__(self, value):
        self.extra = [1]


def test_subclasses(tv):
    class Named(tv.Some):
        def describe(self):
            return f"named {self.value}"

    n = Named(value=4)
    assert n.describe() == "named 4" and n == tv.Some(4) and tv.Some(4) == n
    assert n.map(lambda v: v + 1) == tv.Some(5) and type(n.map(lambda v: v)) is tv.Some
    n.extra = [1]  # subclasses get a dict, which copies carry along
    for c in (copy.copy(n), copy.deepcopy(n), pickle.loads(pickle.dumps(PickledSome(2)))):
        assert type(c) in (Named, PickledSome) and c.extra == [1]

    class Empty(tv.NothingType):
        pass

    assert Empty() == tv.Nothing and not Empty()
    assert type(tv.Some(1).and_then(lambda v: Empty())) is Empty


# ---- memory ----------------------------------------------------------------------------------


def test_deep_nesting_is_released_without_recursion(tv):
    v = tv.Nothing
    for _ in range(300_000):
        v = tv.Some(v)
    del v  # would overflow the C stack if released recursively
    v = tv.Ok(1)
    for i in range(300_000):
        v = tv.Err([v]) if i % 2 else tv.Some(v)
    del v


def test_cycles_are_collected(tv):
    class Payload:
        pass

    for cls in (tv.Some, tv.Ok, tv.Err):
        p = Payload()
        box = [p]
        v = cls(box)
        box.append(v)
        ref = weakref.ref(p)
        del p, box, v
        gc.collect()
        assert ref() is None
    assert gc.is_tracked(tv.Some([]))


def test_no_leaks(tv):
    s, n, f = tv.Some(1), tv.Nothing, (lambda v: v + 1)
    check_leaks(lambda: tv.Some(1).map(f).filter(bool).unwrap_or(0))
    check_leaks(lambda: tv.Option.of(None).map(f).unwrap_or_else(lambda: 0))
    check_leaks(lambda: (s.ok_or(1), n.ok_or(2), s.and_then(lambda v: n), repr(s), s == s,
                         n != s, s.is_some(), n.is_none(), tv.Some[int]))
    check_leaks(lambda: pickle.loads(pickle.dumps((s, n))))
    check_leaks(lambda: n.unwrap(), raises=ValueError)
    check_leaks(lambda: s.and_then(lambda v: v), raises=TypeError)
    check_leaks(lambda: tv.Some(EqRaises()) == tv.Some(1), raises=Boom)
    check_leaks(lambda: repr(tv.Some(ReprRaises())), raises=Boom)
    check_leaks(lambda: tv.Some(1, x=2), raises=TypeError)
    check_leaks(lambda: s.map(), raises=TypeError)


# ---- property: the methods against a short reference model -----------------------------------


def model(v, tv):
    return ("some", v.value) if isinstance(v, tv.Some) else ("nothing",)


@given(st.one_of(st.none(), st.integers()), st.integers(-3, 3))
def test_methods_match_model(tv, x, k):
    opt = tv.Option.of(x)
    present = x is not None
    assert model(opt, tv) == (("some", x) if present else ("nothing",))
    assert model(opt.map(lambda v: v + k), tv) == (("some", x + k) if present else ("nothing",))
    keep = present and x > k
    assert model(opt.filter(lambda v: v > k), tv) == (("some", x) if keep else ("nothing",))
    assert opt.unwrap_or(k) == (x if present else k)
    chained = opt.and_then(lambda v: tv.Option.of(v if v % 2 else None))
    assert model(chained, tv) == (("some", x) if present and x % 2 else ("nothing",))
    assert bool(opt) is present and opt.is_some() is present and opt.is_none() is not present

"""Ok / Err / Result.of."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

from leakcheck import check_leaks
from sources import Boom
from test_option import Forbidden, ReprRaises

def test_payload_attributes(tv):
    for cls, field in ((tv.Ok, "value"), (tv.Err, "error")):
        assert cls.__match_args__ == (field,)
        v = cls(**{field: [1]})
        assert getattr(v, field) == [1]
        with pytest.raises(AttributeError):
            setattr(v, field, 2)


def test_truth_and_repr(tv):
    assert tv.Ok(0) and tv.Ok(None) and not tv.Err(None) and not tv.Err(1)
    assert repr(tv.Ok("a")) == "Ok('a')" and repr(tv.Err("x")) == "Err('x')"
    assert repr(tv.Err(tv.Ok(tv.Nothing))) == "Err(Ok(Nothing))"
    for cls in (tv.Ok, tv.Err):
        with pytest.raises(Boom):
            repr(cls(ReprRaises()))


def test_ok_methods(tv):
    ok = tv.Ok(3)
    assert ok.map(lambda v: v * 2) == tv.Ok(6)
    r = ok.map_err(Forbidden())
    assert r == ok and r is not ok and type(r) is tv.Ok
    assert ok.unwrap() == 3 and ok.unwrap_or(Forbidden()) == 3
    assert type(ok.ok()) is tv.Some and ok.ok().value == 3
    assert type(ok.err()) is tv.NothingType and ok.err() == tv.Nothing
    assert ok.is_ok() is True and ok.is_err() is False
    with pytest.raises(Boom):
        ok.map(lambda v: (_ for _ in ()).throw(Boom()))


def test_err_methods(tv):
    err = tv.Err("bad")
    for name in ("map", "and_then"):
        r = getattr(err, name)(Forbidden())
        assert type(r) is tv.Err and r.error == "bad" and r is not err
    assert err.map_err(str.upper) == tv.Err("BAD")
    sentinel = object()
    assert err.unwrap_or(sentinel) is sentinel
    assert type(err.ok()) is tv.NothingType
    assert err.err() == tv.Some("bad")
    assert err.is_ok() is False and err.is_err() is True
    with pytest.raises(ValueError) as info:
        err.unwrap()
    assert str(info.value) == "called `unwrap` on Err('bad')"
    exc = KeyError("k")
    with pytest.raises(ValueError, match=r"^called `unwrap` on Err\(KeyError\('k'\)\)$"):
        tv.Err(exc).unwrap()
    # The payload's own repr failure wins over the ValueError.
    with pytest.raises(Boom):
        tv.Err(ReprRaises()).unwrap()


def test_and_then_contract(tv):
    class MyErr(tv.Err):
        pass

    target = tv.Err(0)
    assert tv.Ok(1).and_then(lambda v: target) is target
    assert tv.Ok(1).and_then(lambda v: tv.Ok(v + 1)) == tv.Ok(2)
    sub = MyErr("e")
    assert tv.Ok(1).and_then(lambda v: sub) is sub
    for bad in (lambda v: v, lambda v: tv.Some(4), lambda v: tv.Nothing, lambda v: None):
        with pytest.raises(TypeError, match=r"^and_then callback must return a Result$"):
            tv.Ok(3).and_then(bad)


def test_result_of(tv):
    assert tv.Result.of(lambda: 5) == tv.Ok(5)
    r = tv.Result.of(lambda: 1 / 0)
    assert type(r) is tv.Err and type(r.error) is ZeroDivisionError
    assert r.error.__traceback__ is not None
    captured = Boom("x")

    def raise_it():
        raise captured

    assert tv.Result.of(raise_it).error is captured
    for exc in (KeyboardInterrupt, SystemExit, GeneratorExit):
        def raise_base(exc=exc):
            raise exc()

        with pytest.raises(exc):
            tv.Result.of(raise_base)


def test_result_of_captures_call_errors(tv):
    # Calling f with no arguments when it needs one fails with TypeError: an Exception.
    r = tv.Result.of(lambda x: x)
    assert type(r) is tv.Err and type(r.error) is TypeError
    with pytest.raises(TypeError, match=r"^Result.of\(\) missing 1 required"):
        tv.Result.of()


@given(st.integers(), st.booleans())
def test_chains_match_model(tv, x, fail):
    res = tv.Ok(x) if not fail else tv.Err(x)

    def g(v):
        return tv.Ok(v) if v % 2 else tv.Err(v)

    out = res.map(lambda v: v + 1).and_then(g).map_err(lambda e: -e)
    if fail:
        want = ("err", -x)
    else:
        want = ("ok", x + 1) if (x + 1) % 2 else ("err", -(x + 1))
    got = ("ok", out.value) if isinstance(out, tv.Ok) else ("err", out.error)
    assert got == want
    assert out.unwrap_or(None) == (want[1] if want[0] == "ok" else None)


def test_no_leaks(tv):
    ok, err, f = tv.Ok(1), tv.Err("e"), (lambda v: v)
    check_leaks(lambda: tv.Ok(1).map(f).and_then(lambda v: tv.Err(v)).map_err(f).unwrap_or(0))
    check_leaks(lambda: (ok.ok(), ok.err(), err.ok(), err.err(), ok.map_err(f), err.map(f),
                         ok == err, ok != ok, repr(err), tv.Ok[int]))
    check_leaks(lambda: tv.Result.of(lambda: 1 / 0))
    check_leaks(lambda: tv.Result.of(lambda: 1))
    check_leaks(lambda: err.unwrap(), raises=ValueError)
    check_leaks(lambda: tv.Err(ReprRaises()).unwrap(), raises=Boom)
    check_leaks(lambda: ok.and_then(f), raises=TypeError)

    def interrupt():
        raise KeyboardInterrupt

    check_leaks(lambda: tv.Result.of(interrupt), raises=KeyboardInterrupt)

import gc
import sys
import weakref

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks
from sources import Boom, on_small_stack


def pair(*args, **kwargs):
    return (args, kwargs)


class SubBoom(Boom):
    pass


def raiser(exc):
    def f(*_, **__):
        raise exc

    return f


# --- juxt ------------------------------------------------------------------------------------

POOL = [abs, str, repr, lambda x: x * 3, lambda x: -x, bool]


@given(st.lists(st.sampled_from(POOL), max_size=5), st.integers(-20, 20))
def test_juxt_matches_tuple_of_calls(tv, fs, x):
    expected = tuple(f(x) for f in fs)
    assert tv.juxt(*fs)(x) == expected
    assert tv.juxt(fs)(x) == expected
    assert tv.juxt(iter(fs))(x) == expected


def test_juxt_arguments(tv):
    assert tv.juxt(pair, pair)(1, k=2) == (((1,), {"k": 2}),) * 2
    assert tv.juxt()() == ()
    assert tv.juxt(pair)(1, 2) == (((1, 2), {}),)  # a single callable is not iterated
    with pytest.raises(TypeError, match="'int' object is not iterable"):
        tv.juxt(5)
    j = tv.juxt(5, 6)
    with pytest.raises(TypeError):
        j(1)


def test_juxt_stops_at_first_failure(tv):
    seen = []
    j = tv.juxt(seen.append, raiser(Boom), seen.append)
    with pytest.raises(Boom):
        j(1)
    assert seen == [1]


def test_juxt_iteration_error_propagates(tv):
    def gen():
        yield abs
        raise Boom

    with pytest.raises(Boom):
        tv.juxt(gen())


# --- complement ------------------------------------------------------------------------------

@pytest.mark.parametrize("value, expected", [
    (0, True), (None, True), ([], True), ("", True), (1, False), ([0], False), ("x", False),
])
def test_complement(tv, value, expected):
    c = tv.complement(lambda *a, **k: value)
    assert c() is expected
    assert c(1, k=2) is expected


def test_complement_raising_bool(tv):
    class Bad:
        def __bool__(self):
            raise Boom

    with pytest.raises(Boom):
        tv.complement(lambda: Bad())()
    with pytest.raises(Boom):
        tv.complement(raiser(Boom))()


# --- excepts ---------------------------------------------------------------------------------

@pytest.mark.parametrize("exc, raised, caught", [
    (ZeroDivisionError, ZeroDivisionError, True),
    (ArithmeticError, ZeroDivisionError, True),  # a subclass is caught
    (Boom, SubBoom, True),
    (SubBoom, Boom, False),
    ((KeyError, IndexError), IndexError, True),
    ((KeyError, IndexError), KeyError, True),
    ((KeyError, (ValueError, Boom)), SubBoom, True),
    ((KeyError, IndexError), ValueError, False),
    ((), ValueError, False),
    (5, ValueError, False),
])
def test_excepts_matching(tv, exc, raised, caught):
    without = tv.excepts(exc, raiser(raised("x")))
    with_handler = tv.excepts(exc, raiser(raised("x")), lambda e: ("handled", type(e), e.args))
    if caught:
        assert without(1) is None
        assert with_handler(1) == ("handled", raised, ("x",))
    else:
        with pytest.raises(raised):
            without(1)
        with pytest.raises(raised):
            with_handler(1)


def test_excepts_success_and_handler_errors(tv):
    assert tv.excepts(Boom, pair)(1, k=2) == ((1,), {"k": 2})
    assert tv.excepts(Boom, pair, None)(1) == ((1,), {})
    with pytest.raises(KeyError):
        tv.excepts(Boom, raiser(Boom), raiser(KeyError))()
    with pytest.raises(TypeError, match=r"excepts\(\) missing 1 required positional argument: 'func'"):
        tv.excepts(Boom)


def test_do(tv):
    seen = []
    x = object()
    assert tv.do(seen.append, x) is x
    assert seen == [x]
    with pytest.raises(Boom):
        tv.do(raiser(Boom), x)


def test_apply(tv):
    assert tv.apply(pair, 1, 2, k=3) == ((1, 2), {"k": 3})
    assert tv.apply(pair) == ((), {})
    assert tv.apply(func=pair, k=1) == ((), {"k": 1})
    with pytest.raises(TypeError, match=r"apply\(\) missing 1 required positional argument: 'func'"):
        tv.apply()
    assert tv.apply.__text_signature__ == "(func, *args, **kwargs)"


def test_flip_and_identity(tv):
    assert tv.flip(pair, 1, 2) == ((2, 1), {})
    x = object()
    assert tv.identity(x) is x
    with pytest.raises(TypeError, match=r"identity\(\) takes 1 positional arguments but 2 were given"):
        tv.identity(1, 2)


def test_types_are_internal(tv):
    for obj, name in [(tv.juxt(), "Juxt"), (tv.complement(abs), "Complement"),
                      (tv.excepts(Boom, abs), "Excepts")]:
        tp = type(obj)
        assert tp.__name__ == name and tp.__module__ == "tarvel._tarvel"
        assert not hasattr(tv, name)
        assert tp.__doc__ is None
        with pytest.raises(TypeError):
            tp()


@pytest.mark.parametrize("wrap", [
    lambda tv, f: tv.complement(f),
    lambda tv, f: tv.excepts(Boom, f),
    lambda tv, f: tv.juxt(f),
    lambda tv, f: tv.curry(f),
    lambda tv, f: tv.memoize(f),
])
def test_deep_nesting(tv, wrap):
    f = abs
    for _ in range(25_000):
        f = wrap(tv, f)
    # On a measured stack the innermost curry's signature lookup may be what runs out: the
    # interpreter's own parser reports that as MemoryError.
    stack_errors = (RecursionError, MemoryError) if sys.version_info >= (3, 14) else RecursionError
    with pytest.raises(stack_errors):
        on_small_stack(lambda: f(1))
    del f  # released without exhausting the C stack


# --- memory ----------------------------------------------------------------------------------

def test_leaks(tv):
    m = object()
    j = tv.juxt(pair, pair)
    check_leaks(lambda: j(m, k=m), watch=(m,))
    check_leaks(lambda: tv.juxt(pair, raiser(Boom))(m), watch=(m,), raises=Boom)
    check_leaks(lambda: tv.juxt([pair, pair])(m), watch=(m,))
    check_leaks(lambda: tv.juxt(5), raises=TypeError)
    check_leaks(lambda: tv.complement(pair)(m), watch=(m,))
    check_leaks(lambda: tv.complement(raiser(Boom))(m), watch=(m,), raises=Boom)
    check_leaks(lambda: tv.excepts(Boom, raiser(Boom("x")), pair)(m), watch=(m,))
    check_leaks(lambda: tv.excepts(Boom, raiser(Boom("x")))(m), watch=(m,))
    check_leaks(lambda: tv.excepts(KeyError, raiser(Boom("x")))(m), watch=(m,), raises=Boom)
    check_leaks(lambda: tv.do(pair, m), watch=(m,))
    check_leaks(lambda: tv.do(raiser(Boom), m), watch=(m,), raises=Boom)
    check_leaks(lambda: tv.apply(pair, m, k=m), watch=(m,))
    check_leaks(lambda: tv.apply(raiser(Boom), m, k=m), watch=(m,), raises=Boom)
    check_leaks(lambda: tv.flip(pair, m, 1), watch=(m,))
    check_leaks(lambda: tv.identity(m), watch=(m,))


@pytest.mark.parametrize("wrap", [
    lambda tv, n: tv.juxt(n),
    lambda tv, n: tv.complement(n),
    lambda tv, n: tv.excepts(Boom, abs, n),
    lambda tv, n: tv.excepts(n, abs),
])
def test_cycles_are_collected(tv, wrap):
    class Node:
        def __call__(self, *a):
            return a

    n = Node()
    n.w = wrap(tv, n)
    ref = weakref.ref(n)
    del n
    gc.collect()
    assert ref() is None

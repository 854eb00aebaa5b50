import collections
import functools
import gc
import sys
import weakref

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks
from sources import Boom, outcome

POOL = [abs, str, len, repr, lambda x: x * 2, lambda x: [x], lambda x: (x, x), hash]
funcs = st.lists(st.sampled_from(POOL), max_size=5)
values = st.one_of(st.integers(-50, 50), st.text(max_size=4))


def ref_compose_left(fs):
    return lambda x: functools.reduce(lambda acc, f: f(acc), fs, x)


@given(funcs, values)
def test_compose_matches_reduce(tv, fs, x):
    expected = outcome(lambda: ref_compose_left(fs)(x))
    assert outcome(lambda: tv.compose_left(*fs)(x)) == expected
    assert outcome(lambda: tv.compose(*reversed(fs))(x)) == expected
    assert outcome(lambda: tv.pipe(x, *fs)) == expected
    assert outcome(lambda: tv.thread_first(x, *fs)) == expected
    assert outcome(lambda: tv.thread_last(x, *fs)) == expected


def pair(*args, **kwargs):
    return (args, kwargs)


def test_keywords_reach_only_the_first_applied(tv):
    assert tv.compose(str, pair)(1, k=2) == str(((1,), {"k": 2}))
    assert tv.compose_left(pair, str)(1, k=2) == str(((1,), {"k": 2}))
    assert tv.compose(pair)(1, 2, k=3) == pair(1, 2, k=3)
    assert tv.compose(pair, pair)(1, 2) == (((((1, 2), {}),), {}))


def test_identity_when_empty(tv):
    for make in (tv.compose, tv.compose_left):
        ident = make()
        x = object()
        assert ident(x) is x
        assert ident.__name__ == "identity"
        assert ident.__text_signature__ == "(x)"
    assert type(tv.compose(abs)).__name__ == "Compose"
    with pytest.raises(TypeError):
        type(tv.compose(abs))()


def test_pipe_and_threading_return_value_itself(tv):
    x = object()
    assert tv.pipe(x) is x
    assert tv.thread_first(x) is x
    assert tv.thread_last(x) is x


Form = collections.namedtuple("Form", "func arg")


@pytest.mark.parametrize("forms, first, last", [
    ([(pair, 10)], ((1, 10), {}), ((10, 1), {})),
    ([(pair, 10, 20)], ((1, 10, 20), {}), ((10, 20, 1), {})),
    ([(pair,)], ((1,), {}), ((1,), {})),
    ([Form(pair, 10)], ((1, 10), {}), ((10, 1), {})),
    ([(pair,) + tuple(range(12))], ((1,) + tuple(range(12)), {}),
     (tuple(range(12)) + (1,), {})),
])
def test_thread_forms(tv, forms, first, last):
    assert tv.thread_first(1, *forms) == first
    assert tv.thread_last(1, *forms) == last


def test_thread_mixed(tv):
    sub = lambda a, b: a - b  # noqa: E731
    assert tv.thread_first(1, lambda x: x + 1, (sub, 10)) == -8
    assert tv.thread_last(1, lambda x: x + 1, (sub, 10)) == 8
    with pytest.raises(IndexError):
        tv.thread_first(1, ())
    with pytest.raises(IndexError):
        tv.thread_last(1, ())


def boom(*_):
    raise Boom


@pytest.mark.parametrize("call", [
    lambda tv: tv.compose(abs, boom)(1),
    lambda tv: tv.compose(boom, abs)(1),
    lambda tv: tv.pipe(1, abs, boom, abs),
    lambda tv: tv.thread_first(1, (boom, 2)),
    lambda tv: tv.thread_last(1, abs, boom),
])
def test_errors_propagate(tv, call):
    with pytest.raises(Boom):
        call(tv)


def test_not_callable_fails_on_call(tv):
    c = tv.compose(5)
    with pytest.raises(TypeError):
        c(1)


def test_deep_nesting_is_a_recursion_error(tv):
    c = abs
    for _ in range(sys.getrecursionlimit() * 200):
        c = tv.compose(c)
    with pytest.raises(RecursionError):
        c(1)


def test_binding_errors(tv):
    with pytest.raises(TypeError, match=r"pipe\(\) missing 1 required positional argument: 'data'"):
        tv.pipe()
    with pytest.raises(TypeError, match=r"compose\(\) got an unexpected keyword argument 'x'"):
        tv.compose(x=1)
    assert tv.thread_last.__text_signature__ == "(val, *forms)"


def test_leaks(tv):
    marker = object()
    c = tv.compose(pair, pair)
    check_leaks(lambda: c(marker, k=marker), watch=(marker,))
    check_leaks(lambda: tv.compose_left(abs, str)(-3))
    check_leaks(lambda: tv.compose(boom, pair)(marker), watch=(marker,), raises=Boom)
    check_leaks(lambda: tv.pipe(marker, pair, pair), watch=(marker,))
    check_leaks(lambda: tv.pipe(marker, pair, boom), watch=(marker,), raises=Boom)
    check_leaks(lambda: tv.thread_first(marker, (pair, marker), pair), watch=(marker,))
    check_leaks(lambda: tv.thread_last(marker, (pair, marker), boom), watch=(marker,),
                raises=Boom)
    check_leaks(lambda: tv.thread_last(marker, ()), watch=(marker,), raises=IndexError)
    check_leaks(lambda: tv.compose()(marker), watch=(marker,))


def test_cycles_are_collected(tv):
    class Node:
        def __call__(self, x):
            return x

    n = Node()
    n.c = tv.compose(n, abs)
    ref = weakref.ref(n)
    del n
    gc.collect()
    assert ref() is None

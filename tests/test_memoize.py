import collections
import gc
import inspect
import weakref

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks
from sources import Boom


def key_rule(func):
    """Reference model of the key rule chosen from the signature: 'single', 'plain' or
    'flexible'."""
    try:
        params = inspect.signature(func).parameters.values()
    except (ValueError, TypeError):
        return "flexible"
    P = inspect.Parameter
    required, varargs, flexible = 0, False, False
    for p in params:
        if p.kind == P.VAR_POSITIONAL:
            varargs = True
        if p.default is not P.empty:
            flexible = True
        elif p.kind in (P.KEYWORD_ONLY, P.VAR_KEYWORD):
            flexible = True
        elif p.kind in (P.POSITIONAL_ONLY, P.POSITIONAL_OR_KEYWORD):
            required += 1
    if flexible:
        return "flexible"
    return "single" if required == 1 and not varargs else "plain"


def ref_key(rule, args, kwargs):
    frozen = frozenset(kwargs.items()) if kwargs else None
    if rule == "single" and len(args) == 1 and not kwargs:
        return args[0]
    if rule == "flexible":
        return (args or None, frozen)
    return args if not kwargs else (args, frozen)


def one(x):
    return ("one", x)


def two(a, b):
    return ("two", a, b)


def star(a, *rest):
    return ("star", a, rest)


def dflt(x, y=0):
    return ("dflt", x, y)


def kwonly(a, *, k):
    return ("kwonly", a, k)


def varkw(a, **kw):
    return ("varkw", a, kw)


def posonly(a, /):
    return ("posonly", a)


FUNCS = [one, two, star, dflt, kwonly, varkw, posonly, max]

call_shapes = st.tuples(
    st.lists(st.integers(0, 3), max_size=3).map(tuple),
    st.dictionaries(st.sampled_from(["a", "b", "k", "x", "y", "z"]), st.integers(0, 3),
                    max_size=2),
)


@given(st.sampled_from(FUNCS), st.lists(call_shapes, max_size=6))
def test_keys_match_model(tv, func, calls):
    cache = {}
    m = tv.memoize(func, cache=cache)
    rule = key_rule(func)
    expected = {}
    for args, kwargs in calls:
        try:
            want = func(*args, **kwargs)
        except TypeError:
            want = TypeError
        key = ref_key(rule, args, kwargs)
        if want is TypeError:
            with pytest.raises(TypeError):
                m(*args, **kwargs)
        else:
            assert m(*args, **kwargs) == expected.setdefault(key, want)
    assert cache == expected


@pytest.mark.parametrize("func, args, kwargs, key", [
    (one, (1,), {}, 1),
    (one, (), {"x": 1}, ((), frozenset({("x", 1)}))),
    (two, (1, 2), {}, (1, 2)),
    (two, (1,), {"b": 2}, ((1,), frozenset({("b", 2)}))),
    (dflt, (1,), {}, ((1,), None)),
    (star, (1,), {}, (1,)),
    (max, (1, 2), {}, ((1, 2), None)),
])
def test_documented_keys(tv, func, args, kwargs, key):
    cache = {}
    tv.memoize(func, cache=cache)(*args, **kwargs)
    assert list(cache) == [key]


def test_equal_arguments_share_an_entry(tv):
    calls = []
    m = tv.memoize(lambda x: calls.append(x) or x)
    assert m(1) == 1 and m(1.0) == 1 and m(True) == 1
    assert calls == [1]


def test_failed_call_stores_nothing(tv):
    cache = {}
    m = tv.memoize(dflt, cache=cache)
    with pytest.raises(TypeError):
        m()
    assert cache == {}


def test_callers_cache_is_shared(tv):
    calls = []

    def f(x):
        calls.append(x)
        return x * 2

    cache = {5: "preset"}
    m = tv.memoize(f, cache=cache)
    assert m(5) == "preset"
    assert m(3) == 6 and cache[3] == 6
    cache.clear()
    assert m(3) == 6
    assert calls == [3, 3]


def test_cache_must_be_a_dict(tv):
    with pytest.raises(TypeError, match="'list' object is not an instance of 'dict'") as info:
        tv.memoize(one, cache=[])
    assert info.value.__notes__ == ["while processing 'cache'"]
    tv.memoize(one, cache=collections.defaultdict(int))


def test_key_function(tv):
    seen = []

    def key(args, kwargs):
        seen.append((args, kwargs))
        return args[0]

    m = tv.memoize(varkw, key=key)
    assert m(1) == ("varkw", 1, {})
    assert m(1, z=2) == ("varkw", 1, {})  # keywords do not take part in this key
    assert seen == [((1,), None), ((1,), {"z": 2})]


@pytest.mark.parametrize("key, error", [
    (lambda a, k: (_ for _ in ()).throw(Boom()), Boom),
    (lambda a, k: [a], TypeError),
    (lambda a, k: {}, TypeError),
])
def test_hostile_key_functions(tv, key, error):
    cache = {}
    calls = []
    m = tv.memoize(lambda x: calls.append(x), cache=cache, key=key)
    with pytest.raises(error):
        m(1)
    assert cache == {} and calls == []


def test_unhashable_arguments(tv):
    calls = []
    m = tv.memoize(lambda x: calls.append(x))
    with pytest.raises(TypeError):
        m([1])
    m2 = tv.memoize(lambda a, b: calls.append(a))
    with pytest.raises(TypeError):
        m2(1, b=[2])
    assert calls == []


def test_key_function_that_clears_the_cache(tv):
    cache = {}

    def key(args, kwargs):
        cache.clear()
        return args

    m = tv.memoize(lambda *a: sum(a), cache=cache, key=key)
    assert m(1, 2) == 3
    assert cache == {(1, 2): 3}


def test_reentrant_recursion(tv):
    calls = []

    def fib(n):
        calls.append(n)
        return n if n < 2 else mfib(n - 1) + mfib(n - 2)

    mfib = tv.memoize(fib)
    assert mfib(80) == 23416728348467685
    assert sorted(calls) == list(range(81))


def test_subclass_overrides_are_bypassed(tv):
    class Loud(dict):
        def __getitem__(self, k):
            raise AssertionError("read through __getitem__")

        def __setitem__(self, k, v):
            raise AssertionError("written through __setitem__")

        def __missing__(self, k):
            raise AssertionError("__missing__")

    cache = Loud()
    m = tv.memoize(one, cache=cache)
    assert m(1) == ("one", 1) and m(1) == ("one", 1)
    assert dict.__getitem__(cache, 1) == ("one", 1)


def test_ordered_dict_cache_stays_consistent(tv):
    class Ordered(collections.OrderedDict):
        armed = True

        def __setitem__(self, k, v):
            assert not Ordered.armed, "written through __setitem__"
            super().__setitem__(k, v)

    for cache in (collections.OrderedDict(), Ordered()):
        m = tv.memoize(one, cache=cache)
        Ordered.armed = True
        for x in (3, 1, 2, 1):
            m(x)
        Ordered.armed = False  # OrderedDict.copy writes through it
        assert list(cache) == [3, 1, 2]
        assert list(cache.items()) == [(x, ("one", x)) for x in (3, 1, 2)]
        assert dict(cache.copy()) == {x: ("one", x) for x in (3, 1, 2)}
        cache.move_to_end(3)
        assert cache.popitem(last=False) == (1, ("one", 1))
        assert list(cache) == [2, 3]


def test_leaks(tv):
    m = object()
    memo = tv.memoize(one)
    check_leaks(lambda: memo(m), watch=(m,))
    check_leaks(lambda: tv.memoize(one)(m), watch=(m,))
    check_leaks(lambda: tv.memoize(two)(m, b=m), watch=(m,))
    check_leaks(lambda: tv.memoize(dflt)(m), watch=(m,))
    check_leaks(lambda: tv.memoize(one, key=lambda a, k: a)(m), watch=(m,))
    check_leaks(lambda: tv.memoize(one)([m]), watch=(m,), raises=TypeError)
    check_leaks(lambda: tv.memoize(lambda x: 1 / 0)(m), watch=(m,), raises=ZeroDivisionError)
    check_leaks(lambda: tv.memoize(one, cache=[m]), watch=(m,), raises=TypeError)
    od = collections.OrderedDict()
    check_leaks(lambda: tv.memoize(one, cache=od)(m) and od.clear(), watch=(m,))


def test_cycles_are_collected(tv):
    class Node:
        def __call__(self, x):
            return self

    n = Node()
    n.m = tv.memoize(n)
    n.m(1)  # the cache now holds n as well
    ref = weakref.ref(n)
    del n
    gc.collect()
    assert ref() is None

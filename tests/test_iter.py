"""Iter: each method against the module function it stands for, plus what only a wrapper can
get wrong (sharing one consumed iterator, re-entry from callbacks, deep nesting, leaks)."""

import array
import builtins
import functools
import gc
import operator

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks
from sources import Boom, Counting, raising_gen


def outcome(fn):
    try:
        return ("ok", fn())
    except Exception as e:  # the type and text must match on both sides
        return ("raise", type(e), str(e))


def lazy_outcome(make):
    """The call's outcome, then (when it succeeded) the outcome of reading the result."""
    first = outcome(make)
    if first[0] == "raise":
        return first
    return ("ok", outcome(lambda: list(first[1])))


def interpose_model(tv, seq, el):
    # The module function raises at the call for an empty input; the method yields nothing.
    try:
        return tv.interpose(el, seq)
    except StopIteration:
        return iter(())


# name, method arguments, the module-level equivalent (inner, *args), lazy?
CASES = [
    ("map", (str,), lambda tv, s, f: map(f, s), True),
    ("filter", (bool,), lambda tv, s, f: filter(f, s), True),
    ("filter", (None,), lambda tv, s, f: filter(f, s), True),
    ("unique", (), lambda tv, s: tv.unique(s), True),
    ("unique", (repr,), lambda tv, s, k: tv.unique(s, k), True),
    ("take", (2,), lambda tv, s, n: tv.take(n, s), True),
    ("take", (0,), lambda tv, s, n: tv.take(n, s), True),
    ("drop", (1,), lambda tv, s, n: tv.drop(n, s), True),
    ("sliding_window", (2,), lambda tv, s, n: tv.sliding_window(n, s), True),
    ("sliding_window", (0,), lambda tv, s, n: tv.sliding_window(n, s), True),
    ("partition_all", (2,), lambda tv, s, n: tv.partition_all(n, s), True),
    ("flat_map", (lambda x: [x, x],), lambda tv, s, f: tv.mapcat(f, s), True),
    ("pluck", (0,), lambda tv, s, i: tv.pluck(i, s), True),
    ("pluck", ([0, 0],), lambda tv, s, i: tv.pluck(i, s), True),
    ("interpose", ("-",), interpose_model, True),
    ("accumulate", (operator.add,), lambda tv, s, f: tv.accumulate(f, s), True),
    ("collect", (), lambda tv, s: list(s), False),
    ("reduce", (operator.add,), lambda tv, s, f: functools.reduce(f, s), False),
    ("reduce", (operator.add, ""), lambda tv, s, f, i: functools.reduce(f, s, i), False),
    ("count", (), lambda tv, s: tv.count(s), False),
    ("frequencies", (), lambda tv, s: tv.frequencies(s), False),
    ("group_by", (len,), lambda tv, s, k: tv.groupby(k, s), False),
    ("group_by", (0,), lambda tv, s, k: tv.groupby(k, s), False),
    ("to_dict", (), lambda tv, s: dict(s), False),
    ("first", (), lambda tv, s: tv.first_opt(s), False),
    ("last", (), lambda tv, s: tv.last_opt(s), False),
    ("nth", (1,), lambda tv, s, n: tv.nth_opt(n, s), False),
    ("nth", (9,), lambda tv, s, n: tv.nth_opt(n, s), False),
]

# Fresh inputs per use: iterators are consumed, and the failing ones fail part-way.
SOURCES = {
    "list": lambda: ["ab", "c", "ab", "de"],
    "empty": lambda: [],
    "tuple": lambda: ("x", "yz"),
    "iterator": lambda: iter(["ab", "c", "ab"]),
    "generator": lambda: (w for w in ["pq", "r"]),
    "str": lambda: "abca",
    "ints": lambda: [3, 1, 3],
    "int array": lambda: array.array("q", [5, 5, 6]),
    "raising": lambda: raising_gen(["ab", "cd"]),
    "not iterable": lambda: 5,
}


@pytest.mark.parametrize("source", list(SOURCES))
@pytest.mark.parametrize(
    "name, args, model, lazy", CASES, ids=[f"{c[0]}{c[1]!r}" for c in CASES])
def test_method_matches_module_function(tv, name, args, model, lazy, source):
    make = SOURCES[source]
    got_call = lambda: getattr(tv.Iter(make()), name)(*args)  # noqa: E731
    want_call = lambda: model(tv, make(), *args)  # noqa: E731
    check = lazy_outcome if lazy else outcome
    got, want = check(got_call), check(want_call)
    assert got == want
    if lazy and got[0] == "ok":
        assert type(got_call()) is tv.Iter


def test_lazy_methods_return_iters_that_chain(tv):
    it = tv.Iter(range(10)).filter(lambda x: x % 2).map(str).take(2)
    assert type(it) is tv.Iter and it.collect() == ["1", "3"]
    assert tv.Iter([3, 1, 3, 2]).unique().collect() == [3, 1, 2]
    assert list(tv.Iter([1, 2])) == [1, 2]
    assert tv.Iter([1, 2]).interpose(0).collect() == [1, 0, 2]
    assert tv.Iter([]).interpose(0).collect() == []


@pytest.mark.parametrize(
    "call, exc, text, note",
    [
        (lambda I: I([1]).reduce(operator.add, 1, 2), TypeError,
         "reduce takes at most 2 arguments", None),
        (lambda I: I([]).reduce(operator.add), TypeError, None, None),
        (lambda I: I([5]).nth(-1), OverflowError, None, "i"),
        (lambda I: I([5]).nth("1"), TypeError, None, "i"),
        (lambda I: I([5]).take(-1), OverflowError, None, "n"),
        (lambda I: I([5]).drop(1.5), TypeError, None, "n"),
        (lambda I: I([5]).sliding_window(-2), OverflowError, None, "n"),
        (lambda I: I([5]).partition_all(2 ** 64), OverflowError, None, "n"),
        (lambda I: I([5]).take(), TypeError, "Iter.take() missing 1 required positional "
         "argument: 'n'", None),
        (lambda I: I([5]).collect(1), TypeError,
         "Iter.collect() takes 0 positional arguments but 1 was given", None),
        (lambda I: I([5]).map(f=str, g=1), TypeError,
         "Iter.map() got an unexpected keyword argument 'g'", None),
        (lambda I: I(), TypeError, "Iter() missing 1 required positional argument: 'inner'",
         None),
        (lambda I: next(I([1])), TypeError, None, None),
        (lambda I: I(5).collect(), TypeError, None, None),
    ],
)
def test_argument_errors(tv, call, exc, text, note):
    with pytest.raises(exc) as info:
        call(tv.Iter)
    if text is not None:
        assert str(info.value) == text
    if note is not None:
        assert f"while processing '{note}'" in getattr(info.value, "__notes__", [])


def test_keywords_and_index_objects(tv):
    class Two:
        def __index__(self):
            return 2

    assert tv.Iter(range(5)).take(n=Two()).collect() == [0, 1]
    assert tv.Iter(range(5)).drop(Two()).collect() == [2, 3, 4]
    assert tv.Iter(inner=[4, 5]).nth(i=True).unwrap() == 5
    assert tv.Iter([1, -1]).unique(key=abs).collect() == [1]
    assert tv.Iter([1, 2]).reduce(binop=operator.sub) == -1


def test_class_surface(tv):
    I = tv.Iter
    assert I[int] is not I and I[int].__origin__ is I
    for absent in ("__next__", "__len__", "__length_hint__"):
        assert not hasattr(I, absent)
    assert I.__repr__ is object.__repr__
    assert I.__text_signature__ == "(inner)"
    assert I.nth.__text_signature__ == "($self, i)" and I.map.__doc__ is None
    with pytest.raises(TypeError):
        type("Sub", (I,), {})


def test_eagerness_carries_over(tv):
    src = Counting(range(10))
    it = tv.Iter(src)
    it.sliding_window(3)
    assert src.taken == 2  # the window is primed at the call
    it.interpose(0)
    it.map(str).filter(None).take(1)
    assert src.taken == 2  # nothing else reads before the first step
    tv.Iter(5).sliding_window(0).collect()  # n = 0 does not even ask for an iterator
    with pytest.raises(TypeError):
        tv.Iter(5).partition_all(0)  # ... but partition_all does
    for lazy in ("map", "filter"):
        with pytest.raises(TypeError):
            getattr(tv.Iter(5), lazy)(str)  # iter() at once


def test_consumed_iterator_is_shared_by_methods(tv):
    it = tv.Iter(iter([1, 2, 3, 4, 5]))
    assert it.first() == tv.Some(1)
    assert it.take(2).collect() == [2, 3]
    rest = it.map(str)
    assert it.last() == tv.Some(5)  # the map above reads the same iterator lazily
    assert rest.collect() == []
    assert it.count() == 0 and it.first() == tv.Nothing
    reusable = tv.Iter([1, 2])
    assert reusable.collect() == reusable.collect() == [1, 2]


def test_iter_used_from_inside_its_own_callback(tv):
    data = [3, 1, 2]
    it = tv.Iter(data)
    seen = []
    out = it.map(lambda x: (x, it.count(), it.first().unwrap())).collect()
    assert out == [(3, 3, 3), (1, 3, 3), (2, 3, 3)]
    # A lazy result advanced from its own step is refused, not corrupted.
    uniq = tv.Iter(data).unique(key=lambda x: seen.append(outcome(lambda: outer.collect())) or x)
    outer = uniq.map(str)
    assert outer.collect() == ["3", "1", "2"]
    assert seen and all(o[0] == "raise" and o[1] is ValueError for o in seen)
    # A shared iterator advanced by a callback of a method reading it.
    shared = tv.Iter(iter(range(6)))
    assert shared.map(lambda x: (x, shared.first().unwrap())).collect() == [
        (0, 1), (2, 3), (4, 5)]


def test_patched_builtins_are_what_runs(tv, monkeypatch):
    calls = []

    def fake_map(f, s):
        calls.append("map")
        return builtins.__dict__["filter"](None, s)

    monkeypatch.setattr(builtins, "map", fake_map)
    monkeypatch.setattr(builtins, "list", lambda s: ("list", tuple(s)))
    assert tv.Iter([0, 1]).map(str).collect() == ("list", (1,))
    assert calls == ["map"]
    monkeypatch.undo()
    monkeypatch.delattr(builtins, "dict")
    with pytest.raises(AttributeError):
        tv.Iter([]).to_dict()
    monkeypatch.undo()
    assert tv.Iter([("a", 1)]).to_dict() == {"a": 1}


@pytest.mark.parametrize("depth", [200_000])
def test_deep_chains_release_and_fail_without_recursion(tv, depth):
    nested = tv.Iter([1])
    for _ in range(depth):
        nested = tv.Iter(nested)
    with pytest.raises(RecursionError):
        nested.collect()  # iter() through every level is bounded, not a stack overflow
    del nested  # released iteratively
    chain = tv.Iter(range(3))
    for i in range(depth // 4):
        chain = [chain.unique, chain.accumulate, chain.interpose][i % 3](
            *([] if i % 3 == 0 else [operator.add] if i % 3 == 1 else [0]))
    del chain
    gc.collect()


def test_error_in_source_propagates_from_each_step(tv):
    it = tv.Iter(raising_gen([1, 2])).map(str)
    with pytest.raises(Boom):
        it.collect()
    with pytest.raises(Boom):
        tv.Iter(raising_gen([1, 2])).sliding_window(5)


@given(st.lists(st.integers(-5, 5), max_size=30), st.integers(0, 6), st.integers(0, 6))
def test_chains_match_plain_python(tv, xs, n, k):
    got = (tv.Iter(xs).map(lambda x: x * x).filter(lambda x: x % 2 == 0).unique()
           .drop(k).take(n).collect())
    seen, model = set(), []
    for x in (x * x for x in xs):
        if x % 2 == 0 and x not in seen:
            seen.add(x)
            model.append(x)
    assert got == model[k:k + n]
    assert tv.Iter(xs).partition_all(n or 1).flat_map(list).collect() == xs


LEAK_OPS = {
    "chain": (lambda I: I([1, 2, 3, 2]).map(abs).filter(None).unique().take(2).collect(), ()),
    "windows": (lambda I: I(iter([1, 2, 3])).sliding_window(2).partition_all(2).collect(), ()),
    "pluck": (lambda I: I([(1, 2), (3, 4)]).pluck([1, 0]).interpose(None).collect(), ()),
    "terminals": (lambda I: (I("abca").frequencies(), I([1, 2]).reduce(operator.add, 0),
                             I([(1, 2)]).to_dict(), I([1]).last(), I([1]).nth(3)), ()),
    "errors": (lambda I: I([1]).reduce(operator.add, 1, 2), TypeError),
    "bad n": (lambda I: I([1]).take(-1), OverflowError),
    "failing source": (lambda I: I(raising_gen([1])).accumulate(operator.add).collect(), Boom),
    "not iterable": (lambda I: I(5).flat_map(list), TypeError),
}


@pytest.mark.parametrize("name", list(LEAK_OPS))
def test_no_leaks(tv, name):
    op, raises = LEAK_OPS[name]
    payload = [object()]
    check_leaks(lambda: (op(tv.Iter), tv.Iter(payload).first()), raises=raises,
                watch=[payload[0]], repeat=1000)

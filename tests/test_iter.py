"""Iter: each method against the module function it stands for, plus what only a wrapper can
get wrong (sharing one consumed iterator, re-entry from callbacks, deep nesting, leaks)."""

import array
import builtins
import functools
import gc
import operator

import pytest
from leakcheck import check_leaks
from sources import Boom, Counting, outcome, raising_gen


def lazy_outcome(make):
    """The call's error, or (when it succeeded) the outcome of reading the result."""
    made = outcome(lambda: ("made", make()))
    if made[0] != "made":
        return made
    return ("read", outcome(lambda: list(made[1])))


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
    if lazy and got[0] == "read":
        assert type(got_call()) is tv.Iter


@pytest.mark.parametrize("call, exc, text", [
    (lambda I: I([1]).reduce(operator.add, 1, 2), TypeError, "reduce takes at most 2 arguments"),
    (lambda I: I([5]).nth(-1), OverflowError, "while processing 'i'"),
    (lambda I: I([5]).take("1"), TypeError, "while processing 'n'"),
    (lambda I: I([5]).partition_all(2 ** 64), OverflowError, "while processing 'n'"),
    (lambda I: next(I([1])), TypeError, "not an iterator"),
])
def test_argument_errors(tv, call, exc, text):
    with pytest.raises(exc) as info:
        call(tv.Iter)
    assert any(text in m for m in [str(info.value), *getattr(info.value, "__notes__", [])])


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
    assert seen and all(o[0] is ValueError for o in seen)
    # A shared iterator advanced by a callback of a method reading it.
    shared = tv.Iter(iter(range(6)))
    assert shared.map(lambda x: (x, shared.first().unwrap())).collect() == [
        (0, 1), (2, 3), (4, 5)]


def test_patched_builtins_are_what_runs(tv, monkeypatch):
    monkeypatch.setattr(builtins, "map", lambda f, s: iter(["patched"]))
    monkeypatch.setattr(builtins, "list", tuple)
    assert tv.Iter([0, 1]).map(str).collect() == ("patched",)
    monkeypatch.undo()
    saved, err = builtins.dict, None
    del builtins.dict  # a failed lookup propagates
    try:
        tv.Iter([]).to_dict()
    except AttributeError as e:
        err = e
    finally:
        builtins.dict = saved
    assert err is not None


def test_deep_chains_release_and_fail_without_recursion(tv):
    nested, chain = tv.Iter([1]), tv.Iter(range(3))
    for _ in range(200_000):
        nested = tv.Iter(nested)
    for _ in range(20_000):
        chain = chain.unique().accumulate(operator.add).interpose(0)
    with pytest.raises(RecursionError):
        nested.collect()  # iter() through every level is bounded, not a stack overflow
    del nested, chain  # both released iteratively, not by recursion
    gc.collect()


LEAK_OPS = {
    "lazy": (lambda I: I(iter([1, -2, 3, 1])).map(abs).filter(None).unique().take(3)
             .sliding_window(1).partition_all(2).flat_map(list).pluck(0).interpose(0)
             .accumulate(operator.add).drop(1).collect(), ()),
    "terminals": (lambda I: (I("abca").frequencies(), I([1, 2]).reduce(operator.add, 0),
                             I([(1, 2)]).to_dict(), I([1]).last(), I([1]).nth(3),
                             I("ab").group_by(ord), I([1]).count()), ()),
    "errors": (lambda I: I([1]).reduce(operator.add, 1, 2), TypeError),
    "bad n": (lambda I: I([1]).take(-1), OverflowError),
    "failing source": (lambda I: I(raising_gen([1])).accumulate(operator.add).collect(), Boom),
    "cycle": (lambda I: (lambda l: l.append(I(l)))([]), ()),
}


@pytest.mark.parametrize("name", list(LEAK_OPS))
def test_no_leaks(tv, name):
    op, raises = LEAK_OPS[name]
    payload = [object()]
    check_leaks(lambda: (op(tv.Iter), tv.Iter(payload).first()), raises=raises,
                watch=[payload[0]], repeat=1000)

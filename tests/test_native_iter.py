"""The generic native iterator: type, reentrancy guard, non-fusing steps, cyclic GC."""

import gc
import operator
import os
import subprocess
import sys
import weakref

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks
from sources import Scripted

VALUE_AND_OPT = {"Some", "NothingType", "Option", "Ok", "Err", "Result", "Nothing",
                 "first_opt", "last_opt", "nth_opt", "get_opt", "get_in_opt", "peek_opt"}


# Each maker builds a NativeIter whose every step runs `hook(x)` (a callback, or a source's
# __next__) on each element x of `data`, and otherwise passes the elements through.
def _via_remove(tv, data, hook):
    return tv.remove(lambda x: hook(x) and False, data)


def _via_accumulate(tv, data, hook):
    return tv.accumulate(lambda a, x: (hook(x), x)[1], data)


def _via_interleave(tv, data, hook):
    return tv.interleave([map(lambda x: (hook(x), x)[1], data)])


MAKERS = [_via_remove, _via_accumulate, _via_interleave]


def test_type_and_registration(tv):
    NI = tv.NativeIter
    assert NI.__module__ == "tarvel._tarvel" and NI.__name__ == "NativeIter"
    assert NI.__doc__ is None
    with pytest.raises(TypeError, match="cannot create"):
        NI()
    names = tv.__all__
    pos = names.index("NativeIter")
    assert set(names[:pos]) <= VALUE_AND_OPT
    assert not set(names[pos + 1:]) & VALUE_AND_OPT
    for it in (tv.remove(bool, []), tv.accumulate(operator.add, []), tv.interleave([]),
               tv.iterate(abs, 1)):
        assert type(it) is NI
        assert iter(it) is it
        assert operator.length_hint(it, 7) == 7
        assert not hasattr(it, "__length_hint__")


@pytest.mark.parametrize("make", MAKERS)
def test_reentry_caught_lets_the_outer_step_finish(tv, make):
    seen = []

    def hook(x):
        with pytest.raises(ValueError, match="^iterator already executing$"):
            next(box[0])
        seen.append(x)

    box = [None]
    box[0] = make(tv, [1, 2, 3], hook)
    assert list(box[0]) == [1, 2, 3]
    assert seen == ([2, 3] if make is _via_accumulate else [1, 2, 3])


@pytest.mark.parametrize("make", MAKERS)
def test_reentry_uncaught_is_the_steps_error_and_iterator_stays_usable(tv, make):
    calls = []

    def hook(x):
        calls.append(x)
        if x == 2 and calls.count(2) == 1:
            next(box[0])

    box = [None]
    box[0] = it = make(tv, Scripted([1, 2, 3]), hook)
    assert next(it) == 1
    with pytest.raises(ValueError, match="iterator already executing"):
        next(it)
    # The flag was given back: the iterator carries on after the error.
    assert list(it) == [3]


def test_reentry_from_a_source_iterator(tv):
    class Src:
        def __iter__(self):
            return self

        def __next__(self):
            with pytest.raises(ValueError, match="iterator already executing"):
                next(it)
            with pytest.raises(ValueError, match="iterator already executing"):
                list(it)
            raise StopIteration

    it = tv.remove(bool, Src())
    assert list(it) == []


@pytest.mark.parametrize("make", MAKERS)
def test_steps_are_not_fused_and_errors_leave_the_iterator_usable(tv, make):
    src = Scripted([1, KeyError("boom"), 2])
    it = make(tv, src, lambda x: None)
    assert next(it) == 1
    with pytest.raises(KeyError, match="boom"):
        next(it)
    assert next(it) == 2
    assert next(it, "end") == "end"
    if make is _via_interleave:
        # An exhausted inner iterator leaves the rotation: the end is final.
        src.items.append(3)
        assert next(it, "end") == "end"
    else:
        # The step asks its source again after the end.
        src.items.append(3)
        assert list(it) == [3]
        assert next(it, "end") == "end"


def test_generator_raising_on_third_element(tv):
    def gen():
        yield 1
        yield 2
        raise RuntimeError("third")

    it = tv.remove(lambda x: False, gen())
    assert [next(it), next(it)] == [1, 2]
    with pytest.raises(RuntimeError, match="third"):
        next(it)
    assert next(it, "end") == "end"  # the generator is asked again and has ended
    empty = tv.remove(bool, iter([]))
    assert list(empty) == []
    assert next(empty, "end") == "end"


class Sentinel:
    pass


class Endless:
    """An iterator that gives its `value` for ever. The cycle goes through the instance, not
    through a class made for the test: a free-threaded 3.13 makes every class immortal once
    a thread has started, and whatever a class's methods close over with it."""

    def __init__(self, value, hold):
        self.value = value
        self.hold = hold

    def __iter__(self):
        return self

    def __next__(self):
        return self.value


def _cycle_through_callback(tv, kind):
    s = Sentinel()
    box = []
    if kind == "iterate":
        it = tv.iterate(lambda x: (box, x)[1], s)
    elif kind == "accumulate":
        it = tv.accumulate(lambda a, b: (box, a)[0], [s, 1])
    elif kind == "remove":
        it = tv.remove(lambda x: box is None, [s])
    else:
        it = tv.interleave([Endless(box, s)])
    box.append(it)  # the callback (or inner iterator) now reaches its own iterator
    if kind != "interleave":
        next(it)  # iterate/accumulate keep the sentinel as their value
    return weakref.ref(s)


@pytest.mark.parametrize("kind", ["iterate", "accumulate", "remove", "interleave"])
def test_reference_cycles_through_steps_are_collected(tv, kind):
    ref = _cycle_through_callback(tv, kind)
    gc.collect()
    assert ref() is None


def test_collection_while_a_step_runs(tv):
    def pred(x):
        gc.collect()
        return x % 2

    assert list(tv.remove(pred, range(6))) == [0, 2, 4]


def test_deep_chains_are_released_without_exhausting_the_stack(tv):
    code = ("import tarvel._tarvel as t\n"
            "x = []\n"
            "for _ in range(200000):\n"
            "    x = t.remove(None, x)\n"
            "del x\n"
            "y = 0\n"
            "for _ in range(200000):\n"
            "    y = t.iterate(None, y)\n"
            "del y\n"
            "print('ok')\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         env=dict(os.environ), timeout=120)
    assert out.returncode == 0 and out.stdout.strip() == "ok", out.stderr


def test_abandoned_half_consumed_iterators_do_not_leak(tv):
    data = [object() for _ in range(10)]

    def op():
        for it in (tv.remove(lambda x: False, data), tv.accumulate(lambda a, b: b, data, 0),
                   tv.interleave([data, iter(data), tuple(data)]),
                   tv.iterate(lambda x: x, data[0])):
            next(it)
            next(it)

    check_leaks(op, watch=data)


# Every tool that reads its input through the element source, as a function of that input.
# Exact lists and tuples are read by index, anything else through its iterator: the three
# forms of one input must give the same outcome. (nth and tail index and slice sequences
# by contract, so they read a source only for other inputs.)
SOURCE_READERS = {
    "unique": lambda tv, s: list(tv.unique(s)),
    "interpose": lambda tv, s: list(tv.interpose(0, s)),
    "sliding_window": lambda tv, s: list(tv.sliding_window(2, s)),
    "partition": lambda tv, s: list(tv.partition(2, s, None)),
    "partition_all": lambda tv, s: list(tv.partition_all(3, s)),
    "pluck": lambda tv, s: list(tv.pluck(0, [(x,) for x in s])),
    "remove": lambda tv, s: list(tv.remove(lambda x: x % 2, s)),
    "accumulate": lambda tv, s: list(tv.accumulate(operator.add, s)),
    "interleave": lambda tv, s: list(tv.interleave([s, [7, 8]])),
    "diff": lambda tv, s: list(tv.diff(s, [1, 2, 3], default=None)),
    "join": lambda tv, s: list(tv.join(lambda x: x % 3, [0, 1, 4], lambda x: x % 3, s)),
    "topk": lambda tv, s: tv.topk(2, s),
    "count": lambda tv, s: tv.count(s),
    "second": lambda tv, s: tv.second(s),
    "first_opt": lambda tv, s: tv.first_opt(s),
    "last_opt": lambda tv, s: tv.last_opt(s),
    "nth_opt": lambda tv, s: tv.nth_opt(2, s),
    "frequencies": lambda tv, s: tv.frequencies(s),
    "groupby": lambda tv, s: tv.groupby(lambda x: x % 2, s),
    "get_in": lambda tv, s: tv.get_in(s, {0: {1: {2: "leaf"}}, 1: "one"}, "miss"),
}


def _outcome(f):
    try:
        return "ok", f()
    except Exception as e:  # noqa: BLE001 - the error is part of the outcome
        return type(e).__name__, str(e)


@pytest.mark.parametrize("name", sorted(SOURCE_READERS))
@given(xs=st.lists(st.integers(0, 5), max_size=12))
def test_list_tuple_and_iterator_inputs_agree(tv, name, xs):
    read = SOURCE_READERS[name]
    want = _outcome(lambda: read(tv, iter(xs)))
    assert _outcome(lambda: read(tv, list(xs))) == want
    assert _outcome(lambda: read(tv, tuple(xs))) == want
    assert _outcome(lambda: read(tv, (x for x in xs))) == want


# Lazy results over an exact list read it live, as its own iterator would: appends made
# before the end are seen, and once the end was reached the result stays exhausted.
LIVE_READERS = {
    "unique": lambda tv, s: tv.unique(s),
    "interpose": lambda tv, s: tv.interpose(0, s),
    "pluck": lambda tv, s: tv.pluck(0, s),
    "remove": lambda tv, s: tv.remove(lambda x: False, s),
    "partition_all": lambda tv, s: tv.partition_all(1, s),
    "interleave": lambda tv, s: tv.interleave([s]),
    "accumulate": lambda tv, s: tv.accumulate(lambda a, b: b, s),
}


@pytest.mark.parametrize("name", sorted(LIVE_READERS))
def test_list_sources_read_live_and_stay_exhausted(tv, name):
    def run(wrap):
        data = [(1,), (2,)]
        it = LIVE_READERS[name](tv, wrap(data))
        seen = [next(it)]
        data.append((3,))
        seen += list(it)
        data.append((4,))
        return seen, list(it)

    direct, through_iterator = run(lambda d: d), run(iter)
    assert direct == through_iterator
    assert direct[1] == [] and len(direct[0]) >= 3

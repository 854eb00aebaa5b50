"""The rows of the contract every lazy result and every callable object keeps.

A new tool adds one row here (and tests only what is specific to it elsewhere):

- LAZY_ROWS: `Lazy(name, make, model, ...)`. `make(tv, source)` builds the lazy result over
  the iterable `source`; `model(items)` is the list it must yield for the element list
  `items`, written as plainly as possible. The elements are small ints turned into the
  tool's input by `elem`.
- CALLABLE_ROWS: `Callable(name, make, model, calls)`. `make(tv)` builds the callable
  object; `model` is the plain function it must behave as on each argument tuple of
  `calls`. Everything in the row must pickle (module-level functions, operator, builtins).
"""

import itertools
import operator
from typing import Callable as Fn, NamedTuple

from sources import unique_model


class Lazy(NamedTuple):
    name: str
    make: Fn
    model: Fn
    elem: Fn = lambda x: x
    # Refuses to be re-entered ("iterator already executing"); the standard library's
    # iterators, which some tools return, do not guard themselves.
    guarded: bool = True
    # __length_hint__: "exact" for list sources, "bound" (never below what remains), None.
    hint: str = None
    # A source error leaves the result usable and loses nothing: iterating on after it
    # yields exactly the model. False for tools that drop what they had gathered, and for
    # the standard library's iterators, which end at an error.
    resumes: bool = True
    # Inputs shorter than this are not drawn (interpose raises at the call on an empty one).
    min_len: int = 0


def _interpose(items):
    return [y for i, x in enumerate(items) for y in ([x] if i == 0 else [0, x])]


def _windows(items, n=3):
    return [tuple(items[i:i + n]) for i in range(len(items) - n + 1)]


def _chunks(items, n=3, pad=None, keep="short"):
    out = [tuple(items[i:i + n]) for i in range(0, len(items), n)]
    if out and len(out[-1]) < n:
        if keep == "drop":
            out.pop()
        elif keep == "pad":
            out[-1] += (pad,) * (n - len(out[-1]))
    return out


def _mod3(x):
    return x % 3


def _pair(x):
    return (x, -x)


def _twice(x):
    return (x, x)


def _odd(x):
    return x % 2 == 1


_LEFT = [0, 1, 2, 4]


def _join(items):
    return [(l, x) for x in items for l in _LEFT if _mod3(l) == _mod3(x)]


def _diff(items):
    return [(x, i) for i, x in enumerate(items) if x != i]


def _merge_4(items):
    """items merged with [4]: the 4 goes before the first larger element (ties: items first)."""
    out, placed = [], False
    for x in items:
        if not placed and x > 4:
            out.append(4)
            placed = True
        out.append(x)
    return out if placed else out + [4]


def _it(tv, s):
    return tv.Iter(s)


LAZY_ROWS = [
    Lazy("unique", lambda tv, s: tv.unique(s), unique_model, hint="bound"),
    Lazy("unique key", lambda tv, s: tv.unique(s, key=_mod3),
         lambda xs: unique_model(xs, _mod3), hint="bound"),
    Lazy("interpose", lambda tv, s: tv.interpose(0, s), _interpose, hint="exact", min_len=1),
    Lazy("sliding_window", lambda tv, s: tv.sliding_window(3, s), _windows, hint="exact"),
    Lazy("partition", lambda tv, s: tv.partition(3, s),
         lambda xs: _chunks(xs, keep="drop"), resumes=False),
    Lazy("partition pad", lambda tv, s: tv.partition(3, s, None),
         lambda xs: _chunks(xs, keep="pad"), resumes=False),
    Lazy("partition_all", lambda tv, s: tv.partition_all(3, s), _chunks, resumes=False),
    Lazy("pluck", lambda tv, s: tv.pluck(1, s), lambda xs: [-x for x in xs],
         elem=_pair, hint="exact"),
    Lazy("pluck list", lambda tv, s: tv.pluck([1, 0], s), lambda xs: [(-x, x) for x in xs],
         elem=_pair),
    Lazy("remove", lambda tv, s: tv.remove(_odd, s), lambda xs: [x for x in xs if not _odd(x)]),
    Lazy("accumulate", lambda tv, s: tv.accumulate(operator.add, s),
         lambda xs: list(itertools.accumulate(xs))),
    Lazy("accumulate initial", lambda tv, s: tv.accumulate(operator.add, s, 10),
         lambda xs: list(itertools.accumulate(xs, initial=10))),
    Lazy("interleave", lambda tv, s: tv.interleave([s]), list),
    Lazy("take", lambda tv, s: tv.take(4, s), lambda xs: xs[:4], guarded=False,
         resumes=False),
    Lazy("drop", lambda tv, s: tv.drop(2, s), lambda xs: xs[2:], guarded=False,
         resumes=False),
    Lazy("take_nth", lambda tv, s: tv.take_nth(2, s), lambda xs: xs[::2],
         guarded=False, resumes=False),
    Lazy("cons", lambda tv, s: tv.cons(-1, s), lambda xs: [-1] + xs, guarded=False),
    Lazy("concat", lambda tv, s: tv.concat([s, [7]]), lambda xs: xs + [7], guarded=False),
    Lazy("concatv", lambda tv, s: tv.concatv(s, [7]), lambda xs: xs + [7], guarded=False),
    Lazy("mapcat", lambda tv, s: tv.mapcat(_twice, s),
         lambda xs: [y for x in xs for y in (x, x)], guarded=False, resumes=False),
    Lazy("join", lambda tv, s: tv.join(_mod3, _LEFT, _mod3, s), _join),
    Lazy("diff", lambda tv, s: tv.diff(s, range(30)), _diff),
    Lazy("merge_sorted", lambda tv, s: tv.merge_sorted(s, [4]), _merge_4, resumes=False),
    # Iter's lazy methods: the Iter iterates as the tool it wraps.
    Lazy("Iter.map", lambda tv, s: iter(_it(tv, s).map(_mod3)), lambda xs: list(map(_mod3, xs)),
         guarded=False),
    Lazy("Iter.filter", lambda tv, s: iter(_it(tv, s).filter(_odd)),
         lambda xs: [x for x in xs if _odd(x)], guarded=False),
    Lazy("Iter.unique", lambda tv, s: iter(_it(tv, s).unique(key=_mod3)),
         lambda xs: unique_model(xs, _mod3)),
    Lazy("Iter.take", lambda tv, s: iter(_it(tv, s).take(4)), lambda xs: xs[:4], guarded=False,
         resumes=False),
    Lazy("Iter.drop", lambda tv, s: iter(_it(tv, s).drop(2)), lambda xs: xs[2:], guarded=False,
         resumes=False),
    Lazy("Iter.sliding_window", lambda tv, s: iter(_it(tv, s).sliding_window(3)), _windows),
    Lazy("Iter.partition_all", lambda tv, s: iter(_it(tv, s).partition_all(3)), _chunks,
         resumes=False),
    Lazy("Iter.flat_map", lambda tv, s: iter(_it(tv, s).flat_map(_twice)),
         lambda xs: [y for x in xs for y in (x, x)], guarded=False, resumes=False),
    Lazy("Iter.pluck", lambda tv, s: iter(_it(tv, s).pluck(1)), lambda xs: [-x for x in xs],
         elem=_pair),
    Lazy("Iter.interpose", lambda tv, s: iter(_it(tv, s).interpose(0)), _interpose, min_len=1),
    Lazy("Iter.accumulate", lambda tv, s: iter(_it(tv, s).accumulate(operator.add)),
         lambda xs: list(itertools.accumulate(xs))),
]


class Callable(NamedTuple):
    name: str
    make: Fn
    model: Fn
    calls: list


def _excepts_model(x):
    try:
        return int(x)
    except ValueError as e:
        return str(e)


def _compose_model(x):
    return str(abs(x))


CALLABLE_ROWS = [
    Callable("curry", lambda tv: tv.curry(operator.add, 10), lambda x: 10 + x, [(1,), (-5,)]),
    Callable("flip", lambda tv: tv.flip(operator.sub), lambda a, b: b - a, [(1, 5), (7, 2)]),
    Callable("compose", lambda tv: tv.compose(str, abs), _compose_model, [(-3,), (4,)]),
    Callable("compose_left", lambda tv: tv.compose_left(abs, str), _compose_model, [(-3,)]),
    Callable("juxt", lambda tv: tv.juxt(abs, str), lambda x: (abs(x), str(x)), [(-2,), (5,)]),
    Callable("complement", lambda tv: tv.complement(bool), lambda x: not x, [(0,), (3,)]),
    Callable("excepts", lambda tv: tv.excepts(ValueError, int, str), _excepts_model,
             [("12",), ("x",)]),
    Callable("memoize", lambda tv: tv.memoize(abs), abs, [(-4,), (-4,), (2,)]),
]

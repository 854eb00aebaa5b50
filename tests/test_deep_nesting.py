"""Inputs nested far deeper than any real program builds must fail with RecursionError,
never by overflowing the C stack."""

import operator
import pickle

import pytest

from sources import on_small_stack

DEPTH = 100_000

# Each entry wraps an iterator in one more lazy level; draining the outermost pulls
# through every level.
LEVELS = {
    "remove": lambda tv, it: tv.remove(operator.not_, it),
    "accumulate": lambda tv, it: tv.accumulate(operator.add, it),
    "partition_all": lambda tv, it: map(operator.itemgetter(0), tv.partition_all(1, it)),
    "partition": lambda tv, it: map(operator.itemgetter(0), tv.partition(1, it)),
    "pluck": lambda tv, it: tv.pluck(0, map(lambda x: (x,), it)),
    "pluck default": lambda tv, it: tv.pluck([0], it, None),
    "unique": lambda tv, it: tv.unique(it),
    "interleave": lambda tv, it: tv.interleave([it]),
    "sliding_window": lambda tv, it: tv.sliding_window(1, it),
}


@pytest.mark.parametrize("name", sorted(LEVELS))
def test_deep_chain_raises_recursion_error(tv, name):
    wrap = LEVELS[name]
    it = iter(range(1, 4))
    for _ in range(DEPTH):
        it = wrap(tv, it)
    with pytest.raises(RecursionError):
        on_small_stack(lambda: list(it))
    del it  # releasing the chain must not overflow either


def test_shallow_chain_still_works(tv):
    it = iter(range(1, 6))
    for _ in range(50):
        it = tv.remove(operator.not_, tv.unique(it))
    assert list(it) == [1, 2, 3, 4, 5]


def test_deeply_nested_exception_tuple(tv):
    exc = ValueError
    for _ in range(DEPTH):
        exc = (exc,)
    with pytest.raises(RecursionError) as info:
        on_small_stack(tv.excepts(exc, lambda: 1 / 0))
    assert isinstance(info.value.__context__, ZeroDivisionError)
    # Nesting within reach still matches like the interpreter's own matching.
    assert tv.excepts((((KeyError,), ZeroDivisionError),), lambda: 1 / 0)() is None


def test_compose_of_nothing_pickles(tv):
    ident = pickle.loads(pickle.dumps(tv.compose()))
    assert ident(5) == 5
    assert pickle.loads(pickle.dumps(tv.compose_left()))("x") == "x"

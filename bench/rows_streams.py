"""Stream combinator rows."""

import collections
import functools
import itertools
import operator

import tarvel as tv
from harness import Row


def _consume(it):
    collections.deque(it, maxlen=0)


def _roundrobin(*iterables):
    # The round-robin recipe of the itertools documentation.
    iterators = map(iter, iterables)
    for num_active in range(len(iterables), 0, -1):
        iterators = itertools.cycle(itertools.islice(iterators, num_active))
        yield from map(next, iterators)


def _iterate_gen(f, x):
    while True:
        yield x
        x = f(x)


def rows():
    def accumulate_add():
        data = list(range(1_000_000))
        return (lambda: _consume(tv.accumulate(operator.add, data))), (
            lambda: _consume(itertools.accumulate(data, operator.add)))

    def accumulate_plain():
        data = list(range(1_000_000))
        return (lambda: _consume(tv.accumulate(operator.add, data))), (
            lambda: _consume(itertools.accumulate(data)))

    def remove_pred():
        data = list(range(1_000_000))
        pred = (lambda x: x % 3 == 0)
        return (lambda: _consume(tv.remove(pred, data))), (
            lambda: _consume(itertools.filterfalse(pred, data)))

    def interleave4():
        seqs = [list(range(250_000)) for _ in range(4)]
        return (lambda: _consume(tv.interleave(seqs))), (
            lambda: _consume(_roundrobin(*seqs)))

    def iterate_lambda():
        f = (lambda x: x + 1)
        return (lambda: _consume(itertools.islice(tv.iterate(f, 0), 1_000_000))), (
            lambda: _consume(itertools.islice(_iterate_gen(f, 0), 1_000_000)))

    def iterate_builtin(f, x):
        def setup():
            return (lambda: _consume(itertools.islice(tv.iterate(f, x), 1_000_000))), (
                lambda: _consume(itertools.islice(_iterate_gen(f, x), 1_000_000)))
        return setup

    return [
        Row("accumulate(add, list 1e6)", "itertools.accumulate(list, add)", accumulate_add, 0.9),
        Row("accumulate(add, list 1e6) [vs no func]", "itertools.accumulate(list)",
            accumulate_plain, 0.9, note="baseline adds with PyNumber_Add, no call at all"),
        Row("remove(pred, list 1e6)", "itertools.filterfalse(pred, list)", remove_pred, 0.9),
        Row("interleave(4 lists of 2.5e5)", "roundrobin recipe", interleave4, 2.0),
        Row("iterate(partial(add, 1), 0) first 1e6", "generator, islice 1e6",
            iterate_builtin(functools.partial(operator.add, 1), 0), 1.5),
        Row("iterate(operator.neg, 1) first 1e6", "generator, islice 1e6",
            iterate_builtin(operator.neg, 1), 1.5),
        Row("iterate(lambda x: x + 1, 0) first 1e6", "generator, islice 1e6", iterate_lambda, 1.5,
            note="the lambda's own frame dominates both sides"),
    ]

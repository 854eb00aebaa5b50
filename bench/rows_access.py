"""Element access rows."""

import collections
import itertools
import operator

import tarvel as tv
from harness import Row


def rows():
    def get_dict():
        d = {i: i for i in range(100)}
        return (lambda: tv.get(42, d)), (lambda: operator.getitem(d, 42))

    def get_many():
        seq = list(range(100))
        ig = operator.itemgetter(3, 50, 97)
        return (lambda: tv.get([3, 50, 97], seq)), (lambda: ig(seq))

    def nth_iter():
        data = list(range(1000))
        return (lambda: tv.nth(500, iter(data))), (
            lambda: next(itertools.islice(iter(data), 500, None)))

    def nth_iter50():
        data = list(range(100))
        return (lambda: tv.nth(50, iter(data))), (
            lambda: next(itertools.islice(iter(data), 50, None)))

    def tail_iter():
        data = list(range(10000))
        return (lambda: tv.tail(10, iter(data))), (
            lambda: collections.deque(iter(data), maxlen=10))

    def count_gen():
        n = 10000
        return (lambda: tv.count(x for x in range(n))), (lambda: sum(1 for _ in (x for x in range(n))))

    return [
        Row("get(k, d)", "operator.getitem(d, k)", get_dict, 0.83),
        Row("get([i, j, k], seq)", "operator.itemgetter(i, j, k)(seq)", get_many, 0.5,
            note="the index list is built per call; the getter once, outside the loop"),
        Row("nth(500, iterator)", "next(islice(it, 500, None))", nth_iter, None,
            note="the collections.abc.Sequence check costs ~0.3 us a call"),
        Row("nth(50, iterator)", "next(islice(it, 50, None))", nth_iter50, 1.0),
        Row("tail(10, iterator of 1e4)", "deque(it, maxlen=10)", tail_iter, 0.9),
        Row("count(generator of 1e4)", "sum(1 for _ in gen)", count_gen, 1.5,
            note="bounded by the generator's own step: 3.12+ runs the baseline's outer "
                 "generator inline (FOR_ITER_GEN)"),
    ]

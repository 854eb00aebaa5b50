"""Dedicated iterator rows: interpose, sliding windows and partitions, pluck."""

import collections
import itertools
import operator

import tarvel as tv
from harness import Row

N = 1_000_000


def _consume(it):
    collections.deque(it, maxlen=0)


def rows():
    def window_tee():
        data = list(range(N))

        def idiom():
            its = itertools.tee(data, 3)
            return zip(*(itertools.islice(it, i, None) for i, it in enumerate(its)))

        return (lambda: _consume(tv.sliding_window(3, data))), (lambda: _consume(idiom()))

    def window_mi():
        import more_itertools

        data = list(range(N))
        return (lambda: _consume(tv.sliding_window(3, data))), (
            lambda: _consume(more_itertools.windowed(data, 3)))

    def chunks_batched():
        data = list(range(N))
        return (lambda: _consume(tv.partition_all(4, data))), (
            lambda: _consume(itertools.batched(data, 4)))

    def chunks_islice():
        data = list(range(N))

        def idiom():
            it = iter(data)
            return iter(lambda: tuple(itertools.islice(it, 4)), ())

        return (lambda: _consume(tv.partition_all(4, data))), (lambda: _consume(idiom()))

    def pluck_tuples():
        data = [(i, i) for i in range(N)]
        return (lambda: _consume(tv.pluck(0, data))), (
            lambda: _consume(map(operator.itemgetter(0), data)))

    def interpose_gen():
        data = list(range(N))

        def gen(el, seq):
            it = iter(seq)
            for x in it:
                yield x
                break
            for x in it:
                yield el
                yield x

        return (lambda: _consume(tv.interpose(0, data))), (lambda: _consume(gen(0, data)))

    out = [
        Row("sliding_window(3, list of 1e6) [vs tee]", "zip(*islice(tee(seq, 3)))",
            window_tee, 1.2),
    ]
    try:
        import more_itertools  # noqa: F401

        out.append(Row("sliding_window(3, list of 1e6) [vs more-itertools]",
                       "more_itertools.windowed(seq, 3)",
                       window_mi, 3.0))
    except ImportError:
        pass
    if hasattr(itertools, "batched"):
        out.append(Row("partition_all(4, list of 1e6) [vs batched]", "itertools.batched(seq, 4)",
                       chunks_batched, 0.9))
    out += [
        Row("partition_all(4, list of 1e6) [vs islice]", "iter(lambda: tuple(islice(it, 4)), ())",
            chunks_islice, 3.0),
        Row("pluck(0, list of 1e6 tuples)", "map(itemgetter(0), seq)", pluck_tuples, 1.0),
        Row("interpose(0, list of 1e6)", "Python generator", interpose_gen, 2.0),
    ]
    return out

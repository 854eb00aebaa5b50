"""merge_sorted against heapq.merge itself: the merged stream, and the full trace of what
both read, which keys and comparisons they run and where they raise, must be the same."""

import heapq
import math
import threading

import pytest
from hypothesis import given, strategies as st


class V:
    """A value whose comparisons are logged; `bad` ones refuse < with anything else."""

    __slots__ = ("x", "bad", "log")

    def __init__(self, x, bad, log):
        self.x, self.bad, self.log = x, bad, log

    def __eq__(self, other):
        self.log.append(("eq", self.x, other.x))
        return self.x == other.x

    def __lt__(self, other):
        self.log.append(("lt", self.x, other.x))
        if self.bad != other.bad:
            raise TypeError("unorderable")
        return self.x < other.x

    __hash__ = None

    def __repr__(self):
        return f"V({self.x})"


def source(i, items, fail_at, log):
    """Input i: a generator that logs its reads and raises ValueError at `fail_at`."""
    def gen():
        for n, x in enumerate(items):
            log.append(("read", i, n))
            if n == fail_at:
                raise ValueError(f"input {i} failed")
            yield x
        log.append(("end", i))
    return gen()


def trace(merge, inputs, key_kind, log):
    """Everything `merge` makes visible, step by step, until two ends in a row."""
    def key(v):
        log.append(("key", v.x))
        if key_kind == "stop" and v.x % 5 == 4:
            raise StopIteration
        if key_kind == "raise" and v.x % 7 == 6:
            raise KeyError(v.x)
        return V(v.x // 2, v.bad, log)

    args = [source(i, items, fail, log) for i, (items, fail) in enumerate(inputs)]
    it = merge(*args, key=key) if key_kind else merge(*args)
    log.append(("made",))
    ends = 0
    while ends < 2:
        try:
            log.append(("out", next(it).x))
        except StopIteration:
            log.append(("stop",))
            ends += 1
        except Exception as e:
            log.append(("err", type(e).__name__, str(e), type(e.__cause__).__name__))
    return log


def build(raw, log):
    return [([V(x, bad, log) for x, bad in sorted(items)], fail) for items, fail in raw]


inputs_st = st.lists(
    st.tuples(
        st.lists(st.tuples(st.integers(0, 12), st.sampled_from([False] * 9 + [True])),
                 max_size=6),
        st.one_of(st.none(), st.integers(0, 6))),
    max_size=5)


@given(inputs_st, st.sampled_from([None, "plain", "stop", "raise"]))
def test_trace_matches_heapq(tv, raw, key_kind):
    logs = [], []
    expected = trace(heapq.merge, build(raw, logs[0]), key_kind, logs[0])
    got = trace(tv.merge_sorted, build(raw, logs[1]), key_kind, logs[1])
    assert got == expected


scalars = st.one_of(st.integers(-3, 3), st.integers(2**62, 2**62 + 2), st.floats(-2, 2),
                    st.just(math.nan), st.sampled_from(["a", "b", ""]), st.none())


def drain(it):
    out = []
    while True:
        try:
            out.append(next(it))
        except StopIteration:
            return out, None
        except Exception as e:
            return out, type(e)


@given(st.lists(st.lists(scalars, max_size=5), max_size=5), st.booleans())
def test_builtin_scalars_match_heapq(tv, seqs, keyed):
    """The native comparisons of ints, floats (NaN included) and strs, mixed with values
    that refuse to be ordered: same stream, same error at the same element."""
    def pre(s):
        try:
            return sorted(s)
        except TypeError:
            return s

    seqs = [pre(s) for s in seqs]
    kw = {"key": lambda x: x} if keyed else {}

    def same(a, b):
        return len(a) == len(b) and all(x is y or (x != x and y != y) for x, y in zip(a, b))

    out, err = drain(tv.merge_sorted(*seqs, **kw))
    ref, ref_err = drain(heapq.merge(*seqs, **kw))
    assert same(out, ref) and err is ref_err


def test_ties_keep_input_order(tv):
    a, b, c = [1.0, 2], [1, 2.0], [True, 2]
    assert [type(x) for x in tv.merge_sorted(a, b, c)] == [float, int, bool, int, float, int]


def test_lazy_until_first_next(tv):
    opened = []

    class Lazy:
        def __iter__(self):
            opened.append(1)
            return iter([1])

    it = tv.merge_sorted(Lazy(), 5)  # 5 is not iterable: found only when reading
    assert opened == []
    with pytest.raises(TypeError):
        next(it)
    assert opened == [1]
    assert list(it) == []


@pytest.mark.parametrize("patch", ["merge", "heapify"])
def test_replaced_library_is_called(tv, monkeypatch, patch):
    calls = []
    real = getattr(heapq, patch)

    def spy(*a, **k):
        calls.append(patch)
        return real(*a, **k)

    monkeypatch.setattr(heapq, patch, spy)
    assert list(tv.merge_sorted([1, 4], [2, 3], key=None)) == [1, 2, 3, 4]
    assert calls


def test_stop_iteration_in_first_sift_is_runtime_error(tv):
    class S(int):
        def __lt__(self, other):
            raise StopIteration

    for merge in (heapq.merge, tv.merge_sorted):
        with pytest.raises(RuntimeError, match="generator raised StopIteration") as e:
            next(merge([S(1)], [S(2)]))
        assert isinstance(e.value.__cause__, StopIteration)


# Around the one-digit boundary of ints, where a merge of plain ints changes how it compares.
EDGES = [-(2**30), -(2**30) + 1, -2, -1, 0, 1, 2**30 - 1, 2**30, 2**31, 2**62]


class LoggedInt(int):
    """An int whose == and < are logged to its thread's current log (tests may run in
    several threads at once)."""

    logs = threading.local()

    @classmethod
    def new_log(cls):
        cls.logs.current = []
        return cls.logs.current

    def __eq__(self, other):
        LoggedInt.logs.current.append(("eq", int(self), int(other)))
        return int(self) == int(other)

    def __lt__(self, other):
        LoggedInt.logs.current.append(("lt", int(self), int(other)))
        return int(self) < int(other)

    __hash__ = int.__hash__


int_inputs_st = st.lists(
    st.tuples(
        st.lists(st.tuples(st.one_of(st.sampled_from(EDGES), st.integers(-3, 3)),
                           st.sampled_from([False] * 5 + [True])), max_size=8),
        st.one_of(st.none(), st.integers(0, 8))),
    min_size=1, max_size=5)


@given(int_inputs_st, st.sampled_from([None, "same", "neg"]))
def test_int_merge_trace_matches_heapq(tv, raw, key_kind):
    """Plain ints that start a merge and logged ones arriving later, big and small: the
    stream, the reads and the comparisons after the first logged value are heapq's."""
    key = {"same": lambda x: x, "neg": lambda x: -int(x)}.get(key_kind)

    def run(merge):
        log = LoggedInt.new_log()
        inputs = []
        for items, fail in raw:
            items = sorted(items, key=lambda p: p[0] if key_kind != "neg" else -p[0])
            inputs.append(([LoggedInt(x) if logged else x for x, logged in items], fail))
        args = [source(i, items, fail, log) for i, (items, fail) in enumerate(inputs)]
        it = merge(*args, key=key) if key else merge(*args)
        out, err = [], None
        while err is None:
            try:
                x = next(it)
            except StopIteration:
                break
            except Exception as e:
                err = (type(e), str(e))
            else:
                out.append((type(x), int(x)))
                log.append(("out", int(x)))
        return out, err, log

    assert run(tv.merge_sorted) == run(heapq.merge)


@pytest.mark.parametrize("tail", [2**30, 2.5, "x", LoggedInt(7)])
def test_long_int_merge_then_other_kind(tv, tail):
    """Long runs of plain ints, then one input moves to a value of another kind: the merge
    goes on through the objects' own comparisons with the heap exactly where it was."""
    seqs = [list(range(i, 3000, 3)) for i in range(3)]
    seqs[1].append(tail)
    logs = []
    for merge in (tv.merge_sorted, heapq.merge):
        log = LoggedInt.new_log()
        out, err = drain(merge(*seqs))
        logs.append((log, [(type(x), int(x) if type(x) is LoggedInt else x)
                                     for x in out], err))
    assert logs[0] == logs[1]
    assert bool(logs[0][0]) == isinstance(tail, LoggedInt)

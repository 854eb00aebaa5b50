"""groupby, countby, reduceby: differential tests against short Python models over every
key form (callable, index, list of indices, mapping key) and input kind, plus hostile keys
and the leak check."""

import operator

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks


def model_key(key, x):
    if callable(key):
        return key(x)
    if isinstance(key, list):
        return tuple(x[k] for k in key)
    return x[key]


def model_groupby(key, seq):
    out = {}
    for x in seq:
        out.setdefault(model_key(key, x), []).append(x)
    return out


def model_countby(key, seq):
    out = {}
    for x in seq:
        k = model_key(key, x)
        out[k] = out.get(k, 0) + 1
    return out


_MISSING = object()


def model_reduceby(key, binop, seq, init=_MISSING):
    out = {}
    for x in seq:
        k = model_key(key, x)
        if k in out:
            out[k] = binop(out[k], x)
        elif init is _MISSING:
            out[k] = x
        else:
            out[k] = binop(init() if callable(init) else init, x)
    return out


# Key fields mix equal-but-distinct values (1, 1.0, True), NaN and colliding hashes.
fields = st.one_of(st.integers(-3, 3), st.sampled_from([1.0, True, -1, -2, float("nan"), "a"]))
records = st.lists(st.tuples(fields, fields, st.integers()), max_size=40)
keys = st.sampled_from([0, 1, -1, [0, 1], [], lambda r: r[0], lambda r: (r[1], r[0])])
kinds = st.sampled_from([list, tuple, iter])


def same(got, want):
    # Keys compared by identity order (the first occurrence is stored), values by ==.
    assert type(got) is dict
    assert len(got) == len(want)
    for (gk, gv), (wk, wv) in zip(got.items(), want.items()):
        assert gk is wk or (gk == wk and type(gk) is type(wk))
        assert gv == wv


@given(keys, records, kinds)
def test_groupby_countby_match_model(tv, key, recs, kind):
    # The model walks the same records, so key values built per call (tuples) compare by ==.
    same(tv.groupby(key, kind(recs)), model_groupby(key, recs))
    same(tv.countby(key, kind(recs)), model_countby(key, recs))
    groups = tv.groupby(key, kind(recs))
    assert all(type(v) is list for v in groups.values())
    assert all(a is b for a, b in zip([x for v in groups.values() for x in v],
                                      [x for v in model_groupby(key, recs).values() for x in v]))


@given(keys, records, kinds, st.sampled_from([_MISSING, 0, list, ()]))
def test_reduceby_matches_model(tv, key, recs, kind, init):
    binop = (lambda acc, x: acc + [x[2]]) if init is list else \
        (lambda acc, x: acc + (x[2],)) if init == () else \
        (lambda acc, x: (acc if isinstance(acc, int) else acc[2]) + x[2])
    args = () if init is _MISSING else (init,)
    same(tv.reduceby(key, binop, kind(recs), *args), model_reduceby(key, binop, recs, *args))


def test_examples_and_argument_errors(tv):
    assert tv.groupby(len, ["a", "bb", "c"]) == {1: ["a", "c"], 2: ["bb"]}
    assert tv.groupby("name", [{"name": "x"}]) == {"x": [{"name": "x"}]}
    got = tv.groupby(0, [(1, "a"), (1.0, "b")])
    assert type(next(iter(got))) is int and len(got[1]) == 2
    # A tuple key is one lookup, not a list of fields.
    assert tv.countby((0, 1), [{(0, 1): "k"}]) == {"k": 1}
    assert tv.groupby(0, []) == tv.countby(0, ()) == tv.reduceby(0, operator.add, iter([])) == {}
    calls = []
    tv.reduceby(0, lambda a, x: a, [(1,), (2,), (1,)], lambda: calls.append(1) or [])
    assert len(calls) == 2
    with pytest.raises(TypeError, match="reduceby takes at most 4 arguments"):
        tv.reduceby(0, operator.add, [], 0, 1)
    with pytest.raises(TypeError, match="unexpected keyword argument 'init'"):
        tv.reduceby(0, operator.add, [], init=0)
    with pytest.raises(IndexError):
        tv.groupby(0, [[1], []])
    with pytest.raises(IndexError):
        tv.countby(2**70, [(1,)])
    with pytest.raises(TypeError, match="unhashable"):
        tv.groupby(list, ["ab"])
    with pytest.raises(TypeError, match="not iterable"):
        tv.countby(0, 5)


class BadEq:
    """Equal hashes for every instance; == raises when armed (per instance, so tests run by
    several threads at once do not disarm each other's)."""

    def __init__(self, armed=True):
        self.armed = armed

    def __hash__(self):
        return 7

    def __eq__(self, other):
        if self.armed:
            raise RuntimeError("eq")
        return self is other


@pytest.mark.parametrize("tool", ["groupby", "countby"])
def test_hostile_keys(tv, tool):
    fn = getattr(tv, tool)
    with pytest.raises(RuntimeError, match="eq"):
        fn(lambda x: x, [BadEq(), BadEq()])

    # A key that shrinks or grows the list being walked: the walk ends where the list
    # ends, never past it.
    data = list(range(10))

    def shrinking(x):
        if data:
            data.pop()
        return x % 2

    got = fn(shrinking, data)
    assert sum(len(v) if tool == "groupby" else v for v in got.values()) == 5
    data2 = [0]

    def growing(x):
        if x < 5:
            data2.append(x + 1)
        return 0

    assert fn(growing, data2)[0] in ([0, 1, 2, 3, 4, 5], 6)

    # Index keys whose hash empties or refills the list being walked, while the walk reads
    # ahead of where it is.
    class Shrinks:
        def __init__(self, action):
            self.action = action

        def __hash__(self):
            self.action()
            return 1

    for action in (lambda: recs.clear(),
                   lambda: recs.extend([(0, 0)] * 3) if len(recs) < 40 else None,
                   lambda: recs.__setitem__(slice(None), [(2,)] * len(recs))):
        recs = [(Shrinks(action), i) for i in range(12)]
        n = len(recs)
        got = fn(0, recs)
        assert 1 <= sum(len(v) if tool == "groupby" else v for v in got.values()) <= max(n, len(recs))

    # A list key that shrinks while a record is being resolved.
    class Rec:
        def __getitem__(self, k):
            fields.clear()
            return k

    fields = [0, 1, 2]
    assert list(fn(fields, [Rec()])) == [(0,)]


def test_no_leaks(tv):
    recs = [(i % 5, str(i)) for i in range(200)]

    def gen():
        yield (1,)
        raise KeyError("gen")

    for fn in (tv.groupby, tv.countby, lambda k, s: tv.reduceby(k, operator.add, s, ())):
        check_leaks(lambda: fn(0, recs), watch=recs[:3], repeat=600)
        check_leaks(lambda: fn(lambda r: r[0], iter(recs)), watch=recs[:3], repeat=600)
        check_leaks(lambda: fn(0, gen()), raises=KeyError, repeat=600)
        check_leaks(lambda: fn(3, recs), raises=IndexError, repeat=600)
        check_leaks(lambda: fn([0, 5], recs), raises=IndexError, repeat=600)


@pytest.mark.parametrize("sizes", [[1], [2, 1], [4, 5, 3], [8, 9, 1, 16, 17], [64, 1, 65, 200]])
@pytest.mark.parametrize("kind", [list, tuple, iter])
def test_group_sizes_across_growth(tv, sizes, kind):
    # Groups of every size around the points where a group's storage grows, their members
    # interleaved: each list holds its own members, first to last, and nothing else.
    recs = [(g, i) for i in range(max(sizes)) for g, n in enumerate(sizes) if i < n]
    got = tv.groupby(0, kind(recs))
    same(got, model_groupby(0, recs))
    assert [len(v) for v in got.values()] == sizes
    assert all(a is b for a, b in zip([x for v in got.values() for x in v],
                                      [x for v in model_groupby(0, recs).values() for x in v]))


@pytest.mark.parametrize("start", [1, 12, 64, 65, 300])
def test_list_growing_under_the_walk(tv, start):
    # A key that appends to the list being walked: every element read, those added past
    # the room taken for the list at the start included, lands in its group in order.
    def run(groupby):
        data = list(range(start))

        def key(x):
            if len(data) < 900:
                data.append(len(data))
            return x % 7

        return groupby(key, data)

    assert run(tv.groupby) == run(model_groupby) != {}


def test_members_released_when_the_walk_fails(tv):
    # A failure after the groups have grown: every member taken so far is released, also
    # when releasing one runs code that groups again.
    recs = [(i % 3, i) for i in range(300)]

    class Reenter:
        def __del__(self):
            tv.groupby(0, recs[:50])

    def fails_late():
        yield (0, Reenter())
        yield from recs
        raise KeyError("late")

    check_leaks(lambda: tv.groupby(0, fails_late()), raises=KeyError, watch=recs[:3], repeat=200)
    check_leaks(lambda: tv.groupby(lambda r: r[2], recs), raises=IndexError, watch=recs[:3],
                repeat=200)


@pytest.mark.parametrize("kind", [list, tuple, iter])
@pytest.mark.parametrize("lead", [12_287, 12_288, 12_289, 14_000])
def test_groups_past_the_switch_to_the_result_dict(tv, kind, lead):
    # `lead` distinct keys first (around the count that moves the groups into the result
    # dict), then keys met before and equal keys of other types: every element lands in
    # the group of the first equal key, groups in order of first occurrence.
    xs = list(range(lead)) + [0, 1.0, True, 2**70, "a", "a", 5.0, 2**70] + list(range(lead, 0, -7))
    recs = [(x, i) for i, x in enumerate(xs)]
    want = model_groupby(0, recs)
    for got in (tv.groupby(0, kind(recs)), tv.groupby(lambda r: r[0], kind(recs))):
        same(got, want)
        assert all(a is b for a, b in zip(got, want))
    with pytest.raises(RuntimeError, match="eq"):
        tv.groupby(lambda x: x, kind(list(range(lead)) + [BadEq(), BadEq()]))


def test_groups_released_when_the_walk_fails_past_the_switch(tv):
    recs = [(i, i) for i in range(13_000)] + [(5,), (BadEq(), 0), (BadEq(), 1)]
    check_leaks(lambda: tv.groupby(0, recs), raises=RuntimeError, watch=recs[:3], repeat=20)


@pytest.mark.parametrize("kind", [list, tuple, iter])
def test_counts_past_the_switch_to_the_result_dict(tv, kind):
    # Mostly distinct keys move the counts into the result dict after the first 16k: the
    # answer must not change, first occurrences and equal-but-distinct keys included.
    from collections import Counter

    xs = list(range(20_000)) + [1.0, True, 2**70, "a", "a", 19_999.0, 2**70] + list(range(99))
    want = Counter(xs)
    for got in (tv.frequencies(kind(xs)), tv.countby(lambda x: x, kind(xs))):
        assert list(got.values()) == list(want.values())
        assert all(a is b for a, b in zip(got, want))
    with pytest.raises(RuntimeError, match="eq"):
        tv.frequencies(kind(list(range(17_000)) + [BadEq()]))

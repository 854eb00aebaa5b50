"""Stream combinators: concat, concatv, mapcat, interleave, iterate, accumulate, remove."""

import itertools
import operator

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks
from sources import Boom, Flaky, outcome

# --- reference models ----------------------------------------------------------------

_NO_INIT = object()


def ref_accumulate(binop, seq, initial=_NO_INIT):
    acc = _NO_INIT
    if initial is not _NO_INIT:
        acc = initial
        yield acc
    for x in seq:
        acc = x if acc is _NO_INIT else binop(acc, x)
        yield acc


def ref_remove(pred, seq):
    for x in seq:
        if not pred(x):
            yield x


def ref_interleave(seqs):
    its = [iter(s) for s in seqs]
    while its:
        for it in list(its):
            try:
                yield next(it)
            except StopIteration:
                its.remove(it)


def ref_iterate(f, x):
    while True:
        yield x
        x = f(x)


ints = st.lists(st.integers(-50, 50), max_size=30)
BINOPS = [operator.add, operator.sub, operator.mul, operator.or_, operator.xor, max,
          lambda a, b: a * 2 - b]


# --- the chain-based three -------------------------------------------------------------

@pytest.mark.parametrize("call, expected", [
    (lambda tv: tv.concat([[1, 2], (3,), iter([4])]), [1, 2, 3, 4]),
    (lambda tv: tv.concatv([1], [], [2]), [1, 2]),
    (lambda tv: tv.concatv(), []),
    (lambda tv: tv.mapcat(lambda x: [x, x], [1, 2]), [1, 1, 2, 2]),
    (lambda tv: tv.concat(x for x in ["ab", "c"]), ["a", "b", "c"]),
])
def test_chains(tv, call, expected):
    r = call(tv)
    assert type(r) is itertools.chain
    assert list(r) == expected


def test_chains_fail_lazily_for_inner_values(tv):
    with pytest.raises(TypeError):
        tv.concat(5)
    with pytest.raises(TypeError):
        tv.mapcat(len, 5)
    for r in (tv.concat([[1], 5]), tv.concatv([1], 5), tv.mapcat(lambda x: x, [[1], 5])):
        assert next(r) == 1
        with pytest.raises(TypeError, match="not iterable"):
            next(r)
    with pytest.raises(TypeError, match=r"concat\(\) missing 1 required positional argument: 'seqs'"):
        tv.concat()


# --- interleave --------------------------------------------------------------------------

def test_interleave_examples(tv):
    assert list(tv.interleave([[1, 2, 3], [4], [5, 6]])) == [1, 4, 5, 2, 6, 3]
    assert list(tv.interleave([])) == []
    assert list(tv.interleave([[], [], [1]])) == [1]
    with pytest.raises(TypeError):
        tv.interleave([[1], 5])
    with pytest.raises(TypeError):
        tv.interleave(5)


@given(st.lists(ints, max_size=6))
def test_interleave_matches_reference(tv, seqs):
    assert list(tv.interleave(seqs)) == list(ref_interleave(seqs))
    assert list(tv.interleave(iter([iter(s) for s in seqs]))) == list(ref_interleave(seqs))


def test_interleave_consumes_the_outer_iterable_at_the_call(tv):
    pulled = []

    def outer():
        for s in ([1, 2], [3]):
            pulled.append(s)
            yield s
        raise KeyError("outer")

    with pytest.raises(KeyError, match="outer"):
        tv.interleave(outer())
    assert len(pulled) == 2


def test_interleave_error_keeps_iterator_and_position(tv):
    it = tv.interleave([[1, 2, 3], Flaky(["f1", "f2"], fail_at={1}), "ab"])
    assert [next(it), next(it), next(it), next(it)] == [1, "f1", "a", 2]
    with pytest.raises(Boom):
        next(it)
    # The failing iterator stays in place and is asked again first.
    assert list(it) == ["f2", "b", 3]


def test_interleave_sees_appends_until_a_list_is_exhausted(tv):
    a, b = [1], [10, 20, 30]
    it = tv.interleave([a, b])
    assert next(it) == 1
    a.append(2)
    assert [next(it), next(it), next(it)] == [10, 2, 20]
    a.append(3)  # `a` was not yet found exhausted
    assert list(it) == [3, 30]
    a.append(4)
    b.append(40)
    assert next(it, "end") == "end"


# --- iterate -----------------------------------------------------------------------------

def test_iterate_examples(tv):
    assert list(tv.take(4, tv.iterate(lambda x: x * 2, 1))) == [1, 2, 4, 8]

    def f(x):
        if x == 4:
            raise ArithmeticError("third")
        return x * 2

    it = tv.iterate(f, 1)
    assert [next(it), next(it), next(it)] == [1, 2, 4]
    with pytest.raises(ArithmeticError, match="third"):
        next(it)
    assert next(it, "end") == "end" and next(it, "end") == "end"


@given(st.integers(-1000, 1000), st.sampled_from([operator.neg, abs, lambda x: x * 3 + 1,
                                                   lambda x: x // 2]),
       st.integers(0, 40))
def test_iterate_matches_reference(tv, x, f, n):
    assert list(tv.take(n, tv.iterate(f, x))) == list(itertools.islice(ref_iterate(f, x), n))


# --- accumulate --------------------------------------------------------------------------

def test_accumulate_examples(tv):
    add = operator.add
    assert list(tv.accumulate(add, [1, 2, 3])) == [1, 3, 6]
    assert list(tv.accumulate(add, [1, 2, 3], 10)) == [10, 11, 13, 16]
    assert list(tv.accumulate(add, [], 10)) == [10]
    assert list(tv.accumulate(add, [])) == []
    assert list(tv.accumulate(lambda a, b: (a, b), [1, 2], None)) == [None, (None, 1),
                                                                     ((None, 1), 2)]
    with pytest.raises(TypeError, match="^accumulate takes at most 3 arguments$"):
        tv.accumulate(add, [], 1, 2)
    with pytest.raises(TypeError, match="^accumulate takes at most 3 arguments$"):
        tv.accumulate(add, 5, 1, 2)  # counted before seq is touched
    with pytest.raises(TypeError, match="not iterable"):
        tv.accumulate(add, 5)


@given(ints, st.sampled_from(BINOPS), st.one_of(st.just(_NO_INIT), st.integers(-5, 5)))
def test_accumulate_matches_reference(tv, data, binop, initial):
    args = () if initial is _NO_INIT else (initial,)
    assert list(tv.accumulate(binop, data, *args)) == list(ref_accumulate(binop, data, *args))
    assert list(tv.accumulate(binop, iter(data), *args)) == list(
        ref_accumulate(binop, data, *args))


@pytest.mark.parametrize("binop", [operator.add, operator.sub, operator.mul, operator.and_,
                                   operator.or_, operator.xor])
@pytest.mark.parametrize("data", [["a", "b"], [[1], [2, 3]], [1.5, 2], [{1, 2}, {2, 3}],
                                  [1, "a"], [None, None]])
def test_accumulate_operator_builtins_behave_as_called(tv, binop, data):
    """Whatever the route to the number protocol, results and errors match a real call."""
    def outcome(make):
        try:
            return ("ok", list(make()))
        except TypeError as e:
            return ("err", str(e))

    assert outcome(lambda: tv.accumulate(binop, data)) == outcome(
        lambda: itertools.accumulate(data, binop))


class Int(int):
    def __add__(self, other):
        return ("sub", int(self), other)

    __radd__ = __add__


_edges = [0, 1, -1, 2**30 - 1, 2**30, -(2**30), 2**60 - 1, 2**60, -(2**60) + 1, -(2**60),
          2**62, 2**63 - 1, -(2**63), 2**64, -(2**90)]
_int_elements = st.one_of(st.sampled_from(_edges), st.integers(), st.booleans(),
                          st.integers(-9, 9).map(Int), st.just(1.5))


@given(st.lists(_int_elements, max_size=12), st.one_of(st.none(), st.sampled_from(_edges)))
def test_accumulate_add_over_ints_matches_the_number_protocol(tv, data, initial):
    """Sums of exact ints short and long, across the digit and 64-bit limits, beside bools,
    int subclasses with their own addition and floats."""
    rest = () if initial is None else (initial,)
    ours = outcome(lambda: list(tv.accumulate(operator.add, data, *rest)))
    ref = outcome(lambda: list(itertools.accumulate(data, operator.add, initial=initial)))
    assert ours == ref
    if isinstance(ref, list):
        assert [type(x) for x in ours] == [type(x) for x in ref]


def test_accumulate_runs_look_alikes_as_what_they_are(tv, monkeypatch):
    """Only the operator module's own builtins go straight to the number protocol: another
    function of the module (iadd extends a list in place), a patched-in replacement of the
    same name, and a builtin of another module are called."""
    import _operator

    real_add, calls = operator.add, []

    def fake_add(a, b):
        calls.append((a, b))
        return a - b

    monkeypatch.setattr(_operator, "add", fake_add)
    monkeypatch.setattr(operator, "add", fake_add)
    assert list(tv.accumulate(operator.add, [1, 2, 3])) == [1, -1, -4]
    assert calls == [(1, 2), (-1, 3)]
    assert list(tv.accumulate(real_add, [1, 2, 3])) == [1, 3, 6]

    first = [1]
    out = list(tv.accumulate(operator.iadd, [first, [2], [3]]))
    assert out == [[1, 2, 3]] * 3 and out[0] is first
    assert list(tv.accumulate(operator.concat, [[1], [2]])) == [[1], [1, 2]]
    assert list(tv.accumulate(pow, [2, 3, 2])) == [2, 8, 64]


def test_accumulate_with_operator_overloads(tv):
    class V:
        def __init__(self, v):
            self.v = v

        def __add__(self, other):
            return V(self.v + other)

        def __radd__(self, other):
            return V(other * 10 + self.v)

    out = list(tv.accumulate(operator.add, [1, V(2), 3]))
    assert [getattr(x, "v", x) for x in out] == [1, 12, 15]


def test_accumulate_failing_binop_keeps_the_accumulator(tv):
    def binop(a, b):
        if b == "bad":
            raise LookupError(b)
        return a + b

    it = tv.accumulate(binop, [1, 2, "bad", 3], 100)
    assert [next(it), next(it), next(it)] == [100, 101, 103]
    with pytest.raises(LookupError):
        next(it)
    assert list(it) == [106]


def test_accumulate_over_a_list_sees_appends_until_its_end(tv):
    data = [1, 2]

    def binop(a, b):
        if b == 2:
            data.append(3)
        return a + b

    it = tv.accumulate(binop, data)
    assert list(it) == [1, 3, 6]
    data.append(4)
    assert next(it, "end") == "end"


# --- remove ------------------------------------------------------------------------------

def test_remove_examples(tv):
    assert list(tv.remove(lambda x: x % 2, [1, 2, 3, 4])) == [2, 4]

    class NoTruth:
        def __bool__(self):
            raise ZeroDivisionError("truth")

    it = tv.remove(lambda x: NoTruth() if x == 2 else False, [1, 2, 3])
    assert next(it) == 1
    with pytest.raises(ZeroDivisionError, match="truth"):
        next(it)
    assert list(it) == [3]  # the element under test was dropped with the error
    with pytest.raises(TypeError, match="not iterable"):
        tv.remove(bool, 5)


@given(ints, st.sampled_from([lambda x: x % 3, lambda x: x > 0, lambda x: [x] * (x % 2),
                              bool, lambda x: None]))
def test_remove_matches_reference(tv, data, pred):
    assert list(tv.remove(pred, data)) == list(ref_remove(pred, data))


def test_remove_with_hostile_predicate(tv):
    data = list(range(10))

    def pred(x):
        if x == 3:
            del data[:]  # the source list shrinks under the running step
        return x % 2

    assert list(tv.remove(pred, data)) == [0, 2]

    data2 = [0, 1]

    def grow(x):
        if len(data2) < 6:
            data2.append(len(data2))
        return False

    assert list(tv.remove(grow, data2)) == [0, 1, 2, 3, 4, 5]


def test_stop_iteration_from_a_callback_ends_like_itertools(tv):
    def pred(x):
        if x == 2:
            raise StopIteration
        return False

    assert list(tv.remove(pred, [1, 2, 3])) == list(itertools.filterfalse(pred, [1, 2, 3]))


# --- leaks -------------------------------------------------------------------------------

def test_no_leaks(tv):
    data = [object() for _ in range(8)]
    nums = list(range(20))
    bad = object()

    def boom(*a):
        raise KeyError("x")

    ops = [
        lambda: list(tv.concat([data, data])),
        lambda: list(tv.concatv(data, data)),
        lambda: list(tv.mapcat(lambda x: (x, x), data)),
        lambda: list(tv.interleave([data, iter(data), []])),
        lambda: list(tv.take(5, tv.iterate(lambda x: x, bad))),
        lambda: list(tv.accumulate(operator.add, nums, 1)),
        lambda: list(tv.accumulate(lambda a, b: b, data)),
        lambda: list(tv.remove(lambda x: x is bad, data)),
    ]
    for op in ops:
        check_leaks(op, watch=(data[0], bad), repeat=500)
    failing = [
        lambda: tv.interleave([data, 5]),
        lambda: list(tv.concat([data, 5])),
        lambda: next(tv.accumulate(boom, data, 1)) and next(tv.accumulate(boom, data, 1)),
        lambda: list(tv.accumulate(boom, data)),
        lambda: list(tv.remove(boom, data)),
        lambda: list(tv.iterate(boom, bad)),
        lambda: tv.accumulate(boom, data, 1, 2),
        lambda: tv.remove(boom, 5),
    ]
    for op in failing:
        check_leaks(op, watch=(data[0], bad), raises=(KeyError, TypeError), repeat=500)

"""The contract of every lazy result and every callable object, over the rows of
contract_rows: the output matches the model whatever the source, a source error leaves the
result usable, re-entering it is refused, its length hint holds, nothing leaks (also when
abandoned or failing), and callables pickle."""

import copy
import operator
import pickle

import pytest
from hypothesis import given, strategies as st

from contract_rows import CALLABLE_ROWS, LAZY_ROWS
from leakcheck import check_leaks
from sources import Boom, Flaky, Reentrant, raising_gen

DATA = [3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7]

lazy = pytest.mark.parametrize("row", LAZY_ROWS, ids=[r.name for r in LAZY_ROWS])
guarded = pytest.mark.parametrize(
    "row", [r for r in LAZY_ROWS if r.guarded], ids=[r.name for r in LAZY_ROWS if r.guarded])
hinted = pytest.mark.parametrize(
    "row", [r for r in LAZY_ROWS if r.hint], ids=[r.name for r in LAZY_ROWS if r.hint])
callables = pytest.mark.parametrize("row", CALLABLE_ROWS, ids=[r.name for r in CALLABLE_ROWS])

SOURCES = {"list": list, "tuple": tuple, "iterator": iter, "generator": lambda xs: (x for x in xs)}


def shaped(values):
    """Values with their exact types, so that a list where a tuple belongs shows."""
    return [(type(v), v) for v in values]


def items_of(row, data):
    return [row.elem(x) for x in data]


@lazy
@pytest.mark.parametrize("kind", SOURCES)
@given(data=st.lists(st.integers(-4, 9), max_size=20))
def test_output_matches_model(tv, row, kind, data):
    if len(data) < row.min_len:
        return
    items = items_of(row, data)
    got = list(row.make(tv, SOURCES[kind](items)))
    assert shaped(got) == shaped(row.model(data))


@lazy
def test_error_then_resume(tv, row):
    items = items_of(row, DATA)
    it = row.make(tv, Flaky(items, fail_at={2, 3}))
    got, errors = [], 0
    while True:
        try:
            got.append(next(it))
        except Boom:
            errors += 1
            continue
        except StopIteration:
            break
    if row.resumes:
        assert errors == 2
        assert shaped(got) == shaped(row.model(DATA))
    else:
        assert errors >= 1
    assert next(it, "end") == "end"


@lazy
def test_error_from_a_finished_source_propagates(tv, row):
    items = items_of(row, DATA[:2])
    with pytest.raises(Boom):
        list(row.make(tv, raising_gen(items)))


@guarded
@pytest.mark.parametrize("hint", [False, True])
def test_reentrancy_is_refused(tv, row, hint):
    if hint and row.hint is None:
        pytest.skip("no length hint of its own")
    src = Reentrant(items_of(row, DATA), hint=hint)
    it = row.make(tv, src)
    src.target = it
    got = list(it)
    assert src.errors and set(src.errors) == {"iterator already executing"}
    assert shaped(got) == shaped(row.model(DATA))


@hinted
def test_length_hint(tv, row):
    it = row.make(tv, items_of(row, DATA))
    left = len(row.model(DATA))
    while True:
        h = operator.length_hint(it)
        assert isinstance(h, int) and h >= 0
        if row.hint == "exact":
            assert h == left
        else:
            assert h >= left
        if next(it, StopIteration) is StopIteration:
            break
        left -= 1
    assert operator.length_hint(it) == 0 or row.hint == "bound"


@lazy
def test_no_leaks(tv, row):
    # Elements that no one else holds, so that their reference counts mean something.
    items = items_of(row, [x + 1000 for x in DATA])
    watch = [items, items[0], items[-1]]
    check_leaks(lambda: list(row.make(tv, items)), watch=watch, repeat=1000)
    # Abandoned after one step, with its source iterator still holding the rest.
    check_leaks(lambda: next(row.make(tv, iter(items))), watch=watch, repeat=1000)
    check_leaks(lambda: list(row.make(tv, raising_gen(items[:2]))), raises=Boom, repeat=1000)


@callables
@pytest.mark.parametrize("clone", ["pickle", "deepcopy", "none"])
def test_callable_matches_model_and_pickles(tv, row, clone):
    f = row.make(tv)
    if clone == "pickle":
        f = pickle.loads(pickle.dumps(f))
    elif clone == "deepcopy":
        f = copy.deepcopy(f)
    for args in row.calls:
        assert f(*args) == row.model(*args)


@callables
def test_callable_does_not_leak(tv, row):
    f = row.make(tv)
    args = row.calls[-1]
    f(*args)  # a curry resolves its signature at its first call
    check_leaks(lambda: f(*args), watch=[f], repeat=1000)

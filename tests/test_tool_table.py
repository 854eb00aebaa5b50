"""Every public name against its row of tool_table: the sample gives its result, the
failing call raises, neither leaks (nor do the row's further error paths), and no length
hint promises more than the tool yields."""

import operator
import tracemalloc

import pytest

from leakcheck import check_leaks
from sources import outcome
from tool_table import TOOLS

names = pytest.mark.parametrize("name", sorted(TOOLS))
BOUNDED = [(name, i) for name in sorted(TOOLS) for i in range(len(TOOLS[name].at_most))]


def test_every_public_name_has_a_row(tv):
    assert sorted(set(tv.__all__) ^ set(TOOLS)) == []


def shaped(value):
    """The value with the exact types of its containers, so a list where a tuple belongs shows."""
    if isinstance(value, (list, tuple)):
        return type(value), [shaped(v) for v in value]
    return type(value), value


@names
def test_sample_and_failing_call(tv, name):
    row = TOOLS[name]
    assert shaped(row.sample(tv)) == shaped(row.expect)
    with pytest.raises(row.raises):
        row.fails(tv)


@names
def test_no_leaks(tv, name):
    row = TOOLS[name]
    check_leaks(lambda: (row.sample(tv), outcome(lambda: row.fails(tv), row.raises)),
                repeat=400)


MORE_LEAKS = [(name, i) for name in sorted(TOOLS) for i in range(len(TOOLS[name].leaks))]


@pytest.mark.parametrize("name,i", MORE_LEAKS, ids=[f"{n}-{i}" for n, i in MORE_LEAKS])
def test_no_leaks_on_more_paths(tv, name, i):
    call, raises = TOOLS[name].leaks[i]
    payload = object()
    d = {"a": payload, "b": {"c": [payload]}}
    check_leaks(lambda: call(tv, d), watch=[payload, d], raises=raises, repeat=800)


@pytest.mark.parametrize("name,i", BOUNDED, ids=[f"{n}-{i}" for n, i in BOUNDED])
def test_hint_never_promises_more_than_it_can_yield(tv, name, i):
    make, most = TOOLS[name].at_most[i]
    it = make(tv)
    assert operator.length_hint(it) <= most
    next(it)
    assert operator.length_hint(it) <= most
    it = make(tv)
    tracemalloc.start()
    try:
        got = list(it)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert len(got) <= most
    # A list of `most` pointers plus room for its elements: a hint that promised every
    # remaining element shows as a list sized for the whole input.
    assert peak < 8 * most + (256 << 10), f"peak {peak} bytes for at most {most} elements"

"""Integer-buffer recognition, observed through the iterator type unique() picks and through
the keys frequencies() returns, plus the native paths over every element width."""

import array
import ctypes
import sys
from collections import Counter

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks

# Debug interpreters have no NumPy build to load.
np = pytest.importorskip("numpy")

INT_ITER = "UniqueIntIter"
GEN_ITER = "UniqueIter"


def _misaligned_q():
    raw = bytearray(8 * 4 + 1)
    return memoryview(raw)[1:].cast("q")


def _case_table():
    cases = [
        ("bytes", lambda: b"abca", INT_ITER),
        ("bytearray", lambda: bytearray(b"abca"), INT_ITER),
        ("memoryview-B", lambda: memoryview(b"abca"), INT_ITER),
        ("memoryview-c", lambda: memoryview(b"abca").cast("c"), GEN_ITER),
        ("memoryview-q", lambda: memoryview(array.array("q", [3, 1, 3])).cast("B").cast("q"),
         INT_ITER),
        ("memoryview-strided", lambda: memoryview(array.array("q", range(10)))[::2], GEN_ITER),
        ("memoryview-misaligned-q", _misaligned_q, GEN_ITER),
        ("array-d", lambda: array.array("d", [1.0, 1.0]), GEN_ITER),
        ("array-f", lambda: array.array("f", [1.0]), GEN_ITER),
        ("array-unicode", lambda: array.array("w" if sys.version_info >= (3, 13) else "u", "ab"),
         GEN_ITER),
        ("numpy-bool", lambda: np.array([True, False, True]), GEN_ITER),
        ("numpy-float", lambda: np.array([1.5, 1.5]), GEN_ITER),
        ("numpy-2d", lambda: np.arange(6, dtype=np.int64).reshape(2, 3), GEN_ITER),
        ("numpy-strided", lambda: np.arange(10, dtype=np.int64)[::2], GEN_ITER),
        ("numpy-big-endian", lambda: np.arange(5, dtype=">i8"), GEN_ITER),
        ("numpy-little-endian", lambda: np.arange(5, dtype="<i8"), INT_ITER),
        ("numpy-big-endian-u2", lambda: np.arange(5, dtype=">u2"), GEN_ITER),
        # ctypes exports no strides, which disqualifies it whatever its format.
        ("ctypes-int-no-strides", lambda: (ctypes.c_int * 3)(1, 2, 1), GEN_ITER),
        ("list", lambda: [1, 2, 1], GEN_ITER),
        ("str", lambda: "abca", GEN_ITER),
    ]
    for tc in "bBhHiIlLqQ":
        cases.append((f"array-{tc}", lambda tc=tc: array.array(tc, [3, 1, 3, 2]), INT_ITER))
    for dt in ("int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64"):
        cases.append((f"numpy-{dt}", lambda dt=dt: np.array([3, 1, 3, 2], dtype=dt), INT_ITER))
    return cases


CASES = _case_table()


@pytest.mark.parametrize("name,make,expected", CASES, ids=[c[0] for c in CASES])
def test_recognition_and_results(tv, name, make, expected):
    obj = make()
    assert type(tv.unique(obj)).__name__ == expected
    try:
        ndim = memoryview(obj).ndim
    except TypeError:
        ndim = 1
    if ndim != 1:
        return  # rows of a 2-D buffer: see test_two_dimensional_falls_back_to_iteration
    # Whatever the path, the results are those of iterating the object.
    items = list(obj)
    assert list(tv.unique(obj)) == list(dict.fromkeys(items))
    got = tv.frequencies(obj)
    assert list(got.items()) == list(Counter(items).items())
    if expected == INT_ITER:
        assert all(type(k) is int for k in got)
        assert all(type(x) is int for x in tv.unique(obj))


def test_two_dimensional_falls_back_to_iteration(tv):
    arr = np.arange(6, dtype=np.int64).reshape(2, 3)
    with pytest.raises(TypeError):
        tv.frequencies(arr)  # rows are unhashable ndarrays
    rows = list(tv.unique(arr, key=lambda r: int(r[0])))
    assert [r.tolist() for r in rows] == [[0, 1, 2], [3, 4, 5]]


def test_two_dimensional_memoryview_is_iterated(tv):
    # Not an integer buffer, so both tools iterate it, which memoryview refuses for 2-D.
    m = memoryview(bytes(6)).cast("B", (2, 3))
    with pytest.raises(NotImplementedError):
        tv.unique(m)
    with pytest.raises(NotImplementedError):
        tv.frequencies(m)


def test_strided_numpy_keeps_iteration_keys(tv):
    got = tv.frequencies(np.arange(10, dtype=np.int64)[::2])
    assert got == {0: 1, 2: 1, 4: 1, 6: 1, 8: 1}
    assert all(type(k) is np.int64 for k in got)


def test_bool_array_yields_numpy_bools(tv):
    got = list(tv.unique(np.array([True, False, True])))
    assert got == [True, False] and all(type(x) is np.bool_ for x in got)


def test_empty_buffers(tv):
    for obj in (b"", bytearray(), array.array("q"), np.array([], dtype=np.uint16)):
        assert tv.frequencies(obj) == {}
        it = tv.unique(obj)
        assert it.__length_hint__() == 0 and list(it) == []


def test_buffer_pinned_while_iterator_lives(tv):
    ba = bytearray(b"abca")
    it = tv.unique(ba)
    assert type(it).__name__ == INT_ITER
    assert next(it) == 97
    with pytest.raises(BufferError):
        ba.append(1)
    ba[0] = 99  # in-place writes are visible: the buffer is read live
    assert list(it) == [98, 99]
    with pytest.raises(BufferError):
        ba.extend(b"zz")
    del it
    ba.extend(b"zz")
    assert ba == bytearray(b"cbcazz")


def test_array_pinned_and_released(tv):
    arr = array.array("q", [1, 2])
    refs = sys.getrefcount(arr)  # what counts as one reference differs between releases
    it = tv.unique(arr)
    with pytest.raises(BufferError):
        arr.append(3)
    list(it)
    with pytest.raises(BufferError):  # exhausted, but the view is held until it goes away
        arr.append(3)
    del it
    arr.append(3)
    assert sys.getrefcount(arr) == refs


def test_int_iter_length_hint_and_exhaustion(tv):
    it = tv.unique(array.array("h", [5, 5, 6, 7]))
    assert it.__length_hint__() == 4
    assert next(it) == 5
    assert it.__length_hint__() == 3
    assert next(it) == 6  # skipped the second 5
    assert it.__length_hint__() == 1
    assert list(it) == [7]
    assert it.__length_hint__() == 0
    assert next(it, "end") == "end"


WIDTHS = {
    "b": (-(2**7), 2**7 - 1), "B": (0, 2**8 - 1),
    "h": (-(2**15), 2**15 - 1), "H": (0, 2**16 - 1),
    "i": (-(2**31), 2**31 - 1), "I": (0, 2**32 - 1),
    "q": (-(2**63), 2**63 - 1), "Q": (0, 2**64 - 1),
}


@st.composite
def int_arrays(draw):
    tc = draw(st.sampled_from(sorted(WIDTHS)))
    lo, hi = WIDTHS[tc]
    # Extremes, zero (the empty-slot key of the native tables) and clusters of neighbours.
    special = st.sampled_from([lo, hi, 0, lo + 1, hi - 1, 1, min(hi, 255), max(lo, -1)])
    values = draw(st.lists(st.one_of(special, st.integers(lo, hi),
                                      st.integers(max(lo, -50), min(hi, 50))), max_size=80))
    return array.array(tc, values)


@given(int_arrays(), st.booleans())
def test_native_paths_match_reference(tv, arr, as_numpy):
    obj = np.frombuffer(arr, dtype=arr.typecode) if as_numpy and len(arr) else arr
    values = arr.tolist()
    assert list(tv.unique(obj)) == list(dict.fromkeys(values))
    got = tv.frequencies(obj)
    assert list(got.items()) == list(Counter(values).items())
    assert all(type(k) is int for k in got)


def test_full_range_keys_are_exact(tv):
    arr = np.array([2**64 - 1, 0, 2**63, 2**64 - 1], dtype=np.uint64)
    assert list(tv.frequencies(arr).items()) == [(2**64 - 1, 2), (0, 1), (2**63, 1)]
    assert list(tv.unique(arr)) == [2**64 - 1, 0, 2**63]
    arr = np.array([-(2**63), 2**63 - 1, -(2**63)], dtype=np.int64)
    assert tv.frequencies(arr) == {-(2**63): 2, 2**63 - 1: 1}


def test_many_distinct_values_grow_tables(tv):
    values = np.random.default_rng(1).integers(-(2**40), 2**40, 20000)
    values = np.concatenate([values, values[::-1], np.arange(0, 2**30, 2**20)])
    ref = Counter(values.tolist())
    assert list(tv.frequencies(values).items()) == list(ref.items())
    assert list(tv.unique(values)) == list(ref)


def test_int_buffer_paths_do_not_leak(tv):
    arr = np.arange(300, dtype=np.int32) % 7
    ba = bytearray(b"hello world")
    check_leaks(lambda: tv.frequencies(arr), watch=(arr,))
    check_leaks(lambda: list(tv.unique(arr)), watch=(arr,))
    check_leaks(lambda: next(tv.unique(ba)), watch=(ba,))
    check_leaks(lambda: tv.frequencies(np.arange(10)[::2]))
    check_leaks(lambda: tv.unique(_misaligned_q()))

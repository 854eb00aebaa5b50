"""The object fields the native hashing shortcuts read, on this interpreter: a new release or
build (free-threaded headers are larger) that moves them must be noticed here, not as wrong
counts. The shortcuts' answers are checked against the interpreter's own hashing too."""

import collections
import sys

import pytest
from hypothesis import given, strategies as st

import layout_probe


@pytest.mark.skipif(sys.version_info < (3, 12), reason="no compact-int tag word before 3.12")
@pytest.mark.parametrize("value", layout_probe.PROBES)
def test_compact_int_layout(value):
    h = layout_probe.arithmetic_hash(value)
    if abs(value) < 2**30:
        assert h == hash(value)
    else:
        assert h is None or h == hash(value)


def test_str_hash_cache_is_where_it_is_read():
    assert layout_probe.str_cache_matches()


mixed = st.lists(st.one_of(st.integers(-2**40, 2**40), st.sampled_from(layout_probe.PROBES),
                           st.text(max_size=3), st.floats(allow_nan=False)), max_size=40)


@given(mixed)
def test_native_hashing_agrees_with_dict(tv, xs):
    # Strings arrive both hashed (cache filled) and fresh (cache empty).
    xs = [("".join(["", x]) if i % 2 else x) if isinstance(x, str) else x for i, x in enumerate(xs)]
    assert tv.frequencies(xs) == collections.Counter(xs)
    assert list(tv.unique(xs)) == list(dict.fromkeys(xs))

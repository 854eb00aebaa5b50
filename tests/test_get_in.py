"""get_in: nested lookups with a default, and the boolean conversion of no_default."""

import pytest
from hypothesis import given, strategies as st

import tarvel._tarvel as m
from leakcheck import check_leaks



def test_paths():
    d = {"a": {"b": 1}}
    assert m.get_in(["a", "b"], d) == 1
    assert m.get_in(["a", "x"], d) is None
    assert m.get_in(["a", "x"], d, 0) == 0
    assert m.get_in(["a", "x"], d, default=0) == 0
    with pytest.raises(KeyError) as info:
        m.get_in(["a", "x"], d, no_default=True)
    assert info.value.args == ("x",)
    assert m.get_in([0, 5], [[1, 2]]) is None
    assert m.get_in(["a"], 5) is None
    obj = object()
    assert m.get_in([], obj) is obj
    assert m.get_in(iter([1, 0]), [[5], [6, 7]]) == 6


def test_non_lookup_errors_propagate():
    class Bad:
        def __getitem__(self, k):
            raise ValueError("bad")

    with pytest.raises(ValueError):
        m.get_in(["a"], Bad(), 0)


def test_key_iterator_errors_propagate():
    def keys():
        yield "a"
        raise RuntimeError("keys")

    with pytest.raises(RuntimeError):
        m.get_in(keys(), {"a": {}})
    with pytest.raises(TypeError, match="not iterable"):
        m.get_in(5, {})


@pytest.mark.parametrize("flag,expected", [(True, KeyError), (False, None)])
def test_numpy_bool_is_a_bool(flag, expected):
    np = pytest.importorskip("numpy")
    if expected is None:
        assert m.get_in(["x"], {}, None, np.bool_(flag)) is None
    else:
        with pytest.raises(expected):
            m.get_in(["x"], {}, no_default=np.bool_(flag))


@pytest.mark.parametrize("bad,message", [
    (1, "'int' object is not an instance of 'bool'"),
    (None, "'None' is not an instance of 'bool'"),
    ("yes", "'str' object is not an instance of 'bool'"),
    ([], "'list' object is not an instance of 'bool'"),
])
def test_no_default_accepts_only_bools(bad, message):
    with pytest.raises(TypeError) as info:
        m.get_in([1], {}, no_default=bad)
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'no_default'"]


def test_bool_lookalike_from_elsewhere_is_refused():
    class bool_:  # noqa: N801 - same name as NumPy's scalar, different module
        def __bool__(self):
            return True

    with pytest.raises(TypeError, match="is not an instance of 'bool'"):
        m.get_in([1], {}, no_default=bool_())


nested = st.recursive(st.integers(), lambda inner: st.dictionaries(st.sampled_from("abc"), inner,
                                                                    max_size=3), max_leaves=8)


@given(nested, st.lists(st.sampled_from("abc"), max_size=4))
def test_matches_model(coll, path):
    def model():
        cur = coll
        for k in path:
            try:
                cur = cur[k]
            except (KeyError, IndexError, TypeError):
                return "dflt"
        return cur

    assert m.get_in(path, coll, "dflt") == model()


def test_no_leaks():
    d = {"a": {"b": object()}}
    check_leaks(lambda: m.get_in(["a", "b"], d), watch=[d])
    check_leaks(lambda: m.get_in(["a", "x"], d, object()), watch=[d])
    check_leaks(lambda: m.get_in(["a", "x"], d, None, True), raises=KeyError)
    check_leaks(lambda: m.get_in(["a"], d, no_default=1), raises=TypeError)

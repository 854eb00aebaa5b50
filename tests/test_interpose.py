import operator

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks
from sources import Boom, Counting, Flaky, Reentrant, raising_gen


def ref_interpose(el, seq):
    it = iter(seq)
    first = next(it)  # an empty input raises at the call

    def gen():
        yield first
        for x in it:
            yield el
            yield x

    return gen()


@pytest.mark.parametrize(
    "seq, expected",
    [
        ([1, 2, 3], [1, 0, 2, 0, 3]),
        ([1], [1]),
        ((1, 2), [1, 0, 2]),
        ("ab", ["a", 0, "b"]),
        (iter([1, 2]), [1, 0, 2]),
        (range(4), [0, 0, 1, 0, 2, 0, 3]),
    ],
)
def test_examples(tv, seq, expected):
    assert list(tv.interpose(0, seq)) == expected


@pytest.mark.parametrize("seq", [[], iter([]), (), (x for x in [])])
def test_empty_input_raises_at_call(tv, seq):
    with pytest.raises(StopIteration) as info:
        tv.interpose(0, seq)
    assert info.value.args == ()


def test_bad_arguments(tv):
    with pytest.raises(TypeError, match="not iterable"):
        tv.interpose(0, 5)
    with pytest.raises(TypeError):
        tv.interpose(0)
    assert tv.interpose.__text_signature__ == "(el, seq)"


def test_type_and_docs(tv):
    it = tv.interpose(0, [1])
    cls = type(it)
    assert cls.__name__ == "InterposeIter" and not hasattr(tv, "InterposeIter")
    assert cls.__doc__ and "interpose" in cls.__doc__
    assert cls.__length_hint__.__doc__ == (
        "k source items yield 2k-1 outputs (a separator before every item but\n"
        "the first). Exact for list sources, the source's own hint otherwise.")
    assert cls.__length_hint__.__text_signature__ == "($self)"
    assert iter(it) is it
    with pytest.raises(TypeError):
        cls()


def test_separator_is_the_same_object(tv):
    sep = []
    r = list(tv.interpose(sep, [1, 2, 3]))
    assert r[1] is sep and r[3] is sep


def test_first_element_taken_at_call(tv):
    src = Counting([1, 2, 3])
    it = tv.interpose(0, src)
    assert src.taken == 1
    assert next(it) == 1 and src.taken == 1
    assert next(it) == 0 and src.taken == 2


@pytest.mark.parametrize("make", [list, tuple, iter], ids=["list", "tuple-iter", "list-iter"])
@pytest.mark.parametrize("n", [1, 2, 5])
def test_length_hint_exact_throughout(tv, make, n):
    it = tv.interpose(-1, make(range(n)))
    remaining = 2 * n - 1
    while True:
        assert it.__length_hint__() == remaining == operator.length_hint(it)
        try:
            next(it)
        except StopIteration:
            break
        remaining -= 1
    assert remaining == 0 and it.__length_hint__() == 0


def test_length_hint_without_source_hint(tv):
    it = tv.interpose(0, (x for x in [1, 2, 3]))
    assert it.__length_hint__() == 1  # only the pending element is known
    next(it)
    assert it.__length_hint__() == 0


def test_live_list_appends(tv):
    data = [1, 2]
    it = tv.interpose(0, data)
    assert [next(it), next(it), next(it)] == [1, 0, 2]
    data.extend([3, 4])
    assert it.__length_hint__() == 4
    assert list(it) == [0, 3, 0, 4]
    data.append(5)
    assert list(it) == [] and it.__length_hint__() == 0


@pytest.mark.parametrize("hint", [False, True])
def test_reentrant_source(tv, hint):
    src = Reentrant([1, 2, 3], hint=hint)
    it = tv.interpose(0, src)
    src.target = it
    assert list(it) == [1, 0, 2, 0, 3]
    assert src.errors and set(src.errors) == {"iterator already executing"}


def test_reentrant_error_propagates(tv):
    src = Reentrant([1, 2, 3], swallow=False)
    it = tv.interpose(0, src)
    src.target = it
    assert next(it) == 1
    with pytest.raises(ValueError, match="iterator already executing"):
        next(it)
    src.target = None
    assert list(it) == [0, 2, 0, 3]  # the failed step consumed nothing


def test_hostile_generator(tv):
    it = tv.interpose(0, raising_gen([1, 2]))
    assert [next(it), next(it), next(it)] == [1, 0, 2]
    with pytest.raises(Boom):
        next(it)
    assert list(it) == []  # the generator is finished: asked again, it ends


def test_error_leaves_state(tv):
    src = Flaky([1, 2, 3], fail_at={2})
    it = tv.interpose(0, src)
    assert [next(it), next(it), next(it)] == [1, 0, 2]
    with pytest.raises(Boom):
        next(it)
    assert list(it) == [0, 3]


def test_done_is_final(tv):
    src = Flaky([1], resume=[2, 3])
    it = tv.interpose(0, src)
    assert list(it) == [1]
    assert list(it) == []  # done: the revived source is not asked again
    assert next(src) == 2


@given(st.lists(st.integers()), st.sampled_from([list, tuple, iter]))
def test_matches_reference(tv, data, make):
    try:
        expected = list(ref_interpose(None, make(data)))
    except StopIteration:
        with pytest.raises(StopIteration):
            tv.interpose(None, make(data))
        return
    assert list(tv.interpose(None, make(data))) == expected


def test_leaks(tv):
    sep = object()
    data = [object() for _ in range(5)]
    check_leaks(lambda: list(tv.interpose(sep, data)), watch=[sep, data[0]])
    check_leaks(lambda: list(tv.interpose(sep, iter(data))), watch=[sep, data[0]])
    check_leaks(lambda: next(tv.interpose(sep, data)), watch=[sep, data[0]])  # abandoned
    check_leaks(lambda: tv.interpose(sep, []), watch=[sep], raises=StopIteration)
    check_leaks(lambda: list(tv.interpose(sep, raising_gen(data))), watch=[sep, data[0]],
                raises=Boom)
    check_leaks(lambda: tv.interpose(sep, 5), watch=[sep], raises=TypeError)

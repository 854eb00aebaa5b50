"""Every public name used as a typed program would use it.

Checked by `mypy --strict` and pyright (dev/typecheck.sh), and run as a plain script by
tests/test_typing_example.py, so every assert_type below is also a real call.
"""

from __future__ import annotations

import operator
from collections import OrderedDict
from collections.abc import Callable, Iterator, Sequence
from typing import Any, assert_type

from tarvel import (
    Err,
    Iter,
    NativeIter,
    Nothing,
    NothingType,
    Ok,
    Option,
    Result,
    Some,
    accumulate,
    apply,
    assoc,
    assoc_in,
    complement,
    compose,
    compose_left,
    concat,
    concatv,
    cons,
    count,
    countby,
    curry,
    diff,
    dissoc,
    do,
    drop,
    excepts,
    first,
    first_opt,
    flip,
    frequencies,
    get,
    get_in,
    get_in_opt,
    get_opt,
    groupby,
    identity,
    interleave,
    interpose,
    isdistinct,
    itemfilter,
    itemmap,
    iterate,
    join,
    juxt,
    keyfilter,
    keymap,
    last,
    last_opt,
    mapcat,
    memoize,
    merge,
    merge_sorted,
    merge_with,
    nth,
    nth_opt,
    partition,
    partition_all,
    peek,
    peek_opt,
    pipe,
    pluck,
    reduceby,
    remove,
    second,
    sliding_window,
    tail,
    take,
    take_nth,
    thread_first,
    thread_last,
    topk,
    unique,
    update_in,
    valfilter,
    valmap,
)

# ---- optional values: annotations, narrowing, chaining


def halve(x: int) -> Option[int]:
    return Some(x // 2) if x % 2 == 0 else Nothing


def describe(opt: Some[int] | NothingType) -> str:
    match opt:
        case Some(v):
            assert_type(v, int)
            return f"some {v}"
        case NothingType():
            return "nothing"


def describe_isinstance(opt: Some[str] | NothingType) -> str:
    if isinstance(opt, Some):
        assert_type(opt, Some[str])
        return opt.value
    assert_type(opt, NothingType)
    return ""


def option_methods(o: Option[int]) -> None:
    assert_type(o.map(str).unwrap_or(""), str)
    assert_type(o.and_then(halve), Option[int])
    assert_type(o.filter(lambda v: v > 0).is_some(), bool)
    assert_type(o.unwrap_or_else(lambda: "none"), int | str)
    assert_type(o.ok_or("missing"), Result[int, str])
    assert o.is_none() is False


def option_demo() -> None:
    option_methods(Some(4))
    assert_type(Option.of("x"), Some[str] | NothingType)
    s = Some(2)
    assert_type(s, Some[int])
    assert_type(s.value, int)
    assert_type(s.map(float), Some[float])
    assert_type(s.and_then(lambda v: Some(str(v))), Option[str])
    assert_type(s.unwrap(), int)
    assert_type(s.ok_or("e"), Ok[int])
    n = NothingType()
    assert n == Nothing
    assert_type(Nothing.unwrap_or(3), int)
    assert_type(Nothing.ok_or(ValueError()), Err[ValueError])
    assert describe(Some(3)) == "some 3" and describe(Nothing) == "nothing"
    assert describe_isinstance(Some("a")) == "a"


# ---- result values


def parse(text: str) -> Result[int, str]:
    return Ok(int(text)) if text.isdigit() else Err(f"not a number: {text}")


def explain(r: Ok[int] | Err[str]) -> str:
    match r:
        case Ok(v):
            assert_type(v, int)
            return str(v)
        case Err(e):
            assert_type(e, str)
            return e


def result_methods(r: Result[int, str]) -> None:
    assert_type(r.map(lambda v: v * 2).unwrap_or(0), int)
    assert_type(r.map_err(len), Result[int, int])
    assert_type(r.and_then(lambda v: parse(str(v + 1))), Result[int, str])
    assert_type(r.ok(), Option[int])
    assert_type(r.err(), Option[str])
    assert r.is_ok() and not r.is_err()


def result_demo() -> None:
    result_methods(parse("12"))
    captured = Result.of(lambda: 10 // 2)
    assert_type(captured, Ok[int] | Err[Exception])
    ok = Ok("v")
    assert_type(ok.value, str)
    assert_type(ok.ok(), Some[str])
    err = Err(KeyError("k"))
    assert_type(err.error, KeyError)
    assert_type(err.map_err(str), Err[str])
    assert_type(err.err(), Some[KeyError])
    assert explain(Ok(1)) == "1" and explain(Err("bad")) == "bad"


# ---- option-returning accessors


def accessor_demo() -> None:
    assert_type(first_opt([1, 2]), Some[int] | NothingType)
    assert_type(last_opt("ab"), Some[str] | NothingType)
    assert_type(nth_opt(1, (1.5, 2.5)), Some[float] | NothingType)
    assert_type(get_opt("k", {"k": 1}), Some[int] | NothingType)
    assert_type(get_opt(0, ["a"]), Some[str] | NothingType)
    assert_type(get_in_opt({"a": [1]}, "a", 0), Some[Any] | NothingType)
    peeked = peek_opt(iter([1, 2]))
    match peeked:
        case Some((head, rest)):
            assert head == 1 and list(rest) == [1, 2]
        case NothingType():
            raise AssertionError


# ---- sequence tools


def sequence_demo() -> None:
    data = [3, 1, 3, 2]
    assert_type(count(data), int)
    assert_type(first(data), int)
    assert_type(second("ab"), str)
    assert_type(last(data), int)
    assert_type(nth(1, data), int)
    assert_type(get(0, data), int)
    assert_type(get(9, data, None), int | None)
    assert_type(get("k", {"k": 1.0}), float)
    assert_type(get("x", {"k": 1.0}, 0), float | int)
    assert_type(get([0, 1], data), tuple[Any, ...])
    assert_type(frequencies("abca"), dict[str, int])
    head, everything = peek(iter(data))
    assert_type(head, int)
    assert_type(everything, Iterator[int])
    assert_type(take(2, data), Iterator[int])
    assert_type(drop(None, data), Iterator[int])
    assert_type(take_nth(2, data), Iterator[int])
    assert_type(tail(2, data), list[int])
    assert_type(tail(2, "abc"), str)
    assert_type(tail(2, iter(data)), Sequence[int])
    assert_type(cons("x", data), Iterator[str | int])
    assert_type(concat([[1], [2]]), Iterator[int])
    assert_type(concatv([1], (2,)), Iterator[int])
    assert_type(interpose(0.5, data), Iterator[int | float])
    assert_type(interleave([data, [4]]), Iterator[int])
    assert_type(sliding_window(2, data), Iterator[tuple[int, ...]])
    assert_type(partition(2, data), Iterator[tuple[int, ...]])
    assert_type(partition(3, data, None), Iterator[tuple[int | None, ...]])
    assert_type(partition_all(3, data), Iterator[tuple[int, ...]])
    assert_type(mapcat(lambda x: [x, x], data), Iterator[int])
    assert_type(pluck("name", [{"name": "ada"}]), Iterator[str])
    pairs = [(1, 2)]
    assert_type(pluck(0, pairs), Iterator[int])
    assert_type(pluck("age", [{"age": 3}], None), Iterator[int | None])
    assert_type(pluck([0, 1], [(1, 2)]), Iterator[tuple[Any, ...]])
    assert_type(remove(lambda x: x > 2, data), Iterator[int])
    assert_type(accumulate(operator.add, data), Iterator[int])
    assert_type(accumulate(lambda acc, x: acc + str(x), data, ""), Iterator[str])
    assert_type(iterate(lambda x: x * 2, 1), Iterator[int])
    assert_type(unique(data), Iterator[int])
    assert_type(unique(["a", "A"], key=str.lower), Iterator[str])
    it = remove(bool, [0, 1])
    assert isinstance(it, NativeIter) and list(it) == [0]
    assert list(unique(data)) == [3, 1, 2]


# ---- function tools


@curry
def add3(a: int, b: int, c: int) -> int:
    return a + b + c


def scale(x: float, factor: float = 2.0) -> float:
    return x * factor


def is_big(x: int) -> bool:
    return x > 10


def function_demo() -> None:
    assert_type(add3(1)(2)(3), int)
    assert_type(add3(1, 2)(3), int)
    assert_type(add3(1)(2, 3), int)
    assert_type(add3(1, 2, 3), int)
    assert add3(1)(2)(3) == 6
    one = curry(len)
    assert_type(one("abc"), int)
    loose: curry[int] = curry(add3, 1)
    assert loose(2, 3) == 6
    assert_type(identity("x"), str)
    assert_type(apply(scale, 3.0, factor=3.0), float)
    assert_type(pipe(-5, abs, str), str)
    assert_type(pipe("x"), str)
    assert_type(do(str, 3), int)
    to_text: Callable[[float], str] = compose(str, abs)
    assert_type(compose(str, abs, float)("-2"), str)
    assert_type(compose()(1), int)
    assert_type(compose_left(float, abs, str)("-2"), str)
    assert to_text(-1.5) == "1.5"
    is_small = complement(is_big)
    assert_type(is_small(3), bool)
    assert_type(juxt(len, str)([3, 1]), tuple[int, str])
    assert_type(juxt(len, str, repr)("ab"), tuple[int, str, str])
    safe_int = excepts(ValueError, int, lambda e: -1)
    assert_type(safe_int("3"), int)
    maybe_int = excepts((ValueError, TypeError), int)
    assert_type(maybe_int("x"), int | None)
    square = memoize(scale)
    assert_type(square(3.0, factor=3.0), float)
    cache: dict[Any, Any] = {}
    assert_type(memoize(len, cache)("ab"), int)
    assert cache == {"ab": 2}
    assert_type(thread_first(2, (pow, 3), str), Any)
    assert_type(thread_last([1, 2], (map, str), list), Any)
    assert_type(flip(divmod, 3, 10), tuple[int, int])
    assert flip(divmod, 3, 10) == (3, 1)
    assert_type(flip(scale)(2.0)(3.0), float)


# ---- aggregations


def add_word(acc: list[str], word: str) -> list[str]:
    return acc + [word]


def aggregation_demo() -> None:
    words = ["a", "bb", "c"]
    assert_type(groupby(len, words), dict[int, list[str]])
    assert_type(groupby([0], [(1, 2)]), dict[tuple[Any, ...], list[tuple[int, int]]])
    assert_type(countby(len, words), dict[int, int])
    assert_type(reduceby(len, operator.add, words), dict[int, str])
    assert_type(reduceby(len, lambda acc, w: acc + len(w), words, 0), dict[int, int])
    assert_type(reduceby(len, add_word, words, list[str]), dict[int, list[str]])
    assert_type(topk(2, [3, 1, 2]), tuple[int, ...])
    assert_type(topk(1, words, key=len), tuple[str, ...])
    left, right = [(1, "a")], [(1, 2.0)]
    assert_type(join(0, left, 0, right), Iterator[tuple[tuple[int, str], tuple[int, float]]])
    assert_type(join(0, left, 0, right, left_default=None, right_default="-"),
                Iterator[tuple[tuple[int, str], tuple[int, float] | str]])
    assert_type(diff([1, 2], [1, 3]), Iterator[tuple[int, ...]])
    assert_type(isdistinct(words), bool)
    assert_type(merge_sorted([1, 3], [2]), Iterator[int])
    assert list(merge_sorted([1, 3], [2], key=lambda x: x)) == [1, 2, 3]


# ---- dictionary tools


def swap(kv: tuple[str, int]) -> tuple[int, str]:
    return kv[1], kv[0]


def dict_tools_demo() -> None:
    d = {"a": 1}
    assert_type(assoc(d, "b", 2), dict[str, int])
    assert_type(assoc(d, "b", 2, factory=OrderedDict[str, int]), OrderedDict[str, int])
    assert_type(dissoc(d, "a"), dict[str, int])
    assert_type(assoc_in({"a": {}}, ["a", "b"], 1), dict[Any, Any])
    assert_type(update_in(d, ["a"], lambda n: n + 1), dict[Any, Any])
    assert_type(merge(d, {"b": 2}), dict[str, int])
    assert_type(merge([d, d]), dict[str, int])
    assert_type(merge_with(sum, d, {"a": 2}), dict[str, int])
    assert_type(keymap(str.upper, d), dict[str, int])
    assert_type(valmap(str, d), dict[str, str])
    assert_type(itemmap(swap, d), dict[int, str])
    assert_type(keyfilter(lambda k: k != "a", d), dict[str, int])
    assert_type(valfilter(lambda v: v > 0, d), dict[str, int])
    assert_type(itemfilter(lambda kv: kv[1] > 0, d), dict[str, int])


# ---- fluent iterator


def parity(x: int) -> int:
    return x % 2


def iter_demo() -> None:
    it = Iter([3, 1, 3, 2])
    assert_type(it, Iter[int])
    assert_type(it.map(str).collect(), list[str])
    assert_type(it.filter(lambda x: x > 1).unique().take(2).drop(0).collect(), list[int])
    assert_type(it.sliding_window(2).collect(), list[tuple[int, ...]])
    assert_type(it.partition_all(2).collect(), list[tuple[int, ...]])
    assert_type(it.flat_map(lambda x: [x, x]).collect(), list[int])
    assert_type(Iter([{"n": 1}]).pluck("n").collect(), list[int])
    assert_type(it.interpose(0.5).collect(), list[int | float])
    assert_type(it.accumulate(operator.add).collect(), list[int])
    assert_type(it.reduce(operator.add), int)
    assert_type(it.reduce(lambda acc, x: acc + str(x), ""), str)
    assert_type(it.count(), int)
    assert_type(it.frequencies(), dict[int, int])
    assert_type(it.group_by(parity), dict[int, list[int]])
    assert_type(Iter([("a", 1)]).to_dict(), dict[str, int])
    assert_type(it.first(), Some[int] | NothingType)
    assert_type(it.last(), Some[int] | NothingType)
    assert_type(it.nth(1), Some[int] | NothingType)
    assert list(Iter("ab")) == ["a", "b"]


# ---- dictionary path access


def dict_demo() -> None:
    assert get_in(["a", "b"], {"a": {"b": 1}}) == 1
    assert get_in(["a", "x"], {"a": {}}, 0, no_default=False) == 0


if __name__ == "__main__":
    option_demo()
    result_demo()
    accessor_demo()
    sequence_demo()
    function_demo()
    dict_demo()
    dict_tools_demo()
    aggregation_demo()
    iter_demo()
    print("typed example ran")

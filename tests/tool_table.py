"""One row per public name of the module: what every tool must survive, in one place.

A new public name adds one `Tool` row here; test_tool_table fails for a name without one.

- `sample(tv)` is a plain call and `expect` its result (lazy results are drained);
- `fails(tv)` raises `raises` (the leak check runs both, the failing one on its error path);
- `loop(tv, big)`, where the tool has a loop that can run long, runs until Ctrl-C stops it
  (`big.zeros` is a zero-filled buffer of 4 GiB that costs no memory until written). The
  loops over tens of millions of `*keys` (get_in_opt, dissoc) have no row: the interpreter's
  own handling of that many arguments takes most of the time bound, so a late signal check
  there cannot be told from the call's set-up;
- `sweep()` is the call the allocation-failure sweep (fault_sweep.py, a program of its own)
  makes with allocations failing. It passes only C callables, C iterators and objects built
  beforehand by `prepare()`: Python code run while allocations fail trips the interpreter's
  own faults (3.11 to 3.13 lose or corrupt exceptions raised in a frame whose setup failed),
  and so does building a curry or a memoize, which reads a signature in Python.
- `leaks` lists more `(call(tv, d), raises)` pairs for the leak check: the error paths of
  the tool that its failing call does not reach. `d` is {"a": payload, "b": {"c": [payload]}},
  whose payload's references are watched.
- `at_most` lists lazy results over big inputs, each with the most elements it can yield:
  neither its length hint nor the memory a list of it takes may promise more.
"""

import array
import collections
import itertools
import operator
import types
from typing import Callable as Fn, NamedTuple

import tarvel._tarvel as tv
from sources import ItemsAre, ItemsDict, NotBool


class Tool(NamedTuple):
    sample: Fn
    expect: object
    fails: Fn
    raises: type
    sweep: Fn
    loops: tuple = ()
    at_most: tuple = ()
    leaks: tuple = ()


L = [3, 1, 3, 2, 1]
D = {"a": {"b": 1}, "c": 2}
BIG_INTS = [1000 + i % 12 for i in range(30)]  # distinct, not cached small ints

# Built once: making one reads a signature through the standard library, whose own
# caches would read as a leak of the sample.
CURRIED_SUB = tv.curry(operator.sub)
MEMO_ABS = tv.memoize(abs)

P = types.SimpleNamespace()  # callables the sweep needs built (and warmed) beforehand


def prepare():
    # merge_sorted imports heapq on every call; a first import would run Python code.
    import heapq  # noqa: F401

    P.add3 = tv.curry(operator.add)
    P.flip_sub = tv.flip(operator.sub)
    P.memo_abs = tv.memoize(abs)
    P.memo_kw = tv.memoize(int)
    P.add3(1)(2), P.flip_sub(1)(2), P.memo_abs(-2), P.memo_kw("7", base=10)


def it(items=L):
    return iter(items)


def ones():
    return itertools.repeat(1)


def _second(iterator):
    next(iterator)
    return next(iterator)


def _self_nested():
    d = {}
    d["a"] = d
    return d


def _drain(iterator):
    # A consumer written in C, which never checks for signals itself.
    collections.deque(iterator, 0)


def _one(iterable):
    return next(iter(iterable))


def _gen_err():
    yield 1
    raise RuntimeError


def _odd(x):
    return x % 2 == 1


T = Tool
TOOLS = {
    # ---- optional and result values ---------------------------------------------------------
    "Some": T(lambda tv: (tv.Some(2).map(operator.neg).unwrap(), tv.Some(0).filter(bool)),
              (-2, tv.Nothing), lambda tv: tv.Some(1, 2), TypeError,
              lambda: (tv.Some(1).map(operator.neg).unwrap_or(0), repr(tv.Some([1])))),
    "NothingType": T(lambda tv: (tv.NothingType() == tv.Nothing, tv.NothingType().unwrap_or(5)),
                     (True, 5), lambda tv: tv.NothingType().unwrap(), ValueError,
                     lambda: (tv.NothingType().unwrap_or(5), tv.NothingType() == tv.Nothing)),
    "Option": T(lambda tv: (tv.Option.of(None), tv.Option.of(0)), (tv.Nothing, tv.Some(0)),
                lambda tv: tv.Option.of(), TypeError,
                lambda: tv.Option.of(None).map(str).unwrap_or("x")),
    "Ok": T(lambda tv: (tv.Ok(2).map(operator.neg).unwrap(), tv.Ok(1).err()), (-2, tv.Nothing),
            lambda tv: tv.Ok(1).and_then(abs), TypeError,
            lambda: (tv.Ok(2).map(operator.neg).unwrap(), repr(tv.Ok(1)))),
    "Err": T(lambda tv: (tv.Err("e").unwrap_or(1), tv.Err(3).map_err(operator.neg)),
             (1, tv.Err(-3)), lambda tv: tv.Err("e").unwrap(), ValueError,
             lambda: (tv.Err("e").unwrap_or(1), repr(tv.Err(1)))),
    "Result": T(lambda tv: (tv.Result.of(dict), type(tv.Result.of({}.popitem).err().unwrap())),
                (tv.Ok({}), KeyError), lambda tv: tv.Result.of(), TypeError,
                lambda: (tv.Result.of(dict), type(tv.Result.of({}.popitem).err().unwrap()))),
    "Nothing": T(lambda tv: (tv.Nothing.is_none(), tv.Nothing.map(abs)), (True, tv.Nothing),
                 lambda tv: tv.Nothing.unwrap(), ValueError,
                 lambda: (tv.Nothing.is_none(), tv.Nothing.__reduce__())),
    "first_opt": T(lambda tv: (tv.first_opt(it()), tv.first_opt([])), (tv.Some(3), tv.Nothing),
                   lambda tv: tv.first_opt(5), TypeError,
                   lambda: (tv.first_opt(it()).unwrap(), tv.first_opt([]).is_none())),
    "last_opt": T(lambda tv: (tv.last_opt(it()), tv.last_opt(())), (tv.Some(1), tv.Nothing),
                  lambda tv: tv.last_opt(5), TypeError, lambda: tv.last_opt(it()).unwrap(),
                  loops=(lambda tv, big: tv.last_opt(ones()),)),
    "nth_opt": T(lambda tv: (tv.nth_opt(3, it()), tv.nth_opt(9, L)), (tv.Some(2), tv.Nothing),
                 lambda tv: tv.nth_opt(-1, L), OverflowError, lambda: tv.nth_opt(2, it()).unwrap(),
                 loops=(lambda tv, big: tv.nth_opt(1 << 60, ones()),)),
    "get_opt": T(lambda tv: (tv.get_opt("c", D), tv.get_opt(9, L), tv.get_opt("a", 3)),
                 (tv.Some(2), tv.Nothing, tv.Nothing),
                 lambda tv: tv.get_opt(0), TypeError,
                 lambda: (tv.get_opt("c", D).unwrap(), tv.get_opt("z", D).is_none())),
    "get_in_opt": T(lambda tv: (tv.get_in_opt(D, "a", "b"), tv.get_in_opt(D, "a", "z")),
                    (tv.Some(1), tv.Nothing), lambda tv: tv.get_in_opt(), TypeError,
                    lambda: tv.get_in_opt(D, "a", "b").unwrap()),
    "peek_opt": T(lambda tv: (tv.peek_opt(it()).unwrap()[0], tv.peek_opt([])), (3, tv.Nothing),
                  lambda tv: tv.peek_opt(5), TypeError,
                  lambda: list(tv.peek_opt(it()).unwrap()[1])),
    # ---- sequences ----------------------------------------------------------------------
    "NativeIter": T(lambda tv: type(tv.remove(bool, [])) is tv.NativeIter, True,
                    lambda tv: tv.NativeIter(), TypeError,
                    lambda: list(tv.remove(operator.not_, L))),
    "count": T(lambda tv: (tv.count(it()), tv.count(L), tv.count("")), (5, 5, 0),
               lambda tv: tv.count(5), TypeError, lambda: (tv.count(it()), tv.count(L)),
               loops=(lambda tv, big: tv.count(ones()),)),
    "first": T(lambda tv: tv.first(it()), 3, lambda tv: tv.first([]), StopIteration,
               lambda: tv.first(it())),
    "second": T(lambda tv: tv.second(it()), 1, lambda tv: tv.second([1]), StopIteration,
                lambda: tv.second(it())),
    "last": T(lambda tv: (tv.last(it()), tv.last(L)), (1, 1), lambda tv: tv.last(iter([])),
              IndexError, lambda: (tv.last(it()), tv.last(L)),
              loops=(lambda tv, big: tv.last(ones()),)),
    "nth": T(lambda tv: (tv.nth(3, it()), tv.nth(1, L)), (2, 1), lambda tv: tv.nth(5, iter([1])),
             StopIteration, lambda: (tv.nth(3, it()), tv.nth(1, L)),
             loops=(lambda tv, big: tv.nth(1 << 60, ones()),),
              leaks=(
                   (lambda tv, d: tv.nth(1, iter([object(), d])), ()),
                   (lambda tv, d: tv.nth(-1, iter([1])), ValueError),
              )),
    "get": T(lambda tv: (tv.get([0, 9], L, None), tv.get("z", D, 0)), ((3, None), 0),
             lambda tv: tv.get([0, 9], L), IndexError,
             lambda: (tv.get([0, 9], L, None), tv.get("z", D, 0)),
              leaks=(
                   (lambda tv, d: tv.get("b", {}, d), ()),
                   (lambda tv, d: tv.get(0, [1], 2, 3), TypeError),
                   (lambda tv, d: tv.get(1, [1], coll=2), TypeError),
                   (lambda tv, d: tv.get(), TypeError),
              )),
    "frequencies": T(lambda tv: tv.frequencies(it()), {3: 2, 1: 2, 2: 1},
                     lambda tv: tv.frequencies([[1]]), TypeError,
                     lambda: (tv.frequencies(L), tv.frequencies(array.array("q", BIG_INTS)),
                              tv.frequencies(it(["a", "b", "a"]))),
                     loops=(lambda tv, big: tv.frequencies(ones()),
                            lambda tv, big: tv.frequencies(big.zeros),
                            lambda tv, big: tv.frequencies(big.same_strs))),
    "peek": T(lambda tv: (lambda p: (p[0], list(p[1])))(tv.peek(it())), (3, L),
              lambda tv: tv.peek([]), StopIteration, lambda: list(tv.peek(it())[1])),
    "take": T(lambda tv: list(tv.take(2, it())), [3, 1], lambda tv: tv.take(-1, L), ValueError,
              lambda: list(tv.take(2, L)),
              leaks=(
                   (lambda tv, d: list(tv.take(3, [d, 2, 3, 4])), ()),
              )),
    "drop": T(lambda tv: list(tv.drop(3, it())), [2, 1], lambda tv: tv.drop(-1, L), ValueError,
              lambda: list(tv.drop(2, L)),
              leaks=(
                   (lambda tv, d: list(tv.drop(1, iter([d, 2]))), ()),
              )),
    "take_nth": T(lambda tv: list(tv.take_nth(2, it())), [3, 3, 1],
                  lambda tv: tv.take_nth(0, L), ValueError, lambda: list(tv.take_nth(2, L))),
    "tail": T(lambda tv: (tuple(tv.tail(2, it())), tuple(tv.tail(9, L))), ((2, 1), tuple(L)),
              lambda tv: tv.tail(-1, L), OverflowError, lambda: (tv.tail(2, it()), tv.tail(2, L)),
              loops=(lambda tv, big: tv.tail(3, ones()),),
              leaks=(
                   (lambda tv, d: tv.tail(2, iter([object() for _ in range(5)])), ()),
                   (lambda tv, d: tv.tail(2, _gen_err()), RuntimeError),
              )),
    "cons": T(lambda tv: list(tv.cons(0, it())), [0] + L, lambda tv: list(tv.cons(0, 5)), TypeError,
              lambda: list(tv.cons(0, L))),
    "concat": T(lambda tv: list(tv.concat([L, it()])), L + L, lambda tv: list(tv.concat([5])),
                TypeError, lambda: list(tv.concat([L, L]))),
    "concatv": T(lambda tv: list(tv.concatv(L, ())), L, lambda tv: list(tv.concatv(L, 5)),
                 TypeError, lambda: list(tv.concatv(L, L))),
    "interpose": T(lambda tv: list(tv.interpose(0, [1, 2])), [1, 0, 2],
                   lambda tv: tv.interpose(0, 5), TypeError,
                   lambda: list(tv.interpose(0, it()))),
    "interleave": T(lambda tv: list(tv.interleave([[1, 2, 3], it([7])])), [1, 7, 2, 3],
                    lambda tv: list(tv.interleave([L, 5])), TypeError,
                    lambda: list(tv.interleave([L, it()])),
                    loops=(lambda tv, big: _drain(tv.interleave([ones()])),)),
    "sliding_window": T(lambda tv: list(tv.sliding_window(4, it())), [(3, 1, 3, 2), (1, 3, 2, 1)],
                        lambda tv: tv.sliding_window(-1, L), ValueError,
                        lambda: list(tv.sliding_window(2, it())),
                        loops=(lambda tv, big: _drain(tv.sliding_window(2, ones())),)),
    "partition": T(lambda tv: list(tv.partition(2, it(), None)), [(3, 1), (3, 2), (1, None)],
                   lambda tv: tv.partition(2, L, None, None), TypeError,
                   lambda: list(tv.partition(2, L, None)),
                   loops=(lambda tv, big: _drain(tv.partition(2, ones())),)),
    "partition_all": T(lambda tv: list(tv.partition_all(3, it())), [(3, 1, 3), (2, 1)],
                       lambda tv: tv.partition_all(2, 5), TypeError,
                       lambda: list(tv.partition_all(2, it()))),
    "mapcat": T(lambda tv: list(tv.mapcat(reversed, [[1, 2], [3]])), [2, 1, 3],
                lambda tv: list(tv.mapcat(abs, L)), TypeError,
                lambda: list(tv.mapcat(list, [L, L]))),
    "pluck": T(lambda tv: list(tv.pluck([1, 0], [L, "ab"])), [(1, 3), ("b", "a")],
               lambda tv: list(tv.pluck(5, [L])), IndexError,
               lambda: (list(tv.pluck(0, [L, L])), list(tv.pluck([0, 9], [L], None)))),
    "remove": T(lambda tv: list(tv.remove(operator.truth, [0, 1, 0, 2])), [0, 0],
                lambda tv: list(tv.remove(abs, ["x"])), TypeError,
                lambda: list(tv.remove(operator.truth, it([0, 1, 0]))),
                loops=(lambda tv, big: next(tv.remove(bool, ones())),)),
    "accumulate": T(lambda tv: list(tv.accumulate(operator.add, it(), 10)),
                    [10, 13, 14, 17, 19, 20],
                    lambda tv: list(tv.accumulate(operator.add, [1, "x"])), TypeError,
                    lambda: (list(tv.accumulate(operator.add, L)),
                             list(tv.accumulate(max, it(), 0))),
                    loops=(lambda tv, big: _drain(tv.accumulate(operator.or_, ones())),)),
    "iterate": T(lambda tv: list(tv.take(4, tv.iterate(operator.neg, 1))), [1, -1, 1, -1],
                 lambda tv: list(tv.take(2, tv.iterate(abs, "x"))), TypeError,
                 lambda: list(tv.take(4, tv.iterate(operator.neg, 1)))),
    "unique": T(lambda tv: (list(tv.unique(it())), list(tv.unique(L, key=operator.neg))),
                ([3, 1, 2], [3, 1, 2]), lambda tv: list(tv.unique([[1]])), TypeError,
                lambda: (list(tv.unique(it())), list(tv.unique(array.array("b", L))),
                         list(tv.unique(L, key=operator.neg))),
                loops=(lambda tv, big: _second(tv.unique(ones())),
                       lambda tv, big: _second(tv.unique(big.zeros)),
                       lambda tv, big: _second(tv.unique(big.same_strs))),
                # an 8-bit buffer holds at most 256 values, a 16-bit one 65,536
                at_most=((lambda tv: tv.unique(bytes(20_000_000)), 256),
                         (lambda tv: tv.unique(array.array("H", bytes(8_000_000))), 65_536),
                         (lambda tv: tv.unique(array.array("b", bytes(1000))), 256))),
    # ---- functions ----------------------------------------------------------------------
    "curry": T(lambda tv: (CURRIED_SUB(5)(2), CURRIED_SUB(1, 3)), (3, -2),
               lambda tv: tv.curry(5)(), TypeError,
               lambda: (P.add3(1)(2), P.add3(1, 2), repr(P.add3),
                        repr(tv.curry(operator.add, 1, k=2)))),
    "identity": T(lambda tv: tv.identity(L) is L, True, lambda tv: tv.identity(), TypeError,
                  lambda: tv.identity(4)),
    "apply": T(lambda tv: tv.apply(int, "11", base=2), 3, lambda tv: tv.apply(int, "x"),
               ValueError, lambda: tv.apply(int, "11", base=2)),
    "pipe": T(lambda tv: tv.pipe(-1, abs, str), "1", lambda tv: tv.pipe("x", abs), TypeError,
              lambda: tv.pipe(1, operator.neg, str)),
    "do": T(lambda tv: tv.do(len, L) is L, True, lambda tv: tv.do(abs, "x"), TypeError,
            lambda: tv.do(len, L)),
    "compose": T(lambda tv: (tv.compose(str, abs)(-2), tv.compose()(1)), ("2", 1),
                 lambda tv: tv.compose(str, abs)("x"), TypeError,
                 lambda: (tv.compose(str, operator.neg)(2), tv.compose()(1))),
    "compose_left": T(lambda tv: tv.compose_left(abs, str)(-2), "2",
                      lambda tv: tv.compose_left(abs, str)("x"), TypeError,
                      lambda: tv.compose_left(operator.neg, str)(2)),
    "complement": T(lambda tv: (tv.complement(bool)(0), tv.complement(bool)(3)), (True, False),
                    lambda tv: tv.complement(abs)("x"), TypeError,
                    lambda: tv.complement(bool)(0)),
    "juxt": T(lambda tv: tv.juxt(abs, str)(-2), (2, "-2"), lambda tv: tv.juxt(abs, str)("x"),
              TypeError, lambda: tv.juxt(str, operator.neg)(2)),
    "excepts": T(lambda tv: tv.excepts(ValueError, int, type)("x"), ValueError,
                 lambda tv: tv.excepts(KeyError, int)("x"), ValueError,
                 lambda: (tv.excepts(KeyError, {}.popitem, type)(),
                          tv.excepts((KeyError,), {}.popitem)())),
    "memoize": T(lambda tv: (MEMO_ABS(-4), MEMO_ABS(-4), MEMO_ABS(2)), (4, 4, 2),
                 lambda tv: MEMO_ABS([1]), TypeError,
                 lambda: (P.memo_abs(-2), P.memo_kw("7", base=10), P.memo_abs(-3))),
    "thread_first": T(lambda tv: tv.thread_first(1, (operator.sub, 3), str), "-2",
                      lambda tv: tv.thread_first(1, ()), IndexError,
                      lambda: tv.thread_first(1, (operator.sub, 3), str)),
    "thread_last": T(lambda tv: tv.thread_last(1, (operator.sub, 3), str), "2",
                     lambda tv: tv.thread_last(1, ()), IndexError,
                     lambda: tv.thread_last(1, (operator.sub, 3), str)),
    "flip": T(lambda tv: (tv.flip(operator.sub, 1, 3), tv.flip(operator.sub)(1)(3)), (2, 2),
              lambda tv: tv.flip(operator.sub, 1, "x"), TypeError,
              lambda: (P.flip_sub(1)(3), tv.flip(operator.sub, 1, 3))),
    # ---- dictionaries -------------------------------------------------------------------
    "get_in": T(lambda tv: (tv.get_in(["a", "b"], D), tv.get_in(["a", "z"], D, 0)), (1, 0),
                lambda tv: tv.get_in(["a", "z"], D, no_default=True), KeyError,
                lambda: (tv.get_in(["a", "b"], D), tv.get_in(["a", "z"], D, 0),
                         tv.get_in(it(["a", "b"]), D)),
                loops=(lambda tv, big: tv.get_in(itertools.repeat("a"), _self_nested()),),
              leaks=(
                   (lambda tv, d: tv.get_in(["b", "c"], d), ()),
                   (lambda tv, d: tv.get_in(["b", "x"], d, no_default=True), KeyError),
              )),
    "merge": T(lambda tv: tv.merge(D, {"c": 3, "x": 1}), {"a": {"b": 1}, "c": 3, "x": 1},
               lambda tv: tv.merge(D, 5), TypeError,
               lambda: (tv.merge(D, {"x": 1}), tv.merge(D, D, factory=dict)),
              leaks=(
                   (lambda tv, d: tv.merge(d, collections.OrderedDict(d)), ()),
              )),
    "merge_with": T(lambda tv: tv.merge_with(sum, {"a": 1}, {"a": 2, "b": 3}), {"a": 3, "b": 3},
                    lambda tv: tv.merge_with(sum, D, D), TypeError,
                    lambda: tv.merge_with(list, D, {"c": 3}),
              leaks=(
                   (lambda tv, d: tv.merge_with(tuple, d, d), ()),
                   (lambda tv, d: tv.merge_with(sum, d, d), TypeError),
              )),
    "assoc": T(lambda tv: tv.assoc({"a": 1}, "b", 2), {"a": 1, "b": 2},
               lambda tv: tv.assoc(D, [], 1), TypeError, lambda: tv.assoc(D, "n", 1),
              leaks=(
                   (lambda tv, d: tv.assoc(d, "z", [1]), ()),
                   (lambda tv, d: tv.assoc(ItemsAre(("a", 1), [1]), 1, 1), TypeError),
              )),
    "dissoc": T(lambda tv: tv.dissoc(D, "c", "z"), {"a": {"b": 1}},
                lambda tv: tv.dissoc(D, []), TypeError, lambda: tv.dissoc(D, "c", "z"),
              leaks=(
                   (lambda tv, d: tv.dissoc(d, "a", "zz"), ()),
              )),
    "assoc_in": T(lambda tv: tv.assoc_in({"a": {"b": 1}}, ["a", "c"], 2), {"a": {"b": 1, "c": 2}},
                  lambda tv: tv.assoc_in(D, 5, 1), TypeError,
                  lambda: tv.assoc_in(D, ["a", "x", "y"], 1),
              leaks=(
                   (lambda tv, d: tv.assoc_in(d, ["b", "new", "deep"], [1],
                                              factory=collections.OrderedDict), ()),
              )),
    "update_in": T(lambda tv: tv.update_in(D, ["a", "b"], operator.neg), {"a": {"b": -1}, "c": 2},
                   lambda tv: tv.update_in(D, ["a", "b"], str.upper), TypeError,
                   lambda: tv.update_in(D, ["a", "b"], operator.neg),
              leaks=(
                   (lambda tv, d: tv.update_in(d, ["b", "c"], len), ()),
                   (lambda tv, d: tv.update_in(d, ["b", "c"], lambda x: 1 / 0), ZeroDivisionError),
              )),
    "keymap": T(lambda tv: tv.keymap(str.upper, {"a": 1}), {"A": 1},
                lambda tv: tv.keymap(abs, D), TypeError, lambda: tv.keymap(str.upper, D)),
    "valmap": T(lambda tv: tv.valmap(str, {"a": 1}), {"a": "1"}, lambda tv: tv.valmap(abs, D),
                TypeError, lambda: tv.valmap(repr, D),
              leaks=(
                   (lambda tv, d: tv.valmap(str, d), ()),
              )),
    "itemmap": T(lambda tv: tv.itemmap(reversed, {"a": 1}), {1: "a"},
                 lambda tv: tv.itemmap(len, D), TypeError, lambda: tv.itemmap(tuple, D),
              leaks=(
                   (lambda tv, d: tv.itemmap(lambda kv: (1, 2, 3), d), ValueError),
              )),
    "keyfilter": T(lambda tv: tv.keyfilter("a".__eq__, D), {"a": {"b": 1}},
                   lambda tv: tv.keyfilter(abs, D), TypeError,
                   lambda: tv.keyfilter(operator.truth, D),
              leaks=(
                   (lambda tv, d: tv.keyfilter(lambda k: NotBool(), d), ZeroDivisionError),
              )),
    "valfilter": T(lambda tv: tv.valfilter(lambda v: v == 2, D), {"c": 2},
                   lambda tv: tv.valfilter(abs, D), TypeError,
                   lambda: tv.valfilter(operator.truth, D)),
    "itemfilter": T(lambda tv: tv.itemfilter(lambda kv: kv[1] == 2, D), {"c": 2},
                    lambda tv: tv.itemfilter(abs, D), TypeError,
                    lambda: tv.itemfilter(all, D),
              leaks=(
                   (lambda tv, d: tv.itemfilter(lambda kv: True, ItemsDict(d)), ()),
              )),
    # ---- counting, grouping, joining ----------------------------------------------------
    "isdistinct": T(lambda tv: (tv.isdistinct(L), tv.isdistinct(it([1, 2]))), (False, True),
                    lambda tv: tv.isdistinct([[1]]), TypeError,
                    lambda: (tv.isdistinct(L), tv.isdistinct(it([1, 2])))),
    "topk": T(lambda tv: (tv.topk(2, L), tv.topk(2, it(), key=operator.neg)), ((3, 3), (1, 1)),
              lambda tv: tv.topk(2, [1, "x"]), TypeError,
              lambda: (tv.topk(2, L), tv.topk(2, it(), key=operator.neg)),
              # the copy of a source without a key (finite, so that a copy that never polls ends
              # late rather than never)
              loops=(lambda tv, big: tv.topk(1, itertools.repeat(1, 120_000_000)),)),
    "groupby": T(lambda tv: tv.groupby(operator.not_, it()), {False: L},
                 lambda tv: tv.groupby(0, L), TypeError, lambda: tv.groupby(operator.not_, L)),
    "countby": T(lambda tv: tv.countby(_odd, it()), {True: 4, False: 1},
                 lambda tv: tv.countby(abs, ["x"]), TypeError,
                 lambda: tv.countby(operator.not_, it())),
    "reduceby": T(lambda tv: tv.reduceby(_odd, operator.add, L, 0), {True: 8, False: 2},
                  lambda tv: tv.reduceby(0, operator.add, L), TypeError,
                  lambda: tv.reduceby(operator.not_, operator.add, L, 0)),
    "diff": T(lambda tv: list(tv.diff(L, [3, 1, 0, 2, 1])), [(3, 0)],
              lambda tv: list(tv.diff([1], [2], key=5)), TypeError,
              lambda: list(tv.diff(L, [3, 1, 0, 2, 1])),
              # equal elements all the way: the skip to the next difference
              loops=(lambda tv, big: next(tv.diff(ones(), ones()), None),)),
    "join": T(lambda tv: sorted(tv.join(0, [(1, "a"), (2, "b")], 0, [(2, "x"), (3, "y")])),
              [((2, "b"), (2, "x"))], lambda tv: list(tv.join(0, [()], 0, [(1,)])), IndexError,
              lambda: sorted(tv.join(operator.not_, L, operator.not_, [0, 5])),
              # a right side that never matches (long but finite, as above)
              loops=(lambda tv, big: next(tv.join(0, [(1,)], 0,
                                                  itertools.repeat((2,), 60_000_000)), None),)),
    "merge_sorted": T(lambda tv: list(tv.merge_sorted([1, 3], it([2, 4]), [0])), [0, 1, 2, 3, 4],
                      lambda tv: list(tv.merge_sorted([1], ["x"])), TypeError,
                      lambda: list(tv.merge_sorted([1, 3], it([2, 4])))),
    "Iter": T(lambda tv: tv.Iter(L).unique().take(2).collect(), [3, 1],
              lambda tv: tv.Iter(5).collect(), TypeError,
              lambda: tv.Iter(L).unique().take(2).collect()),
}

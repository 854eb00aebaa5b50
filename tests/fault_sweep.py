"""Allocation-failure sweep, run as a program in its own process (a crash must not take
the test run with it): every public entry is called with its Nth allocation failing, for N over a bounded range. Each call must give its normal result or raise
MemoryError. Prints one line per entry before running it, so a crash names its entry.

    python fault_sweep.py [max_n] [rounds] [name ...]
"""

import array
import gc
import operator
import sys

import _testcapi

import tarvel._tarvel as tv


L = [3, 1, 3, 2, 1]
D = {"a": {"b": 1}, "c": 2}
BIG_INTS = [1000 + i % 12 for i in range(30)]  # distinct, not cached small ints

# Python code run while allocations fail trips the interpreter's own faults (3.11 to 3.13
# lose or corrupt exceptions raised in a frame whose setup failed), so the calls below pass
# only C callables and C iterators, and objects whose construction runs Python code
# (inspect.signature for curry and memoize) are built, and warmed, beforehand.
ADD3 = tv.curry(operator.add)
FLIP_SUB = tv.flip(operator.sub)
MEMO_ABS = tv.memoize(abs)
MEMO_KW = tv.memoize(int)
ADD3(1)(2), FLIP_SUB(1)(2), MEMO_ABS(-2), MEMO_KW("7", base=10)


def it(items=L):
    return iter(items)


# name -> a call that exercises the entry and returns a comparable result (lazy results
# are drained).
CALLS = {
    "Some": lambda: (tv.Some(1).map(operator.neg).unwrap_or(0), repr(tv.Some([1]))),
    "NothingType": lambda: (tv.NothingType().unwrap_or(5), tv.NothingType() == tv.Nothing),
    "Option": lambda: tv.Option.of(None).map(str).unwrap_or("x"),
    "Ok": lambda: (tv.Ok(2).map(operator.neg).unwrap(), repr(tv.Ok(1))),
    "Err": lambda: (tv.Err("e").unwrap_or(1), repr(tv.Err(1))),
    "Result": lambda: (tv.Result.of(dict), type(tv.Result.of({}.popitem).err().unwrap())),
    "Nothing": lambda: (tv.Nothing.is_none(), tv.Nothing.__reduce__()),
    "first_opt": lambda: (tv.first_opt(it()).unwrap(), tv.first_opt([]).is_none()),
    "last_opt": lambda: tv.last_opt(it()).unwrap(),
    "nth_opt": lambda: tv.nth_opt(2, it()).unwrap(),
    "get_opt": lambda: (tv.get_opt("c", D).unwrap(), tv.get_opt("z", D).is_none()),
    "get_in_opt": lambda: tv.get_in_opt(D, "a", "b").unwrap(),
    "peek_opt": lambda: list(tv.peek_opt(it()).unwrap()[1]),
    "NativeIter": lambda: list(tv.remove(operator.not_, L)),
    "count": lambda: (tv.count(it()), tv.count(L)),
    "first": lambda: tv.first(it()),
    "second": lambda: tv.second(it()),
    "last": lambda: (tv.last(it()), tv.last(L)),
    "nth": lambda: (tv.nth(3, it()), tv.nth(1, L)),
    "get": lambda: (tv.get([0, 9], L, None), tv.get("z", D, 0)),
    "frequencies": lambda: (tv.frequencies(L), tv.frequencies(array.array("q", BIG_INTS)),
                            tv.frequencies(it(["a", "b", "a"]))),
    "peek": lambda: list(tv.peek(it())[1]),
    "take": lambda: list(tv.take(2, L)),
    "drop": lambda: list(tv.drop(2, L)),
    "take_nth": lambda: list(tv.take_nth(2, L)),
    "tail": lambda: (tv.tail(2, it()), tv.tail(2, L)),
    "cons": lambda: list(tv.cons(0, L)),
    "concat": lambda: list(tv.concat([L, L])),
    "concatv": lambda: list(tv.concatv(L, L)),
    "interpose": lambda: list(tv.interpose(0, it())),
    "interleave": lambda: list(tv.interleave([L, it()])),
    "sliding_window": lambda: list(tv.sliding_window(2, it())),
    "partition": lambda: list(tv.partition(2, L, None)),
    "partition_all": lambda: list(tv.partition_all(2, it())),
    "mapcat": lambda: list(tv.mapcat(list, [L, L])),
    "pluck": lambda: (list(tv.pluck(0, [L, L])), list(tv.pluck([0, 9], [L], None))),
    "remove": lambda: list(tv.remove(operator.truth, it([0, 1, 0]))),
    "accumulate": lambda: (list(tv.accumulate(operator.add, L)),
                           list(tv.accumulate(max, it(), 0))),
    "iterate": lambda: list(tv.take(4, tv.iterate(operator.neg, 1))),
    "unique": lambda: (list(tv.unique(it())), list(tv.unique(array.array("b", L))),
                       list(tv.unique(L, key=operator.neg))),
    "curry": lambda: (ADD3(1)(2), ADD3(1, 2), repr(ADD3), repr(tv.curry(operator.add, 1, k=2))),
    "identity": lambda: tv.identity(4),
    "apply": lambda: tv.apply(int, "11", base=2),
    "pipe": lambda: tv.pipe(1, operator.neg, str),
    "do": lambda: tv.do(len, L),
    "compose": lambda: (tv.compose(str, operator.neg)(2), tv.compose()(1)),
    "compose_left": lambda: tv.compose_left(operator.neg, str)(2),
    "complement": lambda: tv.complement(bool)(0),
    "juxt": lambda: tv.juxt(str, operator.neg)(2),
    "excepts": lambda: (tv.excepts(KeyError, {}.popitem, type)(),
                        tv.excepts((KeyError,), {}.popitem)()),
    "memoize": lambda: (MEMO_ABS(-2), MEMO_KW("7", base=10), MEMO_ABS(-3)),
    "thread_first": lambda: tv.thread_first(1, (operator.sub, 3), str),
    "thread_last": lambda: tv.thread_last(1, (operator.sub, 3), str),
    "flip": lambda: (FLIP_SUB(1)(3), tv.flip(operator.sub, 1, 3)),
    "get_in": lambda: (tv.get_in(["a", "b"], D), tv.get_in(["a", "z"], D, 0),
                       tv.get_in(it(["a", "b"]), D)),
    "merge": lambda: (tv.merge(D, {"x": 1}), tv.merge(D, D, factory=dict)),
    "merge_with": lambda: tv.merge_with(list, D, {"c": 3}),
    "assoc": lambda: tv.assoc(D, "n", 1),
    "dissoc": lambda: tv.dissoc(D, "c", "z"),
    "assoc_in": lambda: tv.assoc_in(D, ["a", "x", "y"], 1),
    "update_in": lambda: tv.update_in(D, ["a", "b"], operator.neg),
    "keymap": lambda: tv.keymap(str.upper, D),
    "valmap": lambda: tv.valmap(repr, D),
    "itemmap": lambda: tv.itemmap(tuple, D),
    "keyfilter": lambda: tv.keyfilter(operator.truth, D),
    "valfilter": lambda: tv.valfilter(operator.truth, D),
    "itemfilter": lambda: tv.itemfilter(all, D),
    "isdistinct": lambda: (tv.isdistinct(L), tv.isdistinct(it([1, 2]))),
    "topk": lambda: (tv.topk(2, L), tv.topk(2, it(), key=operator.neg)),
    "groupby": lambda: tv.groupby(operator.not_, L),
    "countby": lambda: tv.countby(operator.not_, it()),
    "reduceby": lambda: tv.reduceby(operator.not_, operator.add, L, 0),
    "diff": lambda: list(tv.diff(L, [3, 1, 0, 2, 1])),
    "join": lambda: sorted(tv.join(operator.not_, L, operator.not_, [0, 5])),
    "merge_sorted": lambda: list(tv.merge_sorted([1, 3], it([2, 4]))),
    "Iter": lambda: tv.Iter(L).unique().take(2).collect(),
}


def classify(result, raised):
    """("raised", type) for a call that raised; ("raised", MemoryError) for a result that
    carries one (an Err made from it is a correct outcome); ("ok", repr) otherwise."""
    if raised is not None:
        return "raised", type(raised)
    text = repr(result)
    return ("raised", MemoryError) if "MemoryError" in text else ("ok", text)


def sweep(max_n, names):
    for name in names:
        call = CALLS[name]
        print(name, file=sys.stderr, flush=True)
        call()
        expected = classify(call(), None)
        for n in range(1, max_n + 1):
            result = raised = None
            _testcapi.set_nomemory(n, n + 1)
            try:
                result = call()
            except Exception as e:
                raised = e
            finally:
                _testcapi.remove_mem_hooks()
            got = classify(result, raised)
            del result, raised
            if got != expected and got != ("raised", MemoryError):
                sys.exit(f"{name}: allocation {n} failing gave {got!r}, not {expected!r}")


def main():
    max_n = int(sys.argv[1]) if len(sys.argv) > 1 else 60
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    names = sys.argv[3:] or list(CALLS)
    totals = [0] * rounds  # filled in place: growing the list would count as a leak
    for i in range(rounds):
        sweep(max_n, names)
        gc.collect()
        if hasattr(sys, "gettotalrefcount"):
            totals[i] = sys.gettotalrefcount()
    print("names", *CALLS)
    print("totals", *totals)


if __name__ == "__main__":
    main()

"""Dictionary tool rows."""

import tarvel as tv
from harness import Row

N = 100_000


def _nested(depth=4):
    d = {"leaf": 1}
    for i in reversed(range(depth)):
        d = {f"k{i}": d, "other": i}
    return d


_missing = object()


def inc(x):
    return x + 1


def is_even(x):
    return x % 2 == 0


def rows():
    def get_in_hit():
        d = _nested()
        keys = ["k0", "k1", "k2", "k3"]

        def chain():
            try:
                return d["k0"]["k1"]["k2"]["k3"]
            except (KeyError, IndexError, TypeError):
                return None

        return (lambda: tv.get_in(keys, d)), chain

    def get_in_miss():
        d = _nested()
        keys = ["k0", "k1", "k2", "nope"]

        def chain():
            try:
                return d["k0"]["k1"]["k2"]["nope"]
            except (KeyError, IndexError, TypeError):
                return None

        return (lambda: tv.get_in(keys, d)), chain

    def merge2():
        d1 = {i: i for i in range(N)}
        d2 = {i: -i for i in range(N // 2, N + N // 2)}
        return (lambda: tv.merge(d1, d2)), (lambda: {**d1, **d2})

    def merge_with2():
        d1 = {i: i for i in range(N)}
        d2 = {i: -i for i in range(N // 2, N + N // 2)}

        def by_lists(f, *dicts):
            groups = {}
            for d in dicts:
                for k, v in d.items():
                    if k in groups:
                        groups[k].append(v)
                    else:
                        groups[k] = [v]
            return {k: f(v) for k, v in groups.items()}

        return (lambda: tv.merge_with(sum, d1, d2)), (lambda: by_lists(sum, d1, d2))

    def valmap():
        d = {i: i for i in range(N)}
        return (lambda: tv.valmap(inc, d)), (lambda: {k: inc(v) for k, v in d.items()})

    def keyfilter():
        d = {i: i for i in range(N)}
        return (lambda: tv.keyfilter(is_even, d)), (
            lambda: {k: v for k, v in d.items() if is_even(k)})

    def assoc():
        d = {i: i for i in range(N)}
        return (lambda: tv.assoc(d, -1, 0)), (lambda: {**d, -1: 0})

    def dissoc():
        d = {i: i for i in range(N)}

        def pops():
            r = d.copy()
            for k in (1, 2, 3):
                r.pop(k, None)
            return r

        return (lambda: tv.dissoc(d, 1, 2, 3)), pops

    def _rec(d, keys, leaf):
        # The same rebuild in Python: a copy per level, non-mappings replaced.
        k, rest = keys[0], keys[1:]
        r = dict(d) if hasattr(d, "keys") else {}
        child = d.get(k, _missing) if hasattr(d, "keys") else _missing
        if rest:
            r[k] = _rec({} if child is _missing else child, rest, leaf)
        else:
            r[k] = leaf(child)
        return r

    def _rec_assoc_in(d, keys, value):
        return _rec(d, keys, lambda old: value)

    def _rec_update_in(d, keys, func, default=None):
        return _rec(d, keys, lambda old: func(default if old is _missing else old))

    def small3():
        return {"a": {"b": {"c": 1, "x": 2}, "y": 3}, "z": 4, "w": 5}

    def assoc_in():
        d, keys = small3(), ["a", "b", "c"]
        return (lambda: tv.assoc_in(d, keys, 9)), (lambda: _rec_assoc_in(d, keys, 9))

    def update_in():
        d, keys = small3(), ["a", "b", "c"]
        return (lambda: tv.update_in(d, keys, inc)), (lambda: _rec_update_in(d, keys, inc))

    return [
        Row("get_in(4 keys, d) hit", "try: d[a][b][c][d] except", get_in_hit, 1.0,
            note="the chain is four specialised dict subscripts; calling any builtin from "
                 "the lambda costs about as much again (get_in with an empty path times "
                 "like identity), which the chain never pays"),
        Row("get_in(4 keys, d) miss", "try: d[a][b][c][x] except", get_in_miss, 3.0),
        Row("merge(d1, d2) 1e5", "{**d1, **d2}", merge2, 0.95),
        Row("merge_with(sum, d1, d2) 1e5", "dict of lists, then comprehension", merge_with2,
            2.0,
            note="allocation-bound: a key with one value keeps it as it is, a key with more "
                 "gathers them natively, and every key's values reach the function in one "
                 "reused list; the grouping dict's inserts, an int per sum and sum itself "
                 "remain"),
        Row("valmap(inc, d) 1e5", "{k: inc(v) for k, v in d.items()}", valmap, 1.2,
            note="each call from native code into a Python function enters the interpreter "
                 "anew (frame push, eval entry); the comprehension's call is inlined. With a "
                 "builtin (abs) the same loop is ~1.25x"),
        Row("keyfilter(is_even, d) 1e5", "{k: v for k, v in d.items() if is_even(k)}",
            keyfilter, 0.95,
            note="the call from native code into a Python predicate dominates; the "
                 "comprehension's calls are inlined by the interpreter"),
        Row("assoc(d, k, v) 1e5", "{**d, k: v}", assoc, 0.95),
        Row("dissoc(d, 3 keys) 1e5", "d.copy() and 3 pops", dissoc, 1.0),
        Row("assoc_in(d, 3 keys, v)", "recursive Python version", assoc_in, 3.0),
        Row("update_in(d, 3 keys, inc)", "recursive Python version", update_in, 3.0),
    ]

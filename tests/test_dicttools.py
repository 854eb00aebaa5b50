"""Dictionary tools against a short Python model: generated nested dicts, every result
factory, inputs that are plain dicts or read through their own items(), and hostile
callbacks, factories and mappings."""

import collections
import copy
import signal

import pytest
from hypothesis import given, strategies as st

import tarvel._tarvel as m
from leakcheck import check_leaks
from sources import Boom, ItemsAre, ItemsDict, NotBool, outcome


# ---- the model -------------------------------------------------------------------------

MISSING = object()


def new(factory):
    return {} if factory is None else factory()


def pairs(d):
    for item in d.items():
        if not isinstance(item, tuple):
            raise TypeError(f"'{type(item).__qualname__}' object is not an instance of 'tuple'")
        yield item[0], item[1]


def copy_into(target, source):
    for k, v in pairs(source):
        target[k] = v
    return target


def mappings(dicts):
    if len(dicts) == 1 and not hasattr(dicts[0], "keys"):
        return list(dicts[0])
    return dicts


def model_rec(d, path, leaf, factory):
    r = new(factory)
    child = MISSING
    if hasattr(d, "keys"):
        copy_into(r, d)
        try:
            child = d[path[0]]
        except KeyError:
            pass
    if len(path) == 1:
        r[path[0]] = leaf(child)
    else:
        r[path[0]] = model_rec(new(factory) if child is MISSING else child, path[1:], leaf,
                               factory)
    return r


def model_rebuild(body, func, d, factory):
    r = new(factory)
    for k, v in pairs(d):
        if body == "keymap":
            r[func(k)] = v
        elif body == "valmap":
            r[k] = func(v)
        elif body == "itemmap":
            nk, nv = func((k, v))
            r[nk] = nv
        elif func({"keyfilter": k, "valfilter": v, "itemfilter": (k, v)}[body]):
            r[k] = v
    return r


def model_merge_with(func, dicts, factory):
    groups = {}
    for d in mappings(dicts):
        for k, v in pairs(d):
            groups.setdefault(k, []).append(v)
    return {k: func(vs) for k, vs in groups.items()} if factory is None else copy_into(
        factory(), {k: func(vs) for k, vs in groups.items()})


# ---- inputs ----------------------------------------------------------------------------

def as_kind(d, kind):
    """`d` with every nested dict turned into `kind` (None: left as plain dicts)."""
    if kind is None or not isinstance(d, dict):
        return d
    return kind((k, as_kind(v, kind)) for k, v in dict.items(d))


def shape(x):
    """Type and item order of a result, all the way down."""
    if isinstance(x, dict):
        return (type(x).__name__, [(k, shape(v)) for k, v in dict.items(x)])
    return x


FACTORIES = [None, dict, collections.OrderedDict, ItemsDict]
KINDS = [None, collections.OrderedDict, ItemsDict]
fid = ["none", "dict", "odict", "items_dict"]
kid = ["plain", "odict", "items_dict"]

keys = st.sampled_from(["a", "b", "c", 1, 2])
nested = st.recursive(st.integers(-3, 3),
                      lambda inner: st.dictionaries(keys, inner, max_size=4), max_leaves=12)
dicts = st.dictionaries(keys, nested, max_size=5)
paths = st.lists(keys, min_size=1, max_size=4)


# ---- differential tests ----------------------------------------------------------------

@pytest.mark.parametrize("kind", KINDS, ids=kid)
@pytest.mark.parametrize("factory", FACTORIES, ids=fid)
@given(d=dicts, key=keys, path=paths)
def test_paths_match_model(factory, kind, d, key, path):
    d = as_kind(d, kind)
    before = shape(d)
    expected = copy_into(new(factory), d)
    expected[key] = "v"
    assert shape(m.assoc(d, key, "v", factory=factory)) == shape(expected)
    assert shape(m.assoc_in(d, path, "v", factory=factory)) == shape(
        model_rec(d, path, lambda old: "v", factory))
    f = lambda x: ("new", x)  # noqa: E731
    assert shape(m.update_in(d, path, f, factory=factory)) == shape(
        model_rec(d, path, lambda old: f(None if old is MISSING else old), factory))
    expected = copy_into(new(factory), d)
    for k in path:
        if k in expected:
            del expected[k]
    assert shape(m.dissoc(d, *path, factory=factory)) == shape(expected)
    assert shape(d) == before


@pytest.mark.parametrize("kind", KINDS, ids=kid)
@pytest.mark.parametrize("factory", FACTORIES, ids=fid)
@given(ds=st.lists(dicts, max_size=4))
def test_merges_match_model(factory, kind, ds):
    ds = [as_kind(d, kind) for d in ds]
    expected = new(factory)
    for d in ds:
        copy_into(expected, d)
    assert shape(m.merge(*ds, factory=factory)) == shape(expected)
    assert shape(m.merge(ds, factory=factory)) == shape(expected)  # one non-mapping argument
    for func in (len, tuple, lambda vs: vs):
        assert shape(m.merge_with(func, *ds, factory=factory)) == shape(
            model_merge_with(func, ds, factory))


def _keeping(store):
    def f(vs):
        store.append(vs)
        return len(vs)
    return f


# Functions that change, keep or replace the list of values they are handed: each key must
# still get a list of its own values alone, whatever the function did with an earlier one.
MERGE_FUNCS = {
    "appends": lambda vs: (vs.append("x"), tuple(vs))[1],
    "clears": lambda vs: (tuple(vs), vs.clear())[0],
    "replaces-first": lambda vs: (tuple(vs), vs.__setitem__(0, "y"))[0],
    "returns-it": lambda vs: vs,
    "keeps-it": None,
}
value_lists = st.dictionaries(keys, st.one_of(st.integers(-3, 3), st.lists(st.integers(0, 2),
                                                                               max_size=2)),
                              max_size=5)


@pytest.mark.parametrize("how", sorted(MERGE_FUNCS))
@given(ds=st.lists(value_lists, max_size=4))
def test_merge_with_funcs_that_touch_the_list(how, ds):
    got_kept, want_kept = [], []
    f = MERGE_FUNCS[how] or _keeping(got_kept)
    g = MERGE_FUNCS[how] or _keeping(want_kept)
    got = m.merge_with(f, *ds)
    assert got == model_merge_with(g, ds, None)
    assert got_kept == want_kept
    if how == "returns-it":
        assert len({id(v) for v in got.values()}) == len(got)


@pytest.mark.parametrize("how", sorted(MERGE_FUNCS))
@pytest.mark.parametrize("n", [1, 2, 5, 9, 17])
def test_merge_with_many_inputs(how, n):
    # Keys met in up to n inputs, so their value counts pass the points where the storage
    # grows and differ from one key to the next; equal keys of other types (1.0, True) keep
    # the first one met.
    ds = [{k: (j, k) for k in range(j % 3, 24, 1 + j % 4)} for j in range(n)]
    ds.append({1.0: "f", True: "t", 2**70: "big", "s": "s"})
    got_kept, want_kept = [], []
    got = m.merge_with(MERGE_FUNCS[how] or _keeping(got_kept), *ds)
    want = model_merge_with(MERGE_FUNCS[how] or _keeping(want_kept), ds, None)
    assert list(got.items()) == list(want.items())
    assert [type(k) for k in got] == [type(k) for k in want]
    assert got_kept == want_kept


class SameHash:
    def __init__(self, armed):
        self.armed = armed

    def __hash__(self):
        return 3

    def __eq__(self, other):
        if self.armed and getattr(other, "armed", False):
            raise RuntimeError("eq")
        return self is other


def test_merge_with_hostile_keys_release_everything():
    # A comparison that raises after values have piled up: the error is the comparison's,
    # and every value taken so far is released.
    vals = [object() for _ in range(3)]
    early = {i: vals[i % 3] for i in range(50)}
    ok = {SameHash(False): 1, SameHash(True): vals[0]}
    check_leaks(lambda: m.merge_with(len, early, early, ok), watch=vals, repeat=200)
    bad = [early, early, {SameHash(True): vals[1]}, {SameHash(True): vals[2]}]
    with pytest.raises(RuntimeError, match="eq"):
        m.merge_with(len, *bad)
    check_leaks(lambda: m.merge_with(len, *bad), raises=RuntimeError, watch=vals, repeat=200)
    failing = lambda vs: 1 / (len(vs) - 2)  # noqa: E731
    check_leaks(lambda: m.merge_with(failing, early, early), raises=ZeroDivisionError,
                watch=vals, repeat=200)


BODIES = {
    "keymap": lambda k: (k, 0) if isinstance(k, int) else k.upper(),
    "valmap": lambda v: ("v", v),
    "itemmap": lambda kv: [kv[1] if isinstance(kv[1], int) else 9, kv[0]],
    "keyfilter": lambda k: k in ("a", 1),
    "valfilter": lambda v: isinstance(v, dict),
    "itemfilter": lambda kv: kv[0] == "b" or kv[1] == 0,
}


@pytest.mark.parametrize("kind", KINDS, ids=kid)
@pytest.mark.parametrize("factory", FACTORIES, ids=fid)
@pytest.mark.parametrize("body", list(BODIES))
@given(d=dicts)
def test_map_and_filter_match_model(body, factory, kind, d):
    d = as_kind(d, kind)
    before = shape(d)
    got = getattr(m, body)(BODIES[body], d, factory=factory)
    assert shape(got) == shape(model_rebuild(body, BODIES[body], d, factory))
    assert shape(d) == before


# ---- the rules' edges ------------------------------------------------------------------

@pytest.mark.parametrize("call,expected", [
    (lambda: m.assoc_in({"a": 5}, ["a", "b"], 1), {"a": {"b": 1}}),
    (lambda: m.assoc_in({"a": [1]}, ["a", 0], 9), {"a": {0: 9}}),
    (lambda: m.assoc_in({"a": None}, ("a", "b", "c"), 1), {"a": {"b": {"c": 1}}}),
    (lambda: m.assoc_in({"a": "text"}, iter(["a", "b"]), 1), {"a": {"b": 1}}),
    (lambda: m.update_in({}, ["a"], str), {"a": "None"}),
    (lambda: m.update_in({}, ["a"], len, default=[]), {"a": 0}),
    (lambda: m.merge(), {}),
    (lambda: m.merge([{"a": 1}, {"b": 2}]), {"a": 1, "b": 2}),
    (lambda: m.merge_with(sum), {}),
    (lambda: m.itemmap(reversed, {"a": 1}), {1: "a"}),
    (lambda: m.itemmap(lambda kv: kv[0], {"ab": 1}), {"a": "b"}),
    (lambda: m.keymap(lambda k: 0, {"a": 1, "b": 2}), {0: 2}),
    (lambda: m.dissoc({}, dict), {}),
    (lambda: m.dissoc({dict: 1, "a": 2}, dict), {"a": 2}),
    (lambda: m.get_in(["a"], collections.defaultdict(int)), 0),  # __missing__ of a subclass
    (lambda: m.get_in(("a", 0), {"a": [7]}), 7),
    (lambda: m.get_in(["a", "b"], {"a": 5}, "d"), "d"),
    (lambda: m.get_in([[1]], {}, "d"), "d"),  # unhashable key: a lookup error
    (lambda: m.get_in(["a"], BadGet(), "d"), "d"),  # so is an IndexError
])
def test_edges(call, expected):
    assert call() == expected


@pytest.mark.parametrize("call,exc,message", [
    (lambda: m.assoc_in({}, [], 1), StopIteration, ""),
    (lambda: m.update_in({}, iter([]), str), StopIteration, ""),
    (lambda: m.merge({"a": 1}, 5), TypeError, "'int' object is not iterable"),
    (lambda: m.merge(5), TypeError, "'int' object is not iterable"),
    (lambda: m.merge_with(sum, {"a": 1}, 5), AttributeError, "items"),
    (lambda: m.valmap(len, [1, 2]), AttributeError, "'list' object has no attribute 'items'"),
    (lambda: m.itemmap(lambda kv: (1,), {"a": 1}), ValueError,
     "dictionary update sequence element has length < 2; 2 is required"),
    (lambda: m.itemmap(lambda kv: [1, 2, 3], {"a": 1}), ValueError,
     "dictionary update sequence element has length > 2; 2 is required"),
    (lambda: m.itemmap(lambda kv: 5, {"a": 1}), TypeError, "not iterable"),
    (lambda: m.keyfilter(lambda k: NotBool(), {"a": 1}), ZeroDivisionError, ""),
    (lambda: m.get_in(["a", (1, 2)], {"a": {}}, no_default=True), KeyError, "(1, 2)"),
    (lambda: m.assoc_in({"a": BadGet()}, ["a", "b"], 1), IndexError, ""),
])
def test_errors(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert message in str(info.value)


class BadGet(dict):
    def __getitem__(self, key):
        raise IndexError(key)


def test_tuple_key_error_keeps_the_key_whole():
    with pytest.raises(KeyError) as info:
        m.get_in([(1, 2)], {}, no_default=True)
    assert info.value.args == ((1, 2),)


ITEM_READERS = {
    "assoc": lambda d: m.assoc(d, "k", 1),
    "dissoc": lambda d: m.dissoc(d, "k"),
    "assoc_in": lambda d: m.assoc_in(d, ["k", "j"], 1),
    "merge": lambda d: m.merge(d, {}),
    "merge_with": lambda d: m.merge_with(list, d),
    **{name: (lambda name: lambda d: getattr(m, name)(BODIES[name], d))(name)
       for name in BODIES},
}


@pytest.mark.parametrize("reader", list(ITEM_READERS))
@pytest.mark.parametrize("bad,exc,message", [
    (["k", 1], TypeError, "'list' object is not an instance of 'tuple'"),
    (None, TypeError, "'None' is not an instance of 'tuple'"),
    (("k",), IndexError, "tuple index out of range"),
    ((), IndexError, "tuple index out of range"),
])
def test_items_must_be_pairs(reader, bad, exc, message):
    with pytest.raises(exc, match=message.replace("(", r"\(").replace(")", r"\)")):
        ITEM_READERS[reader](ItemsAre(("a", 1), bad))
    # a tuple subclass with extra elements is fine: only the first two count
    Pair = collections.namedtuple("Pair", "k v extra")
    assert ITEM_READERS[reader](ItemsAre(Pair("a", 1, 2))) is not None


# ---- hostile callbacks, factories and mappings -----------------------------------------

MUTATIONS = {
    "pop": lambda d: d.pop(next(iter(d))),
    "add": lambda d: d.__setitem__(100, 1),
    "pop_and_add": lambda d: (d.pop(list(d)[-1]), d.__setitem__(100, 1)),
    "replace_values": lambda d: d.update((k, -1) for k in list(d)),
    "clear": lambda d: d.clear(),
}


@pytest.mark.parametrize("body", list(BODIES))
@pytest.mark.parametrize("mutation", list(MUTATIONS))
def test_callback_mutating_the_input_matches_the_interpreter(body, mutation):
    def run(tool):
        d = {i: i for i in range(6)}
        calls = []

        def cb(x):
            calls.append(x)
            if len(calls) == 2:
                MUTATIONS[mutation](d)
            return BODIES[body](x) if body not in ("keymap", "itemmap") else (
                (x, 1) if body == "itemmap" else x)

        return outcome(lambda: shape(tool(cb, d))), calls

    ours = run(getattr(m, body))
    theirs = run(lambda cb, d: model_rebuild(body, cb, d, None))
    assert ours == theirs


def test_setitem_mutating_the_source_raises():
    src = {i: i for i in range(10)}

    class Thief(dict):
        def __setitem__(self, k, v):
            super().__setitem__(k, v)
            if k == 3:
                src.pop(9)

    for call in (lambda: m.merge(src, factory=Thief), lambda: m.assoc(src, 1, 1, factory=Thief),
                 lambda: m.valmap(str, src, factory=Thief)):
        with pytest.raises(RuntimeError, match="dictionary changed size during iteration"):
            call()
        src[9] = 9


class Fragile(dict):
    """Raises on the (n+1)-th assignment."""

    def __init__(self, n):
        super().__init__()
        self.left = n

    def __setitem__(self, k, v):
        if self.left == 0:
            raise Boom
        self.left -= 1
        super().__setitem__(k, v)


KEEP_ALL = {"keymap": lambda k: k, "valmap": lambda v: v, "itemmap": lambda kv: kv,
            "keyfilter": bool, "valfilter": bool, "itemfilter": bool}
HALF_WAY = {
    "assoc": lambda d, f: m.assoc(d, "z", 1, factory=f),
    "dissoc": lambda d, f: m.dissoc(d, "a", factory=f),
    "assoc_in": lambda d, f: m.assoc_in(d, ["n", "x", "y"], 1, factory=f),
    "update_in": lambda d, f: m.update_in(d, ["n", "q", "y"], str, factory=f),
    "merge": lambda d, f: m.merge(d, d, factory=f),
    "merge_with": lambda d, f: m.merge_with(list, d, d, factory=f),
    **{name: (lambda name: lambda d, f: getattr(m, name)(KEEP_ALL[name], d, factory=f))(name)
       for name in KEEP_ALL},
}
# (tool, what fails, after how many successful factory calls / assignments)
HALF_WAY_CASES = (
    [(tool, "setitem", n) for tool in HALF_WAY for n in (0, 1, 2)]
    + [(tool, "factory", 0) for tool in HALF_WAY]
    # a path rebuild calls the factory once per level, twice where a level is missing
    + [("assoc_in", "factory", 1), ("assoc_in", "factory", 2),
       ("update_in", "factory", 1), ("update_in", "factory", 3)])


@pytest.mark.parametrize("tool,what,after", HALF_WAY_CASES)
def test_factory_or_setitem_raising_half_way(tool, what, after):
    payload = [object()]
    d = {"a": 1, "b": {"c": payload}, "n": {"x": {"y": 0}}, "k": "v"}
    before = copy.deepcopy(d, {id(payload): payload})
    call = HALF_WAY[tool]

    def factory(calls=[0]):  # noqa: B006 - counts the calls of one run
        calls[0] += 1
        if what == "factory" and calls[0] > after:
            calls[0] = 0
            raise Boom
        return Fragile(after) if what == "setitem" else {}

    with pytest.raises(Boom):
        call(d, factory)
    assert d == before and d["b"]["c"] is payload
    check_leaks(lambda: call(d, factory), watch=[payload, d], raises=Boom, repeat=400)


def test_a_long_path_does_not_exhaust_the_stack():
    path = list(range(200_000))
    r = m.assoc_in({}, path, "leaf")
    assert m.get_in(path, r) == "leaf"
    assert m.update_in(r, path, str.upper)[0][1][2] is not r[0][1][2]


def test_long_loops_let_signal_handlers_run():
    if not hasattr(signal, "setitimer"):
        pytest.skip("no interval timer")
    d = dict.fromkeys(range(3_000_000), 1)

    def handler(*_):
        raise Boom

    old = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.01)
        with pytest.raises(Boom):
            m.valmap(abs, d)  # no Python code runs in the loop: only its own check can
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)

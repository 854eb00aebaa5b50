"""Hashing edge cases shared by unique (seen-set) and frequencies (hash index): both must
agree with the dict semantics of dict.fromkeys / collections.Counter, whatever the hashes."""

from collections import Counter

import pytest
from hypothesis import given, strategies as st

from leakcheck import check_leaks


def _unique(tv, xs):
    return list(tv.unique(xs)), None


def _freq(tv, xs):
    d = tv.frequencies(xs)
    return list(d), list(d.values())


def _unique_ref(xs):
    return list(dict.fromkeys(xs)), None


def _freq_ref(xs):
    c = Counter(xs)
    return list(c), list(c.values())


TOOLS = [(_unique, _unique_ref), (_freq, _freq_ref)]
TOOL_IDS = ["unique", "frequencies"]


def same(a, b):
    """Same keys (the very same first-occurrence objects, in order) and same counts."""
    (ka, ca), (kb, cb) = a, b
    return len(ka) == len(kb) and all(x is y for x, y in zip(ka, kb)) and ca == cb


class Collide:
    """Equal-hash objects: every instance hashes to `h`; equal when their tags are."""

    def __init__(self, tag, h=7):
        self.tag, self.h = tag, h

    def __hash__(self):
        return self.h

    def __eq__(self, other):
        return isinstance(other, Collide) and self.tag == other.tag

    def __repr__(self):
        return f"Collide({self.tag!r})"


class RaisingEq(Collide):
    __hash__ = Collide.__hash__

    def __eq__(self, other):
        raise RuntimeError("eq raised")


class NoEq:
    """Hashes like 1 but never compares equal to anything but itself."""

    def __hash__(self):
        return 1

    def __eq__(self, other):
        return self is other


class HashedInt(int):
    def __hash__(self):
        return 12345


class WeirdStr(str):
    def __hash__(self):
        return 99


class NeverEqStr(str):
    """Hashes like the equal str but refuses equality with everything."""

    __hash__ = str.__hash__

    def __eq__(self, other):
        return False


# One of each str width (1, 2 and 4 bytes per code point), at lengths around 0, 1 and long.
WIDE_STRS = ["", "ab", "a" * 40, "\xe9t\xe9", "\xe9" * 30, "\u0100b", "\u4e2d" * 25,
             "\U0001f600x", "\U0001f600" * 20, "b\u0100", "ba"]

BOUNDARY_INTS = [0, 1, -1, -2, 2, 5, 256, 257, -5, -6, 2**30 - 1, 2**30, -(2**30) + 1, -(2**30),
                 2**31, 2**40, -(2**40), 2**61 - 2, 2**61 - 1, 2**61, -(2**61) + 1, 2**63 - 1,
                 -(2**63), 2**64, -(2**64) - 1, 10**30]


def _fresh_copies(xs):
    # Equal but distinct objects, so that the lookups cannot stop at identity.
    out = []
    for x in xs:
        if type(x) is int:
            out.append(int(str(x)))
        elif type(x) is str:
            out.append("".join(list(x)))
        else:
            out.append(x)
    return out


INPUTS = {
    "numeric-tower": [1, 1.0, True, 2, 2.0, 0, False, 0.0, -0.0, 1 + 0j],
    "minus-one-minus-two": [-1, -2, -1, -2, -2],
    "boundary-ints": (BOUNDARY_INTS + _fresh_copies(BOUNDARY_INTS)
                      + [float(x) for x in BOUNDARY_INTS]),
    "fresh-strings": WIDE_STRS + _fresh_copies(WIDE_STRS) + _fresh_copies(WIDE_STRS[::-1]),
    "str-subclass-refusing-eq": ["xy", NeverEqStr("xy"), "".join(["x", "y"]), NeverEqStr("xy"),
                                 "xy"],
    "strings": ["a", "b", "".join(["a"]), "", "é", "\U0001f600", "ab" * 50, "b"],
    "collisions": [Collide(i % 5) for i in range(40)],
    "collide-with-ints": [Collide(1, h=1), 1, NoEq(), 1.0, NoEq(), True],
    "subclasses": [HashedInt(5), 5, HashedInt(5), WeirdStr("x"), "x", WeirdStr("x"), True, 1],
    "tuples": [(1, 2), (1, 2.0), (1, (2,)), (), (), ("a", None)],
    "none-and-types": [None, int, None, str, int, Ellipsis],
}


@pytest.mark.parametrize("tool,ref", TOOLS, ids=TOOL_IDS)
@pytest.mark.parametrize("name", sorted(INPUTS))
def test_matches_dict_semantics(tv, tool, ref, name):
    xs = INPUTS[name]
    for src in (xs, tuple(xs)):
        assert same(tool(tv, src), ref(xs))
    assert same(tool(tv, iter(xs)), ref(xs))


@pytest.mark.parametrize("tool,ref", TOOLS, ids=TOOL_IDS)
@given(st.lists(st.text(alphabet="ab\xe9\u0100\u4e2d\U0001f600", max_size=4), max_size=40))
def test_equal_strs_that_are_distinct_objects(tv, tool, ref, xs):
    # Every later occurrence is a new object, so equal strs meet only by their contents.
    xs = xs + _fresh_copies(xs)
    assert same(tool(tv, xs), ref(xs))
    groups = tv.groupby(lambda x: x, xs)
    expected = {}
    for x in xs:
        expected.setdefault(x, []).append(x)
    assert groups == expected
    assert all(a is b for a, b in zip(groups, expected))


# Lists and tuples of exact ints and strs are read in runs of 256 without a reference per
# element, until the first element of another kind; counts move into the result dict after
# 16384 mostly distinct keys. Intruders that equal, or hash like, keys already read.
INTRUDERS = {
    "none": None,
    "float": 7.0,
    "int-subclass": HashedInt(7),
    "str-refusing-eq": NeverEqStr("k7"),
    "collide-with-str": Collide(0, h=hash("k7")),
    "str-subclass": WeirdStr("k7"),
    "tuple": ("k7",),
}


@pytest.mark.parametrize("tool,ref", TOOLS, ids=TOOL_IDS)
@pytest.mark.parametrize("intruder", sorted(INTRUDERS))
@pytest.mark.parametrize("n, distinct", [(3000, 40), (40_000, 40_000), (40_000, 9_000)])
@pytest.mark.parametrize("at, kind", [(0, list), (256, tuple), (16_383, list), (-1, tuple)])
def test_plain_key_runs_with_an_intruder(tv, tool, ref, intruder, n, distinct, at, kind):
    base = [(f"k{i % distinct}" if i % 3 else int(str(i % distinct))) for i in range(n)]
    xs = _fresh_copies(base)
    x = INTRUDERS[intruder]
    xs.insert(at if at >= 0 else len(xs), x)
    xs.insert(len(xs) // 2, x)
    assert same(tool(tv, kind(xs)), ref(xs))


# Small ints are matched by their hash alone when the stored key is a small int too: mixed
# here with values of the same hash that are equal (floats, bools) or not (Collide), and
# with -1 and -2, which share a hash.
same_hash_as_small = st.integers(-3, 3).flatmap(lambda v: st.sampled_from(
    [v, int(str(v)), float(v), Collide(v, h=v if v != -1 else -2), bool(v % 2), NoEq()]))


@pytest.mark.parametrize("tool,ref", TOOLS, ids=TOOL_IDS)
@given(st.lists(same_hash_as_small, max_size=40))
def test_small_ints_among_equal_hashes(tv, tool, ref, xs):
    assert same(tool(tv, xs), ref(xs))
    assert same(tool(tv, iter(xs)), ref(xs))


@pytest.mark.parametrize("tool,ref", TOOLS, ids=TOOL_IDS)
def test_nan_by_identity(tv, tool, ref):
    nan = float("nan")
    xs = [nan, nan, float("nan"), 1.0, nan]
    got = tool(tv, xs)
    assert same(got, ref(xs))
    assert len(got[0]) == 3


@pytest.mark.parametrize("tool,ref", TOOLS, ids=TOOL_IDS)
def test_many_distinct_grow_tables(tv, tool, ref):
    # Past every growth step of the tables, with values that collide in the low hash bits.
    xs = [i * 2**20 for i in range(3000)] + [f"s{i}" for i in range(3000)] + list(range(3000))
    xs = xs + xs[::-1]
    assert same(tool(tv, xs), ref(xs))


def test_raising_eq_on_collision(tv):
    xs = [RaisingEq(1), RaisingEq(2)]
    it = tv.unique(xs)
    assert next(it) is xs[0]
    with pytest.raises(RuntimeError, match="eq raised"):
        next(it)
    assert list(it) == []
    with pytest.raises(RuntimeError, match="eq raised"):
        tv.frequencies(xs)
    # No collision, no comparison.
    ys = [RaisingEq(1, h=1), RaisingEq(2, h=2)]
    assert list(tv.unique(ys)) == ys
    assert list(tv.frequencies(ys).values()) == [1, 1]


def test_unhashable_mid_stream(tv):
    it = tv.unique(["a", ["b"], "c", "a"])
    assert next(it) == "a"
    with pytest.raises(TypeError, match="unhashable"):
        next(it)
    assert list(it) == ["c"]
    with pytest.raises(TypeError, match="unhashable"):
        tv.frequencies(["a", ["b"], "c"])
    with pytest.raises(TypeError, match="unhashable"):
        tv.frequencies([[1], [1]])


class Mutator:
    """Hashes like the int 3; its __eq__ (or __hash__) runs `action` once."""

    def __init__(self, action, in_hash=False):
        self.action, self.in_hash, self.done = action, in_hash, False

    def _fire(self):
        if not self.done:
            self.done = True
            self.action()

    def __hash__(self):
        if self.in_hash:
            self._fire()
        return 3

    def __eq__(self, other):
        self._fire()
        return False


@pytest.mark.parametrize("in_hash", [False, True], ids=["eq", "hash"])
def test_mutating_input_list_during_frequencies(tv, in_hash):
    xs = [3]

    def shrink():
        xs.clear()

    xs += [Mutator(shrink, in_hash), 3, 3, 3]
    got = tv.frequencies(xs)  # the walk ends where the list now ends; no crash
    assert xs == [] and sum(got.values()) == 2 and 3 in got

    ys = [1, 3]

    def grow():
        ys.extend([7, 7, 8])

    ys.append(Mutator(grow, in_hash))
    got = tv.frequencies(ys)
    assert got[7] == 2 and got[8] == 1 and got[1] == 1


def test_mutating_input_list_during_unique(tv):
    xs = [3]
    xs += [Mutator(lambda: xs.clear()), 3, 3, 4]
    assert len(list(tv.unique(xs))) == 2 and xs == []
    ys = [3]
    ys += [Mutator(lambda: ys.extend([9, 9]))]
    assert list(tv.unique(ys))[-1] == 9


def test_eq_dropping_the_last_outside_reference(tv):
    # An __eq__ that empties the source list while a lookup compares against a stored
    # element: the tables own their references, so nothing is freed under them.
    class Holder:
        def __init__(self, box):
            self.box = box

        def __hash__(self):
            return 1

        def __eq__(self, other):
            self.box.clear()
            return False

    box = []
    box.extend([Holder(box), Holder(box), NoEq()])
    got = tv.frequencies(box)
    assert box == [] and len(got) == 2 and list(got.values()) == [1, 1]
    box.extend([Holder(box), Holder(box), NoEq()])
    assert len(list(tv.unique(box))) == 2


def test_hash_returning_minus_one_is_normalised(tv):
    class M1:
        def __hash__(self):
            return -1

        def __eq__(self, other):
            return type(other) is int and other == -1

    m = M1()
    assert list(tv.unique([m, -1, -2])) == [m, -2]
    assert list(tv.frequencies([m, -1, -2]).values()) == [2, 1]


class BadHash:
    def __hash__(self):
        return "nope"


def test_hash_failing_without_exception_type(tv):
    with pytest.raises(TypeError):
        tv.frequencies([BadHash()])
    with pytest.raises(TypeError):
        next(tv.unique([BadHash()]))


def test_hashing_paths_do_not_leak(tv):
    ints = [10**6 + i % 50 for i in range(500)]
    strs = [f"k{i % 50}" for i in range(500)]
    coll = [Collide(i % 9) for i in range(100)]
    for xs in (ints, strs, coll):
        check_leaks(lambda: tv.frequencies(xs), watch=xs[:3], repeat=300)
        check_leaks(lambda: list(tv.unique(xs)), watch=xs[:3], repeat=300)
    bad = [RaisingEq(1), RaisingEq(2)]
    check_leaks(lambda: tv.frequencies(bad), watch=bad, raises=RuntimeError, repeat=1000)
    check_leaks(lambda: list(tv.unique(bad)), watch=bad, raises=RuntimeError, repeat=1000)
    unhashable = ["a", "b", ["c"]]
    check_leaks(lambda: tv.frequencies(unhashable), watch=unhashable, raises=TypeError)
    check_leaks(lambda: list(tv.unique(unhashable)), watch=unhashable, raises=TypeError)

"""Argument binding, checked on every registered function from its own text signature: the
binder and __text_signature__ come from one declaration, so the signature predicts every
binding error exactly."""

import builtins
import inspect
import itertools

import pytest

import tarvel._tarvel as m

FUNCTIONS = [
    getattr(m, n) for n in m.__all__
    if isinstance(getattr(m, n), type(len))
]


def sig_of(fn):
    return inspect.signature(fn)


def positional(sig):
    return [p for p in sig.parameters.values()
            if p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD]


def has_kind(sig, kind):
    return any(p.kind is kind for p in sig.parameters.values())


def quoted(names):
    q = [f"'{n}'" for n in names]
    if len(q) == 1:
        return q[0]
    if len(q) == 2:
        return f"{q[0]} and {q[1]}"
    return ", ".join(q[:-1]) + ", and " + q[-1]


ids = [f.__name__ for f in FUNCTIONS]


def test_there_are_functions_to_check():
    assert len(FUNCTIONS) >= 12


@pytest.mark.parametrize("fn", FUNCTIONS, ids=ids)
def test_docstring_is_only_the_signature(fn):
    assert fn.__doc__ is None
    assert fn.__text_signature__.startswith("(")
    assert fn.__module__ == "tarvel._tarvel"
    assert fn.__self__ is m


@pytest.mark.parametrize("fn", FUNCTIONS, ids=ids)
def test_missing_arguments_message(fn):
    sig = sig_of(fn)
    required = [p.name for p in positional(sig) if p.default is inspect.Parameter.empty]
    if not required:
        pytest.skip("nothing required")
    with pytest.raises(TypeError) as info:
        fn()
    k = len(required)
    noun = "argument" if k == 1 else "arguments"
    assert str(info.value) == f"{fn.__name__}() missing {k} required positional {noun}: {quoted(required)}"


@pytest.mark.parametrize("fn", FUNCTIONS, ids=ids)
def test_too_many_positional_message(fn):
    sig = sig_of(fn)
    if has_kind(sig, inspect.Parameter.VAR_POSITIONAL):
        pytest.skip("takes a variadic tail")
    params = positional(sig)
    p = len(params)
    r = sum(1 for x in params if x.default is inspect.Parameter.empty)
    for n in (p + 1, p + 2):
        with pytest.raises(TypeError) as info:
            fn(*range(n))
        verb = "was" if n == 1 else "were"
        if r == p:
            want = f"{fn.__name__}() takes {p} positional arguments but {n} {verb} given"
        else:
            want = f"{fn.__name__}() takes from {r} to {p} positional arguments but {n} {verb} given"
        assert str(info.value) == want


@pytest.mark.parametrize("fn", FUNCTIONS, ids=ids)
def test_unexpected_keyword_message(fn):
    sig = sig_of(fn)
    if has_kind(sig, inspect.Parameter.VAR_KEYWORD):
        pytest.skip("takes **kwargs")
    for bad in ("zzz", "x\udcff"):  # a lone surrogate cannot be read as UTF-8
        with pytest.raises(TypeError) as info:
            fn(**{bad: 1})
        assert str(info.value) == f"{fn.__name__}() got an unexpected keyword argument '{bad}'"


@pytest.mark.parametrize("fn", FUNCTIONS, ids=ids)
def test_multiple_values_message(fn):
    sig = sig_of(fn)
    params = positional(sig)
    if not params:
        pytest.skip("no positional-or-keyword parameter")
    first = params[0].name
    with pytest.raises(TypeError) as info:
        fn(object(), **{first: 1})
    assert str(info.value) == f"{fn.__name__}() got multiple values for argument '{first}'"


@pytest.mark.parametrize("fn", FUNCTIONS, ids=ids)
def test_keywords_bind_like_positionals(fn):
    """Binding every parameter by keyword reaches the body exactly like binding them by
    position: both give the same result or the same error."""
    sig = sig_of(fn)
    params = positional(sig)
    if has_kind(sig, inspect.Parameter.VAR_POSITIONAL) or not params:
        pytest.skip("not expressible by keywords alone")
    values = {p.name: v for p, v in zip(params, ([1, 2, 3], [4, 5, 6], 0, None))}
    if len(values) < len(params):
        pytest.skip("too many parameters for the sample values")

    def settle(r):
        if isinstance(r, tuple):
            return tuple(settle(x) for x in r)
        if hasattr(r, "__next__"):
            return list(itertools.islice(r, 10))
        if type(r).__name__ in ("Some", "Ok", "Err"):  # unwrap value types around iterators
            payload = r.value if hasattr(r, "value") else r.error
            return (type(r).__name__, settle(payload))
        if callable(r) and not isinstance(r, type):  # a new function object each call
            return ("callable", type(r).__name__)
        return r

    def outcome(call):
        try:
            return ("value", settle(call()))
        except Exception as e:  # noqa: BLE001 - the type and text are the outcome
            return ("raised", type(e), str(e))

    by_pos = outcome(lambda: fn(*values.values()))
    by_kw = outcome(lambda: fn(**values))
    assert by_pos == by_kw


# Integer and boolean conversions keep their own error type and gain a note naming the
# parameter.
CONVERSIONS = [
    # (function, args builder, parameter, bad value, expected exception type)
    ("tail", lambda v: (v, []), "n", -1, OverflowError),
    ("tail", lambda v: (v, []), "n", "3", TypeError),
    ("tail", lambda v: (v, []), "n", 2**64, OverflowError),
    ("tail", lambda v: (v, []), "n", 1.5, TypeError),
    ("sliding_window", lambda v: (v, []), "n", 2**63, OverflowError),
    ("sliding_window", lambda v: (v, []), "n", "2", TypeError),
    ("partition", lambda v: (v, []), "n", None, TypeError),
    ("partition_all", lambda v: (v, []), "n", 2.0, TypeError),
    ("get_in", lambda v: ([1], {}, None, v), "no_default", 1, TypeError),
    ("get_in", lambda v: ([1], {}, None, v), "no_default", None, TypeError),
]


@pytest.mark.parametrize("name,build,param,bad,exc", CONVERSIONS,
                         ids=[f"{c[0]}-{c[3]!r}" for c in CONVERSIONS])
def test_conversion_failure_carries_note(name, build, param, bad, exc):
    fn = getattr(m, name, None)
    if fn is None:
        pytest.skip(f"{name} not built")
    with pytest.raises(exc) as info:
        fn(*build(bad))
    assert type(info.value) is exc
    assert info.value.__notes__ == [f"while processing '{param}'"]


def test_index_objects_convert():
    class Idx:
        def __index__(self):
            return 2

    assert m.tail(Idx(), [1, 2, 3]) == [2, 3]
    assert m.tail(True, [1, 2, 3]) == [3]


def test_conversion_note_failure_keeps_first_error():
    """An exception whose add_note fails still surfaces as itself."""
    class Bad:
        def __index__(self):
            raise KeyError("nope")

    with pytest.raises(KeyError) as info:
        m.tail(Bad(), [])
    assert info.value.__notes__ == ["while processing 'n'"]


def test_binding_errors_happen_before_any_work():
    touched = []

    def gen():
        touched.append(1)
        yield 1

    g = gen()
    with pytest.raises(TypeError):
        m.tail(1, g, extra=1)
    with pytest.raises(TypeError):
        m.count(g, g)
    assert touched == []


def test_keyword_only_and_tail_binding():
    # A variadic function binds surplus positionals into its tail and reads keywords
    # for its named parameters.
    assert m.get(ind=1, coll=[5, 6]) == 6
    assert m.get(9, [5, 6], "d") == "d"
    with pytest.raises(TypeError, match=r"^get\(\) got multiple values for argument 'coll'$"):
        m.get(1, [5], coll=[1])


def test_builtins_not_shadowed():
    # The package re-exports only what the module lists.
    import tarvel

    assert set(tarvel.__all__) == set(m.__all__)
    for name in m.__all__:
        assert getattr(tarvel, name) is getattr(m, name)
    assert not hasattr(builtins, "tail")


# The most values each variadic tail takes (None: unbounded). Every function with a tail is
# listed, so a new one has to say which it is.
TAIL_MOST = {
    "accumulate": 1, "get": 1, "partition": 1, "pluck": 1, "reduceby": 1,
    "apply": None, "compose": None, "compose_left": None, "concatv": None, "diff": None,
    "dissoc": None, "get_in_opt": None, "juxt": None, "merge": None, "merge_sorted": None,
    "merge_with": None, "pipe": None, "thread_first": None, "thread_last": None,
}
TAILED = [f for f in FUNCTIONS if has_kind(sig_of(f), inspect.Parameter.VAR_POSITIONAL)]


def test_every_tail_declares_its_bound():
    assert sorted(f.__name__ for f in TAILED) == sorted(TAIL_MOST)


def bounded_callables():
    for f in TAILED:
        if TAIL_MOST[f.__name__] is not None:
            yield f.__name__, f, len(positional(sig_of(f))), TAIL_MOST[f.__name__]
    # A method: the receiver is not counted.
    yield "Iter.reduce", m.Iter([1]).reduce, 1, 1


BOUNDED = list(bounded_callables())


@pytest.mark.parametrize("name,fn,npos,most", BOUNDED, ids=[b[0] for b in BOUNDED])
@pytest.mark.parametrize("extra", [1, 2, 7])
def test_tail_past_its_bound(name, fn, npos, most, extra):
    short = name.split(".")[-1]
    with pytest.raises(TypeError) as info:
        fn(*[1] * (npos + most + extra))
    assert str(info.value) == f"{short} takes at most {npos + most} arguments"
    # A bad keyword is reported before the count.
    with pytest.raises(TypeError, match="unexpected keyword argument 'bogus'"):
        fn(*[1] * (npos + most + extra), bogus=1)


@pytest.mark.parametrize("name,fn,npos,most", BOUNDED, ids=[b[0] for b in BOUNDED])
def test_tail_within_its_bound_binds(name, fn, npos, most):
    for k in range(most + 1):
        try:
            fn(*[1] * (npos + k))
        except Exception as e:  # the tool's own complaint about the values, not the count
            assert "at most" not in str(e) and "positional argument" not in str(e), e

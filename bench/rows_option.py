"""Optional/result value rows: method chains against the peer packages `returns` and
`expression` (rows skipped when a package is missing), and first_opt against the plain
idiom."""

import importlib.util

import tarvel as tv
from harness import Row

N = 100  # values per timed call: each side runs the same loop over the same inputs


def _have(pkg):
    return importlib.util.find_spec(pkg) is not None


def _inc(x):
    return x + 1


def _values():
    return list(range(N))


def _half_none():
    return [None if i % 2 else i for i in range(N)]


def _some_chain():
    xs, f, Some = _values(), _inc, tv.Some

    def run():
        for x in xs:
            Some(x).map(f).unwrap_or(0)

    return run


def _of_chain():
    xs, f, of = _half_none(), _inc, tv.Option.of

    def run():
        for x in xs:
            of(x).map(f).unwrap_or(0)

    return run


def _ok_chain():
    xs, f, Ok, Err = _values(), _inc, tv.Ok, tv.Err

    def g(x):
        return Ok(x) if x % 2 else Err(x)

    def run():
        for x in xs:
            Ok(x).map(f).and_then(g).unwrap_or(0)

    return run


def _first_opt():
    seq, first_opt = [1, 2, 3], tv.first_opt
    return lambda: first_opt(seq)


def _first_plain():
    seq, sentinel = [1, 2, 3], object()

    def run():
        x = next(iter(seq), sentinel)
        return x is not sentinel

    return run


def _returns_rows():
    from returns.maybe import Maybe
    from returns.maybe import Some as RSome
    from returns.result import Failure, Success

    def some_chain():
        xs, f = _values(), _inc

        def run():
            for x in xs:
                RSome(x).map(f).value_or(0)

        return _some_chain(), run

    def of_chain():
        xs, f, of = _half_none(), _inc, Maybe.from_optional

        def run():
            for x in xs:
                of(x).map(f).value_or(0)

        return _of_chain(), run

    def ok_chain():
        xs, f = _values(), _inc

        def g(x):
            return Success(x) if x % 2 else Failure(x)

        def run():
            for x in xs:
                Success(x).map(f).bind(g).value_or(0)

        return _ok_chain(), run

    return [
        Row("Some(x).map(f).unwrap_or(0) x100 [vs returns]",
            "returns: Some(x).map(f).value_or(0)",
            some_chain, 5.0),
        Row("Option.of(x).map(f).unwrap_or(0) x100 [vs returns]",
            "returns: Maybe.from_optional(x)...",
            of_chain, 5.0, note="half of the inputs are None"),
        Row("Ok(x).map(f).and_then(g).unwrap_or(0) x100 [vs returns]",
            "returns: Success(x).map(f).bind(g).value_or(0)", ok_chain, 3.0,
            note="g returns Ok or Err (Success or Failure) alternately"),
    ]


def _expression_rows():
    from expression import Error, Ok, Option, Some

    def some_chain():
        xs, f = _values(), _inc

        def run():
            for x in xs:
                Some(x).map(f).default_value(0)

        return _some_chain(), run

    def of_chain():
        xs, f, of = _half_none(), _inc, Option.of_optional

        def run():
            for x in xs:
                of(x).map(f).default_value(0)

        return _of_chain(), run

    def ok_chain():
        xs, f = _values(), _inc

        def g(x):
            return Ok(x) if x % 2 else Error(x)

        def run():
            for x in xs:
                Ok(x).map(f).bind(g).default_value(0)

        return _ok_chain(), run

    return [
        Row("Some(x).map(f).unwrap_or(0) x100 [vs expression]",
            "expression: Some(x).map(f).default_value(0)",
            some_chain, 5.0),
        Row("Option.of(x).map(f).unwrap_or(0) x100 [vs expression]",
            "expression: Option.of_optional(x)...",
            of_chain, 5.0, note="half of the inputs are None"),
        Row("Ok(x).map(f).and_then(g).unwrap_or(0) x100 [vs expression]",
            "expression: Ok(x).map(f).bind(g).default_value(0)", ok_chain, 3.0),
    ]


def rows():
    out = []
    if _have("returns"):
        out += _returns_rows()
    if _have("expression"):
        out += _expression_rows()
    out.append(Row("first_opt(seq)", "next(iter(seq), sentinel) is not sentinel",
                   lambda: (_first_opt(), _first_plain()), 0.8))
    return out

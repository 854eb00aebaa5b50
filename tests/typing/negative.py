"""Calls that must be rejected: each line carries the error both checkers must report.

mypy --strict reports an unused "type: ignore" and pyright an unnecessary "pyright: ignore"
(pyrightconfig.json), so if the stubs lose precision and an error disappears, the check fails.
Never run.
"""

from tarvel import (
    Err,
    Iter,
    Nothing,
    Option,
    Result,
    Some,
    apply,
    complement,
    compose,
    curry,
    excepts,
    first_opt,
    flip,
    frequencies,
    get,
    groupby,
    juxt,
    memoize,
    pipe,
    take,
    unique,
    valmap,
)


@curry
def add3(a: int, b: int, c: int) -> int:
    return a + b + c


def is_big(x: int) -> bool:
    return x > 10


def name(x: int) -> str:
    return str(x)


def rejected() -> None:
    first_opt(5)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    take("3", [1])  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    Some(1).map(1)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    add3("x")  # type: ignore[call-overload]  # pyright: ignore[reportArgumentType]
    add3(1)(2)("c")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    add3(1)(2)(3).upper()  # type: ignore[attr-defined]  # pyright: ignore[reportAttributeAccessIssue, reportUnknownMemberType]
    compose(str, is_big)("x")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    pipe(1, name, is_big)  # type: ignore[misc]  # pyright: ignore[reportArgumentType]
    juxt(is_big, is_big)("x")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    apply(is_big, "x")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    memoize(is_big)("x")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    excepts(ValueError, is_big)("x")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    complement(is_big)("x")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    flip(divmod, "a", 1)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    frequencies([[1]])  # type: ignore[type-var]  # pyright: ignore[reportArgumentType]
    unique([1], key=str.upper)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    bad = get(0, [1]) + "x"  # type: ignore[operator]  # pyright: ignore[reportOperatorIssue, reportUnknownVariableType]
    n: int = first_opt([1])  # type: ignore[assignment]  # pyright: ignore[reportAssignmentType]
    o: Option[int] = Some("x")  # type: ignore[arg-type]  # pyright: ignore[reportAssignmentType]
    r: Result[int, str] = Err(1)  # type: ignore[arg-type]  # pyright: ignore[reportAssignmentType]
    s: Some[int] = Nothing  # type: ignore[assignment]  # pyright: ignore[reportAssignmentType]
    valmap(len, {"a": 1})  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    groupby(len, 5)  # type: ignore[call-overload]  # pyright: ignore[reportCallIssue, reportArgumentType]
    Iter([1]).map(is_big).collect()[0].upper()  # type: ignore[attr-defined]  # pyright: ignore[reportAttributeAccessIssue, reportUnknownMemberType]
    Iter([1]).to_dict()  # type: ignore[misc]  # pyright: ignore[reportAttributeAccessIssue, reportUnknownMemberType]
    del n, o, r, s, bad

# Type stubs and reference documentation for the native module.
#
# These docstrings are the package's documentation: editors show them on hover, the
# documentation site renders them, and tests/test_stub_docs.py runs their examples against
# the built extension. The runtime's own __doc__ holds only the text signature.
#
# Option and Result: at run time they are namespace classes holding `of`. Here they are
# also the common bases of Some/NothingType and Ok/Err, so that `Option[int]` and
# `Result[int, str]` work as annotations and `Option.of` keeps its type. Annotate with the
# explicit union (`Some[int] | NothingType`) where a `match` must be exhaustive.
from collections.abc import Callable, Hashable, Iterable, Iterator, Mapping, Sequence
from types import GenericAlias
from typing import Any, Generic, Literal, Never, NoReturn, ParamSpec, Protocol, Self, SupportsIndex, TypeVar, final, overload, type_check_only

from typing_extensions import disjoint_base

_T = TypeVar("_T")
_T_co = TypeVar("_T_co", covariant=True)
_E_co = TypeVar("_E_co", covariant=True)
_U = TypeVar("_U")
_F = TypeVar("_F")
_D = TypeVar("_D")
_K = TypeVar("_K")
_V = TypeVar("_V")
_H = TypeVar("_H", bound=Hashable)
_A = TypeVar("_A")
_B = TypeVar("_B")
_C = TypeVar("_C")
_X = TypeVar("_X")
_Y = TypeVar("_Y")
_Z = TypeVar("_Z")
_R = TypeVar("_R")
_R_co = TypeVar("_R_co", covariant=True)
_Exc = TypeVar("_Exc", bound=BaseException)
_M = TypeVar("_M")
_P = ParamSpec("_P")

__all__ = [
    "Some",
    "NothingType",
    "Option",
    "Ok",
    "Err",
    "Result",
    "Nothing",
    "first_opt",
    "last_opt",
    "nth_opt",
    "get_opt",
    "get_in_opt",
    "peek_opt",
    "NativeIter",
    "count",
    "first",
    "second",
    "last",
    "nth",
    "get",
    "isdistinct",
    "frequencies",
    "topk",
    "peek",
    "take",
    "drop",
    "take_nth",
    "tail",
    "cons",
    "concat",
    "concatv",
    "interpose",
    "interleave",
    "sliding_window",
    "partition",
    "partition_all",
    "merge_sorted",
    "diff",
    "groupby",
    "countby",
    "reduceby",
    "mapcat",
    "pluck",
    "remove",
    "accumulate",
    "iterate",
    "unique",
    "join",
    "curry",
    "identity",
    "apply",
    "pipe",
    "do",
    "compose",
    "compose_left",
    "complement",
    "juxt",
    "excepts",
    "memoize",
    "thread_first",
    "thread_last",
    "flip",
    "merge",
    "merge_with",
    "assoc",
    "dissoc",
    "assoc_in",
    "update_in",
    "get_in",
    "keymap",
    "valmap",
    "itemmap",
    "keyfilter",
    "valfilter",
    "itemfilter",
    "Iter",
]

# ---------------------------------------------------------------------------------------------
# Optional values
# ---------------------------------------------------------------------------------------------

@type_check_only
class _OptionMethods(Generic[_T_co]):
    # What every optional value offers, so that an `Option[T]` can be used without narrowing.
    def map(self, f: Callable[[_T_co], _U]) -> Option[_U]: ...
    def and_then(self, f: Callable[[_T_co], Option[_U]]) -> Option[_U]: ...
    def filter(self, pred: Callable[[_T_co], object]) -> Option[_T_co]: ...
    def unwrap(self) -> _T_co: ...
    def unwrap_or(self, default: _U) -> _T_co | _U: ...
    def unwrap_or_else(self, f: Callable[[], _U]) -> _T_co | _U: ...
    def ok_or(self, err: _F) -> Result[_T_co, _F]: ...
    def is_some(self) -> bool: ...
    def is_none(self) -> bool: ...

class Option(_OptionMethods[_T_co]):
    """An optional value, `Some(value)` or `Nothing`, and the home of `Option.of`.

    As an annotation, `Option[int]` accepts `Some[int]` and `NothingType` values. At run
    time `Option` is only a namespace: `isinstance(Some(1), Option)` is false. To match
    exhaustively, annotate with `Some[int] | NothingType`.

    Examples:
        >>> Option.of(5), Option.of(None)
        (Some(5), Nothing)
    """

    def __class_getitem__(cls, item: Any, /) -> GenericAlias: ...
    @staticmethod
    def of(v: _T | None) -> Some[_T] | NothingType:
        """Convert a value that may be `None`: `Nothing` for `None`, else `Some(v)`.

        Args:
            v: any value; only `None` itself counts as absent (`0`, `""` and `False` do not).

        Examples:
            >>> Option.of(0), Option.of(None)
            (Some(0), Nothing)
            >>> Option.of({"a": 1}.get("b")).unwrap_or(-1)
            -1
        """

@disjoint_base
class Some(Option[_T_co]):
    """A present value: `Some(value)`.

    `value` is the value to wrap (any object, `None` included). Equal to another `Some`
    holding an equal value; not hashable; pickles. Pattern-matches as `case Some(v)`.

    Examples:
        >>> Some(3).map(lambda x: x + 1)
        Some(4)
        >>> match Some("hi"):
        ...     case Some(v): print(v)
        hi
    """

    __match_args__ = ("value",)
    def __new__(cls, value: _T_co) -> Self: ...
    def __class_getitem__(cls, item: Any, /) -> GenericAlias: ...
    @property
    def value(self) -> _T_co:
        """The wrapped value.

        Examples:
            >>> Some(3).value
            3
        """

    def map(self, f: Callable[[_T_co], _U]) -> Some[_U]:
        """Apply `f` to the value and wrap the result: `Some(f(value))`.

        Args:
            f: a function of one argument; called at once.

        Examples:
            >>> Some(2).map(str)
            Some('2')
        """

    def and_then(self, f: Callable[[_T_co], Option[_U]]) -> Option[_U]:
        """Chain an optional-returning step: return `f(value)` as it is.

        Args:
            f: a function of one argument that returns `Some` or `Nothing`; any other result
                raises `TypeError` "and_then callback must return an Option".

        Examples:
            >>> Some(4).and_then(lambda x: Some(x // 2) if x % 2 == 0 else Nothing)
            Some(2)
        """

    def filter(self, pred: Callable[[_T_co], object]) -> Some[_T_co] | NothingType:
        """Keep the value if `pred(value)` is true, else return `Nothing`.

        Args:
            pred: a function of one argument; its result is tested for truth.

        Examples:
            >>> Some(3).filter(lambda x: x > 5), Some(7).filter(lambda x: x > 5)
            (Nothing, Some(7))
        """

    def unwrap(self) -> _T_co:
        """Return the value (on `Nothing` this raises `ValueError`).

        Examples:
            >>> Some("x").unwrap()
            'x'
        """

    def unwrap_or(self, default: object) -> _T_co:
        """Return the value; `default` is ignored (it is for `Nothing`).

        Args:
            default: the value `Nothing.unwrap_or` would return.

        Examples:
            >>> Some(1).unwrap_or(0)
            1
        """

    def unwrap_or_else(self, f: Callable[[], object]) -> _T_co:
        """Return the value; `f` is not called (it is for `Nothing`).

        Args:
            f: a function of no arguments that `Nothing.unwrap_or_else` would call.

        Examples:
            >>> Some(1).unwrap_or_else(lambda: 0)
            1
        """

    def ok_or(self, err: object) -> Ok[_T_co]:
        """Convert to a result: `Ok(value)`; `err` is ignored (it is for `Nothing`).

        Args:
            err: the error `Nothing.ok_or` would wrap in `Err`.

        Examples:
            >>> Some(1).ok_or("missing")
            Ok(1)
        """

    def is_some(self) -> bool:
        """`True`: this value is present.

        Examples:
            >>> Some(0).is_some()
            True
        """

    def is_none(self) -> bool:
        """`False`: this value is present.

        Examples:
            >>> Some(0).is_none()
            False
        """

class NothingType(Option[Never]):
    """An absent value. The module attribute `Nothing` is one instance.

    Every `NothingType` instance equals every other, so compare with `==`, never with `is`
    (tools return new instances). It is falsy and pickles. Pattern-matches as
    `case NothingType()`.

    Examples:
        >>> NothingType() == Nothing, bool(Nothing)
        (True, False)
        >>> Nothing.map(lambda x: x + 1).unwrap_or(0)
        0
    """

    def __new__(cls) -> Self: ...
    def __class_getitem__(cls, item: Any, /) -> GenericAlias: ...
    def __bool__(self) -> Literal[False]: ...
    def map(self, f: Callable[[Any], object]) -> NothingType:
        """Return `Nothing`; `f` is not called.

        Args:
            f: the function `Some.map` would apply.

        Examples:
            >>> Nothing.map(str)
            Nothing
        """

    def and_then(self, f: Callable[[Any], object]) -> NothingType:
        """Return `Nothing`; `f` is not called.

        Args:
            f: the function `Some.and_then` would call.

        Examples:
            >>> Nothing.and_then(lambda x: Some(x))
            Nothing
        """

    def filter(self, pred: Callable[[Any], object]) -> NothingType:
        """Return `Nothing`; `pred` is not called.

        Args:
            pred: the predicate `Some.filter` would test.

        Examples:
            >>> Nothing.filter(bool)
            Nothing
        """

    def unwrap(self) -> NoReturn:
        """Raise `ValueError` "called `unwrap` on Nothing".

        Examples:
            >>> Nothing.unwrap()
            Traceback (most recent call last):
              ...
            ValueError: called `unwrap` on Nothing
        """

    def unwrap_or(self, default: _U) -> _U:
        """Return `default`.

        Args:
            default: the value to return in place of the missing one.

        Examples:
            >>> Nothing.unwrap_or(0)
            0
        """

    def unwrap_or_else(self, f: Callable[[], _U]) -> _U:
        """Call `f()` and return its result.

        Args:
            f: a function of no arguments, called only here.

        Examples:
            >>> Nothing.unwrap_or_else(list)
            []
        """

    def ok_or(self, err: _F) -> Err[_F]:
        """Convert to a result: `Err(err)`.

        Args:
            err: the error value to wrap.

        Examples:
            >>> Nothing.ok_or("missing")
            Err('missing')
        """

    def is_some(self) -> bool:
        """`False`: this value is absent.

        Examples:
            >>> Nothing.is_some()
            False
        """

    def is_none(self) -> bool:
        """`True`: this value is absent.

        Examples:
            >>> Nothing.is_none()
            True
        """

Nothing: NothingType
"""The absent value, an instance of `NothingType` (compare with `==`, not `is`).

Examples:
    >>> first_opt([]) == Nothing
    True
"""

# ---------------------------------------------------------------------------------------------
# Result values
# ---------------------------------------------------------------------------------------------

@type_check_only
class _ResultMethods(Generic[_T_co, _E_co]):
    # What every result offers, so that a `Result[T, E]` can be used without narrowing.
    def map(self, f: Callable[[_T_co], _U]) -> Result[_U, _E_co]: ...
    def map_err(self, f: Callable[[_E_co], _F]) -> Result[_T_co, _F]: ...
    def and_then(self, f: Callable[[_T_co], Result[_U, _F]]) -> Result[_U, _E_co | _F]: ...
    def unwrap(self) -> _T_co: ...
    def unwrap_or(self, default: _U) -> _T_co | _U: ...
    def ok(self) -> Option[_T_co]: ...
    def err(self) -> Option[_E_co]: ...
    def is_ok(self) -> bool: ...
    def is_err(self) -> bool: ...

class Result(_ResultMethods[_T_co, _E_co]):
    """The outcome of a computation, `Ok(value)` or `Err(error)`, and the home of `Result.of`.

    As an annotation, `Result[int, str]` accepts `Ok[int]` and `Err[str]` values. At run
    time `Result` is only a namespace: `isinstance(Ok(1), Result)` is false. To match
    exhaustively, annotate with `Ok[int] | Err[str]`.

    Examples:
        >>> Result.of(lambda: 10 // 2)
        Ok(5)
    """

    def __class_getitem__(cls, item: Any, /) -> GenericAlias: ...
    @staticmethod
    def of(f: Callable[[], _T]) -> Ok[_T] | Err[Exception]:
        """Call `f()` and capture the outcome: `Ok(result)`, or `Err(exception)`.

        Only exceptions derived from `Exception` are captured; `KeyboardInterrupt`,
        `SystemExit` and other `BaseException`s propagate.

        Args:
            f: a function of no arguments, called once, now.

        Examples:
            >>> Result.of(lambda: int("12"))
            Ok(12)
            >>> Result.of(lambda: int("x")).is_err()
            True
        """

@disjoint_base
class Ok(Result[_T_co, Never]):
    """A successful outcome: `Ok(value)`.

    `value` is the value of the successful computation. Equal to another `Ok` holding an
    equal value; not hashable; pickles. Pattern-matches as `case Ok(v)`.

    Examples:
        >>> Ok(2).map(lambda x: x * 10)
        Ok(20)
    """

    __match_args__ = ("value",)
    def __new__(cls, value: _T_co) -> Self: ...
    def __class_getitem__(cls, item: Any, /) -> GenericAlias: ...
    @property
    def value(self) -> _T_co:
        """The wrapped value.

        Examples:
            >>> Ok(3).value
            3
        """

    def map(self, f: Callable[[_T_co], _U]) -> Ok[_U]:
        """Apply `f` to the value and wrap the result: `Ok(f(value))`.

        Args:
            f: a function of one argument; called at once.

        Examples:
            >>> Ok("7").map(int)
            Ok(7)
        """

    def map_err(self, f: Callable[[Any], object]) -> Ok[_T_co]:
        """Return this `Ok` unchanged; `f` is not called (it is for `Err`).

        Args:
            f: the function `Err.map_err` would apply.

        Examples:
            >>> Ok(1).map_err(str)
            Ok(1)
        """

    def and_then(self, f: Callable[[_T_co], Result[_U, _F]]) -> Result[_U, _F]:
        """Chain a result-returning step: return `f(value)` as it is.

        Args:
            f: a function of one argument that returns `Ok` or `Err`; any other result
                raises `TypeError` "and_then callback must return a Result".

        Examples:
            >>> Ok(0).and_then(lambda x: Err("zero") if x == 0 else Ok(1 / x))
            Err('zero')
        """

    def unwrap(self) -> _T_co:
        """Return the value (on `Err` this raises).

        Examples:
            >>> Ok("x").unwrap()
            'x'
        """

    def unwrap_or(self, default: object) -> _T_co:
        """Return the value; `default` is ignored (it is for `Err`).

        Args:
            default: the value `Err.unwrap_or` would return.

        Examples:
            >>> Ok(1).unwrap_or(0)
            1
        """

    def ok(self) -> Some[_T_co]:
        """Convert to an optional value: `Some(value)`.

        Examples:
            >>> Ok(1).ok()
            Some(1)
        """

    def err(self) -> NothingType:
        """Convert the error side to an optional value: `Nothing`, as there is no error.

        Examples:
            >>> Ok(1).err()
            Nothing
        """

    def is_ok(self) -> bool:
        """`True`: this is a success.

        Examples:
            >>> Ok(1).is_ok()
            True
        """

    def is_err(self) -> bool:
        """`False`: this is a success.

        Examples:
            >>> Ok(1).is_err()
            False
        """

@disjoint_base
class Err(Result[Never, _E_co]):
    """A failed outcome: `Err(error)`, where `error` is any object (often an exception).

    `error` says what went wrong. Equal to another `Err` holding an equal error; not
    hashable; pickles. Pattern-matches as `case Err(e)`.

    Examples:
        >>> Err("no such user").map(str.upper)
        Err('no such user')
    """

    __match_args__ = ("error",)
    def __new__(cls, error: _E_co) -> Self: ...
    def __class_getitem__(cls, item: Any, /) -> GenericAlias: ...
    @property
    def error(self) -> _E_co:
        """The wrapped error.

        Examples:
            >>> Err("bad").error
            'bad'
        """

    def map(self, f: Callable[[Any], object]) -> Err[_E_co]:
        """Return this `Err` unchanged; `f` is not called (it is for `Ok`).

        Args:
            f: the function `Ok.map` would apply.

        Examples:
            >>> Err("e").map(str)
            Err('e')
        """

    def map_err(self, f: Callable[[_E_co], _F]) -> Err[_F]:
        """Apply `f` to the error and wrap the result: `Err(f(error))`.

        Args:
            f: a function of one argument; called at once.

        Examples:
            >>> Err(ValueError("x")).map_err(str)
            Err('x')
        """

    def and_then(self, f: Callable[[Any], object]) -> Err[_E_co]:
        """Return this `Err` unchanged; `f` is not called.

        Args:
            f: the function `Ok.and_then` would call.

        Examples:
            >>> Err("e").and_then(lambda x: Ok(x))
            Err('e')
        """

    def unwrap(self) -> NoReturn:
        """Raise `ValueError` "called `unwrap` on Err(...)" with the error's repr (also when
        the error is an exception: read `.error` to re-raise it).

        Examples:
            >>> Err("bad").unwrap()
            Traceback (most recent call last):
              ...
            ValueError: called `unwrap` on Err('bad')
        """

    def unwrap_or(self, default: _U) -> _U:
        """Return `default`.

        Args:
            default: the value to return in place of a result.

        Examples:
            >>> Err("e").unwrap_or(0)
            0
        """

    def ok(self) -> NothingType:
        """Convert to an optional value: `Nothing`, as there is no value.

        Examples:
            >>> Err("e").ok()
            Nothing
        """

    def err(self) -> Some[_E_co]:
        """Convert the error side to an optional value: `Some(error)`.

        Examples:
            >>> Err("e").err()
            Some('e')
        """

    def is_ok(self) -> bool:
        """`False`: this is a failure.

        Examples:
            >>> Err("e").is_ok()
            False
        """

    def is_err(self) -> bool:
        """`True`: this is a failure.

        Examples:
            >>> Err("e").is_err()
            True
        """

# ---------------------------------------------------------------------------------------------
# Option-returning accessors
# ---------------------------------------------------------------------------------------------

def first_opt(seq: Iterable[_T]) -> Some[_T] | NothingType:
    """The first element as `Some`, or `Nothing` if `seq` is empty. Eager.

    Args:
        seq: any iterable; an iterator is advanced by one element.

    Examples:
        >>> first_opt("abc"), first_opt([])
        (Some('a'), Nothing)
    """

def last_opt(seq: Iterable[_T]) -> Some[_T] | NothingType:
    """The last element as `Some`, or `Nothing` if `seq` is empty. Eager.

    Args:
        seq: any iterable; an iterator is consumed to its end.

    Examples:
        >>> last_opt(iter([1, 2, 3])), last_opt(())
        (Some(3), Nothing)
    """

def nth_opt(n: int, seq: Iterable[_T]) -> Some[_T] | NothingType:
    """The element at position `n` as `Some`, or `Nothing` if there is none. Eager.

    Args:
        n: the position, counted from 0 (negative raises `OverflowError`).
        seq: any iterable; an iterator is advanced past position `n`.

    Examples:
        >>> nth_opt(1, "abc"), nth_opt(5, iter([1, 2]))
        (Some('b'), Nothing)
    """

@overload
def get_opt(ind: _K, coll: Mapping[_K, _V]) -> Some[_V] | NothingType: ...
@overload
def get_opt(ind: int, coll: Sequence[_T]) -> Some[_T] | NothingType: ...
@overload
def get_opt(ind: Any, coll: Any) -> Some[Any] | NothingType:
    """`coll[ind]` as `Some`, or `Nothing` when the lookup fails. Eager.

    A `KeyError`, `IndexError` or `TypeError` from the lookup means absent; other
    exceptions propagate.

    Args:
        ind: a key or index.
        coll: any object that supports `coll[ind]`.

    Examples:
        >>> get_opt("k", {"k": 1}), get_opt(5, [1, 2])
        (Some(1), Nothing)
    """

def get_in_opt(coll: Any, *keys: Any) -> Some[Any] | NothingType:
    """The nested item `coll[k1][k2]...` as `Some`, or `Nothing` if any step is missing. Eager.

    Args:
        coll: the outer mapping or sequence.
        *keys: the path, one key or index per level; with no keys the result is `Some(coll)`.

    Examples:
        >>> get_in_opt({"a": [10, 20]}, "a", 1), get_in_opt({"a": 1}, "b")
        (Some(20), Nothing)
    """

def peek_opt(seq: Iterable[_T]) -> Some[tuple[_T, Iterator[_T]]] | NothingType:
    """The first element and an iterator over all elements, as `Some`, or `Nothing` if empty.

    Reads one element now; the returned iterator replays it and then goes on lazily.

    Args:
        seq: any iterable.

    Examples:
        >>> head, it = peek_opt(iter([1, 2])).unwrap()
        >>> head, list(it)
        (1, [1, 2])
        >>> peek_opt([])
        Nothing
    """

# ---------------------------------------------------------------------------------------------
# The generic iterator
# ---------------------------------------------------------------------------------------------

@final
class NativeIter(Iterator[Any]):
    """The iterator type behind many lazy results (`remove`, `partition`, `accumulate`, ...).

    It cannot be created or subclassed from Python. Advancing it from inside its own step
    (for example from a key function) raises `ValueError` "iterator already executing".

    Examples:
        >>> it = remove(bool, [0, 1, 0])
        >>> type(it).__name__, list(it)
        ('NativeIter', [0, 0])
    """

    def __next__(self) -> Any: ...

# ---------------------------------------------------------------------------------------------
# Sequence tools
# ---------------------------------------------------------------------------------------------

def count(seq: Iterable[Any]) -> int:
    """The number of elements: `len(seq)` when it has one, else by iterating. Eager.

    Args:
        seq: any iterable; an iterator without a length is consumed.

    Examples:
        >>> count([1, 2, 3]), count(x for x in range(5))
        (3, 5)
    """

def first(seq: Iterable[_T]) -> _T:
    """The first element. Eager; an empty `seq` raises `StopIteration`.

    Args:
        seq: any iterable; an iterator is advanced by one element.

    Examples:
        >>> first("xyz")
        'x'
    """

def second(seq: Iterable[_T]) -> _T:
    """The second element. Eager; fewer than two elements raise `StopIteration`.

    Args:
        seq: any iterable; an iterator is advanced by two elements.

    Examples:
        >>> second([10, 20, 30])
        20
    """

def last(seq: Iterable[_T]) -> _T:
    """The last element. Eager; an empty `seq` raises `IndexError`.

    Args:
        seq: any iterable; sequences are indexed, iterators consumed to the end.

    Examples:
        >>> last([1, 2, 3]), last(iter("ab"))
        (3, 'b')
    """

def nth(n: int, seq: Iterable[_T]) -> _T:
    """The element at position `n`. Eager; too few elements raise `StopIteration`.

    Args:
        n: the position, counted from 0. Sequences (and mappings' keys) are indexed, so a
            negative `n` counts from the end there; on an iterator `n` must be >= 0.
        seq: any iterable; an iterator is advanced past position `n`.

    Examples:
        >>> nth(2, iter("abcd")), nth(-1, [1, 2, 3])
        ('c', 3)
    """

@overload
def get(ind: list[Any], coll: Any) -> tuple[Any, ...]: ...
@overload
def get(ind: list[Any], coll: Any, default: Any, /) -> tuple[Any, ...]: ...
@overload
def get(ind: _K, coll: Mapping[_K, _V]) -> _V: ...
@overload
def get(ind: _K, coll: Mapping[_K, _V], default: _D, /) -> _V | _D: ...
@overload
def get(ind: int, coll: Sequence[_T]) -> _T: ...
@overload
def get(ind: int, coll: Sequence[_T], default: _D, /) -> _T | _D: ...
@overload
def get(ind: Any, coll: Any, /, *rest: Any) -> Any:
    """`coll[ind]`, or a tuple of items for a list of indices, with an optional default. Eager.

    Args:
        ind: a key or index; a `list` of them returns a `tuple` with one item per index
            (a `tuple` is a single key).
        coll: any object that supports `coll[ind]`.
        *rest: at most one value, the default, returned in place of an item whose lookup
            raises `KeyError`, `IndexError` or `TypeError`. Without it, those errors propagate.
            More values raise `TypeError` "get takes at most 3 arguments".

    Examples:
        >>> get(1, [10, 20]), get("k", {}, 0)
        (20, 0)
        >>> get([0, 5], [10, 20], "missing")
        (10, 'missing')
    """

def frequencies(seq: Iterable[_H]) -> dict[_H, int]:
    """Count each distinct element: a `dict` from element to count, in first-seen order. Eager.

    Integer buffers (`bytes`, `array.array`, NumPy integer arrays) are counted as machine
    integers, creating Python objects only for the result.

    Args:
        seq: any iterable of hashable elements.

    Examples:
        >>> frequencies("abracadabra")
        {'a': 5, 'b': 2, 'r': 2, 'c': 1, 'd': 1}
    """

def peek(seq: Iterable[_T]) -> tuple[_T, Iterator[_T]]:
    """The first element and an iterator over all elements. An empty `seq` raises `StopIteration`.

    Reads one element now; the returned iterator replays it and then goes on lazily.

    Args:
        seq: any iterable.

    Examples:
        >>> head, it = peek(iter([1, 2, 3]))
        >>> head, list(it)
        (1, [1, 2, 3])
    """

def take(n: int | None, seq: Iterable[_T]) -> Iterator[_T]:
    """The first `n` elements. Lazy (an `itertools.islice`).

    Args:
        n: how many elements; `None` means all. Negative values raise `ValueError`.
        seq: any iterable.

    Examples:
        >>> list(take(3, range(10)))
        [0, 1, 2]
    """

def drop(n: int | None, seq: Iterable[_T]) -> Iterator[_T]:
    """All but the first `n` elements. Lazy (an `itertools.islice`).

    Args:
        n: how many elements to skip; `None` means none. Negative values raise `ValueError`.
        seq: any iterable.

    Examples:
        >>> list(drop(7, range(10)))
        [7, 8, 9]
    """

def take_nth(n: int, seq: Iterable[_T]) -> Iterator[_T]:
    """Every `n`-th element, starting with the first. Lazy (an `itertools.islice`).

    Args:
        n: the step, >= 1.
        seq: any iterable.

    Examples:
        >>> list(take_nth(2, range(7)))
        [0, 2, 4, 6]
    """

@overload
def tail(n: int, seq: str) -> str: ...
@overload
def tail(n: int, seq: list[_T]) -> list[_T]: ...
@overload
def tail(n: int, seq: tuple[_T, ...]) -> tuple[_T, ...]: ...
@overload
def tail(n: int, seq: Iterable[_T]) -> Sequence[_T]:
    """The last `n` elements. Eager.

    A sliceable `seq` returns `seq[-n:]` of its own type; anything else is consumed and
    the last `n` elements come back as a `tuple`. `n = 0` gives all elements.

    Args:
        n: how many elements, >= 0 (negative raises `OverflowError`).
        seq: any iterable.

    Examples:
        >>> tail(2, [1, 2, 3]), tail(2, iter([1, 2, 3]))
        ([2, 3], (2, 3))
    """

def cons(el: _A, seq: Iterable[_T]) -> Iterator[_A | _T]:
    """`el` followed by the elements of `seq`. Lazy (an `itertools.chain`).

    Args:
        el: the element to put first.
        seq: any iterable; first read when the result reaches it.

    Examples:
        >>> list(cons(0, [1, 2]))
        [0, 1, 2]
    """

def concat(seqs: Iterable[Iterable[_T]]) -> Iterator[_T]:
    """The elements of each iterable in `seqs`, one after the other. Lazy.

    Args:
        seqs: an iterable of iterables (it may be infinite).

    Examples:
        >>> list(concat([[1, 2], (3,), iter([4])]))
        [1, 2, 3, 4]
    """

def concatv(*seqs: Iterable[_T]) -> Iterator[_T]:
    """The elements of each argument, one after the other. Lazy.

    Args:
        *seqs: any number of iterables.

    Examples:
        >>> list(concatv([1], [], "ab"))
        [1, 'a', 'b']
    """

def interpose(el: _A, seq: Iterable[_T]) -> Iterator[_T | _A]:
    """The elements of `seq` with `el` between every two of them. Lazy.

    Reads the first element at the call, so an empty `seq` raises `StopIteration` at once.

    Args:
        el: the separator (the same object every time).
        seq: any iterable.

    Examples:
        >>> list(interpose(",", "abc"))
        ['a', ',', 'b', ',', 'c']
    """

def interleave(seqs: Iterable[Iterable[_T]]) -> Iterator[_T]:
    """One element from each iterable in turn, skipping those that run out. Lazy.

    Calls `iter()` on every inner iterable at the call.

    Args:
        seqs: a finite iterable of iterables.

    Examples:
        >>> list(interleave([[1, 2, 3], [4], [5, 6]]))
        [1, 4, 5, 2, 6, 3]
    """

def sliding_window(n: int, seq: Iterable[_T]) -> Iterator[tuple[_T, ...]]:
    """Overlapping windows of `n` consecutive elements, as tuples. Lazy.

    Args:
        n: the window size; 0 yields nothing, negative raises `ValueError`.
        seq: any iterable; shorter than `n` yields nothing.

    Examples:
        >>> list(sliding_window(2, [1, 2, 3, 4]))
        [(1, 2), (2, 3), (3, 4)]
    """

@overload
def partition(n: int, seq: Iterable[_T]) -> Iterator[tuple[_T, ...]]: ...
@overload
def partition(n: int, seq: Iterable[_T], pad: _D, /) -> Iterator[tuple[_T | _D, ...]]:
    """Non-overlapping tuples of exactly `n` elements; a short tail is dropped or padded. Lazy.

    Args:
        n: the tuple size; below 1 yields nothing.
        seq: any iterable.
        pad: the optional third argument (`*rest` in the run-time signature, which takes at
            most one value): when given, even as `None`, the last tuple is filled up with it
            instead of being dropped. More values raise `TypeError`
            "partition takes at most 3 arguments".

    Examples:
        >>> list(partition(2, [1, 2, 3])), list(partition(2, [1, 2, 3], None))
        ([(1, 2)], [(1, 2), (3, None)])
    """

def partition_all(n: int, seq: Iterable[_T]) -> Iterator[tuple[_T, ...]]:
    """Non-overlapping tuples of `n` elements; the last one may be shorter. Lazy.

    Args:
        n: the tuple size; 0 or below yields nothing.
        seq: any iterable.

    Examples:
        >>> list(partition_all(2, [1, 2, 3]))
        [(1, 2), (3,)]
    """

def mapcat(func: Callable[[_T], Iterable[_U]], seqs: Iterable[_T]) -> Iterator[_U]:
    """Apply `func` to each element and concatenate the resulting iterables. Lazy.

    Args:
        func: a function from an element to an iterable.
        seqs: any iterable.

    Examples:
        >>> list(mapcat(lambda x: [x, x], [1, 2]))
        [1, 1, 2, 2]
    """

@overload
def pluck(ind: list[Any], seqs: Iterable[Any]) -> Iterator[tuple[Any, ...]]: ...
@overload
def pluck(ind: list[Any], seqs: Iterable[Any], default: Any, /) -> Iterator[tuple[Any, ...]]: ...
@overload
def pluck(ind: _K, seqs: Iterable[Mapping[_K, _V]]) -> Iterator[_V]: ...
@overload
def pluck(ind: _K, seqs: Iterable[Mapping[_K, _V]], default: _D, /) -> Iterator[_V | _D]: ...
@overload
def pluck(ind: int, seqs: Iterable[Sequence[_T]]) -> Iterator[_T]: ...
@overload
def pluck(ind: int, seqs: Iterable[Sequence[_T]], default: _D, /) -> Iterator[_T | _D]: ...
@overload
def pluck(ind: Any, seqs: Iterable[Any], /, *rest: Any) -> Iterator[Any]:
    """`element[ind]` for every element of `seqs`. Lazy.

    Args:
        ind: a key or index; a `list` of them yields a `tuple` per element.
        seqs: an iterable of mappings or sequences.
        *rest: at most one value, the default, yielded where the lookup raises `KeyError`,
            `IndexError` or `TypeError`. Without it those errors propagate. More values raise
            `TypeError` "pluck takes at most 3 arguments".

    Examples:
        >>> list(pluck("name", [{"name": "ada"}, {"name": "bob"}]))
        ['ada', 'bob']
        >>> list(pluck([0, 2], [(1, 2, 3)])), list(pluck("k", [{"k": 1}, {}], 0))
        ([(1, 3)], [1, 0])
    """

def remove(predicate: Callable[[_T], object], seq: Iterable[_T]) -> Iterator[_T]:
    """The elements for which `predicate` is false (the opposite of `filter`). Lazy.

    Args:
        predicate: a function of one argument; its result is tested for truth.
        seq: any iterable.

    Examples:
        >>> list(remove(lambda x: x % 2, range(6)))
        [0, 2, 4]
    """

@overload
def accumulate(binop: Callable[[_T, _T], _T], seq: Iterable[_T]) -> Iterator[_T]: ...
@overload
def accumulate(binop: Callable[[_A, _T], _A], seq: Iterable[_T], initial: _A, /) -> Iterator[_A]:
    """Running results of `binop`: `x0`, `binop(x0, x1)`, `binop(binop(x0, x1), x2)`, ... Lazy.

    Args:
        binop: a function of two arguments, the total so far and the next element.
        seq: any iterable.
        initial: the optional third argument (`*rest` in the run-time signature, which takes
            at most one value), the starting total: yielded first, even for an empty `seq`
            (`None` counts as a value). More values raise `TypeError`
            "accumulate takes at most 3 arguments".

    Examples:
        >>> import operator
        >>> list(accumulate(operator.add, [1, 2, 3])), list(accumulate(operator.add, [1, 2], 10))
        ([1, 3, 6], [10, 11, 13])
    """

def iterate(func: Callable[[_T], _T], x: _T) -> Iterator[_T]:
    """`x`, `func(x)`, `func(func(x))`, ... without end. Lazy.

    After `func` raises, the iterator is finished.

    Args:
        func: a function of one argument.
        x: the first value.

    Examples:
        >>> list(take(4, iterate(lambda x: x * 2, 1)))
        [1, 2, 4, 8]
    """

def unique(seq: Iterable[_T], key: Callable[[_T], Hashable] | None = None) -> Iterator[_T]:
    """The elements not seen before, in order, keeping the first of each. Lazy.

    Without a key, an integer buffer (`bytes`, `array.array`, NumPy integer array) is
    scanned natively and only the values yielded become Python integers; it stays locked
    against resizing while the iterator lives.

    Args:
        seq: any iterable of hashable elements (or of elements with hashable keys).
        key: a function giving the identity to compare; `None` compares the elements.

    Examples:
        >>> list(unique([3, 1, 3, 2, 1]))
        [3, 1, 2]
        >>> list(unique(["a", "B", "b"], key=str.lower))
        ['a', 'B']
    """

# ---------------------------------------------------------------------------------------------
# Aggregations
# ---------------------------------------------------------------------------------------------

@overload
def groupby(key: Callable[[_T], _K], seq: Iterable[_T]) -> dict[_K, list[_T]]: ...
@overload
def groupby(key: list[Any], seq: Iterable[_T]) -> dict[tuple[Any, ...], list[_T]]: ...
@overload
def groupby(key: Hashable, seq: Iterable[_T]) -> dict[Any, list[_T]]:
    """Group the elements by key: a `dict` from each key value to the `list` of its elements. Eager.

    Groups and their elements keep first-seen order.

    Args:
        key: a function of the element; or a `list` of indices/keys, giving a `tuple` key
            per element; or any other value, used as one index or mapping key
            (`element[key]`).
        seq: any iterable.

    Examples:
        >>> groupby(len, ["a", "bb", "c"])
        {1: ['a', 'c'], 2: ['bb']}
        >>> groupby("kind", [{"kind": "x", "v": 1}, {"kind": "y", "v": 2}])
        {'x': [{'kind': 'x', 'v': 1}], 'y': [{'kind': 'y', 'v': 2}]}
    """

@overload
def countby(key: Callable[[_T], _K], seq: Iterable[_T]) -> dict[_K, int]: ...
@overload
def countby(key: list[Any], seq: Iterable[Any]) -> dict[tuple[Any, ...], int]: ...
@overload
def countby(key: Hashable, seq: Iterable[Any]) -> dict[Any, int]:
    """Count the elements by key: a `dict` from each key value to how many elements have it. Eager.

    Args:
        key: a function of the element, a `list` of indices/keys (a `tuple` key), or one
            index or mapping key, as for `groupby`.
        seq: any iterable.

    Examples:
        >>> countby(lambda n: n % 2 == 0, [1, 2, 3, 4, 5])
        {False: 3, True: 2}
    """

@overload
def reduceby(key: Callable[[_T], _K], binop: Callable[[_T, _T], _T], seq: Iterable[_T]) -> dict[_K, _T]: ...
@overload
def reduceby(
    key: Callable[[_T], _K], binop: Callable[[_A, _T], _A], seq: Iterable[_T], init: Callable[[], _A], /
) -> dict[_K, _A]: ...
@overload
def reduceby(key: Callable[[_T], _K], binop: Callable[[_A, _T], _A], seq: Iterable[_T], init: _A, /) -> dict[_K, _A]: ...
@overload
def reduceby(key: Any, binop: Callable[[_T, _T], _T], seq: Iterable[_T]) -> dict[Any, _T]: ...
@overload
def reduceby(key: Any, binop: Callable[[_A, _T], _A], seq: Iterable[_T], init: Callable[[], _A], /) -> dict[Any, _A]: ...
@overload
def reduceby(key: Any, binop: Callable[[_A, _T], _A], seq: Iterable[_T], init: _A, /) -> dict[Any, _A]:
    """Fold the elements of each key with `binop`: a `dict` from key value to result. Eager.

    Args:
        key: a function of the element, a `list` of indices/keys, or one index or mapping
            key, as for `groupby`.
        binop: a function of two arguments, the running total and the next element.
        seq: any iterable.
        init: the optional fourth argument (`*rest` in the run-time signature; positional
            only, at most one value): each key's fold starts from it; a callable is called
            once per new key for a fresh start value (such as `list`). Without it a key's
            first element starts its fold. More values raise `TypeError`
            "reduceby takes at most 4 arguments".

    Examples:
        >>> import operator
        >>> reduceby(len, operator.add, ["a", "bb", "c", "dd"])
        {1: 'ac', 2: 'bbdd'}
        >>> reduceby(lambda n: n % 2, operator.add, [1, 2, 3, 4], 100)
        {1: 104, 0: 106}
    """

def topk(k: int, seq: Iterable[_T], key: Callable[[_T], Any] | Any | None = None) -> tuple[_T, ...]:
    """The `k` largest elements, largest first, as a tuple. Eager.

    Elements that rank equal keep their input order. Integer buffers without a key are
    ranked natively.

    Args:
        k: how many, >= 0 (negative raises `OverflowError`).
        seq: any iterable of orderable elements (or of elements with orderable keys).
        key: a function of the element, a `list` of indices/keys, or one index or mapping
            key, as for `groupby`; only keys are compared. `None` compares the elements.

    Examples:
        >>> topk(2, [1, 5, 3, 5])
        (5, 5)
        >>> topk(2, ["a", "bbb", "cc", "ddd"], key=len)
        ('bbb', 'ddd')
    """

@overload
def join(
    leftkey: Any, leftseq: Iterable[_A], rightkey: Any, rightseq: Iterable[_B],
    left_default: None = None, right_default: None = None,
) -> Iterator[tuple[_A, _B]]: ...
@overload
def join(
    leftkey: Any, leftseq: Iterable[_A], rightkey: Any, rightseq: Iterable[_B],
    left_default: _D, right_default: None = None,
) -> Iterator[tuple[_A | _D, _B]]: ...
@overload
def join(
    leftkey: Any, leftseq: Iterable[_A], rightkey: Any, rightseq: Iterable[_B],
    left_default: None = None, *, right_default: _D,
) -> Iterator[tuple[_A, _B | _D]]: ...
@overload
def join(
    leftkey: Any, leftseq: Iterable[_A], rightkey: Any, rightseq: Iterable[_B],
    left_default: _D, right_default: _F,
) -> Iterator[tuple[_A | _D, _B | _F]]:
    """Relate two collections by key, yielding `(left, right)` pairs. Lazy.

    The left collection is indexed in full on the first step; the right one is streamed. The
    kind of join follows from the defaults: none gives an inner join; `left_default` adds
    `(left_default, r)` for each unmatched right element; `right_default` adds
    `(l, right_default)` for each unmatched left element; both give a full outer join.
    `None` counts as no default.

    Args:
        leftkey: the key of a left element: a function, a `list` of indices/keys, or one
            index or mapping key, as for `groupby`.
        leftseq: the left collection.
        rightkey: the key of a right element, in the same forms.
        rightseq: the right collection.
        left_default: the stand-in for a missing left element.
        right_default: the stand-in for a missing right element.

    Examples:
        >>> left, right = [(1, "a"), (2, "b")], [(1, "x"), (3, "y")]
        >>> list(join(0, left, 0, right))
        [((1, 'a'), (1, 'x'))]
        >>> list(join(0, left, 0, right, left_default="-", right_default="-"))
        [((1, 'a'), (1, 'x')), ('-', (3, 'y')), ((2, 'b'), '-')]
    """

def diff(
    *seqs: Iterable[_T], default: Any = ..., key: Callable[[_T], Any] | None = None, **kwargs: Any
) -> Iterator[tuple[_T, ...]]:
    """The positions at which two or more sequences differ, as tuples of their elements. Lazy.

    Args:
        *seqs: the sequences, two or more; a single `list` argument is taken as the list of
            sequences. Fewer than two raise `TypeError`
            "Too few sequences given (min 2 required)".
        default: keyword only; when given, shorter sequences are padded with it; otherwise
            the shortest one ends the comparison.
        key: keyword only; compare `key(element)` instead of the elements.
        **kwargs: other keywords are ignored.

    Examples:
        >>> list(diff([1, 2, 3], [1, 2, 10]))
        [(3, 10)]
        >>> list(diff([1, 2, 3], [1, 2], default=None))
        [(3, None)]
    """

def isdistinct(seq: Iterable[Hashable]) -> bool:
    """`True` when no element occurs twice (by hash and `==`). Eager; stops at the first repeat.

    Integer buffers are checked natively.

    Args:
        seq: any iterable of hashable elements.

    Examples:
        >>> isdistinct([1, 2, 3]), isdistinct("hello")
        (True, False)
    """

def merge_sorted(*seqs: Iterable[_T], key: Callable[[_T], Any] | None = None) -> Iterator[_T]:
    """Merge sorted inputs into one sorted stream. Lazy.

    Args:
        *seqs: iterables, each sorted (by `key` when given).
        key: keyword only; the sort key; `None` compares the elements.

    Examples:
        >>> list(merge_sorted([1, 4], [2, 3], [0]))
        [0, 1, 2, 3, 4]
    """

# ---------------------------------------------------------------------------------------------
# Function tools
# ---------------------------------------------------------------------------------------------

# Not final here (it is at run time) so that the typed views below can derive from it.
@disjoint_base
class curry(Generic[_R_co]):
    """Wrap `func` so that it can be called with its arguments in several calls.

    `curry(func, *args, **kwargs)` wraps the callable `func`, gathering `args` and `kwargs`
    at once. Each call gathers more; when the arguments bind `func`'s signature completely,
    `func` is called and its result returned, otherwise a new `curry` holding them comes back
    (the object called is never changed). Usable as a decorator. Pickles when `func` does.

    Types: for functions of one to four positional parameters each partial call is typed;
    other shapes (and keyword calls) fall back to `curry[R]` whose calls return `Any`.

    Examples:
        >>> @curry
        ... def add3(a, b, c):
        ...     return a + b + c
        >>> add3(1)(2)(3), add3(1, 2)(3), add3(1)(2, 3)
        (6, 6, 6)
        >>> curry(pow, 2)(10)
        1024
    """

    @overload
    def __new__(cls, func: Callable[[_A], _R]) -> _Curried1[_A, _R]: ...
    @overload
    def __new__(cls, func: Callable[[_A, _B], _R]) -> _Curried2[_A, _B, _R]: ...
    @overload
    def __new__(cls, func: Callable[[_A, _B, _C], _R]) -> _Curried3[_A, _B, _C, _R]: ...
    @overload
    def __new__(cls, func: Callable[[_A, _B, _C, _X], _R]) -> _Curried4[_A, _B, _C, _X, _R]: ...
    @overload
    def __new__(cls, func: Callable[..., _R], *args: Any, **kwargs: Any) -> curry[_R]: ...
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...

# Typed views of a curried function of one to four positional parameters.
@type_check_only
class _Curried1(curry[_R_co], Generic[_A, _R_co]):
    def __call__(self, a: _A) -> _R_co: ...

@type_check_only
class _Curried2(curry[_R_co], Generic[_A, _B, _R_co]):
    @overload
    def __call__(self, a: _A) -> _Curried1[_B, _R_co]: ...
    @overload
    def __call__(self, a: _A, b: _B) -> _R_co: ...

@type_check_only
class _Curried3(curry[_R_co], Generic[_A, _B, _C, _R_co]):
    @overload
    def __call__(self, a: _A) -> _Curried2[_B, _C, _R_co]: ...
    @overload
    def __call__(self, a: _A, b: _B) -> _Curried1[_C, _R_co]: ...
    @overload
    def __call__(self, a: _A, b: _B, c: _C) -> _R_co: ...

@type_check_only
class _Curried4(curry[_R_co], Generic[_A, _B, _C, _X, _R_co]):
    @overload
    def __call__(self, a: _A) -> _Curried3[_B, _C, _X, _R_co]: ...
    @overload
    def __call__(self, a: _A, b: _B) -> _Curried2[_C, _X, _R_co]: ...
    @overload
    def __call__(self, a: _A, b: _B, c: _C) -> _Curried1[_X, _R_co]: ...
    @overload
    def __call__(self, a: _A, b: _B, c: _C, d: _X) -> _R_co: ...

def identity(x: _T) -> _T:
    """Return `x` unchanged.

    Args:
        x: any object.

    Examples:
        >>> identity(3)
        3
    """

def apply(func: Callable[_P, _R], *args: _P.args, **kwargs: _P.kwargs) -> _R:
    """Call `func(*args, **kwargs)` and return the result.

    Args:
        func: the callable.
        *args: positional arguments for `func`.
        **kwargs: keyword arguments for `func`.

    Examples:
        >>> apply(max, 1, 5, 3)
        5
    """

@overload
def pipe(data: _T) -> _T: ...
@overload
def pipe(data: _T, f1: Callable[[_T], _A], /) -> _A: ...
@overload
def pipe(data: _T, f1: Callable[[_T], _A], f2: Callable[[_A], _B], /) -> _B: ...
@overload
def pipe(data: _T, f1: Callable[[_T], _A], f2: Callable[[_A], _B], f3: Callable[[_B], _C], /) -> _C: ...
@overload
def pipe(
    data: _T, f1: Callable[[_T], _A], f2: Callable[[_A], _B], f3: Callable[[_B], _C], f4: Callable[[_C], _X], /
) -> _X: ...
@overload
def pipe(
    data: _T,
    f1: Callable[[_T], _A],
    f2: Callable[[_A], _B],
    f3: Callable[[_B], _C],
    f4: Callable[[_C], _X],
    f5: Callable[[_X], _Y],
    /,
) -> _Y: ...
@overload
def pipe(
    data: _T,
    f1: Callable[[_T], _A],
    f2: Callable[[_A], _B],
    f3: Callable[[_B], _C],
    f4: Callable[[_C], _X],
    f5: Callable[[_X], _Y],
    f6: Callable[[_Y], _Z],
    /,
) -> _Z: ...
@overload
def pipe(
    data: Any,
    f1: Callable[[Any], Any],
    f2: Callable[[Any], Any],
    f3: Callable[[Any], Any],
    f4: Callable[[Any], Any],
    f5: Callable[[Any], Any],
    f6: Callable[[Any], Any],
    f7: Callable[[Any], Any],
    /,
    *funcs: Callable[[Any], Any],
) -> Any:
    """Pass `data` through each function in turn: `pipe(x, f, g)` is `g(f(x))`. Eager.

    Args:
        data: the starting value.
        *funcs: functions of one argument, applied left to right (typed up to six; from
            seven on the result is `Any`).

    Examples:
        >>> pipe(-5, abs, str)
        '5'
    """

def do(func: Callable[[_T], object], x: _T) -> _T:
    """Call `func(x)` for its effect and return `x`.

    Args:
        func: a function of one argument; its result is discarded.
        x: the value passed through.

    Examples:
        >>> seen = []
        >>> do(seen.append, 3), seen
        (3, [3])
    """

@type_check_only
class _Identity(Protocol):
    def __call__(self, x: _T) -> _T: ...

@overload
def compose() -> _Identity: ...
@overload
def compose(f1: Callable[_P, _R], /) -> Callable[_P, _R]: ...
@overload
def compose(f2: Callable[[_A], _R], f1: Callable[_P, _A], /) -> Callable[_P, _R]: ...
@overload
def compose(f3: Callable[[_B], _R], f2: Callable[[_A], _B], f1: Callable[_P, _A], /) -> Callable[_P, _R]: ...
@overload
def compose(
    f4: Callable[[_C], _R], f3: Callable[[_B], _C], f2: Callable[[_A], _B], f1: Callable[_P, _A], /
) -> Callable[_P, _R]: ...
@overload
def compose(*funcs: Callable[..., Any]) -> Callable[..., Any]:
    """Compose functions right to left: `compose(f, g)(x)` is `f(g(x))`.

    The last function receives all call arguments; each other function gets the previous
    result. With no functions the result returns its single argument.

    Args:
        *funcs: callables, applied last to first (typed up to four).

    Examples:
        >>> compose(str, abs)(-5)
        '5'
        >>> compose()(7)
        7
    """

@overload
def compose_left() -> _Identity: ...
@overload
def compose_left(f1: Callable[_P, _R], /) -> Callable[_P, _R]: ...
@overload
def compose_left(f1: Callable[_P, _A], f2: Callable[[_A], _R], /) -> Callable[_P, _R]: ...
@overload
def compose_left(f1: Callable[_P, _A], f2: Callable[[_A], _B], f3: Callable[[_B], _R], /) -> Callable[_P, _R]: ...
@overload
def compose_left(
    f1: Callable[_P, _A], f2: Callable[[_A], _B], f3: Callable[[_B], _C], f4: Callable[[_C], _R], /
) -> Callable[_P, _R]: ...
@overload
def compose_left(*funcs: Callable[..., Any]) -> Callable[..., Any]:
    """Compose functions left to right: `compose_left(f, g)(x)` is `g(f(x))`.

    The first function receives all call arguments; each later one gets the previous result.

    Args:
        *funcs: callables, applied first to last (typed up to four).

    Examples:
        >>> compose_left(abs, str)(-5)
        '5'
    """

def complement(func: Callable[_P, object]) -> Callable[_P, bool]:
    """A function returning the logical opposite of `func`: `not func(*args, **kwargs)`.

    Args:
        func: any callable; its result is tested for truth on each call.

    Examples:
        >>> is_odd = complement(lambda x: x % 2 == 0)
        >>> is_odd(3), is_odd(4)
        (True, False)
    """

@overload
def juxt(f1: Callable[_P, _A], /) -> Callable[_P, tuple[_A]]: ...
@overload
def juxt(f1: Callable[_P, _A], f2: Callable[_P, _B], /) -> Callable[_P, tuple[_A, _B]]: ...
@overload
def juxt(f1: Callable[_P, _A], f2: Callable[_P, _B], f3: Callable[_P, _C], /) -> Callable[_P, tuple[_A, _B, _C]]: ...
@overload
def juxt(
    f1: Callable[_P, _A], f2: Callable[_P, _B], f3: Callable[_P, _C], f4: Callable[_P, _X], /
) -> Callable[_P, tuple[_A, _B, _C, _X]]: ...
@overload
def juxt(funcs: Iterable[Callable[_P, _R]], /) -> Callable[_P, tuple[_R, ...]]: ...
@overload
def juxt(*funcs: Callable[_P, _R]) -> Callable[_P, tuple[_R, ...]]:
    """A function calling each of `funcs` with the same arguments, returning a tuple of results.

    Args:
        *funcs: callables (typed up to four); a single non-callable iterable of callables is
            taken as the list of functions.

    Examples:
        >>> juxt(min, max)([3, 1, 2])
        (1, 3)
        >>> juxt([len, sorted])("cab")
        (3, ['a', 'b', 'c'])
    """

@overload
def excepts(
    exc: type[_Exc] | tuple[type[_Exc], ...], func: Callable[_P, _R], handler: None = None
) -> Callable[_P, _R | None]: ...
@overload
def excepts(
    exc: type[_Exc] | tuple[type[_Exc], ...], func: Callable[_P, _R], handler: Callable[[_Exc], _U]
) -> Callable[_P, _R | _U]:
    """A function calling `func`, turning the exceptions `exc` into `handler(exception)`.

    Args:
        exc: an exception class or a tuple of them.
        func: the callable to guard.
        handler: called with the caught exception; its result is returned. `None` returns
            `None` for a caught exception.

    Examples:
        >>> safe_int = excepts(ValueError, int, lambda e: -1)
        >>> safe_int("12"), safe_int("x")
        (12, -1)
        >>> print(excepts(ZeroDivisionError, lambda x: 1 / x)(0))
        None
    """

def memoize(
    func: Callable[_P, _R],
    cache: dict[Any, Any] | None = None,
    key: Callable[[tuple[Any, ...], Mapping[str, Any]], Hashable] | None = None,
) -> Callable[_P, _R]:
    """A function remembering the results of `func` by its arguments.

    Arguments must be hashable. Results are computed once per distinct key; exceptions
    are not cached.

    Args:
        func: the callable to wrap.
        cache: the dictionary to store results in (yours to inspect or clear); `None`
            creates a new one. A one-parameter function is keyed by its argument alone.
        key: `key(args, kwargs)` returns the cache key for a call; `None` derives it from
            the arguments.

    Examples:
        >>> calls = []
        >>> square = memoize(lambda x: calls.append(x) or x * x)
        >>> square(4), square(4), calls
        (16, 16, [4])
    """

def thread_first(val: Any, *forms: Callable[[Any], Any] | tuple[Any, ...]) -> Any:
    """Thread `val` through `forms` as the first argument. Eager.

    A form `f` is called as `f(val)`; a form `(f, a, b)` as `f(val, a, b)`. Each result is
    the next `val`.

    Args:
        val: the starting value.
        *forms: callables or tuples `(callable, *extra_args)`, applied left to right.

    Examples:
        >>> thread_first(2, (pow, 3), str)
        '8'
    """

def thread_last(val: Any, *forms: Callable[[Any], Any] | tuple[Any, ...]) -> Any:
    """Thread `val` through `forms` as the last argument. Eager.

    A form `f` is called as `f(val)`; a form `(f, a, b)` as `f(a, b, val)`. Each result is
    the next `val`.

    Args:
        val: the starting value.
        *forms: callables or tuples `(callable, *extra_args)`, applied left to right.

    Examples:
        >>> thread_last([1, 2, 3], (map, lambda x: x * 10), list)
        [10, 20, 30]
    """

@type_check_only
class _Flip(curry[Any]):
    @overload
    def __call__(self, func: Callable[[_A, _B], _R]) -> _Curried2[_B, _A, _R]: ...
    @overload
    def __call__(self, func: Callable[[_A, _B], _R], a: _B) -> _Curried1[_A, _R]: ...
    @overload
    def __call__(self, func: Callable[[_A, _B], _R], a: _B, b: _A) -> _R: ...

flip: _Flip
"""Call a two-argument function with its arguments swapped: `flip(f, a, b)` is `f(b, a)`.

`flip` is a `curry` object, so `flip(f)` and `flip(f, a)` return curried functions.

Examples:
    >>> import operator
    >>> flip(operator.sub, 1, 10), flip(operator.sub)(1)(10)
    (9, 9)
"""

# ---------------------------------------------------------------------------------------------
# Dictionary tools
# ---------------------------------------------------------------------------------------------

def get_in(keys: Iterable[Any], coll: Any, default: Any = None, no_default: bool = False) -> Any:
    """The nested item `coll[k1][k2]...` for `keys = [k1, k2, ...]`, or `default`. Eager.

    A `KeyError`, `IndexError` or `TypeError` on the way returns `default`, unless
    `no_default` is true, in which case it propagates.

    Args:
        keys: the path, one key or index per level.
        coll: the outer mapping or sequence.
        default: the value for a missing path.
        no_default: raise instead of returning `default`.

    Examples:
        >>> get_in(["a", "b"], {"a": {"b": 1}}), get_in(["a", "x"], {"a": {}}, 0)
        (1, 0)
    """

# Every tool below builds a new mapping and never modifies its input. `factory`, when given,
# is called with no arguments to make the (empty) result, which is then filled by item
# assignment; `None` makes a `dict`.

@overload
def assoc(d: Mapping[_K, _V], key: _X, value: _Y, factory: None = None) -> dict[_K | _X, _V | _Y]: ...
@overload
def assoc(d: Mapping[Any, Any], key: Any, value: Any, factory: Callable[[], _M]) -> _M:
    """A copy of `d` with `key` set to `value`. Eager.

    Args:
        d: the mapping to copy (read through `items()`).
        key: the key to set.
        value: its value.
        factory: makes the empty result; `None` makes a `dict`.

    Examples:
        >>> assoc({"a": 1}, "b", 2)
        {'a': 1, 'b': 2}
    """

@overload
def dissoc(d: Mapping[_K, _V], *keys: object, factory: None = None) -> dict[_K, _V]: ...
@overload
def dissoc(d: Mapping[Any, Any], *keys: object, factory: Callable[[], _M]) -> _M:
    """A copy of `d` without the given keys (missing keys are ignored). Eager.

    Args:
        d: the mapping to copy.
        *keys: the keys to leave out; none gives a plain copy.
        factory: keyword only; makes the empty result; `None` makes a `dict`.

    Examples:
        >>> dissoc({"a": 1, "b": 2}, "a", "z")
        {'b': 2}
    """

@overload
def assoc_in(d: Mapping[Any, Any], keys: Iterable[Any], value: Any, factory: None = None) -> dict[Any, Any]: ...
@overload
def assoc_in(d: Mapping[Any, Any], keys: Iterable[Any], value: Any, factory: Callable[[], _M]) -> _M:
    """A copy of nested `d` with `value` stored at the path `keys`. Eager.

    Mappings along the path are copied (never modified); missing levels, and values on the
    path that are not mappings, become new mappings.

    Args:
        d: the outer mapping.
        keys: the path, one key per level; must not be empty.
        value: the value to store.
        factory: makes each new mapping; `None` makes `dict`s.

    Examples:
        >>> assoc_in({"a": {"b": 1}}, ["a", "c"], 2)
        {'a': {'b': 1, 'c': 2}}
        >>> assoc_in({}, ["x", "y"], 1)
        {'x': {'y': 1}}
    """

@overload
def update_in(
    d: Mapping[Any, Any], keys: Iterable[Any], func: Callable[[Any], Any], default: Any = None, factory: None = None
) -> dict[Any, Any]: ...
@overload
def update_in(
    d: Mapping[Any, Any], keys: Iterable[Any], func: Callable[[Any], Any], default: Any = None, *,
    factory: Callable[[], _M],
) -> _M:
    """A copy of nested `d` with the value at the path replaced by `func(old)`. Eager.

    Args:
        d: the outer mapping.
        keys: the path, one key per level; must not be empty.
        func: a function of the old value (`default` where the path does not exist).
        default: the old value for a missing path.
        factory: makes each new mapping; `None` makes `dict`s.

    Examples:
        >>> update_in({"a": {"n": 1}}, ["a", "n"], lambda n: n + 1)
        {'a': {'n': 2}}
        >>> update_in({}, ["a"], len, default=[])
        {'a': 0}
    """

@overload
def merge(*dicts: Mapping[_K, _V], factory: None = None) -> dict[_K, _V]: ...
@overload
def merge(dicts: Iterable[Mapping[_K, _V]], /, *, factory: None = None) -> dict[_K, _V]: ...
@overload
def merge(*dicts: Any, factory: Callable[[], _M]) -> _M:
    """Combine mappings into one; for a key in several, the last value wins. Eager.

    Args:
        *dicts: the mappings, in order; a single argument that is not a mapping (such as a
            list of mappings) is taken as the sequence of mappings.
        factory: keyword only; makes the empty result; `None` makes a `dict`.

    Examples:
        >>> merge({"a": 1}, {"a": 2, "b": 3})
        {'a': 2, 'b': 3}
    """

@overload
def merge_with(func: Callable[[list[_V]], _R], *dicts: Mapping[_K, _V], factory: None = None) -> dict[_K, _R]: ...
@overload
def merge_with(
    func: Callable[[list[_V]], _R], dicts: Iterable[Mapping[_K, _V]], /, *, factory: None = None
) -> dict[_K, _R]: ...
@overload
def merge_with(func: Callable[[list[Any]], Any], *dicts: Any, factory: Callable[[], _M]) -> _M:
    """Combine mappings, resolving each key with `func(list of its values)`. Eager.

    Keys come out in order of first appearance; `func` is called once per key.

    Args:
        func: a function of the `list` of a key's values, in input order.
        *dicts: the mappings; a single non-mapping argument is taken as the sequence of
            mappings.
        factory: keyword only; makes the empty result; `None` makes a `dict`.

    Examples:
        >>> merge_with(sum, {"a": 1, "b": 2}, {"a": 3})
        {'a': 4, 'b': 2}
    """

@overload
def keymap(func: Callable[[_K], _X], d: Mapping[_K, _V], factory: None = None) -> dict[_X, _V]: ...
@overload
def keymap(func: Callable[[_K], Any], d: Mapping[_K, Any], factory: Callable[[], _M]) -> _M:
    """A copy of `d` with every key replaced by `func(key)` (later items win on collision). Eager.

    Args:
        func: a function of the key.
        d: the mapping.
        factory: makes the empty result; `None` makes a `dict`.

    Examples:
        >>> keymap(str.upper, {"a": 1, "b": 2})
        {'A': 1, 'B': 2}
    """

@overload
def valmap(func: Callable[[_V], _Y], d: Mapping[_K, _V], factory: None = None) -> dict[_K, _Y]: ...
@overload
def valmap(func: Callable[[_V], Any], d: Mapping[Any, _V], factory: Callable[[], _M]) -> _M:
    """A copy of `d` with every value replaced by `func(value)`. Eager.

    Args:
        func: a function of the value.
        d: the mapping.
        factory: makes the empty result; `None` makes a `dict`.

    Examples:
        >>> valmap(len, {"a": [1, 2], "b": []})
        {'a': 2, 'b': 0}
    """

@overload
def itemmap(func: Callable[[tuple[_K, _V]], tuple[_X, _Y]], d: Mapping[_K, _V], factory: None = None) -> dict[_X, _Y]: ...
@overload
def itemmap(func: Callable[[tuple[_K, _V]], Iterable[Any]], d: Mapping[_K, _V], factory: None = None) -> dict[Any, Any]: ...
@overload
def itemmap(func: Callable[[tuple[Any, Any]], Iterable[Any]], d: Mapping[Any, Any], factory: Callable[[], _M]) -> _M:
    """A mapping of `func((key, value))` for every item; each result is a new key-value pair. Eager.

    Args:
        func: a function of the `(key, value)` tuple, returning a pair (any iterable of
            exactly two elements).
        d: the mapping.
        factory: makes the empty result; `None` makes a `dict`.

    Examples:
        >>> itemmap(reversed, {"a": 1, "b": 2})
        {1: 'a', 2: 'b'}
    """

@overload
def keyfilter(predicate: Callable[[_K], object], d: Mapping[_K, _V], factory: None = None) -> dict[_K, _V]: ...
@overload
def keyfilter(predicate: Callable[[_K], object], d: Mapping[_K, Any], factory: Callable[[], _M]) -> _M:
    """A copy of `d` with only the items whose key satisfies `predicate`. Eager.

    Args:
        predicate: a function of the key; its result is tested for truth.
        d: the mapping.
        factory: makes the empty result; `None` makes a `dict`.

    Examples:
        >>> keyfilter(lambda k: k > 1, {1: "a", 2: "b"})
        {2: 'b'}
    """

@overload
def valfilter(predicate: Callable[[_V], object], d: Mapping[_K, _V], factory: None = None) -> dict[_K, _V]: ...
@overload
def valfilter(predicate: Callable[[_V], object], d: Mapping[Any, _V], factory: Callable[[], _M]) -> _M:
    """A copy of `d` with only the items whose value satisfies `predicate`. Eager.

    Args:
        predicate: a function of the value; its result is tested for truth.
        d: the mapping.
        factory: makes the empty result; `None` makes a `dict`.

    Examples:
        >>> valfilter(bool, {"a": 0, "b": 2})
        {'b': 2}
    """

@overload
def itemfilter(predicate: Callable[[tuple[_K, _V]], object], d: Mapping[_K, _V], factory: None = None) -> dict[_K, _V]: ...
@overload
def itemfilter(predicate: Callable[[tuple[_K, _V]], object], d: Mapping[_K, _V], factory: Callable[[], _M]) -> _M:
    """A copy of `d` with only the items for which `predicate((key, value))` is true. Eager.

    Args:
        predicate: a function of the `(key, value)` tuple; its result is tested for truth.
        d: the mapping.
        factory: makes the empty result; `None` makes a `dict`.

    Examples:
        >>> itemfilter(lambda kv: kv[1] is None, {1: None, 2: 0})
        {1: None}
    """

# ---------------------------------------------------------------------------------------------
# Fluent iterator
# ---------------------------------------------------------------------------------------------

@final
class Iter(Generic[_T]):
    """A fluent wrapper around any iterable whose methods chain the sequence tools.

    Lazy methods return a new `Iter` around the lazy result of the matching tool; terminal
    methods return a plain value. `Iter` adds no state beyond the wrapped object and never
    copies it: over an iterator, each terminal method consumes it. An `Iter` is iterable but
    not an iterator (`iter(Iter(x))` is `iter(x)`).

    `inner` is any iterable (not checked at construction).

    Examples:
        >>> Iter(range(10)).filter(lambda x: x % 2).map(str).take(2).collect()
        ['1', '3']
        >>> Iter([3, 1, 3, 2]).unique().collect()
        [3, 1, 2]
    """

    def __new__(cls, inner: Iterable[_T]) -> Iter[_T]: ...
    def __class_getitem__(cls, item: Any, /) -> GenericAlias: ...
    def __iter__(self) -> Iterator[_T]: ...
    def map(self, f: Callable[[_T], _U]) -> Iter[_U]:
        """`f(element)` for every element. Lazy (the built-in `map`).

        Args:
            f: a function of one argument.

        Examples:
            >>> Iter([1, 2]).map(str).collect()
            ['1', '2']
        """

    def filter(self, f: Callable[[_T], object] | None) -> Iter[_T]:
        """The elements for which `f(element)` is true. Lazy (the built-in `filter`).

        Args:
            f: a predicate; `None` keeps the truthy elements.

        Examples:
            >>> Iter([0, 1, 2]).filter(None).collect()
            [1, 2]
        """

    def unique(self, key: Callable[[_T], Hashable] | None = None) -> Iter[_T]:
        """The elements not seen before, keeping the first of each. Lazy (see `unique`).

        Args:
            key: a function giving the identity to compare; `None` compares the elements
                (and keeps the integer-buffer fast path).

        Examples:
            >>> Iter("abca").unique().collect()
            ['a', 'b', 'c']
        """

    def take(self, n: SupportsIndex) -> Iter[_T]:
        """The first `n` elements. Lazy.

        Args:
            n: how many, >= 0 (negative raises `OverflowError`).

        Examples:
            >>> Iter(range(5)).take(2).collect()
            [0, 1]
        """

    def drop(self, n: SupportsIndex) -> Iter[_T]:
        """All but the first `n` elements. Lazy.

        Args:
            n: how many to skip, >= 0 (negative raises `OverflowError`).

        Examples:
            >>> Iter([1, 2, 3]).drop(1).collect()
            [2, 3]
        """

    def sliding_window(self, n: SupportsIndex) -> Iter[tuple[_T, ...]]:
        """Overlapping windows of `n` consecutive elements. Lazy (see `sliding_window`).

        Args:
            n: the window size, >= 0.

        Examples:
            >>> Iter([1, 2, 3]).sliding_window(2).collect()
            [(1, 2), (2, 3)]
        """

    def partition_all(self, n: SupportsIndex) -> Iter[tuple[_T, ...]]:
        """Tuples of `n` elements, the last possibly shorter. Lazy (see `partition_all`).

        Args:
            n: the tuple size, >= 0.

        Examples:
            >>> Iter("abc").partition_all(2).collect()
            [('a', 'b'), ('c',)]
        """

    def flat_map(self, f: Callable[[_T], Iterable[_U]]) -> Iter[_U]:
        """Apply `f` to each element and concatenate the results. Lazy (see `mapcat`).

        Args:
            f: a function from an element to an iterable.

        Examples:
            >>> Iter([1, 2]).flat_map(lambda x: [x] * x).collect()
            [1, 2, 2]
        """

    @overload
    def pluck(self, ind: list[Any]) -> Iter[tuple[Any, ...]]: ...
    # Iter is invariant, so the common element types are named one by one.
    @overload
    def pluck(self: Iter[dict[_K, _V]], ind: _K) -> Iter[_V]: ...
    @overload
    def pluck(self: Iter[Mapping[_K, _V]], ind: _K) -> Iter[_V]: ...
    @overload
    def pluck(self: Iter[list[_U]], ind: int) -> Iter[_U]: ...
    @overload
    def pluck(self: Iter[tuple[_U, ...]], ind: int) -> Iter[_U]: ...
    @overload
    def pluck(self: Iter[Sequence[_U]], ind: int) -> Iter[_U]: ...
    @overload
    def pluck(self, ind: Any) -> Iter[Any]:
        """`element[ind]` for every element, without default. Lazy (see `pluck`).

        Args:
            ind: a key or index; a `list` of them gives a tuple per element.

        Examples:
            >>> Iter([{"n": 1}, {"n": 2}]).pluck("n").collect()
            [1, 2]
        """

    def interpose(self, el: _U) -> Iter[_T | _U]:
        """The elements with `el` between every two. Lazy; an empty input yields nothing.

        Args:
            el: the separator.

        Examples:
            >>> Iter([1, 2]).interpose(0).collect(), Iter([]).interpose(0).collect()
            ([1, 0, 2], [])
        """

    def accumulate(self, binop: Callable[[_T, _T], _T]) -> Iter[_T]:
        """Running results of `binop`. Lazy (see `accumulate`, without an initial value).

        Args:
            binop: a function of the total so far and the next element.

        Examples:
            >>> Iter([1, 2, 3]).accumulate(lambda a, b: a + b).collect()
            [1, 3, 6]
        """

    def collect(self) -> list[_T]:
        """All elements as a `list`. Eager.

        Examples:
            >>> Iter(range(3)).collect()
            [0, 1, 2]
        """

    @overload
    def reduce(self, binop: Callable[[_T, _T], _T]) -> _T: ...
    @overload
    def reduce(self, binop: Callable[[_U, _T], _U], initial: _U, /) -> _U:
        """Fold the elements with `binop` (`functools.reduce`). Eager.

        Args:
            binop: a function of the total so far and the next element.
            initial: the optional second argument (`*rest` in the run-time signature, at
                most one value): the starting total. Without it an empty input raises
                `TypeError`. More values raise `TypeError` "reduce takes at most 2
                arguments".

        Examples:
            >>> import operator
            >>> Iter([1, 2, 3]).reduce(operator.add), Iter([]).reduce(operator.add, 0)
            (6, 0)
        """

    def count(self) -> int:
        """The number of elements (see `count`). Eager.

        Examples:
            >>> Iter(x for x in "abc").count()
            3
        """

    def frequencies(self) -> dict[_T, int]:
        """Count each distinct element (see `frequencies`). Eager.

        Examples:
            >>> Iter(["a", "b", "a"]).frequencies()
            {'a': 2, 'b': 1}
        """

    @overload
    def group_by(self, key: Callable[[_T], _K]) -> dict[_K, list[_T]]: ...
    @overload
    def group_by(self, key: list[Any]) -> dict[tuple[Any, ...], list[_T]]: ...
    @overload
    def group_by(self, key: Any) -> dict[Any, list[_T]]:
        """Group the elements by key (see `groupby`). Eager.

        Args:
            key: a function of the element, a `list` of indices/keys, or one index or
                mapping key.

        Examples:
            >>> Iter(["a", "bb", "c"]).group_by(len)
            {1: ['a', 'c'], 2: ['bb']}
        """

    def to_dict(self: Iter[tuple[_K, _V]]) -> dict[_K, _V]:
        """A `dict` of the `(key, value)` pairs (the built-in `dict`). Eager.

        Examples:
            >>> Iter([("a", 1), ("b", 2)]).to_dict()
            {'a': 1, 'b': 2}
        """

    def first(self) -> Some[_T] | NothingType:
        """The first element as `Some`, or `Nothing` (see `first_opt`). Eager.

        Examples:
            >>> Iter([5, 6]).first(), Iter([]).first()
            (Some(5), Nothing)
        """

    def last(self) -> Some[_T] | NothingType:
        """The last element as `Some`, or `Nothing` (see `last_opt`). Eager.

        Examples:
            >>> Iter([5, 6]).last()
            Some(6)
        """

    def nth(self, i: SupportsIndex) -> Some[_T] | NothingType:
        """The element at position `i` as `Some`, or `Nothing` (see `nth_opt`). Eager.

        Args:
            i: the position, >= 0 (negative raises `OverflowError`).

        Examples:
            >>> Iter([5, 6]).nth(1), Iter([5]).nth(3)
            (Some(6), Nothing)
        """

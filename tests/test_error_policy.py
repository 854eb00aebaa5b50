"""Which exceptions the module may discard: at every place where a failure is swallowed
(a skipped element, a length hint, a buffer probe, a signature that cannot be read, a
lookup that falls back to a default), ordinary errors may vanish, but KeyboardInterrupt,
SystemExit and GeneratorExit always reach the caller."""

import operator
import sys

import pytest

PASSES = "propagates"  # the expected outcome when the error must reach the caller


class FailsFirst:
    """An iterator whose first __next__ raises `exc`, then yields 10, 11, 12."""

    def __init__(self, exc):
        self.exc, self.items = exc, None

    def __iter__(self):
        return self

    def __next__(self):
        if self.items is None:
            self.items = iter([10, 11, 12])
            raise self.exc
        return next(self.items)


class HintFails:
    def __init__(self, exc):
        self.exc = exc

    def __iter__(self):
        return self

    def __next__(self):
        raise StopIteration

    def __length_hint__(self):
        raise self.exc


class GetitemFails:
    def __init__(self, exc):
        self.exc = exc

    def __getitem__(self, key):
        raise self.exc

    def __iter__(self):
        return iter([1, 2, 3])


def signature_fails(exc):
    class Callable:
        def __call__(self, a):
            return a * 2

        @property
        def __signature__(self):
            raise exc

    return Callable()


def len_attribute_fails(exc):
    class Seq:
        @property
        def __len__(self):
            raise exc

        def __iter__(self):
            return iter([1, 2])

    return Seq()


def buffer_fails(exc):
    class Exporter:
        def __buffer__(self, flags):
            raise exc

        def __iter__(self):
            return iter([7, 7])

    return Exporter()


# site -> (call given the exception, outcome for ValueError, outcome for KeyError)
SITES = {
    "nth skip": (lambda tv, e: tv.nth(1, FailsFirst(e)), 10, 10),
    "second skip": (lambda tv, e: tv.second(FailsFirst(e)), 10, 10),
    "nth_opt skip": (lambda tv, e: tv.nth_opt(1, FailsFirst(e)).unwrap(), 10, 10),
    "length hint": (lambda tv, e: operator.length_hint(tv.unique(HintFails(e))), 0, 0),
    "pluck hint": (lambda tv, e: operator.length_hint(tv.pluck(0, HintFails(e))), 0, 0),
    "memoize signature": (lambda tv, e: tv.memoize(signature_fails(e))(4), 8, 8),
    "curry signature": (lambda tv, e: tv.curry(signature_fails(e))(4), 8, PASSES),
    "get default": (lambda tv, e: tv.get(0, GetitemFails(e), "d"), PASSES, "d"),
    "get_in default": (lambda tv, e: tv.get_in([0], GetitemFails(e), "d"), PASSES, "d"),
    "get_opt": (lambda tv, e: tv.get_opt(0, GetitemFails(e)).unwrap_or("d"), PASSES, "d"),
    "get_in_opt": (lambda tv, e: tv.get_in_opt(GetitemFails(e), 0).unwrap_or("d"), PASSES,
                   "d"),
    "pluck default": (lambda tv, e: list(tv.pluck(0, [GetitemFails(e)], "d")), PASSES, ["d"]),
    "tail fallback": (lambda tv, e: tv.tail(2, GetitemFails(e)), PASSES, (2, 3)),
    "count fallback": (lambda tv, e: tv.count(len_attribute_fails(e)), PASSES, PASSES),
    "Result.of": (lambda tv, e: tv.Result.of(lambda: (_ for _ in ()).throw(e)).is_err(),
                  True, True),
    "excepts(Exception)": (lambda tv, e: tv.excepts(Exception, lambda: (_ for _ in ()).throw(e))(),
                           None, None),
}
if sys.version_info >= (3, 12):  # Python classes can export buffers from 3.12 on
    SITES["buffer probe"] = (lambda tv, e: tv.frequencies(buffer_fails(e)), {7: 2}, {7: 2})

KINDS = [ValueError, KeyError, KeyboardInterrupt, SystemExit, GeneratorExit]


@pytest.mark.parametrize("kind", KINDS, ids=lambda k: k.__name__)
@pytest.mark.parametrize("site", sorted(SITES))
def test_only_ordinary_errors_are_discarded(tv, site, kind):
    call, on_value_error, on_key_error = SITES[site]
    expected = {ValueError: on_value_error, KeyError: on_key_error}.get(kind, PASSES)
    exc = kind("injected")
    if expected is PASSES:
        with pytest.raises(kind) as info:
            call(tv, exc)
        assert info.value is exc
    else:
        assert call(tv, exc) == expected


def test_attribute_error_on_count_falls_back(tv):
    assert tv.count(len_attribute_fails(AttributeError("no len"))) == 2

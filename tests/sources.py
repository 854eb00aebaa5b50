"""Helpers shared by the tests: awkward sources and outcome recorders."""


class Boom(Exception):
    pass


class NotBool:
    def __bool__(self):
        raise ZeroDivisionError


class ItemsDict(dict):
    """A dict whose items() is its own: reversed order, so a reader that skips items()
    gives itself away."""

    def items(self):
        return list(reversed(list(super().items())))


class ItemsAre:
    """A mapping whose items() yields whatever it is given."""

    def __init__(self, *items):
        self._items = items

    def keys(self):
        return [i[0] for i in self._items if isinstance(i, tuple) and i]

    def items(self):
        return iter(self._items)

    def __getitem__(self, key):
        raise KeyError(key)


def as_kind(kind, xs):
    """`xs` as a "list", a "tuple", or (any other kind) a generator."""
    if kind == "list":
        return list(xs)
    if kind == "tuple":
        return tuple(xs)
    return (x for x in xs)


def unique_model(items, key=None):
    """The elements of `items` whose key (the element itself without `key`) is new."""
    seen, out = set(), []
    for x in items:
        k = x if key is None else key(x)
        if k not in seen:
            seen.add(k)
            out.append(x)
    return out


def raising_gen(items, exc=Boom):
    """Yields `items`, then raises `exc` (the generator is finished afterwards)."""
    yield from items
    raise exc("source failed")


END = object()  # in a script: the iterator answers its end once, then goes on


class Scripted:
    """Iterates the script `items`: an exception in it is raised (taking that call), END
    answers the end once, anything else is returned. Past the script it answers the end
    on every call until `items` is extended (an iterator that revives)."""

    def __init__(self, items):
        self.items = list(items)
        self.pos = 0

    def __iter__(self):
        return self

    def __next__(self):
        if self.pos >= len(self.items):
            raise StopIteration
        x = self.items[self.pos]
        self.pos += 1
        if x is END:
            raise StopIteration
        if isinstance(x, BaseException):
            raise x
        return x


def Flaky(items, fail_at=(), resume=()):
    """Iterates `items`, raising Boom on the calls listed in `fail_at` (those calls take no
    element). At its end it answers the end once; asked again, it goes on with `resume`
    when that is not empty."""
    items, resume, fail_at = list(items), list(resume), set(fail_at)
    script, pos, call = [], 0, 0
    while pos < len(items) or resume or any(c >= call for c in fail_at):
        if call in fail_at:
            script.append(Boom(f"call {call}"))
        elif pos < len(items):
            script.append(items[pos])
            pos += 1
        else:
            script.append(END)
            items += resume
            resume = []
        call += 1
    return Scripted(script)


def outcome(fn, catch=Exception):
    """fn()'s result, or the (type, message) of the `catch` exception it raised."""
    try:
        return fn()
    except catch as e:
        return (type(e), str(e))


def drained(it):
    """The elements of `it` up to its end or first error (then the error's type)."""
    out = []
    try:
        for x in it:
            out.append(x)
    except Exception as e:  # noqa: BLE001 - compared with a model's error
        out.append(type(e))
    return out


class Reentrant:
    """A source whose __next__ advances (or asks the hint of) the iterator that reads it.
    `target` is set after the iterator exists; the inner errors are recorded."""

    def __init__(self, items, hint=False, swallow=True):
        self.items = iter(items)
        self.target = None
        self.hint = hint
        self.swallow = swallow
        self.errors = []

    def __iter__(self):
        return self

    def __next__(self):
        if self.target is not None:
            try:
                if self.hint:
                    self.target.__length_hint__()
                else:
                    next(self.target)
            except ValueError as e:
                self.errors.append(str(e))
                if not self.swallow:
                    raise
        return next(self.items)


class Counting:
    """An iterator over `items` that counts how many elements were taken."""

    def __init__(self, items):
        self.it = iter(items)
        self.taken = 0

    def __iter__(self):
        return self

    def __next__(self):
        x = next(self.it)
        self.taken += 1
        return x


def on_small_stack(fn):
    """fn() where the C stack is small. From 3.14 the interpreter guards native recursion by
    the stack actually left rather than by a count, so a chain that would need more than the
    main thread's stack only meets the guard where the stack is small enough to run out."""
    import sys
    import threading

    if sys.version_info < (3, 14):
        return fn()
    result = {}

    def run():
        try:
            result["value"] = fn()
        except BaseException as e:  # handed back to the caller's thread
            result["error"] = e

    old = threading.stack_size(512 * 1024)
    try:
        t = threading.Thread(target=run)
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    if "error" in result:
        raise result.pop("error")
    return result["value"]

"""Awkward sources shared by the iterator tests."""


class Boom(Exception):
    pass


def raising_gen(items, exc=Boom):
    """Yields `items`, then raises `exc` (the generator is finished afterwards)."""
    yield from items
    raise exc("source failed")


class Flaky:
    """Iterates `items`, raising Boom (without consuming) on the calls listed in `fail_at`.
    At its end it answers the end once; asked again, it goes on with `resume` when that is
    not empty (an iterator that revives after its end)."""

    def __init__(self, items, fail_at=(), resume=()):
        self.items = list(items)
        self.pos = 0
        self.calls = 0
        self.fail_at = set(fail_at)
        self.resume = list(resume)

    def __iter__(self):
        return self

    def __next__(self):
        call = self.calls
        self.calls += 1
        if call in self.fail_at:
            raise Boom(f"call {call}")
        if self.pos < len(self.items):
            self.pos += 1
            return self.items[self.pos - 1]
        self.items += self.resume
        self.resume = []
        raise StopIteration


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

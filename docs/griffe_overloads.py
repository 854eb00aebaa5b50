"""Griffe extension: document functions that a stub declares only as overloads.

A stub has no implementation after its `@overload`s, so griffe leaves them unattached. Here
the last overload (the one carrying the docstring) becomes the documented function and the
others are shown as its overloads.
"""

import griffe


class StubOverloads(griffe.Extension):
    def _promote(self, owner):
        for name, overloads in list(owner.overloads.items()):
            if not overloads or name in owner.members:
                continue
            *others, main = overloads
            main.overloads = others
            owner.set_member(name, main)
            del owner.overloads[name]

    def on_module_members(self, *, mod, **kwargs):
        self._promote(mod)

    def on_class_members(self, *, cls, **kwargs):
        self._promote(cls)

"""Fast functional-programming utilities for Python."""

from . import _tarvel
from ._tarvel import *  # noqa: F401,F403

__version__ = "0.1.0"
# Written as an extension of an empty list so that type checkers read the export list
# from the native module's stub.
__all__ = []
__all__ += _tarvel.__all__

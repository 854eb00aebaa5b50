"""Fast functional-programming utilities for Python."""

from . import _tarvel
from ._tarvel import *  # noqa: F401,F403

__version__ = "0.1.0"
__all__ = list(_tarvel.__all__)

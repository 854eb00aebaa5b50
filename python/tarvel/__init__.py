"""Fast functional-programming utilities for Python."""

from importlib.metadata import PackageNotFoundError, version as _version

from . import _tarvel
from ._tarvel import *  # noqa: F401,F403

__all__ = list(_tarvel.__all__)

try:
    __version__ = _version("tarvel")
except PackageNotFoundError:  # running from a build tree
    __version__ = "0.0.0"

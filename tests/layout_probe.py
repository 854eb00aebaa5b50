"""Reads, through ctypes, the two object fields the native hashing shortcuts read (the
compact-int tag word with its first digit, and a str's cached hash), so that a test can check
this interpreter lays them out as assumed. Run as a program it prints the verdict."""

import ctypes
import sys

HEADER = object.__basicsize__  # PyObject header: larger on a free-threaded build
PROBES = [0, 1, -1, -2, 5, 256, 257, 2**30 - 1, -(2**30 - 1),
          2**40, -(2**40), 2**63 - 1, -(2**63 - 1)]


def int_fields(value):
    """(lv_tag, first digit) of an int object."""
    tag = ctypes.c_size_t.from_address(id(value) + HEADER).value
    digit = ctypes.c_uint32.from_address(id(value) + HEADER + ctypes.sizeof(ctypes.c_size_t)).value
    return tag, digit


def arithmetic_hash(value):
    """The native shortcut's hash of `value`, or None where it would not be used."""
    tag, digit = int_fields(value)
    if tag > 15:
        return None
    v = digit * (1 - (tag & 3))
    return -2 if v == -1 else v


def int_layout_matches():
    if sys.version_info < (3, 12):
        return False  # no tag word before 3.12: the shortcut is compiled out
    for i, v in enumerate(PROBES):
        h = arithmetic_hash(v)
        if h is None and i < 9 or h is not None and h != hash(v):
            return False
    return True


def cached_str_hash(s):
    return ctypes.c_ssize_t.from_address(id(s) + HEADER + ctypes.sizeof(ctypes.c_ssize_t)).value


def str_cache_matches():
    s = "".join(["layout ", "probe ", str(id(object()))])  # a new, never hashed str
    before = cached_str_hash(s)
    return before == -1 and cached_str_hash(s) == -1 and hash(s) == cached_str_hash(s)


if __name__ == "__main__":
    gil = getattr(sys, "_is_gil_enabled", lambda: True)()
    print(f"{sys.version.split()[0]}{'' if gil else ' (GIL off)'}: "
          f"int shortcut {'on' if int_layout_matches() else 'off'}, "
          f"str hash cache {'read' if str_cache_matches() else 'not read'}")

"""The leak check itself must notice leaks, or every test that relies on it proves nothing."""

import pytest

from leakcheck import check_leaks


def test_detects_growing_memory():
    hoard = []
    with pytest.raises(AssertionError, match="grew in every round"):
        check_leaks(lambda: hoard.append(object()), repeat=2000)


def test_detects_reference_leak_on_watched_object():
    target = object()
    hoard = []
    with pytest.raises(AssertionError):
        check_leaks(lambda: hoard.append(target), watch=[target], repeat=100)


def test_quiet_operation_passes():
    data = [1, 2, 3]
    check_leaks(lambda: sum(data), watch=[data], repeat=500)

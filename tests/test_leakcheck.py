"""The leak check itself must notice leaks, or every test that relies on it proves nothing."""

import sys

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


@pytest.mark.skipif(not hasattr(__import__("sys"), "gettotalrefcount"),
                    reason="needs a debug interpreter")
def test_refleak_mode_flags_a_module_that_keeps_a_reference(tmp_path):
    import os
    import shutil
    import subprocess
    import sys

    here = os.path.dirname(os.path.abspath(__file__))
    for name in ("conftest.py", "refleak.py", "leakcheck.py"):
        shutil.copy(os.path.join(here, name), tmp_path)
    (tmp_path / "test_keeps.py").write_text(
        "import ctypes\nheld = object()\n"
        "def test_keeps():\n    ctypes.pythonapi.Py_IncRef(ctypes.py_object(held))\n")
    (tmp_path / "test_quiet.py").write_text("def test_quiet():\n    assert [1] * 2 == [1, 1]\n")
    proc = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                           "--refleak=0:2", str(tmp_path)], capture_output=True, text=True,
                          timeout=120, cwd=tmp_path, env=dict(os.environ, HYPOTHESIS_PROFILE="refleak"))
    assert proc.returncode == 1, proc.stdout
    assert "REFLEAK test_keeps.py" in proc.stdout
    assert "test_quiet.py" not in proc.stdout.split("REFLEAK", 1)[1]


@pytest.mark.parametrize("burst_rounds", [1, 3])
def test_growth_that_stops_passes_after_more_rounds(burst_rounds):
    # Memory that grows for a few rounds and then stays flat (a cache or free list filling
    # up on a loaded machine) is not a leak; one that never stops is (the test above).
    hoard = []
    calls = iter(range(10**9))
    # A debug interpreter's reference totals are sampled every 200 calls, whatever `repeat`.
    per_round = 200 if hasattr(sys, "gettotalrefcount") else 500
    stop = 100 + per_round * burst_rounds

    def op():
        if next(calls) < stop:
            hoard.append(object())

    check_leaks(op, repeat=2 * per_round)


def test_watched_small_ints_keep_their_counts():
    # Shared objects on interpreters without immortal ones: nothing the check itself keeps
    # may hold one of them once it is done.
    data = list(range(5))
    check_leaks(lambda: sum(data), watch=data, repeat=500)

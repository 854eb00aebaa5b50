"""The stubs follow an Iter chain: mypy --strict accepts a typed use and infers the element
types along it, and stubtest finds the Iter stub consistent with the runtime class."""

import os
import subprocess
import sys

import pytest

pytest.importorskip("mypy")

HERE = os.path.dirname(os.path.abspath(__file__))


def run(args, tv):
    # The directory holding the package under test, so that its own stub is the one read.
    site = os.path.dirname(os.path.dirname(tv.__file__))
    env = dict(os.environ, MYPYPATH=site, PYTHONPATH=site)
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True,
                          env=env, cwd=os.path.join(HERE, "typing"), timeout=300)


def test_strict_mypy_follows_the_chain(tv):
    r = run(["mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull,
             "iter_chain.py"], tv)
    assert r.returncode == 0, r.stdout + r.stderr
    revealed = [line.split("Revealed type is ")[1] for line in r.stdout.splitlines()
                if "Revealed type is" in line]
    assert revealed == [
        '"tarvel._tarvel.Iter[builtins.str]"',
        '"tarvel._tarvel.Iter[tuple[builtins.int, ...]]"',
        '"builtins.dict[builtins.int, builtins.list[builtins.str]]"',
        '"tarvel._tarvel.Some[builtins.str] | tarvel._tarvel.NothingType"',
    ] or revealed == [
        '"tarvel._tarvel.Iter[str]"',
        '"tarvel._tarvel.Iter[tuple[int, ...]]"',
        '"dict[int, list[str]]"',
        '"tarvel._tarvel.Some[str] | tarvel._tarvel.NothingType"',
    ]


def test_stub_matches_runtime_class(tv):
    r = run(["mypy.stubtest", "tarvel._tarvel", "--ignore-missing-stub"], tv)
    out = r.stdout + r.stderr
    assert "failed to import" not in out and "not found" not in out, out
    problems = [line for line in out.splitlines() if line.startswith("error: tarvel._tarvel.Iter")]
    assert problems == []

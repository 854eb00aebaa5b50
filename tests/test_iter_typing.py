"""The stubs follow an Iter chain (mypy --strict) and match the runtime class (stubtest)."""

import os
import subprocess
import sys

import pytest

pytest.importorskip("mypy")


def run(tv, *args):
    site = os.path.dirname(os.path.dirname(tv.__file__))  # the package under test, its stub
    env = dict(os.environ, PYTHONPATH=site)
    if os.path.basename(site) != "site-packages":  # an installed package is found as such
        env["MYPYPATH"] = site
    return subprocess.run(
        [sys.executable, "-m", *args], capture_output=True, text=True, timeout=300, env=env,
        cwd=os.path.join(os.path.dirname(os.path.abspath(__file__)), "typing"))


def test_stub_follows_the_chain_and_matches_runtime(tv):
    r = run(tv, "mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull,
            "iter_chain.py")
    assert r.returncode == 0, r.stdout + r.stderr
    revealed = [line.split("Revealed type is ")[1].replace("builtins.", "")
                for line in r.stdout.splitlines() if "Revealed type is" in line]
    assert revealed == ['"tarvel._tarvel.Iter[str]"', '"tarvel._tarvel.Iter[tuple[int, ...]]"',
                        '"dict[int, list[str]]"',
                        '"tarvel._tarvel.Some[str] | tarvel._tarvel.NothingType"']
    out = run(tv, "mypy.stubtest", "tarvel._tarvel", "--ignore-missing-stub").stdout
    assert "failed to import" not in out
    assert [ln for ln in out.splitlines() if ln.startswith("error: tarvel._tarvel.Iter")] == []

"""dev/test.sh's stage runner: every stage announced and timed, a table of all of them, and
a status that fails when one stage did."""

import os
import re
import shutil
import subprocess

import pytest

STAGES = os.path.join(os.path.dirname(__file__), "..", "dev", "stages.sh")
pytestmark = pytest.mark.skipif(not os.path.exists(STAGES) or not shutil.which("bash"),
                                reason="dev/ not shipped, or no bash")


def _run(script):
    r = subprocess.run(["bash", "-c", f'set -uo pipefail; . "{STAGES}"; {script}'],
                       capture_output=True, text=True, timeout=60)
    return r.returncode, r.stdout, r.stderr


def _table(out):
    rows = {}
    for line in out.splitlines():
        m = re.match(r"^(\S+)\s{2,}(.+?)\s{2,}(\S+)$", line)
        if m and m.group(1) not in ("stage", "-----------------"):
            rows[m.group(1)] = (m.group(2), m.group(3))
    return rows


# (stages as NAME=COMMAND, or NAME!REASON for a stage that cannot run; expected status)
@pytest.mark.parametrize("stages, status", [
    (["py3.13=true"], 0),
    (["py3.12=true", "py3.13=true", "docs=true"], 0),
    (["py3.13=true", "typecheck=false", "docs=true"], 1),
    (["py3.13=(exit 3)"], 1),
    (["py3.13=true", "py3.13-asan!no CPython 3.13"], 1),
])
def test_stage_table_and_status(stages, status):
    lines, expect = [], {}
    for s in stages:
        if "!" in s:
            name, reason = s.split("!")
            lines.append(f'missing {name} "{reason}"')
            expect[name] = (f"MISSING: {reason}", "-")
        else:
            name, cmd = s.split("=", 1)
            lines.append(f"stage {name} bash -c '{cmd}'")
            expect[name] = ("passed" if cmd == "true" else
                            f"FAILED (exit {3 if 'exit 3' in cmd else 1})", None)
    rc, out, err = _run("; ".join(lines) + "; summary")
    assert rc == status
    table = _table(out)
    assert list(table) == list(expect)           # every stage, in the order it ran
    for name, (result, took) in expect.items():
        assert table[name][0] == result
        # SECONDS ticks whole seconds: a stage of a few milliseconds may show 1 s
        assert re.fullmatch(took or r"0m0[0-2]s", table[name][1])
        if took is None:                          # a stage that ran is announced and timed
            assert f"=== stage {name}: bash -c" in out
            assert re.search(rf"=== stage {re.escape(name)} \S+.* in 0m0[0-2]s", out)
    names = ", ".join(expect)
    if status == 0:
        assert out.rstrip().endswith(f"all stages passed: {names}")
        assert "  " not in out.rstrip().splitlines()[-1]
    else:
        bad = [n for n, (r, _) in expect.items() if r != "passed"]
        assert f"FAILED stages: {', '.join(bad)}" in err


def test_a_failing_stage_does_not_stop_the_next():
    rc, out, _ = _run("stage a false; stage b touch /dev/null; summary")
    assert rc == 1
    assert {k: v[0] for k, v in _table(out).items()} == {"a": "FAILED (exit 1)", "b": "passed"}

"""The benchmark's report: table width, exit status, JSON figures and the chart."""

import importlib.util
import json
import math
import os
import xml.etree.ElementTree as ET

import pytest

BENCH = os.path.join(os.path.dirname(__file__), "..", "bench")
pytestmark = pytest.mark.skipif(not os.path.isdir(BENCH), reason="bench/ not shipped")


def _load(name):
    spec = importlib.util.spec_from_file_location(f"tarvel_bench_{name}",
                                                  os.path.join(BENCH, f"{name}.py"))
    mod = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(mod)
    return mod


@pytest.fixture(scope="module")
def bench():
    if not os.path.isdir(BENCH):
        pytest.skip("bench/ not shipped")
    return _load("run"), _load("chart"), _load("harness")


def _rows(harness):
    # The report is under test, not the clock: measure() is replaced by the row's own
    # (tarvel seconds, baseline seconds).
    def broken():
        raise RuntimeError("baseline gone")

    Row = harness.Row
    return [
        Row("fast <tool> & friends", "sorted(list)", lambda: (1e-6, 3e-6), 1.0),
        Row("x" * 90, "y" * 90, lambda: (2e-3, 1e-3), 1.5, note="word " * 60,
            extra=lambda: "first extra line\n   second, " + "z" * 150),
        Row("broken row", "nothing", broken, 1.0),
        Row("just below", "b", lambda: (1.0, 0.8295), 0.83),
    ]


@pytest.mark.parametrize("picked, report_only, status, met, missed, failed", [
    ([0], False, 0, 1, 0, 0),
    ([0, 1], False, 1, 1, 1, 0),
    ([0, 1, 3], True, 0, 1, 2, 0),
    ([0, 2], True, 1, 1, 0, 1),   # a row that cannot run is never "report only"
])
def test_exit_status_json_and_width(bench, tmp_path, capsys, monkeypatch,
                                    picked, report_only, status, met, missed, failed):
    run, _, harness = bench
    rows = [_rows(harness)[i] for i in picked]
    monkeypatch.setattr(run, "all_rows", lambda: iter(rows))
    monkeypatch.setattr(run, "measure", lambda row, rounds: row.setup())
    out_json, out_svg = tmp_path / "r.json", tmp_path / "c.svg"
    argv = ["run.py", "--json", str(out_json), "--svg", str(out_svg)]
    assert run.main(argv + ["--report-only"] * report_only) == status
    text = capsys.readouterr().out
    assert max(len(line) for line in text.splitlines()) <= run.WIDTH
    assert run.LEGEND in text
    assert text.count("MISSED") == missed
    for line in text.splitlines():  # a near miss shows the digit that decides it
        if line.startswith("just below"):
            assert float(line.split()[-3]) < 0.83 and line.endswith("MISSED")

    results = json.loads(out_json.read_text())
    summary = results["summary"]
    assert (summary["rows"], summary["met"], len(summary["missed"]), len(summary["failed"])) \
        == (len(rows), met, missed, failed)
    for rec, row in zip(results["rows"], rows):
        assert rec["name"] == row.name and rec["target"] == row.target
        if "error" not in rec:
            t_tv, t_base = row.setup()
            assert rec["ratio"] == pytest.approx(t_base / t_tv)
            assert rec["met"] == (t_base / t_tv >= row.target)
            assert (rec["tarvel_s"], rec["baseline_s"]) == (t_tv, t_base)
    # the chart draws every measured row and escapes what it prints
    svg = ET.parse(out_svg).getroot()
    assert len(svg.findall(".//{http://www.w3.org/2000/svg}g")) == len(rows) - failed


def test_substring_selects_rows(bench, capsys, monkeypatch):
    run, _, harness = bench
    monkeypatch.setattr(run, "all_rows", lambda: iter(_rows(harness)))
    assert run.main(["run.py", "nothing matches this"]) == 2
    assert "no benchmark row matches" in capsys.readouterr().err


def _results(pairs):
    return {"title": "t <&>", "rows": [
        {"name": f"row {i} <'&'>", "baseline": "b", "ratio": r, "target": t, "met": r >= t}
        for i, (r, t) in enumerate(pairs)]}


@pytest.mark.parametrize("pairs", [
    [(0.97, 0.83), (2.8, 10.0)],
    [(0.05, 0.5), (150.0, 3.0), (1.0, 1.0)],
    [(1.0, 1.0)],
])
def test_chart_geometry(bench, pairs):
    _, chart, _ = bench
    root = ET.fromstring(chart.render(_results(pairs)))
    ns = "{http://www.w3.org/2000/svg}"
    groups = root.findall(f"{ns}g")
    assert len(groups) == len(pairs)
    ticks = {float(t.text) for t in root.findall(f"{ns}text") if t.text
             and t.text.replace(".", "", 1).isdigit() and t.get("text-anchor") == "middle"}
    assert 1.0 in ticks
    lo, hi = min(ticks), max(ticks)
    one_x = chart.LABEL_W - math.log10(lo) / (math.log10(hi) - math.log10(lo)) * chart.PLOT_W
    for g, (ratio, target) in zip(groups, pairs):
        assert lo <= min(ratio, target) and max(ratio, target) <= hi
        bar = g.find(f"{ns}rect")
        x, w = float(bar.get("x")), float(bar.get("width"))
        assert bar.get("fill") == (chart.MET if ratio >= target else chart.MISSED)
        # bars grow from parity: left of it when tarvel is slower, right when faster
        if ratio < 1:
            assert x + w == pytest.approx(one_x, abs=0.2)
        elif ratio > 1:
            assert x == pytest.approx(one_x, abs=0.2)
        assert "<'&'>" in g.find(f"{ns}title").text


def test_chart_refuses_empty(bench):
    _, chart, _ = bench
    with pytest.raises(ValueError):
        chart.render({"rows": [{"name": "broken", "error": "x", "met": False}]})

"""The benchmark's report: table width, exit status, JSON figures and the chart."""

import ast
import glob
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
        # reported only: far slower than its baseline, and still neither met nor missed
        Row("no target", "b", lambda: (1.0, 0.01), None),
    ]


# status without --check, status with it
@pytest.mark.parametrize("picked, status, checked, met, missed, failed", [
    ([0], 0, 0, 1, 0, 0),
    ([0, 1], 0, 1, 1, 1, 0),        # a miss is reported; only the gate fails on it
    ([0, 1, 3], 0, 1, 1, 2, 0),
    ([4], 0, 0, 0, 0, 0),           # a row without a target never counts
    ([0, 4, 3], 0, 1, 1, 1, 0),
    ([0, 2], 1, 1, 1, 0, 1),        # a row that cannot run fails either way
])
@pytest.mark.parametrize("check", [False, True])
def test_exit_status_json_and_width(bench, tmp_path, capsys, monkeypatch, check,
                                    picked, status, checked, met, missed, failed):
    run, _, harness = bench
    rows = [_rows(harness)[i] for i in picked]
    monkeypatch.setattr(run, "all_rows", lambda: iter(rows))
    monkeypatch.setattr(run, "measure", lambda row, rounds: row.setup())
    out_json, out_svg = tmp_path / "r.json", tmp_path / "c.svg"
    argv = ["run.py", "--json", str(out_json), "--svg", str(out_svg)]
    assert run.main(argv + ["--check"] * check) == (checked if check else status)
    capsys.readouterr()
    assert run.main(argv + ["--report-only"]) == status     # the old flag: now the default
    text = capsys.readouterr().out
    assert max(len(line) for line in text.splitlines()) <= run.WIDTH
    assert run.LEGEND in text
    assert text.count("MISSED") == missed
    for line in text.splitlines():  # a near miss shows the digit that decides it
        if line.startswith("just below"):
            assert float(line.split()[-3]) < 0.83 and line.endswith("MISSED")
        if line.startswith("no target"):
            assert line.split()[-1] == "-"

    results = json.loads(out_json.read_text())
    summary = results["summary"]
    assert (summary["rows"], summary["met"], len(summary["missed"]), len(summary["failed"])) \
        == (len(rows), met, missed, failed)
    for rec, row in zip(results["rows"], rows):
        assert rec["name"] == row.name and rec["target"] == row.target
        if "error" not in rec:
            t_tv, t_base = row.setup()
            assert rec["ratio"] == pytest.approx(t_base / t_tv)
            assert rec["met"] == (None if row.target is None else t_base / t_tv >= row.target)
            assert (rec["tarvel_s"], rec["baseline_s"]) == (t_tv, t_base)
    # the chart draws every measured row and escapes what it prints
    svg = ET.parse(out_svg).getroot()
    assert len(svg.findall(".//{http://www.w3.org/2000/svg}g")) == len(rows) - failed


def test_shared_row_name_is_refused(bench, capsys, monkeypatch):
    run, _, harness = bench
    rows = _rows(harness)
    rows.append(harness.Row(rows[0].name, "another baseline", rows[0].setup, 1.0))
    monkeypatch.setattr(run, "all_rows", lambda: iter(rows))
    monkeypatch.setattr(run, "measure", lambda row, rounds: row.setup())
    assert run.main(["run.py", "no target"]) == 2   # even when the filter leaves one of them
    assert rows[0].name in capsys.readouterr().err


def _row_names_in_source():
    # Every Row(...) in the row tables, including those built only when an optional baseline
    # is installed: the first argument is the name, written as a literal.
    names = []
    for path in sorted(glob.glob(os.path.join(BENCH, "rows_*.py"))):
        for node in ast.walk(ast.parse(open(path, encoding="utf-8").read())):
            if isinstance(node, ast.Call) and getattr(node.func, "id", None) == "Row":
                first = node.args[0]
                assert isinstance(first, ast.Constant), f"{path}:{node.lineno}"
                names.append(first.value)
    return names


def test_row_names_unique_and_whole(bench):
    run, _, _ = bench
    names = _row_names_in_source()
    assert len(names) > 50
    assert sorted(n for n in set(names) if names.count(n) > 1) == []
    # the table clips to its label column and the chart draws names whole: nothing is cut
    assert max(map(len, names)) <= run.LABEL_W
    assert not [n for n in names if n != n.strip() or "\u2026" in n or n.endswith("...")]


def test_substring_selects_rows(bench, capsys, monkeypatch):
    run, _, harness = bench
    monkeypatch.setattr(run, "all_rows", lambda: iter(_rows(harness)))
    assert run.main(["run.py", "nothing matches this"]) == 2
    assert "no benchmark row matches" in capsys.readouterr().err


def _results(pairs):
    return {"title": "t <&>", "rows": [
        {"name": f"row {i} <'&'>" + " long name" * (i % 3) * 4, "baseline": "b" * (1 + 30 * i),
         "ratio": r, "target": t, "met": None if t is None else r >= t}
        for i, (r, t) in enumerate(pairs)]}


@pytest.mark.parametrize("pairs", [
    [(0.97, 0.83), (2.8, 10.0)],
    [(0.05, 0.5), (150.0, 3.0), (1.0, 1.0)],
    [(1.0, 1.0)],
    [(0.3, None), (4.0, 1.5), (80.0, None)],
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
    label_w, right_w = chart.layout(_results(pairs)["rows"])
    assert float(root.get("width")) == label_w + chart.PLOT_W + right_w
    one_x = label_w - math.log10(lo) / (math.log10(hi) - math.log10(lo)) * chart.PLOT_W
    for g, (ratio, target), rec in zip(groups, pairs, _results(pairs)["rows"]):
        assert lo <= min(ratio, target or ratio) and max(ratio, target or ratio) <= hi
        texts = [t.text for t in g.findall(f"{ns}text")]
        assert rec["name"] in texts and "vs " + rec["baseline"] in texts   # whole, not cut
        # the name fits left of the plot, the baseline right of it (glyph-width bound)
        assert len(rec["name"]) * chart.CHAR_W < label_w - 8
        name_x = [float(t.get("x")) for t in g.findall(f"{ns}text")][-1]
        width = float(root.get("width"))
        assert name_x + len("vs " + rec["baseline"]) * chart.SMALL_CHAR_W <= width
        # a target is a tick; a row without one has none (not a tick at the axis edge)
        ticks_drawn = g.findall(f"{ns}line")
        assert len(ticks_drawn) == (target is not None)
        bar = g.find(f"{ns}rect")
        x, w = float(bar.get("x")), float(bar.get("width"))
        assert bar.get("fill") == (chart.UNTARGETED if target is None
                                   else chart.MET if ratio >= target else chart.MISSED)
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


def _scaling(n_series, sizes=(10**3, 10**4, 10**5)):
    series = []
    for i in range(n_series):
        series.append({"tool": ["frequencies", "unique", "groupby"][i % 3], "baseline": "b<&>",
                       "input": ["list", "int64"][i // 3 % 2], "distinct": ["1000", "all"][i // 6],
                       "tarvel_ns": [10.0 * (i + 1) * (k + 1) for k in range(len(sizes))],
                       "baseline_ns": [30.0 + i - k for k in range(len(sizes))]})
    return {"sizes": list(sizes), "series": series}


@pytest.mark.parametrize("n_series", [1, 3, 12])
def test_scaling_chart_geometry(bench, n_series):
    _, chart, _ = bench
    figures = _scaling(n_series)
    root = ET.fromstring(chart.render_scaling(figures))
    ns = "{http://www.w3.org/2000/svg}"
    lines = root.findall(f"{ns}polyline")
    assert len(lines) == 2 * n_series
    frames = [r for r in root.findall(f"{ns}rect") if r.get("fill") == "none"]
    assert len(frames) == n_series
    for frame, (base, ours), rec in zip(frames, zip(lines[::2], lines[1::2]),
                                        figures["series"]):
        x0, y0 = float(frame.get("x")), float(frame.get("y"))
        x1, y1 = x0 + float(frame.get("width")), y0 + float(frame.get("height"))
        for line, values in ((base, rec["baseline_ns"]), (ours, rec["tarvel_ns"])):
            pts = [tuple(map(float, p.split(","))) for p in line.get("points").split()]
            assert all(x0 <= x <= x1 and y0 <= y <= y1 for x, y in pts)
            assert [x for x, _ in pts] == sorted(x for x, _ in pts)
            # a larger cost is drawn higher up, on one scale for both lines of a panel
            order = sorted(range(len(values)), key=values.__getitem__)
            assert [pts[i][1] for i in order] == sorted((y for _, y in pts), reverse=True)
    with pytest.raises(ValueError):
        chart.render_scaling({"sizes": [10], "series": []})


def test_scaling_only_writes_figures_and_chart(bench, tmp_path, capsys, monkeypatch):
    import sys
    import types

    run, _, _ = bench
    fake = types.ModuleType("scaling")
    fake.EXPONENTS = (3, 4, 5, 6, 7)
    fake.format_header = lambda sizes: f"header {sizes}"
    asked = []

    def measure(exponents, say):
        asked.append(list(exponents))
        say("one series")
        return _scaling(3, [10**e for e in exponents])

    fake.measure = measure
    monkeypatch.setitem(sys.modules, "scaling", fake)
    out_json, out_svg = tmp_path / "r.json", tmp_path / "c.svg"
    argv = ["run.py", "--scaling-only", "--scaling-max", "5", "--json", str(out_json),
            "--svg", str(out_svg)]
    assert run.main(argv) == 0
    assert asked == [[3, 4, 5]]
    assert json.loads(out_json.read_text())["scaling"]["sizes"] == [10**3, 10**4, 10**5]
    assert not out_svg.exists()
    ET.parse(tmp_path / "c-scaling.svg")
    assert "one series" in capsys.readouterr().out

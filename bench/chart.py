"""The benchmark chart: one horizontal bar per row, its ratio on a logarithmic axis, with the
row's target marked on it. Plain SVG written by hand, so the chart needs no plotting library.

Run as a program to redraw a chart from saved figures:
    python bench/chart.py build/bench/results.json docs/bench.svg"""

import json
import math
import sys
from xml.sax.saxutils import escape

MET = "#2e7d32"
MISSED = "#c62828"
UNTARGETED = "#546e7a"
TARGET = "#111111"
GRID = "#d0d0d0"

ROW_H = 22
BAR_H = 14
PLOT_W = 520
# Labels are never cut, so the side columns are as wide as their longest text. The text is
# not measured (no font metrics here): these are upper bounds of DejaVu Sans' average glyph
# width at 12 and 11 px for the characters row names use.
CHAR_W = 7.4
SMALL_CHAR_W = 6.8
MIN_LABEL_W = 200
RATIO_W = 58
TOP = 76
BOTTOM = 46
FONT = "font-family='DejaVu Sans, Arial, sans-serif'"


def _ticks(lo, hi):
    """1-2-5 steps covering [lo, hi], all powers of ten times 1, 2 or 5."""
    out = []
    exp = math.floor(math.log10(lo))
    while True:
        for m in (1, 2, 5):
            v = m * 10.0 ** exp
            if v > hi * 1.0001:
                return out
            if v >= lo * 0.9999:
                out.append(v)
        exp += 1


def _fmt_tick(v):
    return f"{v:g}"


def _axis_range(rows):
    values = [v for r in rows for v in (r["ratio"], r["target"]) if v is not None and v > 0]
    lo = min(min(values) / 1.2, 0.5)
    hi = max(max(values) * 1.2, 2.0)
    # Snap both ends onto the 1-2-5 ladder so the outer gridlines are labelled.
    ladder = _ticks(10.0 ** math.floor(math.log10(lo)), 10.0 ** math.ceil(math.log10(hi)))
    return max(v for v in ladder if v <= lo), min(v for v in ladder if v >= hi)


def layout(rows):
    """(label column width, right-hand column width) that hold every name and baseline whole."""
    label_w = max(MIN_LABEL_W, 16 + CHAR_W * max(len(r["name"]) for r in rows))
    right_w = RATIO_W + 12 + SMALL_CHAR_W * max(len("vs " + r["baseline"]) for r in rows)
    return math.ceil(label_w), math.ceil(right_w)


def _colour(r):
    return UNTARGETED if r.get("target") is None else MET if r["met"] else MISSED


def render(results):
    """SVG text for a results dictionary as written by run.py."""
    rows = [r for r in results["rows"] if r.get("ratio")]
    if not rows:
        raise ValueError("no measured rows to draw")
    label_w, right_w = layout(rows)
    lo, hi = _axis_range(rows)
    llo, lhi = math.log10(lo), math.log10(hi)

    def x(v):
        v = min(max(v, lo), hi)
        return label_w + (math.log10(v) - llo) / (lhi - llo) * PLOT_W

    width = label_w + PLOT_W + right_w
    height = TOP + ROW_H * len(rows) + BOTTOM
    plot_bottom = TOP + ROW_H * len(rows)
    met = sum(1 for r in rows if r.get("target") is not None and r["met"])
    targeted = sum(1 for r in rows if r.get("target") is not None)
    out = [
        f"<svg xmlns='http://www.w3.org/2000/svg' width='{width}' height='{height}' "
        f"viewBox='0 0 {width} {height}' {FONT} font-size='12'>",
        f"<rect width='{width}' height='{height}' fill='white'/>",
        f"<text x='10' y='20' font-size='15' font-weight='bold'>"
        f"{escape(results.get('title', 'tarvel benchmark'))}</text>",
        f"<text x='10' y='38' fill='#444'>ratio = baseline time / tarvel time, on a log "
        f"scale: a bar right of 1 means tarvel is faster than the baseline.</text>",
        f"<text x='10' y='54' fill='#444'>Black tick: the row's target. "
        f"<tspan fill='{MET}'>Green: target met</tspan>, <tspan fill='{MISSED}'>red: "
        f"missed</tspan>, <tspan fill='{UNTARGETED}'>grey: no target (reported only)"
        f"</tspan>. {met} of {targeted} rows with a target meet it.</text>",
    ]
    for t in _ticks(lo, hi):
        gx = x(t)
        stroke = "#888" if t == 1 else GRID
        out.append(f"<line x1='{gx:.1f}' y1='{TOP - 4}' x2='{gx:.1f}' y2='{plot_bottom}' "
                   f"stroke='{stroke}' stroke-width='1'/>")
        out.append(f"<text x='{gx:.1f}' y='{plot_bottom + 16}' text-anchor='middle' "
                   f"fill='#444'>{_fmt_tick(t)}</text>")
    out.append(f"<text x='{label_w + PLOT_W / 2:.0f}' y='{plot_bottom + 36}' "
               f"text-anchor='middle' fill='#444'>ratio (baseline time / tarvel time)</text>")
    one_x = x(1.0)
    for i, r in enumerate(rows):
        top = TOP + i * ROW_H
        mid = top + ROW_H / 2
        colour = _colour(r)
        target = r.get("target")
        tip = (f"{r['name']} vs {r['baseline']}: ratio {r['ratio']:.2f}, "
               + ("no target" if target is None else f"target {target:.2f}"))
        out.append(f"<g><title>{escape(tip)}</title>")
        out.append(f"<text x='{label_w - 8}' y='{mid + 4:.1f}' text-anchor='end'>"
                   f"{escape(r['name'])}</text>")
        # Bars grow from parity, so slower rows point left and faster ones right.
        bar_end = x(r["ratio"])
        left, right = min(one_x, bar_end), max(one_x, bar_end)
        out.append(f"<rect x='{left:.1f}' y='{mid - BAR_H / 2:.1f}' "
                   f"width='{max(right - left, 1):.1f}' height='{BAR_H}' "
                   f"fill='{colour}' fill-opacity='0.8'/>")
        if target is not None:
            tx = x(target)
            out.append(f"<line x1='{tx:.1f}' y1='{mid - BAR_H / 2 - 3:.1f}' x2='{tx:.1f}' "
                       f"y2='{mid + BAR_H / 2 + 3:.1f}' stroke='{TARGET}' stroke-width='2.5'/>")
        out.append(f"<text x='{label_w + PLOT_W + 6}' y='{mid + 4:.1f}' fill='{colour}'>"
                   f"{r['ratio']:.2f}</text>")
        out.append(f"<text x='{label_w + PLOT_W + RATIO_W}' y='{mid + 4:.1f}' fill='#666' "
                   f"font-size='11'>vs {escape(r['baseline'])}</text></g>")
    out.append("</svg>")
    return "\n".join(out) + "\n"


def write(results, path, draw=render):
    with open(path, "w", encoding="utf-8") as f:
        f.write(draw(results))


# The scaling chart: one panel per tool, input and distinct count; ns per element against
# the input length, both on log scales, tarvel and its baseline as two lines.
PANEL_W, PANEL_H = 250, 150
PANEL_GAP_X, PANEL_GAP_Y = 60, 58
PANEL_LEFT, PANEL_TOP = 56, 84
TARVEL_LINE = "#1565c0"
BASELINE_LINE = "#8d6e63"


def render_scaling(scaling, title="tarvel: cost per element against input length"):
    """SVG text for the "scaling" part of a results dictionary."""
    sizes, series = scaling["sizes"], scaling["series"]
    if not series or len(sizes) < 2:
        raise ValueError("no scaling figures to draw")
    tools = list(dict.fromkeys(r["tool"] for r in series))
    panels = list(dict.fromkeys((r["input"], r["distinct"]) for r in series))
    width = PANEL_LEFT + len(tools) * (PANEL_W + PANEL_GAP_X)
    height = PANEL_TOP + len(panels) * (PANEL_H + PANEL_GAP_Y) + 10
    lx_lo, lx_hi = math.log10(sizes[0]), math.log10(sizes[-1])
    out = [
        f"<svg xmlns='http://www.w3.org/2000/svg' width='{width}' height='{height}' "
        f"viewBox='0 0 {width} {height}' {FONT} font-size='11'>",
        f"<rect width='{width}' height='{height}' fill='white'/>",
        f"<text x='10' y='20' font-size='15' font-weight='bold'>{escape(title)}</text>",
        f"<text x='10' y='38' fill='#444' font-size='12'>ns per element (log scale) against "
        f"the number of elements. <tspan fill='{TARVEL_LINE}'>Blue: tarvel</tspan>, "
        f"<tspan fill='{BASELINE_LINE}'>brown: the baseline</tspan> named in the panel.</text>",
    ]
    for r in series:
        col, row = tools.index(r["tool"]), panels.index((r["input"], r["distinct"]))
        left = PANEL_LEFT + col * (PANEL_W + PANEL_GAP_X)
        top = PANEL_TOP + row * (PANEL_H + PANEL_GAP_Y)
        values = [v for v in r["tarvel_ns"] + r["baseline_ns"] if v > 0]
        lo, hi = min(values) / 1.2, max(values) * 1.2
        ly_lo, ly_hi = math.log10(lo), math.log10(hi)

        def px(n):
            return left + (math.log10(n) - lx_lo) / (lx_hi - lx_lo) * PANEL_W

        def py(v):
            return top + PANEL_H - (math.log10(max(v, lo)) - ly_lo) / (ly_hi - ly_lo) * PANEL_H

        distinct = "1e3 distinct" if r["distinct"] != "all" else "all distinct"
        out.append(f"<text x='{left}' y='{top - 8}' font-weight='bold'>"
                   f"{escape(r['tool'])} vs {escape(r['baseline'])}: {escape(r['input'])}, "
                   f"{distinct}</text>")
        out.append(f"<rect x='{left}' y='{top}' width='{PANEL_W}' height='{PANEL_H}' "
                   f"fill='none' stroke='{GRID}'/>")
        for t in _ticks(lo, hi):
            if lo <= t <= hi:
                out.append(f"<line x1='{left}' y1='{py(t):.1f}' x2='{left + PANEL_W}' "
                           f"y2='{py(t):.1f}' stroke='{GRID}'/>")
                out.append(f"<text x='{left - 4}' y='{py(t) + 4:.1f}' text-anchor='end' "
                           f"fill='#444'>{_fmt_tick(t)}</text>")
        for n in sizes:
            out.append(f"<text x='{px(n):.1f}' y='{top + PANEL_H + 14}' text-anchor='middle' "
                       f"fill='#444'>1e{round(math.log10(n))}</text>")
        for key, colour in (("baseline_ns", BASELINE_LINE), ("tarvel_ns", TARVEL_LINE)):
            pts = " ".join(f"{px(n):.1f},{py(v):.1f}" for n, v in zip(sizes, r[key]))
            out.append(f"<polyline points='{pts}' fill='none' stroke='{colour}' "
                       f"stroke-width='2'/>")
            for n, v in zip(sizes, r[key]):
                out.append(f"<circle cx='{px(n):.1f}' cy='{py(v):.1f}' r='2.5' "
                           f"fill='{colour}'><title>{v:.1f} ns at {n}</title></circle>")
    out.append("</svg>")
    return "\n".join(out) + "\n"


def write_scaling(scaling, path):
    write(scaling, path, render_scaling)


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        write(json.load(f), argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

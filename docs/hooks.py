"""MkDocs hook: the performance section of the guide.

`<!-- bench-table -->` becomes a table of the benchmark rows: measured ratios from
docs/bench.json when it exists (written by `dev/bench.sh --json docs/bench.json`), otherwise
each row's baseline and target. `<!-- bench-chart -->` becomes the chart docs/bench.svg when it
exists and is left out otherwise, so the build never depends on a benchmark run.
The colours of the highlighted code (css/pygments.css) are written from Pygments' own
style when the site is built, so they always match the token classes it emitted.
"""

import importlib
import json
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def _rows_from_json(path):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    lines = [f"Measured: {data.get('title', '')}", "",
             "| tool | baseline | ratio | target |", "|---|---|---:|---:|"]
    for r in data["rows"]:
        ratio = f"{r['ratio']:.2f}" if "ratio" in r else "failed"
        lines.append(_row(r["name"], r["baseline"], ratio, _target(r["target"])))
    return lines


def _rows_from_bench():
    # The rows import their baselines (NumPy and peer libraries); without them there is no
    # table, only the pointer to the command that measures.
    sys.path.insert(0, os.path.join(ROOT, "bench"))
    try:
        run = importlib.import_module("run")
        rows = list(run.all_rows())
    except ImportError as e:
        return [f"No figures in this build ({e}): `bash dev/bench.sh --json docs/bench.json`"
                " measures them."]
    finally:
        sys.path.pop(0)
    lines = ["No measured figures in this build (run `bash dev/bench.sh --json docs/bench.json`"
             " to add them); the rows and their targets:", "",
             "| tool | baseline | target |", "|---|---|---:|"]
    for r in rows:
        lines.append(_row(r.name, r.baseline, _target(r.target)))
    return lines


def _target(target):
    return "-" if target is None else f"{target:.2f}"


def _row(name, baseline, *figures):
    code = ["`" + c.replace("|", "\\|") + "`" for c in (name, baseline)]
    return "| " + " | ".join(code + list(figures)) + " |"


def on_page_markdown(markdown, page, config, files):
    docs = config["docs_dir"]
    if "<!-- bench-table -->" in markdown:
        path = os.path.join(docs, "bench.json")
        lines = _rows_from_json(path) if os.path.exists(path) else _rows_from_bench()
        markdown = markdown.replace("<!-- bench-table -->", "\n".join(lines))
    if "<!-- bench-chart -->" in markdown:
        chart = "![Ratio of each row against its target](bench.svg)" \
            if os.path.exists(os.path.join(docs, "bench.svg")) else ""
        markdown = markdown.replace("<!-- bench-chart -->", chart)
    return markdown


def on_post_build(config):
    from pygments.formatters import HtmlFormatter

    css = os.path.join(config["site_dir"], "css", "pygments.css")
    os.makedirs(os.path.dirname(css), exist_ok=True)
    with open(css, "w", encoding="utf-8") as f:
        f.write(HtmlFormatter(style="friendly").get_style_defs(".highlight") + "\n")

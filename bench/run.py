"""The benchmark table: tarvel against the best standard-library / NumPy / peer
alternative for each tool.

    python bench/run.py [substring ...] [--json PATH] [--svg PATH] [--check]
                        [--scaling | --scaling-only] [--scaling-max EXP]

Only rows whose name contains one of the substrings run (all rows without any). The exit
status is 0 when every row ran, 1 when one failed; with --check a row that missed its
target exits 1 too. Rows without a target are reported and never count either way.

--scaling adds the section on how cost grows with the input (a few minutes: inputs up to
1e7 elements; --scaling-max 6 stops at 1e6); --scaling-only runs that section alone. Its
figures go to the JSON file under "scaling" and its chart beside the other one, named
NAME-scaling.svg."""

import argparse
import datetime
import importlib
import json
import os
import pkgutil
import platform
import sys
import textwrap
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import chart  # noqa: E402
from harness import fmt_time, measure  # noqa: E402

WIDTH = 100
LABEL_W = 60
ROUNDS = 7
LEGEND = ("ratio = baseline time / tarvel time (above 1: tarvel faster)\n"
          "target = the ratio the row must reach; -: none, the row is reported and never counts")


def all_rows():
    here = os.path.dirname(os.path.abspath(__file__))
    for info in sorted(pkgutil.iter_modules([here]), key=lambda m: m.name):
        if info.name.startswith("rows_"):
            yield from importlib.import_module(info.name).rows()


def duplicate_names(rows):
    """Names given to more than one row: the JSON figures, the chart and the row filters
    all identify a row by its name."""
    seen, dups = set(), []
    for r in rows:
        if r.name in seen and r.name not in dups:
            dups.append(r.name)
        seen.add(r.name)
    return dups


def _clip(text, width):
    return text if len(text) <= width else text[:width - 3] + "..."


def _wrapped(text, indent):
    return textwrap.fill(text, WIDTH, initial_indent=indent, subsequent_indent=indent + "  ")


def _fmt_ratio(ratio, target):
    if target is None:
        return f"{ratio:.2f}"
    # A miss by less than the printed precision would read as "0.83 0.83 MISSED".
    for digits in range(2, 7):
        text = f"{ratio:.{digits}f}"
        if ratio >= target or float(text) < target:
            return text
    return text


def _environment():
    import tarvel

    return {
        "tarvel_version": getattr(tarvel, "__version__", "unknown"),
        "python": platform.python_version(),
        "implementation": platform.python_implementation(),
        "machine": platform.machine(),
        "system": platform.system(),
        "date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
        "rounds": ROUNDS,
    }


def run_rows(rows):
    """Measures and prints each row as it finishes; returns the records for the JSON file."""
    def say(line=""):
        print(line, flush=True)

    say(LEGEND)
    say()
    say(f"{'tarvel call, and below it the baseline it is compared with':<{LABEL_W}} "
        f"{'time':>10} {'ratio':>7} {'target':>7}")
    say("-" * (LABEL_W + 27))
    records = []
    for row in rows:
        rec = {"name": row.name, "baseline": row.baseline, "target": row.target,
               "note": row.note or None}
        try:
            t_tv, t_base = measure(row, rounds=ROUNDS)
            rec.update(tarvel_s=t_tv, baseline_s=t_base, ratio=t_base / t_tv)
            rec["met"] = None if row.target is None else rec["ratio"] >= row.target
            if row.extra:
                rec["extra"] = row.extra()
        except Exception as e:  # a broken row is reported, the others still run
            rec.update(error=f"{type(e).__name__}: {e}", met=None)
            say(f"{_clip(row.name, LABEL_W)}  FAILED")
            say(_wrapped(rec["error"], "      "))
            traceback.print_exc()
            records.append(rec)
            continue
        records.append(rec)
        status = "  MISSED" if rec["met"] is False else ""
        target = "-" if row.target is None else f"{row.target:.2f}"
        say(f"{_clip(row.name, LABEL_W):<{LABEL_W}} {fmt_time(t_tv):>10} "
            f"{_fmt_ratio(rec['ratio'], row.target):>7} {target:>7}{status}")
        say(f"{_clip('  vs ' + row.baseline, LABEL_W):<{LABEL_W}} {fmt_time(t_base):>10}")
        if row.note:
            say(_wrapped("note: " + row.note, "      "))
        for line in (rec.get("extra") or "").splitlines():
            if line.strip():
                say(_wrapped(line.strip(), "      "))
    return records


def summarise(records):
    measured = [r for r in records if "error" not in r]
    return {
        "rows": len(records),
        "met": sum(1 for r in measured if r["met"] is True),
        "missed": [r["name"] for r in measured if r["met"] is False],
        "untargeted": sum(1 for r in measured if r["met"] is None),
        "failed": [r["name"] for r in records if "error" in r],
    }


def run_scaling(max_exp):
    import scaling

    exponents = [e for e in scaling.EXPONENTS if e <= max(max_exp, 4)]
    sizes = [10**e for e in exponents]
    print("How cost grows: " + scaling.format_header(sizes), flush=True)
    return scaling.measure(exponents, say=lambda text: print(text, flush=True))


def scaling_path(svg):
    stem, ext = os.path.splitext(svg)
    return f"{stem}-scaling{ext or '.svg'}"


def write_scaling_chart(figures, svg):
    path = scaling_path(svg)
    chart.write_scaling(figures, path)
    print(f"chart:   {path}")


def scaling_main(args):
    env = _environment()
    print(f"tarvel {env['tarvel_version']} on {env['implementation']} {env['python']}",
          flush=True)
    figures = run_scaling(args.scaling_max)
    if args.json:
        os.makedirs(os.path.dirname(os.path.abspath(args.json)), exist_ok=True)
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(dict(env, scaling=figures), f, indent=1)
            f.write("\n")
        print(f"figures: {args.json}")
    if args.svg:
        os.makedirs(os.path.dirname(os.path.abspath(args.svg)), exist_ok=True)
        write_scaling_chart(figures, args.svg)
    return 0


def main(argv):
    ap = argparse.ArgumentParser(prog="bench/run.py", description=__doc__.split("\n\n")[0])
    ap.add_argument("substrings", nargs="*", help="run only rows whose name contains one")
    ap.add_argument("--json", metavar="PATH", help="also write the figures as JSON here")
    ap.add_argument("--svg", metavar="PATH", help="also draw the ratios as an SVG chart here")
    ap.add_argument("--check", action="store_true",
                    help="exit 1 when a row misses its target (a gate; off by default)")
    # Misses used to fail unless this was given; scripts that still pass it get what they
    # asked for, which is now the default.
    ap.add_argument("--report-only", action="store_true", help=argparse.SUPPRESS)
    ap.add_argument("--scaling", action="store_true",
                    help="also measure ns per element against input length")
    ap.add_argument("--scaling-only", action="store_true",
                    help="measure only ns per element against input length")
    ap.add_argument("--scaling-max", type=int, default=7, metavar="EXP",
                    help="largest input of the scaling section: 10**EXP elements (3-7)")
    args = ap.parse_args(argv[1:])
    if args.scaling_only:
        return scaling_main(args)

    every = list(all_rows())
    dups = duplicate_names(every)
    if dups:
        print(f"benchmark rows share a name: {'; '.join(dups)}", file=sys.stderr)
        return 2
    rows = [r for r in every
            if not args.substrings or any(w in r.name for w in args.substrings)]
    if not rows:
        print(f"no benchmark row matches {' '.join(args.substrings)}", file=sys.stderr)
        return 2
    env = _environment()
    print(f"tarvel {env['tarvel_version']} on {env['implementation']} {env['python']} "
          f"({env['system']} {env['machine']}): {len(rows)} rows, each the best of "
          f"{ROUNDS} interleaved rounds", flush=True)
    records = run_rows(rows)
    summary = summarise(records)

    print()
    print(f"{summary['rows']} rows: {summary['met']} met their target, "
          f"{len(summary['missed'])} missed, {summary['untargeted']} without a target, "
          f"{len(summary['failed'])} failed")
    for label in ("missed", "failed"):
        if summary[label]:
            print(_wrapped(f"{label}: " + "; ".join(summary[label]), "  "))

    results = dict(env, title=f"tarvel {env['tarvel_version']} against the baselines, "
                   f"{env['implementation']} {env['python']} {env['machine']}",
                   legend=LEGEND, summary=summary, rows=records)
    if args.scaling:
        print()
        results["scaling"] = run_scaling(args.scaling_max)
    if args.json:
        os.makedirs(os.path.dirname(os.path.abspath(args.json)), exist_ok=True)
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(results, f, indent=1)
            f.write("\n")
        print(f"figures: {args.json}")
    if args.svg:
        os.makedirs(os.path.dirname(os.path.abspath(args.svg)), exist_ok=True)
        chart.write(results, args.svg)
        print(f"chart:   {args.svg}")
        if "scaling" in results:
            write_scaling_chart(results["scaling"], args.svg)

    if summary["failed"]:
        print(f"exit status 1: {len(summary['failed'])} rows failed to run")
        return 1
    if summary["missed"] and args.check:
        print(f"exit status 1 (--check): {len(summary['missed'])} targets missed")
        return 1
    if summary["missed"]:
        # Timings on a shared machine move by 10-20 %: a miss is information, not a failure,
        # unless a gate asked for it.
        print(f"{len(summary['missed'])} targets missed; exit status 0 "
              f"(--check makes misses fail)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

"""The benchmark table: tarvel against the best standard-library / NumPy / peer
alternative for each tool. Run as a program: python bench/run.py [substring ...]"""

import importlib
import os
import pkgutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import fmt_time, measure  # noqa: E402


def all_rows():
    here = os.path.dirname(os.path.abspath(__file__))
    for info in sorted(pkgutil.iter_modules([here]), key=lambda m: m.name):
        if info.name.startswith("rows_"):
            yield from importlib.import_module(info.name).rows()


def main(argv):
    wanted = argv[1:]
    rows = [r for r in all_rows() if not wanted or any(w in r.name for w in wanted)]
    print(f"{'tarvel':<44} {'baseline':<52} {'tarvel':>10} {'baseline':>10} {'ratio':>7} "
          f"{'target':>7}")
    missed = 0
    for row in rows:
        t_tv, t_base = measure(row)
        ratio = t_base / t_tv
        ok = ratio >= row.target
        missed += not ok
        print(f"{row.name:<44} {row.baseline:<52} {fmt_time(t_tv):>10} {fmt_time(t_base):>10} "
              f"{ratio:7.2f} {row.target:>6.2f}{'' if ok else '  MISSED'}", flush=True)
        if row.note:
            print(f"    note: {row.note}", flush=True)
        if row.extra:
            print(f"    {row.extra()}", flush=True)
    print(f"\n{len(rows)} rows, {len(rows) - missed} at or above target, {missed} missed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env bash
# Type checks against the built package: the stub agrees with the native module (stubtest,
# with a short allowlist), and the typed example plus the negative checks pass mypy --strict
# and pyright. Usage: dev/typecheck.sh PYTHON, where PYTHON imports the built tarvel
# (PYTHONPATH is honoured). The checkers live in build/tools (installed on first use).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
py=${1:?usage: dev/typecheck.sh PYTHON}
tools="$root/build/tools"
if [ ! -x "$tools/bin/mypy" ] || [ ! -x "$tools/bin/pyright" ]; then
  echo "typecheck: installing mypy and pyright into $tools"
  [ -x "$tools/bin/python" ] || "$py" -m venv "$tools"
  "$tools/bin/python" -m pip install -q mypy "pyright[nodejs]"
fi
# The directory holding the tarvel package that PYTHON imports.
pkgroot=$("$py" -c 'import os, tarvel; print(os.path.dirname(os.path.dirname(os.path.abspath(tarvel.__file__))))')
typing_dir="$root/tests/typing"
cd "$root"
status=0

echo "typecheck: stubtest"
PYTHONPATH="$pkgroot${PYTHONPATH:+:$PYTHONPATH}" "$tools/bin/python" -m mypy.stubtest tarvel._tarvel \
    --allowlist "$typing_dir/stubtest-allowlist.txt" || status=1

echo "typecheck: mypy --strict"
# mypy refuses a site-packages directory on MYPYPATH: there it reads the interpreter's packages.
if [[ "$pkgroot" == */site-packages ]]; then
  where=(--python-executable "$("$py" -c 'import sys; print(sys.executable)')")
else
  where=()
  export MYPYPATH="$pkgroot"
fi
"$tools/bin/mypy" --strict --no-incremental --cache-dir /dev/null "${where[@]}" \
    "$typing_dir/example_typed.py" "$typing_dir/negative.py" || status=1

echo "typecheck: pyright"
cfg="$root/build/pyrightconfig.json"
"$tools/bin/python" - "$typing_dir/pyrightconfig.json" "$pkgroot" "$cfg" <<'PY'
import json, sys
src, pkgroot, dst = sys.argv[1:]
cfg = json.load(open(src))
cfg["extraPaths"] = [pkgroot]
json.dump(cfg, open(dst, "w"), indent=2)
PY
"$tools/bin/pyright" -p "$cfg" "$typing_dir/example_typed.py" "$typing_dir/negative.py" || status=1

[ $status -eq 0 ] && echo "typecheck: all passed" || echo "typecheck: FAILED" >&2
exit $status

#!/usr/bin/env bash
# Type checks against the built package: the stub agrees with the native module (stubtest,
# with a short allowlist), and the typed example plus the negative checks pass mypy --strict
# and pyright.
#   dev/typecheck.sh [PYTHON]
# PYTHON (default python3.13, else python3; a name that PATH cannot run is looked up among
# pyenv's versions) is the interpreter whose tarvel is checked: the one it imports
# (PYTHONPATH is honoured), else a dev build made now. The checkers go into build/tools-3.X.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/dev/lib.sh"
py=$(pick_python ${1:+"$1"})
pkgroot=$(tarvel_pkgroot "$py")
tools=$(tools_env "$py" 'import mypy, pyright' mypy "pyright[nodejs]")
typing_dir="$root/tests/typing"
cd "$root"
status=0

echo "typecheck: stubtest against $pkgroot"
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

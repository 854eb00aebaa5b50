#!/usr/bin/env bash
# The free-threaded proof runs: the whole suite on a free-threaded interpreter with the lock
# off, then again with every test run by 4 threads at once (pytest-run-parallel; the tests
# that must stay in one thread are listed in tests/conftest.py, and the plugin's report
# gives their count).
#   dev/ft-parallel.sh [PYTHON]     (default: the cached py3.13t)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
CACHE=${TARVEL_CACHE:-$HOME/.cache/tarvel}
py=${1:-$CACHE/py3.13t/bin/python3.13t}
label=$("$py" -c 'import sys; print("%d%dt" % sys.version_info[:2])')
venv=$root/build/venv-ft-$label
if [ ! -x "$venv/bin/python" ]; then
  "$py" -m venv "$venv"
  "$venv/bin/python" -m pip install -q --only-binary=:all: pytest hypothesis numpy pytest-run-parallel
fi
site=$(bash "$root/dev/build.sh" "$py" "$label" | tail -n1)
cd /tmp
export PYTHON_GIL=0 PYTHONPATH=$site
"$venv/bin/python" -m pytest "$root/tests" -q -p no:cacheprovider
"$venv/bin/python" -m pytest "$root/tests" -q -p no:cacheprovider --parallel-threads=4

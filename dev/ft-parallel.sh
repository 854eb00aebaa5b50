#!/usr/bin/env bash
# The free-threaded proof runs, as CI's py3.13t stages run them: the whole suite on a
# free-threaded interpreter with the lock off, then again with every test run by 4 threads at
# once (pytest-run-parallel; the tests that must stay in one thread are listed in
# tests/conftest.py and skipped in that second run, and the plugin's report gives the count).
#   dev/ft-parallel.sh [PYTHON]     (default: the cached py3.13t)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
CACHE=${TARVEL_CACHE:-$HOME/.cache/tarvel}
py=${1:-$CACHE/py3.13t/bin/python3.13t}
label=py$("$py" -c 'import sys; print("%d.%dt" % sys.version_info[:2])')
bash "$root/dev/suite-one.sh" "$py" "$label"
bash "$root/dev/suite-one.sh" "$py" "$label" --threads

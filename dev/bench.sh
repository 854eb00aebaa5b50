#!/usr/bin/env bash
# Builds tarvel (release) and prints the benchmark table against the baselines.
#   dev/bench.sh [row-name substring ...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
py=""
if command -v pyenv >/dev/null 2>&1; then
  for p in "$(pyenv root)"/versions/3.13*/bin/python; do [ -x "$p" ] && py=$p; done
fi
[ -n "$py" ] || py=$(command -v python3.13 || command -v python3)
venv="$root/build/bench/venv"
[ -x "$venv/bin/python" ] || "$py" -m venv "$venv"
export PIP_DISABLE_PIP_VERSION_CHECK=1
"$venv/bin/python" -m pip install -q numpy scikit-build-core ninja cmake
# Optional peers for some rows; a row whose baseline is missing is skipped.
"$venv/bin/python" -m pip install -q more-itertools returns expression || true
"$venv/bin/python" -m pip install -q --no-build-isolation --force-reinstall --no-deps \
    -Cbuild-dir="$root/build/bench/build" "$root"
# OpenBLAS core-type overrides slow NumPy down; the benchmark measures a normal NumPy.
cd "$root/build/bench"
env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "$venv/bin/python" "$root/bench/run.py" "$@"

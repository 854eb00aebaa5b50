#!/usr/bin/env bash
# Builds tarvel (release) and prints the benchmark table against the baselines; also writes
# the figures to build/bench/results.json and a chart of the ratios to build/bench/bench.svg.
#   dev/bench.sh [--python PY] [row-name substring ...] [--check] [--json PATH] [--svg PATH]
# --python picks the interpreter (default 3.13); each gets its own venv under build/bench/.
# For the chroot's interpreters: dev/in-chroot.sh bash dev/bench.sh --python python3.15
# Exit status: 0 when every row ran, 1 when one failed; --check also fails on a row that
# missed its target (rows without a target never count). To refresh the README's chart:
# bash dev/bench.sh --svg docs/bench.svg
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
here=$(pwd)
# Output paths given on the command line are relative to where the command was typed.
args=()
abs() { case $1 in /*) echo "$1" ;; *) echo "$here/$1" ;; esac; }
want_py=()
while [ $# -gt 0 ]; do
  case $1 in
    --python) want_py=("${2:?--python needs an interpreter}"); shift 2 ;;
    --json|--svg) args+=("$1" "$(abs "${2:?$1 needs a path}")"); shift 2 ;;
    --json=*|--svg=*) args+=("${1%%=*}=$(abs "${1#*=}")"); shift ;;
    *) args+=("$1"); shift ;;
  esac
done
cd "$root"
start=$SECONDS
step() { printf '[bench %3ds] %s\n' $((SECONDS - start)) "$*"; }

. "$root/dev/lib.sh"
py=$(pick_python ${want_py[@]+"${want_py[@]}"})
# The default interpreter keeps the venv it always had; others get one of their own.
venv="$root/build/bench/venv"
bbuild="$root/build/bench/build"
if [ ${#want_py[@]} -gt 0 ]; then
  ptag=$("$py" -c 'import sys; print("%d%d%s" % (*sys.version_info[:2], sys.abiflags))')
  venv="$root/build/bench/venv-$ptag"
  bbuild="$root/build/bench/build-$ptag"
fi
export PIP_DISABLE_PIP_VERSION_CHECK=1
if [ ! -x "$venv/bin/python" ]; then
  step "creating a virtual environment in ${venv#"$root"/} with $py"
  "$py" -m venv "$venv"
else
  step "using the virtual environment in ${venv#"$root"/} ($("$venv/bin/python" -V))"
fi
if "$venv/bin/python" -c 'import numpy, scikit_build_core, ninja, cmake' 2>/dev/null; then
  step "build tools and numpy already installed"
else
  step "installing build tools and numpy from PyPI (first run only)"
  "$venv/bin/python" -m pip install -q numpy scikit-build-core ninja cmake
fi
# Optional peers for some rows; a row whose baseline is missing is skipped.
if ! "$venv/bin/python" -c 'import more_itertools, returns, expression' 2>/dev/null; then
  step "installing the optional baselines more-itertools, returns, expression (first run only)"
  "$venv/bin/python" -m pip install -q more-itertools returns expression \
    || step "some optional baselines did not install: their rows are skipped"
fi
step "building tarvel (C++ release build; a minute or two the first time, seconds after)"
"$venv/bin/python" -m pip install -q --no-build-isolation --force-reinstall --no-deps \
    -Cbuild-dir="$bbuild" "$root"
step "built; measuring (each row prints when done; a full run takes a few minutes)"
echo
# OpenBLAS core-type overrides slow NumPy down; the benchmark measures a normal NumPy.
# Run from build/bench so that the installed package, not the source tree, is imported.
cd "$root/build/bench"
rc=0
env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "$venv/bin/python" "$root/bench/run.py" \
    --json "$root/build/bench/results.json" --svg "$root/build/bench/bench.svg" ${args[@]+"${args[@]}"} || rc=$?
exit $rc

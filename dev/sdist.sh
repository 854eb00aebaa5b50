#!/usr/bin/env bash
# Builds the source distribution and proves it is complete: installs tarvel from the sdist
# alone into a fresh virtual environment and runs the test suite from the sdist's unpacked
# copy (not from this tree).
#   dev/sdist.sh [python]        the sdist ends up in build/dist/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/dev/lib.sh"
py=$(pick_python "$@")
work="$root/build/sdist-check"
dist="$root/build/dist"
export PIP_DISABLE_PIP_VERSION_CHECK=1
say() { echo "[sdist] $*"; }

rm -rf "$work"
mkdir -p "$work" "$dist"
say "tools venv ($("$py" -V))"
fresh_venv "$work/tools" "$py" build
say "building the sdist"
rm -f "$dist"/tarvel-*.tar.gz
"$work/tools/bin/python" -m build --sdist --outdir "$dist" "$root" >"$work/build.log" 2>&1 \
  || { cat "$work/build.log" >&2; exit 1; }
sdist=$(ls "$dist"/tarvel-*.tar.gz)
say "$sdist"

tar tzf "$sdist" | sed 's|^[^/]*/||' >"$work/contents.txt"
for need in CMakeLists.txt pyproject.toml README.md LICENSE CHANGELOG.md src/module/module.cpp \
            src/module/exports.map python/tarvel/__init__.py python/tarvel/py.typed \
            tests/conftest.py; do
  grep -qxF "$need" "$work/contents.txt" || { echo "sdist lacks $need" >&2; exit 1; }
done

mkdir -p "$work/unpacked"
tar xzf "$sdist" -C "$work/unpacked"
copy=$(ls -d "$work"/unpacked/tarvel-*)
say "installing from the sdist into a fresh venv (compiles the extension)"
fresh_venv "$work/venv" "$py" pytest hypothesis numpy
"$work/venv/bin/python" -m pip install -q "$sdist" >"$work/install.log" 2>&1 \
  || { cat "$work/install.log" >&2; exit 1; }
say "running the unpacked copy's tests against the installed package"
# From a scratch directory, so that only the installed package can be imported.
mkdir -p "$work/run"
cd "$work/run"
HYPOTHESIS_PROFILE=${HYPOTHESIS_PROFILE:-ci} "$work/venv/bin/python" -m pytest "$copy/tests" -q \
  -p no:cacheprovider -o addopts="" --rootdir "$copy"
say "ok: $sdist builds, installs and passes its own tests"

#!/usr/bin/env bash
# Fast edit-build-test loop without pip: builds the extension into build/dev-NAME and lays
# out an importable package at build/dev-NAME/site.
#   dev/build.sh [python] [name] [extra cmake args...]
#   PYTHONPATH=build/dev-NAME/site python -m pytest tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
py=${1:-python3}
name=${2:-$("$py" -c 'import sys; print("%d%d" % sys.version_info[:2])')}
shift $(( $# > 2 ? 2 : $# )) || true
bdir="$root/build/dev-$name"
cmake -S "$root" -B "$bdir" -G Ninja -DPython_EXECUTABLE="$(command -v "$py")" "$@" >/dev/null
cmake --build "$bdir"
site="$bdir/site/tarvel"
mkdir -p "$site"
for f in "$root"/python/tarvel/*; do ln -sf "$f" "$site/"; done
ln -sf "$bdir"/_tarvel*.so "$site/"
echo "$bdir/site"

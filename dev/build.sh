#!/usr/bin/env bash
# Fast edit-build-test loop without pip: builds the extension into build/dev-NAME and lays
# out an importable package at build/dev-NAME/site.
#   dev/build.sh [python] [name] [extra cmake args...]
#   PYTHONPATH=build/dev-NAME/site python -m pytest tests
# [python] is a path or a command name such as python3.13; a name that PATH cannot run (for
# instance a pyenv shim for a version that is installed but not active) is looked up among
# pyenv's installed versions instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

. "$root/dev/lib.sh"
py=$(pick_python "${1:-python3}")
name=${2:-$("$py" -c 'import sys; print("%d%d" % sys.version_info[:2])')}
shift $(( $# > 2 ? 2 : $# )) || true
bdir="$root/build/dev-$name"
cmake -S "$root" -B "$bdir" -G Ninja -DPython_EXECUTABLE="$py" "$@" >/dev/null
cmake --build "$bdir"
site="$bdir/site/tarvel"
mkdir -p "$site"
for f in "$root"/python/tarvel/*; do ln -sf "$f" "$site/"; done
ln -sf "$bdir"/_tarvel*.so "$site/"
echo "$bdir/site"

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

runs() { "$1" -c 'import sys' >/dev/null 2>&1; }

resolve_python() {  # name-or-path -> absolute path of an interpreter that runs
  local want=$1 p
  if p=$(command -v "$want" 2>/dev/null) && runs "$p"; then
    echo "$p"
    return 0
  fi
  # pythonX.Y (or python3) not runnable from PATH: take the newest matching pyenv install.
  if [[ $want =~ ^python(3(\.[0-9]+)?)$ ]] && command -v pyenv >/dev/null 2>&1; then
    local ver=${BASH_REMATCH[1]} found=""
    for p in $(printf '%s\n' "$(pyenv root)"/versions/"$ver"{,.*}/bin/python | sort -V); do
      [ -x "$p" ] && runs "$p" && found=$p
    done
    if [ -n "$found" ]; then
      echo "$found"
      return 0
    fi
  fi
  return 1
}

want=${1:-python3}
if ! py=$(resolve_python "$want"); then
  echo "dev/build.sh: no runnable Python interpreter for '$want'" >&2
  echo "  (not on PATH, or a pyenv shim for a version that is not installed)." >&2
  echo "  Pass a path instead, e.g. dev/build.sh /path/to/python3.13" >&2
  exit 1
fi
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

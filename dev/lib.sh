# Sourced by the dev/ scripts: finding an interpreter that really runs.

py_runs() { "$1" -c 'import sys, venv' >/dev/null 2>&1; }

# resolve_python NAME-OR-PATH: prints an interpreter for it. A name that PATH cannot run
# (for instance a pyenv shim for a version that is installed but not active) is looked up
# among pyenv's installed versions, newest patch release first.
resolve_python() {
  local want=$1 p
  if p=$(command -v "$want" 2>/dev/null) && py_runs "$p"; then
    echo "$p"
    return 0
  fi
  if [[ $want =~ ^python(3(\.[0-9]+)?)$ ]] && command -v pyenv >/dev/null 2>&1; then
    local ver=${BASH_REMATCH[1]} found=""
    for p in $(printf '%s\n' "$(pyenv root)"/versions/"$ver"{,.*}/bin/python | sort -V); do
      [ -x "$p" ] && py_runs "$p" && found=$p
    done
    if [ -n "$found" ]; then
      echo "$found"
      return 0
    fi
  fi
  return 1
}

# pick_python [NAME-OR-PATH]: the given interpreter, else 3.13, else any python3; exits with
# a message when none runs.
pick_python() {
  local p
  for want in "$@" python3.13 python3; do
    p=$(resolve_python "$want") && { echo "$p"; return 0; }
    [ $# -gt 0 ] && [ "$want" = "$1" ] && break  # an explicit choice is not second-guessed
  done
  echo "dev/$(basename "$0"): no runnable Python interpreter for '${1:-python3.13 or python3}'" >&2
  echo "  (not on PATH, or a pyenv shim for a version that is not installed);" >&2
  echo "  pass a path instead, e.g. $0 /path/to/python3.13" >&2
  return 1
}

# fresh_venv DIR PYTHON [PACKAGE...]: a new virtual environment at DIR with the packages.
fresh_venv() {
  local dir=$1 py=$2
  shift 2
  rm -rf "$dir"
  "$py" -m venv "$dir"
  if [ $# -gt 0 ]; then
    PIP_DISABLE_PIP_VERSION_CHECK=1 "$dir/bin/python" -m pip install -q "$@"
  fi
}

# tarvel_pkgroot PYTHON: prints the directory holding the tarvel package that PYTHON imports
# (installed, or found through PYTHONPATH); when it imports none, makes a dev build for it
# with dev/build.sh (its progress goes to stderr) and prints that build's site directory.
tarvel_pkgroot() {
  local py=$1 dir here
  if dir=$(cd /tmp && "$py" -c 'import os, tarvel._tarvel as m; print(os.path.dirname(os.path.dirname(os.path.abspath(m.__file__))))' 2>/dev/null); then
    echo "$dir"
    return 0
  fi
  echo "dev/$(basename "$0"): $py imports no built tarvel; building one with dev/build.sh" >&2
  here=$(dirname "${BASH_SOURCE[0]}")
  bash "$here/build.sh" "$py" >&2 || return 1
  # dev/build.sh's default build name: the interpreter's version without the dot.
  dir="$(cd "$here/.." && pwd)/build/dev-$("$py" -c 'import sys; print("%d%d" % sys.version_info[:2])')/site"
  [ -d "$dir/tarvel" ] && echo "$dir"
}

# tools_env PYTHON CHECK PACKAGE...: prints a virtual environment under build/ for PYTHON's
# minor version (the tools import the built extension, so versions must match) that holds
# the packages; CHECK is Python code that runs there once they are installed.
tools_env() {
  local py=$1 check=$2 ver dir
  shift 2
  ver=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])') || return 1
  dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/tools-$ver"
  if ! "$dir/bin/python" -c "$check" >/dev/null 2>&1; then
    echo "dev/$(basename "$0"): installing $* into build/tools-$ver (first run only)" >&2
    [ -x "$dir/bin/python" ] || "$py" -m venv "$dir" >&2 || return 1
    PIP_DISABLE_PIP_VERSION_CHECK=1 "$dir/bin/python" -m pip install -q "$@" >&2 || return 1
  fi
  echo "$dir"
}

#!/usr/bin/env bash
# ThreadSanitizer run for the free-threaded build: obtains a free-threaded 3.13 configured
# with --with-thread-sanitizer (cached, idempotent: a marker is left when complete), builds
# the extension with -fsanitize=thread against it and runs the threading tests under it.
#
#   dev/ft-tsan.sh [interpreter|build|test]      (default: test, which does all three)
#
# The interpreter is built from the same unpacked source tree dev/interpreters.sh fetched for
# py3.13t; run `dev/interpreters.sh ft` first if it is missing. The build takes 10-20 minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
CACHE=${TARVEL_CACHE:-$HOME/.cache/tarvel}
PREFIX=$CACHE/py3.13t-tsan
PY=$PREFIX/bin/python3.13t
log() { echo "ft-tsan: $*" >&2; }

get_interpreter() {
  if [ -x "$PY" ] && [ -e "$PREFIX/.tarvel-ready" ]; then
    return 0
  fi
  local tree
  tree=$(find "$CACHE/src" -maxdepth 1 -type d -name 'python3.13-3.13*' 2>/dev/null | sort -V | tail -n1)
  [ -n "$tree" ] && [ -e "$tree/.tarvel-unpacked" ] ||
    { log "no unpacked python3.13 source under $CACHE/src: run dev/interpreters.sh ft first"; return 1; }
  local build=$CACHE/build-3.13t-tsan
  log "building free-threaded 3.13 with ThreadSanitizer from $tree (10-20 minutes)"
  rm -rf "$build" "$PREFIX"
  mkdir -p "$build"
  (cd "$build" && "$tree/configure" -q --disable-gil --with-thread-sanitizer --prefix="$PREFIX" \
      --with-ensurepip=no >&2 &&
    nice make -s -j"$(nproc)" >&2 && make -s install >&2)
  TSAN_OPTIONS=report_bugs=0 "$PY" -c 'import sysconfig; assert sysconfig.get_config_var("Py_GIL_DISABLED")' >&2
  touch "$PREFIX/.tarvel-ready"
  rm -rf "$build"
}

venv_python() {
  local venv=$root/build/venv-tsan
  if [ ! -x "$venv/bin/python" ]; then
    TSAN_OPTIONS=report_bugs=0 "$PY" -m venv "$venv" >&2
    TSAN_OPTIONS=report_bugs=0 "$venv/bin/python" -m pip install -q --only-binary=:all: pytest hypothesis >&2
  fi
  echo "$venv/bin/python"
}

build_ext() {
  local flags="-fsanitize=thread -g -O1"
  TSAN_OPTIONS=report_bugs=0 bash "$root/dev/build.sh" "$PY" 313t-tsan \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread | tail -n1
}

run_tests() {
  local site py
  site=$(build_ext)
  py=$(venv_python)
  # halt_on_error: a report fails the run instead of scrolling past.
  # Reports go to build/tsan-report.PID: pytest captures the standard streams. The tests
  # that share the standard library's own iterators between threads race inside the
  # interpreter by design (3.13t does not make them thread-safe), so they are left out; so is
  # the test that waiters sleep, which reads processor time that the sanitizer's own
  # bookkeeping of each new thread inflates.
  cd /tmp && PYTHON_GIL=0 PYTHONPATH="$site" TARVEL_STRESS_SECONDS=${TARVEL_STRESS_SECONDS:-0.5} \
    TSAN_OPTIONS="halt_on_error=1 exitcode=66 history_size=7 second_deadlock_stack=1 suppressions=$root/dev/tsan.supp log_path=$root/build/tsan-report" \
    "$py" -m pytest -q -p no:cacheprovider -x -k "not standard_library and not waiters_sleep" \
      "$root/tests/test_free_threading.py" "$root/tests/test_threads.py" "$@"
}

what=${1:-test}
[ $# -gt 0 ] && shift
case $what in
  interpreter) get_interpreter ;;
  build) get_interpreter; build_ext ;;
  test) get_interpreter; run_tests "$@" ;;
  *) echo "usage: $0 [interpreter|build|test] [pytest args...]" >&2; exit 2 ;;
esac

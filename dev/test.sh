#!/usr/bin/env bash
# Builds tarvel and runs the whole test suite on every CPython >= 3.11 found on this
# machine; on 3.13 also the type checks (dev/typecheck.sh) and the documentation build
# (dev/docs.sh); then the suite once more on 3.13 against an AddressSanitizer + UBSan build,
# and once on a debug interpreter (Debian's python3.11-dbg, built with Py_DEBUG) with
# reference-leak hunting. Needs only the interpreters and network access to PyPI (and, for
# the debug interpreter when it is missing, root and apt-get); everything else is installed
# into throwaway virtual environments under build/test/.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
work="$root/build/test"
mkdir -p "$work"
export HYPOTHESIS_PROFILE=${HYPOTHESIS_PROFILE:-ci}
export PIP_DISABLE_PIP_VERSION_CHECK=1

# Interpreters: what PATH offers, plus pyenv's installs. One per minor version.
candidates=()
for name in python3 python3.11 python3.12 python3.13 python3.14; do
  p=$(command -v "$name" 2>/dev/null) && candidates+=("$p")
done
if command -v pyenv >/dev/null 2>&1; then
  for p in "$(pyenv root)"/versions/3.*/bin/python; do [ -x "$p" ] && candidates+=("$p"); done
fi
declare -A chosen=()
for p in "${candidates[@]}"; do
  v=$("$p" -c 'import sys; print("%d.%d" % sys.version_info[:2]) if sys.version_info >= (3, 11) else None' 2>/dev/null) || continue
  [[ -z "$v" || "$v" == None || -n "${chosen[$v]:-}" ]] && continue
  # pyenv shims may resolve to an interpreter that is not installed; check it runs a venv.
  "$p" -c 'import venv' 2>/dev/null || continue
  chosen[$v]=$p
done
if [ ${#chosen[@]} -eq 0 ]; then
  echo "no CPython >= 3.11 found" >&2
  exit 1
fi

failed=()
run_suite() {  # label python sanitize
  local label=$1 py=$2 sanitize=$3
  local venv="$work/venv-$label"
  echo "=== $label: $("$py" -c 'import sys; print(sys.version.split()[0])') ($py)"
  if [ ! -x "$venv/bin/python" ]; then
    "$py" -m venv "$venv" || return 1
  fi
  "$venv/bin/python" -m pip install -q --upgrade pip >/dev/null 2>&1
  # NumPy (and mypy's compiled build) has no build for debug interpreters; the tests that
  # need them skip there.
  local deps=(pytest hypothesis scikit-build-core ninja cmake)
  [ "$sanitize" = DEBUG ] || deps+=(numpy mypy)
  "$venv/bin/python" -m pip install -q "${deps[@]}" || return 1
  local env=(TARVEL_SANITIZE=$([ "$sanitize" = ON ] && echo ON || echo OFF))
  local build_type=Release
  [ "$sanitize" = DEBUG ] && build_type=Debug
  env "${env[@]}" "$venv/bin/python" -m pip install -q --no-build-isolation --force-reinstall --no-deps \
      -Cbuild-dir="$work/build-$label" -Ccmake.build-type=$build_type "$root" || return 1
  local pre=()
  if [ "$sanitize" = ON ]; then
    # libstdc++ is preloaded too: the sanitizer resolves the real __cxa_throw when it
    # starts, and the interpreter itself does not link the C++ runtime, so the first
    # exception the extension throws (bad_alloc under failing allocations) would abort.
    pre=(env LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
         ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
         UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)
  fi
  # Run from a scratch directory so that the installed package, not the tree, is imported.
  # Sanitized frames are several times larger: give the deep-nesting tests the stack
  # that the interpreter's recursion limits assume.
  local stack=""
  [ "$sanitize" = ON ] && stack="ulimit -s 1048576 2>/dev/null || ulimit -s unlimited 2>/dev/null;"
  # On the debug interpreter every module runs three times: the first pass reports as
  # usual, and a module whose two repeats both add references fails (regrtest -R style).
  local extra=()
  if [ "$sanitize" = DEBUG ]; then
    extra=(--refleak=0:2)
    pre=(env HYPOTHESIS_PROFILE=refleak)
  fi
  (eval "$stack" && cd "$work" && "${pre[@]}" "$venv/bin/python" -m pytest "$root/tests" -q -p no:cacheprovider \
      -o addopts="" --rootdir "$root" "${extra[@]}")
  local rc=$?
  if [ $rc -eq 5 ]; then
    echo "pytest collected no tests on $label: the suite is broken" >&2
  fi
  return $rc
}

for v in $(printf '%s\n' "${!chosen[@]}" | sort -V); do
  run_suite "py$v" "${chosen[$v]}" OFF || failed+=("py$v")
done
# --- interpreters from the cache (dev/interpreters.sh obtains them, idempotently) ----------
# 3.14 and 3.15 run inside a Debian unstable chroot (their binaries need a newer C library
# than the host's); the free-threaded builds run on the host. Each is a whole-suite run.
cached_interpreters() {
  echo "=== interpreters from the cache"
  bash "$root/dev/interpreters.sh" all
}
run_chroot_suite() {  # VERSION
  bash "$root/dev/in-chroot.sh" bash "$root/dev/suite-one.sh" "python$1" "chroot-py$1"
}
run_ft_suite() {  # VERSION PATH
  bash "$root/dev/suite-one.sh" "$2" "py$1"
}
if listing=$(cached_interpreters); then
  while read -r kind v path; do
    case $kind in
      chroot) run_chroot_suite "$v" </dev/null || failed+=("chroot-py$v") ;;
      ft) run_ft_suite "$v" "$path" </dev/null || failed+=("py$v") ;;
    esac
  done <<<"$listing"
else
  failed+=("interpreters")
fi
# ---------------------------------------------------------------------------------------------

# Once, on 3.13: the stubs against the module and the typed example (stubtest, mypy --strict,
# pyright), then the documentation site with its examples. Both use the py3.13 install.
if [ -x "$work/venv-py3.13/bin/python" ]; then
  echo "=== py3.13: type checks"
  bash "$root/dev/typecheck.sh" "$work/venv-py3.13/bin/python" || failed+=("typecheck")
  echo "=== py3.13: documentation"
  bash "$root/dev/docs.sh" "$work/venv-py3.13/bin/python" || failed+=("docs")
else
  echo "no CPython 3.13: type checks and documentation skipped" >&2
  failed+=("typecheck/docs(no 3.13)")
fi
if [ -n "${chosen[3.13]:-}" ]; then
  run_suite "py3.13-asan" "${chosen[3.13]}" ON || failed+=("py3.13-asan")
else
  echo "no CPython 3.13: sanitizer run skipped" >&2
  failed+=("asan(no 3.13)")
fi

# The debug interpreter: assertions inside the C API catch calls made with an exception
# pending, wrong reference counts and more; its reference totals catch leaks.
dbg=$(command -v python3.11-dbg 2>/dev/null || true)
if [ -z "$dbg" ] && [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "=== installing python3.11-dbg"
  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3.11-dbg python3.11-dev python3.11-venv; } >/dev/null 2>&1
  dbg=$(command -v python3.11-dbg 2>/dev/null || true)
fi
if [ -n "$dbg" ]; then
  run_suite "py3.11-dbg" "$dbg" DEBUG || failed+=("py3.11-dbg")
else
  echo "no debug interpreter (python3.11-dbg) and no way to install it" >&2
  failed+=("dbg(no python3.11-dbg)")
fi

if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED: ${failed[*]}" >&2
  exit 1
fi
echo "all suites passed: $(printf '%s ' $(printf '%s\n' "${!chosen[@]}" | sort -V)) + asan + 3.11-dbg"

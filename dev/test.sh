#!/usr/bin/env bash
# The whole test suite, as CI runs it (under 40 minutes on 2 cores with the interpreter cache
# warm), in stages:
#   py3.X        build (release) and run the suite on every CPython >= 3.11 found; 3.12 is a
#                smoke run (fewer property-test examples, no allocation-failure sweep)
#   py3.14, py3.15, py3.13t
#                the whole suite on the interpreters dev/interpreters.sh keeps in its cache
#                (a free-threaded one with the lock off)
#                (obtained on the first run: 5 minutes on an idle machine, 20 under
#                load), in a second lane beside the main stages together with py3.11-dbg
#   py3.13t-threads
#                the suite again on 3.13t, every test run by 4 threads at once
#                (pytest-run-parallel; the tests kept in one thread skip, having just run)
#   typecheck    stubtest, mypy --strict and pyright against the 3.13 install (dev/typecheck.sh)
#   docs         the stub and guide examples, then the site in build/site (dev/docs.sh)
#   py3.13-asan  the suite once more against an AddressSanitizer + UBSan build (fewer
#                property-test examples)
#   py3.13t-tsan the threading tests under ThreadSanitizer on a free-threaded 3.13 built for
#                it (dev/ft-tsan.sh; its interpreter is built once, 10-20 minutes)
#   py3.11-dbg   the suite on Debian's debug interpreter (Py_DEBUG) with reference-leak
#                hunting; when python3.11-dbg is missing it is installed with apt-get (root only)
# Each stage says what it sets up, prints its time, and a table at the end sums them up.
# Everything is installed into throwaway virtual environments under build/test/.
#   dev/test.sh                 the whole suite
#   dev/test.sh --fast [PYTHON] [-- PYTEST-ARGS...]
#                               the contributor's loop: one interpreter (default 3.13), release
#                               build, no sanitizer, type checks, docs or debug interpreter
#                               (a few minutes; seconds of building after the first run)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. "$root/dev/lib.sh"
work="$root/build/test"
mkdir -p "$work"
export HYPOTHESIS_PROFILE=${HYPOTHESIS_PROFILE:-ci}
export PIP_DISABLE_PIP_VERSION_CHECK=1

fast=0 fast_py="" pytest_args=()
while [ $# -gt 0 ]; do
  case $1 in
    --fast) fast=1; shift ;;
    --) shift; pytest_args=("$@"); break ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "dev/test.sh: unknown option $1 (see dev/test.sh --help)" >&2; exit 2 ;;
    *) [ $fast = 1 ] && [ -z "$fast_py" ] || { echo "dev/test.sh: unexpected $1" >&2; exit 2; }
       fast_py=$1; shift ;;
  esac
done

. "$root/dev/stages.sh"

# run_suite LABEL PYTHON MODE [PYTEST-ARGS...]: a venv for LABEL, the package built and
# installed into it (MODE: release, asan or debug), then the suite from a scratch directory.
run_suite() {
  local label=$1 py=$2 mode=$3
  shift 3
  local venv="$work/venv-$label"
  note "$label: $("$py" -c 'import sys; print(sys.version.split()[0])') ($py)"
  if [ ! -x "$venv/bin/python" ]; then
    note "$label: creating the virtual environment build/test/venv-$label"
    "$py" -m venv "$venv" || return 1
  fi
  # NumPy (and mypy's compiled build) has no build for debug interpreters; the tests that
  # need them skip there.
  local smoke
  local deps=(pytest hypothesis scikit-build-core ninja cmake)
  [ "$mode" = debug ] || deps+=(numpy mypy)
  note "$label: installing ${deps[*]} (from PyPI on the first run)"
  "$venv/bin/python" -m pip install -q --upgrade pip >/dev/null 2>&1
  "$venv/bin/python" -m pip install -q "${deps[@]}" || return 1
  local build_type=Release sanitize=OFF
  [ "$mode" = debug ] && build_type=Debug
  [ "$mode" = asan ] && sanitize=ON
  [ "$mode" = smoke ] && mode=release smoke=1 || smoke=0
  note "$label: building tarvel ($build_type, sanitizer $sanitize; about 2.5 minutes the first" \
       "time, incremental after) in build/test/build-$label"
  TARVEL_SANITIZE=$sanitize "$venv/bin/python" -m pip install -q --no-build-isolation \
      --force-reinstall --no-deps -Cbuild-dir="$work/build-$label" \
      -Ccmake.build-type=$build_type "$root" || return 1
  local pre=() stack="" extra=()
  if [ "$mode" = asan ]; then
    # libstdc++ is preloaded too: the sanitizer resolves the real __cxa_throw when it
    # starts, and the interpreter itself does not link the C++ runtime, so the first
    # exception the extension throws (bad_alloc under failing allocations) would abort.
    pre=(env LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
         ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
         UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)
    # Sanitized frames are several times larger: give the deep-nesting tests the stack
    # that the interpreter's recursion limits assume.
    stack="ulimit -s 1048576 2>/dev/null || ulimit -s unlimited 2>/dev/null;"
    # Each example costs several times as much here, and the release runs have the full count.
    pre+=(HYPOTHESIS_PROFILE=dev)
  fi
  if [ $smoke = 1 ]; then
    pre=(env HYPOTHESIS_PROFILE=dev)
    extra=(--ignore="$root/tests/test_fault_injection.py")
  fi
  if [ "$mode" = debug ]; then
    # Every module runs three times: the first pass reports as usual, and a module whose
    # two repeats both add references fails (regrtest -R style).
    extra=(--refleak=0:2)
    pre=(env HYPOTHESIS_PROFILE=refleak)
  fi
  note "$label: running the suite"
  # From a scratch directory, so that the installed package, not the tree, is imported.
  (eval "$stack" && cd "$work" && "${pre[@]}" "$venv/bin/python" -m pytest "$root/tests" -q \
      -p no:cacheprovider -o addopts="" --rootdir "$root" "${extra[@]}" "$@")
  local rc=$?
  [ $rc -eq 5 ] && echo "pytest collected no tests on $label: the suite is broken" >&2
  return $rc
}

# The debug interpreter: assertions inside the C API catch calls made with an exception
# pending, wrong reference counts and more; its reference totals catch leaks.
debug_suite() {
  local dbg
  dbg=$(command -v python3.11-dbg 2>/dev/null || true)
  if [ -z "$dbg" ]; then
    if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null 2>&1; then
      echo "no python3.11-dbg, and installing it needs root and apt-get" >&2
      return 1
    fi
    note "py3.11-dbg: installing python3.11-dbg with apt-get (a minute or two)"
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        python3.11-dbg python3.11-dev python3.11-venv; } >/dev/null 2>&1
    dbg=$(command -v python3.11-dbg 2>/dev/null) || { echo "apt-get could not install python3.11-dbg" >&2; return 1; }
  fi
  run_suite py3.11-dbg "$dbg" debug
}

# The scaling-out examples on a local Ray cluster, once, on 3.13. Ray is heavy, so it goes
# into a venv of its own, never into the suites' venvs (where its tests skip). A failed
# install still runs the tests: they say so, and fail in CI. Reuses the py3.13 build directory.
ray_suite() {  # PYTHON
  local py=$1 venv="$work/venv-ray"
  [ -x "$venv/bin/python" ] || { note "ray: creating build/test/venv-ray"; "$py" -m venv "$venv" || return 1; }
  note "ray: installing the test tools and ray (about 80 MB from PyPI on the first run)"
  "$venv/bin/python" -m pip install -q pytest hypothesis scikit-build-core ninja cmake || return 1
  "$venv/bin/python" -m pip install -q ray || echo "ray could not be installed" >&2
  "$venv/bin/python" -m pip install -q --no-build-isolation --force-reinstall --no-deps \
      -Cbuild-dir="$work/build-py3.13" "$root" || return 1
  (cd "$work" && TARVEL_RAY=1 timeout 900 "$venv/bin/python" -m pytest -q -p no:cacheprovider \
      -o addopts="" --rootdir "$root" "$root/tests/test_ray_example.py" \
      "$root/tests/test_parallel_example.py")
}

# Interpreters the host does not have: dev/interpreters.sh obtains them into a cache outside
# the clone (idempotently; the first run takes 5 to 20 minutes, with the load) and lists them as
# "KIND VERSION PATH". 3.14 and 3.15 run inside a Debian unstable chroot (their binaries need
# a newer C library than the host's); free-threaded builds run on the host.
cached_suite() {  # KIND VERSION PATH
  case $1 in
    chroot) bash "$root/dev/in-chroot.sh" bash "$root/dev/suite-one.sh" "python$2" "chroot-py$2" </dev/null ;;
    ft) bash "$root/dev/suite-one.sh" "$3" "py$2" </dev/null ;;
    threads) bash "$root/dev/suite-one.sh" "$3" "py$2" --threads </dev/null ;;
  esac
}

if [ $fast = 1 ]; then
  py=$(pick_python ${fast_py:+"$fast_py"}) || exit 2
  v=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  note "fast run: the suite on $v only (the whole suite is plain dev/test.sh)"
  stage "py$v" run_suite "py$v" "$py" release ${pytest_args[@]+"${pytest_args[@]}"}
  summary
  exit
fi

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
  py_runs "$p" || continue  # a pyenv shim may name an interpreter that is not installed
  chosen[$v]=$p
done
if [ ${#chosen[@]} -eq 0 ]; then
  echo "no CPython >= 3.11 found" >&2
  exit 1
fi
note "whole suite: CPython $(printf '%s\n' "${!chosen[@]}" | sort -V | tr '\n' ' ')and the" \
     "cached interpreters, type checks, docs, the sanitizer and the debug interpreter"

# The interpreters from the cache, then the debug interpreter, run in a second lane: each
# suite keeps one core busy, and the machine has two. One that cannot be had is a missing
# stage (CI fails), except the free-threaded 3.14t/3.15t, which nothing here can build yet:
# dev/interpreters.sh prints why they are skipped.
note "interpreters from the cache (dev/interpreters.sh; 5 to 20 minutes when it is empty)"
main_cached=()
if listing=$(bash "$root/dev/interpreters.sh" all); then
  echo "$listing"
  for want in 3.14 3.15 3.13t; do
    grep -q "^[a-z]* $want " <<<"$listing" ||
      missing "py$want" "dev/interpreters.sh has no $want (see its messages above)"
  done
  while read -r kind v path; do
    case $kind in
      # 3.14 runs in the main lane, after the other stages there: the second lane, with
      # the debug interpreter and both free-threaded runs, is the longer.
      chroot) if [ "$v" = 3.14 ]; then main_cached=("$kind" "$v" "$path")
              else lane_stage "py$v" cached_suite "$kind" "$v" "$path"; fi ;;
      ft) lane_stage "py$v" cached_suite "$kind" "$v" "$path"
          lane_stage "py$v-threads" cached_suite threads "$v" "$path" ;;
    esac
  done <<<"$listing"
else
  for want in 3.14 3.15 3.13t; do missing "py$want" "dev/interpreters.sh failed (see above)"; done
fi
lane_stage py3.11-dbg debug_suite
lane_start

for v in $(printf '%s\n' "${!chosen[@]}" | sort -V); do
  if [ "$v" = 3.12 ]; then
    # Between the oldest supported and the main version, and sharing their code paths: the
    # build and a lighter run are what it adds.
    stage "py$v-smoke" run_suite "py$v" "${chosen[$v]}" smoke
  else
    stage "py$v" run_suite "py$v" "${chosen[$v]}" release
  fi
done
# Once, on 3.13: the stubs against the module and the typed example, then the documentation
# site with its examples. Both use the py3.13 install.
if [ -x "$work/venv-py3.13/bin/python" ]; then
  stage typecheck bash "$root/dev/typecheck.sh" "$work/venv-py3.13/bin/python"
  stage docs bash "$root/dev/docs.sh" "$work/venv-py3.13/bin/python"
else
  missing typecheck "no CPython 3.13"
  missing docs "no CPython 3.13"
fi
if [ -n "${chosen[3.13]:-}" ]; then
  stage ray ray_suite "${chosen[3.13]}"
else
  missing ray "no CPython 3.13"
fi
if [ -n "${chosen[3.13]:-}" ]; then
  stage py3.13-asan run_suite py3.13-asan "${chosen[3.13]}" asan
else
  missing py3.13-asan "no CPython 3.13"
fi
# The threading tests under ThreadSanitizer, on a free-threaded 3.13 built for it from the
# source tree dev/interpreters.sh fetched (cached; 10-20 minutes the first time). In the
# main lane: the second one, with the debug interpreter, is the longer.
if grep -q "^ft 3.13t " <<<"${listing:-}"; then
  stage py3.13t-tsan bash "$root/dev/ft-tsan.sh" test
else
  missing py3.13t-tsan "no free-threaded 3.13 source tree (see dev/interpreters.sh above)"
fi
[ ${#main_cached[@]} -gt 0 ] && stage "py${main_cached[1]}" cached_suite "${main_cached[@]}"
lane_join

summary

#!/usr/bin/env bash
# The whole test suite on one interpreter: a venv under build/test/venv-LABEL with the test
# dependencies as binary wheels only (a source build of one would need network access to
# more than the package index, e.g. Rust crates), the package built into build/test/build-LABEL,
# then pytest from a scratch directory. Used by dev/test.sh for the interpreters that
# dev/interpreters.sh provides, on the host or inside the chroot (dev/in-chroot.sh). A
# free-threaded interpreter runs with the lock off (PYTHON_GIL=0). With --threads the suite
# runs again with every test run by 4 threads at once (pytest-run-parallel, fewer property-test
# examples); the tests tests/conftest.py keeps in one thread are skipped there, having just run.
#   dev/suite-one.sh PYTHON LABEL [--threads] [pytest args...]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
py=${1:?usage: $0 PYTHON LABEL [pytest args...]}
label=${2:?usage: $0 PYTHON LABEL [pytest args...]}
shift 2
threads=0
if [ "${1:-}" = --threads ]; then threads=1; shift; fi
work="$root/build/test"
venv="$work/venv-$label"
export PIP_DISABLE_PIP_VERSION_CHECK=1 HYPOTHESIS_PROFILE=${HYPOTHESIS_PROFILE:-ci}
mkdir -p "$work"
echo "=== $label: $("$py" -c 'import sys; print(sys.version.split()[0])') ($py)"
# A venv left half-made by an interrupted run has no pip: start it again.
if ! "$venv/bin/python" -m pip --version >/dev/null 2>&1; then
  rm -rf "$venv"
  "$py" -m venv "$venv" || exit 1
fi
"$venv/bin/python" -m pip install -q --only-binary=:all: --upgrade pip >/dev/null 2>&1
deps=(pytest hypothesis scikit-build-core ninja cmake numpy)
[ $threads = 1 ] && deps+=(pytest-run-parallel)
"$venv/bin/python" -m pip install -q --only-binary=:all: "${deps[@]}" || exit 1
"$venv/bin/python" -m pip install -q --no-build-isolation --force-reinstall --no-deps \
  -Cbuild-dir="$work/build-$label" -Ccmake.build-type=Release "$root" || exit 1
if "$py" -c 'import sys, sysconfig; sys.exit(not sysconfig.get_config_var("Py_GIL_DISABLED"))'; then
  export PYTHON_GIL=0
fi
mode=(-p no:run-parallel)
if [ $threads = 1 ]; then
  # The plugin also fails the run if anything switches the lock back on.
  mode=(--parallel-threads=4 --skip-thread-unsafe=True)
  export HYPOTHESIS_PROFILE=threads
  echo "--- $label: every test by 4 threads at once"
else
  echo "--- $label: internals the fast paths read"
  "$venv/bin/python" "$root/tests/layout_probe.py"
fi
cd "$work" && "$venv/bin/python" -m pytest "$root/tests" -q -p no:cacheprovider -o addopts="" --rootdir "$root" \
  "${mode[@]}" "$@"
rc=$?
[ $rc -eq 5 ] && echo "pytest collected no tests on $label: the suite is broken" >&2
exit $rc

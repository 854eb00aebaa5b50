#!/usr/bin/env bash
# The whole test suite on one interpreter: a venv under build/test/venv-LABEL with the test
# dependencies as binary wheels only (a source build of one would need network access to
# more than the package index, e.g. Rust crates), the package built into build/test/build-LABEL,
# then pytest from a scratch directory. Used by dev/test.sh for the interpreters that
# dev/interpreters.sh provides, on the host or inside the chroot (dev/in-chroot.sh).
#   dev/suite-one.sh PYTHON LABEL [pytest args...]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
py=${1:?usage: $0 PYTHON LABEL [pytest args...]}
label=${2:?usage: $0 PYTHON LABEL [pytest args...]}
shift 2
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
"$venv/bin/python" -m pip install -q --only-binary=:all: pytest hypothesis scikit-build-core ninja cmake numpy ||
  exit 1
"$venv/bin/python" -m pip install -q --no-build-isolation --force-reinstall --no-deps \
  -Cbuild-dir="$work/build-$label" -Ccmake.build-type=Release "$root" || exit 1
echo "--- $label: internals the fast paths read"
"$venv/bin/python" "$root/tests/layout_probe.py"
cd "$work" && "$venv/bin/python" -m pytest "$root/tests" -q -p no:cacheprovider -o addopts="" --rootdir "$root" "$@"
rc=$?
[ $rc -eq 5 ] && echo "pytest collected no tests on $label: the suite is broken" >&2
exit $rc

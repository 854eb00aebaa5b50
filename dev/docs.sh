#!/usr/bin/env bash
# Builds the documentation site into build/site: the guide in docs/ plus the reference read
# from the stub docstrings (python/tarvel/_tarvel.pyi), with MkDocs + mkdocstrings in strict
# mode (any warning fails). First runs every example of the stubs and the guide as a doctest
# against the built extension.
# Usage: dev/docs.sh PYTHON   (PYTHON imports the built tarvel and has pytest; PYTHONPATH is
# honoured, e.g. PYTHONPATH=build/dev-313/site dev/docs.sh python3.13).
# The site tools live in build/tools (installed on first use).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
py=${1:?usage: dev/docs.sh PYTHON}
tools="$root/build/tools"
cd "$root"
if [ ! -x "$tools/bin/mkdocs" ] || ! "$tools/bin/python" -c 'import mkdocstrings_handlers.python' 2>/dev/null; then
  echo "docs: installing MkDocs and mkdocstrings into $tools"
  [ -x "$tools/bin/python" ] || "$py" -m venv "$tools"
  "$tools/bin/python" -m pip install -q mkdocs "mkdocstrings[python]" ruff
fi
echo "docs: examples of the stub docstrings and the guide, run against the built module"
"$py" -m pytest tests/test_stub_docs.py -q -p no:cacheprovider -o addopts=""
echo "docs: building the site (warnings are errors)"
"$tools/bin/mkdocs" build --strict --quiet
echo "docs: built $root/build/site/index.html"

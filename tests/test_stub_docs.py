"""The examples in the stub docstrings (the package's documentation) run against the module."""

import ast
import doctest
import pathlib

import pytest

import tarvel

STUB = pathlib.Path(__file__).resolve().parents[1] / "python" / "tarvel" / "_tarvel.pyi"


def documented(tree):
    """(qualified name, docstring) for every documented definition, attribute docstrings too."""
    out = []

    def walk(body, prefix):
        for i, node in enumerate(body):
            if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
                doc = ast.get_docstring(node, clean=False)
                if doc:
                    out.append((prefix + node.name, doc))
                if isinstance(node, ast.ClassDef):
                    walk(node.body, prefix + node.name + ".")
            elif isinstance(node, ast.AnnAssign) and i + 1 < len(body):
                nxt = body[i + 1]
                if (isinstance(nxt, ast.Expr) and isinstance(nxt.value, ast.Constant)
                        and isinstance(nxt.value.value, str)):
                    out.append((prefix + node.target.id, nxt.value.value))

    walk(tree.body, "")
    return out


DOCS = documented(ast.parse(STUB.read_text()))


def public_names():
    return [n for n in tarvel.__all__]


def test_every_public_name_is_documented_with_an_example():
    by_name = {}
    for name, doc in DOCS:
        by_name.setdefault(name, []).append(doc)
    missing = [n for n in public_names()
               if not any(">>> " in d for d in by_name.get(n, []))]
    assert not missing, f"no docstring with an example: {missing}"


@pytest.mark.parametrize("name,doc", DOCS, ids=[n for n, _ in DOCS])
def test_docstring_examples(name, doc):
    parser = doctest.DocTestParser()
    test = parser.get_doctest(doc, dict(vars(tarvel)), name, str(STUB), 0)
    if not test.examples:
        pytest.skip("no example")
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    out = []
    runner.run(test, out=out.append)
    assert runner.failures == 0, "".join(out)


DOCS_DIR = STUB.parents[2] / "docs"
GUIDE_PAGES = sorted(DOCS_DIR.glob("*.md")) if DOCS_DIR.is_dir() else []


@pytest.mark.parametrize("page", GUIDE_PAGES, ids=[p.name for p in GUIDE_PAGES])
def test_guide_examples(page):
    failures, tried = doctest.testfile(str(page), module_relative=False,
                                       optionflags=doctest.ELLIPSIS)
    assert tried > 0 and failures == 0


@pytest.mark.skipif(not DOCS_DIR.is_dir(), reason="docs not shipped")
def test_reference_lists_every_public_name():
    listed = set()
    for page in (DOCS_DIR / "reference").glob("*.md"):
        listed.update(line.strip()[2:] for line in page.read_text().splitlines()
                      if line.strip().startswith("- ") and line.startswith("        "))
    assert sorted(set(public_names()) - listed) == []

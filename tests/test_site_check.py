"""The documentation site's browser check: what it reads off a rendered page, and which
examples it looks for."""

import ast
import glob
import html
import importlib.util
import os
import re

import pytest
from hypothesis import given, settings, strategies as st

ROOT = os.path.join(os.path.dirname(__file__), "..")
CHECK = os.path.join(ROOT, "dev", "site_check.py")
pytestmark = pytest.mark.skipif(
    not all(os.path.exists(os.path.join(ROOT, p)) for p in ("dev/site_check.py", "mkdocs.yml",
                                                             "docs/guide.md")),
    reason="the documentation sources are not shipped")


@pytest.fixture(scope="module")
def sc():
    spec = importlib.util.spec_from_file_location("tarvel_site_check", CHECK)
    mod = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(mod)
    return mod


@pytest.mark.parametrize("dom, text, highlighted", [
    ("<html><head><title>t</title></head><body><p>a  &amp;\n b</p></body></html>", "a & b", 0),
    ("<body><script>var x = '>>> hidden';</script><p>shown</p></body>", "shown", 0),
    ("<body><style>p{}</style><noscript>js off</noscript>x</body>", "x", 0),
    # Pygments splits a line into token spans; the reader still sees one line
    ('<body><div class="highlight"><pre><span class="gp">&gt;&gt;&gt; </span>'
     '<span class="nb">len</span><span class="p">(</span><span class="s2">"ab"</span>'
     '<span class="p">)</span>\n<span class="go">2</span></pre></div></body>',
     '>>> len("ab") 2', 6),
    ('<body><span class="nt">a</span><span class="k">def</span></body>', "adef", 1),
])
def test_visible_text(sc, dom, text, highlighted):
    assert sc.visible_text(dom) == (text, highlighted)


@pytest.mark.parametrize("source, expected", [
    (">>> 1 + 1\n2\n", ["1 + 1", "2"]),
    (">>> @curry\n... def f(a, b):\n...     return a\n>>> f(1)(2)\n1\n",
     ["@curry", "def f(a, b):", "return a", "f(1)(2)", "1"]),
    ("text only\n\n    indented code, no prompt\n", []),
    (">>> print('a')\na\n\n>>> x = 1\n", ["print('a')", "a", "x = 1"]),
])
def test_examples(sc, source, expected):
    assert sc.examples(source) == expected


def _rendered(markdown):
    # A page as a browser shows it: each line escaped and cut into token spans.
    lines = []
    for line in markdown.splitlines():
        toks = re.findall(r"\w+|\W", line)
        lines.append("".join(f'<span class="n">{html.escape(t)}</span>' for t in toks))
    return "<body><pre>" + "\n".join(lines) + "</pre></body>"


GUIDE = os.path.join(ROOT, "docs", "guide.md")


@settings(max_examples=30, deadline=None)
@given(st.data())
def test_a_dropped_example_line_is_reported(sc, data):
    with open(GUIDE, encoding="utf-8") as f:
        lines = f.read().splitlines()
    expected = sc.expected_examples(GUIDE)
    assert sc.missing(sc.visible_text(_rendered("\n".join(lines)))[0], expected) == []
    prompts = [i for i, l in enumerate(lines) if l.lstrip().startswith((">>> ", "... "))]
    i = data.draw(st.sampled_from(prompts))
    gone = lines[i].lstrip()[4:].strip()
    # a line repeated elsewhere on the page is still shown; only a unique one is missed
    shown = sc.visible_text(_rendered("\n".join(lines[:i] + lines[i + 1:])))[0]
    assert (sc._squash(gone) in sc.missing(shown, expected)) == (sc._squash(gone) not in shown)


REFERENCE = sorted(glob.glob(os.path.join(ROOT, "docs", "reference", "*.md")))


@pytest.mark.parametrize("page", REFERENCE, ids=os.path.basename)
def test_reference_members_are_in_the_stub(sc, page):
    # A misspelt member would leave its examples unchecked, not fail the page.
    with open(page, encoding="utf-8") as f:
        members = sc.reference_members(f.read())
    with open(sc.STUB, encoding="utf-8") as f:
        tree = ast.parse(f.read())
    defined = {n.name for n in tree.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    defined |= {n.target.id for n in tree.body if isinstance(n, ast.AnnAssign)}
    assert members and set(members) <= defined
    assert sc.stub_docstrings(members)


def test_checked_pages_have_examples(sc):
    for _, _, source, _ in sc.PAGES:
        assert sc.expected_examples(os.path.join(ROOT, "docs", source))


def test_docs_helpers_are_not_shipped(sc):
    # Every file of docs/ that is neither a page nor an image is a build helper: excluded.
    with open(os.path.join(ROOT, "mkdocs.yml"), encoding="utf-8") as f:
        cfg = f.read()
    excluded = re.search(r"^exclude_docs: \|\n((?:  .*\n)+)", cfg, re.M).group(1).split()
    helpers = sorted(os.path.basename(p) for p in glob.glob(os.path.join(ROOT, "docs", "*"))
                     if os.path.isfile(p) and not p.endswith((".md", ".svg", ".png")))
    assert helpers and sorted(excluded) == helpers == sorted(sc.NOT_SHIPPED)

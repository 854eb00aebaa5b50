"""Opens the built documentation site in headless Chromium, the way a reader sees it.

    python dev/site_check.py SITE_DIR OUT_DIR

For the home page, the guide and one reference page: a screenshot into OUT_DIR (kept as a
build artefact), then the rendered DOM (chromium --dump-dom, after the page's scripts ran)
must contain every example of the page's source (each statement and its output), show code
with syntax highlighting, and, on the reference page, show no signature from a catch-all
overload where a precise one exists. The site may not ship the build's own helper files.

Without a browser it installs Debian's chromium (root and apt-get); when that is impossible
it prints why and exits 0, except under CI (CI or TARVEL_CI set), where it fails.
"""

import ast
import doctest
import functools
import html.parser
import http.server
import os
import re
import shutil
import subprocess
import sys
import threading

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STUB = os.path.join(ROOT, "python", "tarvel", "_tarvel.pyi")

# (name, page in the site, its source under docs/, texts it must not show)
PAGES = [
    ("home", "index.html", "index.md", []),
    ("guide", "guide/index.html", "guide.md", []),
    ("reference-aggregations", "reference/aggregations/index.html", "reference/aggregations.md",
     ["groupby(key: Any", "countby(key: Any"]),
]
# Files of the docs directory that serve the build and are not pages of the site.
NOT_SHIPPED = ["hooks.py", "griffe_overloads.py", "bench.json"]
BROWSERS = ("chromium", "chromium-browser")


class _Text(html.parser.HTMLParser):
    """The text a reader sees: everything outside script, style and head."""

    HIDDEN = {"script", "style", "head", "template", "noscript"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.parts, self.hidden, self.highlighted = [], 0, 0

    def handle_starttag(self, tag, attrs):
        if tag in self.HIDDEN:
            self.hidden += 1
        cls = dict(attrs).get("class") or ""
        # Pygments marks tokens with short classes inside a "highlight" block.
        if tag == "span" and cls in {"k", "kn", "nb", "s1", "s2", "mi", "gp", "go", "o", "p"}:
            self.highlighted += 1

    def handle_endtag(self, tag):
        if tag in self.HIDDEN and self.hidden:
            self.hidden -= 1

    def handle_data(self, data):
        if not self.hidden:
            self.parts.append(data)


def visible_text(dom):
    """(text with whitespace runs collapsed to one space, number of highlighted tokens)."""
    p = _Text()
    p.feed(dom)
    p.close()
    return _squash("".join(p.parts)), p.highlighted


def _squash(text):
    return re.sub(r"\s+", " ", text).strip()


def examples(text):
    """Each doctest statement and expected output of a text, whitespace collapsed."""
    out = []
    for ex in doctest.DocTestParser().get_examples(text):
        # Line by line: the page shows a statement's continuation lines after "..." prompts.
        for line in (ex.source + ex.want).splitlines():
            if line.strip():
                out.append(_squash(line))
    return out


def reference_members(markdown):
    """The names a reference page lists under its `members:` option."""
    m = re.search(r"^\s*members:\s*\n((?:\s*- \S+\s*\n?)+)", markdown, re.M)
    return re.findall(r"- (\S+)", m.group(1)) if m else []


def stub_docstrings(names, stub_path=STUB):
    """The docstrings of the named functions and classes of the stub (for an overloaded
    function, the overload that carries one)."""
    with open(stub_path, encoding="utf-8") as f:
        tree = ast.parse(f.read())
    found = {}
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and node.name in names:
            doc = ast.get_docstring(node)
            if doc:
                found[node.name] = doc
    return [found[n] for n in names if n in found]


def expected_examples(source_path):
    with open(source_path, encoding="utf-8") as f:
        md = f.read()
    texts = [md] + stub_docstrings(reference_members(md))
    return [e for t in texts for e in examples(t)]


def missing(text, expected):
    return [e for e in expected if e not in text]


def find_browser():
    for name in BROWSERS:
        path = shutil.which(name)
        if path:
            return path
    if os.geteuid() == 0 and shutil.which("apt-get"):
        print("site check: installing Debian's chromium with apt-get (a minute or two)", flush=True)
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        for cmd in (["apt-get", "update", "-qq"], ["apt-get", "install", "-y", "-qq", "chromium"]):
            if subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode:
                break
        for name in BROWSERS:
            if shutil.which(name):
                return shutil.which(name)
    return None


def _browser(browser, *args, timeout=120):
    # --no-sandbox: Chromium's sandbox refuses to start as root (CI containers run as root).
    cmd = [browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
           "--hide-scrollbars", "--virtual-time-budget=3000", *args]
    return subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)


class _QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def _serve(site):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                             functools.partial(_QuietHandler, directory=site))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def check(site, out_dir, browser):
    problems = [f"the site ships {name}" for name in NOT_SHIPPED
                if os.path.exists(os.path.join(site, name))]
    os.makedirs(out_dir, exist_ok=True)
    server = _serve(site)
    try:
        base = f"http://127.0.0.1:{server.server_address[1]}/"
        for name, page, source, forbidden in PAGES:
            url = base + page
            shot = os.path.join(out_dir, f"{name}.png")
            r = _browser(browser, f"--screenshot={shot}", "--window-size=1280,1600", url)
            if r.returncode or not os.path.exists(shot):
                problems.append(f"{name}: no screenshot ({r.stderr.strip()[-300:]})")
            dom = _browser(browser, "--dump-dom", url)
            if dom.returncode or "<body" not in dom.stdout:
                problems.append(f"{name}: no DOM from {url} ({dom.stderr.strip()[-300:]})")
                continue
            with open(os.path.join(out_dir, f"{name}.html"), "w", encoding="utf-8") as f:
                f.write(dom.stdout)
            text, highlighted = visible_text(dom.stdout)
            expected = expected_examples(os.path.join(ROOT, "docs", source))
            if not expected:
                problems.append(f"{name}: its source has no examples to look for")
            problems += [f"{name}: example not shown: {e[:80]}" for e in missing(text, expected)]
            if highlighted < 10:
                problems.append(f"{name}: code is not syntax-highlighted")
            problems += [f"{name}: shows {bad!r}" for bad in forbidden if bad in text]
            print(f"site check: {name}: {len(expected)} example lines found; "
                  f"{highlighted} highlighted tokens; screenshot {shot}", flush=True)
    finally:
        server.shutdown()
    return problems


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    site, out_dir = argv[1], argv[2]
    if not os.path.exists(os.path.join(site, "index.html")):
        print(f"site check: no built site in {site}", file=sys.stderr)
        return 1
    browser = find_browser()
    if browser is None:
        reason = "no chromium, and it cannot be installed here (needs root and apt-get)"
        if os.environ.get("CI") or os.environ.get("TARVEL_CI"):
            print(f"site check FAILED: {reason}", file=sys.stderr)
            return 1
        print(f"site check skipped: {reason}")
        return 0
    problems = check(site, out_dir, browser)
    for p in problems:
        print(f"site check: {p}", file=sys.stderr)
    if problems:
        return 1
    print(f"site check: passed; screenshots in {out_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

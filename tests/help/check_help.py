#!/usr/bin/env python3
"""Checks the help page as a browser renders it.

Usage: check_help.py PAGE [BROWSER]

Opens PAGE in headless chromium (or BROWSER), takes the rendered DOM and
checks it: the two action anchors the host opens (#Qelv.Encrypt and
#Qelv.Decrypt) exist, every section is there with its heading, every result
text and argument error is listed, both actions show their arguments, return
value and a Lua example, and the page loads nothing from outside itself.
Prints each failed check and exits 1 when any failed.
"""

import html.parser
import os
import re
import shutil
import subprocess
import sys
import tempfile

RESULT_TEXTS = [
    "OK",
    "Error, no valid key, filename or file doesn't exist!",
    "CRC Failure, data may be corrupt",
    "Error, could not read the file!",
    "Error, could not write the output file!",
    "Error, the file is too large!",
    "Error, not a valid encrypted file!",
]

# Section id -> heading text.
SECTIONS = {
    "overview": "What Qelv does",
    "Qelv.Encrypt": "Qelv.Encrypt",
    "Qelv.Decrypt": "Qelv.Decrypt",
    "results": "Result texts",
    "argument-errors": "Argument errors",
    "limits": "Limits of the file format",
    "failed-calls": "What a failed call leaves behind",
    "on-exit": "Qelv.OnExit",
}

# Facts the limits section must state (lower case, whitespace collapsed).
LIMIT_FACTS = ["crc-32", "not authentication", "first 16 characters", "spaces included",
               "only spaces", "no size limit", "less than a megabyte", "room for both"]

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
        "source", "track", "wbr"}

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
    return ok


def render(page, browser):
    """The DOM after loading, as chromium serializes it."""
    profile = tempfile.mkdtemp(prefix="qelv-help-")
    try:
        if shutil.which(browser) is None:
            sys.exit("browser %r not found (tools/setup.sh installs chromium)" % browser)
        run = subprocess.run(
            [browser, "--headless", "--no-sandbox", "--disable-gpu",
             "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--no-first-run", "--user-data-dir=" + profile,
             "--dump-dom", "file://" + os.path.abspath(page)],
            capture_output=True, text=True, timeout=120)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    if run.returncode != 0 or "<html" not in run.stdout:
        sys.exit("browser failed (status %d):\n%s" % (run.returncode, run.stderr[-2000:]))
    return run.stdout


class Element:
    def __init__(self, tag, attrs, parent):
        self.tag, self.attrs, self.parent = tag, dict(attrs), parent
        self.children = []  # Elements and strings, in order

    def text(self):
        parts = [c if isinstance(c, str) else c.text() for c in self.children]
        return " ".join(" ".join(parts).split())

    def walk(self):
        yield self
        for c in self.children:
            if isinstance(c, Element):
                yield from c.walk()


class TreeBuilder(html.parser.HTMLParser):
    """A tree of the serialized DOM; the serializer closes every element."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Element("#document", [], None)
        self.open = self.root

    def handle_starttag(self, tag, attrs):
        e = Element(tag, attrs, self.open)
        self.open.children.append(e)
        if tag not in VOID:
            self.open = e

    def handle_startendtag(self, tag, attrs):
        self.open.children.append(Element(tag, attrs, self.open))

    def handle_endtag(self, tag):
        e = self.open
        while e is not self.root and e.tag != tag:
            e = e.parent
        if e is not self.root:
            self.open = e.parent

    def handle_data(self, data):
        self.open.children.append(data)


def check_self_contained(root):
    for e in root.walk():
        check(e.tag not in ("script", "link", "img", "iframe", "object", "embed", "video",
                            "audio", "picture", "source", "base"),
              "loads or embeds something: <%s>" % e.tag)
        check("src" not in e.attrs, "<%s src=%r>" % (e.tag, e.attrs.get("src")))
        href = e.attrs.get("href")
        if href is not None:
            check(href.startswith("#"), "link out of the page: %r" % href)
        style = (e.text() if e.tag == "style" else "") + e.attrs.get("style", "")
        check("url(" not in style and "@import" not in style, "style loads a resource")


def check_anchors(root, ids):
    for anchor in ("Qelv.Encrypt", "Qelv.Decrypt"):
        check(anchor in ids, "no element with id=%r for the help anchor" % anchor)
    for e in root.walk():
        href = e.attrs.get("href", "")
        if href.startswith("#"):
            check(href[1:] in ids, "link %r points at no element" % href)


def check_sections(ids):
    for sid, heading in SECTIONS.items():
        if not check(sid in ids, "section %r is missing" % sid):
            continue
        headings = [e.text() for e in ids[sid].walk() if e.tag in ("h1", "h2")]
        check(headings[:1] == [heading], "section %r: heading %r, want %r"
              % (sid, headings[:1], heading))


def check_action(section, name):
    sub = [e.text() for e in section.walk() if e.tag == "h3"]
    for want in ("Arguments", "Return value", "Example"):
        check(want in sub, "%s: no %r heading" % (name, want))
    first_cells = [row_cells(r)[0] for r in section.walk() if r.tag == "tr" and row_cells(r)]
    check([c for c in first_cells if c in ("File", "Output", "Key")] == ["File", "Output", "Key"],
          "%s: argument table lists %r" % (name, first_cells))
    code = [e.text() for e in section.walk() if e.tag == "pre"]
    call = re.compile(re.escape(name) + r"\([^,()]+,[^,()]+,[^,()]+\)")
    check(any(call.search(c) and "local result" in c for c in code),
          "%s: no Lua example calling it with three arguments" % name)
    check('"OK"' in section.text(), "%s: return value \"OK\" not described" % name)


def row_cells(row):
    return [c.text() for c in row.children if isinstance(c, Element) and c.tag in ("td", "th")]


def check_results(section):
    rows = {}
    for r in section.walk():
        cells = row_cells(r) if r.tag == "tr" else []
        if cells:
            rows[cells[0]] = cells[1:]
    for text in RESULT_TEXTS:
        cells = rows.get(text)
        if check(cells is not None, "result text %r is not listed" % text):
            check(len(cells) == 2 and all(cells), "result %r: meaning or advice missing" % text)


def check_argument_errors(section):
    cells = [row_cells(r)[0] for r in section.walk() if r.tag == "tr" and row_cells(r)]
    for message in ("3 arguments required.", "Argument N must be a string."):
        check(message in cells, "argument error %r is not listed" % message)
    check("pcall" in section.text(), "argument errors: no word on catching them")


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    browser = sys.argv[2] if len(sys.argv) == 3 else "chromium"
    builder = TreeBuilder()
    builder.feed(render(sys.argv[1], browser))
    root = builder.root

    ids = {}
    for e in root.walk():
        if "id" in e.attrs:
            check(e.attrs["id"] not in ids, "id %r is used twice" % e.attrs["id"])
            ids.setdefault(e.attrs["id"], e)
    titles = [e.text() for e in root.walk() if e.tag == "title"]
    check(titles and titles[0].startswith("Qelv"), "page title %r" % titles)

    check_self_contained(root)
    check_anchors(root, ids)
    check_sections(ids)
    for name in ("Qelv.Encrypt", "Qelv.Decrypt"):
        if name in ids:
            check_action(ids[name], name)
    if "results" in ids:
        check_results(ids["results"])
    if "argument-errors" in ids:
        check_argument_errors(ids["argument-errors"])
    if "limits" in ids:
        limits = ids["limits"].text().lower()
        for fact in LIMIT_FACTS:
            check(fact in limits, "limits: %r is not stated" % fact)
    if "failed-calls" in ids:
        left = ids["failed-calls"].text()
        check("unchanged" in left and "never changed" in left,
              "failed calls: Output unchanged / source never changed not stated")

    for f in failures:
        print("FAIL:", f)
    print("help page: %d ids, %d sections checked, %d failures"
          % (len(ids), len(SECTIONS), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

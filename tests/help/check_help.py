#!/usr/bin/env python3
"""Checks the help page as a browser renders it.

Usage: check_help.py PAGE [BROWSER]

Opens PAGE in headless chromium (or BROWSER), takes the rendered DOM and
checks it: the two action anchors the host opens (#Qelv.Encrypt and
#Qelv.Decrypt) exist, every section is there with its heading, every result
text and argument error is listed, both actions show their arguments, return
value and a Lua example, and the page loads nothing from outside itself.
The piece size and the working memory the page states must be those of
ENGINE_PIECE_BYTES in engine/engine.h, and no other size may be stated for
them; the run-time example must check Qelv's result and os.remove's.
It then lays the page out in windows 600, 800 and 1200 pixels wide and
checks that it reads there: nothing wider than the window, no example cut
or hidden behind a scroll bar, no table cell squeezed into a tall narrow
column.  Prints each failed check and exits 1 when any failed.
"""

import ast
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

ENGINE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "engine")


def engine_result_texts():
    """The engine's result texts, read from where they are defined."""
    source = os.path.join(ENGINE, "engine.cpp")
    with open(source, encoding="utf-8") as f:
        texts = re.findall(r'^const char result_\w+\[\] = "([^"]*)";', f.read(), re.M)
    if len(texts) < 7:
        sys.exit("check_help.py: the result texts were not found in " + source)
    return texts


RESULT_TEXTS = engine_result_texts()


def constant_value(expression):
    """The value of a C integer constant expression of numbers, + - * << and
    parentheses, such as 1024 * 1024; None for anything else."""
    expression = re.sub(r"\b(0[xX][0-9a-fA-F]+|\d+)[uUlL]*\b", r"\1", expression.strip())
    try:
        tree = ast.parse(expression, mode="eval")
    except SyntaxError:
        return None
    operators = {ast.Add: lambda a, b: a + b, ast.Sub: lambda a, b: a - b,
                 ast.Mult: lambda a, b: a * b, ast.LShift: lambda a, b: a << b}

    def value(node):
        if isinstance(node, ast.Expression):
            return value(node.body)
        if isinstance(node, ast.Constant) and type(node.value) is int:
            return node.value
        if isinstance(node, ast.BinOp) and type(node.op) in operators:
            a, b = value(node.left), value(node.right)
            return None if a is None or b is None else operators[type(node.op)](a, b)
        return None

    return value(tree)


def engine_piece_bytes():
    """ENGINE_PIECE_BYTES, read from engine/engine.h where it is defined."""
    header = os.path.join(ENGINE, "engine.h")
    with open(header, encoding="utf-8") as f:
        found = re.findall(r"\bENGINE_PIECE_BYTES\s*=\s*([^,;}]+)", f.read())
    value = constant_value(found[0]) if len(found) == 1 else None
    if value is None or value <= 0:
        sys.exit("check_help.py: ENGINE_PIECE_BYTES was not found in " + header)
    return value


PIECE_BYTES = engine_piece_bytes()


def piece_words(n):
    """How the page names the piece size (such as "1 MiB") and the working
    memory it means (such as "about a megabyte"): one piece, plus a margin
    of 64 bytes too small to name."""
    for unit, short, word in ((1 << 20, "MiB", "megabyte"), (1 << 10, "KiB", "kilobyte")):
        if n >= unit and n % unit == 0:
            count = n // unit
            return ("%d %s" % (count, short),
                    "about a " + word if count == 1 else "about %d %ss" % (count, word))
    return "{:,} bytes".format(n), "about {:,} bytes".format(n)


PIECE_TEXT, MEMORY_TEXT = piece_words(PIECE_BYTES)

# A size, as a number with a unit or in words.
SIZE = re.compile(r"\d[\d,.]*\s*(?:[kKMGT]i?B|bytes?|kilobytes?|megabytes?|gigabytes?)\b"
                  r"|\b(?:[kKMGT]i?B|kilobytes?|megabytes?|gigabytes?)\b")
# What marks a sentence as one about the working memory or the piece size.
MEMORY_WORDS = re.compile(r"memory|at a time|\bpieces?\b|buffer", re.I)

# Section id -> heading text.
SECTIONS = {
    "overview": "What Qelv does",
    "Qelv.Encrypt": "Qelv.Encrypt",
    "Qelv.Decrypt": "Qelv.Decrypt",
    "results": "Result texts",
    "argument-errors": "Argument errors",
    "keys": "Keys and characters",
    "build-time": "Encrypting at build time",
    "limits": "Limits of the file format",
    "not-hidden": "What an encrypted file does not hide",
    "failed-calls": "What a failed call leaves behind",
    "on-exit": "Qelv.OnExit",
}

# Facts the limits section must state (lower case, whitespace collapsed).
LIMIT_FACTS = ["what an encrypted file does not hide", "keys in scripts can be read",
               "no size limit", "works through a file %s at a time" % PIECE_TEXT.lower(),
               "needs %s of working memory" % MEMORY_TEXT, "whatever the file's size",
               "room for both", "259 characters"]

# Facts the section on what the format does not hide must state.
NOT_HIDDEN_FACTS = ["23-byte header", "exact length", "crc-32", "without the key",
                    "qelv info", "public video", "not authentication", "fix up the check value",
                    "first 8 bytes", "linear", "first 16 bytes", "spaces included",
                    "ansi code page", "only spaces"]

# The plug-in's version, as irPlg_GetPluginVersion gives it.
VERSION = "1.0.0.1"

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
        "source", "track", "wbr"}

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
    return ok


def render(page, browser, width=None):
    """The DOM after loading, as chromium serializes it, in a window of
    width pixels when given."""
    profile = tempfile.mkdtemp(prefix="qelv-help-")
    try:
        if shutil.which(browser) is None:
            sys.exit("browser %r not found (tools/setup.sh installs chromium)" % browser)
        size = ["--window-size=%d,900" % width] if width else []
        run = subprocess.run(
            [browser, "--headless", "--no-sandbox", "--disable-gpu",
             "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--no-first-run", "--user-data-dir=" + profile]
            + size + ["--dump-dom", "file://" + os.path.abspath(page)],
            capture_output=True, text=True, timeout=120)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    if run.returncode != 0 or "<html" not in run.stdout:
        sys.exit("browser failed (status %d):\n%s" % (run.returncode, run.stderr[-2000:]))
    return run.stdout


# Measures the laid-out page in the browser and leaves the problems found,
# as JSON, in <pre id="layout-report">.  Only a copy of the page carries it:
# the page itself holds no script.
LAYOUT_SCRIPT = """
<script>
(function () {
  var problems = [];
  var view = document.documentElement.clientWidth;
  function shown(e) { return e.textContent.replace(/\\s+/g, ' ').trim().slice(0, 40); }
  if (document.documentElement.scrollWidth > view)
    problems.push('the page is ' + document.documentElement.scrollWidth + ' px wide');
  document.querySelectorAll('pre').forEach(function (p) {
    if (p.scrollWidth > p.clientWidth + 1)
      problems.push('example cut or scrolled (' + p.scrollWidth + ' px in ' + p.clientWidth +
                    '): ' + shown(p));
    if (p.getBoundingClientRect().right > view + 1)
      problems.push('example beyond the window: ' + shown(p));
  });
  document.querySelectorAll('table').forEach(function (t) {
    if (t.getBoundingClientRect().right > view + 1)
      problems.push('table beyond the window: ' + shown(t));
    t.querySelectorAll('td, th').forEach(function (c) {
      // The lines the cell's own text takes (the cell itself is as tall as
      // its row): its boxes, a new line where one starts below the last.
      var range = document.createRange();
      range.selectNodeContents(c);
      var boxes = Array.prototype.filter.call(range.getClientRects(),
                                              function (r) { return r.width > 0; });
      boxes.sort(function (a, b) { return a.top - b.top; });
      var lines = 0, bottom = -Infinity;
      boxes.forEach(function (r) {
        if (r.top >= bottom - 2) { lines++; bottom = r.bottom; }
        else bottom = Math.max(bottom, r.bottom);
      });
      var text = c.textContent.replace(/\\s+/g, ' ').trim();
      // Tall and narrow: many lines of a few characters each.
      if (lines > 2 && text.length / lines < 16)
        problems.push('cell squeezed into ' + lines + ' lines of ' +
                      Math.round(c.getBoundingClientRect().width) + ' px: ' + shown(c));
    });
  });
  var report = document.createElement('pre');
  report.id = 'layout-report';
  report.textContent = JSON.stringify(problems);
  document.body.appendChild(report);
})();
</script>
"""

LAYOUT_WIDTHS = (600, 800, 1200)


def check_layout(page, browser):
    """Lays a copy of the page out at each width and reports what does not fit."""
    with open(page, encoding="utf-8") as f:
        text = f.read()
    folder = tempfile.mkdtemp(prefix="qelv-layout-")
    try:
        copy = os.path.join(folder, "Qelv.html")
        with open(copy, "w", encoding="utf-8") as f:
            f.write(text.replace("</body>", LAYOUT_SCRIPT + "</body>"))
        for width in LAYOUT_WIDTHS:
            builder = TreeBuilder()
            builder.feed(render(copy, browser, width))
            reports = [e for e in builder.root.walk() if e.attrs.get("id") == "layout-report"]
            if not check(len(reports) == 1, "%d px: the layout was not measured" % width):
                continue
            for problem in json.loads(reports[0].text()):
                check(False, "%d px: %s" % (width, problem))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


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


def writes_source_folder(code):
    """Whether a Qelv call in code names an Output in _SourceFolder, which a
    CD or a read-only installation cannot hold; local variables are
    followed one step."""
    values = dict(re.findall(r"local\s+(\w+)\s*=\s*([^;\n]+)", code))
    for output in re.findall(r"Qelv\.\w+\(\s*[^,()]+,\s*([^,()]+),", code):
        output = output.strip()
        if "_SourceFolder" in values.get(output, output):
            return True
    return False


def writes_temp_folder(code):
    """Whether a Qelv call in code names an Output in _TempFolder."""
    values = dict(re.findall(r"local\s+(\w+)\s*=\s*([^;\n]+)", code))
    return any("_TempFolder" in values.get(o.strip(), o)
               for o in re.findall(r"Qelv\.\w+\(\s*[^,()]+,\s*([^,()]+),", code))


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


def sentences(root):
    """The page's text cut into sentences and clauses, outside examples."""
    parts = []
    for e in root.walk():
        if e.tag in ("p", "li", "td", "th", "h1", "h2", "h3"):
            own = " ".join(c if isinstance(c, str) else c.text() for c in e.children
                           if isinstance(c, str) or c.tag not in ("p", "ul", "ol", "pre", "table"))
            parts.extend(re.split(r"(?<=[.!?:;])\s+", " ".join(own.split())))
    return [p for p in parts if p]


def check_memory(root, ids):
    """The piece size and the memory are stated as engine.h has them, and no
    other size is stated for them anywhere on the page."""
    if "results" in ids:
        for r in ids["results"].walk():
            cells = row_cells(r) if r.tag == "tr" else []
            if cells and cells[0] == "Error, the file is too large!":
                check(PIECE_TEXT in " ".join(cells[1:]),
                      "result 'too large': the piece size %s is not stated" % PIECE_TEXT)
    allowed = re.compile("|".join(re.escape(t) for t in (PIECE_TEXT, MEMORY_TEXT)), re.I)
    for sentence in sentences(root):
        if MEMORY_WORDS.search(sentence):
            wrong = SIZE.findall(allowed.sub("", sentence))
            check(not wrong, "a size other than the engine's piece (%s, %s) is stated for "
                  "memory or pieces: %r in %r" % (PIECE_TEXT, MEMORY_TEXT, wrong, sentence))


# Each call whose result an example must keep and test -> how it is tested.
RESULT_TESTS = {
    "Qelv.Encrypt": r'(?:if|elseif)\s+{0}\s*[~=]=\s*"OK"',
    "Qelv.Decrypt": r'(?:if|elseif)\s+{0}\s*[~=]=\s*"OK"',
    # os.remove returns nil and a message when it fails.
    "os.remove": r"(?:if|elseif)\s+(?:not\s+{0}\b|{0}\s*[~=]=\s*nil\b|{0}\s+then\b)",
}


def results_checked(code):
    """What an example leaves unchecked: each call of RESULT_TESTS must keep
    its result in a local that is tested after it."""
    problems = []
    for call, test in RESULT_TESTS.items():
        for m in re.finditer(re.escape(call) + r"\(", code):
            kept = re.search(r"local\s+(\w+)(?:\s*,\s*\w+)*\s*=\s*$", code[:m.start()])
            if not (kept and re.search(test.format(re.escape(kept.group(1))), code[m.end():])):
                problems.append("the result of %s is not tested" % call)
    return problems


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
    if "not-hidden" in ids:
        hidden = ids["not-hidden"].text().lower()
        for fact in NOT_HIDDEN_FACTS:
            check(fact in hidden, "what is not hidden: %r is not stated" % fact)
    check_memory(root, ids)
    if "overview" in ids:
        overview = ids["overview"].text()
        check("~qelv-XXXXXXXX.tmp" in overview,
              "overview: the temporary file ~qelv-XXXXXXXX.tmp is not named")
    check(VERSION in root.text(), "the version %s is not stated" % VERSION)
    if "Qelv.Decrypt" in ids:
        # The examples, without the synopsis at the top.
        examples = [e.text() for e in ids["Qelv.Decrypt"].walk() if e.tag == "pre"
                    and not re.fullmatch(r"result = Qelv\.\w+\(File, Output, Key\)", e.text())]
        check(any(writes_temp_folder(c) and "os.remove" in c for c in examples),
              "Qelv.Decrypt: no example that decrypts into the temporary folder and deletes")
        for c in examples:
            for problem in results_checked(c):
                check(False, "Qelv.Decrypt: %s in the example %r" % (problem, c[:50]))
    for sid in ("Qelv.Encrypt", "Qelv.Decrypt"):
        if sid in ids:
            for e in ids[sid].walk():
                if e.tag == "pre":
                    check(not writes_source_folder(e.text()),
                          "%s: an example writes into _SourceFolder" % sid)
    if "keys" in ids:
        keys = ids["keys"].text()
        check("windows-1252" in keys.lower() and "--key-codepage" in keys,
              "keys: the code page keys are spelt in is not stated")
    if "build-time" in ids:
        check("qelv encrypt" in ids["build-time"].text(), "build time: no command-line example")
    if "failed-calls" in ids:
        left = ids["failed-calls"].text()
        check("unchanged" in left and "never changed" in left,
              "failed calls: Output unchanged / source never changed not stated")

    check_layout(sys.argv[1], browser)

    for f in failures:
        print("FAIL:", f)
    print("help page: %d ids, %d sections checked, %d failures"
          % (len(ids), len(SECTIONS), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

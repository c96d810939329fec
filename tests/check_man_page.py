#!/usr/bin/env python3
"""qelv(1) against the built program's --help, and its rendering.

    check_man_page.py QELV MAN-PAGE

Every command that --help lists is a tag under COMMANDS, and every tag there
a command; every long option that --help names, anywhere in its text, is a
tag under OPTIONS, with the short form --help pairs it with; every option a
tag documents, and every option the page names anywhere, is one that --help
lists.  groff and man render the page without a warning.
"""
import re
import subprocess
import sys

LONG = re.compile(r"(?<![\w-])--([a-z][a-z0-9-]*)")
SHORT = re.compile(r"(?<![\w-])-([A-Za-z])(?![\w-])")
SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "COMMANDS", "OPTIONS", "EXIT STATUS",
            "ENVIRONMENT", "FILES", "EXAMPLES", "LIMITS"]

failures = []


def fail(text):
    failures.append(text)


def plain(roff):
    """A roff line as text: macros, fonts and escapes gone."""
    text = re.sub(r"^\.[A-Z]{1,2}\s?", "", roff)
    text = re.sub(r"\\f[BIRP]", "", text)
    text = text.replace("\\-", "-").replace("\\e", "\\").replace('"', "")
    return text


def read_help(qelv):
    run = subprocess.run([qelv, "--help"], capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"{qelv} --help exited {run.returncode}")
    text = run.stdout
    block = re.search(r"^Commands:\n((?:  .*\n)+)", text, re.M)
    if not block:
        sys.exit("--help has no Commands: block")
    commands = set(re.findall(r"^  ([a-z]+)\s", block.group(1), re.M))
    longs = set(LONG.findall(text))
    pairs = dict((long, short) for short, long in
                 re.findall(r"^\s+-([A-Za-z]), --([a-z][a-z0-9-]*)", text, re.M))
    if len(commands) < 2 or len(longs) < 5:
        sys.exit(f"--help read wrongly: commands {sorted(commands)}, options {sorted(longs)}")
    return commands, longs, pairs


def read_page(path):
    lines = open(path, encoding="utf-8").read().splitlines()
    sections, current = {}, None
    for line in lines:
        m = re.match(r'^\.SH\s+"?([^"]*)"?\s*$', line)
        if m:
            current = m.group(1)
            sections[current] = []
        elif current is not None:
            sections[current].append(line)
    return lines, sections


def tags(section_lines):
    """The tag lines of the .TP paragraphs, as text."""
    return [plain(section_lines[i + 1]) for i, line in enumerate(section_lines[:-1])
            if line.startswith(".TP")]


def main():
    qelv, page = sys.argv[1], sys.argv[2]
    commands, longs, pairs = read_help(qelv)
    lines, sections = read_page(page)

    for name in SECTIONS:
        if name not in sections:
            fail(f"no section {name}")

    page_commands = set()
    for tag in tags(sections.get("COMMANDS", [])):
        page_commands.update(tag.split())
    for command in sorted(commands - page_commands):
        fail(f"command {command} (in --help) is not under COMMANDS")
    for command in sorted(page_commands - commands):
        fail(f"COMMANDS lists {command}, which --help does not")

    documented, page_pairs = set(), {}
    for tag in tags(sections.get("OPTIONS", [])):
        tag_longs, tag_shorts = LONG.findall(tag), SHORT.findall(tag)
        if not tag_longs:
            fail(f"an OPTIONS tag names no long option: {tag!r}")
        documented.update(tag_longs)
        for short in tag_shorts:
            page_pairs[tag_longs[0] if tag_longs else "?"] = short
    for long in sorted(longs - documented):
        fail(f"--{long} (in --help) is not documented under OPTIONS")
    for long in sorted(documented - longs):
        fail(f"OPTIONS documents --{long}, which --help does not list")
    for long, short in sorted(pairs.items()):
        if page_pairs.get(long) != short:
            fail(f"--help gives --{long} the short form -{short}; "
                 f"the page gives {('-' + page_pairs[long]) if long in page_pairs else 'none'}")
    for long, short in sorted(page_pairs.items()):
        if long not in pairs:
            fail(f"the page gives --{long} the short form -{short}, --help none")

    named = set(LONG.findall(plain("\n".join(l for l in lines if not l.startswith('.\\"')))))
    for long in sorted(named - longs):
        fail(f"the page names --{long}, which --help does not list")

    renders = [["groff", "-man", "-Tutf8", "-ww", "-z", page],
               ["man", "--warnings", "-E", "UTF-8", "-l", page]]
    for command in renders:
        run = subprocess.run(command, capture_output=True, text=True,
                             env={"PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8", "MANWIDTH": "80"})
        if run.returncode != 0 or run.stderr.strip():
            fail(f"{' '.join(command[:-1])} PAGE: status {run.returncode}, {run.stderr.strip()}")

    for text in failures:
        print(f"man page: {text}")
    print(f"man page: {len(commands)} commands and {len(longs)} long options of --help checked, "
          f"{len(failures)} failures")
    return 1 if failures else 0


sys.exit(main())

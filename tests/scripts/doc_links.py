#!/usr/bin/env python3
"""Checks every relative link and picture in README.md and docs/: the file it names
exists, and so does the heading it names after '#', with headings turned into
anchors as GitHub does (lower case, punctuation dropped, spaces to hyphens, a
repeated heading numbered -1, -2, ...).
    tests/scripts/doc_links.py [FILE.md ...]   (default: README.md and docs/**/*.md)
Exit code 0 when every link resolves; each broken one is printed with its line.
"""
import os
import re
import sys
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

FENCE = re.compile(r"^\s*(```|~~~)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
CODE_SPAN = re.compile(r"(`+)(.+?)\1")
INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s.*)?$")
HTML_LINK = re.compile(r"<(?:a|img)\s[^>]*?(?:href|src)=\"([^\"]+)\"", re.IGNORECASE)


def anchor(heading):
    """The anchor GitHub gives a heading's text."""
    text = CODE_SPAN.sub(lambda m: m.group(2), heading)
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text)  # a link's text stays
    text = re.sub(r"<[^>]+>", "", text)  # inline HTML goes
    text = text.strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)  # letters, digits, _ and - stay
    return text.replace(" ", "-")


def lines_outside_code(path):
    """(line number, text) of every line that is not inside a fenced code block."""
    inside = False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if FENCE.match(line):
                inside = not inside
                continue
            if not inside:
                yield number, line.rstrip("\n")


def anchors_of(path, cache={}):
    if path not in cache:
        found, seen = set(), {}
        for _, line in lines_outside_code(path):
            m = HEADING.match(line)
            if not m:
                continue
            base = anchor(m.group(2))
            n = seen.get(base, 0)
            seen[base] = n + 1
            found.add(base if n == 0 else f"{base}-{n}")
        cache[path] = found
    return cache[path]


def links_in(path):
    for number, line in lines_outside_code(path):
        plain = CODE_SPAN.sub("", line)
        for pattern in (INLINE_LINK, HTML_LINK):
            for m in pattern.finditer(plain):
                yield number, m.group(1)
        m = REFERENCE.match(plain)
        if m:
            yield number, m.group(1)


def check_file(path):
    problems = []
    for number, target in links_in(path):
        if not target or re.match(r"^[a-z][a-z0-9+.-]*:", target, re.IGNORECASE):
            continue  # web addresses, mail: not this check's
        file_part, _, fragment = target.partition("#")
        file_part = urllib.parse.unquote(file_part)
        where = f"{os.path.relpath(path, ROOT)}:{number}: {target}"
        if file_part.startswith("/"):
            problems.append(f"{where}: an absolute path (GitHub resolves it against the site, not the repository)")
            continue
        resolved = os.path.normpath(os.path.join(os.path.dirname(path), file_part)) if file_part else path
        if not os.path.exists(resolved):
            problems.append(f"{where}: no such file")
        elif fragment and resolved.endswith(".md"):
            if urllib.parse.unquote(fragment).lower() not in anchors_of(resolved):
                problems.append(f"{where}: no heading with that anchor in {os.path.relpath(resolved, ROOT)}")
    return problems


def default_files():
    files = [os.path.join(ROOT, "README.md")]
    for folder, _, names in os.walk(os.path.join(ROOT, "docs")):
        files += [os.path.join(folder, name) for name in sorted(names) if name.endswith(".md")]
    return files


def main():
    # The anchors of headings GitHub is known to give.
    for heading, expected in (("Moving in and out", "moving-in-and-out"),
                              ("The `glimkeep-cli` companion", "the-glimkeep-cli-companion"),
                              ("Keys: Ctrl+S, F3 & Enter", "keys-ctrls-f3--enter"),
                              ("Format 2.0 (Glimkeep 1.1)", "format-20-glimkeep-11"),
                              ("One-time codes", "one-time-codes"),
                              ("create_db and [links](x.md)", "create_db-and-links")):
        if anchor(heading) != expected:
            print(f"anchor of {heading!r}: {anchor(heading)!r}, expected {expected!r}", file=sys.stderr)
            return 1
    files = [os.path.abspath(f) for f in sys.argv[1:]] or default_files()
    problems = [p for f in files for p in check_file(f)]
    for p in problems:
        print(p, file=sys.stderr)
    links = sum(1 for f in files for _ in links_in(f))
    print(f"documentation links: {len(files)} files, {links} links, {len(problems)} broken")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

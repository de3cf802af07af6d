#!/usr/bin/env python3
"""Finds reads of the calendar time outside platform/: the identifiers `time`,
`time_t`, `localtime`, `gmtime`, `mktime` and `system_clock` (with or without std::)
as whole identifiers in code, comments, strings and #include lines aside. Tests and
benchmarks may use them. Every other file reads the date through
platform/calendar_time.h, whose seconds have 64 bits on every build.
    tests/scripts/calendar_time_lint.py [FILE ...]   (default: every tracked .cpp/.h/.c)
First checks itself against planted lines. Exit code 0 when nothing is found.
"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

FORBIDDEN = ("time", "time_t", "localtime", "gmtime", "mktime", "system_clock")
IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
# Folders whose files may use them: the clock itself, the tests and the benchmarks.
EXEMPT = ("platform/", "tests/", "bench/")
SUFFIXES = (".cpp", ".h", ".c", ".hpp", ".cc")
RAW_STRING = re.compile(r'R"([^()\\\s]{0,16})\(')


def code_only(text):
    """`text` with comments, string and character literals and #include lines blanked
    out (newlines kept, so that line numbers stay)."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start:
            m = re.match(r"[ \t]*#[ \t]*include\b[^\n]*", text[i:])
            if m:
                out.append(" " * len(m.group(0)))
                i += len(m.group(0))
                line_start = False
                continue
        line_start = c == "\n"
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            out.append(" " * (end - i))
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
        elif RAW_STRING.match(text, i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            delimiter = RAW_STRING.match(text, i).group(1)
            close = ")" + delimiter + '"'
            end = text.find(close, i)
            end = n if end < 0 else end + len(close)
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            end = min(j + 1, n)
            out.append(" " * (end - i))
            i = end
        else:
            out.append(c)
            i += 1
    return "".join(out)


def findings_in_text(text):
    """(line number, identifier) of every forbidden identifier in the code of `text`."""
    found = []
    for number, line in enumerate(code_only(text).split("\n"), 1):
        for m in IDENTIFIER.finditer(line):
            if m.group(0) in FORBIDDEN:
                found.append((number, m.group(0)))
    return found


def checked(path):
    """True when the file at `path` (relative to the source root) is checked."""
    path = path.replace(os.sep, "/")
    return path.endswith(SUFFIXES) and not path.startswith(EXEMPT)


def scan(root, paths):
    problems = []
    for path in paths:
        if not checked(path):
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, name in findings_in_text(f.read()):
                problems.append(f"{path}:{number}: '{name}' reads the calendar time outside platform/ "
                                f"(use platform/calendar_time.h)")
    return problems


# Planted lines: (line, the identifiers it must report).
PLANTED = (
    ("const long long now = std::time(nullptr);", ["time"]),
    ("auto t = time(0);", ["time"]),
    ("std::time_t now;", ["time_t"]),
    ("if (const std::tm* t = std::localtime(&now)) local = *t;", ["localtime"]),
    ("::gmtime(&now);", ["gmtime"]),
    ("return mktime(&fields);", ["mktime"]),
    ("using std::chrono::system_clock;", ["system_clock"]),
    ("auto n = std::chrono::system_clock::now().time_since_epoch();", ["system_clock"]),
    ("time_t a = time(nullptr); localtime(&a);", ["time_t", "time", "localtime"]),
    ("x = s.time;", ["time"]),
    ("return local_time(seconds, t);", []),
    ("std::int64_t now = unix_time_now();", []),
    ("auto d = clock.time_since_epoch();", []),
    ("std::tm fields = {};", []),
    ("timer.start(); times = 2; mytime = 1; time2 = 0;", []),
    ("// the time of the save, from std::time", []),
    ("int a; /* localtime(&now) */ int b;", []),
    ('text = "one time, time_t and gmtime";', []),
    ("char c = 't'; char q = '\\''; int time_ok = 0;", []),
    ('auto r = R"x(time(nullptr) " )" mktime)x";', []),
    ("#include <time.h>", []),
    ("  #  include <sys/time.h>", []),
    ('s = "a \\" time";', []),
)


def self_test():
    """The planted lines and files: each reports exactly what it should."""
    failures = []
    for line, expected in PLANTED:
        got = [name for _, name in findings_in_text(line)]
        if got != expected:
            failures.append(f"planted line {line!r}: found {got}, expected {expected}")
    # Line numbers survive a comment of several lines and a raw string of several lines.
    text = "/* a\n time()\n */\nauto r = R\"(\ntime\n)\";\nstd::time(nullptr);\n"
    if findings_in_text(text) != [(7, "time")]:
        failures.append(f"lines across comments: found {findings_in_text(text)}, expected [(7, 'time')]")
    # Folders: the clock, the tests and the benchmarks may; every other folder may not.
    planted_files = {
        "platform/calendar_time_posix.cpp": True,
        "tests/otp/otp_test.cpp": True,
        "bench/bench_main.cpp": True,
        "otp/otp.cpp": False,
        "ui/editor/save_command_win.cpp": False,
        "vault/platform/x.h": False,
        "notes.txt": True,
    }
    with tempfile.TemporaryDirectory() as root:
        for path in planted_files:
            os.makedirs(os.path.dirname(os.path.join(root, path)) or root, exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                f.write("// comment\nauto t = std::time(nullptr);\n")
        problems = scan(root, list(planted_files))
        for path, allowed in planted_files.items():
            reported = [p for p in problems if p.startswith(path + ":2: 'time'")]
            if allowed == bool(reported):
                failures.append(f"planted file {path}: {'reported' if reported else 'not reported'}")
    return failures


def tracked_files():
    names = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True, capture_output=True).stdout
    return [n for n in names.decode("utf-8").split("\0") if n]


def main():
    failures = self_test()
    for f in failures:
        print(f"calendar time lint self-test: {f}", file=sys.stderr)
    if failures:
        return 1
    paths = [os.path.relpath(os.path.abspath(p), ROOT) for p in sys.argv[1:]] or tracked_files()
    problems = scan(ROOT, paths)
    for p in problems:
        print(p, file=sys.stderr)
    print(f"calendar time: {sum(1 for p in paths if checked(p))} files checked, {len(problems)} found outside platform/")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

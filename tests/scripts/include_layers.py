#!/usr/bin/env python3
"""Checks that the includes between the source folders only point down.

    tests/scripts/include_layers.py [--root DIR]

The folders stand on floors: a file may include its own folder and the folders of
lower floors, never one of its own floor or above. In ui/, common/ includes no other
room, dialogs/ only common/, and nothing outside ui/editor/ (in ui/ or app/) reaches
the editor but through editor_window.h and editor_options.h. Tests, benchmarks and
fuzzers may include what they test. First checks itself against planted files.
Exit code 0 when every include points down.
"""
import os
import re
import subprocess
import sys

FLOORS = {
    "platform": 0,
    "crypto": 0,
    "tree": 1,
    "db": 2,
    "vault": 3,
    "otp": 3,
    "csv": 3,
    "backups": 4,
    "audit": 5,
    "autotype": 5,
    "cli": 6,
    "ui": 6,
    "app": 7,
}
EDITOR_DOORS = ("ui/editor/editor_window.h", "ui/editor/editor_options.h")
INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*"([^"]+)"', re.M)
SUFFIXES = (".cpp", ".h", ".c")


def problems_of(path, text):
    """What is wrong with the includes of the file at `path` (relative, with /)."""
    parts = path.split("/")
    folder = parts[0]
    if folder not in FLOORS or len(parts) < 2:
        return []
    room = parts[1] if folder == "ui" and len(parts) > 2 else None
    found = []
    for m in INCLUDE.finditer(text):
        target = m.group(1)
        line = text.count("\n", 0, m.start()) + 1
        where = "%s:%d: %s" % (path, line, target)
        to = target.split("/")
        if len(to) < 2 or to[0] not in FLOORS:
            continue
        if to[0] != folder and FLOORS[to[0]] >= FLOORS[folder]:
            found.append("%s: %s/ may not include %s/ (not below it)" % (where, folder, to[0]))
            continue
        if to[0] != "ui" or len(to) < 3:
            continue
        target_room = to[1]
        if room == "common" and target_room != "common":
            found.append("%s: ui/common includes no other room" % where)
        elif room == "dialogs" and target_room not in ("common", "dialogs"):
            found.append("%s: ui/dialogs includes only ui/common" % where)
        elif target_room == "editor" and room != "editor" and target not in EDITOR_DOORS:
            found.append("%s: outside ui/editor/ only %s" % (where, " and ".join(EDITOR_DOORS)))
    return found


def tracked_files(root):
    out = subprocess.run(["git", "-C", root, "ls-files"], capture_output=True, text=True, check=True).stdout
    return [p for p in out.splitlines() if p.endswith(SUFFIXES)]


PLANTED = {
    # Each of these must be found...
    "tree/x.h": '#include "db/database.h"\n',
    "vault/x.cpp": '#include "otp/totp.h"\n',
    "audit/x.cpp": '#include "autotype/matching.h"\n',
    "db/x.cpp": '#include "ui/common/text.h"\n',
    "cli/x.cpp": '  # include "ui/editor/editor_window.h"\n',
    "ui/common/x.h": '#include "ui/editor/editor_window.h"\n',
    "ui/dialogs/x.cpp": '#include "ui/backups/backups.h"\n',
    "ui/report/x.cpp": '#include "ui/editor/editor_state.h"\n',
    "app/x.cpp": '#include "ui/editor/absence_lock.h"\n',
}
ALLOWED = {
    # ...and none of these.
    "vault/y.cpp": '#include "db/database.h"\n#include "vault/save.h"\n#include <string>\n',
    "ui/report/y.cpp": '#include "ui/editor/editor_window.h"\n#include "ui/common/gdi.h"\n#include "audit/report.h"\n',
    "ui/editor/y.cpp": '#include "ui/editor/editor_state.h"\n',
    "ui/dialogs/y.cpp": '#include "ui/common/text.h"\n',
    "app/y.cpp": '#include "ui/window_entry_points.h"\n#include "ui/editor/editor_options.h"\n',
    "tests/ui/y.cpp": '#include "ui/editor/editor_state.h"\n',
    "bench/y.cpp": '#include "ui/editor/editor_commands.h"\n',
    "ui/y.h": '#include "vault/session.h"\n',
}


def self_check():
    missed = [p for p, text in PLANTED.items() if not problems_of(p, text)]
    wrong = [p for p, text in ALLOWED.items() if problems_of(p, text)]
    for p in missed:
        print("include_layers.py: the planted %s was not found" % p)
    for p in wrong:
        print("include_layers.py: the allowed %s was refused: %s" % (p, problems_of(p, ALLOWED[p])))
    return not missed and not wrong


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    if len(argv) == 3 and argv[1] == "--root":
        root = argv[2]
    if not self_check():
        return 1
    found = []
    files = tracked_files(root)
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            found += problems_of(path, f.read())
    for line in found:
        print(line)
    print("includes: %d files, %d pointing up or through a side door" % (len(files), len(found)))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

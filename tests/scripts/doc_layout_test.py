#!/usr/bin/env python3
"""tests/scripts/doc_layout.py against copies of this tree that drift from their
pages as the tree does: a new library, a renamed one, a moved header, a test folder
lost or never added, a changed build type. Each must be named exactly; the
unchanged copy must pass.
    tests/scripts/doc_layout_test.py        (exit code 0 when every case passes)
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECK = os.path.join(ROOT, "tests", "scripts", "doc_layout.py")
failures = []


def copy_of_tree(target):
    """The files git knows in this clone (tracked, or new and not ignored): the pages
    and CMake's files copied, every other file there but empty (the check reads
    only their names)."""
    names = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard", "-z"], cwd=ROOT,
                           capture_output=True, check=True).stdout.decode().split("\0")
    for name in names:
        if name and os.path.isfile(os.path.join(ROOT, name)):
            os.makedirs(os.path.join(target, os.path.dirname(name)), exist_ok=True)
            if name.endswith(("CMakeLists.txt", ".md", ".json")):
                shutil.copy2(os.path.join(ROOT, name), os.path.join(target, name))
            else:
                open(os.path.join(target, name), "wb").close()


def edit(root, name, old, new):
    path = os.path.join(root, name)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if old not in text:
        raise SystemExit(f"the case no longer fits the tree: {old!r} not in {name}")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text.replace(old, new, 1))


def write(root, name, text):
    os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
    with open(os.path.join(root, name), "w", encoding="utf-8") as f:
        f.write(text)


def new_library(root):
    write(root, "keys/CMakeLists.txt", "glimkeep_library(glimkeep_keys SOURCES keys.cpp)\n")
    write(root, "keys/keys.cpp", "\n")
    edit(root, "CMakeLists.txt", "add_subdirectory(audit)\n", "add_subdirectory(audit)\nadd_subdirectory(keys)\n")


def renamed_library(root):
    edit(root, "db/CMakeLists.txt", "glimkeep_library(glimkeep_db", "glimkeep_library(glimkeep_database")


def moved_header(root):
    os.rename(os.path.join(root, "ui/common/dpi.h"), os.path.join(root, "platform/dpi.h"))


def unlisted_header(root):
    write(root, "ui/common/focus.h", "#pragma once\n")


def new_ui_folder(root):
    write(root, "ui/lock/lock_win.cpp", "\n")


def lost_test_folder(root):
    shutil.rmtree(os.path.join(root, "tests/otp"))


def test_folder_never_added(root):
    write(root, "tests/vault/CMakeLists.txt", "glimkeep_add_test(glimkeep_vault_tests SOURCES save_test.cpp)\n")


def windows_only_folder(root):
    edit(root, "tests/CMakeLists.txt", "set(dirs platform crypto db tree otp csv autotype backups audit cli e2e)",
         "set(dirs platform crypto db tree otp csv autotype backups audit e2e)")
    edit(root, "tests/CMakeLists.txt", "list(APPEND dirs ui app)", "list(APPEND dirs ui app cli)")


def bench_build_type(root):
    path = os.path.join(root, "CMakePresets.json")
    with open(path, encoding="utf-8") as f:
        presets = json.load(f)
    for preset in presets["configurePresets"]:
        if preset["name"] == "bench":
            preset["cacheVariables"]["CMAKE_BUILD_TYPE"] = "RelWithDebInfo"
    with open(path, "w", encoding="utf-8") as f:
        json.dump(presets, f)


def row_dropped(root):
    path = os.path.join(root, "docs/developers.md")
    with open(path, encoding="utf-8") as f:
        lines = [line for line in f if not line.startswith("| `csv/` |")]
    with open(path, "w", encoding="utf-8") as f:
        f.writelines(lines)


# Each case: the change, and the lines the check must print (exactly these).
CASES = [
    ("unchanged", lambda root: None, []),
    ("a new library", new_library, [
        "docs/developers.md, table Layout: the folder keys/ is in the tree but has no row",
        "docs/developers.md, the table Builds, row native: leaves out keys/, whose library the native build makes",
        "docs/developers.md, the list after \"The portable libraries\": leaves out keys/, whose library the native "
        "build makes"]),
    ("a renamed library", renamed_library, [
        "docs/developers.md, table Layout: the row of db/ names the libraries ['glimkeep_db'], db/CMakeLists.txt "
        "defines ['glimkeep_database']"]),
    ("a header moved out of ui/common", moved_header, [
        "docs/developers.md, table Layout: the row of ui/common/ names dpi.h, which is not in ui/common/"]),
    ("a header of ui/common left out", unlisted_header, [
        "docs/developers.md, table Layout: the row of ui/common/ leaves out focus.h"]),
    ("a new folder of ui", new_ui_folder, [
        "docs/developers.md, table Layout: the folder ui/lock/ is in the tree but has no row"]),
    ("a row dropped", row_dropped, [
        "docs/developers.md, table Layout: the folder csv/ is in the tree but has no row"]),
    ("a test folder lost", lost_test_folder, [
        "docs/tests.md, table Test folders: the row of tests/otp/ names a folder the tree does not have",
        "tests/CMakeLists.txt adds tests/otp/, which the tree does not have"]),
    ("a test folder never added", test_folder_never_added, [
        "tests/CMakeLists.txt does not add tests/vault/, which has a CMakeLists.txt: its tests never run",
        "docs/tests.md, table Test folders: tests/vault/ is in the tree but has no row"]),
    ("a test folder only the Windows builds add", windows_only_folder, [
        "docs/tests.md, table Test folders: tests/cli/ is built in \"Windows builds\" (tests/CMakeLists.txt), "
        "the table says \"every build\""]),
    ("the bench build type", bench_build_type, [
        "docs/developers.md, table Builds: the row of bench should say RelWithDebInfo and -O2 (CMakePresets.json "
        "builds it as RelWithDebInfo), it says g++, Release (-O3)"]),
]

with tempfile.TemporaryDirectory() as scratch:
    pristine = os.path.join(scratch, "pristine")
    copy_of_tree(pristine)
    for name, change, expected in CASES:
        root = os.path.join(scratch, re.sub(r"\W+", "-", name))
        shutil.copytree(pristine, root)
        change(root)
        result = subprocess.run([sys.executable, CHECK, "--root", root], capture_output=True, text=True, timeout=120)
        printed = result.stdout.splitlines()
        if expected:
            ok = result.returncode == 1 and sorted(printed) == sorted(expected)
        else:
            ok = result.returncode == 0 and printed == ["docs/developers.md and docs/tests.md match the tree and CMake"]
        if not ok:
            failures.append(name)
            print(f"FAIL {name}: exit code {result.returncode}\n  expected: {expected}\n  printed:  {printed}\n"
                  f"{result.stderr}", flush=True)
        shutil.rmtree(root)

print("doc layout: all cases passed" if not failures else f"doc layout: {len(failures)} failed", flush=True)
sys.exit(1 if failures else 0)

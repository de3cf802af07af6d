#!/usr/bin/env python3
"""Checks that the developers' pages describe the tree as it is:

- docs/developers.md, table "Layout": every folder of the tree (the top-level ones
  and those of ui/) has a row, every folder in the table exists, a row that names
  "library `glimkeep_x`" names exactly the libraries its folder's CMakeLists.txt
  defines, and the files a row names in backticks exist in its folder; the row of
  ui/common/ names every header there.
- docs/developers.md, table "Builds": the folders the native preset's row lists in
  parentheses, and the list after "The portable libraries", are the folders whose
  library the native build makes (CMakeLists.txt adds them outside if(WIN32)).
- docs/tests.md, table "Test folders": every folder under tests/ has a row and every
  row a folder; the second column says "every build" for the folders that
  tests/CMakeLists.txt adds in every build, "Windows builds" for those only the
  Windows builds add, and "not built" for the others; a folder with a
  CMakeLists.txt that tests/CMakeLists.txt does not add is an error.

    tests/scripts/doc_layout.py [--root DIR]
Exit code 0 when the pages match; else each difference is printed on a line of its own.
"""
import argparse
import json
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CODE = re.compile(r"`([^`]+)`")


def tree_files(root):
    """The files of the tree, relative, '/'-separated: those git tracks or would
    track; outside a git work tree, every file but build/ and hidden ones."""
    try:
        out = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard", "-z"],
                             cwd=root, capture_output=True, check=True).stdout
        return [f for f in out.decode().split("\0") if f and os.path.exists(os.path.join(root, f))]
    except (OSError, subprocess.CalledProcessError):
        files = []
        for folder, dirs, names in os.walk(root):
            dirs[:] = [d for d in dirs if not d.startswith(".") and not (folder == root and d == "build")]
            files += [os.path.relpath(os.path.join(folder, n), root).replace(os.sep, "/") for n in names]
        return files


def tree_folders(files):
    """Top-level folders and the folders of ui/, each with a trailing '/'."""
    folders = set()
    for f in files:
        parts = f.split("/")
        if len(parts) > 1 and not parts[0].startswith("."):
            folders.add(parts[0] + "/")
            if parts[0] == "ui" and len(parts) > 2:
                folders.add("ui/" + parts[1] + "/")
    return folders


def table(text, heading, page):
    """The rows of the first table after `## heading`: lists of cells."""
    match = re.search(r"^##+ " + re.escape(heading) + r"\s*$", text, re.MULTILINE)
    if not match:
        raise LookupError(f"{page}: no section \"{heading}\"")
    rows = []
    for line in text[match.end():].splitlines():
        if line.startswith("|"):
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if not all(set(c) <= set("-: ") for c in cells):
                rows.append(cells)
        elif rows or line.startswith("#"):
            break
    return rows[1:]  # without the header row


def cmake_text(root, folder):
    path = os.path.join(root, folder, "CMakeLists.txt")
    if not os.path.isfile(path):
        return ""
    with open(path, encoding="utf-8") as f:
        return re.sub(r"#.*", "", f.read())


def libraries(root, folder):
    """The libraries a folder's CMakeLists.txt defines."""
    return set(re.findall(r"\b(?:glimkeep_library|add_library)\(\s*([\w-]+)", cmake_text(root, folder)))


def subdirectories_by_condition(text):
    """(everywhere, windows_only): the add_subdirectory() arguments of a CMake file
    outside any if(), and those inside an if(WIN32) block. A foreach over a `set(dirs ...)`
    list counts the list's entries, those appended inside if(WIN32) as Windows-only."""
    everywhere, windows, conditions = [], [], []
    lists = {}
    for raw in text.splitlines():
        line = raw.strip()
        opening = re.match(r"if\s*\((.*)\)", line)
        if opening:
            conditions.append(opening.group(1).strip())
            continue
        if re.match(r"endif\s*\(", line):
            conditions.pop()
            continue
        where = everywhere if not conditions else windows if conditions == ["WIN32"] else None
        for name, values in re.findall(r"\bset\(\s*(\w+)\s+([^)]*)\)", line):
            lists[name] = (values.split(), [])
        for name, values in re.findall(r"\blist\(\s*APPEND\s+(\w+)\s+([^)]*)\)", line):
            if name in lists and conditions == ["WIN32"]:
                lists[name][1].extend(values.split())
            elif name in lists and not conditions:
                lists[name][0].extend(values.split())
        for argument in re.findall(r"\badd_subdirectory\(\s*([^\s)]+)", line):
            if argument.startswith("${"):
                continue  # the foreach over a list: counted below
            if where is not None:
                where.append(argument)
        loop = re.match(r"foreach\s*\(\s*(\w+)\s+\$\{(\w+)\}\s*\)", line)
        if loop and loop.group(2) in lists and where is everywhere:
            everywhere.extend(lists[loop.group(2)][0])
            windows.extend(lists[loop.group(2)][1])
    return everywhere, windows


def parenthesised(text, after):
    """The comma-separated names in the parentheses that follow `after` (folders
    without their '/'), or None."""
    match = re.search(re.escape(after) + r"[^(|]*\(([^)]*)\)", text)
    if not match:
        return None
    return {n.strip().strip("`").rstrip("/") for n in match.group(1).split(",") if n.strip()}


def differences(root):
    problems = []
    files = tree_files(root)
    folders = tree_folders(files)
    developers_path = os.path.join(root, "docs", "developers.md")
    with open(developers_path, encoding="utf-8") as f:
        developers = f.read()

    # The layout table.
    rows = table(developers, "Layout", "docs/developers.md")
    in_table = {}
    for cells in rows:
        for name in CODE.findall(cells[0]):
            in_table[name if name.endswith("/") else name + "/"] = cells[1] if len(cells) > 1 else ""
    for folder in sorted(folders - set(in_table)):
        problems.append(f"docs/developers.md, table Layout: the folder {folder} is in the tree but has no row")
    for folder in sorted(set(in_table) - folders):
        problems.append(f"docs/developers.md, table Layout: the row of {folder} names a folder the tree does not have")
    for folder, contents in sorted(in_table.items()):
        if folder not in folders:
            continue
        named = set(re.findall(r"librar(?:y|ies) `(glimkeep_\w+)`", contents))
        defined = {name for name in libraries(root, folder) if name.startswith("glimkeep_")}
        if folder.count("/") == 1 and named != defined:
            problems.append(f"docs/developers.md, table Layout: the row of {folder} names the libraries "
                            f"{sorted(named) or 'none'}, {folder}CMakeLists.txt defines {sorted(defined) or 'none'}")
        in_folder = {f[len(folder):] for f in files if f.startswith(folder)}
        for name in CODE.findall(contents):
            if re.fullmatch(r"[\w./]+\.(h|cpp|py|sh|rc)", name):
                # A name with a folder is a path from the root or from the row's folder.
                if name not in files and not any(f == name or f.endswith("/" + name) for f in in_folder):
                    problems.append(f"docs/developers.md, table Layout: the row of {folder} names {name}, "
                                    f"which is not in {folder}")
        if folder == "ui/common/":
            for header in sorted(f for f in in_folder if f.endswith(".h") and "/" not in f):
                if f"`{header}`" not in contents:
                    problems.append(f"docs/developers.md, table Layout: the row of ui/common/ leaves out {header}")

    # The libraries of the native build.
    everywhere, _ = subdirectories_by_condition(cmake_text(root, ""))
    native = {d for d in everywhere if any(n.startswith("glimkeep_") for n in libraries(root, d + "/"))}
    builds = table(developers, "Builds", "docs/developers.md")
    native_row = next((cells for cells in builds if cells[0] == "`native`"), None)
    listed = {"the table Builds, row native": parenthesised(native_row[-1], "") if native_row else None,
              "the list after \"The portable libraries\"": parenthesised(developers, "The portable libraries")}
    for where, names in listed.items():
        if names is None:
            problems.append(f"docs/developers.md: {where} is missing (a list of folders in parentheses)")
            continue
        for name in sorted(native - names):
            problems.append(f"docs/developers.md, {where}: leaves out {name}/, whose library the native build makes")
        for name in sorted(names - native):
            problems.append(f"docs/developers.md, {where}: names {name}/, which makes no library of the native build")
    # CMake's flags for each build type of g++: the bench row says its level.
    with open(os.path.join(root, "CMakePresets.json"), encoding="utf-8") as f:
        presets = {p["name"]: p for p in json.load(f)["configurePresets"]}
    build_type = presets.get("bench", {}).get("cacheVariables", {}).get("CMAKE_BUILD_TYPE", "")
    level = {"Release": "-O3", "RelWithDebInfo": "-O2", "MinSizeRel": "-Os", "Debug": "-O0"}.get(build_type)
    bench_row = next((cells for cells in builds if cells[0] == "`bench`"), None)
    if level and (not bench_row or level not in bench_row[1] or build_type not in bench_row[1]):
        problems.append(f"docs/developers.md, table Builds: the row of bench should say {build_type} and {level} "
                        f"(CMakePresets.json builds it as {build_type}), it says {bench_row[1] if bench_row else 'nothing'}")

    # The test folders.
    tests_path = os.path.join(root, "docs", "tests.md")
    with open(tests_path, encoding="utf-8") as f:
        tests_page = f.read()
    test_folders = {f.split("/")[1] for f in files if f.startswith("tests/") and f.count("/") >= 2}
    everywhere, windows = subdirectories_by_condition(cmake_text(root, "tests"))
    expected = {name: "every build" if name in everywhere else "Windows builds" if name in windows else "not built"
                for name in test_folders}
    for name in sorted(test_folders - set(everywhere + windows)):
        if f"tests/{name}/CMakeLists.txt" in files:
            problems.append(f"tests/CMakeLists.txt does not add tests/{name}/, which has a CMakeLists.txt: "
                            "its tests never run")
    documented = {}
    try:
        test_rows = table(tests_page, "Test folders", "docs/tests.md")
    except LookupError as error:
        problems.append(str(error))
        test_rows = []
    for cells in test_rows:
        for name in CODE.findall(cells[0]):
            documented[name.removeprefix("tests/").rstrip("/")] = cells[1] if len(cells) > 1 else ""
    for name in sorted(set(expected) - set(documented)):
        problems.append(f"docs/tests.md, table Test folders: tests/{name}/ is in the tree but has no row")
    for name in sorted(set(documented) - set(expected)):
        problems.append(f"docs/tests.md, table Test folders: the row of tests/{name}/ names a folder the tree does not have")
    for name in sorted(set(expected) & set(documented)):
        if documented[name] != expected[name]:
            problems.append(f"docs/tests.md, table Test folders: tests/{name}/ is built in \"{expected[name]}\" "
                            f"(tests/CMakeLists.txt), the table says \"{documented[name]}\"")
    for name in sorted(set(everywhere + windows) - test_folders):
        problems.append(f"tests/CMakeLists.txt adds tests/{name}/, which the tree does not have")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", default=ROOT, help="the tree to check (default: this clone)")
    args = parser.parse_args()
    try:
        problems = differences(os.path.abspath(args.root))
    except (LookupError, OSError) as error:
        problems = [str(error)]
    for problem in problems:
        print(problem)
    if not problems:
        print("docs/developers.md and docs/tests.md match the tree and CMake")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

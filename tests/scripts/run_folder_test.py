#!/usr/bin/env python3
"""The folder scripts/run keeps the vault in (vault_folder in scripts/lib.sh): the
user's data folder when started inside the clone, the current folder elsewhere, the
folder given as the argument when there is one; and scripts/run's usage.
    tests/scripts/run_folder_test.py        (exit code 0 when every case passes)
"""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
failures = []


def folder(cwd, env, *args, root=None):
    """(exit status, the folder printed) of vault_folder, run in `cwd`."""
    script = f'. "{ROOT}/scripts/lib.sh"\n' + (f'ROOT="{root}"\n' if root else "") + 'vault_folder "$@"'
    result = subprocess.run(["bash", "-c", script, "bash", *args], cwd=cwd, env=env, capture_output=True,
                            text=True, timeout=60)
    return result.returncode, result.stdout.strip()


def check(what, expected, actual):
    if expected != actual:
        failures.append(what)
        print(f"FAIL {what}: expected {expected!r}, got {actual!r}", flush=True)


with tempfile.TemporaryDirectory() as scratch:
    scratch = os.path.realpath(scratch)
    home = os.path.join(scratch, "home")
    data = os.path.join(scratch, "data")
    elsewhere = os.path.join(scratch, "elsewhere")
    os.makedirs(home)
    os.makedirs(elsewhere)
    base = {k: v for k, v in os.environ.items() if k != "XDG_DATA_HOME"}
    base["HOME"] = home
    with_xdg = dict(base, XDG_DATA_HOME=data)

    # Inside the clone: the top folder, a folder below it, and the clone reached
    # through a symbolic link all count as inside.
    link = os.path.join(scratch, "link-to-clone")
    os.symlink(ROOT, link)
    for name, cwd in (("top", ROOT), ("below", os.path.join(ROOT, "docs")), ("through a link", link)):
        check(f"in the clone ({name}), XDG_DATA_HOME set", (0, os.path.join(data, "glimkeep")),
              folder(cwd, with_xdg))
    check("the data folder is made", True, os.path.isdir(os.path.join(data, "glimkeep")))
    check("in the clone, no XDG_DATA_HOME", (0, os.path.join(home, ".local", "share", "glimkeep")),
          folder(ROOT, base))
    check("in the clone, XDG_DATA_HOME empty", (0, os.path.join(home, ".local", "share", "glimkeep")),
          folder(ROOT, dict(base, XDG_DATA_HOME="")))
    check("in the clone, XDG_DATA_HOME relative (ignored)", (0, os.path.join(home, ".local", "share", "glimkeep")),
          folder(ROOT, dict(base, XDG_DATA_HOME="relative/data")))

    # Elsewhere: the current folder, also one whose name starts with the clone's.
    check("outside the clone", (0, elsewhere), folder(elsewhere, with_xdg))
    clone = os.path.join(scratch, "clone")
    sibling = os.path.join(scratch, "clone-2")
    os.makedirs(clone)
    os.makedirs(sibling)
    check("a folder named like the clone, beside it", (0, sibling), folder(sibling, with_xdg, root=clone))
    check("the clone given as ROOT", (0, os.path.join(data, "glimkeep")), folder(clone, with_xdg, root=clone))

    # The argument wins, in the clone too; a folder that is missing is made, one with
    # spaces and non-ASCII letters works.
    chosen = os.path.join(scratch, "my vaults", "päss")
    check("the folder given", (0, chosen), folder(ROOT, with_xdg, chosen))
    check("the folder given is made", True, os.path.isdir(chosen))
    check("a relative folder given", (0, os.path.join(elsewhere, "sub")), folder(elsewhere, with_xdg, "sub"))
    blocker = os.path.join(scratch, "a-file")
    open(blocker, "w").close()
    status, _ = folder(elsewhere, with_xdg, os.path.join(blocker, "below"))
    check("a folder that cannot be made", 1, status)

    # The clone itself stays clean: nothing was made in it.
    check("nothing made in the clone", False, os.path.exists(os.path.join(ROOT, "glimkeep")))

    # scripts/run refuses two folders or an option before building anything.
    for args in (["a", "b"], ["--help"]):
        result = subprocess.run([os.path.join(ROOT, "scripts", "run"), *args], cwd=elsewhere, env=with_xdg,
                                capture_output=True, text=True, timeout=60)
        check(f"scripts/run {' '.join(args)}: exit status", 2, result.returncode)
        check(f"scripts/run {' '.join(args)}: usage", True, result.stderr.startswith("usage: scripts/run [FOLDER]"))

print("run folder: all cases passed" if not failures else f"run folder: {len(failures)} failed", flush=True)
sys.exit(1 if failures else 0)

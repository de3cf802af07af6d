#!/usr/bin/env python3
"""Checks scripts/wine-test against a stand-in for Wine's loader: a window test that
ends at once without a line of output is tried once more, and says so; a test that
printed anything, failed slowly, or is no window test is never tried again; the
output and the exit status are the program's.
    tests/scripts/wine_test_test.py
"""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_TEST = os.path.join(ROOT, "scripts", "wine-test")

# The stand-in: the n-th call (1, 2, ...) does what its line in the plan says:
# "<status> <seconds> <text>" (text may be empty).
LOADER = """#!/usr/bin/env bash
count=$(( $(cat "$PLAN.count" 2>/dev/null || echo 0) + 1 ))
echo "$count" >"$PLAN.count"
read -r status seconds text < <(sed -n "${count}p" "$PLAN")
sleep "$seconds"
[ -n "$text" ] && echo "$text"
exit "$status"
"""


def run(plan, window=True):
    with tempfile.TemporaryDirectory() as tmp:
        loader = os.path.join(tmp, "loader")
        with open(loader, "w") as f:
            f.write(LOADER)
        os.chmod(loader, 0o755)
        plan_path = os.path.join(tmp, "plan")
        with open(plan_path, "w") as f:
            f.write("\n".join(plan) + "\n")
        env = dict(os.environ, PLAN=plan_path, TMPDIR=tmp, DISPLAY=":7")
        env.pop("CTEST_RESOURCE_GROUP_0_DISPLAYS", None)
        if window:
            env["GLIMKEEP_WINDOW_TEST"] = "1"
        else:
            env.pop("GLIMKEEP_WINDOW_TEST", None)
        r = subprocess.run([WINE_TEST, loader, "program.exe"], env=env, capture_output=True, text=True, timeout=60)
        calls = int(open(plan_path + ".count").read()) if os.path.exists(plan_path + ".count") else 0
        return r.returncode, r.stdout, r.stderr, calls


CASES = [
    # (what, plan, window, status, stdout, calls, a note on stderr)
    ("silent at once, then runs", ["3 0 ", "0 0 [  PASSED  ] 1 test."], True, 0, "[  PASSED  ] 1 test.\n", 2, True),
    ("silent at once twice", ["3 0 ", "4 0 "], True, 4, "", 2, True),
    ("a failure with output", ["1 0 [  FAILED  ] 1 test.", "0 0 passed"], True, 1, "[  FAILED  ] 1 test.\n", 1,
     False),
    ("a slow silent failure", ["5 0.5 ", "0 0 passed"], True, 5, "", 1, False),
    ("a pass", ["0 0 ok"], True, 0, "ok\n", 1, False),
    ("no window test: never again", ["3 0 ", "0 0 passed"], False, 3, "", 1, False),
]


def main():
    failed = 0
    for what, plan, window, status, stdout, calls, note in CASES:
        got = run(plan, window)
        expected_note = "trying once more" in got[2]
        if (got[0], got[1], got[3], expected_note) != (status, stdout, calls, note):
            print("wine-test: %s: expected status %d, output %r, %d calls, note %s; got %d, %r, %d calls, stderr %r"
                  % (what, status, stdout, calls, note, got[0], got[1], got[3], got[2]))
            failed += 1
    print("wine-test: %s" % ("all cases passed" if not failed else "%d cases failed" % failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

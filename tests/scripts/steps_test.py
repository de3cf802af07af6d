#!/usr/bin/env python3
"""scripts/steps.sh, which scripts/test runs its steps with: each step's time and
result in the summary, failures from lanes that run side by side, the whole run's
time, and the summary's exit status.
    tests/scripts/steps_test.py        (exit code 0 when every case passes)
"""
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

failures = []


def check(what, condition, output=""):
    if not condition:
        failures.append(what)
        print(f"FAIL {what}\n{output}", flush=True)


def run(script):
    """Runs a bash script with scripts/lib.sh and scripts/steps.sh sourced; returns
    (exit status, standard error, seconds it took)."""
    with tempfile.TemporaryDirectory() as logs:
        prelude = (f'set -uo pipefail\n. "{ROOT}/scripts/lib.sh"\n. "{ROOT}/scripts/steps.sh"\n'
                   f'steps_begin "{logs}"\ntrap steps_end EXIT\n')
        started = time.monotonic()
        result = subprocess.run(["bash", "-c", prelude + script], stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, timeout=120)
        return result.returncode, result.stderr, time.monotonic() - started


def summary_rows(output):
    """The summary's step lines: {name: (minutes:seconds, ok or FAILED)}."""
    part = output.split("== summary\n", 1)[-1]
    rows = {}
    for line in part.splitlines():
        match = re.match(r"^== +(\d+:\d\d) (ok|FAILED|all) +(.*)$", line)
        if match:
            rows[match.group(3)] = (match.group(1), match.group(2))
    return rows


# The time format: minutes without a limit, seconds in two digits.
status, output, _ = run('for s in 0 9 61 600 3599 3600 7322; do minutes "$s"; echo; done >&2')
check("minutes", output.split() == ["0:00", "0:09", "1:01", "10:00", "59:59", "60:00", "122:02"], output)

# Steps one after another: each with its own time, a failing one marked and named
# again at the end; the summary then returns 1.
status, output, _ = run("""
waits() { sleep "$1"; }
fails() { fail "the failing step"; return 1; }
step "a step of two seconds" waits 2
step "a step that fails" fails
step "a quick step" true
ran "a suite"
not_run "a suite that cannot run here"
steps_summary "set-up: nothing left out"
""")
rows = summary_rows(output)
check("exit status after a failure", status == 1, output)
check("the step of two seconds", rows.get("a step of two seconds") in (("0:02", "ok"), ("0:03", "ok")), output)
check("the failing step", rows.get("a step that fails") == ("0:00", "FAILED"), output)
check("the quick step", rows.get("a quick step") == ("0:00", "ok"), output)
check("the whole run", "the whole run (lanes overlap: the steps add up to more)" in rows, output)
check("the steps in the order they ran",
      list(rows)[:3] == ["a step of two seconds", "a step that fails", "a quick step"], output)
check("what ran", "== ran: a suite\n" in output, output)
check("the extra line", "== set-up: nothing left out\n" in output, output)
check("what did not run", "== NOT RUN: a suite that cannot run here\n" in output, output)
check("the failures named at the end", output.rstrip().endswith("== FAILED: the failing step"), output)
check("no claim of success", "all builds and tests passed" not in output, output)

# Two lanes side by side: both finish, their output is printed whole, a failure in a
# lane reaches the summary, and the run takes about as long as the longer lane.
status, output, seconds = run("""
first() { step "first lane, three seconds" sleep 3; echo "said by the first lane"; }
second() { step "second lane, three seconds" sleep 3; step "second lane fails" false || fail "in a lane"; }
lane one first
lane two second
wait_lanes
steps_summary
""")
rows = summary_rows(output)
check("lanes: exit status", status == 1, output)
check("lanes: side by side", seconds < 5.5, f"{seconds:.1f} s\n{output}")
check("lanes: the first lane's step", rows.get("first lane, three seconds", ("", ""))[1] == "ok", output)
check("lanes: the second lane's failing step", rows.get("second lane fails") == ("0:00", "FAILED"), output)
check("lanes: a lane's output", "said by the first lane" in output, output)
check("lanes: the failure", output.rstrip().endswith("== FAILED: in a lane"), output)
whole = rows.get("the whole run (lanes overlap: the steps add up to more)", ("9:99", ""))[0]
check("lanes: the whole run's time", whole in ("0:03", "0:04", "0:05"), output)

# Everything passed: the summary says so and returns 0.
status, output, _ = run('step "fine" true\nsteps_summary')
check("success: exit status", status == 0, output)
check("success: the last line", output.rstrip().endswith("== all builds and tests passed"), output)

# Ending the run ends a lane that is still running, and what it started.
with tempfile.TemporaryDirectory() as folder:
    marker = os.path.join(folder, "still-running")
    status, output, seconds = run(f'lane slow bash -c "sleep 8; touch {marker}"\nsleep 1\nexit 3')
    time.sleep(8.5)
    check("an ended run leaves no lane behind", status == 3 and not os.path.exists(marker) and seconds < 5,
          f"{seconds:.1f} s\n{output}")

print("steps: all cases passed" if not failures else f"steps: {len(failures)} failed", flush=True)
sys.exit(1 if failures else 0)

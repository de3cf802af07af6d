#!/usr/bin/env python3
"""Test displays started at the same moment (as the end-to-end suite's workers and
the Windows suite's two slots start them): each caller gets a display of its own,
served by the Xvfb it started, even when several pick the same free number.
    tests/scripts/display_race_test.py        (exit code 0 when every round passes)
"""
import os
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "e2e"))
from harness import Display, display_is_ours  # noqa: E402

ROUNDS, CALLERS = 3, 4
failures = []
for round_number in range(1, ROUNDS + 1):
    displays = [Display() for _ in range(CALLERS)]
    errors = []

    def start(display):
        try:
            display.start((320, 240))
        except Exception as error:  # the round fails, the others still run
            errors.append(str(error))

    threads = [threading.Thread(target=start, args=(d,)) for d in displays]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    try:
        names = [d.name for d in displays if d.process]
        if errors or len(names) != CALLERS:
            failures.append(f"round {round_number}: {len(names)} of {CALLERS} displays started {errors}")
        elif len(set(names)) != CALLERS:
            failures.append(f"round {round_number}: one display for two callers: {sorted(names)}")
        elif not all(display_is_ours(d.name, d.process.pid) for d in displays):
            failures.append(f"round {round_number}: a display not served by its caller's Xvfb")
    finally:
        for display in displays:
            display.stop()

for failure in failures:
    print("FAIL", failure)
print("displays: all rounds passed" if not failures else f"displays: {len(failures)} rounds failed", flush=True)
sys.exit(1 if failures else 0)

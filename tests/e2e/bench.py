#!/usr/bin/env python3
"""Times the real program under Wine on large vaults, as a user would feel it:

- open: from Enter in the password box to the editor box holding the whole
  document with nothing left to paint;
- filter keystroke: from one key in the filter box to the editor box showing the
  node the key selects (and, the other way, back to the whole document), plus a
  key that selects nothing yet and only has the program read the text back;
- save: from Ctrl+S to the "Data successfully saved" message.

Keys are real X key events (xdotool). The clock starts just before xdotool is
called; a probe inside Wine polls the windows every millisecond and answers as soon
as the condition holds. Not a test: it prints a table and exits 0 unless the
program could not be driven at all.

    tests/e2e/bench.py [--sizes 1,10] [--repeat 3]
"""

import argparse
import collections
import os
import random
import signal
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Failure, Session, add_tool_arguments, tools_from, wine_for  # noqa: E402

PASSWORD = "benchmark password"
WORDS = ("alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima mike "
         "november oscar papa quebec romeo sierra tango uniform victor whiskey xray").split()


def document(size):
    """A vault of about `size` bytes: groups of sites, each with a few values and a
    multi-line note, as a large real vault might look. Line ends are CR LF, which is
    what the program writes, so the editor box holds exactly these characters."""
    rng = random.Random(size)
    lines, total, group = [], 0, 0
    while total < size:
        block = [f"group{group:05d}"]
        for site in range(8):
            block += [f"\tsite{site:02d}.example.org",
                      f"\t\tuser: {rng.choice(WORDS)}.{rng.choice(WORDS)}@example.org",
                      "\t\tpassword: " + "".join(rng.choice("abcdefghjkmnpqrstuvwxyz23456789#%&") for _ in range(20)),
                      "\t\tnotes",
                      "\t\t\t" + " ".join(rng.choice(WORDS) for _ in range(12))]
        lines += block
        total += sum(len(line) + 2 for line in block)
        group += 1
    return "\r\n".join(lines) + "\r\n", group


def node_text(text, group):
    """What the editor box shows for one group: its lines one level to the left."""
    lines = text.split("\r\n")
    start = lines.index(f"group{group:05d}") + 1
    end = start
    while end < len(lines) and lines[end].startswith("\t"):
        end += 1
    return "".join(line[1:] + "\r\n" for line in lines[start:end])


class Timer:
    """Arms the probe, sends keys, waits for its answer; returns milliseconds."""

    def __init__(self, session):
        self.s = session

    def keys(self, request, *keys, timeout=600):
        self.s.probe.send(*request)
        armed, _ = self.s.probe.answer()
        if not armed:
            raise Failure("the probe could not arm")
        start = time.monotonic()
        subprocess.run(["xdotool", "key", *keys], env=self.s.env, check=True, timeout=30)
        found, _ = self.s.probe.answer(timeout)
        elapsed = (time.monotonic() - start) * 1000
        print(f"   {request[0]} {' '.join(str(f) for f in request[1:-1])} after {' '.join(keys)}: "
              f"{elapsed:.0f} ms", file=sys.stderr, flush=True)
        if not found:
            raise Failure(f"{request[0]} {request[1]} did not happen within the time allowed")
        return elapsed


def measure(tools, out, size_mib, repeat):
    text, groups = document(size_mib << 20)
    length = first_length = len(text)
    results = collections.defaultdict(list)
    with Session(f"bench-{size_mib}mib", tools, out) as s:
        s.make_vault(PASSWORD, text)
        timer = Timer(s)
        for run in range(repeat):
            program = s.start()
            s.wait_window("decrypt_db", timeout=60)
            s.wait_foreground("decrypt_db")
            s.type(PASSWORD)
            s.x("xdotool", "mousemove", "1000", "750")
            results["open"].append(timer.keys(("shown", "editor", 1, length, 600), "Return"))
            s.wait_foreground("editor")
            if run == 0:
                s.shot("opened")

            # The filter box has the focus. Type all but the last digit of a group's
            # name (no node has that name, the whole document stays), then time the
            # last digit, which shows the group, and Ctrl+Backspace, which empties
            # the filter and shows the whole document again.
            for attempt in range(3):
                group = (run * 3 + attempt) * 7919 % groups
                name = f"group{group:05d}"
                s.type(name[:-2])
                s.wait_text("editor", 0, name[:-2], timeout=600)
                results["key selecting nothing yet"].append(
                    timer.keys(("shown", "editor", 0, len(name) - 1, 600), name[-2]))
                shown = node_text(text, group)
                results["key to a node"].append(timer.keys(("shown", "editor", 1, len(shown), 600), name[-1]))
                results["key back to the whole document"].append(
                    timer.keys(("shown", "editor", 1, length, 600), "ctrl+BackSpace"))

            # Save needs a change: one more root-level line at the end.
            s.keys("ctrl+Tab", "ctrl+End")
            s.type("z")
            s.wait_title("editor", "* Glimkeep", timeout=60)
            results["save"].append(timer.keys(("appears", "Data successfully saved", 600), "ctrl+s"))
            text += "z\r\n"
            if run == 0:
                s.shot("saved")
            s.keys("Return")
            s.wait_gone("#32770", "Data successfully saved", timeout=60)
            s.wait_foreground("editor")
            s.keys("alt+F4")
            if s.wait_exit(program, timeout=120) != 0:
                raise Failure("the program ended with an error")
            time.sleep(1.1)  # backups are named by the second
            length = len(text)
        saved = s.open_vault(PASSWORD)
        if saved != text.encode():
            raise Failure("the saved vault differs from the text typed")

        # The edit control alone, on the same text, in a process of its own.
        with open(s.path("document.txt"), "wb") as f:
            f.write(text.encode())
        for _ in range(repeat):
            result = subprocess.run([wine_for(tools.probe), tools.probe, "editcost", s.path("document.txt")], env=s.env,
                                    capture_output=True, timeout=900)
            if result.returncode != 0:
                raise Failure("the edit control alone failed")
            set_ms, paint_ms, get_ms = (float(v) for v in result.stdout.split())
            results["edit control alone: set the whole text"].append(set_ms)
            results["edit control alone: paint"].append(paint_ms)
            results["edit control alone: read the whole text back"].append(get_ms)
    return first_length, groups, results


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    add_tool_arguments(parser)
    parser.add_argument("--sizes", default="1,10", help="vault sizes in MiB, comma-separated")
    parser.add_argument("--repeat", type=int, default=3, help="program starts per size")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # still end what was started
    tools = tools_from(args)
    if not tools:
        return 2

    print("| Vault | Measure | Median | Min | Max | n |")
    print("|---|---|---|---|---|---|")
    for size in (int(v) for v in args.sizes.split(",")):
        length, groups, results = measure(tools, args.out, size, args.repeat)
        for what, values in results.items():
            print(f"| {size} MiB ({groups} groups, {length} bytes) | {what} | {statistics.median(values):.0f} ms "
                  f"| {min(values):.0f} ms | {max(values):.0f} ms | {len(values)} |", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

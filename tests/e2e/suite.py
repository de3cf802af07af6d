#!/usr/bin/env python3
"""The end-to-end suite: the real Glimkeep program, started as a process under Wine
in a fresh empty folder on a display of its own, driven only through real X key
events and checked only through what it shows, what it puts on the clipboard, its
exit code and the files it leaves (opened with the program's own container).

    tests/e2e/suite.py [--only NAME ...] [--repeat N] [--pictures DIR]

Screenshots of every checked step go to build/e2e/<scenario>/; a failing scenario
prints where they are. Exit code 0 when every scenario passed.
"""

import argparse
import os
import signal
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Failure, Session, add_tool_arguments, expect, tools_from  # noqa: E402

PASSWORD = "correct horse 42"
EMPTY_VAULT_SIZE = 93

SCENARIOS = []


def scenario(function):
    SCENARIOS.append(function)
    return function


def unlock(s, password=PASSWORD):
    s.wait_window("decrypt_db")
    s.wait_foreground("decrypt_db")
    s.type(password)
    s.keys("Return")
    s.wait_window("editor")
    s.wait_foreground("editor")


def answer(s, title, *keys):
    """Waits for a message dialog, photographs it and answers it with keys."""
    s.wait_dialog(title)
    s.wait_foreground("#32770")
    shot = s.shot(title.lower().replace(" ", "-").strip("?"))
    s.keys(*(keys or ("Return",)))
    s.wait_gone("#32770", title)
    return shot


def complete(s, typed, completed):
    """Types the start of a name into the filter box and completes it with Tab."""
    s.type(typed)
    s.keys("Tab")
    s.wait_text("editor", 0, completed)


def close_cleanly(s, program, window_class):
    """Alt+F4 on a window with nothing unsaved ends the process with 0."""
    s.wait_foreground(window_class)
    s.keys("alt+F4")
    expect("exit code", 0, s.wait_exit(program))


@scenario
def first_run(s):
    program = s.start()
    s.wait_window("create_db")
    s.wait_foreground("create_db")
    shot = s.shot("create-window")
    s.picture(shot, "create_db", "create_db")
    expect("files before anything is typed", [], s.files())

    # An empty master password is refused; nothing is written.
    s.keys("Return")
    answer(s, "Error")
    expect("files after an empty password", [], s.files())
    s.wait_window("create_db")
    s.wait_foreground("create_db")

    s.type(PASSWORD)
    s.keys("Return")
    s.wait_dialog("Database successfully created")
    shot = s.shot("created")
    s.picture(shot, "message", "#32770", "Database successfully created")
    s.keys("Return")

    # The open window follows, not the editor.
    s.wait_window("decrypt_db")
    s.wait_foreground("decrypt_db")
    expect("editor after creating", None, s.window("editor"))
    expect("files after creating", ["passwords.gkv"], s.files())
    expect("size of the new vault", EMPTY_VAULT_SIZE, len(s.read("passwords.gkv")))
    expect("plaintext of the new vault", b"", s.open_vault(PASSWORD))
    s.type("correct")
    shot = s.shot("open-window")
    s.picture(shot, "decrypt_db", "decrypt_db")
    close_cleanly(s, program, "decrypt_db")
    expect("files after closing", ["passwords.gkv"], s.files())


@scenario
def wrong_then_right_password(s):
    document = "mail\r\n\tuser: ada\r\n\tpassword: engine\r\n"
    s.make_vault(PASSWORD, document)
    vault = s.read("passwords.gkv")

    program = s.start()
    s.wait_window("decrypt_db")
    s.wait_foreground("decrypt_db")
    s.type("correct horse 41")
    s.keys("Return")
    answer(s, "Wrong password")
    s.wait_text("decrypt_db", 0, "")  # the box is emptied for the next try
    s.shot("box-emptied")
    expect("editor after a wrong password", None, s.window("editor"))

    s.wait_foreground("decrypt_db")
    s.type(PASSWORD)
    s.keys("Return")
    s.wait_window("editor")
    s.wait_text("editor", 1, document)
    s.wait_title("editor", "Glimkeep")
    s.shot("editor")
    close_cleanly(s, program, "editor")

    # Closing the open window itself ends the program with 0, and writes nothing.
    program = s.start()
    s.wait_window("decrypt_db")
    s.shot("open-window-again")
    close_cleanly(s, program, "decrypt_db")
    expect("files", ["passwords.gkv"], s.files())
    expect("vault bytes", vault, s.read("passwords.gkv"))


@scenario
def working_session(s):
    s.make_vault(PASSWORD, "")
    empty_vault = s.read("passwords.gkv")
    program = s.start()
    unlock(s)
    expect("title when opened", "Glimkeep", s.window("editor"))
    s.shot("opened")

    # Type into the editor box: Enter carries the indentation of the line before.
    s.keys("ctrl+Tab")
    s.type("email")
    s.keys("Return", "Tab")
    s.type("gmail: secret1")
    s.keys("Return")
    s.type("gmx: secret2")
    s.keys("Return", "BackSpace")
    s.type("work")
    s.keys("Return", "Tab")
    s.type("vpn")
    s.keys("Return", "Tab")
    s.type("user: alice")
    s.keys("Return")
    s.type("password: p@ss w0rd")
    s.keys("Return", "BackSpace", "BackSpace")
    s.type("bank: 1234")
    lines = ["email", "\tgmail: secret1", "\tgmx: secret2", "work", "\tvpn",
             "\t\tuser: alice", "\t\tpassword: p@ss w0rd", "bank: 1234"]
    s.wait_text("editor", 1, "\r\n".join(lines))
    s.wait_title("editor", "* Glimkeep")
    s.shot("typed")

    # A path typed in full shows its entry.
    s.keys("ctrl+Tab")
    s.type("email gmx")
    s.wait_text("editor", 1, "secret2")
    s.shot("path-typed")
    s.keys("ctrl+BackSpace", "ctrl+BackSpace")
    s.wait_text("editor", 0, "")
    s.wait_text("editor", 1, "\r\n".join(lines) + "\r\n")

    # Tab completes names; a node with children is completed with a space after it.
    complete(s, "wo", "work ")
    s.wait_text("editor", 1, "vpn\r\n\tuser: alice\r\n\tpassword: p@ss w0rd\r\n")
    shot = s.shot("filtered")
    s.picture(shot, "editor", "editor")
    complete(s, "v", "work vpn ")
    complete(s, "pa", "work vpn password")
    s.wait_text("editor", 1, "p@ss w0rd")

    # Enter copies exactly what the editor box shows.
    s.keys("Return")
    s.wait_clipboard("p@ss w0rd")
    s.shot("copied")

    # Save: one backup holding the vault as it was, the new text byte for byte.
    s.keys("ctrl+s")
    answer(s, "Data successfully saved")
    s.wait_title("editor", "Glimkeep")
    s.shot("saved")
    backups = s.backups()
    expect("number of backups", 1, len(backups))
    expect("backup bytes", empty_vault, s.read(backups[0]))
    expected = ("\r\n".join(lines) + "\r\n").encode()
    expect("saved plaintext", expected, s.open_vault(PASSWORD))
    close_cleanly(s, program, "editor")
    expect("files after closing", sorted(["passwords.gkv"] + backups), s.files())


@scenario
def edited_by_the_cli(s):
    """A vault made and edited by the native glimkeep-cli opens in the program with
    the same text, under the password the CLI gave it last."""
    lines = ["email", "\tgmail: s3cret", "\tgmx: bob", "Bücher", "\tÉcole: déjà vu 🔑"]
    s.cli("init", passwords=("first password",))
    s.cli("import", passwords=("first password",), stdin="\n".join(lines).encode("utf-8"))
    s.cli("passwd", passwords=("first password", PASSWORD))
    backups = s.backups()
    expect("backups of the import and the password change", 2, len(backups))
    expected = "\r\n".join(lines) + "\r\n"
    expect("what the CLI shows", "déjà vu 🔑\n".encode("utf-8"), s.cli("show", "bücher école", passwords=(PASSWORD,)))

    program = s.start()
    unlock(s)
    s.wait_text("editor", 1, expected)
    s.shot("opened")
    complete(s, "EM", "email ")
    complete(s, "gma", "email gmail")
    s.wait_text("editor", 1, "s3cret")
    s.shot("filtered")
    close_cleanly(s, program, "editor")
    expect("files after closing", sorted(["passwords.gkv"] + backups), s.files())
    expect("plaintext", expected.encode("utf-8"), s.open_vault(PASSWORD))


@scenario
def editor_keys(s):
    """Ctrl+Backspace in both boxes, Alt+1 and Alt+2, completion of a deep path,
    copying the whole document, a filter in another case."""
    s.make_vault(PASSWORD, "")
    program = s.start()
    unlock(s)

    # Under Wine the release of Alt after Alt+2 must not leave the menu bar active:
    # the typing that follows goes into the editor box.
    s.keys("alt+2")
    s.type("email")
    s.keys("Return", "Tab")
    s.type("gmail")
    s.keys("Return", "Tab")  # the new line starts with one tab, Tab adds one
    s.type("pass: s3cret")
    s.keys("Return", "ctrl+BackSpace")  # takes back both carried tabs
    s.type("bank")
    s.keys("Return", "Tab")
    s.type("pin: 1234")
    document = "email\r\n\tgmail\r\n\t\tpass: s3cret\r\nbank\r\n\tpin: 1234"
    s.wait_text("editor", 1, document)
    s.wait_text("editor", 0, "")
    s.shot("typed")

    s.keys("alt+1")
    for typed, completed in (("em", "email "), ("gm", "email gmail "), ("pa", "email gmail pass")):
        complete(s, typed, completed)
    s.wait_text("editor", 1, "s3cret")
    s.keys("Return")
    s.wait_clipboard("s3cret")

    # Ctrl+Backspace in the filter steps back one name at a time.
    for left in ("email gmail ", "email ", ""):
        s.keys("ctrl+BackSpace")
        s.wait_text("editor", 0, left)
    s.wait_text("editor", 1, document + "\r\n")
    s.keys("Return")
    s.wait_clipboard((document + "\r\n").replace("\r\n", "\n"))  # X text has bare line feeds
    s.shot("whole-document-copied")

    s.wait_title("editor", "* Glimkeep")
    s.keys("ctrl+s")
    answer(s, "Data successfully saved")
    s.wait_title("editor", "Glimkeep")
    expect("number of backups", 1, len(s.backups()))
    close_cleanly(s, program, "editor")
    expect("saved plaintext", (document + "\r\n").encode(), s.open_vault(PASSWORD))

    # Names match whatever their case.
    program = s.start()
    unlock(s)
    s.type("BANK PIN")
    s.wait_text("editor", 1, "1234")
    close_cleanly(s, program, "editor")


@scenario
def exit_with_unsaved_changes(s):
    document = "bank\r\n\tpin: 1234\r\n"
    s.make_vault(PASSWORD, document)
    vault = s.read("passwords.gkv")
    program = s.start()
    unlock(s)
    s.keys("ctrl+Tab", "ctrl+End")
    s.type("shop: 5678")
    s.wait_title("editor", "* Glimkeep")
    s.shot("changed")

    s.keys("alt+F4")
    answer(s, "Discard changes?")  # Enter answers the default, No
    s.wait_window("editor")
    s.wait_title("editor", "* Glimkeep")
    s.wait_text("editor", 1, document + "shop: 5678")
    expect("process after No", None, program.poll())
    s.shot("kept")

    s.wait_foreground("editor")
    s.keys("alt+F4")
    s.wait_dialog("Discard changes?")
    s.wait_foreground("#32770")
    s.keys("Tab", "Return")  # from No to Yes
    expect("exit code after Yes", 0, s.wait_exit(program))
    expect("files", ["passwords.gkv"], s.files())
    expect("vault bytes", vault, s.read("passwords.gkv"))


@scenario
def inactivity_lock(s):
    """The program built with an 8-second lock instead of 10 minutes."""
    document = "bank\r\n\tpin: 1234\r\nmail: engine\r\n"
    s.make_vault(PASSWORD, document)
    program = s.start(s.tools.short_lock_exe)
    unlock(s)
    s.type("bank pin")
    s.wait_text("editor", 1, "1234")

    # Nothing unsaved: the editor closes itself and the password is asked again.
    s.wait_gone("editor", timeout=40)
    s.wait_window("decrypt_db")
    s.shot("locked")
    expect("process after the lock", None, program.poll())
    unlock(s)
    s.wait_text("editor", 1, document)

    # An unsaved change keeps the editor open past the interval.
    s.keys("ctrl+Tab", "ctrl+End")
    s.type("shop: 5678")
    s.wait_title("editor", "* Glimkeep")
    time.sleep(12)
    expect("editor with an unsaved change after the interval", "* Glimkeep", s.window("editor"))
    s.shot("not-locked")
    s.keys("alt+F4")
    answer(s, "Discard changes?", "Tab", "Return")
    expect("exit code", 0, s.wait_exit(program))
    expect("plaintext", document.encode(), s.open_vault(PASSWORD))
    expect("files", ["passwords.gkv"], s.files())


def damaged_vaults():
    """Each damage, with the text that the load reports for it."""
    return [
        ("short", b"GLIMKEEPDB1.0" + bytes(79), "File has insufficient size (file corrupted?)"),
        ("foreign", b"NOTAVAULT!1.0" + bytes(84), "This file is not database file for this program"),
        ("wrong-version", b"GLIMKEEPDB1.1" + bytes(80), "Unsupported file version"),
        ("truncated", None, "Cannot read ciphertext from file (file corrupted?)"),
    ]


@scenario
def damaged_vault(s):
    for name, content, message in damaged_vaults():
        if content is None:
            s.make_vault(PASSWORD, "mail\r\n\tpassword: engine\r\n" * 20)
            content = s.read("passwords.gkv")[:-7]
        with open(s.path("passwords.gkv"), "wb") as f:
            f.write(content)
        program = s.start()
        s.wait_dialog("Error loading database")
        expect(f"message for the {name} vault", message + "\r\npasswords.gkv", s.box_text("Error loading database"))
        s.shot(f"{name}-vault")
        s.wait_foreground("#32770")
        s.keys("Return")
        expect(f"exit code for the {name} vault", 1, s.wait_exit(program))
        expect(f"files after the {name} vault", ["passwords.gkv"], s.files())
        expect(f"bytes of the {name} vault", content, s.read("passwords.gkv"))


@scenario
def non_ascii_text(s):
    lines = ["Bücher", "\tÉcole: mot de passe « déjà vu »", "東京", "\t銀行: 暗証番号 🔑",
             "emoji 😀: 𝄞 clef"]
    expected = "\r\n".join(lines) + "\r\n"
    s.make_vault(PASSWORD, "")
    program = s.start()
    unlock(s)

    # Pasted from the X clipboard (xdotool cannot type every character).
    s.set_clipboard("\n".join(lines))
    s.keys("ctrl+Tab", "ctrl+v")
    s.wait_text("editor", 1, "\r\n".join(lines))
    s.wait_title("editor", "* Glimkeep")
    s.shot("pasted")

    # A non-ASCII path finds its entry, and the copy comes back intact.
    s.set_clipboard("東京 銀行")
    s.keys("ctrl+Tab", "ctrl+v")
    s.wait_text("editor", 0, "東京 銀行")
    s.wait_text("editor", 1, "暗証番号 🔑")
    s.keys("Return")
    s.wait_clipboard("暗証番号 🔑")
    s.shot("filtered")

    s.keys("ctrl+s")
    answer(s, "Data successfully saved")
    expect("saved plaintext", expected.encode("utf-8"), s.open_vault(PASSWORD))
    close_cleanly(s, program, "editor")

    program = s.start()
    unlock(s)
    s.wait_text("editor", 1, expected)
    s.shot("reopened")
    close_cleanly(s, program, "editor")
    expect("plaintext after reopening", expected.encode("utf-8"), s.open_vault(PASSWORD))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    add_tool_arguments(parser)
    parser.add_argument("--pictures", help="also cut the windows out into this folder (docs/screenshots)")
    parser.add_argument("--only", action="append", help="run only this scenario (repeatable)")
    parser.add_argument("--repeat", type=int, default=1, help="run the suite this many times in a row")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # still end what was started
    tools = tools_from(args, args.pictures)
    if not tools:
        return 2

    chosen = [f for f in SCENARIOS if not args.only or f.__name__ in args.only]
    failed = []
    for run in range(1, args.repeat + 1):
        for function in chosen:
            label = function.__name__ + (f" (run {run})" if args.repeat > 1 else "")
            started = time.monotonic()
            session = Session(function.__name__, tools, args.out)
            try:
                with session as s:
                    function(s)
                print(f"ok   {label} ({time.monotonic() - started:.1f} s)", flush=True)
            except (Failure, Exception) as error:  # every scenario runs, whatever the last one did
                failed.append(label)
                print(f"FAIL {label} ({time.monotonic() - started:.1f} s): {error}", flush=True)
                if not isinstance(error, Failure):
                    traceback.print_exc()
                print(f"     screenshots and the program's output: {session.dir}", flush=True)
    print(f"{len(chosen) * args.repeat - len(failed)} of {len(chosen) * args.repeat} scenarios passed", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

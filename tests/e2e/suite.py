#!/usr/bin/env python3
"""The end-to-end suite: the real Glimkeep program, started as a process under Wine
in a fresh empty folder on a display of its own, driven only through real X key
events and checked only through what it shows, what it puts on the clipboard, its
exit code and the files it leaves (opened with the program's own container).

    tests/e2e/suite.py [--only NAME ...] [--repeat N] [--pictures DIR] [--jobs N]

Screenshots of every checked step go to build/e2e/<scenario>/; a failing scenario
prints where they are. Exit code 0 when every scenario passed. With --jobs N, N
scenarios run at once, each worker with a Wine prefix of its own (copies of the
first, made once) and every scenario on a display of its own as always.
"""

import argparse
import base64
import hmac
import os
import shutil
import signal
import struct
import subprocess
import sys
import threading
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import WINE64, Display, Failure, Session, Wine, add_tool_arguments, expect, tools_from, wait_until  # noqa: E402

PASSWORD = "correct horse 42"
EMPTY_VAULT_SIZE = 97  # the header of format 2.0
VAULT_PY = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "db", "vault.py")

SCENARIOS = []


def scenario(function):
    SCENARIOS.append(function)
    return function


NEW_PASSWORD = "a new one for 2.0"


def save_and_close(s, program, expected):
    """Ctrl+S saves `expected` (the plaintext), then the program closes cleanly."""
    s.keys("ctrl+s")
    answer(s, "Data successfully saved")
    expect("saved plaintext", expected, s.open_vault(PASSWORD))
    close_cleanly(s, program, "editor")


def start_unlocked(s, document):
    """A vault of `document` under PASSWORD, the program started and unlocked."""
    s.make_vault(PASSWORD, document)
    program = s.start()
    unlock(s)
    return program


def enter_password(s, password=PASSWORD):
    """The password typed into the open window, then Enter."""
    s.wait_window("decrypt_db")
    s.wait_foreground("decrypt_db")
    s.type(password)
    s.keys("Return")


def start_until_message(s, caption):
    """The program started on the vault there and the password entered, until the
    message `caption` shows; returns the program and the message's text."""
    program = s.start()
    enter_password(s)
    s.wait_dialog(caption)
    return program, s.box_text(caption)


def unlock(s, password=PASSWORD):
    enter_password(s, password)
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
    # The picture shows the strength line under a password being typed; the box is
    # emptied again, key by key, before the empty password is tried.
    sample = "moss-lantern-1987"
    s.type(sample)
    s.wait_text("create_db", 0, sample)
    shot = s.shot("create-window")
    s.picture(shot, "create_db", "create_db")
    s.keys(*["BackSpace"] * len(sample), pause=0.5)
    s.wait_text("create_db", 0, "")
    expect("files before anything is confirmed", [], s.files())

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
    enter_password(s, "correct horse 41")
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
    program = start_unlocked(s, "")

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


def type_unsaved_line(s):
    """Types "shop: 5678" at the end of the editor box: an unsaved change."""
    s.keys("ctrl+Tab", "ctrl+End")
    s.type("shop: 5678")
    s.wait_title("editor", "* Glimkeep")


def open_with_unsaved_line(s):
    """A small vault opened in the program with one unsaved line typed; returns the
    document, the vault's bytes and the program."""
    document = "bank\r\n\tpin: 1234\r\n"
    s.make_vault(PASSWORD, document)
    vault = s.read("passwords.gkv")
    program = s.start()
    unlock(s)
    type_unsaved_line(s)
    return document, vault, program


@scenario
def exit_with_unsaved_changes(s):
    document, vault, program = open_with_unsaved_line(s)
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

    # An unsaved change is saved (a backup first) when the interval is over, then the
    # editor locks.
    before = s.read("passwords.gkv")
    type_unsaved_line(s)
    s.wait_gone("editor", timeout=40)
    s.wait_window("decrypt_db")
    s.shot("saved-and-locked")
    expect("process after the lock", None, program.poll())
    expect("plaintext saved by the lock", (document + "shop: 5678\r\n").encode(), s.open_vault(PASSWORD))
    backups = s.backups()
    expect("number of backups", 1, len(backups))
    expect("the backup is the vault before", before, s.read(backups[0]))
    unlock(s)
    close_cleanly(s, program, "editor")


@scenario
def quick_unlock(s):
    """glimkeep.ini's [lock] quick-unlock=last 4: Ctrl+L, and the last four characters of
    the master password reopen the editor with the document; after a wrong code only
    the full password opens it (the four characters alone are a wrong password)."""
    document = "bank\r\n\tpin: 1234\r\nmail: engine\r\n"
    s.make_vault(PASSWORD, document)
    with open(s.path("glimkeep.ini"), "w", encoding="utf-8") as ini:
        ini.write("[lock]\r\nquick-unlock=last 4\r\n")
    program = s.start()
    unlock(s)
    s.wait_text("editor", 1, document)

    code = PASSWORD[-4:]
    for round in ("first", "second"):
        s.keys("ctrl+l")
        s.wait_gone("editor")
        s.wait_window("decrypt_db")
        s.shot(f"quick-unlock-{round}")
        enter_password(s, code)
        s.wait_window("editor")
        s.wait_foreground("editor")
        s.wait_text("editor", 1, document)
        expect("process after the quick unlock", None, program.poll())

    # A wrong code: the window stays and wants the full password from now on.
    s.keys("ctrl+l")
    s.wait_gone("editor")
    enter_password(s, "x" + code[1:])
    s.shot("full-password-after-a-wrong-code")
    expect("process after a wrong code", None, program.poll())
    enter_password(s, code)
    answer(s, "Wrong password")
    unlock(s)
    s.wait_text("editor", 1, document)
    expect("the vault as it was", document.encode(), s.open_vault(PASSWORD))
    expect("nothing written beside the vault", ["glimkeep.ini", "passwords.gkv"], sorted(s.files()))
    close_cleanly(s, program, "editor")


PASSWORD_CLASSES = ("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz", "0123456789", "!*+-.=?_")


def clipboard_empty(s):
    """True once Windows programs see no text on the clipboard."""
    return not s.probe.ask("clipboard")[0]


def selection(s, window_class, index):
    found, text = s.probe.ask("selection", window_class, index)
    if not found:
        raise Failure(f'no edit control {index} in "{window_class}"')
    return [int(v) for v in text.split()]


def keep_awake(s):
    """An edit of the filter box (a character typed and taken back), which starts the
    inactivity interval anew without changing the document."""
    s.keys("alt+1", "x", "BackSpace", "alt+2")


@scenario
def everyday_protections(s):
    """Generated passwords, Lock with unsaved changes, the clipboard that clears itself
    (4 s in the short-lock build, which also locks after 8 s without edits, saving
    first: every step there keeps within that), Find and F3, Lock with nothing unsaved."""
    document = "bank\r\n\tpin: 1234\r\nShop\r\n\tPIN: 5678\r\n"
    s.make_vault(PASSWORD, document)
    program = s.start(s.tools.short_lock_exe)
    unlock(s)

    # Ctrl+G twice at the end of the document: two different passwords of 20
    # characters from the four classes, each class present; the editor is changed.
    s.keys("ctrl+Tab", "ctrl+End", "ctrl+g")
    s.wait_title("editor", "* Glimkeep")
    s.keys("Return", "ctrl+g")
    wait_until("two passwords", lambda: len(s.text("editor", 1)) == len(document) + 42, 10)
    first, second = s.text("editor", 1)[len(document):].split("\r\n")
    s.shot("generated")
    for password in (first, second):
        expect("length of a generated password", 20, len(password))
        expect("characters outside the classes", "", "".join(c for c in password if c not in "".join(PASSWORD_CLASSES)))
        for chars in PASSWORD_CLASSES:
            expect(f"{password} has one of {chars}", True, any(c in chars for c in password))
    expect("two passwords in a row differ", True, first != second)
    # Ctrl+Shift+G: a passphrase of six lower-case words joined by '-'.
    s.keys("Return", "ctrl+shift+g")
    wait_until("a passphrase", lambda: s.text("editor", 1)[len(document):].count("\r\n") == 2 and
               s.text("editor", 1).endswith(tuple("abcdefghijklmnopqrstuvwxyz")) and
               s.text("editor", 1).split("\r\n")[-1].count("-") == 5, 10)
    phrase = s.text("editor", 1).split("\r\n")[-1]
    expect("six words of letters", True, all(4 <= len(w) <= 8 and w.isalpha() and w.islower()
                                             for w in phrase.split("-")))
    s.keys("shift+Home", "BackSpace", "BackSpace")
    wait_until("the passphrase taken out", lambda: len(s.text("editor", 1)) == len(document) + 42, 10)

    # Lock with unsaved changes: No leaves everything as it was; Yes saves and locks.
    keep_awake(s)
    s.keys("ctrl+l")
    answer(s, "Save changes and lock?")  # Enter answers the default, No
    s.wait_title("editor", "* Glimkeep")
    expect("files after No", ["passwords.gkv"], s.files())
    s.wait_foreground("editor")
    keep_awake(s)
    s.keys("ctrl+l")
    answer(s, "Save changes and lock?", "Tab", "Return")
    answer(s, "Data successfully saved")
    s.wait_gone("editor")
    s.wait_window("decrypt_db")
    s.shot("locked")
    expect("number of backups", 1, len(s.backups()))
    expect("saved plaintext", (document + first + "\r\n" + second + "\r\n").encode(), s.open_vault(PASSWORD))
    expect("process after the lock", None, program.poll())

    # Enter copies; a few seconds later the clipboard is empty. Nothing is unsaved, so
    # the editor locks 8 s after the last edit, which the lock leaves alone.
    unlock(s)
    s.keys("alt+1")
    s.type("bank pin")
    s.wait_text("editor", 1, "1234")
    s.keys("Return")
    s.wait_clipboard("1234")
    wait_until("the clipboard emptied", lambda: clipboard_empty(s), 15, 0.5)
    s.shot("clipboard-cleared")
    # Something copied since the copy is left alone, also by the lock.
    s.keys("x", "BackSpace")  # an edit of the filter: the lock waits 8 s again
    s.wait_text("editor", 1, "1234")
    s.keys("Return")
    s.wait_clipboard("1234")
    s.set_clipboard("mine now")
    time.sleep(8)
    expect("clipboard copied by someone else", (True, "mine now"), s.probe.ask("clipboard"))
    s.wait_window("decrypt_db")
    expect("clipboard after the lock", (True, "mine now"), s.probe.ask("clipboard"))
    close_cleanly(s, program, "decrypt_db")

    # The shipped program, which waits 10 minutes to lock. Find, whatever the case:
    # the first "pin" after the caret (at the start), then F3.
    program = s.start()
    unlock(s)
    s.keys("ctrl+Home", "ctrl+f")
    s.wait_dialog("Find")
    s.wait_foreground("#32770")
    s.type("pin")
    s.keys("Return")
    wait_until("the first pin selected", lambda: selection(s, "editor", 1) == [7, 10], 10)
    s.shot("found")
    s.keys("Escape")
    s.wait_gone("#32770", "Find")
    s.wait_foreground("editor")
    s.keys("F3")
    at = document.index("PIN")
    wait_until("the second PIN selected", lambda: selection(s, "editor", 1) == [at, at + 3], 10)
    s.keys("F3")  # wraps round to the first
    wait_until("the first pin again", lambda: selection(s, "editor", 1) == [7, 10], 10)

    # Ctrl+L with nothing unsaved locks at once, and the copy made just before leaves
    # the clipboard with it, long before its 30 s.
    s.keys("alt+1")
    s.type("shop pin")
    s.wait_text("editor", 1, "5678")
    s.keys("Return")
    s.wait_clipboard("5678")
    s.keys("ctrl+l")
    s.wait_window("decrypt_db")
    expect("editor after Ctrl+L", None, s.window("editor"))
    wait_until("the clipboard emptied by the lock", lambda: clipboard_empty(s), 5, 0.5)
    close_cleanly(s, program, "decrypt_db")


def totp(base32, unix_time, period=30, digits=6):
    """RFC 6238 with HMAC-SHA-1, from Python's standard library."""
    key = base64.b32decode(base32 + "=" * (-len(base32) % 8))
    mac = hmac.new(key, struct.pack(">Q", int(unix_time) // period), "sha1").digest()
    offset = mac[-1] & 15
    return str((struct.unpack(">I", mac[offset:offset + 4])[0] & 0x7FFFFFFF) % 10 ** digits).zfill(digits)


def wait_code(s, base32, since):
    """Waits until the clipboard holds the code of `base32` at a time between `since`
    and now (the key was sent in between, perhaps across a 30 s step)."""
    def holds():
        try:
            return s.clipboard() in (totp(base32, since), totp(base32, time.time()))
        except (Failure, UnicodeDecodeError, subprocess.TimeoutExpired):
            return False
    try:
        wait_until("the one-time code on the clipboard", holds, 10, 0.2)
    except Failure:
        raise Failure(f"clipboard: expected the code {totp(base32, time.time())}, "
                      f"holds {s.probe.ask('clipboard')[1]!r}") from None


@scenario
def one_time_codes(s):
    """Ctrl+T copies the current code of the entry shown from the filter box and from
    the editor box (an unsaved edit of the secret counts), and the copy leaves the
    clipboard as Enter's does (4 s in the short-lock build); an entry without a
    secret and one whose secret cannot be read are told so; Enter still copies what
    the editor shows."""
    document = ("github\r\n\tuser: alice\r\n\totp: JBSW Y3DP EHPK 3PXP\r\n"
                "bank\r\n\tpin: 1234\r\n"
                "broken: otpauth://totp/x?digits=8\r\n")
    s.make_vault(PASSWORD, document)
    program = s.start(s.tools.short_lock_exe)
    unlock(s)

    # From the filter box: the entry's otp child; the title keeps its meaning.
    s.type("github")
    s.wait_text("editor", 1, "user: alice\r\notp: JBSW Y3DP EHPK 3PXP\r\n")
    since = time.time()
    s.keys("ctrl+t")
    wait_code(s, "JBSWY3DPEHPK3PXP", since)
    s.shot("code-copied")
    expect("title after Ctrl+T", "Glimkeep", s.window("editor"))
    wait_until("the code leaves the clipboard", lambda: clipboard_empty(s), 15, 0.5)

    # Enter copies the value shown; Ctrl+T on an entry without a secret says so and
    # leaves the clipboard alone.
    s.type(" user")
    s.wait_text("editor", 1, "alice")
    s.keys("Return")
    s.wait_clipboard("alice")
    s.keys("ctrl+t")
    answer(s, "No one-time secret")
    expect("clipboard after a refused Ctrl+T", (True, "alice"), s.probe.ask("clipboard"))

    # From the editor box, with the secret changed and not saved.
    s.wait_foreground("editor")
    s.keys("ctrl+BackSpace")
    s.type("otp")
    s.wait_text("editor", 1, "JBSW Y3DP EHPK 3PXP")
    s.keys("alt+2", "ctrl+a")
    s.type("mzxw6ytboi")
    s.wait_text("editor", 1, "mzxw6ytboi")
    s.wait_title("editor", "* Glimkeep")
    since = time.time()
    s.keys("ctrl+t")
    wait_code(s, "MZXW6YTBOI", since)
    s.shot("code-of-the-edit")

    # A secret that cannot be read: a URI without one.
    s.keys("alt+1", "ctrl+BackSpace", "ctrl+BackSpace")
    s.wait_text("editor", 0, "")
    s.type("broken")
    s.wait_text("editor", 1, "otpauth://totp/x?digits=8")
    s.keys("ctrl+t")
    answer(s, "Unreadable one-time secret")

    s.wait_foreground("editor")
    s.keys("ctrl+s")
    answer(s, "Data successfully saved")
    close_cleanly(s, program, "editor")
    expect("saved plaintext", document.replace("JBSW Y3DP EHPK 3PXP", "mzxw6ytboi").encode(), s.open_vault(PASSWORD))


def client_sizes(s, picture=None):
    """Client sizes of the first-run, open and editor windows, with screenshots; the
    editor also cut out as `picture` when named."""
    sizes = {}
    if os.path.exists(s.path("passwords.gkv")):
        os.remove(s.path("passwords.gkv"))
    program = s.start()
    s.wait_window("create_db")
    sizes["create_db"] = s.probe.ask("client", "create_db")[1]
    shot = s.shot("create-window")
    close_cleanly(s, program, "create_db")
    s.make_vault(PASSWORD, "bank\r\n\tpin: 1234\r\n")
    program = s.start()
    s.wait_window("decrypt_db")
    sizes["decrypt_db"] = s.probe.ask("client", "decrypt_db")[1]
    unlock(s)
    sizes["editor"] = s.probe.ask("client", "editor")[1]
    shot = s.shot("editor")
    if picture:
        s.picture(shot, picture, "editor")
    close_cleanly(s, program, "editor")
    return {k: [int(v) for v in size.split()] for k, size in sizes.items()}


@scenario
def high_dpi(s):
    """At 144 DPI (the prefix's LogPixels) every window's client area is 1.5 times
    its size at 96 DPI."""
    key = r"HKCU\Control Panel\Desktop"
    normal = client_sizes(s)
    try:
        s.wine.run("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f")
        # A screen of 1.5 times the size, as a 144-DPI screen has: the editor fits on it.
        s.restart_wine((1536, 1152))
        large = client_sizes(s, "editor-144dpi")
    finally:
        # The prefix is shared by every scenario: back to 96 DPI whatever happened.
        s.wine.run("reg", "delete", key, "/v", "LogPixels", "/f")
        s.restart_wine()
    for window, size in normal.items():
        # 1.5 times, give or take the rounding of a frame measured at 144 DPI.
        off = [abs(big - small * 3 / 2) for big, small in zip(large[window], size)]
        expect(f"client size of {window} at 144 DPI ({large[window]} against {size} at 96)", True, max(off) <= 1)


def read_with_vault_py(s, password, name):
    """The plaintext as the independent Python reference reads it (hashlib, cryptography)."""
    out = s.path("vault-py.out")
    result = subprocess.run([sys.executable, VAULT_PY, "read", password.encode().hex(), s.path(name), out],
                            capture_output=True, timeout=120)
    expect(f"vault.py read {name}", 0, result.returncode)
    with open(out, "rb") as f:
        data = f.read()
    os.remove(out)
    return data


@scenario
def upgrade_vault(s):
    """A 1.0 vault: the warning once, then File > Upgrade saves it as 2.0 with a backup."""
    document = "bank\r\n\tpin: 1234\r\n"
    s.make_vault(PASSWORD, document, command="create10")
    old = s.read("passwords.gkv")
    program = s.start()
    enter_password(s)
    answer(s, "Old vault format")
    s.wait_window("editor")
    s.wait_text("editor", 1, document)

    s.wait_foreground("editor")
    s.keys("alt+f", "u")
    s.wait_dialog("Upgrade vault format?")
    s.wait_foreground("#32770")
    shot = s.shot("upgrade-question")
    s.picture(shot, "question", "#32770", "Upgrade vault format?")
    s.keys("Tab", "Return")  # from No to Yes
    # A new master password: the old one is refused.
    s.wait_window("upgrade_password")
    s.wait_foreground("upgrade_password")
    shot = s.shot("upgrade-window")
    s.picture(shot, "upgrade_password", "upgrade_password")
    s.type(PASSWORD)
    s.keys("Return")
    answer(s, "Same password")
    s.wait_foreground("upgrade_password")
    expect("files after the same password", ["passwords.gkv"], s.files())
    s.keys("ctrl+BackSpace")
    s.type(NEW_PASSWORD)
    s.keys("Return")
    answer(s, "Data successfully saved")
    vault = s.read("passwords.gkv")
    expect("version written", b"GLIMKEEPDB2.0", vault[:13])
    expect("plaintext read by vault.py", document.encode(), read_with_vault_py(s, NEW_PASSWORD, "passwords.gkv"))
    s.open_vault(PASSWORD, status=9)
    backups = s.backups()
    expect("number of backups", 1, len(backups))
    expect("backup bytes", old, s.read(backups[0]))
    # The 1.0 backup can be read without the password: Yes deletes it.
    answer(s, "Backups of format 1.0", "Tab", "Return")
    expect("files after Yes", ["passwords.gkv"], s.files())
    close_cleanly(s, program, "editor")


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def choose_file(s, title, path):
    """Types a full path into the system's file dialog and presses Enter."""
    s.wait_dialog(title)
    s.wait_foreground("#32770")
    s.shot(title.lower())
    s.type(wine_path(path))
    s.keys("Return")
    s.wait_gone("#32770", title)


@scenario
def csv_import_export(s):
    """File > Import from CSV: a Bitwarden export from another folder joins the vault's
    group as an unsaved change; the save keeps the vault where it was and then erases
    the CSV file on Yes. File > Export to CSV writes the entries after a warning."""
    s.make_vault(PASSWORD, "email\r\n\tgmail\r\n\t\tuser: alice\r\n")
    os.mkdir(s.path("downloads"))
    csv = s.path("downloads/export.csv")
    with open(csv, "wb") as f:
        f.write("folder,favorite,type,name,notes,fields,reprompt,login_uri,login_username,login_password,login_totp\n"
                "email,,login,gmx,,,0,,bob,p\u00e4ssw\u00f6rd,\n"
                ",,login,Caf\u00e9,\"line 1\nline 2\",,0,,,\"x,y\",\n".encode())
    expected = ("email\r\n\tgmail\r\n\t\tuser: alice\r\n\tgmx\r\n\t\tuser: bob\r\n\t\tpassword: p\u00e4ssw\u00f6rd\r\n"
                "Caf\u00e9\r\n\tpassword: x,y\r\n\tnotes\r\n\t\tline 1\r\n\t\tline 2\r\n")
    program = s.start()
    unlock(s)
    s.keys("alt+f", "i")
    choose_file(s, "Open", csv)
    answer(s, "Import from CSV")
    s.wait_text("editor", 1, expected)
    s.wait_title("editor", "* Glimkeep")
    expect("nothing saved yet", [], s.backups())

    s.keys("ctrl+s")
    answer(s, "Data successfully saved")
    s.wait_dialog("Imported CSV file")
    s.wait_foreground("#32770")
    s.shot("delete-question")
    s.keys("Tab", "Return")  # from No to Yes
    s.wait_gone("#32770", "Imported CSV file")
    wait_until("the CSV file erased", lambda: not os.path.exists(csv), 10)
    expect("the vault saved where it was", expected.encode(), s.open_vault(PASSWORD))
    expect("one backup", 1, len(s.backups()))

    s.keys("alt+f", "e")
    answer(s, "Export to CSV", "Tab", "Return")  # the warning: Yes
    exported = s.path("downloads/out.csv")
    choose_file(s, "Save As", exported)
    answer(s, "Export to CSV")
    expect("the exported file", "group,title,username,password,url,notes,otp\r\n"
           "email,gmx,bob,p\u00e4ssw\u00f6rd,,,\r\n"
           ",Caf\u00e9,,\"x,y\",,\"line 1\r\nline 2\",\r\n".encode(), s.read("downloads/out.csv"))
    close_cleanly(s, program, "editor")
    expect("files", sorted(["downloads", "passwords.gkv"] + s.backups()), s.files())


@scenario
def change_password(s):
    """File > Change master password: an empty one refused, then saved at once with the
    new one; the backup keeps the old one. The new password is a passphrase longer than
    the box is wide: every character of it counts."""
    document = "mail\r\n\tpassword: engine\r\n"
    new_password = "correct horse battery staple, then a few more words to go past the box 2026!"
    program = start_unlocked(s, document)
    s.keys("alt+f", "c")
    s.wait_window("change_password")
    s.wait_foreground("change_password")
    s.type("new")  # the strength line under a password being typed
    s.wait_text("change_password", 0, "new")
    shot = s.shot("change-window")
    s.picture(shot, "change_password", "change_password")
    s.keys("BackSpace", "BackSpace", "BackSpace")
    s.wait_text("change_password", 0, "")
    s.keys("Return")
    answer(s, "Error")
    s.wait_foreground("change_password")
    expect("files after an empty password", ["passwords.gkv"], s.files())
    s.type(new_password)
    s.keys("Return")
    answer(s, "Data successfully saved")
    s.wait_gone("change_password")
    backups = s.backups()
    expect("number of backups", 1, len(backups))
    expect("new password opens", document.encode(), s.open_vault(new_password))
    s.open_vault(PASSWORD, status=9)
    expect("backup opens with the old password", document.encode(), s.open_vault(PASSWORD, name=backups[0]))
    close_cleanly(s, program, "editor")


def damaged_vaults():
    """Each damage, with the text that the load reports for it."""
    return [
        ("short", b"GLIMKEEPDB1.0" + bytes(79), "File has insufficient size (file corrupted?)"),
        ("foreign", b"NOTAVAULT!1.0" + bytes(84), "This file is not database file for this program"),
        ("wrong-version", b"GLIMKEEPDB1.1" + bytes(80), "Unsupported file version"),
        ("zero-iterations", b"GLIMKEEPDB2.0" + bytes(84), "This file is not database file for this program"),
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
        shot = s.shot(f"{name}-vault")
        if name == "short":
            s.picture(shot, "error_box", "#32770", "Error loading database")
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
    program = start_unlocked(s, "")

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

    save_and_close(s, program, expected.encode("utf-8"))

    program = s.start()
    unlock(s)
    s.wait_text("editor", 1, expected)
    s.shot("reopened")
    close_cleanly(s, program, "editor")
    expect("plaintext after reopening", expected.encode("utf-8"), s.open_vault(PASSWORD))


@scenario
def long_passphrase(s):
    """Every typed character counts: an 80-character passphrase in both password
    windows (the open window after a Ctrl+Backspace that must empty its box), a long
    filter, and Ctrl+H deleting one character only."""
    passphrase = "the quick brown fox jumps over the lazy dog 0123456789 and then some more words!"
    expect("passphrase length", 80, len(passphrase))
    program = s.start()
    s.wait_window("create_db")
    s.wait_foreground("create_db")
    s.type(passphrase)
    s.wait_text("create_db", 0, passphrase)
    s.keys("Return")
    answer(s, "Database successfully created")
    expect("plaintext under the whole passphrase", b"", s.open_vault(passphrase))

    s.wait_window("decrypt_db")
    s.wait_foreground("decrypt_db")
    s.type("mistyped")
    s.keys("ctrl+BackSpace")
    s.wait_text("decrypt_db", 0, "")
    s.type(passphrase)
    s.keys("Return")
    s.wait_window("editor")
    s.wait_foreground("editor")

    long_filter = "no such entry " * 7
    s.type(long_filter + "abc")
    s.wait_text("editor", 0, long_filter + "abc")
    s.keys("ctrl+h")
    s.wait_text("editor", 0, long_filter + "ab")
    s.shot("long-filter")
    close_cleanly(s, program, "editor")


@scenario
def session_end(s):
    """Windows ends the session: unsaved edits hold it up; ended anyway, they are
    saved with a backup first; with nothing unsaved the program just ends."""
    document, vault, program = open_with_unsaved_line(s)

    s.wine.run("wineboot", "--end-session")
    time.sleep(1)
    expect("process after a refused session end", None, program.poll())
    expect("title after a refused session end", "* Glimkeep", s.window("editor"))
    expect("vault after a refused session end", vault, s.read("passwords.gkv"))
    s.shot("refused")

    # The session ends over the refusal (Wine's wineboot stops at a refusal, so the
    # message comes from the probe, as Windows sends it then).
    expect("session ended", (True, ""), s.probe.ask("endsession", "editor"))
    expect("exit code after the session ended", 0, s.wait_exit(program))
    backups = s.backups()
    expect("number of backups", 1, len(backups))
    expect("backup bytes", vault, s.read(backups[0]))
    expect("saved plaintext", (document + "shop: 5678\r\n").encode(), s.open_vault(PASSWORD))

    saved = s.read("passwords.gkv")
    program = s.start()
    unlock(s)
    s.wine.run("wineboot", "--end-session")
    expect("exit code with nothing unsaved", 0, s.wait_exit(program))
    expect("vault with nothing unsaved", saved, s.read("passwords.gkv"))
    expect("files", sorted(["passwords.gkv"] + backups), s.files())


@scenario
def emptied_value_keeps_children(s):
    """A value emptied in the editor, then a filter typo: the entry's children stay."""
    program = start_unlocked(s, "site: old\r\n\tnote: keep me\r\nmail: x\r\n")
    s.type("site")
    s.wait_text("editor", 1, "old")
    s.keys("ctrl+Tab", "ctrl+a", "BackSpace")
    s.wait_text("editor", 1, "")
    s.keys("ctrl+Tab")
    s.type("x")
    s.keys("BackSpace")
    s.wait_text("editor", 0, "site")
    s.keys("ctrl+BackSpace")
    s.wait_text("editor", 1, "site\r\n\tnote: keep me\r\nmail: x\r\n")
    save_and_close(s, program, b"site\r\n\tnote: keep me\r\nmail: x\r\n")


@scenario
def text_the_editor_cannot_hold(s):
    """A zero byte: nothing opens and nothing changes. Bytes that are not UTF-8: the
    user is told before the editor shows them."""
    s.make_vault(PASSWORD, b"mail\r\n\tpin: 12\x0034\r\nbank\r\n")
    vault = s.read("passwords.gkv")
    program, text = start_until_message(s, "Error opening database")
    if "byte 15 (line 2)" not in text or "Nothing was changed" not in text:
        raise Failure(f"message for the zero byte: {text!r}")
    s.shot("zero-byte")
    expect("editor over a zero byte", None, s.window("editor"))
    s.wait_foreground("#32770")
    s.keys("Return")
    expect("exit code for a zero byte", 1, s.wait_exit(program))
    expect("files after a zero byte", ["passwords.gkv"], s.files())
    expect("vault after a zero byte", vault, s.read("passwords.gkv"))

    s.make_vault(PASSWORD, b"cafe: caf\xe9 \xff\xfe\r\n")
    program, text = start_until_message(s, "Text is not valid UTF-8")
    if "3 bytes" not in text or "backup" not in text:
        raise Failure(f"message for the bytes that are not UTF-8: {text!r}")
    s.shot("not-utf8")
    s.wait_foreground("#32770")
    s.keys("Return")
    s.wait_window("editor")
    s.wait_text("editor", 1, "cafe: caf\ufffd \ufffd\ufffd\r\n")
    close_cleanly(s, program, "editor")


@scenario
def pasted_line_break(s):
    """A value pasted with its line break loses the break; a break inside is refused."""
    program = start_unlocked(s, "site: old\r\nnext: 2\r\n")
    s.type("site")
    s.wait_text("editor", 1, "old")
    s.set_clipboard("n3w pass\n")
    s.keys("ctrl+Tab", "ctrl+a", "ctrl+v")
    s.wait_text("editor", 1, "n3w pass")
    s.set_clipboard("two\nlines")
    s.keys("ctrl+v")
    answer(s, "Multiple lines not allowed")
    s.wait_text("editor", 1, "n3w pass")
    s.wait_foreground("editor")
    save_and_close(s, program, b"site: n3w pass\r\nnext: 2\r\n")


@scenario
def unreadable_vault(s):
    """A vault another program holds is there all the same: it fails to load; and
    "Create database" never replaces a vault that appeared meanwhile."""
    s.make_vault(PASSWORD, "bank: 1234\r\n")
    vault = s.read("passwords.gkv")
    expect("hold the vault", (True, ""), s.probe.ask("hold", "passwords.gkv"))
    program = s.start()
    s.wait_dialog("Error loading database")
    expect("message for a held vault", "Permission denied\r\npasswords.gkv", s.box_text("Error loading database"))
    s.shot("held")
    s.wait_foreground("#32770")
    s.keys("Return")
    expect("exit code for a held vault", 1, s.wait_exit(program))
    expect("release the vault", (True, ""), s.probe.ask("release"))
    expect("files after a held vault", ["passwords.gkv"], s.files())
    expect("vault after a held vault", vault, s.read("passwords.gkv"))

    os.remove(s.path("passwords.gkv"))
    program = s.start()
    s.wait_window("create_db")
    s.wait_foreground("create_db")
    s.make_vault(PASSWORD, "bank: 1234\r\n")
    vault = s.read("passwords.gkv")
    s.type("another password")
    s.keys("Return")
    answer(s, "Error creating database")
    expect("vault after the refused creation", vault, s.read("passwords.gkv"))
    s.wait_foreground("create_db")
    s.keys("alt+F4")
    unlock(s)
    s.wait_text("editor", 1, "bank: 1234\r\n")
    close_cleanly(s, program, "editor")
    expect("files", ["passwords.gkv"], s.files())


@scenario
def changed_elsewhere(s):
    """The native glimkeep-cli writes the vault while the editor holds an unsaved edit;
    Ctrl+S keeps both. Then the same value changed on both sides is kept twice, and
    after a password change elsewhere the save asks for the current password. Every
    question answered with Enter."""
    program = start_unlocked(s, "email\r\n\tgmail: secret1\r\nbank: 1234\r\n")
    s.keys("ctrl+Tab", "ctrl+End")
    s.type("work: vpn")
    s.wait_title("editor", "* Glimkeep")
    s.cli("import", passwords=(PASSWORD,), stdin=b"email\n\tgmail: secret1\n\tgmx: new2\nbank: 9999\n")
    found = s.read("passwords.gkv")
    s.keys("ctrl+s")
    answer(s, "Data successfully saved")
    s.wait_title("editor", "Glimkeep")
    merged = "email\r\n\tgmail: secret1\r\n\tgmx: new2\r\nbank: 9999\r\nwork: vpn\r\n"
    s.wait_text("editor", 1, merged)
    expect("both changes saved", merged.encode(), s.open_vault(PASSWORD))
    expect("the newest backup holds the file as found", found, s.read(s.backups()[-1]))

    # The same value changed differently on both sides: ours, then theirs.
    s.keys("ctrl+Tab")
    s.type("bank")
    s.wait_text("editor", 1, "9999")
    s.keys("ctrl+Tab", "End", "BackSpace", "BackSpace", "BackSpace", "BackSpace")
    s.type("1111")
    s.wait_title("editor", "* Glimkeep")
    s.cli("import", passwords=(PASSWORD,), stdin=merged.replace("9999", "2222").encode())
    s.keys("ctrl+s")
    answer(s, "Data successfully saved")
    both = merged.replace("bank: 9999\r\n", "bank: 1111\r\nbank: 2222\r\n")
    expect("both values kept", both.encode(), s.open_vault(PASSWORD))
    s.wait_text("editor", 1, "1111")

    # The password changed elsewhere: the save asks for the current one and merges.
    new_password = "changed elsewhere 9"
    s.cli("passwd", passwords=(PASSWORD, new_password))
    s.keys("End")
    s.type("5")
    s.wait_title("editor", "* Glimkeep")
    s.keys("ctrl+s")
    s.wait_window("decrypt_db")
    s.wait_foreground("decrypt_db")
    s.shot("password-changed-elsewhere")
    s.type(new_password)
    s.keys("Return")
    answer(s, "Data successfully saved")
    s.wait_title("editor", "Glimkeep")
    expect("saved under the new password", both.replace("1111", "11115").encode(), s.open_vault(new_password))
    expect("no conflicted copy", [], [f for f in s.files() if "conflicted copy" in f])
    close_cleanly(s, program, "editor")


def start_target(s, title):
    """The probe's typing target, a window of another program, in front."""
    program = s.wine.start_program(s.tools.probe, s.folder, s.log, "target", title)
    s.programs.append(program)
    s.wait_window("typing_target", title)
    return program


def expect_typed(s, title, user, password):
    """The target holds `user` and `password` in its two boxes, and Enter came last."""
    s.wait_title("typing_target", title + " - entered")
    expect("user name typed", user, s.text("typing_target", 0))
    expect("password typed", password, s.text("typing_target", 1))


AUTO_TYPE_PASSWORD = "p\u00e4ssw\u00f6rd\u20ac\U0001D11E"


@scenario
def auto_type_hotkey(s):
    # The window: pattern names one entry, so it is typed at once; "Login" matches only
    # by name and waits for a choice that never comes.
    start_unlocked(s, "bank\r\n\tuser: \u00e5lice\r\n\tpassword: " + AUTO_TYPE_PASSWORD +
                   "\r\n\twindow: Bank*Login\r\nLogin\r\n\tpassword: decoy\r\n")
    clipboard = s.probe.ask("clipboard")
    start_target(s, "Bank of Tests Login")
    s.wait_foreground("typing_target")
    s.keys("ctrl+alt+Insert")
    expect_typed(s, "Bank of Tests Login", "\u00e5lice", AUTO_TYPE_PASSWORD)
    s.shot("typed")
    expect("auto-type picker", None, s.window("auto_type_picker"))
    expect("clipboard after typing", clipboard, s.probe.ask("clipboard"))
    expect("editor title", "Glimkeep", s.window("editor"))


@scenario
def auto_type_picker(s):
    start_unlocked(s, "shop\r\n\tuser: first\r\n\tpassword: one\r\n"
                   "shop\r\n\tuser: second\r\n\tpassword: two\r\nother\r\n\tpass: three\r\n")
    start_target(s, "shop - checkout")
    s.wait_foreground("typing_target")

    # Escape closes the picker and types nothing.
    s.keys("ctrl+alt+Insert")
    s.wait_window("auto_type_picker")
    s.wait_foreground("auto_type_picker")
    s.keys("Escape")
    s.wait_gone("auto_type_picker")
    s.wait_foreground("typing_target")
    expect("typed after Escape", ("", ""), (s.text("typing_target", 0), s.text("typing_target", 1)))

    # Two entries of one name are two rows; the second row types the second entry.
    s.keys("ctrl+alt+Insert")
    s.wait_window("auto_type_picker")
    s.wait_foreground("auto_type_picker")
    shot = s.shot("picker")
    s.picture(shot, "auto_type_picker", "auto_type_picker")
    s.keys("Down", "Return")
    expect_typed(s, "shop - checkout", "second", "two")
    expect("auto-type picker after Enter", None, s.window("auto_type_picker"))


@scenario
def auto_type_from_filter_box(s):
    start_target(s, "A form")
    start_unlocked(s, "folder\r\n\tnote: no password here\r\nmail\r\n\tuser: ada\r\n\tpass: " +
                   AUTO_TYPE_PASSWORD + "\r\n")
    # An entry without a password or sequence types nothing and says so.
    complete(s, "fo", "folder ")
    s.keys("ctrl+Return")
    answer(s, "Auto-type")
    expect("typed for a folder", "", s.text("typing_target", 0))

    s.wait_foreground("editor")
    s.keys("ctrl+a", "BackSpace")
    complete(s, "ma", "mail ")
    s.keys("ctrl+Return")
    expect_typed(s, "A form", "ada", AUTO_TYPE_PASSWORD)


@scenario
def auto_type_stops_when_the_window_changes(s):
    start_unlocked(s, "slow\r\n\tuser: ada\r\n\tpassword: secret\r\n\twindow: Slow*\r\n"
                   "\tauto-type: {USERNAME}{DELAY 4000}{PASSWORD}{ENTER}\r\n")
    start_target(s, "Slow form")
    s.wait_foreground("typing_target")
    s.keys("ctrl+alt+Insert")
    s.wait_text("typing_target", 0, "ada")
    # Another window comes to the front during the pause: the password goes nowhere.
    s.x("xdotool", "mousemove", "300", "500", "click", "1")
    answer(s, "Auto-type")
    expect("password typed elsewhere", "", s.text("typing_target", 1))
    expect("editor title after the stop (nothing typed into it)", "Glimkeep", s.window("editor"))
    expect("target title", "Slow form", s.window("typing_target"))


def typed_nothing(s, what):
    expect(what, ("", ""), (s.text("typing_target", 0), s.text("typing_target", 1)))


@scenario
def auto_type_picker_after_the_title_changed(s):
    start_unlocked(s, "shop\r\n\tuser: first\r\n\tpassword: one\r\n"
                   "shop\r\n\tuser: second\r\n\tpassword: two\r\n")
    # The target closes while the picker is open: the picker closes too.
    target = start_target(s, "shop - checkout")
    s.wait_foreground("typing_target")
    s.keys("ctrl+alt+Insert")
    s.wait_window("auto_type_picker")
    target.terminate()
    s.wait_gone("auto_type_picker")

    # The page in the target changes while the picker is open: Enter types nothing
    # and says so, naming both titles (the text is checked by the native tests).
    start_target(s, "shop - checkout")
    s.wait_foreground("typing_target")
    s.keys("ctrl+alt+Insert")
    s.wait_window("auto_type_picker")
    s.wait_foreground("auto_type_picker")
    expect("retitled", (True, ""), s.probe.ask("retitle", "typing_target", "Evil page"))
    s.wait_title("typing_target", "Evil page")
    s.keys("Return")
    answer(s, "Auto-type")
    expect("auto-type picker after Enter", None, s.window("auto_type_picker"))
    typed_nothing(s, "typed after the title changed")


def start_notepad(s, x, y, width, height):
    """Wine's notepad at a place of its choosing (its own settings in the registry)."""
    for name, value in (("iWindowPosX", x), ("iWindowPosY", y), ("iWindowPosDX", width), ("iWindowPosDY", height)):
        s.wine.run("reg", "add", "HKCU\\Software\\Microsoft\\Notepad", "/v", name, "/t", "REG_DWORD", "/d",
                   str(value), "/f")
    program = subprocess.Popen([WINE64, "notepad"], cwd=s.folder, env=s.env, stdin=subprocess.DEVNULL,
                               stdout=s.log, stderr=subprocess.STDOUT, start_new_session=True)
    s.programs.append(program)
    s.wait_window("Notepad")
    return program


@scenario
def auto_type_into_notepad_after_a_click(s):
    # A click from notepad into Glimkeep's filter box: Wine makes Glimkeep the window
    # in front without raising it, so notepad stays above it in the Z order. The
    # previous window is the one that was in front, not the one below.
    start_unlocked(s, "bank\r\n\tuser: ada\r\n\tpassword: " + AUTO_TYPE_PASSWORD + "\r\n")
    start_notepad(s, 620, 420, 400, 340)
    s.x("xdotool", "mousemove", "820", "640", "click", "1")
    s.wait_foreground("Notepad")
    left, top, width, height = s.rect("editor")
    client_height = int(s.probe.ask("client", "editor")[1].split()[1])
    filter_y = top + height - client_height - 4 + 16
    s.x("xdotool", "mousemove", str(left + width // 2), str(filter_y), "click", "1")
    s.wait_foreground("editor")
    s.shot("editor in front, notepad above it")
    complete(s, "ba", "bank ")
    s.keys("ctrl+Return")
    s.wait_foreground("Notepad")
    wait_until("the entry typed into notepad",
               lambda: s.text("Notepad", 0) == "ada\t" + AUTO_TYPE_PASSWORD + "\r\n", 10)
    s.shot("typed into notepad")


@scenario
def auto_type_waits_for_ctrl_to_be_released(s):
    start_unlocked(s, "bank\r\n\tuser: ada\r\n\tpassword: pw\r\n\twindow: Bank*Login\r\n")
    start_target(s, "Bank Login")
    s.wait_foreground("typing_target")
    s.x("xdotool", "keydown", "ctrl")
    try:
        s.keys("alt+Insert", pause=0.6)
        # Typed now, the keys would reach the target as Ctrl+a, Ctrl+d...
        typed_nothing(s, "typed while Ctrl is held")
    finally:
        s.x("xdotool", "keyup", "ctrl")
    expect_typed(s, "Bank Login", "ada", "pw")


@scenario
def auto_type_picker_filter_and_glimkeep_in_front(s):
    start_unlocked(s, "shop\r\n\tuser: first\r\n\tpassword: one\r\n"
                   "shop\r\n\tuser: second\r\n\tpassword: two\r\nother\r\n\tuser: o\r\n\tpass: three\r\n")
    # The key with Glimkeep's own window in front types nothing and says so.
    s.keys("ctrl+alt+Insert")
    answer(s, "Auto-type")
    expect("auto-type picker", None, s.window("auto_type_picker"))

    # A path typed into the picker finds an entry the title does not name; Tab
    # completes it, and Enter types it.
    start_target(s, "shop - checkout")
    s.wait_foreground("typing_target")
    s.keys("ctrl+alt+Insert")
    s.wait_window("auto_type_picker")
    s.wait_foreground("auto_type_picker")
    s.type("ot")
    s.keys("Tab")
    s.wait_text("auto_type_picker", 0, "other")
    s.keys("Return")
    expect_typed(s, "shop - checkout", "o", "three")


@scenario
def auto_type_refuses_the_desktop(s):
    # A click on the empty desktop makes Wine's desktop window the one in front:
    # the key types nothing there (Enter would open what is selected) and says so.
    start_unlocked(s, "any\r\n\tpassword: pw\r\n\twindow: *\r\n")
    s.x("xdotool", "mousemove", "900", "700", "click", "1")
    wait_until("the desktop in front", lambda: s.probe.ask("foreground") == (True, "#32769"), 15)
    s.keys("ctrl+alt+Insert")
    answer(s, "Auto-type")
    expect("auto-type picker", None, s.window("auto_type_picker"))

    # In an ordinary window, a pattern of a star alone only offers the entry.
    start_target(s, "Anything at all")
    s.wait_foreground("typing_target")
    s.keys("ctrl+alt+Insert")
    s.wait_window("auto_type_picker")
    typed_nothing(s, "typed for window: *")
    s.keys("Escape")
    s.wait_gone("auto_type_picker")


@scenario
def auto_type_brings_an_open_dialog_forward(s):
    # A dialog of the editor is open and hidden behind another window: the key
    # brings the dialog to the front instead of saying nothing.
    start_unlocked(s, "bank\r\n\tuser: ada\r\n\tpassword: pw\r\n\twindow: Bank*Login\r\n")
    s.keys("alt+h", "i")
    s.wait_foreground("#32770")
    start_target(s, "Bank Login")
    s.wait_foreground("typing_target")
    s.keys("ctrl+alt+Insert")
    s.wait_foreground("#32770")
    s.shot("dialog in front")
    s.keys("Return")
    s.wait_gone("#32770")
    typed_nothing(s, "typed while the dialog was open")


@scenario
def auto_type_lock_during_a_delay(s):
    # The longest delay, so that a loaded machine still locks within it.
    start_unlocked(s, "slow\r\n\tuser: ada\r\n\tpassword: secret\r\n\twindow: Slow*\r\n"
                   "\tauto-type: {USERNAME}{DELAY 10000}{PASSWORD}{ENTER}\r\n")
    target = start_target(s, "Slow form")
    s.wait_foreground("typing_target")
    s.keys("ctrl+alt+Insert")
    s.wait_text("typing_target", 0, "ada")
    left, top, width, height = s.rect("editor")
    s.x("xdotool", "mousemove", str(left + width - 40), str(top + height - 40), "click", "1")
    s.wait_foreground("editor")
    s.keys("ctrl+l")
    # The lock comes first; what auto-type typed is told after the unlock, not
    # over the password window.
    s.wait_window("decrypt_db")
    time.sleep(10)  # past the end of the delay
    expect("a message before the unlock", None, s.window("#32770", "Auto-type"))
    enter_password(s)
    answer(s, "Auto-type")
    expect("password typed", "", s.text("typing_target", 1))
    expect("target title", "Slow form", s.window("typing_target"))

    # A lock that does not happen (No to saving): typing stops all the same, and
    # that is told at once.
    target.terminate()
    s.wait_gone("typing_target")
    start_target(s, "Slow form 2")
    s.wait_foreground("typing_target")
    s.keys("ctrl+alt+Insert")
    s.wait_text("typing_target", 0, "ada")
    s.x("xdotool", "mousemove", str(left + width - 40), str(top + height - 40), "click", "1")
    s.wait_foreground("editor")
    s.type("x")
    s.keys("ctrl+l")
    answer(s, "Save changes and lock?")  # Enter answers the default, No
    answer(s, "Auto-type")
    expect("editor after the declined lock", "* Glimkeep", s.window("editor"))
    time.sleep(10)  # past the end of the delay: nothing more is typed
    expect("password typed after the declined lock", "", s.text("typing_target", 1))
    expect("a second message", None, s.window("#32770", "Auto-type"))


@scenario
def auto_type_key_taken_by_another_program(s):
    with open(s.path("glimkeep.ini"), "w", encoding="utf-8") as f:
        f.write("[auto-type] ; mine\r\nhotkey=Ctrl+Shift+F11\r\n")
    s.make_vault(PASSWORD, "bank\r\n\tpassword: pw\r\n")
    expect("key taken by the other program", (True, ""), s.probe.ask("hotkey", "6", "122"))  # Ctrl+Shift+F11
    s.start()
    enter_password(s)
    answer(s, "Auto-type")
    # Told once per run of the program, not at every unlock.
    s.wait_foreground("editor")
    s.keys("ctrl+l")
    unlock(s)
    time.sleep(2)
    expect("a second message", None, s.window("#32770", "Auto-type"))


@scenario
def entries_of_one_name(s):
    """Two entries of one name: the editor changes alice's password while the native
    glimkeep-cli deletes her entry. Ctrl+S keeps her entry with the new password and
    leaves bob's as it was. Every question answered with Enter."""
    document = "Google\r\n\tuser: alice\r\n\tpassword: p1\r\nGoogle\r\n\tuser: bob\r\n\tpassword: q1\r\n"
    program = start_unlocked(s, document)
    s.type("google password")
    s.wait_text("editor", 1, "p1")
    s.keys("ctrl+Tab", "End", "BackSpace")
    s.type("2")
    s.wait_title("editor", "* Glimkeep")
    s.cli("import", passwords=(PASSWORD,), stdin=b"Google\n\tuser: bob\n\tpassword: q1\n")
    s.keys("ctrl+s")
    answer(s, "Data successfully saved")
    s.wait_title("editor", "Glimkeep")
    s.wait_text("editor", 1, "p2")
    expected = "Google\r\n\tuser: alice\r\n\tpassword: p2\r\nGoogle\r\n\tuser: bob\r\n\tpassword: q1\r\n"
    expect("each password under its own user", expected.encode(), s.open_vault(PASSWORD))
    close_cleanly(s, program, "editor")


@scenario
def earlier_values(s):
    """Ctrl+Shift+H on an entry after three saves that changed its password lists the
    three values, masked but in the selected row, none selected at first; Enter on a
    row copies its value.
    File > Backups asks before thinning, and its default, No, deletes nothing."""
    s.make_vault(PASSWORD, "mail\r\n\tuser: bob\r\n")
    # 25 backups of January 2020, one a day, beside the three that the saves make.
    vault = s.read("passwords.gkv")
    for day in range(25):
        with open(s.path(f"passwords.gkv.{1577880000 + day * 86400}.bak"), "wb") as f:
            f.write(vault)
    program = s.start()
    unlock(s)
    s.type("mail")
    s.wait_text("editor", 1, "user: bob\r\n")
    values = ["first-1", "second-2", "third-3"]
    for value in values:
        s.keys("alt+2", "ctrl+a")
        s.type(f"user: bob\npass: {value}")
        s.wait_text("editor", 1, f"user: bob\r\npass: {value}")
        s.keys("ctrl+s")
        answer(s, "Data successfully saved")
    expect("number of backups", 28, len(s.backups()))

    s.keys("alt+1", "ctrl+shift+h")
    s.wait_window("earlier_values")
    s.wait_foreground("earlier_values")
    # It opens with no row selected, every value masked; the first Down selects the
    # first row. Row by row: the user name, then the password's three values, oldest
    # first.
    for row, value in enumerate(["bob"] + values):
        s.keys("Down")
        if row == 2:
            shot = s.shot("earlier-values")
            s.picture(shot, "earlier_values", "earlier_values")
        s.keys("Return")
        s.wait_clipboard(value)
    s.keys("Escape")
    s.wait_gone("earlier_values")
    expect("title after reading the history", "Glimkeep", s.window("editor"))

    # The question's text is checked by the window tests; here its buttons: Enter
    # answers No, Tab goes on to Yes, which deletes the 8 that the rule lets go.
    backups = s.backups()
    s.keys("alt+f", "b")
    s.wait_dialog("Backups")
    s.wait_foreground("#32770")
    shot = s.shot("backups-question")
    s.picture(shot, "backups_question", "#32770", "Backups")
    s.keys("Return")
    s.wait_gone("#32770", "Backups")
    expect("backups after No", backups, s.backups())
    s.keys("alt+f", "b")
    s.wait_dialog("Backups")
    s.wait_foreground("#32770")
    s.keys("Tab", "Return")
    wait_until("the backups thinned out", lambda: len(s.backups()) == 20, 30)
    answer(s, "Backups")  # "Deleted 8 of 28 backups."
    expect("backups after Yes", backups[8:], s.backups())


@scenario
def password_report(s):
    """File > Password report lists the reused and the weak password; Enter on a row
    closes the report and shows that entry."""
    program = start_unlocked(s, "Bank\r\n\tuser: alice\r\n\tpassword: Gq7.Lw2+Rt9_Vb\r\n"
                                "Shop\r\n\tuser: bob\r\n\tpassword: Gq7.Lw2+Rt9_Vb\r\n"
                                "mail\r\n\tpass: qwertyuiop\r\n")
    # Rows: Reused, Bank, Shop, Weak, mail, the summary; Bank's row is selected.
    for downs, path, shown in ((1, "Shop", "user: bob\r\npassword: Gq7.Lw2+Rt9_Vb\r\n"),
                               (3, "mail", "pass: qwertyuiop\r\n")):
        s.keys("alt+f", "r")
        s.wait_window("password_report")
        s.wait_foreground("password_report")
        if path == "Shop":
            shot = s.shot("password-report")
            s.picture(shot, "password_report", "password_report")
        s.keys(*(["Down"] * downs))
        s.keys("Return")
        s.wait_gone("password_report")
        s.wait_text("editor", 0, path)
        s.wait_text("editor", 1, shown)
    close_cleanly(s, program, "editor")


def worker_prefixes(prefix, jobs):
    """The Wine prefix of each of `jobs` workers: the first is `prefix` itself, the
    others copies of it (prepared once, on a display of its own, then copied while
    no Wine runs in it); a copy that exists is reused."""
    prefixes = [prefix] + [f"{prefix}-{n}" for n in range(2, jobs + 1)]
    if all(os.path.isfile(os.path.join(p, "system.reg")) for p in prefixes):
        return prefixes
    display = Display()
    wine = Wine(prefix, display.start())
    try:
        wine.prepare()
    finally:
        wine.stop()
        display.stop()
    for copy in prefixes[1:]:
        if not os.path.isfile(os.path.join(copy, "system.reg")):
            shutil.rmtree(copy, ignore_errors=True)
            # Symbolic links stay links (dosdevices: c: is ../drive_c, z: is /).
            shutil.copytree(prefix, copy, symlinks=True)
    return prefixes


def run_in_parallel(args, labels):
    """Runs each scenario of `labels` ((name, label, run) triples) as a child process of this
    script, `args.jobs` at a time, each worker in its own prefix; prints each child's
    lines in one piece when it ends. Returns the labels that failed."""
    prefixes = worker_prefixes(os.path.abspath(args.prefix), args.jobs)
    queue = list(labels)
    failed = []
    lock = threading.Lock()
    children = set()
    stopping = threading.Event()

    def work(prefix):
        while not stopping.is_set():
            with lock:
                if not queue:
                    return
                name, label, run = queue.pop(0)
            # Runs of one scenario at once must not share its folder of screenshots.
            out = args.out if args.repeat == 1 else os.path.join(args.out, f"run-{run}")
            command = [sys.executable, os.path.abspath(__file__), "--only", name, "--prefix", prefix,
                       "--build", args.build, "--vault-tool", args.vault_tool, "--out", out]
            for option in ("exe", "short_lock_exe", "probe", "pictures"):
                if getattr(args, option):
                    command += ["--" + option.replace("_", "-"), getattr(args, option)]
            child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
            with lock:
                children.add(child)
            output = child.communicate()[0].decode(errors="replace")
            with lock:
                children.discard(child)
                # The child's own count line is left out: this process counts.
                lines = [line for line in output.splitlines() if not line.endswith("scenarios passed")]
                if child.returncode != 0:
                    failed.append(label)
                    if not any(line.startswith("FAIL") for line in lines):
                        lines.append(f"FAIL {label}: exit code {child.returncode}")
                elif label != name:
                    lines = [line.replace(f"ok   {name} ", f"ok   {label} ", 1) for line in lines]
                print("\n".join(lines), flush=True)

    workers = [threading.Thread(target=work, args=(prefix,)) for prefix in prefixes]
    for worker in workers:
        worker.start()
    try:
        for worker in workers:
            while worker.is_alive():
                worker.join(0.5)
    finally:  # SIGTERM or Ctrl+C: each child ends what its session started
        stopping.set()
        with lock:
            running = list(children)
        for child in running:
            child.terminate()
        for worker in workers:
            worker.join()
    return failed


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    add_tool_arguments(parser)
    parser.add_argument("--pictures", help="also cut the windows out into this folder (docs/screenshots)")
    parser.add_argument("--only", action="append", help="run only this scenario (repeatable)")
    parser.add_argument("--repeat", type=int, default=1, help="run the suite this many times in a row")
    parser.add_argument("--jobs", type=int, default=1, help="run this many scenarios at once (default 1)")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # still end what was started
    tools = tools_from(args, args.pictures)
    if not tools:
        return 2
    unknown = sorted(set(args.only or []) - {f.__name__ for f in SCENARIOS})
    if unknown:
        print(f"no such scenario: {', '.join(unknown)}", flush=True)
        return 2

    chosen = [f for f in SCENARIOS if not args.only or f.__name__ in args.only]
    labels = [(f.__name__, f.__name__ + (f" (run {run})" if args.repeat > 1 else ""), run)
              for run in range(1, args.repeat + 1) for f in chosen]
    second_try = []
    if args.jobs > 1 and len(labels) > 1:
        failed = run_in_parallel(args, labels)
        # Two scenarios at once share the processors: one that failed beside another is
        # run again alone, and that run decides. Each such scenario is named below, so
        # a scenario that needs it often shows.
        if failed:
            print(f"again, one at a time: {', '.join(failed)}", flush=True)
            again = [entry for entry in labels if entry[1] in failed]
            still = run_here(tools, args.out, again)
            second_try = [label for label in failed if label not in still]
            failed = still
    else:
        failed = run_here(tools, args.out, labels)
    print(f"{len(labels) - len(failed)} of {len(labels)} scenarios passed", flush=True)
    if second_try:
        print(f"passed only alone, after failing beside another: {', '.join(second_try)}", flush=True)
    return 1 if failed else 0


def run_here(tools, out, labels):
    """Runs the scenarios one after another in this process; returns those that failed."""
    functions = {f.__name__: f for f in SCENARIOS}
    failed = []
    for name, label, _ in labels:
        started = time.monotonic()
        session = Session(name, tools, out)
        try:
            with session as s:
                functions[name](s)
            print(f"ok   {label} ({time.monotonic() - started:.1f} s)", flush=True)
        except (Failure, Exception) as error:  # every scenario runs, whatever the last one did
            failed.append(label)
            print(f"FAIL {label} ({time.monotonic() - started:.1f} s): {error}", flush=True)
            if not isinstance(error, Failure):
                traceback.print_exc()
            print(f"     screenshots and the program's output: {session.dir}", flush=True)
    return failed


if __name__ == "__main__":
    sys.exit(main())

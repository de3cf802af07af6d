"""Drives the real Glimkeep program from outside, as a person at the keyboard would.

A Session owns everything one scenario starts: an Xvfb display of its own, a Wine
session on it (the windows are drawn inside a Wine virtual desktop), the program's
processes, a probe that looks at the windows from another process, and a fresh
empty folder for the program to work in. Keys and the mouse go through xdotool as
real X events; the clipboard is read and written through X with xclip. Every
process a session starts is ended when it closes, whatever happened.
"""

import os
import select
import shutil
import signal
import subprocess
import time
from types import SimpleNamespace

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver"
SCREEN = (1024, 768)


def wine_for(exe):
    """The Wine loader for a Windows program: the 32-bit one for an i386 image."""
    with open(exe, "rb") as f:
        header = f.read(4096)
    pe = int.from_bytes(header[60:64], "little")
    machine = int.from_bytes(header[pe + 4:pe + 6], "little")
    return WINE32 if machine == 0x14C else WINE64


class Failure(Exception):
    """A check of a scenario did not hold."""


def wait_until(what, condition, timeout, interval=0.05):
    """Polls condition() until it returns something true; returns that or fails."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


def end_process(process, grace=5):
    """Ends a process and its process group; safe on processes that already ended."""
    if process is None or process.poll() is not None:
        return
    try:
        os.killpg(process.pid, signal.SIGTERM)
    except (ProcessLookupError, PermissionError):
        process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            process.kill()
        process.wait(grace)


def display_is_ours(name, pid):
    """True once the Xvfb of process `pid` serves display `name`: its socket is there
    and the display's lock file holds that pid. Two callers that picked the same free
    number at once both see the socket of the one that won; the other's Xvfb exits."""
    try:
        with open(f"/tmp/.X{name[1:]}-lock") as f:
            holder = int(f.read().strip() or 0)
    except (OSError, ValueError):
        return False
    return holder == pid and os.path.exists(f"/tmp/.X11-unix/X{name[1:]}")


class Display:
    """An Xvfb server on the first free test display (scripts/display, which
    scripts/lib.sh uses too: one range of display numbers for every test)."""

    def __init__(self):
        self.process = None
        self.name = None

    def start(self, size=SCREEN):
        for _ in range(5):  # another user may take the number first
            process = subprocess.Popen(
                [os.path.join(ROOT, "scripts", "display"), f"{size[0]}x{size[1]}"],
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                start_new_session=True)
            name = process.stdout.readline().decode().strip()
            process.stdout.close()
            deadline = time.monotonic() + 10
            while name and time.monotonic() < deadline and process.poll() is None:
                if display_is_ours(name, process.pid):
                    self.process, self.name = process, name
                    return self.name
                time.sleep(0.05)
            end_process(process)
        raise Failure("no free X display")

    def stop(self):
        end_process(self.process)
        self.process = None


class Wine:
    """One Wine session in a prefix of its own, on one display."""

    def __init__(self, prefix, display):
        self.prefix = prefix
        self.env = dict(os.environ, DISPLAY=display, WINEPREFIX=prefix, WINEARCH="win64",
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree=d;mshtml=d")

    def run(self, *args, timeout=120):
        return subprocess.run([WINE64, *args], env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)

    def prepare(self):
        """Creates or repairs the prefix through scripts/wine-prefix, as the other
        scripts do (see prepare_wine_prefix in scripts/lib.sh)."""
        subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix")],
                       env=dict(self.env, GLIMKEEP_WINEPREFIX=self.prefix), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)

    def start(self):
        self.prepare()
        # A persistent server, warmed up by one small program, so that the first
        # window of the scenario does not wait for Wine's own start.
        subprocess.run([WINESERVER, "-p"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        self.run("cmd", "/c", "echo", timeout=120)

    def start_program(self, exe, folder, log, *args):
        return subprocess.Popen([wine_for(exe), exe, *args], cwd=folder, env=self.env, stdin=subprocess.DEVNULL,
                                stdout=log, stderr=subprocess.STDOUT, start_new_session=True)

    def stop(self):
        try:
            subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        except subprocess.TimeoutExpired:
            pass


class Probe:
    """The probe program, serving requests about the windows on its standard input."""

    def __init__(self, wine, exe, folder):
        self.process = subprocess.Popen([wine_for(exe), exe, "serve"], cwd=folder, env=wine.env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        self.buffer = b""

    def _fill(self, deadline):
        left = deadline - time.monotonic()
        ready, _, _ = select.select([self.process.stdout], [], [], max(left, 0))
        if not ready:
            raise Failure("the probe did not answer")
        chunk = os.read(self.process.stdout.fileno(), 1 << 16)
        if not chunk:
            raise Failure("the probe ended")
        self.buffer += chunk

    def _read(self, count, deadline):
        while len(self.buffer) < count:
            self._fill(deadline)
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def _line(self, deadline):
        while b"\n" not in self.buffer:
            self._fill(deadline)
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line

    def send(self, *fields):
        self.process.stdin.write(("\t".join(str(f) for f in fields) + "\n").encode())
        self.process.stdin.flush()

    def answer(self, timeout=60):
        """Reads one answer: (found, UTF-8 text)."""
        deadline = time.monotonic() + timeout
        status, size = self._line(deadline).split()
        data = self._read(int(size), deadline)
        if status == b"2":
            raise Failure(f"the probe refused a request: {data.decode()}")
        return status == b"0", data.decode("utf-8")

    def ask(self, *fields, timeout=60):
        self.send(*fields)
        return self.answer(timeout)

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.close()
                self.process.wait(5)
            except (OSError, subprocess.TimeoutExpired):
                pass
        end_process(self.process)


class Session:
    """Everything one scenario starts; a context manager that ends all of it."""

    def __init__(self, name, tools, out):
        self.name = name
        self.tools = tools
        self.dir = os.path.join(out, name)
        self.folder = os.path.join(self.dir, "folder")
        self.display = Display()
        self.wine = None
        self.probe = None
        self.programs = []
        self.shots = 0
        self.log = None
        self.screen = SCREEN

    # Setting up and tearing down.

    def __enter__(self):
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.folder)
        self.log = open(os.path.join(self.dir, "program.log"), "wb")
        try:
            display = self.display.start()
            self.wine = Wine(self.tools.prefix, display)
            self.wine.start()
            self.probe = Probe(self.wine, self.tools.probe, self.folder)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, kind, error, trace):
        if kind is not None and self.display.process is not None:
            try:
                self.shot("failure")
            except Exception:  # the picture is a help, not a result
                pass
        for program in self.programs:
            end_process(program)
        if self.probe:
            self.probe.close()
        if self.wine:
            self.wine.stop()
        self.display.stop()
        if self.log:
            self.log.close()
        return False

    def restart_wine(self, screen=SCREEN):
        """Ends the programs, the probe, the Wine session and the display, and starts
        them anew (the display and Wine's desktop of `screen` size), so that a registry
        value just set in the prefix takes effect."""
        for program in self.programs:
            end_process(program)
        self.probe.close()
        self.wine.run("reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default",
                      "/d", f"{screen[0]}x{screen[1]}", "/f")
        self.wine.stop()
        self.display.stop()
        self.wine = Wine(self.tools.prefix, self.display.start(screen))
        self.screen = screen
        self.wine.start()
        self.probe = Probe(self.wine, self.tools.probe, self.folder)

    @property
    def env(self):
        return self.wine.env

    # The program.

    def start(self, exe=None):
        program = self.wine.start_program(exe or self.tools.exe, self.folder, self.log)
        self.programs.append(program)
        return program

    def wait_exit(self, program, timeout=30):
        try:
            return program.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout} s") from None

    def path(self, name):
        return os.path.join(self.folder, name)

    def files(self):
        return sorted(os.listdir(self.folder))

    def backups(self):
        return [f for f in self.files() if f.startswith("passwords.gkv.") and f.endswith(".bak")]

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    # Looking at the windows.

    def window(self, window_class, title=None):
        """The title of a visible top-level window, or None."""
        fields = ("find", window_class) + ((title,) if title is not None else ())
        found, text = self.probe.ask(*fields)
        return text if found else None

    def wait_window(self, window_class, title=None, timeout=30):
        what = f'window "{window_class}"' + (f' titled "{title}"' if title else "")
        return wait_until(what, lambda: self.window(window_class, title) is not None, timeout)

    def wait_gone(self, window_class, title=None, timeout=30):
        what = f'window "{window_class}" to close'
        wait_until(what, lambda: self.window(window_class, title) is None, timeout)

    def wait_dialog(self, title, timeout=30):
        self.wait_window("#32770", title, timeout)

    def text(self, window_class, index):
        found, text = self.probe.ask("text", window_class, index)
        if not found:
            raise Failure(f'no edit control {index} in window "{window_class}"')
        return text

    def wait_text(self, window_class, index, expected, timeout=10):
        """Waits until an edit control holds exactly the expected text."""
        try:
            wait_until("text", lambda: self.probe.ask("text", window_class, index) == (True, expected), timeout)
        except Failure:
            raise Failure(f'edit control {index} of "{window_class}": expected {expected!r}, '
                          f'holds {self.text(window_class, index)!r}') from None

    def wait_title(self, window_class, expected, timeout=10):
        try:
            wait_until("title", lambda: self.window(window_class) == expected, timeout)
        except Failure:
            raise Failure(f'title of "{window_class}": expected {expected!r}, '
                          f'is {self.window(window_class)!r}') from None

    def box_text(self, title):
        found, text = self.probe.ask("box", title)
        if not found:
            raise Failure(f'no system message box "{title}"')
        return text

    def wait_foreground(self, window_class, timeout=15):
        """Keys go to the foreground window: wait until it is the expected one."""
        wait_until(f'"{window_class}" in the foreground',
                   lambda: self.probe.ask("foreground") == (True, window_class), timeout)

    def rect(self, window_class, title=None):
        fields = ("rect", window_class) + ((title,) if title is not None else ())
        found, text = self.probe.ask(*fields)
        if not found:
            raise Failure(f'no window "{window_class}" to measure')
        return [int(v) for v in text.split()]

    # The keyboard, the clipboard and the screen, all through X.

    def x(self, *args, data=None, timeout=30):
        result = subprocess.run(list(args), env=self.env, input=data, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=timeout)
        if result.returncode != 0:
            raise Failure(f"{args[0]} failed: {result.stderr.decode(errors='replace').strip()}")
        return result.stdout

    def _point_at_desktop(self):
        # Without a window manager the keys go to the X window under the pointer:
        # the Wine desktop. Wine hands them to its foreground window.
        self.x("xdotool", "mousemove", str(SCREEN[0] - 24), str(SCREEN[1] - 18))

    def keys(self, *names, pause=0.3):
        self._point_at_desktop()
        self.x("xdotool", "key", "--delay", "40", *names)
        time.sleep(pause)

    def type(self, text, pause=0.3):
        self._point_at_desktop()
        self.x("xdotool", "type", "--delay", "40", "--", text)
        time.sleep(pause)

    def clipboard(self):
        return self.x("xclip", "-o", "-selection", "clipboard", timeout=10).decode("utf-8")

    def wait_clipboard(self, expected, timeout=10):
        def holds():
            try:
                return self.clipboard() == expected
            except (Failure, UnicodeDecodeError, subprocess.TimeoutExpired):
                return False
        try:
            wait_until("clipboard", holds, timeout, interval=0.2)
        except Failure:
            raise Failure(f"clipboard: expected {expected!r}") from None

    def set_clipboard(self, text):
        """Puts UTF-8 text on the X clipboard (xclip stays behind to serve it until
        the display ends) and waits until Windows programs see it there, with X's
        line feeds as CR LF. Wine takes the new X owner's text into its clipboard
        with the clipboard open; when another process (the probe looking) holds the
        clipboard at that moment, the update is lost, so the text is offered again."""
        seen = text.replace("\n", "\r\n")
        for _ in range(5):
            subprocess.run(["xclip", "-i", "-selection", "clipboard"], env=self.env, input=text.encode("utf-8"),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10, check=True)
            time.sleep(0.5)
            try:
                wait_until("the clipboard under Wine", lambda: self.probe.ask("clipboard") == (True, seen), 3, 0.5)
                return
            except Failure:
                pass
        raise Failure(f"Wine's clipboard: expected {seen!r}, holds {self.probe.ask('clipboard')[1]!r}")

    def shot(self, step):
        """A PNG of the whole display, numbered in the order of the steps."""
        self.shots += 1
        path = os.path.join(self.dir, f"{self.shots:02d}-{step}.png")
        self.x("import", "-window", "root", path)
        return path

    def picture(self, shot, name, window_class, title=None):
        """Cuts one window out of a screenshot into the pictures folder, if one was
        asked for: exactly the window's rectangle (nothing of the windows behind it),
        on a plain white margin."""
        if not self.tools.pictures:
            return
        left, top, width, height = self.rect(window_class, title)
        right, bottom = min(left + width, self.screen[0]), min(top + height, self.screen[1])
        left, top = max(left, 0), max(top, 0)
        if right <= left or bottom <= top:
            raise Failure(f'window "{window_class}" is off the screen: no picture')
        os.makedirs(self.tools.pictures, exist_ok=True)
        self.x("convert", shot, "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage",
               "-bordercolor", "white", "-border", "6", os.path.join(self.tools.pictures, name + ".png"))

    # Vaults through the program's own container, run natively.

    def make_vault(self, password, text, name="passwords.gkv", command="create"):
        """A vault of format 2.0 (command "create10": the old format 1.0)."""
        result = subprocess.run([self.tools.vault_tool, command, self.path(name), password],
                                input=text.encode("utf-8") if isinstance(text, str) else text,
                                capture_output=True, timeout=60)
        if result.returncode != 0:
            raise Failure(f"vault_tool create: {result.stderr.decode(errors='replace')}")

    def open_vault(self, password, name="passwords.gkv", status=0):
        """The plaintext; with `status`, the vault_tool status expected instead."""
        result = subprocess.run([self.tools.vault_tool, "open", self.path(name), password],
                                capture_output=True, timeout=60)
        if status:
            expect(f"vault_tool open {name} status", status, result.returncode)
            return None
        if result.returncode != 0:
            raise Failure(f"vault_tool open {name}: {result.stderr.decode(errors='replace').strip()}")
        return result.stdout

    def cli(self, *args, passwords=(), stdin=b""):
        """Runs the native glimkeep-cli (built beside vault_tool) in the session's folder,
        the passwords first on its standard input (--password-fd 0); returns its
        standard output."""
        cli = os.path.join(os.path.dirname(self.tools.vault_tool), "..", "..", "bin", "glimkeep-cli")
        if not os.path.exists(cli):
            raise Failure(f"missing {os.path.normpath(cli)}: build the native preset first")
        lines = "".join(p + "\n" for p in passwords).encode("utf-8")
        result = subprocess.run([cli, "--password-fd", "0"] + list(args), cwd=self.folder,
                                input=lines + stdin, capture_output=True, timeout=60)
        if result.returncode != 0:
            raise Failure(f"glimkeep-cli {' '.join(args)}: exit code {result.returncode}: "
                          f"{result.stderr.decode(errors='replace').strip()}")
        return result.stdout


def expect(what, expected, actual):
    if expected != actual:
        raise Failure(f"{what}: expected {expected!r}, got {actual!r}")


def add_tool_arguments(parser):
    """The programs a session drives and where it works, with their usual places:
    those of the 32-bit release build unless --build names the 64-bit one."""
    parser.add_argument("--build", choices=("win32", "win64"), default="win32",
                        help="the Windows build whose programs run (default: win32, the release program)")
    parser.add_argument("--exe", help="default: build/<build>/bin/glimkeep.exe")
    parser.add_argument("--short-lock-exe", help="the program with an inactivity lock of 8 s instead of 10 minutes "
                        "(default: build/<build>/tests/e2e/glimkeep_short_lock.exe)")
    parser.add_argument("--probe", help="default: build/<build>/tests/e2e/e2e_probe.exe")
    parser.add_argument("--vault-tool", default=os.path.join(ROOT, "build/native/tests/e2e/vault_tool"))
    parser.add_argument("--prefix", default=os.environ.get("GLIMKEEP_E2E_PREFIX", os.path.join(ROOT, "build/wine-e2e")))
    parser.add_argument("--out", default=os.path.join(ROOT, "build/e2e"))


def tools_from(args, pictures=None):
    """The tools named by add_tool_arguments; None when one of them is missing."""
    build = os.path.join(ROOT, "build", args.build)
    tools = SimpleNamespace(
        build=args.build,
        exe=os.path.abspath(args.exe or os.path.join(build, "bin/glimkeep.exe")),
        short_lock_exe=os.path.abspath(args.short_lock_exe or os.path.join(build, "tests/e2e/glimkeep_short_lock.exe")),
        probe=os.path.abspath(args.probe or os.path.join(build, "tests/e2e/e2e_probe.exe")),
        vault_tool=os.path.abspath(args.vault_tool), prefix=os.path.abspath(args.prefix),
        pictures=os.path.abspath(pictures) if pictures else None)
    for path in (tools.exe, tools.short_lock_exe, tools.probe, tools.vault_tool):
        if not os.path.exists(path):
            print(f"missing {path}: build the native and {args.build} presets first", flush=True)
            return None
    return tools

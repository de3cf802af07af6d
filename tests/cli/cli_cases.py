#!/usr/bin/python3
"""Command-line cases of glimkeep-cli against vaults that tests/db/vault.py (the
independent Python reference) writes and reads.

  cli_cases.py CLI_BINARY CASE
"""

import base64
import hashlib
import os
import pty
import select
import signal
import subprocess
import sys
import tempfile

import termios
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "db"))
import vault  # noqa: E402

PASSWORD = b"correct horse 42"
DOCUMENT = (b"email\r\n\tgmail\r\n\t\tuser: alice\r\n\t\tpass: s3cr\xc3\xa9t\r\n"
            b"\tgmx: bob\r\nbank: 1234\r\nnotes\r\n")
WRONG_PASSWORD_TEXT = "This file was not encrypted with the given password"
LEGACY_WARNING = ("glimkeep-cli: warning: passwords.gkv is written in format 1.0, which anyone with a copy can "
                  "read without the password; 'glimkeep-cli upgrade' converts it to format 2.0\n")
NEW_PASSWORD = b"a new one for 2.0"
CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


def expect(what, expected, actual):
    if expected != actual:
        raise AssertionError("%s: expected %r, got %r" % (what, expected, actual))


class Folder:
    def __init__(self, cli, root):
        self.cli = cli
        self.root = root

    def path(self, name):
        return os.path.join(self.root, name)

    def files(self):
        return sorted(os.listdir(self.root))

    def backups(self):
        return [f for f in self.files() if f.endswith(".bak")]

    def write_vault(self, text, password=PASSWORD, name="passwords.gkv"):
        with open(self.path(name), "wb") as f:
            f.write(vault.write_vault(password, text))

    def read_vault(self, password, name="passwords.gkv"):
        with open(self.path(name), "rb") as f:
            return vault.read_vault(password, f.read())

    def run(self, *args, passwords=(PASSWORD,), stdin=b""):
        """Runs the CLI in the folder with the passwords as the first lines of its
        standard input (--password-fd 0); returns (exit code, stdout, stderr)."""
        lines = b"".join(p + b"\n" for p in passwords)
        done = subprocess.run([self.cli, "--password-fd", "0"] + list(args), cwd=self.root,
                              input=lines + stdin, capture_output=True, timeout=120)
        return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


@case
def show(d):
    d.write_vault(DOCUMENT)
    expect("whole document", (0, DOCUMENT.replace(b"\r\n", b"\n"), ""), d.run("show"))
    expect("a node's children at the margin", (0, b"user: alice\npass: s3cr\xc3\xa9t\n", ""),
           d.run("show", "EMAIL gmail"))
    expect("a value alone", (0, "s3crét\n".encode(), ""), d.run("show", "email gmail pass"))
    expect("a path ending in a space", (0, b"gmail\n\tuser: alice\n\tpass: s3cr\xc3\xa9t\ngmx: bob\n", ""),
           d.run("show", "email "))
    code, out, err = d.run("show", "email gmail x")
    expect("a path naming nothing", (65, b""), (code, out))
    expect("its text", True, "nothing is named 'email gmail x'" in err)


@case
def complete(d):
    d.write_vault(DOCUMENT)
    expect("one name with children", (0, b"email \n"), d.run("complete", "EM")[:2])
    expect("common prefix one level down", (0, b"email gm\n"), d.run("complete", "email g")[:2])
    expect("an exact name", (0, b"bank\n"), d.run("complete", "BANK")[:2])
    expect("nothing to offer", (65, b""), d.run("complete", "x")[:2])


@case
def wrong_password(d):
    d.write_vault(DOCUMENT)
    before = d.files()
    code, out, err = d.run("show", passwords=(b"correct horse 43",))
    expect("exit code", (9, b""), (code, out))
    expect("text", "glimkeep-cli: passwords.gkv: %s\n" % WRONG_PASSWORD_TEXT, err)
    code, out, err = d.run("import", passwords=(b"wrong",), stdin=b"new\n")
    expect("import with a wrong password", 9, code)
    expect("nothing written", before, d.files())
    expect("vault unchanged", DOCUMENT, d.read_vault(PASSWORD))
    expect("a missing vault", 1, d.run("--vault", "missing.gkv", "show")[0])
    with open(d.path("plain.gkv"), "wb") as f:
        f.write(b"x" * 200)
    code, _, err = d.run("--vault", "plain.gkv", "show")
    expect("a file that is no vault", (2, "glimkeep-cli: plain.gkv: This file is not database file for this program\n"),
           (code, err))


@case
def import_export(d):
    d.write_vault(DOCUMENT)
    with open(d.path("passwords.gkv"), "rb") as f:
        old_image = f.read()
    typed = b"web\n\tsite: example.org\r\n\tlogin: me\nlast"
    expect("import, warned of format 1.0", (0, b"", LEGACY_WARNING), d.run("import", stdin=typed))
    backups = d.backups()
    expect("exactly one backup", 1, len(backups))
    with open(d.path(backups[0]), "rb") as f:
        expect("the backup is the old vault", old_image, f.read())
    expect("saved as the program writes it",
           b"web\r\n\tsite: example.org\r\n\tlogin: me\r\nlast\r\n", d.read_vault(PASSWORD))
    expect("export gives the stored text byte for byte",
           (0, b"web\r\n\tsite: example.org\r\n\tlogin: me\r\nlast\r\n", ""), d.run("export"))
    expect("export writes nothing", ["passwords.gkv"] + backups, d.files())
    # A zero byte would cut the document in the editor: refused, nothing written.
    vault_before = image(d, "passwords.gkv")
    expect("a zero byte refused", (65, b"", "glimkeep-cli: standard input: line 2: a zero byte (byte 11), which the "
                                            "editor cannot show; nothing was written.\n"),
           d.run("import", stdin=b"a: 1\n\tb: x\0y\nc: 3\n"))
    expect("nothing written after the refusal", (["passwords.gkv"] + backups, vault_before),
           (d.files(), image(d, "passwords.gkv")))


@case
def passwd(d):
    d.write_vault(DOCUMENT)
    new = "n\xe9w pass".encode()
    expect("passwd, warned of format 1.0", (0, b"", LEGACY_WARNING), d.run("passwd", passwords=(PASSWORD, new)))
    expect("one backup", 1, len(d.backups()))
    expect("the reference opens it with the new password", DOCUMENT, d.read_vault(new))
    code, _, err = d.run("show", "bank")
    expect("the old password fails", (9, "glimkeep-cli: passwords.gkv: %s\n" % WRONG_PASSWORD_TEXT), (code, err))
    expect("the new one opens it", (0, b"1234\n", ""), d.run("show", "bank", passwords=(new,)))
    expect("an empty new password is refused", 8, d.run("passwd", passwords=(new, b""))[0])
    expect("and writes nothing", 1, len(d.backups()))
    # The same on a vault of format 2.0, whose container keeps the keys of a session.
    expect("upgrade", 0, d.run("upgrade", passwords=(new, NEW_PASSWORD))[0])
    expect("passwd on 2.0, without a warning", (0, b"", ""), d.run("passwd", passwords=(NEW_PASSWORD, b"third")))
    expect("the old password fails on 2.0", 9, d.run("show", "bank", passwords=(NEW_PASSWORD,))[0])
    expect("the new one opens it", (0, b"1234\n", ""), d.run("show", "bank", passwords=(b"third",)))


@case
def upgrade(d):
    d.write_vault(DOCUMENT)
    with open(d.path("passwords.gkv"), "rb") as f:
        old_image = f.read()
    code, _, err = d.run("upgrade", passwords=(PASSWORD, PASSWORD))
    expect("the same password is refused", (8, True), (code, "must differ from the current one" in err))
    expect("and nothing is written", [], d.backups())
    code, out, err = d.run("upgrade", passwords=(PASSWORD, NEW_PASSWORD))
    expect("upgrade", (0, b""), (code, out))
    with open(d.path("passwords.gkv"), "rb") as f:
        expect("format written", b"GLIMKEEPDB2.0", f.read()[:13])
    backups = d.backups()
    expect("one backup", 1, len(backups))
    with open(d.path(backups[0]), "rb") as f:
        expect("the backup is the 1.0 vault", old_image, f.read())
    expect("the 1.0 backup is named on stderr",
           "glimkeep-cli: warning: 1 backups of format 1.0 can be read without the password; delete them:\n"
           "  %s\n" % backups[0], err)
    expect("same text, the new password", (0, DOCUMENT, ""), d.run("export", passwords=(NEW_PASSWORD,)))
    expect("the old password fails", 9, d.run("export")[0])
    code, out, _ = d.run("upgrade", passwords=(NEW_PASSWORD,))
    expect("a 2.0 vault stays as it is", (0, b"passwords.gkv is already in format 2.0\n"), (code, out))
    expect("and gets no backup", backups, d.backups())


@case
def init_and_generate(d):
    expect("init", (0, b"", ""), d.run("init"))
    with open(d.path("passwords.gkv"), "rb") as f:
        image = f.read()
    expect("a new vault is written in format 2.0", b"GLIMKEEPDB2.0", image[:13])
    expect("an empty vault", (0, b"", ""), d.run("export"))
    code, _, err = d.run("init", passwords=(b"other",))
    expect("init refuses an existing file", (1, "glimkeep-cli: passwords.gkv: File exists\n"), (code, err))
    with open(d.path("passwords.gkv"), "rb") as f:
        expect("which stays", image, f.read())
    code, out, _ = d.run("generate")
    expect("generate", (0, 21, b"\n"), (code, len(out), out[-1:]))
    expect("another password each time", True, out != d.run("generate")[1])
    # Passphrases: N words of lower-case letters, the separator as asked.
    for args, words, separator in ((["--words", "6"], 6, "-"), (["--words=3", "--separator", " "], 3, " "),
                                   (["--separator=.", "--words", "20"], 20, ".")):
        code, out, _ = d.run("generate", *args)
        text = out.decode()
        expect("a passphrase " + " ".join(args), (0, True), (code, text.endswith("\n")))
        parts = text[:-1].split(separator)
        expect("its words " + " ".join(args), (words, True),
               (len(parts), all(4 <= len(p) <= 8 and p.isalpha() and p.islower() for p in parts)))
    for args in (["--words", "2"], ["--words", "21"], ["--words", "six"], ["--words", "6", "--separator", ":"],
                 ["--words", "6", "--separator", "ab"], ["--separator", "-"]):
        expect("refused: " + " ".join(args), 64, d.run("generate", *args)[0])
    expect("--words with another verb", 64, d.run("show", "--words", "6")[0])
    code, out, _ = d.run("--help", passwords=())
    expect("the help gives the bits", (0, True), (code, b"13 bits" in out and b"78 bits for six" in out))
    expect("an unknown command", 64, d.run("frobnicate")[0])


# RFC 6238, appendix B: seeds of 20, 32 and 64 bytes (the 32- and 64-byte ones are
# those of the RFC's errata, which its table was computed with), 8 digits, 30 s.
RFC6238_SEEDS = {"SHA1": b"12345678901234567890", "SHA256": b"12345678901234567890123456789012",
                 "SHA512": b"1234567890123456789012345678901234567890123456789012345678901234"}
RFC6238_TABLE = [  # time, SHA1, SHA256, SHA512
    (59, "94287082", "46119246", "90693936"),
    (1111111109, "07081804", "68084774", "25091201"),
    (1111111111, "14050471", "67062674", "99943326"),
    (1234567890, "89005924", "91819424", "93441116"),
    (2000000000, "69279037", "90698825", "38618901"),
    (20000000000, "65353130", "77737706", "47863826"),
]
# RFC 4226, appendix D: HOTP values for counters 0 to 9 of the 20-byte seed; a period
# of one second makes the time the counter.
RFC4226_TABLE = ["755224", "287082", "359152", "969429", "338314", "254676", "287922", "162583", "399871", "520489"]


@case
def code(d):
    def uri(algorithm, **parameters):
        secret = base64.b32encode(RFC6238_SEEDS[algorithm]).decode().rstrip("=")
        extra = "".join("&%s=%s" % item for item in parameters.items())
        return "otpauth://totp/Example:alice?secret=%s&algorithm=%s%s" % (secret, algorithm, extra)
    lines = ["hotp: " + uri("SHA1", period=1)]
    lines += ["%s: %s" % (algorithm.lower(), uri(algorithm, digits=8)) for algorithm in RFC6238_SEEDS]
    lines += ["site", "\tuser: alice", "\tOTP: jbsw y3dp ehpk 3pxp",
              "plain", "\tuser: bob",
              "broken", "\ttotp: JBSW1",
              "ranged: otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&digits=9"]
    d.write_vault(("\r\n".join(lines) + "\r\n").encode())
    for counter, expected in enumerate(RFC4226_TABLE):
        expect("RFC 4226 counter %d" % counter, (0, (expected + "\n").encode(), ""),
               d.run("code", "hotp", "--at", str(counter)))
    for row in RFC6238_TABLE:
        for algorithm, expected in zip(RFC6238_SEEDS, row[1:]):
            expect("RFC 6238 %s at %d" % (algorithm, row[0]), (0, (expected + "\n").encode(), ""),
                   d.run("--at=%d" % row[0], "code", algorithm))
    # The entry's first child holding a secret; base32 in lower case with spaces
    # (the value computed with Python's hmac).
    expect("the entry's otp child", (0, b"282760\n", ""), d.run("code", "site", "--at", "0"))
    status, out, _ = d.run("code", "site")
    expect("the current code", (0, 7), (status, len(out)))
    failures = [
        (("code", "nothing here"), "glimkeep-cli: nothing is named 'nothing here'\n"),
        (("code", "plain"), "glimkeep-cli: 'plain': This entry has no one-time secret.\n"),
        (("code", "broken"), "glimkeep-cli: 'broken': The one-time secret of this entry cannot be read: "
                             "it is not base32.\n"),
        (("code", "ranged"), "glimkeep-cli: 'ranged': The one-time secret of this entry cannot be read: "
                             "its otpauth:// URI asks for other than 6, 7 or 8 digits.\n"),
    ]
    for args, text in failures:
        expect(" ".join(args), (65, b"", text), d.run(*args))
    for args in (("code", "site", "--at", "-1"), ("code", "site", "--at", "9223372036854775808"), ("code",),
                 ("show", "site", "--at", "0")):
        expect(" ".join(args), (64, b""), d.run(*args)[:2])
    expect("nothing written", ["passwords.gkv"], d.files())


KEEPASSXC_CSV = ('\ufeff"Group","Title","Username","Password","URL","Notes","TOTP"\r\n'
                 '"Root","B\u00e4nk","me","p,w","https://bank.example","two\r\nlines",""\r\n'
                 '"Root/email","gmx","bob","x""y","","one: line","otpauth://totp/x?secret=ABC"\n'
                 '"My DB/email","\u4f8b","","z","https://mail.example/in","",""').encode()


@case
def csv_import_export(d):
    d.write_vault(DOCUMENT)
    with open(d.path("export.csv"), "wb") as f:
        f.write(KEEPASSXC_CSV)
    code, out, err = d.run("import-csv", "export.csv")
    expect("import-csv", (0, b"", LEGACY_WARNING + "3 rows of a KeePassXC export imported\n"), (code, out, err))
    expect("exactly one backup", 1, len(d.backups()))
    text = d.read_vault(PASSWORD)
    expect("the vault's text kept, the new lines after its groups", True,
           text.startswith(DOCUMENT[:DOCUMENT.index(b"\tgmx")]) and text.endswith(b"notes\r\n" + b"B\xc3\xa4nk\r\n"
                                                                                  b"\tuser: me\r\n\tpassword: p,w\r\n"
                                                                                  b"\turl: https://bank.example\r\n"
                                                                                  b"\tnotes\r\n\t\ttwo\r\n\t\tlines\r\n"))
    for path, value in (("email gmx password", 'x"y'), ("email gmx otp", "otpauth://totp/x?secret=ABC"),
                        ("email gmx notes", "one: line"), ("email \u4f8b url", "https://mail.example/in"),
                        ("B\u00e4nk password", "p,w"), ("email gmail user", "alice")):
        expect(path, (0, (value + "\n").encode(), ""), d.run("show", path))
    # Standard input after the password line, and a second import of the same rows.
    expect("import-csv -", 0, d.run("import-csv", "-", stdin=KEEPASSXC_CSV)[0])
    expect("rows of the same title are both kept", 2, d.read_vault(PASSWORD).count(b"\tgmx\r\n"))

    code, exported, err = d.run("export-csv")
    expect("export-csv", 0, code)
    expect("the warning, and no entry left out",
           "Warning: the CSV output is not encrypted; anyone who can read it sees the passwords.\n", err)
    expect("the header and CR LF", b"group,title,username,password,url,notes,otp\r\n", exported[:45])
    other = Folder(d.cli, d.path("other"))
    os.mkdir(other.root)
    other.write_vault(b"")
    with open(other.path("out.csv"), "wb") as f:
        f.write(exported)
    expect("import into an empty vault", 0, other.run("import-csv", "out.csv")[0])
    code, again, _ = other.run("export-csv")
    expect("the same entries come back", (0, exported), (code, again))
    expect("a value in the new vault", (0, b"s3cr\xc3\xa9t\n", ""), other.run("show", "email gmail password"))
    expect("a note of two lines", (0, b"two\nlines\n", ""), other.run("show", "B\u00e4nk notes"))


@case
def csv_refused(d):
    d.write_vault(DOCUMENT)
    before = d.files()
    for name, data, message in (
            ("broken.csv", b"name,url,username,password\r\na,b,c,\"d\r\ne,f\r\n",
             "glimkeep-cli: broken.csv: line 2: a quoted field is not closed\n"),
            ("other.csv", b"Site;Login,secret\r\nx,y\r\n",
             "glimkeep-cli: other.csv: line 1: the header is of no known layout (columns found: Site;Login, secret)\n"),
            ("zero.csv", b"name,url,username,password\r\na,b,c,d\0e\r\n",
             "glimkeep-cli: zero.csv: line 2: a zero byte (byte 36), which the editor cannot show; nothing was "
             "written.\n")):
        with open(d.path(name), "wb") as f:
            f.write(data)
        expect(name, (65, b"", message), d.run("import-csv", name))
        os.remove(d.path(name))
    expect("a missing file", 1, d.run("import-csv", "missing.csv")[0])
    expect("nothing written", before, d.files())
    expect("vault unchanged", DOCUMENT, d.read_vault(PASSWORD))
    expect("import-csv needs a file", 64, d.run("import-csv")[0])

AUDITED = (b"Bank\r\n\tuser: alice\r\n\tpassword: Gq7.Lw2+Rt9_Vb\r\n"
           b"bank\r\n\tuser: bob\r\n\tPASSWORD: Gq7.Lw2+Rt9_Vb\r\n"
           b"email\r\n\tgoogle\r\n\t\tuser: ann\r\n\t\tpass: Password1!\r\n"
           b"\tfastmail\r\n\t\tpass: kX9!vQ2-mL7?pR4=\r\n"
           b"router\r\n\tpassword: qwertyuiop\r\n\taudit: ignore\r\n")
AUDIT_REPORT = (b"Reused\n  1  Bank (alice)\n  1  bank (bob)\n"
                b"Weak\n  email google: very weak\n"
                b"4 entries checked: 2 reused in 1 group, 0 breached, 1 weak, 0 old.\n")


def sha1_upper(text):
    return hashlib.sha1(text).hexdigest().upper()


@case
def audit(d):
    d.write_vault(AUDITED)
    expect("the report", (0, AUDIT_REPORT, ""), d.run("audit"))
    expect("under a path", (0, b"Weak\n  email google: very weak\n"
                                b"2 entries checked: 0 reused in 0 groups, 0 breached, 1 weak, 0 old.\n", ""),
           d.run("audit", "EMAIL"))
    expect("a path naming nothing", 65, d.run("audit", "shop")[0])

    # The corpus: two of the vault's passwords among others, in both shapes.
    rows = {sha1_upper(b"Password1!"): 116617, sha1_upper(b"qwertyuiop"): 422785}
    rows.update({sha1_upper(b"other %d" % k): k + 1 for k in range(3000)})
    with open(d.path("by-hash.txt"), "wb") as f:
        f.write(b"".join(b"%s:%d\r\n" % (h.encode(), c) for h, c in sorted(rows.items())))
    with open(d.path("by-count.txt"), "wb") as f:
        f.write(b"".join(b"%s:%d\r\n" % (h.encode(), c) for h, c in sorted(rows.items(), key=lambda r: -r[1])))
    os.mkdir(d.path("prefixes"))
    for prefix in {h[:5] for h in rows} | {sha1_upper(b"Gq7.Lw2+Rt9_Vb")[:5], sha1_upper(b"kX9!vQ2-mL7?pR4=")[:5]}:
        with open(d.path("prefixes/%s.txt" % prefix), "wb") as f:
            f.write(b"".join(b"%s:%d\r\n" % (h[5:].encode(), c) for h, c in rows.items() if h.startswith(prefix)))
    breached = AUDIT_REPORT.replace(b"Weak\n", b"Breached\n  email google: 116,617 times\nWeak\n").replace(
        b"0 breached", b"1 breached")
    expect("the file ordered by hash", (0, breached, ""), d.run("audit", "--pwned", "by-hash.txt"))
    expect("the folder", (0, breached, ""), d.run("audit", "--pwned=prefixes"))
    # Refused before the password is asked: a wrong one changes nothing.
    code, out, err = d.run("audit", "--pwned", "by-count.txt", passwords=(b"wrong",))
    expect("the file ordered by count", (65, b""), (code, out))
    expect("its text names the ordering", True, "is not ordered by hash" in err and "ordered by hash (lines" in err)
    os.remove(d.path("prefixes/%s.txt" % sha1_upper(b"kX9!vQ2-mL7?pR4=")[:5]))
    code, out, err = d.run("audit", "--pwned", "prefixes")
    expect("a folder without a prefix it needs", (65, b""), (code, out))
    expect("its text", True, ".txt is missing" in err)
    expect("a missing file", 1, d.run("audit", "--pwned", "missing.txt")[0])
    expect("--pwned with another verb", 64, d.run("show", "--pwned", "by-hash.txt")[0])
    # An update concatenated onto the file: refused at open, and by the whole read,
    # which needs no password and names the first line out of order.
    appended = {sha1_upper(b"update %d" % k): 1 for k in range(1000)}
    with open(d.path("by-hash.txt"), "rb") as f:
        ordered = f.read()
    with open(d.path("concatenated.txt"), "wb") as f:
        f.write(ordered + b"".join(b"%s:%d\r\n" % (h.encode(), c) for h, c in sorted(appended.items())))
    code, out, err = d.run("audit", "--pwned", "concatenated.txt")
    expect("the concatenated file at open", (65, b"", True), (code, out, "is not ordered by hash" in err))
    code, out, err = d.run("audit", "--verify-pwned", "by-hash.txt", passwords=())
    expect("the whole file read", (0, b"by-hash.txt: wholly ordered by hash, 3,002 lines\n"), (code, out))
    expect("its progress", True, err.endswith("100%\n") and "reading by-hash.txt: " in err)
    code, out, err = d.run("audit", "--verify-pwned=concatenated.txt", passwords=())
    expect("the concatenated file read whole", (65, b""), (code, out))
    expect("the line named", True, "concatenated.txt, line " in err and "not above the line before" in err)
    expect("alone", 64, d.run("audit", "--verify-pwned", "by-hash.txt", "--pwned", "by-hash.txt")[0])
    expect("--verify-pwned with another verb", 64, d.run("show", "--verify-pwned", "by-hash.txt")[0])
    expect("vault unchanged", AUDITED, d.read_vault(PASSWORD))


@case
def audit_age(d):
    """--older-than: the age of each password from the backups (a backup named with
    time T holds the vault as it was before the save at T)."""
    now = int(time.time())
    t1, t2 = now - 400 * 86400, now - 100 * 86400
    current = b"Bank\r\n\tpassword: Gq7.Lw2+Rt9_Vb\r\nshop\r\n\tpassword: kX9!vQ2-mL7?pR4=\r\n"
    d.write_vault(current)
    with open(d.path("passwords.gkv.%d.bak" % t1), "wb") as f:
        f.write(vault.write_vault(PASSWORD, b"Bank\r\n\tpassword: Gq7.Lw2+Rt9_Vb\r\nshop\r\n\tpassword: old\r\n"))
    with open(d.path("passwords.gkv.%d.bak" % t2), "wb") as f:
        f.write(vault.write_vault(PASSWORD, current))
    date = time.strftime("%Y-%m-%d", time.localtime(t1)).encode()
    summary = b"2 entries checked: 0 reused in 0 groups, 0 breached, 0 weak, %d old.\n"
    # Bank's value is in the oldest backup: at least that old; shop's was written by
    # the save at t1, the time of the backup before the first that holds it.
    expect("a year", (0, b"Old\n  Bank: at least " + date + b"\n  shop: " + date + b"\n" + summary % 2, ""),
           d.run("audit", "--older-than", "365"))
    expect("longer ago than any backup", (0, summary % 0, ""), d.run("audit", "--older-than=500"))
    expect("without --older-than nothing is old", (0, summary % 0, ""), d.run("audit"))
    with open(d.path("passwords.gkv.%d.bak" % (t1 - 86400)), "wb") as f:
        f.write(vault.write_vault(b"another password", b"shop\r\n\tpassword: older\r\n"))
    code, out, err = d.run("audit", "--older-than", "365")
    expect("a backup under another password is counted", (0, "glimkeep-cli: 1 backup not read (another password "
                                                              "or damaged)\n"), (code, err))
    # A backup dated a month ahead (a wrong clock) that holds another value of Bank
    # would date Bank's current value to then; it is left out of the ages.
    with open(d.path("passwords.gkv.%d.bak" % (now + 30 * 86400)), "wb") as f:
        f.write(vault.write_vault(PASSWORD, b"Bank\r\n\tpassword: before the clock went wrong\r\n"))
    code, out, _ = d.run("audit", "--older-than", "365")
    expect("a future backup changes no age", (0, b"Old\n  Bank: at least " + date + b"\n  shop: " + date + b"\n" +
                                              summary % 2), (code, out))
    code, out, _ = d.run("backups")
    expect("the future backup is marked", 1, out.decode().count("  dated in the future\n"))
    expect("not a number of days", 64, d.run("audit", "--older-than", "a year")[0])
    expect("--older-than with another verb", 64, d.run("show", "--older-than", "3")[0])


OTHER = (b"email\r\n\tgmail\r\n\t\tuser: alice\r\n\t\tpass: n3w\r\n\tweb.de: carol\r\n"
         b"bank: 1234\r\nshop: x\r\n")
MERGED = (b"email\r\n\tgmail\r\n\t\tuser: alice\r\n\t\tpass: s3cr\xc3\xa9t\r\n\t\tpass: n3w\r\n"
          b"\tgmx: bob\r\n\tweb.de: carol\r\nbank: 1234\r\nnotes\r\nshop: x\r\n")


def image(d, name):
    with open(d.path(name), "rb") as f:
        return f.read()


@case
def merge_other(d):
    d.write_vault(DOCUMENT)
    with open(d.path("other.gkv"), "wb") as f:
        f.write(vault.write_vault2(b"other pass", OTHER, iterations=1000))
    other_image = image(d, "other.gkv")
    before = d.files()
    code, _, err = d.run("merge", "other.gkv", passwords=(PASSWORD, b""))
    expect("the vault's password does not open OTHER", (9, "glimkeep-cli: other.gkv: %s\n" % WRONG_PASSWORD_TEXT),
           (code, err))
    expect("a wrong password for OTHER", 9, d.run("merge", "other.gkv", passwords=(PASSWORD, b"wrong"))[0])
    expect("nothing written", before, d.files())
    code, out, err = d.run("merge", "other.gkv", passwords=(PASSWORD, b"other pass"))
    expect("merge", (0, b"merged: other.gkv\nkept twice: email gmail pass\n", LEGACY_WARNING), (code, out, err))
    expect("two-way merge, the vault's value first", MERGED, d.read_vault(PASSWORD))
    expect("one backup", 1, len(d.backups()))
    expect("OTHER never written", other_image, image(d, "other.gkv"))
    vault_image = image(d, "passwords.gkv")
    code, out, _ = d.run("merge", "other.gkv", passwords=(PASSWORD, b"other pass"))
    expect("the second merge changes nothing", (0, b"other.gkv holds nothing that the vault does not\n"), (code, out))
    expect("and writes nothing", (vault_image, 1), (image(d, "passwords.gkv"), len(d.backups())))
    # A vault of format 2.0 (upgraded under a new password) and OTHER of format 1.0
    # under the vault's password (an empty answer), then under the old one.
    upgraded = b"upgraded pass"
    expect("upgrade", 0, d.run("upgrade", passwords=(PASSWORD, upgraded))[0])
    d.write_vault(b"bank: 1234\r\nnew: 1\r\n", password=upgraded, name="old.gkv")
    expect("merge a 1.0 file", 0, d.run("merge", "old.gkv", passwords=(upgraded, b""))[0])
    d.write_vault(b"bank: 1234\r\nolder: 1\r\n", name="older.gkv")
    expect("merge a 1.0 file of another password", 0, d.run("merge", "older.gkv", passwords=(upgraded, PASSWORD))[0])
    expect("into a 2.0 vault", (b"GLIMKEEPDB2.0", MERGED + b"new: 1\r\nolder: 1\r\n"),
           (image(d, "passwords.gkv")[:13], d.read_vault(upgraded)))


@case
def merge_conflicts(d):
    d.write_vault(DOCUMENT)
    sync = "passwords.sync-conflict-20261209-101500-ABCDEFG.gkv"
    dropbox = "passwords (Alice's conflicted copy 2026-12-09).gkv"
    d.write_vault(b"bank: 1234\r\nsync: 1\r\n", name=sync)
    d.write_vault(b"bank: 4321\r\n", password=b"alice", name=dropbox)
    # Other vaults of the same password whose names begin alike, and their copies.
    others = ["other (conflicted copy).gkv", "passwords (conflicted copy).gkv", "passwords-old.gkv",
              "passwords-work.gkv", "passwords-work.sync-conflict-20261209-101500-ABCDEFG.gkv",
              "passwords.gkv.1796752497.bak", "passwords.old (conflicted copy 2026-12-09 101500).gkv",
              "passwords.sync-conflict-1.bak", "passwords2 (Bob's conflicted copy 2026-12-09).gkv",
              "passwords (work) (Alice's conflicted copy 2026-12-09).gkv"]
    for name in others:
        d.write_vault(b"never: merged\r\n", name=name)
    code, out, err = d.run("merge", "--conflicts")
    expect("merged and skipped", (0, "skipped: %s: %s\nmerged: %s\n" % (dropbox, WRONG_PASSWORD_TEXT, sync), LEGACY_WARNING),
           (code, out.decode(), err))
    expect("the copy that opened", DOCUMENT + b"sync: 1\r\n", d.read_vault(PASSWORD))
    expect("nothing deleted without --delete-merged", True, sync in d.files() and dropbox in d.files())
    code, out, err = d.run("merge", "--conflicts", "--delete-merged", passwords=(PASSWORD, b"alice"))
    expect("both merged and deleted",
           (0, "merged: %s\nkept twice: bank\nmerged: %s\ndeleted: %s\ndeleted: %s\n" % (dropbox, sync, dropbox, sync)),
           (code, out.decode()))
    expect("bank kept twice", DOCUMENT.replace(b"bank: 1234\r\n", b"bank: 1234\r\nbank: 4321\r\n") + b"sync: 1\r\n",
           d.read_vault(PASSWORD))
    expect("other files stay", sorted(others + ["passwords.gkv"]),
           [f for f in d.files() if not f.startswith("passwords.gkv.") or f == "passwords.gkv.1796752497.bak"])
    expect("a backup before each of the two saves, beside the two planted", 4, len(d.backups()))
    expect("nothing left to merge", (0, b"No conflicting copies of passwords.gkv were found.\n"),
           d.run("merge", "--conflicts")[:2])
    expect("--conflicts goes with merge only", 64, d.run("show", "--conflicts")[0])
    expect("--delete-merged goes with --conflicts", 64, d.run("merge", "x.gkv", "--delete-merged")[0])


OURS = DOCUMENT + b"shop: x\r\n"
THEIRS = DOCUMENT.replace(b"bank: 1234", b"bank: 5678")
BOTH = THEIRS + b"shop: x\r\n"
MERGE_FILE = ("merge-file", "base.gkv", "ours.gkv", "theirs.gkv")


def write_three(d, base, ours, theirs):
    """Writes base.gkv, ours.gkv and theirs.gkv: each a text, or (text, image writer)."""
    for name, content in (("base.gkv", base), ("ours.gkv", ours), ("theirs.gkv", theirs)):
        text, write = content if isinstance(content, tuple) else (content, lambda t: vault.write_vault(PASSWORD, t))
        with open(d.path(name), "wb") as f:
            f.write(write(text))


@case
def merge_file(d):
    write_three(d, DOCUMENT, OURS, THEIRS)
    read_only = (image(d, "base.gkv"), image(d, "theirs.gkv"))
    expect("a clean merge", (0, b"", LEGACY_WARNING.replace("passwords.gkv", "ours.gkv")), d.run(*MERGE_FILE))
    expect("both changes in OURS", BOTH, d.read_vault(PASSWORD, name="ours.gkv"))
    expect("BASE and THEIRS never written, no backup, no other file",
           (read_only, ["base.gkv", "ours.gkv", "theirs.gkv"]),
           ((image(d, "base.gkv"), image(d, "theirs.gkv")), d.files()))

    write_three(d, DOCUMENT, DOCUMENT.replace(b"bank: 1234", b"bank: 1111"), THEIRS)
    code, out, err = d.run(*MERGE_FILE)
    expect("a value kept twice", (11, b"kept twice: bank\n", True), (code, out, "kept twice" in err))
    expect("both values, OURS's first", DOCUMENT.replace(b"bank: 1234\r\n", b"bank: 1111\r\nbank: 5678\r\n"),
           d.read_vault(PASSWORD, name="ours.gkv"))

    # Both branches added the vault: git passes an empty BASE.
    write_three(d, DOCUMENT, DOCUMENT, OURS)
    open(d.path("base.gkv"), "wb").close()
    expect("BASE empty", 0, d.run(*MERGE_FILE)[0])
    expect("an empty BASE is an empty document", OURS, d.read_vault(PASSWORD, name="ours.gkv"))
    # A BASE that is not there is a mistake, not an empty document.
    write_three(d, DOCUMENT, DOCUMENT, OURS)
    os.remove(d.path("base.gkv"))
    ours_image = image(d, "ours.gkv")
    code, _, err = d.run(*MERGE_FILE)
    expect("BASE missing", (1, True), (code, err.startswith("glimkeep-cli: base.gkv: ")))
    expect("nothing written", (ours_image, ["ours.gkv", "theirs.gkv"]), (image(d, "ours.gkv"), d.files()))
    with open(d.path("base.gkv"), "wb") as f:
        f.write(b"not a vault")
    expect("a BASE that is not a vault", 2, d.run(*MERGE_FILE)[0])
    expect("merge-file takes three files", 64, d.run("merge-file", "base.gkv", "ours.gkv")[0])


@case
def merge_file_keys(d):
    other = b"other pass"
    write_three(d, DOCUMENT, OURS, (THEIRS, lambda t: vault.write_vault(other, t)))
    before = (image(d, "base.gkv"), image(d, "ours.gkv"), image(d, "theirs.gkv"))
    code, _, err = d.run(*MERGE_FILE, passwords=(PASSWORD, b"wrong"))
    expect("a wrong password for THEIRS", (9, "glimkeep-cli: theirs.gkv: %s\n" % WRONG_PASSWORD_TEXT), (code, err))
    expect("nothing written", (before, ["base.gkv", "ours.gkv", "theirs.gkv"]),
           ((image(d, "base.gkv"), image(d, "ours.gkv"), image(d, "theirs.gkv")), d.files()))
    # THEIRS changed the password since BASE, OURS did not: the result takes THEIRS's.
    expect("the second password opens THEIRS", 0, d.run(*MERGE_FILE, passwords=(PASSWORD, other))[0])
    expect("the result under THEIRS's password", BOTH, d.read_vault(other, name="ours.gkv"))

    # THEIRS upgraded to 2.0 under a new password: the merge raises OURS's format, even
    # when OURS changed its 1.0 password too. Each password opens one file.
    write_three(d, DOCUMENT, (OURS, lambda t: vault.write_vault(other, t)),
                (THEIRS, lambda t: vault.write_vault2(NEW_PASSWORD, t, iterations=1000)))
    expect("2.0 over 1.0", (0, ""), d.run(*MERGE_FILE, passwords=(other, PASSWORD, NEW_PASSWORD))[::2])
    expect("format 2.0 under THEIRS's key", (b"GLIMKEEPDB2.0", BOTH),
           (image(d, "ours.gkv")[:13], d.read_vault(NEW_PASSWORD, name="ours.gkv")))
    # THEIRS changed the password but is of format 1.0, OURS of 2.0 as BASE: the format
    # is never lowered, so OURS keeps its key, and says so.
    salt = os.urandom(32)
    write_three(d, (DOCUMENT, lambda t: vault.write_vault2(NEW_PASSWORD, t, iterations=1000, salt=salt)),
                (OURS, lambda t: vault.write_vault2(NEW_PASSWORD, t, iterations=1000, salt=salt)),
                (THEIRS, lambda t: vault.write_vault(other, t)))
    code, _, err = d.run(*MERGE_FILE, passwords=(NEW_PASSWORD, other))
    expect("1.0 never over 2.0", (0, "glimkeep-cli: ours.gkv keeps its password and format 2.0: theirs.gkv changed "
                                     "the password in format 1.0, which a merge never writes over 2.0\n"), (code, err))
    expect("2.0 under OURS's key", (b"GLIMKEEPDB2.0", BOTH),
           (image(d, "ours.gkv")[:13], d.read_vault(NEW_PASSWORD, name="ours.gkv")))
    # OURS upgraded, THEIRS not: OURS's key and format stay.
    write_three(d, DOCUMENT, (OURS, lambda t: vault.write_vault2(NEW_PASSWORD, t, iterations=1000)), THEIRS)
    expect("1.0 into 2.0", 0, d.run(*MERGE_FILE, passwords=(NEW_PASSWORD, PASSWORD))[0])
    expect("stays 2.0 under OURS's key", (b"GLIMKEEPDB2.0", BOTH),
           (image(d, "ours.gkv")[:13], d.read_vault(NEW_PASSWORD, name="ours.gkv")))


ZERO = b"bank: 1234\r\nnote: a\x00b\r\n"
ZERO_REFUSAL = "%s: line 2: a zero byte (byte 20), which the editor cannot show; nothing was written."


@case
def merge_zero_bytes(d):
    """A file whose text holds a zero byte is refused (65) by merge and merge-file, and
    skipped by merge --conflicts; nothing of it is written."""
    d.write_vault(DOCUMENT)
    d.write_vault(ZERO, name="other.gkv")
    before = [(name, image(d, name)) for name in d.files()]
    code, out, err = d.run("merge", "other.gkv", passwords=(PASSWORD, b""))
    expect("merge refuses", (65, b"", "glimkeep-cli: " + ZERO_REFUSAL % "other.gkv" + "\n"), (code, out, err))
    expect("nothing written", before, [(name, image(d, name)) for name in d.files()])

    sync = "passwords.sync-conflict-20261209-101500-ABCDEFG.gkv"
    zero_copy = "passwords (conflicted copy 2026-12-10).gkv"
    d.write_vault(b"bank: 1234\r\nsync: 1\r\n", name=sync)
    d.write_vault(ZERO, name=zero_copy)
    code, out, _ = d.run("merge", "--conflicts", "--delete-merged")
    expect("the copy with a zero byte skipped, the rest merged",
           (0, "skipped: %s\nmerged: %s\ndeleted: %s\n" % (ZERO_REFUSAL % zero_copy, sync, sync)),
           (code, out.decode()))
    expect("and kept", (True, False), (zero_copy in d.files(), sync in d.files()))
    expect("the vault holds the merged copy only", DOCUMENT + b"sync: 1\r\n", d.read_vault(PASSWORD))

    for zero_at in ("base.gkv", "ours.gkv", "theirs.gkv"):
        texts = {"base.gkv": DOCUMENT, "ours.gkv": OURS, "theirs.gkv": THEIRS}
        texts[zero_at] = ZERO
        write_three(d, texts["base.gkv"], texts["ours.gkv"], texts["theirs.gkv"])
        ours_image = image(d, "ours.gkv")
        code, _, err = d.run(*MERGE_FILE)
        expect("merge-file refuses " + zero_at, (65, "glimkeep-cli: " + ZERO_REFUSAL % zero_at + "\n"), (code, err))
        expect("OURS not written", ours_image, image(d, "ours.gkv"))


@case
def merge_file_git(d):
    """git merges two branches that changed one vault, through the driver."""
    repo = d.path("repo")
    os.mkdir(repo)
    with open(d.path("password"), "wb") as f:
        f.write(PASSWORD + b"\n")

    def git(*args, check=True):
        done = subprocess.run(["git", "-c", "user.name=Test", "-c", "user.email=test@example.org"] + list(args),
                              cwd=repo, capture_output=True, timeout=300)
        if check and done.returncode != 0:
            raise AssertionError("git %s: %s" % (" ".join(args), done.stderr.decode()))
        return done

    def commit(text, message):
        code, _, err = d.run("--vault", "repo/passwords.gkv", "import", stdin=text)
        expect("import for " + message, (0, ""), (code, err))
        git("commit", "-q", "-a", "-m", message)

    git("init", "-q", "-b", "main")
    git("config", "merge.glimkeep.driver",
        "'%s' --password-fd 3 merge-file %%O %%A %%B 3<'%s'" % (d.cli, d.path("password")))
    with open(os.path.join(repo, ".gitattributes"), "w") as f:
        f.write("*.gkv merge=glimkeep\n")
    with open(os.path.join(repo, ".gitignore"), "w") as f:
        f.write("*.bak\n")
    with open(os.path.join(repo, "passwords.gkv"), "wb") as f:
        f.write(vault.write_vault2(PASSWORD, DOCUMENT, iterations=1000))
    git("add", ".")
    git("commit", "-q", "-m", "vault")
    git("checkout", "-q", "-b", "laptop")
    commit(THEIRS, "bank on the laptop")
    git("checkout", "-q", "main")
    commit(OURS, "shop on the desktop")
    git("merge", "-q", "--no-edit", "laptop")
    expect("the merged vault holds both changes", BOTH, d.read_vault(PASSWORD, name="repo/passwords.gkv"))
    expect("and is committed", b"", git("status", "--porcelain").stdout)

    git("checkout", "-q", "laptop")
    commit(THEIRS.replace(b"bank: 5678", b"bank: 1111"), "bank again on the laptop")
    git("checkout", "-q", "main")
    commit(BOTH.replace(b"bank: 5678", b"bank: 2222"), "bank again on the desktop")
    merge = git("merge", "--no-edit", "laptop", check=False)
    expect("a value kept twice leaves the merge to the user", (1, True),
           (merge.returncode, b"kept twice: bank" in merge.stdout))
    expect("git marks the vault conflicted", b"UU passwords.gkv\n", git("status", "--porcelain").stdout)
    expect("which holds both values", BOTH.replace(b"bank: 5678\r\n", b"bank: 2222\r\nbank: 1111\r\n"),
           d.read_vault(PASSWORD, name="repo/passwords.gkv"))


def write_file(d, name, image):
    with open(d.path(name), "wb") as f:
        f.write(image)


def when(seconds):
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(seconds))


@case
def backups(d):
    write_file(d, "passwords.gkv", vault.write_vault2(PASSWORD, DOCUMENT, 1000))
    old10 = vault.write_vault(PASSWORD, b"bank: 1\r\n")
    newest = vault.write_vault2(PASSWORD, b"bank: 3\r\n", 1000)
    other = vault.write_vault2(b"other", b"bank: 2\r\n", 1000)
    listed = [("passwords.gkv.-1.bak", 4294967295, newest, "2.0", "yes"),  # 2106: the name turns negative in 2038
              ("passwords.gkv.1000003600_02.bak", 1000003600, newest[:-1], "2.0", "damaged"),
              ("passwords.gkv.1000003600.bak", 1000003600, other, "2.0", "no")]
    # 25 of September 2001 in format 1.0: the oldest 8 are beyond the newest 20 and not
    # the newest of their month.
    september = ["passwords.gkv.%d.bak" % (1000000000 + 60 * i) for i in range(25)]
    for name, _, image, _, _ in listed:
        write_file(d, name, image)
    for name in september:
        write_file(d, name, old10)
    for name in ("passwords.gkv.bak", "passwords.gkv.123.bak.txt", "other.gkv.5.bak", "passwords.gkv.0123.bak"):
        write_file(d, name, newest)
    write_file(d, "passwords.gkv.77.bak", b"no vault header, but long enough for one")
    rows = listed + [(name, 1000000000 + 60 * i, old10, "1.0", "yes")
                     for i, name in reversed(list(enumerate(september)))]
    total = sum(len(image) for _, _, image, _, _ in rows)
    # The clock cannot be in 2106 yet: that backup is marked.
    future = lambda s: "  dated in the future" if s > time.time() else ""
    lines = ["%s  %s  %d  %s  %s%s\n" % (name, when(s), len(image), form, opens, future(s))
             for name, s, image, form, opens in rows]
    expect("listed newest first by time", (0, "".join(lines) + "28 backups, %d bytes\n" % total, ""),
           (lambda r: (r[0], r[1].decode(), r[2]))(d.run("backups")))
    no_password = ["  ".join(line.split("  ")[:4] + line.split("  ")[5:]).rstrip("\n") + "\n" for line in lines]
    code, out, _ = d.run("backups", "--no-password", passwords=())
    summary = "28 backups, %d bytes\n" % total
    expect("four columns without asking", (0, "".join(no_password) + summary), (code, out.decode()))

    before = d.files()
    going = september[:8]
    code, out, _ = d.run("backups", "--thin", "--dry-run")
    expect("the preview", (0, "".join("would delete: %s\n" % n for n in going) + "Would delete 8 of 28 backups.\n"),
           (code, out.decode()))
    expect("a dry run deletes nothing", before, d.files())
    code, out, _ = d.run("backups", "--thin")
    expect("thinned", (0, "".join("deleted: %s\n" % n for n in going) + "Deleted 8 of 28 backups.\n"),
           (code, out.decode()))
    expect("only those went", sorted(set(before) - set(going)), d.files())
    expect("--dry-run goes with --thin", 64, d.run("backups", "--dry-run")[0])
    expect("--thin needs the password", 64, d.run("backups", "--thin", "--no-password")[0])
    expect("--thin goes with backups", 64, d.run("show", "--thin")[0])


@case
def thin_hard_link(d):
    """A second name of the vault that looks like a 1.0 backup: thinning removes that
    name and never writes zeros through it."""
    image10 = vault.write_vault(PASSWORD, DOCUMENT)
    write_file(d, "passwords.gkv", image10)
    link = "passwords.gkv.1000000000.bak"
    os.link(d.path("passwords.gkv"), d.path(link))
    # 25 more 1.0 backups of September 2001, newer than the link: the newest 20 stay,
    # the link and the oldest 5 go.
    september = ["passwords.gkv.%d.bak" % (1000000060 + 60 * i) for i in range(25)]
    for name in september:
        write_file(d, name, vault.write_vault(PASSWORD, b"bank: 1\r\n"))
    code, out, err = d.run("backups", "--thin")
    note = " (not overwritten: another name (a hard link, or the vault itself) still leads to its format 1.0 contents)"
    expect("thinned, the link named", (0, "deleted: %s%s\n" % (link, note) +
                                        "".join("deleted: %s\n" % n for n in september[:5]) +
                                        "Deleted 6 of 26 backups.\n", ""), (code, out.decode(), err))
    expect("the vault is whole", image10, image(d, "passwords.gkv"))
    expect("it still opens", DOCUMENT, d.read_vault(PASSWORD))
    expect("only those went", sorted(["passwords.gkv"] + september[5:]), d.files())


@case
def history(d):
    write_file(d, "passwords.gkv",
               vault.write_vault2(PASSWORD, b"site\r\n\tuser: bob\r\n\tpassword: v4\r\nbank: 1\r\n", 1000))
    write_file(d, "passwords.gkv.1000.bak", vault.write_vault(b"old", b"site\r\n\tuser: ann\r\n\tpassword: v1\r\n"))
    write_file(d, "passwords.gkv.2000.bak",
               vault.write_vault2(PASSWORD, b"site\r\n\tuser: ann\r\n\tpassword: v2\r\n", 1000))
    write_file(d, "passwords.gkv.3000.bak", vault.write_vault2(PASSWORD, b"site: damaged\r\n", 1000)[:-1])
    write_file(d, "passwords.gkv.4000.bak",
               vault.write_vault2(PASSWORD, b"site\r\n\tuser: bob\r\n\tpassword: v3\r\n", 1000))
    skipped = "1 backup could not be read and was skipped\n"
    expect("a line's values, oldest first",
           (0, "written before %s, replaced %s: v2\n" % (when(2000), when(2000)) +
            "written %s, replaced %s: v3\n" % (when(2000), when(4000)) +
            "written %s, current: v4\n" % when(4000) +
            "1 backup under other passwords not read\n" + skipped, ""),
           (lambda r: (r[0], r[1].decode(), r[2]))(d.run("history", "SITE password")))
    expect("a further password opens the 1.0 backup",
           (0, "user\n  written before %s, replaced %s: ann\n" % (when(1000), when(2000)) +
            "  written %s, current: bob\n" % when(2000) +
            "password\n  written before %s, replaced %s: v1\n" % (when(1000), when(1000)) +
            "  written %s, replaced %s: v2\n" % (when(1000), when(2000)) +
            "  written %s, replaced %s: v3\n" % (when(2000), when(4000)) +
            "  written %s, current: v4\n" % when(4000) + skipped),
           (lambda r: (r[0], r[1].decode()))(d.run("history", "site", passwords=(PASSWORD, b"old"))))
    # The reading stops at the newest backup without the current value.
    expect("when each password was written, never the value",
           (0, "%s  site password\n" % when(4000)),
           (lambda r: (r[0], r[1].decode()))(d.run("history", "--since")))
    expect("a PATH that names nothing", 65, d.run("history", "nothing")[0])
    expect("history needs a PATH without --since", 64, d.run("history")[0])
    expect("--since goes with history", 64, d.run("show", "--since")[0])


@case
def history_since_same_names(d):
    """Entries of one name are told apart by user name, or by line without one, also
    when the rows of only one of them are asked for; a lone entry keeps its path."""
    write_file(d, "passwords.gkv", vault.write_vault2(
        PASSWORD, b"Google\r\n\tuser: bob\r\n\tpassword: b2\r\nGoogle\r\n\tuser: alice\r\n\tpassword: a1\r\n"
        b"Google\r\n\tpassword: c1\r\nMail\r\n\tpassword: m1\r\n", 1000))
    write_file(d, "passwords.gkv.2000.bak", vault.write_vault2(
        PASSWORD, b"Google\r\n\tuser: alice\r\n\tpassword: a1\r\nGoogle\r\n\tuser: bob\r\n\tpassword: b1\r\n"
        b"Google\r\n\tpassword: c1\r\nMail\r\n\tpassword: m1\r\n", 1000))
    before = "before %s  " % when(2000)
    expect("every password line, named apart",
           (0, before + "Google (alice) password\n" + before + "Google (line 7) password\n" +
            before + "Mail password\n" + "%s  Google (bob) password\n" % when(2000)),
           (lambda r: (r[0], r[1].decode()))(d.run("history", "--since")))
    expect("one of them alone, still named",
           (0, "%s  Google (bob) password\n" % when(2000)),
           (lambda r: (r[0], r[1].decode()))(d.run("history", "--since", "Google")))


def run_while_changed(d, args, first, rest):
    """Runs the CLI, sends the first password lines, and once it waits for more input
    rewrites the vault as another program would; then sends the rest."""
    process = subprocess.Popen([d.cli, "--password-fd", "0"] + list(args), cwd=d.root, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    process.stdin.write(first)
    process.stdin.flush()
    deadline = time.time() + 60
    while time.time() < deadline:
        with open("/proc/%d/wchan" % process.pid) as f:
            if "pipe" in f.read():
                break
        time.sleep(0.05)
    d.write_vault(b"written: elsewhere\r\n")
    out, err = process.communicate(rest, timeout=120)
    return process.returncode, out, err.decode("utf-8", "replace")


@case
def changed_while_running(d):
    changed_text = ("glimkeep-cli: passwords.gkv: the vault was changed by another program while this command ran; "
                    "nothing was written. Try again.\n")
    for args, first, rest in ((("import",), PASSWORD + b"\n", b"new: text\n"),
                              (("passwd",), PASSWORD + b"\n", b"new pass\n"),
                              (("upgrade",), PASSWORD + b"\n", b"new pass\n"),
                              (("merge", "--conflicts"), b"", PASSWORD + b"\n")):
        d.write_vault(DOCUMENT)
        if args[0] == "merge":
            d.write_vault(b"more: 1\r\n", name="passwords (conflicted copy 2026-12-09 101500).gkv")
        code, _, err = run_while_changed(d, args, first, rest)
        expect(args[0] + ": exit code and text", (75, changed_text), (code, err))
        expect(args[0] + ": the other writer's vault stays", b"written: elsewhere\r\n", d.read_vault(PASSWORD))
        expect(args[0] + ": no backup", [], d.backups())

class Terminal:
    """The CLI on a pseudo-terminal of its own. With `job_control` a small shell in
    between runs it as a foreground job: Ctrl+Z stops it (a stop signal to a process
    group without such a parent is ignored), and fg() continues it in the foreground."""

    def __init__(self, d, *args, job_control=False):
        report_r, report_w = os.pipe()
        go_r, go_w = os.pipe()
        self.pid, self.master = pty.fork()
        if self.pid == 0:
            os.chdir(d.root)
            if job_control:
                self._shell(d.cli, list(args), report_w, go_r)
            os.execv(d.cli, [d.cli] + list(args))
        os.close(report_w)
        os.close(go_r)
        self.report, self.go = report_r, go_w
        self.output = b""

    @staticmethod
    def _shell(cli, args, report, go):
        signal.signal(signal.SIGTTOU, signal.SIG_IGN)
        job = os.fork()
        if job == 0:
            os.setpgid(0, 0)
            signal.signal(signal.SIGTTOU, signal.SIG_DFL)
            os.execv(cli, [cli] + args)
        os.setpgid(job, job)
        os.tcsetpgrp(0, job)
        status = os.waitpid(job, os.WUNTRACED)[1]
        if os.WIFSTOPPED(status):
            os.write(report, b"stopped")
            os.read(go, 1)
            os.tcsetpgrp(0, job)
            os.kill(job, signal.SIGCONT)
            status = os.waitpid(job, 0)[1]
        os._exit(os.WEXITSTATUS(status) if os.WIFEXITED(status) else 128 + os.WTERMSIG(status))

    def stopped(self):
        return bool(select.select([self.report], [], [], 10)[0]) and os.read(self.report, 16) == b"stopped"

    def fg(self):
        os.write(self.go, b"g")

    def read_until(self, text, seconds=30):
        deadline = time.monotonic() + seconds
        while text not in self.output and time.monotonic() < deadline:
            if select.select([self.master], [], [], 0.1)[0]:
                try:
                    self.output += os.read(self.master, 4096)
                except OSError:
                    break
        expect("terminal output %r in %r" % (text, self.output), True, text in self.output)

    def echo(self):
        return bool(termios.tcgetattr(self.master)[3] & termios.ECHO)

    def wait_for_echo(self, on):
        deadline = time.monotonic() + 10
        while self.echo() != on and time.monotonic() < deadline:
            time.sleep(0.02)
        return self.echo()

    def finish(self):
        """Waits for the end; returns the exit status, after reading what is left."""
        while True:
            try:
                chunk = os.read(self.master, 4096) if select.select([self.master], [], [], 30)[0] else b""
            except OSError:
                chunk = b""
            if not chunk:
                break
            self.output += chunk
        status = os.waitpid(self.pid, 0)[1]
        for fd in (self.master, self.report, self.go):
            os.close(fd)
        return status


@case
def terminal(d):
    d.write_vault(DOCUMENT)
    # Ctrl+Z at the prompt gives the echo back while stopped; fg takes it away again.
    t = Terminal(d, "show", "bank", job_control=True)
    t.read_until(b"Password: ")
    expect("echo off at the prompt", False, t.wait_for_echo(False))
    os.write(t.master, b"\x1a")
    expect("stopped by Ctrl+Z", True, t.stopped())
    expect("echo on while stopped", True, t.echo())
    t.fg()
    expect("echo off again after fg", False, t.wait_for_echo(False))
    os.write(t.master, PASSWORD + b"\n")
    status = t.finish()
    expect("the command succeeds", (True, 0), (os.WIFEXITED(status), os.WEXITSTATUS(status)))
    expect("the password never shows", False, PASSWORD in t.output)
    expect("the value shows", True, b"1234" in t.output)
    # Ctrl+\ at the prompt ends the process as Ctrl+C does: no core, the echo back.
    t = Terminal(d, "show", "bank")
    t.read_until(b"Password: ")
    t.wait_for_echo(False)
    os.write(t.master, b"\x1c")
    expect("echo restored", True, t.wait_for_echo(True))
    status = t.finish()
    expect("ended by SIGINT", (True, signal.SIGINT), (os.WIFSIGNALED(status), os.WTERMSIG(status)))
    expect("no core file", False, os.WCOREDUMP(status))
    # --password-fd naming the terminal would echo the password.
    t = Terminal(d, "--password-fd", "0", "show", "bank")
    status = t.finish()
    expect("a terminal descriptor is refused", 64, os.WEXITSTATUS(status))
    expect("with its reason", True, b"password descriptor 0 is a terminal" in t.output)


def main(argv):
    if len(argv) != 3 or argv[2] not in CASES:
        print(__doc__ + "cases: " + " ".join(CASES), file=sys.stderr)
        return 64
    with tempfile.TemporaryDirectory(prefix="glimkeep-cli-") as root:
        CASES[argv[2]](Folder(os.path.abspath(argv[1]), root))
    print("ok", argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

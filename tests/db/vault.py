#!/usr/bin/python3
"""Reads and writes Glimkeep vault files without any of the program's code.

Format 1.0: AES-256 comes from the `cryptography` package (one ECB block),
SHA3-256 from hashlib; the HMAC with 32-byte pads, PBKDF2 (RFC 8018 5.2) and the
keystream with its fixed counter are written out here, so that the C++ container
and this script only agree when both follow the file format.

Format 2.0 uses standard tools only: hashlib.pbkdf2_hmac("sha3_256"), the hmac
module with hashlib.sha3_256, and AES-256-CTR of the `cryptography` package.

  vault.py write  PASSWORD_HEX PLAINTEXT_FILE OUT_FILE [SALT_HEX NONCE_HEX]
  vault.py write2 PASSWORD_HEX PLAINTEXT_FILE OUT_FILE [ITERATIONS]
  vault.py read   PASSWORD_HEX VAULT_FILE OUT_FILE

`write` writes 1.0, `write2` writes 2.0 (600000 iterations unless given); `read`
reads both. Passwords are given in hex so that any bytes pass through a command
line. Exit status of `read`: 0 on success, 2 for a file that is not a vault of
version 1.0 or 2.0 (or whose 2.0 iteration count is 0 or above 10,000,000), 9
when the MAC does not match (wrong password or damaged file).
"""

import hashlib
import hmac
import os
import struct
import sys

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

MAGIC = b"GLIMKEEPDB"
VERSION = b"1.0"
HEADER_SIZE = 93
ITERATIONS = 500
VERSION2 = b"2.0"
HEADER_SIZE2 = 97
ITERATIONS2 = 600000
MAX_ITERATIONS2 = 10000000


def sha3_256(data):
    return hashlib.sha3_256(data).digest()


def hmac32(key, message):
    """RFC 2104 shape with SHA3-256, but the key block and both pads are 32 bytes."""
    block = sha3_256(key) if len(key) > 32 else key.ljust(32, b"\0")
    inner = sha3_256(bytes(b ^ 0x36 for b in block) + message)
    return sha3_256(bytes(b ^ 0x5C for b in block) + inner)


def pbkdf2(password, salt, iterations, length):
    """RFC 8018 5.2 with hmac32 keyed by the password as the PRF."""
    out = b""
    index = 1
    while len(out) < length:
        u = hmac32(password, salt + struct.pack(">I", index))
        t = bytearray(u)
        for _ in range(iterations - 1):
            u = hmac32(password, u)
            for k in range(32):
                t[k] ^= u[k]
        out += bytes(t)
        index += 1
    return out[:length]


def keystream_block(key, nonce):
    """AES-256 of the counter block 00 00 00 00 || nonce; the counter never advances."""
    encryptor = Cipher(algorithms.AES(key), modes.ECB()).encryptor()
    return encryptor.update(b"\0\0\0\0" + nonce) + encryptor.finalize()


def stream(key, nonce, data):
    block = keystream_block(key, nonce)
    return bytes(b ^ block[i % 16] for i, b in enumerate(data))


def write_vault(password, plaintext, salt=None, nonce=None):
    salt = os.urandom(32) if salt is None else salt
    nonce = os.urandom(12) if nonce is None else nonce
    assert len(salt) == 32 and len(nonce) == 12
    key = pbkdf2(password, salt, ITERATIONS, 32)
    ciphertext = stream(key, nonce, plaintext)
    mac = hmac32(key, ciphertext)
    return MAGIC + VERSION + salt + nonce + mac + struct.pack(">I", len(ciphertext)) + ciphertext


class VaultError(Exception):
    def __init__(self, status, text):
        super().__init__(text)
        self.status = status


def ctr(key, nonce, data):
    """AES-256-CTR of SP 800-38A: counter block nonce || 32-bit big-endian block number."""
    cipher = Cipher(algorithms.AES(key), modes.CTR(nonce + b"\0\0\0\0")).encryptor()
    return cipher.update(data) + cipher.finalize()


def write_vault2(password, plaintext, iterations=ITERATIONS2, salt=None):
    """A vault of format 2.0; `salt` (32 bytes) as a file saved before under that key holds it."""
    salt, nonce = salt or os.urandom(32), os.urandom(12)
    keys = hashlib.pbkdf2_hmac("sha3_256", password, salt, iterations, 64)
    ciphertext = ctr(keys[:32], nonce, plaintext)
    head = MAGIC + VERSION2 + struct.pack(">I", iterations) + salt + nonce
    length = struct.pack(">I", len(ciphertext))
    mac = hmac.new(keys[32:], head + length + ciphertext, hashlib.sha3_256).digest()
    return head + mac + length + ciphertext


def header_fields(image, offset):
    """Salt, nonce, MAC and ciphertext of a vault whose salt starts at `offset` (13 in
    format 1.0, 17 in 2.0); the length field follows the MAC."""
    salt, nonce, mac = image[offset:offset + 32], image[offset + 32:offset + 44], image[offset + 44:offset + 76]
    (length,) = struct.unpack(">I", image[offset + 76:offset + 80])
    ciphertext = image[offset + 80:offset + 80 + length]
    if len(ciphertext) != length:
        raise VaultError(2, "ciphertext shorter than its length field")
    return salt, nonce, mac, ciphertext


def read_vault2(password, image):
    if len(image) < HEADER_SIZE2:
        raise VaultError(2, "too short")
    (iterations,) = struct.unpack(">I", image[13:17])
    if iterations == 0 or iterations > MAX_ITERATIONS2:
        raise VaultError(2, "iteration count out of bounds")
    salt, nonce, mac, ciphertext = header_fields(image, 17)
    keys = hashlib.pbkdf2_hmac("sha3_256", password, salt, iterations, 64)
    expected = hmac.new(keys[32:], image[0:61] + image[93:97] + ciphertext,
                        hashlib.sha3_256).digest()
    if not hmac.compare_digest(expected, mac):
        raise VaultError(9, "MAC mismatch")
    return ctr(keys[:32], nonce, ciphertext)


def read_vault(password, image):
    if image[0:10] == MAGIC and image[10:13] == VERSION2:
        return read_vault2(password, image)
    if len(image) < HEADER_SIZE:
        raise VaultError(2, "too short")
    if image[0:10] != MAGIC or image[10:13] != VERSION:
        raise VaultError(2, "not a vault of version 1.0 or 2.0")
    salt, nonce, mac, ciphertext = header_fields(image, 13)
    key = pbkdf2(password, salt, ITERATIONS, 32)
    if hmac32(key, ciphertext) != mac:
        raise VaultError(9, "MAC mismatch")
    return stream(key, nonce, ciphertext)


def main(argv):
    if len(argv) in (5, 7) and argv[1] == "write":
        password = bytes.fromhex(argv[2])
        with open(argv[3], "rb") as f:
            plaintext = f.read()
        salt = bytes.fromhex(argv[5]) if len(argv) == 7 else None
        nonce = bytes.fromhex(argv[6]) if len(argv) == 7 else None
        with open(argv[4], "wb") as f:
            f.write(write_vault(password, plaintext, salt, nonce))
        return 0
    if len(argv) in (5, 6) and argv[1] == "write2":
        password = bytes.fromhex(argv[2])
        with open(argv[3], "rb") as f:
            plaintext = f.read()
        iterations = int(argv[5]) if len(argv) == 6 else ITERATIONS2
        with open(argv[4], "wb") as f:
            f.write(write_vault2(password, plaintext, iterations))
        return 0
    if len(argv) == 5 and argv[1] == "read":
        password = bytes.fromhex(argv[2])
        with open(argv[3], "rb") as f:
            image = f.read()
        try:
            plaintext = read_vault(password, image)
        except VaultError as e:
            print("vault.py: %s: %s" % (argv[3], e), file=sys.stderr)
            return e.status
        with open(argv[4], "wb") as f:
            f.write(plaintext)
        return 0
    print(__doc__, file=sys.stderr)
    return 64


if __name__ == "__main__":
    sys.exit(main(sys.argv))

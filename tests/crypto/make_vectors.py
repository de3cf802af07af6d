#!/usr/bin/python3
"""Writes vectors.h: cross-check vectors for the crypto tests, computed with
implementations independent of the program's own: Python's hashlib (SHA3, SHAKE,
PBKDF2-HMAC-SHA3-256), its hmac module (HMAC-SHA3-256), the `cryptography` package
(AES, AES-CTR), and the short reference code below for the 1.0 keyed constructions
and for sponge parameters hashlib does not offer.

    /usr/bin/python3 tests/crypto/make_vectors.py > tests/crypto/vectors.h
"""

import hashlib
import hmac
import random

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

MASK32 = 0xFFFFFFFF


def pattern(size, seed):
    """Deterministic test bytes; cross_check_test.cpp has the same generator."""
    x = (seed * 2654435761 + 0x9E3779B9) & MASK32
    if x == 0:
        x = 1
    out = bytearray()
    for _ in range(size):
        x ^= (x << 13) & MASK32
        x ^= x >> 17
        x ^= (x << 5) & MASK32
        out.append(x & 0xFF)
    return bytes(out)


def sha3_256(data):
    return hashlib.sha3_256(data).digest()


# --- A plain Keccak from FIPS 202, for sponge parameters hashlib does not cover ---

def keccak_f1600(lanes):
    """FIPS 202 3.3: Keccak-p[1600, 24] on A[x][y] (lists of ints)."""
    def rot(v, n):
        n %= 64
        return ((v << n) | (v >> (64 - n))) & 0xFFFFFFFFFFFFFFFF

    def rc(t):
        if t % 255 == 0:
            return 1
        r = [1, 0, 0, 0, 0, 0, 0, 0]
        for _ in range(t % 255):
            r = [0] + r
            r[0] ^= r[8]
            r[4] ^= r[8]
            r[5] ^= r[8]
            r[6] ^= r[8]
            r = r[:8]
        return r[0]

    a = [row[:] for row in lanes]
    for ir in range(24):
        c = [a[x][0] ^ a[x][1] ^ a[x][2] ^ a[x][3] ^ a[x][4] for x in range(5)]
        d = [c[(x - 1) % 5] ^ rot(c[(x + 1) % 5], 1) for x in range(5)]
        a = [[a[x][y] ^ d[x] for y in range(5)] for x in range(5)]
        offsets = [[0] * 5 for _ in range(5)]
        x, y = 1, 0
        for t in range(24):
            offsets[x][y] = (t + 1) * (t + 2) // 2
            x, y = y, (2 * x + 3 * y) % 5
        a = [[rot(a[x][y], offsets[x][y]) for y in range(5)] for x in range(5)]
        a = [[a[(x + 3 * y) % 5][x] for y in range(5)] for x in range(5)]
        a = [[a[x][y] ^ ((a[(x + 1) % 5][y] ^ 0xFFFFFFFFFFFFFFFF) & a[(x + 2) % 5][y])
              for y in range(5)] for x in range(5)]
        rcw = 0
        for j in range(7):
            rcw |= rc(j + 7 * ir) << ((1 << j) - 1)
        a[0][0] ^= rcw
    return a


def state_to_lanes(state):
    return [[int.from_bytes(state[8 * (x + 5 * y):8 * (x + 5 * y) + 8], 'little')
             for y in range(5)] for x in range(5)]


def lanes_to_state(lanes):
    out = bytearray(200)
    for x in range(5):
        for y in range(5):
            out[8 * (x + 5 * y):8 * (x + 5 * y) + 8] = lanes[x][y].to_bytes(8, 'little')
    return bytes(out)


def keccak_sponge(rate_bits, message, suffix, out_len):
    """FIPS 202 4 and 5.1 on bit strings: M || domain bits || pad10*1. The suffix byte
    holds the domain bits below its highest set bit, which is the first bit of the pad."""
    bits = []
    for byte in message:
        bits += [(byte >> i) & 1 for i in range(8)]
    top = suffix.bit_length() - 1
    bits += [(suffix >> i) & 1 for i in range(top)]
    j = (-len(bits) - 2) % rate_bits
    bits += [1] + [0] * j + [1]
    state = bytes(200)
    for start in range(0, len(bits), rate_bits):
        block = bytearray(200)
        for i, bit in enumerate(bits[start:start + rate_bits]):
            block[i // 8] |= bit << (i % 8)
        state = bytes(s ^ b for s, b in zip(state, block))
        state = lanes_to_state(keccak_f1600(state_to_lanes(state)))
    out = b''
    while True:
        out += state[:rate_bits // 8]
        if len(out) >= out_len:
            return out[:out_len]
        state = lanes_to_state(keccak_f1600(state_to_lanes(state)))


# --- The keyed constructions as the vault defines them ------------------------------

def aes_block(key, block):
    encryptor = Cipher(algorithms.AES(key), modes.ECB()).encryptor()
    return encryptor.update(block) + encryptor.finalize()


def ctr_crypt(data, key, nonce):
    """The counter field stays 0: every 16 bytes meet AES(key, 00 00 00 00 || nonce)."""
    keystream = aes_block(key, bytes(4) + nonce)
    return bytes(b ^ keystream[i % 16] for i, b in enumerate(data))


def hmac_sha3_256(message, key):
    """RFC 2104 with SHA3-256 and a 32-byte block: key hashed or zero-padded to 32."""
    block = sha3_256(key) if len(key) > 32 else key + bytes(32 - len(key))
    inner = sha3_256(bytes(b ^ 0x36 for b in block) + message)
    return sha3_256(bytes(b ^ 0x5C for b in block) + inner)


def truncated_prf(length):
    return lambda message, key: hmac_sha3_256(message, key)[:length]


def pbkdf2(prf, password, salt, iterations, out_len):
    """RFC 8018 5.2."""
    out = b''
    index = 1
    while len(out) < out_len:
        u = prf(salt + index.to_bytes(4, 'big'), password)
        t = bytearray(u)
        for _ in range(iterations - 1):
            u = prf(u, password)
            t = bytearray(a ^ b for a, b in zip(t, u))
        out += bytes(t)
        index += 1
    return out[:out_len]


# --- Self-checks of the reference code against hashlib ------------------------------

for size in (0, 1, 135, 136, 137, 300):
    m = pattern(size, 7)
    assert keccak_sponge(1088, m, 0x06, 32) == hashlib.sha3_256(m).digest()
    assert keccak_sponge(1344, m, 0x1F, 400) == hashlib.shake_128(m).digest(400)
    assert keccak_sponge(576, m, 0x06, 64) == hashlib.sha3_512(m).digest()


# --- Output -------------------------------------------------------------------------

def c_string(data):
    return '"' + data.hex() + '"'


def main():
    rng = random.Random(20261208)
    lines = ['// Generated by tests/crypto/make_vectors.py; do not edit.',
             '// Independent results: hashlib (SHA3, SHAKE), cryptography (AES) and the',
             '// reference code in the script. Messages come from pattern(size, seed).',
             '#pragma once', '', '#include <cstdint>', '']

    # SHA3-256 of every length from 0 to three rates, plus longer random lengths.
    sizes = list(range(0, 3 * 136 + 2)) + sorted(rng.sample(range(410, 5000), 24))
    lines.append('struct Sha3Vector { std::uint32_t size; const char* digest; };')
    lines.append('// sha3_256(pattern(size, size))')
    lines.append('inline constexpr Sha3Vector kSha3Vectors[] = {')
    checksum = hashlib.sha3_256()
    for size in sizes:
        digest = sha3_256(pattern(size, size))
        checksum.update(digest)
        lines.append(f'    {{{size}, {c_string(digest)}}},')
    lines.append('};')
    lines.append('// sha3_256 over the digests above, joined in order.')
    lines.append(f'inline constexpr char kSha3Checksum[] = {c_string(checksum.digest())};')
    lines.append('')

    # The general sponge: other rates, suffixes and output lengths.
    lines.append('struct SpongeVector {')
    lines.append('    std::uint32_t rate, capacity; std::uint8_t suffix;')
    lines.append('    std::uint32_t size, out_size; const char* out;')
    lines.append('};')
    lines.append('// keccak_sponge(rate, capacity, pattern(size, 100 + size), size, suffix, out, out_size)')
    lines.append('inline constexpr SpongeVector kSpongeVectors[] = {')
    sponge_cases = []
    for size in (0, 71, 72, 73, 200):
        sponge_cases.append((576, 0x06, size, 64, hashlib.sha3_512))        # SHA3-512
    for size in (0, 103, 104, 105):
        sponge_cases.append((832, 0x06, size, 48, hashlib.sha3_384))        # SHA3-384
    for size in (0, 143, 144, 145):
        sponge_cases.append((1152, 0x06, size, 28, hashlib.sha3_224))       # SHA3-224
    for size, out_size in ((0, 0), (0, 1), (5, 167), (167, 168), (168, 169), (300, 500)):
        sponge_cases.append((1344, 0x1F, size, out_size, hashlib.shake_128))
    for size, out_size in ((0, 136), (136, 137), (137, 300), (1000, 1000)):
        sponge_cases.append((1088, 0x1F, size, out_size, hashlib.shake_256))
    for rate, suffix, size, out_size, fn in sponge_cases:
        m = pattern(size, 100 + size)
        out = fn(m).digest(out_size) if fn().digest_size == 0 else fn(m).digest()
        assert out == keccak_sponge(rate, m, suffix, out_size)
        lines.append(f'    {{{rate}, {1600 - rate}, 0x{suffix:02x}, {size}, {out_size}, {c_string(out)}}},')
    # Suffixes whose first pad bit is the top bit of a byte, rates that are not whole
    # lanes, and the widest rate: from the reference code alone.
    for rate, suffix, size, out_size in ((1088, 0x81, 135, 32), (1088, 0x81, 134, 32),
                                         (1088, 0x80, 135, 40), (1088, 0x01, 135, 32),
                                         (1088, 0x83, 271, 32), (8, 0x06, 5, 3),
                                         (1000, 0x06, 124, 130), (1000, 0x06, 125, 260),
                                         (1592, 0x1F, 199, 250), (1600, 0x06, 199, 201),
                                         (1600, 0x06, 200, 16)):
        out = keccak_sponge(rate, pattern(size, 100 + size), suffix, out_size)
        lines.append(f'    {{{rate}, {1600 - rate}, 0x{suffix:02x}, {size}, {out_size}, {c_string(out)}}},')
    lines.append('};')
    lines.append('')

    # Keccak-f[1600] applied once and twice to the zero state.
    once = lanes_to_state(keccak_f1600(state_to_lanes(bytes(200))))
    twice = lanes_to_state(keccak_f1600(state_to_lanes(once)))
    lines.append(f'inline constexpr char kKeccakZeroOnce[] = {c_string(once)};')
    lines.append(f'inline constexpr char kKeccakZeroTwice[] = {c_string(twice)};')
    lines.append('')

    # AES with random keys and blocks for all three key sizes.
    lines.append('struct AesVector { std::uint32_t key_bits; const char* key; const char* plain; const char* cipher; };')
    lines.append('inline constexpr AesVector kAesVectors[] = {')
    for key_bits in (128, 192, 256):
        for _ in range(40):
            key = rng.randbytes(key_bits // 8)
            plain = rng.randbytes(16)
            lines.append(f'    {{{key_bits}, {c_string(key)}, {c_string(plain)}, '
                         f'{c_string(aes_block(key, plain))}}},')
    lines.append('};')
    lines.append('')

    # ctr_crypt over every length up to three blocks past two rates, and longer ones.
    lines.append('struct CtrVector { std::uint32_t size; const char* digest; };')
    lines.append('// sha3_256(ctr_crypt(pattern(size, 3000 + size), size,')
    lines.append('//                    pattern(32, 1000 + size), pattern(12, 2000 + size)))')
    lines.append('inline constexpr CtrVector kCtrVectors[] = {')
    for size in list(range(0, 3 * 136 + 2)) + sorted(rng.sample(range(410, 70000), 12)):
        out = ctr_crypt(pattern(size, 3000 + size), pattern(32, 1000 + size), pattern(12, 2000 + size))
        lines.append(f'    {{{size}, {c_string(sha3_256(out))}}},')
    lines.append('};')
    lines.append('')

    # hmac_sha3_256 over key lengths and message lengths.
    lines.append('struct HmacVector { std::uint32_t key_size, size; const char* mac; };')
    lines.append('// hmac_sha3_256(pattern(size, 4000 + size), size, pattern(key_size, 5000 + key_size), key_size)')
    lines.append('inline constexpr HmacVector kHmacVectors[] = {')
    hmac_cases = [(key_size, 50) for key_size in range(0, 300)]
    hmac_cases += [(32, size) for size in range(0, 3 * 136 + 2)]
    hmac_cases += [(key_size, size) for key_size in (33, 137) for size in (0, 103, 104, 105, 1000)]
    for key_size, size in hmac_cases:
        mac = hmac_sha3_256(pattern(size, 4000 + size), pattern(key_size, 5000 + key_size))
        lines.append(f'    {{{key_size}, {size}, {c_string(mac)}}},')
    lines.append('};')
    lines.append('')

    # pbkdf2 with the vault's arguments and with others that exercise its structure.
    lines.append('struct Pbkdf2Vector {')
    lines.append('    std::uint32_t password_size, salt_size, iterations, out_size, prf_size; const char* out;')
    lines.append('};')
    lines.append('// pbkdf2(pattern(password_size, 6000 + password_size), password_size,')
    lines.append('//        pattern(salt_size, 7000 + salt_size), salt_size, out, out_size,')
    lines.append('//        iterations, prf, prf_size) with prf the first prf_size bytes of hmac_sha3_256')
    lines.append('inline constexpr Pbkdf2Vector kPbkdf2Vectors[] = {')
    for password_size, salt_size, iterations, out_size, prf_size in (
            (13, 32, 500, 32, 32), (0, 32, 500, 32, 32), (32, 32, 500, 32, 32),
            (33, 32, 500, 32, 32), (100, 32, 500, 32, 32), (8, 1, 1, 1, 32),
            (8, 16, 2, 64, 32), (8, 32, 3, 100, 32), (100, 64, 10, 33, 32),
            (10, 20, 4, 30, 7), (10, 200, 7, 5, 1)):
        out = pbkdf2(truncated_prf(prf_size), pattern(password_size, 6000 + password_size),
                     pattern(salt_size, 7000 + salt_size), iterations, out_size)
        lines.append(f'    {{{password_size}, {salt_size}, {iterations}, {out_size}, {prf_size}, '
                     f'{c_string(out)}}},')
    lines.append('};')

    # The standard constructions of vault format 2.0, from hashlib, hmac and cryptography.
    lines.append('')
    lines.append('// AES-256-CTR of SP 800-38A (cryptography: modes.CTR with nonce || 00000000):')
    lines.append('// sha3_256(ctr_crypt_sp800(pattern(size, 8000 + size), size,')
    lines.append('//                          pattern(32, 1000 + size), pattern(12, 2000 + size)))')
    lines.append('inline constexpr CtrVector kCtrSp800Vectors[] = {')
    for size in (0, 1, 15, 16, 17, 31, 32, 33, 255, 256, 257, 1000, 4111):
        key, nonce = pattern(32, 1000 + size), pattern(12, 2000 + size)
        encryptor = Cipher(algorithms.AES(key), modes.CTR(nonce + bytes(4))).encryptor()
        out = encryptor.update(pattern(size, 8000 + size)) + encryptor.finalize()
        lines.append(f'    {{{size}, {c_string(sha3_256(out))}}},')
    lines.append('};')
    lines.append('')
    lines.append('// Python: hmac.new(pattern(key_size, 5000 + key_size),')
    lines.append('//                  pattern(size, 4000 + size), hashlib.sha3_256)')
    lines.append('inline constexpr HmacVector kHmacFipsVectors[] = {')
    fips_cases = [(key_size, 50) for key_size in (0, 1, 32, 33, 135, 136, 137, 200, 300)]
    fips_cases += [(32, size) for size in (0, 1, 103, 104, 135, 136, 137, 300)]
    for key_size, size in fips_cases:
        mac = hmac.new(pattern(key_size, 5000 + key_size), pattern(size, 4000 + size),
                       hashlib.sha3_256).digest()
        lines.append(f'    {{{key_size}, {size}, {c_string(mac)}}},')
    lines.append('};')
    lines.append('')
    lines.append('// Python: hashlib.pbkdf2_hmac("sha3_256", pattern(password_size, 6000 + password_size),')
    lines.append('//     pattern(salt_size, 7000 + salt_size), iterations, out_size); prf_size is 32')
    lines.append('inline constexpr Pbkdf2Vector kPbkdf2FipsVectors[] = {')
    for password_size, salt_size, iterations, out_size in (
            (13, 32, 1, 64), (13, 32, 2, 64), (0, 32, 1000, 64), (136, 32, 10, 64),
            (137, 32, 10, 64), (300, 1, 3, 1), (8, 200, 5, 100), (20, 32, 20000, 64)):
        out = hashlib.pbkdf2_hmac('sha3_256', pattern(password_size, 6000 + password_size),
                                  pattern(salt_size, 7000 + salt_size), iterations, out_size)
        lines.append(f'    {{{password_size}, {salt_size}, {iterations}, {out_size}, 32, '
                     f'{c_string(out)}}},')
    lines.append('};')
    print('\n'.join(lines))


if __name__ == '__main__':
    main()

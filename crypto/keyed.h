#pragma once
// Keyed constructions on AES-256 and SHA3-256: the counter-mode stream, the HMAC,
// PBKDF2 and the random source. The vault file format depends on the exact output
// of every function here.

#include <cstdint>

// A pseudo-random function for pbkdf2: writes its fixed output length to `out`.
using prf_fn = void (*)(const std::uint8_t* msg, std::uint32_t msg_len, const std::uint8_t* key, std::uint32_t key_len,
                        std::uint8_t* out);

// --- Format 1.0 (vault files of Glimkeep 1.0) ---------------------------------------
// These read and write the old vaults only. They are not the standard constructions
// of the same names, and they live in a namespace of their own so that no caller
// picks one by its name: the standard ones follow below.
namespace format_v1 {

// Encrypts or decrypts `len` bytes with AES-256 under `key`. The counter block is
// 00 00 00 00 followed by the 12 nonce bytes and never advances: output byte i is
// input byte i XOR byte (i mod 16) of AES-256(key, counter block). `in` and `out`
// may be the same buffer. Wipes round keys, counter and keystream before returning.
void ctr_crypt(const std::uint8_t* in, std::uint32_t len, const std::uint8_t key[32], const std::uint8_t nonce[12],
               std::uint8_t* out);

// HMAC over SHA3-256 with 32-byte pads (the digest length, not the 136-byte rate):
//   block = key.size() > 32 ? sha3_256(key) : key padded with zeros to 32 bytes
//   out   = sha3_256((block ^ 0x5c) || sha3_256((block ^ 0x36) || msg))
// Not the HMAC-SHA3-256 of FIPS 198-1. Never allocates; cannot fail. Fits prf_fn.
void hmac_sha3_256(const std::uint8_t* msg, std::uint32_t msg_len, const std::uint8_t* key, std::uint32_t key_len,
                   std::uint8_t out[32]);

// PBKDF2 (RFC 8018, 5.2) with `prf` of output length `prf_len` and the password as
// its key. `prf_len` must be what `prf` really writes. Returns 0, or -1 without
// writing `out` when iterations, out_len, salt_len or prf_len is 0, `prf` is null,
// salt_len + 4 does not fit 32 bits or the work buffer cannot be allocated. The
// password may be empty (null with length 0). Wipes its work buffer (T and U).
int pbkdf2(const std::uint8_t* password, std::uint32_t password_len, const std::uint8_t* salt, std::uint32_t salt_len,
           std::uint8_t* out, std::uint32_t out_len, std::uint32_t iterations, prf_fn prf, std::uint32_t prf_len);

}  // namespace format_v1

// --- The standard constructions (vault format 2.0) ----------------------------------

// AES-256 in the counter mode of NIST SP 800-38A: the first counter block is the 12
// nonce bytes followed by 00 00 00 00, and its last four bytes count up by one
// (big-endian) for every 16-byte block. `in` and `out` may be the same buffer. Wipes
// round keys, counter and keystream before returning.
void ctr_crypt_sp800(const std::uint8_t* in, std::uint32_t len, const std::uint8_t key[32],
                     const std::uint8_t nonce[12], std::uint8_t* out);

// The HMAC of FIPS 198-1 over SHA3-256, with the 136-byte block of SHA3-256:
//   block = key.size() > 136 ? sha3_256(key) : key, padded with zeros to 136 bytes
//   out   = sha3_256((block ^ 0x5c) || sha3_256((block ^ 0x36) || msg))
// Never allocates; cannot fail. Fits prf_fn.
void hmac_sha3_256_fips(const std::uint8_t* msg, std::uint32_t msg_len, const std::uint8_t* key, std::uint32_t key_len,
                        std::uint8_t out[32]);

// hmac_sha3_256_fips over the message `first` || `second` (either may be empty).
void hmac_sha3_256_fips_joined(const std::uint8_t* first, std::uint32_t first_len, const std::uint8_t* second,
                               std::uint32_t second_len, const std::uint8_t* key, std::uint32_t key_len,
                               std::uint8_t out[32]);

// PBKDF2 (RFC 8018) with hmac_sha3_256_fips as its PRF: the same result as
// pbkdf2(..., hmac_sha3_256_fips, 32), computed from the Keccak states after the
// inner and outer pad, so that each iteration costs two permutations. Returns 0, or
// -1 without writing `out` when iterations, out_len or salt_len is 0. The password
// may be empty (null with length 0). Never allocates; wipes every
// intermediate value.
int pbkdf2_hmac_sha3_256(const std::uint8_t* password, std::uint32_t password_len, const std::uint8_t* salt,
                         std::uint32_t salt_len, std::uint8_t* out, std::uint32_t out_len, std::uint32_t iterations);

// Fills `out` with `count` bytes from the operating system's random generator
// (random_posix.cpp: getrandom(2); random_win.cpp: rand_s, the system's RtlGenRandom).
// A failing generator throws (std::exception); callers that must not fail catch it.
void random_bytes(std::uint8_t* out, std::uint32_t count);

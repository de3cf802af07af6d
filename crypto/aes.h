#pragma once
// AES block cipher (FIPS 197), table-driven 32-bit form, forward direction only.

#include <cstdint>

// Round keys: room for the 4 * (14 + 1) words of AES-256. Each word holds four
// bytes of the FIPS 197 key schedule packed big-endian (first byte in bits 31..24).
// The caller owns it and wipes all 240 bytes when done.
using AesRoundKeys = std::uint32_t[60];

// Expands `key` (key_bits = 128, 192 or 256) into `keys`. Returns the number of
// rounds (10, 12 or 14), or 0 for any other key length (the keys are then unusable).
// Fills 44, 52 or 60 words; the rest of the array is left as it was.
int aes_expand_key(AesRoundKeys& keys, const std::uint8_t* key, std::uint32_t key_bits);

// Encrypts one 16-byte block with `rounds` = 10, 12 or 14 as returned by aes_expand_key
// (any other count never reads outside `keys`: above 12 runs 14 rounds, 11 or 12 runs
// 12, anything else 10).
// Table-driven: the memory accesses depend on key and data (not constant time).
// Reads all of `in` before writing `out`, so both may be the same buffer.
void aes_encrypt_block(const AesRoundKeys& keys, int rounds, const std::uint8_t in[16], std::uint8_t out[16]);

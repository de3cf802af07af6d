#pragma once
// Keccak sponge and SHA3-256 (FIPS 202).

#include <cstdint>

// Keccak-p[1600, 24] on the 200-byte state (lane (x, y) at bytes 8*(x + 5*y),
// least significant byte first), permuted in place.
void keccak_f1600(std::uint8_t state[200]);

// The sponge of FIPS 202 with pad10*1 after the `suffix` bits (0x06 for SHA3).
// rate + capacity must be 1600 and the rate a multiple of 8 (both in bits);
// otherwise returns at once without writing `out`. Writes exactly out_len bytes.
void keccak_sponge(std::uint32_t rate, std::uint32_t capacity,
                   const std::uint8_t* in, std::uint64_t in_len, std::uint8_t suffix,
                   std::uint8_t* out, std::uint64_t out_len);

// SHA3-256 digest of `in`: keccak_sponge(1088, 512, in, in_len, 0x06, out, 32).
void sha3_256(const std::uint8_t* in, std::uint32_t in_len, std::uint8_t out[32]);

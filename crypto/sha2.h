#pragma once
// SHA-256 and SHA-512 (FIPS 180-4).

#include <cstddef>
#include <cstdint>

#include "crypto/merkle_damgard.h"

inline constexpr std::size_t kSha256DigestSize = 32;
inline constexpr std::size_t kSha256BlockSize = 64;
inline constexpr std::size_t kSha512DigestSize = 64;
inline constexpr std::size_t kSha512BlockSize = 128;

struct Sha256Traits : Fips180Sizes<std::uint32_t, 8, kSha256DigestSize, kSha256BlockSize> {
    static const Word kInitial[kStateWords];
    // FIPS 180-4 6.2.2: one 512-bit block into the hash value H.
    static void compress(Word h[kStateWords], const std::uint8_t block[kBlockSize]) noexcept;
};

// Messages are limited to 2^64 - 1 bytes (the 128-bit length field's high half is
// always zero).
struct Sha512Traits : Fips180Sizes<std::uint64_t, 8, kSha512DigestSize, kSha512BlockSize> {
    static const Word kInitial[kStateWords];
    // FIPS 180-4 6.4.2: one 1024-bit block into the hash value H.
    static void compress(Word h[kStateWords], const std::uint8_t block[kBlockSize]) noexcept;
};

// SHA-256 and SHA-512 of a message that arrives in pieces (see MerkleDamgardHash).
using Sha256 = MerkleDamgardHash<Sha256Traits>;
using Sha512 = MerkleDamgardHash<Sha512Traits>;

// One-call digests.
void sha256(const std::uint8_t* in, std::size_t in_len, std::uint8_t out[kSha256DigestSize]) noexcept;
void sha512(const std::uint8_t* in, std::size_t in_len, std::uint8_t out[kSha512DigestSize]) noexcept;

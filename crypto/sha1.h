#pragma once
// SHA-1 (FIPS 180-4). Kept for the one-time codes (RFC 4226/6238 default to
// HMAC-SHA-1), where its collision weakness does not matter; nothing else uses it.

#include <cstddef>
#include <cstdint>

#include "crypto/merkle_damgard.h"

inline constexpr std::size_t kSha1DigestSize = 20;
inline constexpr std::size_t kSha1BlockSize = 64;

struct Sha1Traits : Fips180Sizes<std::uint32_t, 5, kSha1DigestSize, kSha1BlockSize> {
    static const Word kInitial[kStateWords];
    // FIPS 180-4 6.1.2: one 512-bit block into the hash value H.
    static void compress(Word h[kStateWords], const std::uint8_t block[kBlockSize]) noexcept;
};

// SHA-1 of a message that arrives in pieces (see MerkleDamgardHash).
using Sha1 = MerkleDamgardHash<Sha1Traits>;

// SHA-1 digest of `in` in one call.
void sha1(const std::uint8_t* in, std::size_t in_len, std::uint8_t out[kSha1DigestSize]) noexcept;

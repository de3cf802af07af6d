#include "crypto/sha1.h"

#include "crypto/bytes.h"
#include "crypto/merkle_damgard.h"
#include "crypto/wipe.h"

namespace {

std::uint32_t rotl(std::uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

}  // namespace

// FIPS 180-4 5.3.1: the initial hash value.
const std::uint32_t Sha1Traits::kInitial[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};

void Sha1Traits::compress(std::uint32_t h[5], const std::uint8_t block[64]) noexcept
{
    std::uint32_t w[80];
    // Step 1: the message schedule.
    for (int t = 0; t < 16; ++t) w[t] = load32_be(block + 4 * t);
    for (int t = 16; t < 80; ++t) w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    // Step 2: the working variables.
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    // Step 3, with 4.1.1 f_t and 4.2.1 K_t, which change every 20 steps.
    const auto step = [&](int t, std::uint32_t f, std::uint32_t k) {
        const std::uint32_t temp = rotl(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = rotl(b, 30);
        b = a;
        a = temp;
    };
    for (int t = 0; t < 20; ++t) step(t, (b & c) ^ (~b & d), 0x5a827999);  // Ch
    for (int t = 20; t < 40; ++t) step(t, b ^ c ^ d, 0x6ed9eba1);  // Parity
    for (int t = 40; t < 60; ++t) step(t, (b & c) ^ (b & d) ^ (c & d), 0x8f1bbcdc);  // Maj
    for (int t = 60; t < 80; ++t) step(t, b ^ c ^ d, 0xca62c1d6);  // Parity
    // Step 4: the intermediate hash value.
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    secure_wipe(w, sizeof w);
}

void sha1(const std::uint8_t* in, std::size_t in_len, std::uint8_t out[kSha1DigestSize]) noexcept
{
    Sha1 hash;
    hash.update(in, in_len);
    hash.finish(out);
}

// The program's primitives against results of independent implementations, over every
// length up to three SHA3 blocks and beyond (vectors.h, written by make_vectors.py).

#include "crypto/aes.h"
#include "crypto/keyed.h"
#include "crypto/sha3.h"
#include "tests/support/hex.h"
#include "vectors.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// The generator of make_vectors.py: xorshift32 from a seed-derived start.
std::vector<std::uint8_t> pattern(std::size_t size, std::uint32_t seed)
{
    std::uint32_t x = seed * 2654435761u + 0x9e3779b9u;
    if (x == 0) x = 1;
    std::vector<std::uint8_t> out(size);
    for (std::uint8_t& byte : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<std::uint8_t>(x);
    }
    return out;
}

std::string sha3_hex(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t digest[32];
    sha3_256(data, static_cast<std::uint32_t>(size), digest);
    return to_hex(digest, sizeof digest);
}

// Each vector's data (the pattern make_vectors.py seeds with `data_seed` + its size)
// through `crypt` in place: the SHA3-256 of the result, and a guard byte past the end
// that stays.
template <std::size_t N>
void check_ctr_vectors(const CtrVector (&vectors)[N], std::uint32_t data_seed,
                       void (*crypt)(const std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*,
                                     std::uint8_t*))
{
    for (const CtrVector& v : vectors) {
        const auto key = pattern(32, 1000 + v.size);
        const auto nonce = pattern(12, 2000 + v.size);
        auto data = pattern(v.size, data_seed + v.size);
        data.push_back(0xee);
        crypt(data.data(), v.size, key.data(), nonce.data(), data.data());
        EXPECT_EQ(sha3_hex(data.data(), v.size), v.digest) << v.size << " bytes";
        EXPECT_EQ(data[v.size], 0xee) << "wrote past " << v.size << " bytes";
    }
}

// Each vector's MAC by `mac` of its message under its key.
template <std::size_t N>
void check_hmac_vectors(const HmacVector (&vectors)[N], prf_fn mac_of)
{
    for (const HmacVector& v : vectors) {
        const auto message = pattern(v.size, 4000 + v.size);
        const auto key = pattern(v.key_size, 5000 + v.key_size);
        std::uint8_t mac[32];
        mac_of(message.data(), v.size, key.data(), v.key_size, mac);
        EXPECT_EQ(to_hex(mac, sizeof mac), v.mac) << v.key_size << "-byte key, " << v.size << " bytes";
    }
}

}  // namespace

TEST(CrossCheck, Sha3_256OverEveryLength)
{
    Sha3_256 checksum;
    for (const Sha3Vector& v : kSha3Vectors) {
        const auto message = pattern(v.size, v.size);
        std::uint8_t digest[32];
        sha3_256(message.data(), v.size, digest);
        EXPECT_EQ(to_hex(digest, sizeof digest), v.digest) << v.size << " bytes";
        checksum.update(digest, sizeof digest);
    }
    std::uint8_t total[32];
    checksum.finish(total);
    EXPECT_EQ(to_hex(total, sizeof total), kSha3Checksum);
}

TEST(CrossCheck, KeccakSpongeWithOtherParameters)
{
    for (const SpongeVector& v : kSpongeVectors) {
        const auto message = pattern(v.size, 100 + v.size);
        std::vector<std::uint8_t> out(v.out_size + 1, 0xee);
        keccak_sponge(v.rate, v.capacity, message.data(), v.size, v.suffix, out.data(), v.out_size);
        EXPECT_EQ(to_hex(out.data(), v.out_size), v.out)
            << "rate " << v.rate << ", suffix " << int{v.suffix} << ", " << v.size << " bytes in";
        EXPECT_EQ(out[v.out_size], 0xee) << "wrote past " << v.out_size << " bytes";
    }
}

TEST(CrossCheck, KeccakF1600OfTheZeroState)
{
    std::uint8_t state[200] = {};
    keccak_f1600(state);
    EXPECT_EQ(to_hex(state, sizeof state), kKeccakZeroOnce);
    keccak_f1600(state);
    EXPECT_EQ(to_hex(state, sizeof state), kKeccakZeroTwice);
}

TEST(CrossCheck, AesWithRandomKeysAndBlocks)
{
    for (const AesVector& v : kAesVectors) {
        const auto key = from_hex(v.key);
        const auto plain = from_hex(v.plain);
        AesRoundKeys keys;
        const int rounds = aes_expand_key(keys, key.data(), v.key_bits);
        ASSERT_EQ(rounds, static_cast<int>(v.key_bits / 32 + 6));
        std::uint8_t cipher[16];
        aes_encrypt_block(keys, rounds, plain.data(), cipher);
        EXPECT_EQ(to_hex(cipher, sizeof cipher), v.cipher) << "key " << v.key << ", block " << v.plain;
    }
}

TEST(CrossCheck, CtrCryptOverEveryLength)
{
    check_ctr_vectors(kCtrVectors, 3000, format_v1::ctr_crypt);
}

TEST(CrossCheck, HmacSha3_256OverKeyAndMessageLengths)
{
    check_hmac_vectors(kHmacVectors, format_v1::hmac_sha3_256);
}

namespace {

// hmac_sha3_256 cut to its first N bytes: a prf with another output length.
template <std::size_t N>
void truncated_hmac(const std::uint8_t* msg, std::uint32_t msg_len, const std::uint8_t* key, std::uint32_t key_len,
                    std::uint8_t* out)
{
    std::uint8_t full[32];
    format_v1::hmac_sha3_256(msg, msg_len, key, key_len, full);
    std::memcpy(out, full, N);
}

prf_fn prf_of_size(std::uint32_t size)
{
    switch (size) {
    case 32: return format_v1::hmac_sha3_256;
    case 7: return truncated_hmac<7>;
    case 1: return truncated_hmac<1>;
    default: return nullptr;
    }
}

}  // namespace

TEST(CrossCheck, Pbkdf2)
{
    for (const Pbkdf2Vector& v : kPbkdf2Vectors) {
        const auto password = pattern(v.password_size, 6000 + v.password_size);
        const auto salt = pattern(v.salt_size, 7000 + v.salt_size);
        const prf_fn prf = prf_of_size(v.prf_size);
        ASSERT_NE(prf, nullptr) << "no prf of " << v.prf_size << " bytes";
        std::vector<std::uint8_t> out(v.out_size + 1, 0xee);
        ASSERT_EQ(format_v1::pbkdf2(password.data(), v.password_size, salt.data(), v.salt_size, out.data(), v.out_size,
                                    v.iterations, prf, v.prf_size),
                  0);
        EXPECT_EQ(to_hex(out.data(), v.out_size), v.out)
            << v.password_size << "-byte password, " << v.iterations << " iterations";
        EXPECT_EQ(out[v.out_size], 0xee) << "wrote past " << v.out_size << " bytes";
    }
}

// --- The standard constructions of vault format 2.0 ---------------------------------

TEST(CrossCheck, CtrSp800AgainstTheCryptographyPackage)
{
    check_ctr_vectors(kCtrSp800Vectors, 8000, ctr_crypt_sp800);
}

TEST(CrossCheck, HmacSha3_256FipsAgainstPythonHmac)
{
    check_hmac_vectors(kHmacFipsVectors, hmac_sha3_256_fips);
}

// The fast path and the general pbkdf2 over hmac_sha3_256_fips, both against hashlib.
TEST(CrossCheck, Pbkdf2HmacSha3_256AgainstHashlib)
{
    for (const Pbkdf2Vector& v : kPbkdf2FipsVectors) {
        const auto password = pattern(v.password_size, 6000 + v.password_size);
        const auto salt = pattern(v.salt_size, 7000 + v.salt_size);
        std::vector<std::uint8_t> out(v.out_size + 1, 0xee);
        ASSERT_EQ(pbkdf2_hmac_sha3_256(password.data(), v.password_size, salt.data(), v.salt_size, out.data(),
                                       v.out_size, v.iterations),
                  0);
        EXPECT_EQ(to_hex(out.data(), v.out_size), v.out)
            << v.password_size << "-byte password, " << v.iterations << " iterations";
        EXPECT_EQ(out[v.out_size], 0xee) << "wrote past " << v.out_size << " bytes";
        if (v.iterations > 1000) continue;  // the general loop is slow under the sanitizers
        std::vector<std::uint8_t> general(v.out_size);
        ASSERT_EQ(format_v1::pbkdf2(password.data(), v.password_size, salt.data(), v.salt_size, general.data(),
                                    v.out_size, v.iterations, hmac_sha3_256_fips, 32),
                  0);
        EXPECT_EQ(to_hex(general.data(), v.out_size), v.out);
    }
}

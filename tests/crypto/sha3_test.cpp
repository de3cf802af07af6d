#include "crypto/sha3.h"

#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string sha3_hex(const std::vector<std::uint8_t>& message)
{
    std::uint8_t digest[32];
    sha3_256(message.data(), static_cast<std::uint32_t>(message.size()), digest);
    return to_hex(digest, sizeof digest);
}

std::vector<std::uint8_t> ascii(const char* text)
{
    return std::vector<std::uint8_t>(text, text + std::strlen(text));
}

}  // namespace

// FIPS 202 / NIST example values for SHA3-256.
TEST(Sha3_256, HashesTheShortExampleMessages)
{
    EXPECT_EQ(sha3_hex({}), "a7ffc6f8bf1ed76651c14756a061d662f580ff4de43b49fa82d80a4b80f8434a");
    EXPECT_EQ(sha3_hex(ascii("abc")), "3a985da74fe225b2045c172d6bd390bd855f086e3e9d525b46bfe24511431532");
}

// Around the 136-byte rate: one byte short of a block, exactly one block (a permutation
// while absorbing and one after padding), one byte into the second block, and the
// 1600-bit example message of NIST (200 bytes of 0xa3). The 135, 136 and 137-byte
// values were computed with Python's hashlib.
TEST(Sha3_256, HashesMessagesAroundTheRate)
{
    struct Case {
        std::size_t size;
        const char* digest;
    };
    const Case cases[] = {
        {135, "d51927265ca4bf0cc8b4453387700918c03f8894e395ad437d4573f3be4d2c34"},
        {136, "0adf6bfb359ae40019b67d8c49c361574b70242a6b752de6f9e0d426ca177f7a"},
        {137, "e2fa06eaa22fe60106af67d5f6ea093fe58f07d2dcfb06d51057953f114849a7"},
        {200, "79f38adec5c20307a98ef76e8324afbfd46cfd81b22e3973c65fa1bd9de31787"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sha3_hex(std::vector<std::uint8_t>(c.size, 0xa3)), c.digest) << c.size << " bytes";
}

// NIST example: one million repetitions of "a", hashed in one call and in pieces.
TEST(Sha3_256, HashesOneMillionLetters)
{
    const char* expected = "5c8875ae474a3634ba4fd55ec85bffd661f32aca75c6d699d0cdcb6c115891c1";
    const std::vector<std::uint8_t> message(1000000, 'a');
    EXPECT_EQ(sha3_hex(message), expected);

    Sha3_256 hash;
    std::size_t done = 0;
    for (std::size_t piece = 1; done < message.size(); piece = piece * 3 % 1000 + 1) {
        const std::size_t size = std::min(piece, message.size() - done);
        hash.update(message.data() + done, size);
        done += size;
    }
    std::uint8_t digest[32];
    hash.finish(digest);
    EXPECT_EQ(to_hex(digest, sizeof digest), expected);
}

TEST(Sha3_256, IncrementalHashEqualsOneCallForEverySplit)
{
    std::vector<std::uint8_t> message(300);
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i * 7 + 1);
    for (std::size_t size : {0u, 1u, 135u, 136u, 137u, 271u, 272u, 273u, 300u}) {
        const std::vector<std::uint8_t> prefix(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(size));
        const std::string expected = sha3_hex(prefix);
        for (std::size_t split = 0; split <= size; ++split) {
            Sha3_256 hash;
            hash.update(message.data(), split);
            hash.update(nullptr, 0);
            hash.update(message.data() + split, size - split);
            std::uint8_t digest[32];
            hash.finish(digest);
            ASSERT_EQ(to_hex(digest, sizeof digest), expected) << size << " bytes split at " << split;
        }
    }
}

TEST(KeccakSponge, WithSha3ParametersEqualsSha3_256)
{
    const auto message = counting_bytes(150);
    std::uint8_t digest[32];
    keccak_sponge(1088, 512, message.data(), message.size(), 0x06, digest, sizeof digest);
    EXPECT_EQ(to_hex(digest, sizeof digest), sha3_hex(message));
}

TEST(KeccakSponge, InvalidRateAndCapacityLeaveTheOutputUntouched)
{
    struct Case {
        std::uint32_t rate;
        std::uint32_t capacity;
    };
    const Case cases[] = {
        {1088, 256},  // does not add up to 1600
        {1084, 516},  // rate not a whole number of bytes
        {0, 1600},  // no room to absorb anything
        {1600, 1600}, {0xffffff00u, 1856},  // adds up to 1600 only modulo 2^32
    };
    const auto message = counting_bytes(40);
    for (const Case& c : cases) {
        std::uint8_t out[300];
        std::memset(out, 0xee, sizeof out);
        keccak_sponge(c.rate, c.capacity, message.data(), message.size(), 0x06, out, sizeof out);
        for (std::uint8_t byte : out) ASSERT_EQ(byte, 0xee) << "rate " << c.rate << ", capacity " << c.capacity;
    }
}

TEST(KeccakF1600, PermutesTheZeroStateInPlace)
{
    std::uint8_t state[200] = {};
    keccak_f1600(state);
    // Keccak-f[1600] of the all-zero state (Keccak team's intermediate values):
    // the first lane is 0xf1258f7940e1dde7.
    EXPECT_EQ(to_hex(state, 8), "e7dde140798f25f1");
}

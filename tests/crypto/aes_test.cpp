#include "crypto/aes.h"

#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

namespace {

std::string block_hex(const AesRoundKeys& keys, int rounds, const std::vector<std::uint8_t>& in)
{
    std::uint8_t out[16];
    aes_encrypt_block(keys, rounds, in.data(), out);
    return to_hex(out, sizeof out);
}

std::string word_hex(std::uint32_t word)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(word));
    return text;
}

}  // namespace

// FIPS 197, appendix C.1 to C.3: the example vectors for the three key sizes.
TEST(Aes, EncryptsTheFips197ExampleVectors)
{
    struct Case {
        std::uint32_t key_bits;
        int rounds;
        const char* ciphertext;
    };
    const Case cases[] = {
        {128, 10, "69c4e0d86a7b0430d8cdb78070b4c55a"},  // C.1 AES-128
        {192, 12, "dda97ca4864cdfe06eaf70a0ec0d7191"},  // C.2 AES-192
        {256, 14, "8ea2b7ca516745bfeafc49904b496089"},  // C.3 AES-256
    };
    const auto plaintext = from_hex("00112233445566778899aabbccddeeff");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key_bits);
        const auto key = counting_bytes(c.key_bits / 8);  // 00 01 02 ...
        AesRoundKeys keys;
        ASSERT_EQ(aes_expand_key(keys, key.data(), c.key_bits), c.rounds);
        EXPECT_EQ(block_hex(keys, c.rounds, plaintext), c.ciphertext);
    }
}

// FIPS 197, appendix A.3: expansion of a 256-bit key, all 60 words w[0] to w[59].
TEST(Aes, ExpandsThe256BitKeyOfAppendixA3)
{
    const char* const expected[60] = {
        "603deb10", "15ca71be", "2b73aef0", "857d7781", "1f352c07", "3b6108d7", "2d9810a3", "0914dff4", "9ba35411",
        "8e6925af", "a51a8b5f", "2067fcde", "a8b09c1a", "93d194cd", "be49846e", "b75d5b9a", "d59aecb8", "5bf3c917",
        "fee94248", "de8ebe96", "b5a9328a", "2678a647", "98312229", "2f6c79b3", "812c81ad", "dadf48ba", "24360af2",
        "fab8b464", "98c5bfc9", "bebd198e", "268c3ba7", "09e04214", "68007bac", "b2df3316", "96e939e4", "6c518d80",
        "c814e204", "76a9fb8a", "5025c02d", "59c58239", "de136967", "6ccc5a71", "fa256395", "9674ee15", "5886ca5d",
        "2e2f31d7", "7e0af1fa", "27cf73c3", "749c47ab", "18501dda", "e2757e4f", "7401905a", "cafaaae3", "e4d59b34",
        "9adf6ace", "bd10190d", "fe4890d1", "e6188d0b", "046df344", "706c631e",
    };
    const auto key = from_hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    AesRoundKeys keys;
    ASSERT_EQ(aes_expand_key(keys, key.data(), 256), 14);
    for (int i = 0; i < 60; ++i) EXPECT_EQ(word_hex(keys[i]), expected[i]) << "w[" << i << "]";
}

TEST(Aes, ShorterKeysLeaveTheRestOfTheScheduleAsItWas)
{
    const auto key = counting_bytes(24);
    for (std::uint32_t key_bits : {128u, 192u}) {
        SCOPED_TRACE(key_bits);
        AesRoundKeys keys;
        for (std::uint32_t& word : keys) word = 0xa5a5a5a5;
        aes_expand_key(keys, key.data(), key_bits);
        const int used = key_bits == 128 ? 44 : 52;
        EXPECT_NE(keys[used - 1], 0xa5a5a5a5u);
        for (int i = used; i < 60; ++i) EXPECT_EQ(keys[i], 0xa5a5a5a5u) << "w[" << i << "]";
    }
}

TEST(Aes, RejectsOtherKeyLengthsWithoutTouchingTheSchedule)
{
    const auto key = counting_bytes(64);
    for (std::uint32_t key_bits : {0u, 64u, 127u, 129u, 160u, 224u, 255u, 257u, 384u, 512u, 0xffffffffu}) {
        AesRoundKeys keys;
        for (std::uint32_t& word : keys) word = 0x5a5a5a5a;
        EXPECT_EQ(aes_expand_key(keys, key.data(), key_bits), 0) << key_bits << " bits";
        for (std::uint32_t word : keys) ASSERT_EQ(word, 0x5a5a5a5au) << key_bits << " bits";
    }
}

TEST(Aes, EncryptsInPlace)
{
    const auto key = counting_bytes(32);
    AesRoundKeys keys;
    const int rounds = aes_expand_key(keys, key.data(), 256);
    auto block = from_hex("00112233445566778899aabbccddeeff");
    aes_encrypt_block(keys, rounds, block.data(), block.data());
    EXPECT_EQ(to_hex(block), "8ea2b7ca516745bfeafc49904b496089");  // FIPS 197, appendix C.3
}

TEST(Aes, ARoundCountOutsideTheScheduleStaysInsideTheRoundKeys)
{
    // Runs under AddressSanitizer: a round count beyond 14 must not read past w[59].
    const auto key = counting_bytes(32);
    AesRoundKeys keys;
    ASSERT_EQ(aes_expand_key(keys, key.data(), 256), 14);
    const auto plaintext = from_hex("00112233445566778899aabbccddeeff");
    EXPECT_EQ(block_hex(keys, 1000, plaintext), "8ea2b7ca516745bfeafc49904b496089");
}

#include "crypto/keyed.h"

#include "crypto/aes.h"
#include "crypto/sha3.h"
#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

const std::vector<std::uint8_t> kKey = counting_bytes(32, 0x40);
const std::vector<std::uint8_t> kNonce = counting_bytes(12, 0xb0);

std::vector<std::uint8_t> ctr(const std::vector<std::uint8_t>& in)
{
    std::vector<std::uint8_t> out(in.size());
    format_v1::ctr_crypt(in.data(), static_cast<std::uint32_t>(in.size()), kKey.data(), kNonce.data(), out.data());
    return out;
}

std::string hmac_hex(const std::vector<std::uint8_t>& msg, const std::vector<std::uint8_t>& key)
{
    std::uint8_t mac[32];
    format_v1::hmac_sha3_256(msg.data(), static_cast<std::uint32_t>(msg.size()), key.data(),
                             static_cast<std::uint32_t>(key.size()), mac);
    return to_hex(mac, sizeof mac);
}

std::vector<std::uint8_t> sha3(const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> digest(32);
    sha3_256(data.data(), static_cast<std::uint32_t>(data.size()), digest.data());
    return digest;
}

std::vector<std::uint8_t> concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

// --- ctr_crypt ---------------------------------------------------------------------

TEST(CtrCrypt, TheKeystreamIsAes256OfTheCounterBlockWithCounterZero)
{
    AesRoundKeys keys;
    ASSERT_EQ(aes_expand_key(keys, kKey.data(), 256), 14);
    const auto counter_block = concat({0, 0, 0, 0}, kNonce);
    std::uint8_t keystream[16];
    aes_encrypt_block(keys, 14, counter_block.data(), keystream);

    // Zeros encrypt to the keystream itself, and the same 16 bytes come back for every
    // block: the counter field does not advance.
    const auto stream = ctr(std::vector<std::uint8_t>(16 * 5 + 3, 0));
    for (std::size_t i = 0; i < stream.size(); ++i)
        ASSERT_EQ(stream[i], keystream[i % 16]) << "byte " << i << " of " << to_hex(stream);
}

TEST(CtrCrypt, TwiceGivesBackTheInput)
{
    for (std::size_t size : {1u, 15u, 16u, 17u, 31u, 32u, 33u, 1000u}) {
        const auto plain = counting_bytes(size, 0x11);
        const auto cipher = ctr(plain);
        EXPECT_NE(cipher, plain) << size;
        EXPECT_EQ(to_hex(ctr(cipher)), to_hex(plain)) << size;
    }
}

TEST(CtrCrypt, EqualBlocksAtDifferentPositionsEncryptEqually)
{
    std::vector<std::uint8_t> plain(64);
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i % 16 * 9);
    const auto cipher = ctr(plain);
    for (std::size_t block = 1; block < 4; ++block)
        EXPECT_EQ(to_hex(cipher.data() + 16 * block, 16), to_hex(cipher.data(), 16)) << block;
}

TEST(CtrCrypt, ATailShorterThanABlockUsesTheFirstKeystreamBytes)
{
    const auto zeros16 = ctr(std::vector<std::uint8_t>(16, 0));
    const std::vector<std::uint8_t> plain(17, 0x3c);
    const auto cipher = ctr(plain);
    EXPECT_EQ(cipher[16], static_cast<std::uint8_t>(0x3c ^ zeros16[0]));
    EXPECT_EQ(to_hex(cipher.data(), 16), to_hex(ctr(std::vector<std::uint8_t>(16, 0x3c))));
}

TEST(CtrCrypt, LengthZeroWritesNothing)
{
    std::uint8_t in[4] = {1, 2, 3, 4};
    std::uint8_t out[4] = {9, 9, 9, 9};
    format_v1::ctr_crypt(in, 0, kKey.data(), kNonce.data(), out);
    EXPECT_EQ(to_hex(out, 4), "09090909");
}

TEST(CtrCrypt, InPlaceEqualsSeparateBuffers)
{
    for (std::size_t size : {5u, 16u, 100u, 4099u}) {
        auto data = counting_bytes(size, 0x70);
        const auto separate = ctr(data);
        format_v1::ctr_crypt(data.data(), static_cast<std::uint32_t>(size), kKey.data(), kNonce.data(), data.data());
        EXPECT_EQ(to_hex(data), to_hex(separate)) << size;
    }
}

TEST(CtrCrypt, KeyAndNonceBothChangeTheStream)
{
    const std::vector<std::uint8_t> zeros(16, 0);
    std::uint8_t base[16], other_key[16], other_nonce[16];
    auto key = kKey;
    auto nonce = kNonce;
    format_v1::ctr_crypt(zeros.data(), 16, key.data(), nonce.data(), base);
    key[31] ^= 1;
    format_v1::ctr_crypt(zeros.data(), 16, key.data(), nonce.data(), other_key);
    key[31] ^= 1;
    nonce[11] ^= 1;
    format_v1::ctr_crypt(zeros.data(), 16, key.data(), nonce.data(), other_nonce);
    EXPECT_NE(to_hex(base, 16), to_hex(other_key, 16));
    EXPECT_NE(to_hex(base, 16), to_hex(other_nonce, 16));
}

// --- hmac_sha3_256 -----------------------------------------------------------------

TEST(HmacSha3_256, EqualsTheConstructionWith32BytePads)
{
    // out = H((K0 ^ 0x5c..) || H((K0 ^ 0x36..) || msg)) with K0 the key padded to 32 bytes.
    const auto key = counting_bytes(20, 1);
    const auto msg = counting_bytes(77, 2);
    std::vector<std::uint8_t> ipad(32, 0x36), opad(32, 0x5c);
    for (std::size_t i = 0; i < key.size(); ++i) {
        ipad[i] ^= key[i];
        opad[i] ^= key[i];
    }
    EXPECT_EQ(hmac_hex(msg, key), to_hex(sha3(concat(opad, sha3(concat(ipad, msg))))));
}

TEST(HmacSha3_256, AKeyLongerThan32BytesIsHashedFirst)
{
    const auto msg = counting_bytes(50, 3);
    for (std::size_t size : {33u, 64u, 137u}) {
        const auto key = counting_bytes(size, 5);
        EXPECT_EQ(hmac_hex(msg, key), hmac_hex(msg, sha3(key))) << size;
    }
}

TEST(HmacSha3_256, AShorterKeyIsPaddedWithZeros)
{
    const auto msg = counting_bytes(50, 3);
    const auto key31 = counting_bytes(31, 7);
    EXPECT_EQ(hmac_hex(msg, key31), hmac_hex(msg, concat(key31, {0})));
    EXPECT_EQ(hmac_hex(msg, {}), hmac_hex(msg, std::vector<std::uint8_t>(32, 0)));
    // A 32-byte key is used as it stands, not hashed.
    const auto key32 = counting_bytes(32, 9);
    EXPECT_NE(hmac_hex(msg, key32), hmac_hex(msg, sha3(key32)));
}

TEST(HmacSha3_256, AnEmptyMessageHashesOnlyTheInnerPad)
{
    const auto key = counting_bytes(32, 0x21);
    std::vector<std::uint8_t> ipad(32), opad(32);
    for (std::size_t i = 0; i < 32; ++i) {
        ipad[i] = static_cast<std::uint8_t>(key[i] ^ 0x36);
        opad[i] = static_cast<std::uint8_t>(key[i] ^ 0x5c);
    }
    EXPECT_EQ(hmac_hex({}, key), to_hex(sha3(concat(opad, sha3(ipad)))));
    std::uint8_t mac[32];
    format_v1::hmac_sha3_256(nullptr, 0, nullptr, 0, mac);  // empty message and empty key
    EXPECT_EQ(to_hex(mac, 32), hmac_hex({}, std::vector<std::uint8_t>(32, 0)));
}

TEST(HmacSha3_256, EveryKeyAndMessageByteCounts)
{
    const auto key = counting_bytes(40, 1);
    const auto msg = counting_bytes(200, 2);
    std::set<std::string> macs{hmac_hex(msg, key)};
    for (std::size_t i = 0; i < key.size(); ++i) {
        auto changed = key;
        changed[i] ^= 0x80;
        macs.insert(hmac_hex(msg, changed));
    }
    for (std::size_t i = 0; i < msg.size(); ++i) {
        auto changed = msg;
        changed[i] ^= 0x01;
        macs.insert(hmac_hex(changed, key));
    }
    EXPECT_EQ(macs.size(), 1 + key.size() + msg.size());
}

// --- pbkdf2 ------------------------------------------------------------------------

namespace {

const std::vector<std::uint8_t> kPassword = {'c', 'o', 'r', 'r', 'e', 'c', 't', ' ', 'h', 'o', 'r', 's', 'e'};
const std::vector<std::uint8_t> kSalt = counting_bytes(32, 0x90);

int derive(std::vector<std::uint8_t>& out, std::uint32_t iterations, const std::vector<std::uint8_t>& salt = kSalt,
           std::uint32_t prf_len = 32)
{
    return format_v1::pbkdf2(kPassword.data(), static_cast<std::uint32_t>(kPassword.size()), salt.data(),
                             static_cast<std::uint32_t>(salt.size()), out.data(),
                             static_cast<std::uint32_t>(out.size()), iterations, format_v1::hmac_sha3_256, prf_len);
}

std::vector<std::uint8_t> prf(const std::vector<std::uint8_t>& msg)
{
    std::vector<std::uint8_t> out(32);
    format_v1::hmac_sha3_256(msg.data(), static_cast<std::uint32_t>(msg.size()), kPassword.data(),
                             static_cast<std::uint32_t>(kPassword.size()), out.data());
    return out;
}

}  // namespace

TEST(Pbkdf2, OneIterationIsThePrfOfSaltAndBlockIndex)
{
    std::vector<std::uint8_t> key(32);
    ASSERT_EQ(derive(key, 1), 0);
    EXPECT_EQ(to_hex(key), to_hex(prf(concat(kSalt, {0, 0, 0, 1}))));
}

TEST(Pbkdf2, LaterIterationsXorEachPrfOfThePrevious)
{
    const auto u1 = prf(concat(kSalt, {0, 0, 0, 1}));
    const auto u2 = prf(u1);
    const auto u3 = prf(u2);
    std::vector<std::uint8_t> expected(32);
    for (std::size_t i = 0; i < 32; ++i) expected[i] = static_cast<std::uint8_t>(u1[i] ^ u2[i] ^ u3[i]);
    std::vector<std::uint8_t> key(32);
    ASSERT_EQ(derive(key, 3), 0);
    EXPECT_EQ(to_hex(key), to_hex(expected));
}

TEST(Pbkdf2, LongerOutputContinuesWithTheNextBlock)
{
    std::vector<std::uint8_t> key(40);
    ASSERT_EQ(derive(key, 1), 0);
    const auto block1 = prf(concat(kSalt, {0, 0, 0, 1}));
    const auto block2 = prf(concat(kSalt, {0, 0, 0, 2}));
    EXPECT_EQ(to_hex(key), to_hex(block1) + to_hex(block2.data(), 8));

    // A shorter output is a prefix of a longer one.
    std::vector<std::uint8_t> longer(100), shorter(33);
    ASSERT_EQ(derive(longer, 5), 0);
    ASSERT_EQ(derive(shorter, 5), 0);
    EXPECT_EQ(to_hex(shorter), to_hex(longer.data(), 33));
}

TEST(Pbkdf2, AcceptsAnEmptyPassword)
{
    std::vector<std::uint8_t> key(32, 0xee);
    ASSERT_EQ(format_v1::pbkdf2(nullptr, 0, kSalt.data(), 32, key.data(), 32, 1, format_v1::hmac_sha3_256, 32), 0);
    std::uint8_t expected[32];
    const auto message = concat(kSalt, {0, 0, 0, 1});
    format_v1::hmac_sha3_256(message.data(), 36, nullptr, 0, expected);
    EXPECT_EQ(to_hex(key), to_hex(expected, 32));
}

TEST(Pbkdf2, RejectsZeroArgumentsWithoutWritingTheOutput)
{
    std::vector<std::uint8_t> key(32, 0xee);
    const std::vector<std::uint8_t> untouched(32, 0xee);
    EXPECT_EQ(derive(key, 0), -1);  // no iterations
    EXPECT_EQ(derive(key, 1, {}), -1);  // empty salt
    EXPECT_EQ(derive(key, 1, kSalt, 0), -1);  // prf output length 0
    EXPECT_EQ(format_v1::pbkdf2(kPassword.data(), 13, kSalt.data(), 32, key.data(), 0, 1, format_v1::hmac_sha3_256, 32),
              -1);
    EXPECT_EQ(format_v1::pbkdf2(kPassword.data(), 13, kSalt.data(), 32, key.data(), 32, 1, nullptr, 32), -1);
    EXPECT_EQ(to_hex(key), to_hex(untouched));
}

TEST(Pbkdf2, RejectsASaltTooLongForThePrfMessage)
{
    // salt || INT(i) would not fit the prf's 32-bit message length; nothing is read.
    std::vector<std::uint8_t> key(32, 0xee);
    const std::uint8_t salt[1] = {0};
    EXPECT_EQ(
        format_v1::pbkdf2(kPassword.data(), 13, salt, 0xfffffffdu, key.data(), 32, 1, format_v1::hmac_sha3_256, 32),
        -1);
    EXPECT_EQ(to_hex(key), to_hex(std::vector<std::uint8_t>(32, 0xee)));
}

// --- The standard constructions ----------------------------------------------------

TEST(CtrCryptSp800, TheCounterIsTheLastFourBytesAndAdvancesPerBlock)
{
    // Block 0 meets AES(key, nonce || 00000000), block 1 AES(key, nonce || 00000001).
    std::vector<std::uint8_t> zeros(32, 0), stream(32);
    ctr_crypt_sp800(zeros.data(), 32, kKey.data(), kNonce.data(), stream.data());
    AesRoundKeys keys;
    const int rounds = aes_expand_key(keys, kKey.data(), 256);
    for (std::uint8_t block = 0; block < 2; ++block) {
        std::vector<std::uint8_t> counter = concat(kNonce, {0, 0, 0, block});
        std::uint8_t expected[16];
        aes_encrypt_block(keys, rounds, counter.data(), expected);
        EXPECT_EQ(to_hex(stream.data() + 16 * block, 16), to_hex(expected, 16)) << "block " << int{block};
    }
}

TEST(HmacSha3_256Fips, DiffersFromThe32BytePadConstruction)
{
    const auto message = counting_bytes(50, 1);
    std::uint8_t fips[32];
    hmac_sha3_256_fips(message.data(), 50, kKey.data(), 32, fips);
    EXPECT_NE(to_hex(fips, 32), hmac_hex(message, kKey));
}

TEST(Pbkdf2HmacSha3_256, RejectsZeroArgumentsWithoutWritingTheOutput)
{
    std::vector<std::uint8_t> key(64, 0xee);
    const std::vector<std::uint8_t> untouched(64, 0xee);
    EXPECT_EQ(pbkdf2_hmac_sha3_256(kPassword.data(), 13, kSalt.data(), 32, key.data(), 64, 0), -1);
    EXPECT_EQ(pbkdf2_hmac_sha3_256(kPassword.data(), 13, kSalt.data(), 0, key.data(), 64, 1), -1);
    EXPECT_EQ(pbkdf2_hmac_sha3_256(kPassword.data(), 13, kSalt.data(), 32, key.data(), 0, 1), -1);
    EXPECT_EQ(to_hex(key), to_hex(untouched));
}

// --- random_bytes --------------------------------------------------------------------

TEST(RandomBytes, CountZeroWritesNothing)
{
    std::uint8_t byte = 0x42;
    random_bytes(&byte, 0);
    EXPECT_EQ(byte, 0x42);
}

TEST(RandomBytes, DrawsEveryByteValueAndNeverRepeatsABlock)
{
    // 8192 uniform bytes miss one of the 256 values with probability below 1e-11.
    std::vector<std::uint8_t> bytes(8192);
    random_bytes(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    std::set<std::uint8_t> values(bytes.begin(), bytes.end());
    EXPECT_EQ(values.size(), 256u);

    std::uint8_t a[32], b[32];
    random_bytes(a, sizeof a);
    random_bytes(b, sizeof b);
    EXPECT_NE(to_hex(a, 32), to_hex(b, 32));
}

// SHA-1, SHA-256, SHA-512 and their HMACs, against the published answers.

#include "crypto/hmac.h"
#include "crypto/sha1.h"
#include "crypto/sha2.h"

#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> bytes(const std::string& text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::string digest_hex(const std::string& hash, const std::vector<std::uint8_t>& m)
{
    std::uint8_t out[64];
    if (hash == "SHA-1") {
        sha1(m.data(), m.size(), out);
        return to_hex(out, 20);
    }
    if (hash == "SHA-256") {
        sha256(m.data(), m.size(), out);
        return to_hex(out, 32);
    }
    sha512(m.data(), m.size(), out);
    return to_hex(out, 64);
}

std::string hmac_hex(const std::string& hash, const std::vector<std::uint8_t>& key, const std::vector<std::uint8_t>& m)
{
    std::uint8_t out[64];
    if (hash == "SHA-1") {
        hmac_sha1(m.data(), m.size(), key.data(), key.size(), out);
        return to_hex(out, 20);
    }
    if (hash == "SHA-256") {
        hmac_sha256(m.data(), m.size(), key.data(), key.size(), out);
        return to_hex(out, 32);
    }
    hmac_sha512(m.data(), m.size(), key.data(), key.size(), out);
    return to_hex(out, 64);
}

// The hash in pieces of sizes 1, 4, 13, 40, ... must equal the one-call digest.
template <class Hash>
std::string in_pieces_hex(const std::vector<std::uint8_t>& m)
{
    Hash hash;
    std::size_t done = 0;
    for (std::size_t piece = 1; done < m.size(); piece = piece * 3 + 1) {
        const std::size_t size = std::min(piece, m.size() - done);
        hash.update(m.data() + done, size);
        done += size;
    }
    std::uint8_t out[Hash::kDigestSize];
    hash.finish(out);
    return to_hex(out, sizeof out);
}

const char kTwoBlocks[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";  // 448 bits
const char kTwoBlocks512[] =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
    "mnopqrstnopqrstu";  // 896 bits

}  // namespace

// The examples of FIPS 180-4 (NIST's "Examples with intermediate values": "abc", the
// 448-bit and 896-bit messages) and the empty message; one million "a" is the long
// message of FIPS 180-2, appendices A.3, B.3 and C.3.
TEST(Sha2, KnownAnswers)
{
    struct Case {
        const char* hash;
        std::string message;
        const char* digest;
    };
    const std::string million(1000000, 'a');
    const Case cases[] = {
        {"SHA-1", "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"SHA-1", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"SHA-1", kTwoBlocks, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {"SHA-1", million, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {"SHA-256", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"SHA-256", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"SHA-256", kTwoBlocks, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"SHA-256", million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"SHA-512", "",
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417"
         "a81a"
         "538327af927da3e"},
        {"SHA-512", "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce"
         "80e"
         "2a9ac94fa54ca49f"},
        {"SHA-512", kTwoBlocks512,
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd2"
         "654"
         "5e96e55b874be909"},
        {"SHA-512", million,
         "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31beb009c5c2c49a"
         "a2e"
         "4eadb217ad8cc09b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(digest_hex(c.hash, bytes(c.message)), c.digest) << c.hash << ", " << c.message.size() << " bytes";
    }
    // The same long message in pieces that straddle every block boundary.
    EXPECT_EQ(in_pieces_hex<Sha1>(bytes(million)), cases[3].digest);
    EXPECT_EQ(in_pieces_hex<Sha256>(bytes(million)), cases[7].digest);
    EXPECT_EQ(in_pieces_hex<Sha512>(bytes(million)), cases[11].digest);
}

// RFC 2202 section 3 (HMAC-SHA-1, test cases 1 to 7) and RFC 4231 section 4
// (HMAC-SHA-256 and HMAC-SHA-512, test cases 1 to 7; case 5 compares the first 128
// bits only, as the RFC gives them).
TEST(Hmac, Rfc2202AndRfc4231)
{
    struct Case {
        const char* hash;
        std::vector<std::uint8_t> key;
        std::string message;
        std::string mac;
    };
    std::vector<std::uint8_t> counting(25);
    for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<std::uint8_t>(i + 1);
    const std::string hi = "Hi There";
    const std::string jefe = "what do ya want for nothing?";
    const std::string dd(50, '\xdd');
    const std::string cd(50, '\xcd');
    const std::string truncation = "Test With Truncation";
    const std::string large_key = "Test Using Larger Than Block-Size Key - Hash Key First";
    const std::string large_both = "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data";
    const std::string large_4231 =
        "This is a test using a larger than block-size key and a larger than block-size data. "
        "The key needs to be hashed before being used by the HMAC algorithm.";
    const std::vector<std::uint8_t> k0b(20, 0x0b), kaa(20, 0xaa), k0c(20, 0x0c), kaa80(80, 0xaa), kaa131(131, 0xaa);
    const std::vector<std::uint8_t> jefe_key = bytes("Jefe");
    const Case cases[] = {
        {"SHA-1", k0b, hi, "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"SHA-1", jefe_key, jefe, "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {"SHA-1", kaa, dd, "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {"SHA-1", counting, cd, "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {"SHA-1", k0c, truncation, "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {"SHA-1", kaa80, large_key, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {"SHA-1", kaa80, large_both, "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
        {"SHA-256", k0b, hi, "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"SHA-256", jefe_key, jefe, "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {"SHA-256", kaa, dd, "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {"SHA-256", counting, cd, "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {"SHA-256", k0c, truncation, "a3b6167473100ee06e0c796c2955552b"},
        {"SHA-256", kaa131, large_key, "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {"SHA-256", kaa131, large_4231, "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
        {"SHA-512", k0b, hi,
         "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f"
         "17"
         "02e696c203a126854"},
        {"SHA-512", jefe_key, jefe,
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6"
         "b4"
         "b636e070a38bce737"},
        {"SHA-512", kaa, dd,
         "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807b946a337bee89"
         "42"
         "674278859e13292fb"},
        {"SHA-512", counting, cd,
         "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc5788063a5f19741120c4"
         "f2"
         "de2adebeb10a298dd"},
        {"SHA-512", k0c, truncation, "415fad6271580a531d4179bc891d87a6"},
        {"SHA-512", kaa131, large_key,
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0"
         "aec"
         "8b915a985d786598"},
        {"SHA-512", kaa131, large_4231,
         "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15134676fb6de04"
         "46"
         "065c97440fa8c6a58"},
    };
    int number = 0;
    for (const Case& c : cases) {
        const std::string mac = hmac_hex(c.hash, c.key, bytes(c.message));
        EXPECT_EQ(mac.substr(0, c.mac.size()), c.mac) << "HMAC-" << c.hash << ", case " << number % 7 + 1;
        ++number;
    }
}

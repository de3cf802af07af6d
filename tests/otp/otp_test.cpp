// Secrets for one-time codes: base32, the otpauth URI, the lookup in the tree. The
// codes themselves (RFC 4226 and RFC 6238 tables) are checked through the companion,
// in tests/cli/cli_cases.py; here, the current code read through the calendar clock.

#include "otp/otp.h"

#include "platform/calendar_time.h"
#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Decodes `text`; "refused" when the decoder says no.
std::string decoded_hex(const std::string& text)
{
    SecretString out;
    if (!base32_decode(text, out)) return out.empty() ? "refused" : "refused, but wrote " + to_hex(out.str());
    return to_hex(out.str());
}

}  // namespace

// The spellings a user may paste: RFC 4648 section 10's vectors with their padding,
// without it, in lower case and broken up by spaces; and what must be refused.
TEST(Base32, SpellingsAndHostileInput)
{
    struct Case {
        std::string text;
        const char* hex;
    };
    const Case cases[] = {
        // RFC 4648, section 10.
        {"", ""},
        {"MY======", "66"},
        {"MZXQ====", "666f"},
        {"MZXW6===", "666f6f"},
        {"MZXW6YQ=", "666f6f62"},
        {"MZXW6YTB", "666f6f6261"},
        {"MZXW6YTBOI======", "666f6f626172"},
        // Padding optional, either case, spaces anywhere.
        {"MZXW6YTBOI", "666f6f626172"},
        {"mzxw6ytboi", "666f6f626172"},
        {" mzxw 6YTB oi== ==== ", "666f6f626172"},
        {"JBSW Y3DP EHPK 3PXP", "48656c6c6f21deadbeef"},
        {"jbswy3dpehpk3pxp", "48656c6c6f21deadbeef"},
        // Refused: characters outside the alphabet (0, 1, 8, 9, punctuation, tabs,
        // line ends, NUL, UTF-8), lengths no encoder writes, wrong padding.
        {"MZXW6YT1", "refused"},
        {"MZXW6YT8", "refused"},
        {"MZXW-6YTB", "refused"},
        {"MZXW\t6YTB", "refused"},
        {"MZXW6YTB\r\n", "refused"},
        {std::string("MZXW\0YTB", 8), "refused"},
        {"MZXW6Y\xc3\x89", "refused"},
        {"M", "refused"},
        {"MZX", "refused"},
        {"MZXW6Y", "refused"},
        {"MZXW6YTBO", "refused"},
        {"MY=====", "refused"},
        {"MY=======", "refused"},
        {"MZXW6YTB========", "refused"},
        {"========", "refused"},
        {"MZ=XW6YQ", "refused"},
        {"MY======MY======", "refused"},
    };
    for (const Case& c : cases) EXPECT_EQ(decoded_hex(c.text), c.hex) << "'" << c.text << "'";
}

// What a node holds, and what is read from it: the URI's parameters with their
// defaults and ranges, and every way a held secret is unreadable.
TEST(OtpSecret, ReadFromNodes)
{
    struct Case {
        std::string name;
        std::string value;
        bool holds;
        OtpProblem problem;
        OtpHash hash;
        std::uint32_t digits;
        std::uint32_t period;
        const char* key_hex;
    };
    const OtpProblem ok = OtpProblem::none;
    const OtpHash sha1 = OtpHash::sha1;
    const Case cases[] = {
        {"otp", "JBSW Y3DP EHPK 3PXP", true, ok, sha1, 6, 30, "48656c6c6f21deadbeef"},
        {"TOTP", "  jbswy3dpehpk3pxp  ", true, ok, sha1, 6, 30, "48656c6c6f21deadbeef"},
        {"login", "otpauth://totp/Example:alice@example.org?secret=JBSWY3DPEHPK3PXP&issuer=Example", true, ok, sha1, 6,
         30, "48656c6c6f21deadbeef"},
        {"x", "OTPAUTH://TOTP/a?algorithm=sha512&DIGITS=8&period=60&secret=MZXW6YQ%3D&image=x#frag", true, ok,
         OtpHash::sha512, 8, 60, "666f6f62"},
        {"totp", "otpauth://totp/a?secret=MZXW6YTB&algorithm=SHA256&digits=7&period=1", true, ok, OtpHash::sha256, 7, 1,
         "666f6f6261"},
        {"x", "otpauth://totp/a?secret=MZXW6YTB&period=3600", true, ok, sha1, 6, 3600, "666f6f6261"},
        {"x", "otpauth://totp/a?secret=MZXW%206YTB", true, ok, sha1, 6, 30, "666f6f6261"},
        // Not a secret at all.
        {"password", "JBSWY3DPEHPK3PXP", false, ok, sha1, 0, 0, ""},
        {"x", "otpauth://hotp/a?secret=JBSWY3DPEHPK3PXP&counter=1", false, ok, sha1, 0, 0, ""},
        {"otpx", "JBSWY3DPEHPK3PXP", false, ok, sha1, 0, 0, ""},
        // Held but unreadable.
        {"otp", "not base32!", true, OtpProblem::not_base32, sha1, 0, 0, ""},
        {"otp", "otpauth://hotp/a?secret=JBSWY3DPEHPK3PXP", true, OtpProblem::not_base32, sha1, 0, 0, ""},
        {"otp", "====", true, OtpProblem::not_base32, sha1, 0, 0, ""},
        {"otp", "  ", true, OtpProblem::empty_secret, sha1, 0, 0, ""},
        {"x", "otpauth://totp/a", true, OtpProblem::uri_without_secret, sha1, 0, 0, ""},
        {"x", "otpauth://totp/a?issuer=b&secret=", true, OtpProblem::uri_without_secret, sha1, 0, 0, ""},
        {"x", "otpauth://totp/a?secret=JBSW1", true, OtpProblem::not_base32, sha1, 0, 0, ""},
        {"x", "otpauth://totp/a?secret=MY&algorithm=MD5", true, OtpProblem::bad_algorithm, sha1, 0, 0, ""},
        {"x", "otpauth://totp/a?secret=MY&algorithm=", true, OtpProblem::bad_algorithm, sha1, 0, 0, ""},
        {"x", "otpauth://totp/a?secret=MY&digits=5", true, OtpProblem::bad_digits, sha1, 0, 0, ""},
        {"x", "otpauth://totp/a?secret=MY&digits=9", true, OtpProblem::bad_digits, sha1, 0, 0, ""},
        {"x", "otpauth://totp/a?secret=MY&digits=+6", true, OtpProblem::bad_digits, sha1, 0, 0, ""},
        {"x", "otpauth://totp/a?secret=MY&period=0", true, OtpProblem::bad_period, sha1, 0, 0, ""},
        {"x", "otpauth://totp/a?secret=MY&period=3601", true, OtpProblem::bad_period, sha1, 0, 0, ""},
        {"x", "otpauth://totp/a?secret=MY&period=99999999999", true, OtpProblem::bad_period, sha1, 0, 0, ""},
        {"x", "otpauth://totp/a?secret=MY&period=-30", true, OtpProblem::bad_period, sha1, 0, 0, ""},
    };
    for (const Case& c : cases) {
        const TreeNode node(c.name, c.value, true);
        EXPECT_EQ(holds_otp_secret(node), c.holds) << c.name << ": " << c.value;
        if (!c.holds) continue;
        OtpSecret secret;
        EXPECT_EQ(read_otp_secret(node, secret), c.problem) << c.value;
        if (c.problem != ok) {
            EXPECT_TRUE(secret.key.empty()) << c.value;
            continue;
        }
        EXPECT_EQ(to_hex(secret.key.str()), c.key_hex) << c.value;
        EXPECT_EQ(secret.hash, c.hash) << c.value;
        EXPECT_EQ(secret.digits, c.digits) << c.value;
        EXPECT_EQ(secret.period, c.period) << c.value;
    }
    // A node named otp without a value (an entry of its own) holds nothing.
    EXPECT_FALSE(holds_otp_secret(TreeNode("otp", "", false)));
}

// The node itself when it holds a secret, else its first child that does; a code
// only from a readable one.
TEST(OtpSecret, LookupInAnEntry)
{
    const Tree root = parse_tree("github\n"
                                 "\tuser: alice\n"
                                 "\ttotp: MZXW6YTB\n"
                                 "\totp: JBSWY3DPEHPK3PXP\n"
                                 "broken\n"
                                 "\totp: 1234\n"
                                 "\tkey: otpauth://totp/x?secret=JBSWY3DPEHPK3PXP\n"
                                 "plain\n"
                                 "\tuser: bob\n"
                                 "\t\ttotp: JBSWY3DPEHPK3PXP\n");
    OtpSecret secret;
    OtpProblem problem = OtpProblem::bad_period;
    EXPECT_EQ(find_otp_secret(*root.find("github"), secret, problem), OtpStatus::ok);
    EXPECT_EQ(to_hex(secret.key.str()), "666f6f6261");
    EXPECT_EQ(problem, OtpProblem::none);
    EXPECT_EQ(find_otp_secret(*root.find("github otp"), secret, problem), OtpStatus::ok);
    EXPECT_EQ(to_hex(secret.key.str()), "48656c6c6f21deadbeef");
    EXPECT_EQ(find_otp_secret(*root.find("broken"), secret, problem), OtpStatus::unreadable);
    EXPECT_EQ(problem, OtpProblem::not_base32);
    EXPECT_EQ(find_otp_secret(*root.find("broken key"), secret, problem), OtpStatus::ok);
    // Grandchildren do not count, nor does a node's value that is no secret.
    EXPECT_EQ(find_otp_secret(*root.find("plain"), secret, problem), OtpStatus::no_secret);
    EXPECT_EQ(find_otp_secret(*root.find("github user"), secret, problem), OtpStatus::no_secret);

    SecretString code("stale", 5);
    EXPECT_EQ(one_time_code(*root.find("broken"), 59, code, problem), OtpStatus::unreadable);
    EXPECT_TRUE(code.empty());
    EXPECT_EQ(otp_unreadable_text(problem), "The one-time secret of this entry cannot be read: it is not base32.");
}

// The current code through the calendar clock, set past the 32-bit limits. RFC 6238,
// appendix B, for 2,000,000,000 and 20,000,000,000 s; the rows for 2^31 and 2^32 s
// from Python, with the same seeds and 8 digits:
//   mac = hmac.new(seed, struct.pack(">Q", t // 30), hashlib.sha1).digest()
//   o = mac[-1] & 15
//   code = (struct.unpack(">I", mac[o:o + 4])[0] & 0x7fffffff) % 10**8
TEST(OneTimeCode, CurrentCodePast2038)
{
    const Tree root =
        parse_tree("sha1\n"
                   "\totp: otpauth://totp/a?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&digits=8\n"
                   "sha256\n"
                   "\totp: otpauth://totp/a?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZA"
                   "&algorithm=SHA256&digits=8\n"
                   "sha512\n"
                   "\totp: otpauth://totp/a?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZDGNBVG"
                   "Y3TQOJQGEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZDGNA&algorithm=SHA512&digits=8\n");
    struct Row {
        std::int64_t seconds;
        const char* codes[3];  // SHA-1, SHA-256, SHA-512
    };
    const Row rows[] = {
        {2000000000, {"69279037", "90698825", "38618901"}},
        {20000000000, {"65353130", "77737706", "47863826"}},
        {2147483648, {"24703886", "68493486", "44067341"}},
        {4294967296, {"59791428", "77645532", "92399846"}},
    };
    const char* const entries[] = {"sha1", "sha256", "sha512"};
    for (const Row& row : rows) {
        set_calendar_now_for_tests(row.seconds);
        for (int i = 0; i < 3; ++i) {
            SecretString code;
            OtpProblem problem = OtpProblem::none;
            EXPECT_EQ(one_time_code(*root.find(entries[i]), unix_time_now(), code, problem), OtpStatus::ok);
            EXPECT_EQ(code.str(), row.codes[i]) << entries[i] << " at " << row.seconds;
        }
    }
    clear_calendar_now_for_tests();
}

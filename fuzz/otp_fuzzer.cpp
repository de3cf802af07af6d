// Fuzzes the one-time secrets: any bytes as the base32 value of an "otp" line and as
// the query of an otpauth://totp/ URI are read without a fault, and a readable one
// gives a code of 6 to 8 digits; the base32 of any bytes, padded or not, in either
// case and broken up by spaces, decodes back to them. Any disagreement aborts.

#include "otp/otp.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void check(bool ok, const char* what)
{
    if (ok) return;
    std::fprintf(stderr, "otp fuzzer: %s\n", what);
    std::abort();
}

// RFC 4648, 6, written independently of the decoder: the groups of five bits, then
// '=' up to a multiple of eight when `pad` is set.
std::string base32_encode(const std::string& bytes, bool pad, bool lower_case, bool spaced)
{
    const char* alphabet = lower_case ? "abcdefghijklmnopqrstuvwxyz234567" : "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string out;
    std::size_t characters = 0;  // without the spaces
    const std::size_t bits = bytes.size() * 8;
    for (std::size_t at = 0; at < bits; at += 5, ++characters) {
        unsigned value = 0;
        for (std::size_t b = at; b < at + 5; ++b) {
            const unsigned bit = b < bits ? (static_cast<unsigned char>(bytes[b / 8]) >> (7 - b % 8)) & 1u : 0u;
            value = value * 2 + bit;
        }
        if (spaced && characters % 4 == 3) out += ' ';
        out += alphabet[value];
    }
    for (; pad && characters % 8 != 0; ++characters) out += '=';
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const TreeNode nodes[] = {TreeNode("otp", bytes, true), TreeNode("x", "otpauth://totp/a?" + bytes, true)};
    for (const TreeNode& node : nodes) {
        SecretString code;
        OtpProblem problem = OtpProblem::none;
        const OtpStatus status = one_time_code(node, static_cast<std::int64_t>(size) * 1000003, code, problem);
        if (status == OtpStatus::ok) {
            check(code.size() >= 6 && code.size() <= 8, "a code of another length");
            for (char c : code.str()) check(c >= '0' && c <= '9', "a code with other than digits");
        } else {
            check(status == OtpStatus::unreadable && problem != OtpProblem::none, "a held secret reported as none");
            check(code.empty(), "a code beside a refusal");
        }
    }
    for (int variant = 0; variant < 8; ++variant) {
        SecretString decoded;
        const std::string encoded = base32_encode(bytes, variant & 1, variant & 2, variant & 4);
        check(base32_decode(encoded, decoded), "the base32 of some bytes refused");
        check(decoded.str() == bytes, "base32 gives other bytes back");
    }
    return 0;
}

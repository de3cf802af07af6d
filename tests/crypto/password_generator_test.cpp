#include "crypto/password_generator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const std::string kClasses[4] = {kPasswordUpper, kPasswordLower, kPasswordDigits, kPasswordSymbols};
const std::string kAlphabet = kClasses[0] + kClasses[1] + kClasses[2] + kClasses[3];

std::string generated()
{
    char out[kGeneratedPasswordLength];
    EXPECT_EQ(0, generate_password(out));
    return std::string(out, sizeof out);
}

// A fixed byte sequence, then 1 for ever.
std::vector<std::uint8_t> g_script;
std::size_t g_script_at = 0;
void scripted_source(std::uint8_t* out, std::uint32_t count)
{
    for (std::uint32_t i = 0; i < count; ++i) out[i] = g_script_at < g_script.size() ? g_script[g_script_at++] : 1;
}

void failing_source(std::uint8_t*, std::uint32_t)
{
    throw std::runtime_error("no entropy");
}

void stuck_source(std::uint8_t* out, std::uint32_t count)
{
    std::memset(out, 0, count);
}

// Stuck on a byte that is always rejected; counts what it was asked for.
std::size_t g_rejected_bytes_drawn = 0;
void stuck_rejected_source(std::uint8_t* out, std::uint32_t count)
{
    g_rejected_bytes_drawn += count;
    std::memset(out, 0xFF, count);
}

// A seeded generator: the distribution test gives the same answer on every run.
std::mt19937 g_seeded(20261208);
void seeded_source(std::uint8_t* out, std::uint32_t count)
{
    for (std::uint32_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(g_seeded() >> 24);
}

// Pearson's chi-square of the counts of one class's characters against equal shares.
double chi_square_within(const std::string& chars, const std::vector<long>& counts)
{
    long total = 0;
    for (char c : chars) total += counts[static_cast<unsigned char>(c)];
    const double expected = static_cast<double>(total) / static_cast<double>(chars.size());
    double sum = 0;
    for (char c : chars) {
        const double d = static_cast<double>(counts[static_cast<unsigned char>(c)]) - expected;
        sum += d * d / expected;
    }
    return sum;
}

// Inside a class every character is equally likely (the class rule treats them alike).
// With at most 25 degrees of freedom, a fair draw exceeds 100 with a probability below
// 1e-10; byte % 70 without rejection favours 46 of the 70 characters by 4:3 and scores
// in the thousands on this many draws.
constexpr double kChiSquareBound = 100;
constexpr int kDraws = 20000;

}  // namespace

TEST(PasswordGenerator, LengthAndEveryClass)
{
    for (int n = 0; n < 200; ++n) {
        const std::string password = generated();
        ASSERT_EQ(kGeneratedPasswordLength, password.size());
        for (const std::string& chars : kClasses)
            EXPECT_NE(std::string::npos, password.find_first_of(chars)) << password << " lacks one of " << chars;
        EXPECT_EQ(std::string::npos, password.find_first_not_of(kAlphabet)) << password;
    }
    EXPECT_NE(generated(), generated());
}

TEST(PasswordGenerator, RejectsBytesAboveTheLastWholeAlphabet)
{
    // 70 characters: 210 and above are thrown away, 0..209 map to byte % 70.
    ASSERT_EQ(70u, kAlphabet.size());
    g_script = {250, 0, 26, 210, 52, 62, 255, 69, 70, 209};
    g_script_at = 0;
    char out[kGeneratedPasswordLength];
    ASSERT_EQ(0, generate_password_from(scripted_source, out));
    EXPECT_EQ("Aa0!_A_BBBBBBBBBBBBB", std::string(out, sizeof out));
}

TEST(PasswordGenerator, FailingSourceLeavesNothing)
{
    char out[kGeneratedPasswordLength];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(-1, generate_password_from(failing_source, out));
    EXPECT_EQ(std::string(kGeneratedPasswordLength, '\0'), std::string(out, sizeof out));
    // A source that never yields all four classes fails too, instead of looping.
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(-1, generate_password_from(stuck_source, out));
    EXPECT_EQ(std::string(kGeneratedPasswordLength, '\0'), std::string(out, sizeof out));
    // Nor does one whose every byte is rejected: it gives up after a bounded number.
    std::memset(out, 'x', sizeof out);
    g_rejected_bytes_drawn = 0;
    EXPECT_EQ(-1, generate_password_from(stuck_rejected_source, out));
    EXPECT_EQ(std::string(kGeneratedPasswordLength, '\0'), std::string(out, sizeof out));
    EXPECT_GT(g_rejected_bytes_drawn, 4096u);
    EXPECT_LE(g_rejected_bytes_drawn, 4096u + 64u);
}

TEST(PasswordGenerator, NoModuloBias)
{
    std::vector<long> fair(256, 0);
    std::vector<long> biased(256, 0);
    for (int n = 0; n < kDraws; ++n) {
        char out[kGeneratedPasswordLength];
        ASSERT_EQ(0, generate_password_from(seeded_source, out));
        for (char c : out) ++fair[static_cast<unsigned char>(c)];
        // The same bytes read the naive way, as the check's own control.
        std::uint8_t bytes[kGeneratedPasswordLength];
        seeded_source(bytes, sizeof bytes);
        for (std::uint8_t b : bytes) ++biased[static_cast<unsigned char>(kAlphabet[b % kAlphabet.size()])];
    }
    for (const std::string& chars : kClasses) {
        EXPECT_LT(chi_square_within(chars, fair), kChiSquareBound) << chars;
    }
    // Of the classes only the lower-case letters straddle the naive mapping's edge (46).
    EXPECT_GT(chi_square_within(kClasses[1], biased), 10 * kChiSquareBound);
}

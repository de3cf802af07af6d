// The strength estimate on known passwords: the patterns an attacker tries first
// come out very weak or weak, random ones strong.

#include "audit/strength.h"

#include "crypto/password_generator.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* password;
    StrengthLevel at_least;
    StrengthLevel at_most;
};

constexpr StrengthLevel kVeryWeak = StrengthLevel::kVeryWeak;
constexpr StrengthLevel kWeak = StrengthLevel::kWeak;
constexpr StrengthLevel kFair = StrengthLevel::kFair;
constexpr StrengthLevel kStrong = StrengthLevel::kStrong;

}  // namespace

TEST(Strength, KnownPasswords)
{
    const Case cases[] = {
        {"", kVeryWeak, kVeryWeak},
        // Common passwords, with case, substitutions and a suffix.
        {"Password1!", kVeryWeak, kWeak},
        {"P@ssw0rd", kVeryWeak, kWeak},
        {"p4$$w0rd", kVeryWeak, kWeak},
        {"PASSWORD", kVeryWeak, kVeryWeak},
        {"drowssap", kVeryWeak, kVeryWeak},  // reversed
        {"iloveyou", kVeryWeak, kVeryWeak},
        {"monkey123", kVeryWeak, kWeak},
        // Keyboard walks, sequences, repeats, dates.
        {"qwertyuiop", kVeryWeak, kWeak},
        {"1qaz2wsx", kVeryWeak, kWeak},
        {"zxcvbnm,./", kVeryWeak, kWeak},
        {"QWERTY", kVeryWeak, kWeak},
        {"abcdefghij", kVeryWeak, kVeryWeak},
        {"9876543210", kVeryWeak, kVeryWeak},
        {"aaaaaaaaaaaa", kVeryWeak, kWeak},
        {"abcabcabcabc", kVeryWeak, kWeak},
        {"19840512", kVeryWeak, kWeak},
        {"12/05/1984", kVeryWeak, kWeak},
        {"dragon1984", kVeryWeak, kWeak},
        // English words: both tiers of the list, and two of them together.
        {"correcthorse", kVeryWeak, kWeak},
        {"pencil", kVeryWeak, kVeryWeak},
        {"Windowgarden", kVeryWeak, kWeak},
        // Their opposites: the same lengths without a pattern.
        {"kX9!vQ2-mL7?pR4=", kStrong, kStrong},
        {"Gq7.Lw2+Rt9_Vb", kStrong, kStrong},
        {"wq8Zt!", kWeak, kFair},
        {"hU4&bP9*kQ", kFair, kStrong},
        // Five random common words.
        {"tablegardenwindowriverpencil", kStrong, kStrong},
        {"musicbridgehonestwinterlamp", kStrong, kStrong},
        {"orange cloud silver market dream", kStrong, kStrong},
    };
    for (const Case& c : cases) {
        const Strength s = estimate_strength(c.password);
        EXPECT_GE(s.level, c.at_least) << c.password << ": 10^" << s.log10_guesses;
        EXPECT_LE(s.level, c.at_most) << c.password << ": 10^" << s.log10_guesses;
    }
}

// The program's own generator gives strong passwords at 16 characters.
TEST(Strength, GeneratedPasswordsAreStrong)
{
    for (int k = 0; k < 50; ++k) {
        char password[kGeneratedPasswordLength];
        ASSERT_EQ(generate_password(password), 0);
        const std::string first16(password, 16);
        const Strength s = estimate_strength(first16);
        EXPECT_EQ(s.level, kStrong) << first16 << ": 10^" << s.log10_guesses;
    }
}

// A pattern costs far less than brute force over the same characters, and more
// characters of no pattern never make a password cheaper.
TEST(Strength, PatternsAgainstBruteForce)
{
    EXPECT_LT(estimate_strength("password").log10_guesses, 1);  // third most common
    EXPECT_LT(estimate_strength("zebra").log10_guesses, 4.5);  // late in the first tier
    EXPECT_GT(estimate_strength("zqxjv").log10_guesses, 6.5);  // 26^5
    double previous = 0;
    std::string grown;
    for (const char c : std::string("x7Qm!k2Rz9.Lp4Wv+")) {
        grown += c;
        const double now = estimate_strength(grown).log10_guesses;
        EXPECT_GE(now, previous) << grown;
        previous = now;
    }
    // Longer passwords are estimated in pieces, whose guesses multiply.
    const std::string long_repeat(kStrengthAnalysedBytes, 'a');
    EXPECT_LT(estimate_strength(long_repeat).log10_guesses, 5);
    EXPECT_GT(estimate_strength(long_repeat + "Zq8!").log10_guesses, estimate_strength(long_repeat).log10_guesses + 6);
    EXPECT_LT(estimate_strength(long_repeat + long_repeat).log10_guesses, 10);
}

TEST(Strength, Levels)
{
    EXPECT_EQ(strength_level(5.99), kVeryWeak);
    EXPECT_EQ(strength_level(6), kWeak);
    EXPECT_EQ(strength_level(9.99), kWeak);
    EXPECT_EQ(strength_level(10), kFair);
    EXPECT_EQ(strength_level(13.99), kFair);
    EXPECT_EQ(strength_level(14), kStrong);
    EXPECT_STREQ(strength_level_text(kVeryWeak), "very weak");
    EXPECT_STREQ(strength_level_text(kStrong), "strong");
}

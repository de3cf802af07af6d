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

// Inputs longer than one piece: a repeat or sequence is seen over the whole input,
// whatever the pieces, and the input costs no more than its cheapest description.
TEST(Strength, LongInputs)
{
    const std::string random60 = "x7Qm!k2Rz9.Lp4Wv+Hd3$Jn8^Tc5&Yb1*Gf6(Ks0)Ue7-Wa2=Po9;Iz4:NyE";
    ASSERT_EQ(random60.size(), 60u);
    const Strength random_alone = estimate_strength(random60);
    struct LongCase {
        const char* what;
        std::string password;
        double at_most;  // log10 guesses
    };
    std::string random_times_10;
    for (int k = 0; k < 10; ++k) random_times_10 += random60;
    std::string abc_times_1000;
    for (int k = 0; k < 1000; ++k) abc_times_1000 += "abc";
    const LongCase cases[] = {
        {"a x 500", std::string(500, 'a'), 5},
        {"a x 101", std::string(101, 'a'), 5},
        {"a x 10,000", std::string(10000, 'a'), 6},
        {"abc x 1,000", abc_times_1000, 6},
        {"a random 60 x 10", random_times_10, random_alone.log10_guesses + 2},
        // The run crosses the cut at byte 100: in pieces each half would count apart.
        {"a random 60 then z x 200", random60 + std::string(200, 'z'), random_alone.log10_guesses + 4},
        {"z x 200 then a random 60", std::string(200, 'z') + random60, random_alone.log10_guesses + 4},
        // A sequence across the cut, between two repeats.
        {"repeats around a sequence", std::string(95, 'q') + "abcdefghijklmnop" + std::string(95, 'w'), 10},
    };
    for (const LongCase& c : cases) {
        const Strength s = estimate_strength(c.password);
        EXPECT_LE(s.log10_guesses, c.at_most) << c.what << ": 10^" << s.log10_guesses;
    }
    EXPECT_EQ(estimate_strength(std::string(500, 'a')).level, kVeryWeak);
    // No description is cheaper than the pieces alone where there is no run: a long
    // random input stays as costly as its pieces.
    std::string random300;
    for (int k = 0; k < 5; ++k) random300 += random60.substr(static_cast<std::size_t>(k)) + random60.substr(0, k);
    EXPECT_GT(estimate_strength(random300).log10_guesses, 3 * random_alone.log10_guesses);
    // A strong password followed by a long repeat stays strong.
    EXPECT_EQ(estimate_strength("kX9!vQ2-mL7?pR4=" + std::string(300, '-')).level, kStrong);
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

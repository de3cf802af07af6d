// The strength estimate on known passwords: the patterns an attacker tries first
// come out very weak or weak, random ones strong.

#include "audit/strength.h"

#include "audit/passphrase.h"
#include "audit/wordlists.h"
#include "crypto/password_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <set>
#include <string>
#include <vector>

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
        // Names, film words and rarer words that people pick, with the usual decorations.
        {"Voldemort123", kVeryWeak, kWeak},
        {"Aleksandra1987!", kVeryWeak, kWeak},
        // The famous examples of password advice, as published and as people copy them,
        // and the misspelt word with other decorations.
        {"Tr0ub4dor&3", kVeryWeak, kWeak},
        {"correcthorsebatterystaple", kVeryWeak, kWeak},
        {"CorrectHorseBatteryStaple", kVeryWeak, kWeak},
        {"correct-horse-battery-staple", kVeryWeak, kWeak},
        {"Tr0ub4dor&4", kVeryWeak, kWeak},
        {"troubador!", kVeryWeak, kWeak},
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

// The famous examples cost far less than with the smaller lists (10^17.8 and
// 10^19.6), and less than random characters of their length; four common words that
// no list holds together still cost the product of their ranks, more than the famous
// phrase of four.
TEST(Strength, RarerWordsCostLessThanBefore)
{
    EXPECT_LT(estimate_strength("Tr0ub4dor&3").log10_guesses, 17);
    EXPECT_LT(estimate_strength("correcthorsebatterystaple").log10_guesses, 15);
    EXPECT_LT(estimate_strength("correcthorsebatterystaple").log10_guesses,
              estimate_strength("kX9!vQ2-mL7?pR4=a").log10_guesses);
    EXPECT_LT(estimate_strength("correcthorsebatterystaple").log10_guesses + 6,
              estimate_strength("correcthorsebatterypencil").log10_guesses);
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
    // random input costs at least as much as its first piece (past 10^20 the further
    // pieces are left out).
    std::string random300;
    std::uint32_t state = 12345;
    while (random300.size() < 300) {
        state = state * 1103515245u + 12345u;
        random300 += static_cast<char>(0x21 + (state >> 16) % 94);
    }
    EXPECT_GE(estimate_strength(random300).log10_guesses,
              estimate_strength(random300.substr(0, kStrengthAnalysedBytes)).log10_guesses);
    EXPECT_EQ(estimate_strength(random300).level, kStrong);
    // Cheap pieces add up until the level cannot change: words repeated with a count.
    std::string counted;
    for (int k = 0; counted.size() < 10000; ++k) counted += "password" + std::to_string(k);
    EXPECT_EQ(estimate_strength(counted).level, kStrong);
    // A strong password followed by a long repeat stays strong.
    EXPECT_EQ(estimate_strength("kX9!vQ2-mL7?pR4=" + std::string(300, '-')).level, kStrong);
}

// The built-in lists decode whole, hold what the estimate needs, and rank a common
// word below a rare one.
TEST(Strength, WordLists)
{
    std::string word;
    std::size_t ranked = 0;
    std::uint32_t previous_rank = 0;
    for (std::size_t t = 0; t < kRankedWordTierCount; ++t) {
        std::size_t count = 0;
        EXPECT_TRUE(for_each_word(kRankedWordTiers[t], word, [&](const std::string&) { ++count; })) << t;
        EXPECT_EQ(count, kRankedWordTiers[t].words);
        EXPECT_GT(kRankedWordTiers[t].rank, previous_rank) << "bands in order of rank";
        previous_rank = kRankedWordTiers[t].rank;
        ranked += count;
    }
    EXPECT_GE(ranked, 90000u) << "30,000 passwords, 30,000 words of text, names, surnames, film words";
    EXPECT_GE(build_strength_word_index(), ranked);
    for (std::size_t t = 0; t < kEnglishWordTierCount; ++t)
        EXPECT_TRUE(for_each_word(kEnglishWordTiers[t], word, [](const std::string&) {})) << t;
    // A list cut short or with a prefix count past the word before is refused.
    WordTier cut = kRankedWordTiers[kRankedWordTierCount - 1];
    cut.size /= 2;
    EXPECT_FALSE(for_each_word(cut, word, [](const std::string&) {}));
    const WordTier broken = {"\005abc", 4, 1, 1};
    EXPECT_FALSE(for_each_word(broken, word, [](const std::string&) {}));
    // Frequency: the most common word of each kind costs less than a rare one.
    const struct {
        const char* common;
        const char* rare;
    } pairs[] = {{"michael", "broderick"}, {"smith", "bracamonte"}, {"the", "evaporator"}, {"dragon", "geekboy"}};
    for (const auto& p : pairs)
        EXPECT_LT(estimate_strength(p.common).log10_guesses + 1, estimate_strength(p.rare).log10_guesses)
            << p.common << " against " << p.rare;
}

// Passphrases: words from the list, joined as asked, each word drawn uniformly.
TEST(Passphrase, WordsFromTheListJoinedAsAsked)
{
    const std::vector<std::string>& words = passphrase_words();
    ASSERT_GE(words.size(), 7776u);
    EXPECT_TRUE(std::is_sorted(words.begin(), words.end()));
    EXPECT_EQ(std::set<std::string>(words.begin(), words.end()).size(), words.size()) << "distinct";
    for (const std::string& w : words) {
        EXPECT_TRUE(w.size() >= 4 && w.size() <= 8) << w;
        EXPECT_TRUE(std::all_of(w.begin(), w.end(), [](char c) { return c >= 'a' && c <= 'z'; })) << w;
    }
    EXPECT_NEAR(passphrase_bits_per_word(), std::log2(static_cast<double>(words.size())), 1e-9);

    struct Case {
        int words;
        char separator;
        int result;
    };
    const Case cases[] = {{6, '-', 0},   {3, ' ', 0},  {20, '.', 0},  {4, '~', 0},     {2, '-', -2},
                          {21, '-', -2}, {6, ':', -2}, {6, '\t', -2}, {6, '\x7f', -2}, {6, '\xc3', -2}};
    for (const Case& c : cases) {
        SecretString phrase("stale", 5);
        EXPECT_EQ(generate_passphrase(c.words, c.separator, phrase), c.result) << c.words << " " << int(c.separator);
        if (c.result != 0) {
            EXPECT_TRUE(phrase.empty());
            continue;
        }
        std::vector<std::string> parts{std::string()};
        for (char ch : phrase.str())
            if (ch == c.separator)
                parts.emplace_back();
            else
                parts.back() += ch;
        ASSERT_EQ(parts.size(), static_cast<std::size_t>(c.words)) << phrase.str();
        for (const std::string& part : parts) EXPECT_TRUE(std::binary_search(words.begin(), words.end(), part)) << part;
    }
    // The report rates a six-word passphrase strong, every time.
    for (int k = 0; k < 100; ++k) {
        SecretString phrase;
        ASSERT_EQ(generate_passphrase(6, '-', phrase), 0);
        const Strength s = estimate_strength(phrase.str());
        EXPECT_EQ(s.level, kStrong) << phrase.str() << ": 10^" << s.log10_guesses;
    }
}

namespace {

// A source that fails, and one that yields only values the draw rejects.
void failing_source(std::uint8_t*, std::uint32_t)
{
    throw std::runtime_error("no randomness");
}
void stuck_source(std::uint8_t* out, std::uint32_t count)
{
    for (std::uint32_t k = 0; k < count; ++k) out[k] = 0xFF;
}

}  // namespace

TEST(Passphrase, UniformOverManyDraws)
{
    // 64 buckets of the list (by index), 64,000 words drawn: the chi-square statistic
    // with 63 degrees of freedom stays under 120 (p < 10^-5) for a uniform draw.
    const std::vector<std::string>& words = passphrase_words();
    constexpr int kBuckets = 64;
    constexpr int kDraws = 64000;
    std::vector<int> counts(kBuckets, 0);
    int drawn = 0;
    while (drawn < kDraws) {
        SecretString phrase;
        ASSERT_EQ(generate_passphrase(kPassphraseMaxWords, ' ', phrase), 0);
        std::string word;
        const std::string text = phrase.str() + " ";
        for (char ch : text) {
            if (ch != ' ') {
                word += ch;
                continue;
            }
            const auto at = std::lower_bound(words.begin(), words.end(), word);
            ASSERT_TRUE(at != words.end() && *at == word) << word;
            ++counts[static_cast<std::size_t>(at - words.begin()) * kBuckets / words.size()];
            ++drawn;
            word.clear();
        }
    }
    const double expected = static_cast<double>(drawn) / kBuckets;
    double chi_square = 0;
    for (int c : counts) chi_square += (c - expected) * (c - expected) / expected;
    EXPECT_LT(chi_square, 120) << "not uniform";
    EXPECT_GT(chi_square, 20) << "too even to be random";

    SecretString phrase("stale", 5);
    EXPECT_EQ(generate_passphrase_from(failing_source, 6, '-', phrase), -1);
    EXPECT_TRUE(phrase.empty());
    if (words.size() & (words.size() - 1)) {  // only a list whose size is no power of two rejects values
        EXPECT_EQ(generate_passphrase_from(stuck_source, 6, '-', phrase), -1);
    } else {
        ASSERT_EQ(generate_passphrase_from(stuck_source, 3, '-', phrase), 0);
        EXPECT_EQ(phrase.str(), words.back() + "-" + words.back() + "-" + words.back());
    }
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

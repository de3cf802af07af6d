#pragma once
// How many guesses an attacker who knows the common patterns needs for a password.
//
// The password is split into parts, each the cheapest of: a common password or an
// English word from the built-in lists (also with the usual letter substitutions,
// upper-case letters, or reversed), a walk on the US keyboard, a sequence of letters
// or digits, a repeat, a date or year, or otherwise brute force over the character
// classes it uses. The split with the fewest guesses in all wins, with a growing
// price for using more parts (an attacker must also guess the pattern).
//
// Every copy of the password made on the way (lowered, unsubstituted, reversed) is
// wiped before it is released; the parts found are kept as positions only.

#include <string_view>

enum class StrengthLevel { kVeryWeak, kWeak, kFair, kStrong };

struct Strength {
    double log10_guesses = 0;  // 0 for the empty password
    StrengthLevel level = StrengthLevel::kVeryWeak;
};

// The estimate for `password` (bytes; UTF-8 beyond ASCII counts as brute force).
// A longer password than kStrengthAnalysedBytes is first searched whole for repeats
// (of pieces up to that length) and sequences; the estimate is the cheaper of the
// input as its longest such runs with the bytes between them in pieces, and the
// input in pieces of that length alone, the guesses of the parts multiplying. Once a
// description reaches 10^20 guesses (far past strong) its further pieces are left
// out, so that the figure of a long input is a lower bound there. Under a
// millisecond up to 100 bytes, under 10 ms for 10,000.
Strength estimate_strength(std::string_view password);

inline constexpr std::size_t kStrengthAnalysedBytes = 100;

// Builds the index of the built-in lists anew, as the first estimate does once, and
// returns how many distinct words it holds (for the bench and the tests).
std::size_t build_strength_word_index();

// The level for a number of guesses: under 10^6 very weak, under 10^10 weak, under
// 10^14 fair, else strong.
StrengthLevel strength_level(double log10_guesses) noexcept;

// "very weak", "weak", "fair", "strong".
const char* strength_level_text(StrengthLevel level) noexcept;

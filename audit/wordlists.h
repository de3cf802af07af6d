#pragma once
// The strength estimator's built-in lists, generated once by make_wordlists.py from
// Debian packages (wordlists_sources.txt) and committed as wordlists_data.cpp.

#include <cstddef>

// The common passwords, lower case, most common first, each ended by a line feed.
extern const char kCommonPasswords[];
extern const std::size_t kCommonPasswordsSize;

// One tier of English words, sorted and front-coded: each word is a byte below 0x20
// (how many leading letters it shares with the word before) followed by its own
// further letters.
struct WordTier {
    const char* data;
    std::size_t size;
    std::size_t words;
};

// The tiers, the most common words first.
extern const WordTier kEnglishWordTiers[];
extern const std::size_t kEnglishWordTierCount;

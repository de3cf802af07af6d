#pragma once
// The strength estimator's built-in lists and the passphrase words, generated once by
// make_wordlists.py from Debian packages (wordlists_sources.txt) and committed as
// wordlists_data.cpp.

#include <cstddef>
#include <cstdint>
#include <string>

// One list of words, sorted and front-coded (each word is a byte below 0x20, how many
// leading letters it shares with the word before, followed by its own further
// letters), then pair-coded: a byte 0x80 + k stands for the two bytes kWordPairs[k],
// each of which may be such a code again.
struct WordTier {
    const char* data;
    std::size_t size;
    std::size_t words;
    std::uint32_t rank;  // the rank every word of the tier counts as (1: the most common)
};

extern const char kWordPairs[][2];
extern const std::size_t kWordPairCount;

// Common passwords, English text, television and film words, first names and
// surnames merged, each word at its best rank in any of them; one tier for each band
// of ranks (1, 2-3, 4-7, ...), the most common first.
extern const WordTier kRankedWordTiers[];
extern const std::size_t kRankedWordTierCount;

// Further English words of the spell-checker lists, one tier per size, the most
// common first (their rank is 0: the estimator places them after the ranked words).
extern const WordTier kEnglishWordTiers[];
extern const std::size_t kEnglishWordTierCount;

// The passphrase words: common English words of 4 to 8 lower-case letters, no names.
extern const WordTier kPassphraseWords;

// Calls `take(word)` for each word of `tier` in its order; `word` is reused between
// calls. Returns false when the data is not a well-formed list of `tier.words` words.
template <typename Take>
bool for_each_word(const WordTier& tier, std::string& word, Take take);

// The bytes that pair code `code` (0x80 or above) stands for, appended to `out`.
void expand_word_pair(unsigned char code, std::string& out);

template <typename Take>
bool for_each_word(const WordTier& tier, std::string& word, Take take)
{
    std::string bytes;
    bytes.reserve(tier.size * 2);
    for (std::size_t k = 0; k < tier.size; ++k) {
        const unsigned char c = static_cast<unsigned char>(tier.data[k]);
        if (c >= 0x80)
            expand_word_pair(c, bytes);
        else
            bytes += static_cast<char>(c);
    }
    std::size_t count = 0;
    word.clear();
    for (std::size_t k = 0; k < bytes.size();) {
        const std::size_t shared = static_cast<unsigned char>(bytes[k++]);
        if (shared >= 0x20 || shared > word.size()) return false;
        word.resize(shared);
        while (k < bytes.size() && static_cast<unsigned char>(bytes[k]) >= 0x20) word += bytes[k++];
        take(static_cast<const std::string&>(word));
        ++count;
    }
    return count == tier.words;
}

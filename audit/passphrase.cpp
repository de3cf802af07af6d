#include "audit/passphrase.h"

#include "audit/wordlists.h"
#include "crypto/keyed.h"

#include <cmath>
#include <exception>

namespace {

// A source stuck on rejected values counts as failing after this many draws.
constexpr int kMaxRejected = 4096;

std::vector<std::string> decode_passphrase_words()
{
    std::vector<std::string> words;
    words.reserve(kPassphraseWords.words);
    std::string word;
    if (!for_each_word(kPassphraseWords, word, [&](const std::string& w) { words.push_back(w); })) words.clear();
    return words;
}

}  // namespace

const std::vector<std::string>& passphrase_words()
{
    static const std::vector<std::string> words = decode_passphrase_words();
    return words;
}

double passphrase_bits_per_word()
{
    return std::log2(static_cast<double>(passphrase_words().size()));
}

bool is_passphrase_separator(char c) noexcept
{
    return c >= 0x20 && c <= 0x7E && c != ':';
}

int generate_passphrase_from(RandomSource source, int words, char separator, SecretString& out)
{
    out.clear();
    const std::vector<std::string>& list = passphrase_words();
    if (words < kPassphraseMinWords || words > kPassphraseMaxWords || !is_passphrase_separator(separator) ||
        list.empty())
        return -2;
    // Values at or above the largest multiple of the list's size are drawn again.
    const std::uint32_t size = static_cast<std::uint32_t>(list.size());
    const std::uint32_t accept_below = static_cast<std::uint32_t>(0x100000000ull / size * size);
    int rejected = 0;
    for (int w = 0; w < words;) {
        std::uint8_t bytes[4];
        WipeOnExit wipe_bytes(bytes, sizeof bytes);
        try {
            source(bytes, sizeof bytes);
        } catch (const std::exception&) {
            out.clear();
            return -1;
        }
        const std::uint32_t value = static_cast<std::uint32_t>(bytes[0]) << 24 |
            static_cast<std::uint32_t>(bytes[1]) << 16 | static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
        if (accept_below != 0 && value >= accept_below) {
            if (++rejected > kMaxRejected) {
                out.clear();
                return -1;
            }
            continue;
        }
        if (w > 0) out.append(&separator, 1);
        const std::string& word = list[value % size];
        out.append(word.data(), word.size());
        ++w;
    }
    return 0;
}

int generate_passphrase(int words, char separator, SecretString& out)
{
    return generate_passphrase_from(random_bytes, words, separator, out);
}

#include "audit/wordlists.h"

void expand_word_pair(unsigned char code, std::string& out)
{
    const std::size_t k = static_cast<std::size_t>(code - 0x80);
    if (code < 0x80 || k >= kWordPairCount) return;
    for (char half : kWordPairs[k]) {
        const unsigned char c = static_cast<unsigned char>(half);
        // Codes only refer to earlier ones, so that the expansion ends.
        if (c >= 0x80 && c < code)
            expand_word_pair(c, out);
        else if (c < 0x80)
            out += half;
    }
}

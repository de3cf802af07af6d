#pragma once
// Reading UTF-8 one code point at a time, and the case folding and word characters
// of auto-type's title matching. Internal to autotype/.

#include <cstddef>
#include <string>
#include <string_view>

namespace autotype_text {

// The code point at `i`, advancing `i` past it. A byte that does not start a
// well-formed character (overlong, surrogate, beyond U+10FFFF, cut short) is
// U+FFFD and advances `i` by one.
char32_t next_code_point(std::string_view text, std::size_t& i) noexcept;

// The lower-case letter of an upper-case one in the scripts listed in matching.h;
// any other code point as it is.
char32_t fold(char32_t c) noexcept;

// Letters and digits: ASCII ones, and every code point from U+0080 on except the
// punctuation, symbols and spaces of Latin-1, the general punctuation block, the
// currency signs, the letter-like and number-form symbols, arrows, mathematical and
// technical signs, boxes and shapes, dingbats, the other symbol and punctuation
// blocks, the CJK punctuation, variation selectors, emoji and U+FFFD.
bool is_word_character(char32_t c) noexcept;

// The folded code points of `text`.
std::u32string folded(std::string_view text);

// `text` without ASCII spaces and tabs at either end.
std::string_view trimmed(std::string_view text) noexcept;

}  // namespace autotype_text

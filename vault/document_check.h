#pragma once
// What every document must pass before the editor shows it, whichever way it comes
// in (the vault opened or reloaded, a merge, a conflict copy, a CSV import, the
// companion's import): the editor box cannot hold a zero byte (its text would end
// there, and the next store would drop the rest), and bytes that are not UTF-8 are
// shown as replacement characters, which the user is told about.

#include <cstddef>
#include <string>

struct DocumentCheck {
    bool has_zero = false;  // the text holds a zero byte: it must not be shown
    std::size_t zero_offset = 0;  // the first zero byte, counted from 0
    std::size_t zero_line = 0;  // its line, counted from 1
    std::size_t invalid_utf8 = 0;  // bytes not part of a well-formed UTF-8 character
};

// Looks at `size` bytes of decrypted text. Never throws.
DocumentCheck check_document(const char* bytes, std::size_t size) noexcept;
inline DocumentCheck check_document(const std::string& text) noexcept
{
    return check_document(text.data(), text.size());
}

// "The decrypted text holds a zero byte at byte N (line L), which the editor cannot
// show without losing the text after it." Throws std::bad_alloc.
std::string zero_byte_text(const DocumentCheck& check);
// The warning about bytes that are not UTF-8; `original` names the file that keeps
// the original text. Throws std::bad_alloc.
std::string invalid_utf8_text(const DocumentCheck& check, const std::string& original);

// The companion's refusal of text to import (`source` names where it came from):
// "<source>: line L: a zero byte (byte N), which the editor cannot show; nothing
// was written." Empty when the text holds none. Throws std::bad_alloc.
std::string zero_byte_refusal(const std::string& text, const std::string& source);

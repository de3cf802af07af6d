#include "vault/document_check.h"

#include <cstdint>
#include <cstring>

namespace {

// The number of bytes that are not part of a well-formed UTF-8 character (each
// maximal ill-formed run counted byte by byte): the bytes the editor shows as U+FFFD.
std::size_t count_invalid_utf8(const std::uint8_t* bytes, std::size_t size)
{
    std::size_t invalid = 0;
    std::size_t i = 0;
    while (i < size) {
        const unsigned lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;  // no overlong forms
            if (lead == 0xED) high = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
        } else {
            ++invalid;
            ++i;
            continue;
        }
        std::size_t k = 1;
        while (k < length && i + k < size) {
            const unsigned next = bytes[i + k];
            if (k == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF)) break;
            ++k;
        }
        if (k < length) invalid += k;
        i += k;
    }
    return invalid;
}

}  // namespace

DocumentCheck check_document(const char* text, std::size_t size) noexcept
{
    DocumentCheck check;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
    if (!bytes || size == 0) return check;
    if (const void* zero = std::memchr(bytes, 0, size)) {
        check.has_zero = true;
        check.zero_offset = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes);
        check.zero_line = 1;
        for (std::size_t i = 0; i < check.zero_offset; ++i)
            if (bytes[i] == '\n') ++check.zero_line;
    }
    check.invalid_utf8 = count_invalid_utf8(bytes, size);
    return check;
}

std::string zero_byte_text(const DocumentCheck& check)
{
    return "The decrypted text holds a zero byte at byte " + std::to_string(check.zero_offset + 1) + " (line " +
        std::to_string(check.zero_line) + "), which the editor cannot show without losing the text after it.";
}

std::string invalid_utf8_text(const DocumentCheck& check, const std::string& original)
{
    const std::size_t invalid = check.invalid_utf8;
    return "The decrypted text holds " + std::to_string(invalid) +
        (invalid == 1 ? " byte that is" : " bytes that are") +
        " not valid UTF-8. The editor shows them as replacement characters, and saving writes those characters in "
        "their place. " +
        original;
}

std::string zero_byte_refusal(const std::string& text, const std::string& source)
{
    const DocumentCheck check = check_document(text);
    if (!check.has_zero) return std::string();
    return source + ": line " + std::to_string(check.zero_line) + ": a zero byte (byte " +
        std::to_string(check.zero_offset + 1) + "), which the editor cannot show; nothing was written.";
}

#include "tests/support/hex.h"

#include <stdexcept>

namespace {
const char kDigits[] = "0123456789abcdef";
}

std::string to_hex(const std::uint8_t* data, std::size_t size)
{
    std::string hex;
    hex.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 0x0f];
    }
    return hex;
}

std::string to_hex(const std::vector<std::uint8_t>& bytes)
{
    return to_hex(bytes.data(), bytes.size());
}

std::string to_hex(const std::string& bytes)
{
    return to_hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string to_hex(const std::wstring& units)
{
    std::string hex;
    for (wchar_t c : units) {
        const auto unit = static_cast<unsigned>(c) & 0xffff;
        for (int shift = 12; shift >= 0; shift -= 4) hex += kDigits[(unit >> shift) & 0x0f];
        hex += ' ';
    }
    return hex;
}

std::vector<std::uint8_t> from_hex(const std::string& hex)
{
    auto nibble = [](char c) -> std::uint8_t {
        if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
        throw std::invalid_argument("not a hex digit");
    };
    if (hex.size() % 2 != 0) throw std::invalid_argument("odd hex length");
    std::vector<std::uint8_t> bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
    return bytes;
}

std::vector<std::uint8_t> counting_bytes(std::size_t size, std::uint8_t first)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

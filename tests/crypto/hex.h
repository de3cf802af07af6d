#pragma once
// Hex helpers for the crypto tests: known answers are compared as hex strings, so a
// failure prints both values in hex.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

inline std::string to_hex(const std::uint8_t* data, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 0x0f];
    }
    return hex;
}

inline std::string to_hex(const std::vector<std::uint8_t>& bytes)
{
    return to_hex(bytes.data(), bytes.size());
}

inline std::vector<std::uint8_t> from_hex(const std::string& hex)
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

// Bytes 0, 1, 2, ... as many as asked (the FIPS 197 keys are of this form).
inline std::vector<std::uint8_t> counting_bytes(std::size_t size, std::uint8_t first = 0)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

#pragma once
// Hex for the tests: known answers are compared as hex strings, so a failure
// prints both values in hex.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

std::string to_hex(const std::uint8_t* data, std::size_t size);
std::string to_hex(const std::vector<std::uint8_t>& bytes);
// The bytes of a narrow string; a wide string as four digits per UTF-16 unit.
std::string to_hex(const std::string& bytes);
std::string to_hex(const std::wstring& units);

// Throws std::invalid_argument on an odd length or a character that is not a hex digit.
std::vector<std::uint8_t> from_hex(const std::string& hex);

// Bytes first, first + 1, ... as many as asked (the FIPS 197 keys are of this form).
std::vector<std::uint8_t> counting_bytes(std::size_t size, std::uint8_t first = 0);

#define EXPECT_BYTES_EQ(expected, actual) EXPECT_EQ(::to_hex(expected), ::to_hex(actual))

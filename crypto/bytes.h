#pragma once
// Loads and stores of multi-byte words in a fixed byte order, independent of the
// machine's own. The compilers turn each into a single load or store (plus a byte
// swap where needed).

#include <cstdint>

inline std::uint32_t load32_be(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

inline void store32_be(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

inline std::uint64_t load64_be(const std::uint8_t* p)
{
    return (std::uint64_t{load32_be(p)} << 32) | load32_be(p + 4);
}

inline void store64_be(std::uint8_t* p, std::uint64_t v)
{
    store32_be(p, static_cast<std::uint32_t>(v >> 32));
    store32_be(p + 4, static_cast<std::uint32_t>(v));
}

inline std::uint64_t load64_le(const std::uint8_t* p)
{
    return std::uint64_t{p[0]} | (std::uint64_t{p[1]} << 8) | (std::uint64_t{p[2]} << 16) |
        (std::uint64_t{p[3]} << 24) | (std::uint64_t{p[4]} << 32) | (std::uint64_t{p[5]} << 40) |
        (std::uint64_t{p[6]} << 48) | (std::uint64_t{p[7]} << 56);
}

inline void store64_le(std::uint8_t* p, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

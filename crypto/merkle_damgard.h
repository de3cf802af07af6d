#pragma once
// The message buffering and padding that SHA-1, SHA-256 and SHA-512 share
// (FIPS 180-4 5.1): whole blocks go to the compression function as they fill; the
// end of the message gets a 1 bit, zeros, and the message length in bits, big-endian,
// in the last `LengthSize` bytes of the final block. Internal to crypto/.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/bytes.h"

namespace merkle_damgard {

// Absorbs `size` bytes; `length` counts every byte absorbed so far.
template <std::size_t BlockSize, class Compress>
void update(std::uint8_t (&block)[BlockSize], std::uint64_t& length, const std::uint8_t* data, std::size_t size,
            Compress compress) noexcept
{
    if (size == 0) return;
    std::size_t used = static_cast<std::size_t>(length % BlockSize);
    length += size;
    if (used > 0) {
        const std::size_t take = size < BlockSize - used ? size : BlockSize - used;
        std::memcpy(block + used, data, take);
        data += take;
        size -= take;
        used += take;
        if (used < BlockSize) return;
        compress(block);
    }
    for (; size >= BlockSize; data += BlockSize, size -= BlockSize) compress(data);
    if (size > 0) std::memcpy(block, data, size);
}

// FIPS 180-4 5.1.1 / 5.1.2: pads and compresses the last block or two. A length
// field wider than 8 bytes has its high bytes zero.
template <std::size_t BlockSize, std::size_t LengthSize, class Compress>
void finish(std::uint8_t (&block)[BlockSize], std::uint64_t length, Compress compress) noexcept
{
    std::size_t used = static_cast<std::size_t>(length % BlockSize);
    block[used++] = 0x80;
    if (used > BlockSize - LengthSize) {
        std::memset(block + used, 0, BlockSize - used);
        compress(block);
        used = 0;
    }
    std::memset(block + used, 0, BlockSize - 8 - used);
    store64_be(block + BlockSize - 8, length * 8);
    compress(block);
}

}  // namespace merkle_damgard

#pragma once
// What SHA-1, SHA-256 and SHA-512 share (FIPS 180-4): the message buffering and
// padding (5.1) - whole blocks go to the compression function as they fill; the end
// of the message gets a 1 bit, zeros, and the message length in bits, big-endian, in
// the last `LengthSize` bytes of the final block - and the hash object around them.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/bytes.h"
#include "crypto/wipe.h"

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

// The sizes and the digest's byte order of a FIPS 180-4 hash with `StateWords` words
// of type `W`; its traits add the initial hash value and the compression.
template <typename W, std::size_t StateWords, std::size_t DigestSize, std::size_t BlockSize>
struct Fips180Sizes {
    using Word = W;
    static constexpr std::size_t kStateWords = StateWords;
    static constexpr std::size_t kDigestSize = DigestSize;
    static constexpr std::size_t kBlockSize = BlockSize;
    // 5.1.1, 5.1.2: the length field is two words long.
    static constexpr std::size_t kLengthSize = 2 * sizeof(W);
    static void store(std::uint8_t* out, W word) noexcept
    {
        if constexpr (sizeof(W) == 4)
            store32_be(out, word);
        else
            store64_be(out, word);
    }
};

// A hash of a message that arrives in pieces: update() any number of times, then
// finish() once. No allocation, cannot fail; the destructor wipes the state (it holds
// key material inside an HMAC). `Traits` names the word, the sizes, the initial hash
// value, the compression of one block and the store of one digest word.
template <typename Traits>
class MerkleDamgardHash {
public:
    using Word = typename Traits::Word;
    static constexpr std::size_t kDigestSize = Traits::kDigestSize;
    static constexpr std::size_t kBlockSize = Traits::kBlockSize;

    MerkleDamgardHash() noexcept
    {
        for (std::size_t i = 0; i < Traits::kStateWords; ++i) h_[i] = Traits::kInitial[i];
    }
    ~MerkleDamgardHash()
    {
        secure_wipe(h_, sizeof h_);
        secure_wipe(block_, sizeof block_);
    }
    MerkleDamgardHash(const MerkleDamgardHash&) = delete;
    MerkleDamgardHash& operator=(const MerkleDamgardHash&) = delete;

    // A null `data` is allowed with size 0.
    void update(const std::uint8_t* data, std::size_t size) noexcept
    {
        merkle_damgard::update(block_, length_, data, size, [this](const std::uint8_t* b) { Traits::compress(h_, b); });
    }
    // Pads, compresses and writes the digest. The object is spent afterwards.
    void finish(std::uint8_t out[kDigestSize]) noexcept
    {
        merkle_damgard::finish<kBlockSize, Traits::kLengthSize>(
            block_, length_, [this](const std::uint8_t* b) { Traits::compress(h_, b); });
        for (std::size_t i = 0; i < kDigestSize / sizeof(Word); ++i) Traits::store(out + i * sizeof(Word), h_[i]);
    }

private:
    Word h_[Traits::kStateWords];
    std::uint8_t block_[kBlockSize] = {};
    std::uint64_t length_ = 0;  // bytes absorbed so far
};

#pragma once
// SHA-1 (FIPS 180-4). Kept for the one-time codes (RFC 4226/6238 default to
// HMAC-SHA-1), where its collision weakness does not matter; nothing else uses it.

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kSha1DigestSize = 20;
inline constexpr std::size_t kSha1BlockSize = 64;

// SHA-1 of a message that arrives in pieces: update() any number of times, then
// finish() once. No allocation, cannot fail; the destructor wipes the state (it holds
// key material inside the HMAC).
class Sha1 {
public:
    static constexpr std::size_t kDigestSize = kSha1DigestSize;
    static constexpr std::size_t kBlockSize = kSha1BlockSize;

    Sha1() noexcept;
    ~Sha1();
    Sha1(const Sha1&) = delete;
    Sha1& operator=(const Sha1&) = delete;

    // A null `data` is allowed with size 0.
    void update(const std::uint8_t* data, std::size_t size) noexcept;
    // Pads, compresses and writes the digest. The object is spent afterwards.
    void finish(std::uint8_t out[kSha1DigestSize]) noexcept;

private:
    std::uint32_t h_[5];
    std::uint8_t block_[kSha1BlockSize];
    std::uint64_t length_;  // bytes absorbed so far
};

// SHA-1 digest of `in` in one call.
void sha1(const std::uint8_t* in, std::size_t in_len, std::uint8_t out[kSha1DigestSize]) noexcept;

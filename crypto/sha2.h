#pragma once
// SHA-256 and SHA-512 (FIPS 180-4).

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kSha256DigestSize = 32;
inline constexpr std::size_t kSha256BlockSize = 64;
inline constexpr std::size_t kSha512DigestSize = 64;
inline constexpr std::size_t kSha512BlockSize = 128;

// SHA-256 of a message that arrives in pieces: update() any number of times, then
// finish() once. No allocation, cannot fail; the destructor wipes the state.
class Sha256 {
public:
    static constexpr std::size_t kDigestSize = kSha256DigestSize;
    static constexpr std::size_t kBlockSize = kSha256BlockSize;

    Sha256() noexcept;
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // A null `data` is allowed with size 0.
    void update(const std::uint8_t* data, std::size_t size) noexcept;
    // Pads, compresses and writes the digest. The object is spent afterwards.
    void finish(std::uint8_t out[kSha256DigestSize]) noexcept;

private:
    std::uint32_t h_[8];
    std::uint8_t block_[kSha256BlockSize];
    std::uint64_t length_;  // bytes absorbed so far
};

// SHA-512, the same way. Messages are limited to 2^64 - 1 bytes (the 128-bit length
// field's high half is always zero).
class Sha512 {
public:
    static constexpr std::size_t kDigestSize = kSha512DigestSize;
    static constexpr std::size_t kBlockSize = kSha512BlockSize;

    Sha512() noexcept;
    ~Sha512();
    Sha512(const Sha512&) = delete;
    Sha512& operator=(const Sha512&) = delete;

    void update(const std::uint8_t* data, std::size_t size) noexcept;
    void finish(std::uint8_t out[kSha512DigestSize]) noexcept;

private:
    std::uint64_t h_[8];
    std::uint8_t block_[kSha512BlockSize];
    std::uint64_t length_;
};

// One-call digests.
void sha256(const std::uint8_t* in, std::size_t in_len, std::uint8_t out[kSha256DigestSize]) noexcept;
void sha512(const std::uint8_t* in, std::size_t in_len, std::uint8_t out[kSha512DigestSize]) noexcept;

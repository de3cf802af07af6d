#pragma once
// Keccak sponge and SHA3-256 (FIPS 202).

#include <cstddef>
#include <cstdint>

inline constexpr std::uint32_t kSha3_256DigestSize = 32;
inline constexpr std::uint32_t kSha3_256RateBytes = 136;  // 1088 bits

// Keccak-p[1600, 24] on the 200-byte state (lane (x, y) at bytes 8*(x + 5*y),
// least significant byte first), permuted in place.
void keccak_f1600(std::uint8_t state[200]);

// The same permutation on the state held as 25 lanes (lane (x, y) at index x + 5*y),
// for callers that keep a state between calls (the HMAC pads of PBKDF2).
void keccak_f1600_lanes(std::uint64_t lanes[25]);

// The sponge of FIPS 202 with pad10*1 after the `suffix` bits (0x06 for SHA3).
// rate + capacity must be 1600 and the rate a non-zero multiple of 8 (both in bits);
// otherwise returns at once without writing `out`. Writes exactly out_len bytes.
// `out` may overlap `in`: all input is read before any output is written.
// No allocation; the state is wiped before returning.
void keccak_sponge(std::uint32_t rate, std::uint32_t capacity, const std::uint8_t* in, std::uint64_t in_len,
                   std::uint8_t suffix, std::uint8_t* out, std::uint64_t out_len);

// SHA3-256 digest of `in`: keccak_sponge(1088, 512, in, in_len, 0x06, out, 32).
void sha3_256(const std::uint8_t* in, std::uint32_t in_len, std::uint8_t out[32]);

// SHA3-256 of a message that arrives in pieces: update() any number of times, then
// finish() once. The digest equals sha3_256 of the pieces joined. No allocation,
// cannot fail; the destructor wipes the state (it holds key material in the HMAC).
class Sha3_256 {
public:
    Sha3_256() noexcept;
    ~Sha3_256();
    Sha3_256(const Sha3_256&) = delete;
    Sha3_256& operator=(const Sha3_256&) = delete;

    // A null `data` is allowed with size 0.
    void update(const std::uint8_t* data, std::size_t size) noexcept;
    // Pads, permutes and writes the digest. The object is spent afterwards.
    void finish(std::uint8_t out[32]) noexcept;

private:
    std::uint64_t lanes_[25];
    std::uint32_t position_;  // bytes absorbed into the current block
};

#pragma once
// HMAC (FIPS 198-1, RFC 2104) over SHA-1, SHA-256 and SHA-512, with the hash's own
// input block (64 bytes for SHA-1 and SHA-256, 128 for SHA-512):
//   K0  = key longer than the block ? H(key) : key, padded with zeros to the block
//   out = H((K0 ^ opad) || H((K0 ^ ipad) || msg))
// Never allocate; cannot fail. K0, the pads, the inner digest and the hash states
// are wiped before returning. `out` may overlap `msg` or `key`: both are read in full
// before it is written.

#include <cstddef>
#include <cstdint>

void hmac_sha1(const std::uint8_t* msg, std::size_t msg_len, const std::uint8_t* key, std::size_t key_len,
               std::uint8_t out[20]) noexcept;
void hmac_sha256(const std::uint8_t* msg, std::size_t msg_len, const std::uint8_t* key, std::size_t key_len,
                 std::uint8_t out[32]) noexcept;
void hmac_sha512(const std::uint8_t* msg, std::size_t msg_len, const std::uint8_t* key, std::size_t key_len,
                 std::uint8_t out[64]) noexcept;

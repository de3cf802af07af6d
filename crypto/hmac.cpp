#include "crypto/hmac.h"

#include "crypto/sha1.h"
#include "crypto/sha2.h"
#include "crypto/wipe.h"

#include <cstring>

namespace {

constexpr std::uint8_t kInnerPad = 0x36;  // FIPS 198-1: ipad
constexpr std::uint8_t kOuterPad = 0x5c;  // FIPS 198-1: opad

// FIPS 198-1 section 4, steps 1 to 9, for a hash with update/finish.
template <class Hash>
void hmac(const std::uint8_t* msg, std::size_t msg_len, const std::uint8_t* key, std::size_t key_len,
          std::uint8_t* out) noexcept
{
    std::uint8_t key_block[Hash::kBlockSize];  // K0
    WipeOnExit wipe_key_block(key_block, sizeof key_block);
    std::uint8_t pad[Hash::kBlockSize];
    WipeOnExit wipe_pad(pad, sizeof pad);
    std::uint8_t digest[Hash::kDigestSize];
    WipeOnExit wipe_digest(digest, sizeof digest);

    // Steps 1 to 3: K0 is the key, or its digest when longer than the block, padded with zeros.
    std::memset(key_block, 0, sizeof key_block);
    if (key_len > Hash::kBlockSize) {
        Hash key_hash;
        key_hash.update(key, key_len);
        key_hash.finish(key_block);
    } else if (key_len > 0) {
        std::memcpy(key_block, key, key_len);
    }
    // Steps 4 to 6: H((K0 ^ ipad) || text).
    for (std::size_t i = 0; i < sizeof pad; ++i) pad[i] = static_cast<std::uint8_t>(key_block[i] ^ kInnerPad);
    {
        Hash inner;
        inner.update(pad, sizeof pad);
        inner.update(msg, msg_len);
        inner.finish(digest);
    }
    // Steps 7 to 9: H((K0 ^ opad) || inner digest).
    for (std::size_t i = 0; i < sizeof pad; ++i) pad[i] = static_cast<std::uint8_t>(key_block[i] ^ kOuterPad);
    Hash outer;
    outer.update(pad, sizeof pad);
    outer.update(digest, sizeof digest);
    outer.finish(digest);
    std::memcpy(out, digest, sizeof digest);
}

}  // namespace

void hmac_sha1(const std::uint8_t* msg, std::size_t msg_len, const std::uint8_t* key, std::size_t key_len,
               std::uint8_t out[20]) noexcept
{
    hmac<Sha1>(msg, msg_len, key, key_len, out);
}

void hmac_sha256(const std::uint8_t* msg, std::size_t msg_len, const std::uint8_t* key, std::size_t key_len,
                 std::uint8_t out[32]) noexcept
{
    hmac<Sha256>(msg, msg_len, key, key_len, out);
}

void hmac_sha512(const std::uint8_t* msg, std::size_t msg_len, const std::uint8_t* key, std::size_t key_len,
                 std::uint8_t out[64]) noexcept
{
    hmac<Sha512>(msg, msg_len, key, key_len, out);
}

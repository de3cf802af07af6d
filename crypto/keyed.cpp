#include "crypto/keyed.h"

#include "crypto/aes.h"
#include "crypto/bytes.h"
#include "crypto/sha3.h"
#include "crypto/wipe.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <random>

namespace {

constexpr std::uint32_t kAesKeyBits = 256;
constexpr std::size_t kAesBlockSize = 16;
constexpr std::size_t kCounterSize = 4;   // bytes 0 to 3 of the counter block
constexpr std::size_t kNonceSize = 12;    // bytes 4 to 15
static_assert(kCounterSize + kNonceSize == kAesBlockSize, "counter block layout");

// The HMAC block: the key is padded or hashed to this length, and the pads are as long.
constexpr std::size_t kHmacBlockSize = kSha3_256DigestSize;
constexpr std::uint8_t kInnerPad = 0x36;  // RFC 2104: ipad
constexpr std::uint8_t kOuterPad = 0x5c;  // RFC 2104: opad

constexpr std::size_t kBlockIndexSize = 4;  // RFC 8018 5.2: INT(i), four octets

}  // namespace

void ctr_crypt(const std::uint8_t* in, std::uint32_t len, const std::uint8_t key[32],
               const std::uint8_t nonce[12], std::uint8_t* out)
{
    AesRoundKeys round_keys;
    WipeOnExit wipe_round_keys(round_keys, sizeof round_keys);
    std::uint8_t counter[kAesBlockSize];
    WipeOnExit wipe_counter(counter, sizeof counter);
    std::uint8_t keystream[kAesBlockSize];
    WipeOnExit wipe_keystream(keystream, sizeof keystream);

    const int rounds = aes_expand_key(round_keys, key, kAesKeyBits);
    // The counter field is 0 for every block and never advances, so every block of the
    // data meets the same keystream block: it is computed once.
    store32_be(counter, 0);
    std::memcpy(counter + kCounterSize, nonce, kNonceSize);
    aes_encrypt_block(round_keys, rounds, counter, keystream);

    std::size_t i = 0;
    for (; i + kAesBlockSize <= len; i += kAesBlockSize)
        for (std::size_t k = 0; k < kAesBlockSize; ++k)
            out[i + k] = static_cast<std::uint8_t>(in[i + k] ^ keystream[k]);
    for (std::size_t k = 0; i + k < len; ++k)
        out[i + k] = static_cast<std::uint8_t>(in[i + k] ^ keystream[k]);
}

void hmac_sha3_256(const std::uint8_t* msg, std::uint32_t msg_len,
                   const std::uint8_t* key, std::uint32_t key_len, std::uint8_t out[32])
{
    // RFC 2104 (1): K0, the key hashed when longer than the block, else zero-padded.
    std::uint8_t key_block[kHmacBlockSize] = {};
    WipeOnExit wipe_key_block(key_block, sizeof key_block);
    if (key_len > kHmacBlockSize)
        sha3_256(key, key_len, key_block);
    else if (key_len > 0)
        std::memcpy(key_block, key, key_len);

    std::uint8_t pad[kHmacBlockSize];
    WipeOnExit wipe_pad(pad, sizeof pad);
    std::uint8_t inner_digest[kSha3_256DigestSize];
    WipeOnExit wipe_inner_digest(inner_digest, sizeof inner_digest);

    // RFC 2104 (2) to (4): H((K0 ^ ipad) || text), fed to the sponge in two pieces.
    for (std::size_t i = 0; i < kHmacBlockSize; ++i)
        pad[i] = static_cast<std::uint8_t>(key_block[i] ^ kInnerPad);
    {
        Sha3_256 inner;
        inner.update(pad, sizeof pad);
        inner.update(msg, msg_len);
        inner.finish(inner_digest);
    }

    // RFC 2104 (5) to (7): H((K0 ^ opad) || inner digest).
    for (std::size_t i = 0; i < kHmacBlockSize; ++i)
        pad[i] = static_cast<std::uint8_t>(key_block[i] ^ kOuterPad);
    Sha3_256 outer;
    outer.update(pad, sizeof pad);
    outer.update(inner_digest, sizeof inner_digest);
    outer.finish(out);
}

int pbkdf2(const std::uint8_t* password, std::uint32_t password_len,
           const std::uint8_t* salt, std::uint32_t salt_len,
           std::uint8_t* out, std::uint32_t out_len,
           std::uint32_t iterations, prf_fn prf, std::uint32_t prf_len)
{
    if (iterations == 0 || out_len == 0 || salt_len == 0 || prf_len == 0 || prf == nullptr)
        return -1;
    // The prf's message, salt || INT(i), must fit its 32-bit length, and the work buffer
    // (salt, index, T, U, U') must fit the address space of a 32-bit build.
    if (salt_len > UINT32_MAX - kBlockIndexSize) return -1;
    const std::uint64_t work_size =
        std::uint64_t{salt_len} + kBlockIndexSize + 3 * std::uint64_t{prf_len};
    if (work_size > SIZE_MAX) return -1;

    const std::size_t h = prf_len;
    std::unique_ptr<std::uint8_t[]> work(new (std::nothrow) std::uint8_t[work_size]);
    if (!work) return -1;
    WipeOnExit wipe_work(work.get(), static_cast<std::size_t>(work_size));
    std::uint8_t* const index = work.get() + salt_len;
    std::uint8_t* const t = index + kBlockIndexSize;
    std::uint8_t* const u = t + h;
    std::uint8_t* const next_u = u + h;
    std::memcpy(work.get(), salt, salt_len);
    const std::uint32_t message_len = salt_len + static_cast<std::uint32_t>(kBlockIndexSize);

    // RFC 8018 5.2 step 3: T_i = F(P, S, c, i) = U_1 ^ U_2 ^ ... ^ U_c.
    std::uint32_t block = 1;
    while (out_len > 0) {
        store32_be(index, block);
        prf(work.get(), message_len, password, password_len, u);  // U_1 = PRF(P, S || INT(i))
        std::memcpy(t, u, h);
        for (std::uint32_t j = 1; j < iterations; ++j) {
            prf(u, prf_len, password, password_len, next_u);      // U_j = PRF(P, U_{j-1})
            std::memcpy(u, next_u, h);
            for (std::size_t k = 0; k < h; ++k) t[k] ^= u[k];
        }
        // RFC 8018 5.2 steps 4 and 5: DK = T_1 || T_2 || ... truncated to dkLen.
        const std::uint32_t take = out_len < prf_len ? out_len : prf_len;
        std::memcpy(out, t, take);
        out += take;
        out_len -= take;
        ++block;
    }
    return 0;
}

void random_bytes(std::uint8_t* out, std::uint32_t count)
{
    std::random_device device;  // the operating system's generator, opened for this call
    for (std::uint32_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint8_t>(device() & 0xff);
}

#include "crypto/keyed.h"

#include "crypto/aes.h"
#include "crypto/bytes.h"
#include "crypto/keccak_x2.h"
#include "crypto/sha3.h"
#include "crypto/wipe.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr std::uint32_t kAesKeyBits = 256;
constexpr std::size_t kAesBlockSize = 16;
constexpr std::size_t kCounterSize = 4;  // bytes 0 to 3 of the counter block
constexpr std::size_t kNonceSize = 12;  // bytes 4 to 15
static_assert(kCounterSize + kNonceSize == kAesBlockSize, "counter block layout");

// The HMAC block: the key is padded or hashed to this length, and the pads are as long.
constexpr std::size_t kHmacBlockSize = kSha3_256DigestSize;
constexpr std::uint8_t kInnerPad = 0x36;  // RFC 2104: ipad
constexpr std::uint8_t kOuterPad = 0x5c;  // RFC 2104: opad

constexpr std::size_t kBlockIndexSize = 4;  // RFC 8018 5.2: INT(i), four octets

// FIPS 198-1: the HMAC block is the hash's input block, 136 bytes for SHA3-256.
constexpr std::size_t kFipsHmacBlockSize = kSha3_256RateBytes;
constexpr std::size_t kLanes = 25;
constexpr std::size_t kLaneBytes = 8;
constexpr std::size_t kRateLanes = kFipsHmacBlockSize / kLaneBytes;  // 17
constexpr std::size_t kDigestLanes = kSha3_256DigestSize / kLaneBytes;  // 4
// SHA3 padding of a 32-byte message in one block: the domain bits 01 and the first pad
// bit at byte 32 (0x06), the last pad bit at byte 135 (0x80).
constexpr std::uint64_t kDigestPadFirst = 0x06;  // lane 4, byte 0
constexpr std::uint64_t kDigestPadLast = std::uint64_t{0x80} << 56;  // lane 16, byte 7

// K0 of FIPS 198-1 for SHA3-256: the key hashed when longer than the block, else
// zero-padded to the block.
void fips_key_block(const std::uint8_t* key, std::uint32_t key_len, std::uint8_t block[kFipsHmacBlockSize])
{
    std::memset(block, 0, kFipsHmacBlockSize);
    if (key_len > kFipsHmacBlockSize)
        sha3_256(key, key_len, block);
    else if (key_len > 0)
        std::memcpy(block, key, key_len);
}

// FIPS 198-1 steps 4 to 9 (RFC 2104 (2) to (7)) from K0 of `block_size` bytes (at
// most the 136-byte block of SHA3-256): H((K0 ^ opad) || H((K0 ^ ipad) || a || b)).
void hmac_with_key_block(const std::uint8_t* key_block, std::size_t block_size, const std::uint8_t* a,
                         std::size_t a_len, const std::uint8_t* b, std::size_t b_len, std::uint8_t out[32])
{
    std::uint8_t pad[kFipsHmacBlockSize];
    WipeOnExit wipe_pad(pad, sizeof pad);
    std::uint8_t inner_digest[kSha3_256DigestSize];
    WipeOnExit wipe_inner_digest(inner_digest, sizeof inner_digest);

    for (std::size_t i = 0; i < block_size; ++i) pad[i] = static_cast<std::uint8_t>(key_block[i] ^ kInnerPad);
    {
        Sha3_256 inner;
        inner.update(pad, block_size);
        inner.update(a, a_len);
        inner.update(b, b_len);
        inner.finish(inner_digest);
    }
    for (std::size_t i = 0; i < block_size; ++i) pad[i] = static_cast<std::uint8_t>(key_block[i] ^ kOuterPad);
    Sha3_256 outer;
    outer.update(pad, block_size);
    outer.update(inner_digest, sizeof inner_digest);
    outer.finish(out);
}

// The Keccak state after absorbing one full block (K0 ^ pad): the state every HMAC
// call under that key starts from.
void pad_state(const std::uint8_t key_block[kFipsHmacBlockSize], std::uint8_t pad, std::uint64_t state[kLanes])
{
    std::uint8_t padded[kFipsHmacBlockSize];
    WipeOnExit wipe_padded(padded, sizeof padded);
    for (std::size_t i = 0; i < kFipsHmacBlockSize; ++i) padded[i] = static_cast<std::uint8_t>(key_block[i] ^ pad);
    for (std::size_t i = 0; i < kLanes; ++i) state[i] = 0;
    for (std::size_t i = 0; i < kRateLanes; ++i) state[i] = load64_le(padded + kLaneBytes * i);
    keccak_f1600_lanes(state);
}

// SHA3-256 of (the block absorbed into `start`) || the 32 bytes in `message`: one
// permutation, since the message and its padding fill one block.
void hash_digest_after(const std::uint64_t start[kLanes], const std::uint64_t message[kDigestLanes],
                       std::uint64_t work[kLanes], std::uint64_t digest[kDigestLanes])
{
    for (std::size_t i = 0; i < kLanes; ++i) work[i] = start[i];
    for (std::size_t i = 0; i < kDigestLanes; ++i) work[i] ^= message[i];
    work[kDigestLanes] ^= kDigestPadFirst;
    work[kRateLanes - 1] ^= kDigestPadLast;
    keccak_f1600_lanes(work);
    for (std::size_t i = 0; i < kDigestLanes; ++i) digest[i] = work[i];
}

// The key schedule and the counter and keystream blocks of one counter-mode call,
// wiped when the call returns.
struct CtrBlocks {
    AesRoundKeys round_keys;
    std::uint8_t counter[kAesBlockSize] = {};
    std::uint8_t keystream[kAesBlockSize] = {};
    int rounds;

    explicit CtrBlocks(const std::uint8_t key[32]) : rounds(aes_expand_key(round_keys, key, kAesKeyBits)) {}
    ~CtrBlocks()
    {
        secure_wipe(round_keys, sizeof round_keys);
        secure_wipe(counter, sizeof counter);
        secure_wipe(keystream, sizeof keystream);
    }
    CtrBlocks(const CtrBlocks&) = delete;
    CtrBlocks& operator=(const CtrBlocks&) = delete;
};

}  // namespace

void format_v1::ctr_crypt(const std::uint8_t* in, std::uint32_t len, const std::uint8_t key[32],
                          const std::uint8_t nonce[12], std::uint8_t* out)
{
    CtrBlocks b(key);
    // The counter field is 0 for every block and never advances, so every block of the
    // data meets the same keystream block: it is computed once.
    store32_be(b.counter, 0);
    std::memcpy(b.counter + kCounterSize, nonce, kNonceSize);
    aes_encrypt_block(b.round_keys, b.rounds, b.counter, b.keystream);

    std::size_t i = 0;
    for (; i + kAesBlockSize <= len; i += kAesBlockSize)
        for (std::size_t k = 0; k < kAesBlockSize; ++k)
            out[i + k] = static_cast<std::uint8_t>(in[i + k] ^ b.keystream[k]);
    for (std::size_t k = 0; i + k < len; ++k) out[i + k] = static_cast<std::uint8_t>(in[i + k] ^ b.keystream[k]);
}

void ctr_crypt_sp800(const std::uint8_t* in, std::uint32_t len, const std::uint8_t key[32],
                     const std::uint8_t nonce[12], std::uint8_t* out)
{
    CtrBlocks b(key);
    std::memcpy(b.counter, nonce, kNonceSize);
    std::uint32_t block = 0;
    for (std::size_t i = 0; i < len; i += kAesBlockSize) {
        // SP 800-38A B.1: the standard incrementing function on the last 32 bits. A
        // 32-bit length never reaches 2^32 blocks, so the counter never wraps.
        store32_be(b.counter + kNonceSize, block++);
        aes_encrypt_block(b.round_keys, b.rounds, b.counter, b.keystream);
        const std::size_t take = len - i < kAesBlockSize ? len - i : kAesBlockSize;
        for (std::size_t k = 0; k < take; ++k) out[i + k] = static_cast<std::uint8_t>(in[i + k] ^ b.keystream[k]);
    }
}

void format_v1::hmac_sha3_256(const std::uint8_t* msg, std::uint32_t msg_len, const std::uint8_t* key,
                              std::uint32_t key_len, std::uint8_t out[32])
{
    // RFC 2104 (1): K0, the key hashed when longer than the block, else zero-padded.
    std::uint8_t key_block[kHmacBlockSize] = {};
    WipeOnExit wipe_key_block(key_block, sizeof key_block);
    if (key_len > kHmacBlockSize)
        sha3_256(key, key_len, key_block);
    else if (key_len > 0)
        std::memcpy(key_block, key, key_len);

    // The 32-byte pads of format 1.0, not the hash's 136-byte block.
    hmac_with_key_block(key_block, kHmacBlockSize, msg, msg_len, nullptr, 0, out);
}

void hmac_sha3_256_fips(const std::uint8_t* msg, std::uint32_t msg_len, const std::uint8_t* key, std::uint32_t key_len,
                        std::uint8_t out[32])
{
    std::uint8_t key_block[kFipsHmacBlockSize];
    WipeOnExit wipe_key_block(key_block, sizeof key_block);
    fips_key_block(key, key_len, key_block);
    hmac_with_key_block(key_block, kFipsHmacBlockSize, msg, msg_len, nullptr, 0, out);
}

void hmac_sha3_256_fips_joined(const std::uint8_t* first, std::uint32_t first_len, const std::uint8_t* second,
                               std::uint32_t second_len, const std::uint8_t* key, std::uint32_t key_len,
                               std::uint8_t out[32])
{
    std::uint8_t key_block[kFipsHmacBlockSize];
    WipeOnExit wipe_key_block(key_block, sizeof key_block);
    fips_key_block(key, key_len, key_block);
    hmac_with_key_block(key_block, kFipsHmacBlockSize, first, first_len, second, second_len, out);
}

int pbkdf2_hmac_sha3_256(const std::uint8_t* password, std::uint32_t password_len, const std::uint8_t* salt,
                         std::uint32_t salt_len, std::uint8_t* out, std::uint32_t out_len, std::uint32_t iterations)
{
    if (iterations == 0 || out_len == 0 || salt_len == 0) return -1;

    // Everything secret lives in this one block, wiped on every return.
    struct Work {
        std::uint8_t key_block[kFipsHmacBlockSize];
        std::uint8_t bytes[kSha3_256DigestSize];
        std::uint64_t inner[kLanes];  // the state after K0 ^ ipad
        std::uint64_t outer[kLanes];  // the state after K0 ^ opad
        std::uint64_t state[kLanes];
        std::uint64_t u[2][kDigestLanes];  // U of the block (of each of a pair)
        std::uint64_t v[kDigestLanes];
        std::uint64_t t[2][kDigestLanes];  // T of the block (of each of a pair)
    };
    Work w;
    WipeOnExit wipe_work(&w, sizeof w);

    fips_key_block(password, password_len, w.key_block);
    pad_state(w.key_block, kInnerPad, w.inner);
    pad_state(w.key_block, kOuterPad, w.outer);

    // RFC 8018 5.2 step 3: T_i = U_1 ^ U_2 ^ ... ^ U_c, each U the HMAC of the previous.
    // Blocks go in pairs through the two-state permutation where the processor has it.
    const bool pairs = pbkdf2_x2_available();
    std::uint32_t block = 1;
    while (out_len > 0) {
        const std::uint32_t blocks_left = (out_len + kSha3_256DigestSize - 1) / kSha3_256DigestSize;
        const std::uint32_t together = pairs && blocks_left >= 2 ? 2 : 1;
        for (std::uint32_t k = 0; k < together; ++k) {
            std::uint8_t index[kBlockIndexSize];
            store32_be(index, block + k);
            hmac_with_key_block(w.key_block, kFipsHmacBlockSize, salt, salt_len, index, sizeof index, w.bytes);
            for (std::size_t i = 0; i < kDigestLanes; ++i) {
                w.u[k][i] = load64_le(w.bytes + kLaneBytes * i);
                w.t[k][i] = w.u[k][i];
            }
        }
        if (together == 2) {
            pbkdf2_iterate_x2(w.inner, w.outer, w.u, w.t, iterations - 1);
        } else {
            for (std::uint32_t j = 1; j < iterations; ++j) {
                hash_digest_after(w.inner, w.u[0], w.state, w.v);  // H((K0 ^ ipad) || U)
                hash_digest_after(w.outer, w.v, w.state, w.u[0]);  // H((K0 ^ opad) || that)
                for (std::size_t i = 0; i < kDigestLanes; ++i) w.t[0][i] ^= w.u[0][i];
            }
        }
        // RFC 8018 5.2 steps 4 and 5: DK = T_1 || T_2 || ... truncated to dkLen.
        for (std::uint32_t k = 0; k < together; ++k) {
            for (std::size_t i = 0; i < kDigestLanes; ++i) store64_le(w.bytes + kLaneBytes * i, w.t[k][i]);
            const std::uint32_t take = out_len < kSha3_256DigestSize ? out_len : kSha3_256DigestSize;
            std::memcpy(out, w.bytes, take);
            out += take;
            out_len -= take;
        }
        block += together;
    }
    return 0;
}

int format_v1::pbkdf2(const std::uint8_t* password, std::uint32_t password_len, const std::uint8_t* salt,
                      std::uint32_t salt_len, std::uint8_t* out, std::uint32_t out_len, std::uint32_t iterations,
                      prf_fn prf, std::uint32_t prf_len)
{
    if (iterations == 0 || out_len == 0 || salt_len == 0 || prf_len == 0 || prf == nullptr) return -1;
    // The prf's message, salt || INT(i), must fit its 32-bit length, and the work buffer
    // (salt, index, T, U, U') must fit the address space of a 32-bit build.
    if (salt_len > UINT32_MAX - kBlockIndexSize) return -1;
    const std::uint64_t work_size = std::uint64_t{salt_len} + kBlockIndexSize + 3 * std::uint64_t{prf_len};
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
            prf(u, prf_len, password, password_len, next_u);  // U_j = PRF(P, U_{j-1})
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

bool pbkdf2_x2_available() noexcept
{
#if defined(__i386__)
    return __builtin_cpu_supports("sse2");
#else
    return true;
#endif
}

#pragma once
// Quick unlock's kept keys: while the editor is locked, the vault's derived keys (never
// the master password, never the document) are kept encrypted under a key made from
// the last characters of the master password (the "code") and a random secret that
// only this process can read back. One wrong code, an expired deadline or a vault
// whose salt or iteration count changed wipes everything kept; the caller then asks
// for the full password. Nothing is ever written to disk.
//
//   K        = pbkdf2_hmac_sha3_256(code, code salt, iterations), 32 bytes
//   enc, mac = hmac_sha3_256_fips(K, "encrypt" || secret), hmac_sha3_256_fips(K, "authenticate" || secret)
//   box      = ctr_crypt_sp800(enc, nonce, keys)
//   tag      = hmac_sha3_256_fips(mac, box || vault salt || iterations as 4 bytes big-endian)
//
// The code salt, the nonce and the secret are fresh for every keep(). The secret stays
// protected by the process seam (RtlEncryptMemory on Windows) but for the moments it
// is read; the tag is compared in constant time before anything is decrypted.

#include <cstddef>
#include <cstdint>

#include "crypto/wipe.h"
#include "db/format.h"

namespace quick_unlock {

// The code is the last N characters (Unicode code points) of the master password.
inline constexpr unsigned kMinCodeLength = 3;
inline constexpr unsigned kMaxCodeLength = 8;
// The master password must be at least this much longer than the code.
inline constexpr unsigned kPasswordBeyondCode = 8;
// What the code's derivation costs: at least 100,000 iterations.
inline constexpr std::uint32_t kCodeIterations = 200000;
inline constexpr std::uint32_t kMinCodeIterations = 100000;
static_assert(kCodeIterations >= kMinCodeIterations, "the code's derivation must not get cheaper");
inline constexpr std::size_t kSecretSize = 32;

}  // namespace quick_unlock

// The number of Unicode code points in UTF-8 `text` (every byte that does not continue
// a sequence counts one).
std::size_t count_code_points(const char* text, std::size_t size) noexcept;

// The last `length` code points of `password` when it holds at least
// length + kPasswordBeyondCode of them; otherwise empty. Throws std::bad_alloc.
SecretString quick_unlock_code(const SecretString& password, unsigned length);

// What a keep or an open came to.
enum class KeptKeysResult {
    kOpened,  // open: the keys are in the caller's buffer
    kKept,  // keep: the keys are kept
    kNothingKept,
    kWrongCode,  // wiped
    kExpired,  // the deadline passed: wiped
    kRekeyed,  // the vault's salt or iteration count is not the kept one: wiped
    kFailed,  // the random source, the derivation or the process protection failed: wiped
};

// The platform's parts, replaceable by tests. `protect` and `unprotect` work in place on
// a buffer of kSecretSize bytes and return false on failure; `now` is a monotonic clock
// in milliseconds (GetTickCount64 on Windows), not the wall clock; `iterations` is the
// code's derivation count (kCodeIterations but in the tests).
struct KeptKeysSeams {
    bool (*protect)(std::uint8_t* data, std::size_t size) noexcept;
    bool (*unprotect)(std::uint8_t* data, std::size_t size) noexcept;
    std::uint64_t (*now)() noexcept;
    std::uint32_t iterations;
};

// The seams of this platform (vault/process_memory_*.cpp) with kCodeIterations.
KeptKeysSeams process_kept_keys_seams() noexcept;

class KeptKeys {
public:
    KeptKeys() noexcept : seams_(process_kept_keys_seams()) {}
    explicit KeptKeys(const KeptKeysSeams& seams) noexcept : seams_(seams) {}
    ~KeptKeys() { wipe(); }
    KeptKeys(const KeptKeys&) = delete;
    KeptKeys& operator=(const KeptKeys&) = delete;

    // Keeps the 64 keys derived from the master password with `salt` and `iterations`,
    // under `code` (UTF-8, its length in code points is what open() wants), until the
    // clock reaches `deadline`. kKept, or kExpired / kFailed with nothing kept. What was
    // kept before is wiped first. Never throws.
    KeptKeysResult keep(const std::uint8_t keys[format_v2::kKeysSize], const std::uint8_t salt[kSaltSize],
                        std::uint32_t iterations, const char* code, std::size_t code_size,
                        std::uint64_t deadline) noexcept;
    // Whether keys are kept for a vault of `salt` and `iterations` now: kKept, or
    // kNothingKept, kExpired or kRekeyed (the last two wipe). Asks for no code.
    KeptKeysResult check(const std::uint8_t salt[kSaltSize], std::uint32_t iterations) noexcept;
    // check(), then the code: kOpened with the keys in `keys` (which the caller wipes),
    // or any other result with everything kept wiped and `keys` untouched. What stays
    // kept after kOpened serves the next lock. Never throws.
    KeptKeysResult open(const char* code, std::size_t code_size, const std::uint8_t salt[kSaltSize],
                        std::uint32_t iterations, std::uint8_t keys[format_v2::kKeysSize]) noexcept;
    // Wipes everything kept; nothing is kept then.
    void wipe() noexcept;

    bool kept() const noexcept { return kept_; }
    // The code's length in code points (0 when nothing is kept).
    unsigned code_length() const noexcept { return kept_ ? code_length_ : 0; }

private:
    // The encryption and MAC keys from the code and the kept secret; false on failure.
    bool wrapping_keys(const char* code, std::size_t code_size, std::uint8_t enc[32], std::uint8_t mac[32]) noexcept;
    void tag_of(const std::uint8_t mac_key[32], std::uint8_t out[32]) const noexcept;

    KeptKeysSeams seams_;
    bool kept_ = false;
    unsigned code_length_ = 0;
    std::uint64_t deadline_ = 0;
    std::uint32_t iterations_ = 0;  // the vault's
    std::uint8_t salt_[kSaltSize] = {};  // the vault's
    std::uint8_t code_salt_[32] = {};
    std::uint8_t nonce_[12] = {};
    std::uint8_t secret_[quick_unlock::kSecretSize] = {};  // protected for this process
    std::uint8_t box_[format_v2::kKeysSize] = {};
    std::uint8_t tag_[32] = {};
};

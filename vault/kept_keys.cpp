#include "vault/kept_keys.h"

#include <cstring>
#include <exception>

#include "crypto/keyed.h"

namespace {

constexpr char kEncryptLabel[] = "encrypt";
constexpr char kAuthenticateLabel[] = "authenticate";

bool equal_in_constant_time(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) noexcept
{
    std::uint8_t difference = 0;
    for (std::size_t i = 0; i < size; ++i) difference = static_cast<std::uint8_t>(difference | (a[i] ^ b[i]));
    return difference == 0;
}

bool is_continuation(char c) noexcept
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::size_t count_code_points(const char* text, std::size_t size) noexcept
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < size; ++i)
        if (!is_continuation(text[i])) ++count;
    return count;
}

SecretString quick_unlock_code(const SecretString& password, unsigned length)
{
    if (length == 0 || count_code_points(password.data(), password.size()) < length + quick_unlock::kPasswordBeyondCode)
        return SecretString();
    // Back from the end over `length` code points: each starts at a byte that does not
    // continue a sequence.
    std::size_t start = password.size();
    for (unsigned found = 0; found < length && start > 0;) {
        --start;
        if (!is_continuation(password[start])) ++found;
    }
    return SecretString(password.data() + start, password.size() - start);
}

void KeptKeys::wipe() noexcept
{
    secure_wipe(secret_, sizeof secret_);
    secure_wipe(box_, sizeof box_);
    secure_wipe(tag_, sizeof tag_);
    secure_wipe(code_salt_, sizeof code_salt_);
    secure_wipe(nonce_, sizeof nonce_);
    secure_wipe(salt_, sizeof salt_);
    iterations_ = 0;
    deadline_ = 0;
    code_length_ = 0;
    kept_ = false;
}

bool KeptKeys::wrapping_keys(const char* code, std::size_t code_size, std::uint8_t enc[32],
                             std::uint8_t mac[32]) noexcept
{
    if (code_size > 0xFFFFFFFFu) return false;
    std::uint8_t key[32];
    WipeOnExit wipe_key(key, sizeof key);
    if (pbkdf2_hmac_sha3_256(reinterpret_cast<const std::uint8_t*>(code), static_cast<std::uint32_t>(code_size),
                             code_salt_, sizeof code_salt_, key, sizeof key, seams_.iterations) != 0)
        return false;
    // The secret in the clear for the two HMACs only.
    if (!seams_.unprotect(secret_, sizeof secret_)) return false;
    hmac_sha3_256_fips_joined(reinterpret_cast<const std::uint8_t*>(kEncryptLabel), sizeof kEncryptLabel - 1, secret_,
                              sizeof secret_, key, sizeof key, enc);
    hmac_sha3_256_fips_joined(reinterpret_cast<const std::uint8_t*>(kAuthenticateLabel), sizeof kAuthenticateLabel - 1,
                              secret_, sizeof secret_, key, sizeof key, mac);
    if (!seams_.protect(secret_, sizeof secret_)) {
        secure_wipe(enc, 32);
        secure_wipe(mac, 32);
        return false;
    }
    return true;
}

void KeptKeys::tag_of(const std::uint8_t mac_key[32], std::uint8_t out[32]) const noexcept
{
    std::uint8_t covered[sizeof box_ + kSaltSize + 4];
    std::memcpy(covered, box_, sizeof box_);
    std::memcpy(covered + sizeof box_, salt_, kSaltSize);
    for (int i = 0; i < 4; ++i)
        covered[sizeof box_ + kSaltSize + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(iterations_ >> (24 - 8 * i));
    hmac_sha3_256_fips(covered, sizeof covered, mac_key, 32, out);
    secure_wipe(covered, sizeof covered);
}

KeptKeysResult KeptKeys::keep(const std::uint8_t keys[format_v2::kKeysSize], const std::uint8_t salt[kSaltSize],
                              std::uint32_t iterations, const char* code, std::size_t code_size,
                              std::uint64_t deadline) noexcept
{
    wipe();
    const std::size_t length = count_code_points(code, code_size);
    if (length < quick_unlock::kMinCodeLength || length > quick_unlock::kMaxCodeLength) return KeptKeysResult::kFailed;
    if (seams_.now() >= deadline) return KeptKeysResult::kExpired;
    try {
        random_bytes(secret_, sizeof secret_);
        random_bytes(code_salt_, sizeof code_salt_);
        random_bytes(nonce_, sizeof nonce_);
    } catch (...) {
        wipe();
        return KeptKeysResult::kFailed;
    }
    if (!seams_.protect(secret_, sizeof secret_)) {
        wipe();
        return KeptKeysResult::kFailed;
    }
    std::uint8_t enc[32];
    std::uint8_t mac[32];
    WipeOnExit wipe_enc(enc, sizeof enc);
    WipeOnExit wipe_mac(mac, sizeof mac);
    if (!wrapping_keys(code, code_size, enc, mac)) {
        wipe();
        return KeptKeysResult::kFailed;
    }
    std::memcpy(salt_, salt, kSaltSize);
    iterations_ = iterations;
    ctr_crypt_sp800(keys, sizeof box_, enc, nonce_, box_);
    tag_of(mac, tag_);
    code_length_ = static_cast<unsigned>(length);
    deadline_ = deadline;
    kept_ = true;
    return KeptKeysResult::kKept;
}

KeptKeysResult KeptKeys::check(const std::uint8_t salt[kSaltSize], std::uint32_t iterations) noexcept
{
    if (!kept_) return KeptKeysResult::kNothingKept;
    if (seams_.now() >= deadline_) {
        wipe();
        return KeptKeysResult::kExpired;
    }
    if (iterations != iterations_ || !equal_in_constant_time(salt, salt_, kSaltSize)) {
        wipe();
        return KeptKeysResult::kRekeyed;
    }
    return KeptKeysResult::kKept;
}

KeptKeysResult KeptKeys::open(const char* code, std::size_t code_size, const std::uint8_t salt[kSaltSize],
                              std::uint32_t iterations, std::uint8_t keys[format_v2::kKeysSize]) noexcept
{
    const KeptKeysResult state = check(salt, iterations);
    if (state != KeptKeysResult::kKept) return state;
    if (count_code_points(code, code_size) != code_length_) {
        wipe();
        return KeptKeysResult::kWrongCode;
    }
    std::uint8_t enc[32];
    std::uint8_t mac[32];
    std::uint8_t tag[32];
    WipeOnExit wipe_enc(enc, sizeof enc);
    WipeOnExit wipe_mac(mac, sizeof mac);
    WipeOnExit wipe_tag(tag, sizeof tag);
    if (!wrapping_keys(code, code_size, enc, mac)) {
        wipe();
        return KeptKeysResult::kFailed;
    }
    tag_of(mac, tag);
    if (!equal_in_constant_time(tag, tag_, sizeof tag)) {
        wipe();
        return KeptKeysResult::kWrongCode;
    }
    ctr_crypt_sp800(box_, sizeof box_, enc, nonce_, keys);
    return KeptKeysResult::kOpened;
}

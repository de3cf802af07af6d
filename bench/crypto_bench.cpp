// The cryptographic primitives side by side with OpenSSL's libcrypto. Run with
// OPENSSL_ia32cap="~0x200000200000000" (scripts/bench does) so that OpenSSL's AES
// runs without the AES instructions, like the program's table-driven AES.

// AES_encrypt is deprecated in OpenSSL 3 but is its plain single-block cipher.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "crypto/aes.h"
#include "crypto/keyed.h"
#include "crypto/sha1.h"
#include "crypto/sha2.h"
#include "crypto/sha3.h"

#include <benchmark/benchmark.h>
#include <openssl/aes.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::size_t kSmall = 64;
constexpr std::size_t kLarge = 1u << 20;
constexpr std::uint32_t kVaultIterations = 500;
constexpr std::uint32_t kVault2Iterations = 600000;
constexpr std::size_t kSaltSize = 32;
constexpr std::size_t kKeySize = 32;

std::vector<std::uint8_t> bytes(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 131 + seed);
    return data;
}

// --- SHA3-256 ----------------------------------------------------------------------

void BM_Sha3_256(benchmark::State& state)
{
    const auto data = bytes(static_cast<std::size_t>(state.range(0)), 1);
    std::uint8_t digest[32];
    for (auto _ : state) {
        sha3_256(data.data(), static_cast<std::uint32_t>(data.size()), digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Sha3_256)->Arg(kSmall)->Arg(kLarge);

// --- SHA-1, SHA-256, SHA-512 (the one-time codes' HMACs), 1 MiB ---------------------

using DigestFunction = void (*)(const std::uint8_t*, std::size_t, std::uint8_t*) noexcept;

void BM_Digest(benchmark::State& state, DigestFunction digest_function)
{
    const auto data = bytes(kLarge, 2);
    std::uint8_t digest[64];
    for (auto _ : state) {
        digest_function(data.data(), data.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK_CAPTURE(BM_Digest, sha1, sha1);
BENCHMARK_CAPTURE(BM_Digest, sha256, sha256);
BENCHMARK_CAPTURE(BM_Digest, sha512, sha512);

// OpenSSL's digest `name` over `state.range(0)` bytes.
void BM_OpenSSL_Digest(benchmark::State& state, const char* name)
{
    const auto data = bytes(static_cast<std::size_t>(state.range(0)), 2);
    EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::uint8_t digest[64];
    for (auto _ : state) {
        unsigned size = 0;
        EVP_DigestInit_ex2(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, data.data(), data.size());
        EVP_DigestFinal_ex(ctx, digest, &size);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK_CAPTURE(BM_OpenSSL_Digest, sha3_256, "SHA3-256")->Arg(kSmall)->Arg(kLarge);
BENCHMARK_CAPTURE(BM_OpenSSL_Digest, sha1, "SHA1")->Arg(kLarge);
BENCHMARK_CAPTURE(BM_OpenSSL_Digest, sha256, "SHA256")->Arg(kLarge);
BENCHMARK_CAPTURE(BM_OpenSSL_Digest, sha512, "SHA512")->Arg(kLarge);

// --- AES-256, one block ------------------------------------------------------------

void BM_AesEncryptBlock(benchmark::State& state)
{
    const auto key = bytes(32, 2);
    AesRoundKeys keys;
    const int rounds = aes_expand_key(keys, key.data(), 256);
    auto block = bytes(16, 3);
    for (auto _ : state) {
        aes_encrypt_block(keys, rounds, block.data(), block.data());  // chained: no overlap
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 16));
}
BENCHMARK(BM_AesEncryptBlock);

void BM_OpenSSL_AES_encrypt(benchmark::State& state)
{
    const auto key = bytes(32, 2);
    AES_KEY keys;
    AES_set_encrypt_key(key.data(), 256, &keys);
    auto block = bytes(16, 3);
    for (auto _ : state) {
        AES_encrypt(block.data(), block.data(), &keys);
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 16));
}
BENCHMARK(BM_OpenSSL_AES_encrypt);

void BM_OpenSSL_EVP_Aes256Block(benchmark::State& state)
{
    const auto key = bytes(32, 2);
    auto block = bytes(16, 3);
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex2(ctx, cipher, key.data(), nullptr, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    for (auto _ : state) {
        int size = 0;
        EVP_EncryptUpdate(ctx, block.data(), &size, block.data(), 16);
        benchmark::DoNotOptimize(block.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 16));
}
BENCHMARK(BM_OpenSSL_EVP_Aes256Block);

// --- The keyed constructions ---------------------------------------------------------

void BM_CtrCrypt(benchmark::State& state)
{
    const auto key = bytes(32, 4);
    const auto nonce = bytes(12, 5);
    auto data = bytes(kLarge, 6);
    for (auto _ : state) {
        format_v1::ctr_crypt(data.data(), static_cast<std::uint32_t>(data.size()), key.data(), nonce.data(),
                             data.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_CtrCrypt);

// Times `mac_of(message, key, mac)` over a short message under a 32-byte key.
template <typename Mac>
void time_mac(benchmark::State& state, Mac mac_of)
{
    const auto key = bytes(32, 7);
    const auto msg = bytes(kSmall, 8);
    std::uint8_t mac[32];
    for (auto _ : state) {
        mac_of(msg, key, mac);
        benchmark::DoNotOptimize(mac);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * msg.size()));
}

void BM_HmacSha3_256(benchmark::State& state)
{
    time_mac(state, [](const std::vector<std::uint8_t>& msg, const std::vector<std::uint8_t>& key, std::uint8_t* mac) {
        format_v1::hmac_sha3_256(msg.data(), static_cast<std::uint32_t>(msg.size()), key.data(), 32, mac);
    });
}
BENCHMARK(BM_HmacSha3_256);

// For scale only: OpenSSL's HMAC-SHA3-256 (136-byte pads, so a different result).
void BM_OpenSSL_HmacSha3_256(benchmark::State& state)
{
    EVP_MD* md = EVP_MD_fetch(nullptr, "SHA3-256", nullptr);
    time_mac(state,
             [md](const std::vector<std::uint8_t>& msg, const std::vector<std::uint8_t>& key, std::uint8_t* mac) {
                 unsigned size = 0;
                 HMAC(md, key.data(), 32, msg.data(), msg.size(), mac, &size);
             });
    EVP_MD_free(md);
}
BENCHMARK(BM_OpenSSL_HmacSha3_256);

// Times `derive(password, salt, keys)` (a status; keys has room for 64 bytes) with
// the same password and salt for every implementation.
template <typename Derive>
void time_key_derivation(benchmark::State& state, Derive derive)
{
    const auto password = bytes(16, 9);
    const auto salt = bytes(kSaltSize, 10);
    std::uint8_t keys[2 * kKeySize];
    for (auto _ : state) {
        benchmark::DoNotOptimize(derive(password, salt, keys));
        benchmark::DoNotOptimize(keys);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// One key derivation with the vault's arguments.
void BM_Pbkdf2Vault(benchmark::State& state)
{
    time_key_derivation(
        state,
        [](const std::vector<std::uint8_t>& password, const std::vector<std::uint8_t>& salt, std::uint8_t* keys) {
            return format_v1::pbkdf2(password.data(), static_cast<std::uint32_t>(password.size()), salt.data(),
                                     kSaltSize, keys, kKeySize, kVaultIterations, format_v1::hmac_sha3_256, 32);
        });
}
BENCHMARK(BM_Pbkdf2Vault)->Unit(benchmark::kMicrosecond);

// Vault format 2.0: 600,000 iterations of the standard HMAC, 64 bytes (two blocks).
void BM_Pbkdf2Vault2(benchmark::State& state)
{
    time_key_derivation(
        state,
        [](const std::vector<std::uint8_t>& password, const std::vector<std::uint8_t>& salt, std::uint8_t* keys) {
            return pbkdf2_hmac_sha3_256(password.data(), static_cast<std::uint32_t>(password.size()), salt.data(),
                                        kSaltSize, keys, 2 * kKeySize, kVault2Iterations);
        });
}
BENCHMARK(BM_Pbkdf2Vault2)->Unit(benchmark::kMillisecond);

void BM_OpenSSL_Pbkdf2Vault2(benchmark::State& state)
{
    time_key_derivation(
        state,
        [](const std::vector<std::uint8_t>& password, const std::vector<std::uint8_t>& salt, std::uint8_t* keys) {
            return PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password.data()), static_cast<int>(password.size()),
                                     salt.data(), static_cast<int>(kSaltSize), static_cast<int>(kVault2Iterations),
                                     EVP_sha3_256(), static_cast<int>(2 * kKeySize), keys);
        });
}
BENCHMARK(BM_OpenSSL_Pbkdf2Vault2)->Unit(benchmark::kMillisecond);

}  // namespace

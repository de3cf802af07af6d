#pragma once
// The two vault file formats, each with its own header reader and writer, key
// derivation and MAC; the container (db/database.h) picks one by the version field.
//
// Format 1.0 (all integers big-endian, no padding):
//   offset  size    field
//        0    10    magic "GLIMKEEPDB"
//       10     3    version "1.0" (major digit, '.', minor digit)
//       13    32    salt   (PBKDF2 salt)
//       45    12    nonce  (counter-block nonce)
//       57    32    mac    (format_v1::hmac_sha3_256 of the ciphertext under the key)
//       89     4    length of the ciphertext
//       93  length  ciphertext; any bytes after it are ignored
// Its counter block never advances, so the data is in effect XORed with one repeating
// 16-byte block: 1.0 is read and written unchanged for existing vaults only.
//
// Format 2.0:
//        0    10    magic "GLIMKEEPDB"
//       10     3    version "2.0"
//       13     4    iterations (PBKDF2 iteration count, 1 to 10,000,000)
//       17    32    salt
//       49    12    nonce
//       61    32    mac
//       93     4    length of the ciphertext
//       97  length  ciphertext; a file with bytes after it is refused, since the MAC
//                   would not cover them
// Keys: pbkdf2_hmac_sha3_256(password, salt, iterations) gives 64 bytes, the AES-256
// key (0-31) and the MAC key (32-63). Cipher: ctr_crypt_sp800 with the nonce. MAC:
// hmac_sha3_256_fips under the MAC key over file bytes 0-60, 93-96 and the ciphertext.

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kMagicSize = 10;
inline constexpr std::size_t kVersionSize = 3;
inline constexpr std::size_t kSaltSize = 32;
inline constexpr std::size_t kNonceSize = 12;
inline constexpr std::size_t kMacSize = 32;
inline constexpr std::size_t kKeySize = 32;
// Magic and version: what both formats begin with.
inline constexpr std::size_t kPrefixSize = kMagicSize + kVersionSize;

// The header fields of either format; `iterations` is 2.0's alone.
struct FileHeader {
    std::uint8_t major_version = 0;
    std::uint8_t minor_version = 0;
    std::uint32_t iterations = 0;
    std::uint8_t salt[kSaltSize] = {};
    std::uint8_t nonce[kNonceSize] = {};
    std::uint8_t mac[kMacSize] = {};
    std::uint32_t length = 0;
};

// What the first kPrefixSize bytes of a file say.
enum class FilePrefix { kVersion10, kVersion20, kOtherVersion, kNotAVault };
// Reads the magic and the version digits; the version's digits go to `header`.
FilePrefix read_prefix(const std::uint8_t prefix[kPrefixSize], FileHeader& header);

namespace format_v1 {

inline constexpr std::size_t kHeaderSize = 93;
inline constexpr std::uint32_t kIterations = 500;

// Reads the fields after the prefix; cannot fail.
void read_header(const std::uint8_t bytes[kHeaderSize], FileHeader& header);
void write_header(const FileHeader& header, std::uint8_t out[kHeaderSize]);

}  // namespace format_v1

namespace format_v2 {

inline constexpr std::size_t kIterationsSize = 4;
inline constexpr std::size_t kHeaderSize = 97;
// The count the program writes into new vaults, and the largest it accepts (a
// hostile count must not make the program derive keys for hours).
inline constexpr std::uint32_t kIterations = 600000;
inline constexpr std::uint32_t kMaxIterations = 10000000;
// Encryption key, then MAC key.
inline constexpr std::size_t kKeysSize = 2 * kKeySize;

// Reads the fields after the prefix; false when the iteration count is out of bounds.
bool read_header(const std::uint8_t bytes[kHeaderSize], FileHeader& header);
void write_header(const FileHeader& header, std::uint8_t out[kHeaderSize]);
// The MAC of the header's covered fields and `data` under the MAC key (keys + 32).
void compute_mac(const FileHeader& header, const std::uint8_t* data, std::uint32_t data_length,
                 const std::uint8_t mac_key[kKeySize], std::uint8_t out[kMacSize]);

}  // namespace format_v2

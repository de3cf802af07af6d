// Format 2.0's header and MAC.

#include "db/format.h"

#include "crypto/bytes.h"
#include "crypto/keyed.h"

#include <cstring>

namespace format_v2 {
namespace {

constexpr std::size_t kIterationsOffset = kPrefixSize;
constexpr std::size_t kSaltOffset = kIterationsOffset + kIterationsSize;
constexpr std::size_t kNonceOffset = kSaltOffset + kSaltSize;
constexpr std::size_t kMacOffset = kNonceOffset + kNonceSize;
constexpr std::size_t kLengthOffset = kMacOffset + kMacSize;
static_assert(kMacOffset == 61 && kLengthOffset + 4 == kHeaderSize, "header layout 2.0");

}  // namespace

bool read_header(const std::uint8_t bytes[kHeaderSize], FileHeader& header)
{
    const std::uint32_t count = load32_be(bytes + kIterationsOffset);
    if (count == 0 || count > kMaxIterations) return false;
    header.iterations = count;
    std::memcpy(header.salt, bytes + kSaltOffset, kSaltSize);
    std::memcpy(header.nonce, bytes + kNonceOffset, kNonceSize);
    std::memcpy(header.mac, bytes + kMacOffset, kMacSize);
    header.length = load32_be(bytes + kLengthOffset);
    return true;
}

void write_header(const FileHeader& header, std::uint8_t out[kHeaderSize])
{
    std::memcpy(out, "GLIMKEEPDB2.0", kPrefixSize);
    store32_be(out + kIterationsOffset, header.iterations);
    std::memcpy(out + kSaltOffset, header.salt, kSaltSize);
    std::memcpy(out + kNonceOffset, header.nonce, kNonceSize);
    std::memcpy(out + kMacOffset, header.mac, kMacSize);
    store32_be(out + kLengthOffset, header.length);
}

void compute_mac(const FileHeader& header, const std::uint8_t* data, std::uint32_t data_length,
                 const std::uint8_t mac_key[kKeySize], std::uint8_t out[kMacSize])
{
    // Bytes 0-60 (up to the MAC) and 93-96 (the length) of the file as written.
    std::uint8_t image[kHeaderSize];
    FileHeader covered = header;
    covered.length = data_length;
    write_header(covered, image);
    std::uint8_t message[kMacOffset + 4];
    std::memcpy(message, image, kMacOffset);
    std::memcpy(message + kMacOffset, image + kLengthOffset, 4);
    hmac_sha3_256_fips_joined(message, sizeof message, data, data_length, mac_key, kKeySize, out);
}

}  // namespace format_v2

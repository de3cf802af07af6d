// Format 1.0's header, and the prefix that both formats share.

#include "db/format.h"

#include "crypto/bytes.h"

#include <cstring>

namespace {

constexpr char kMagic[kMagicSize + 1] = "GLIMKEEPDB";

bool is_digit(std::uint8_t c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

FilePrefix read_prefix(const std::uint8_t prefix[kPrefixSize], FileHeader& header)
{
    const std::uint8_t* const version = prefix + kMagicSize;
    if (std::memcmp(prefix, kMagic, kMagicSize) != 0 || version[1] != '.' || !is_digit(version[0]) ||
        !is_digit(version[2]))
        return FilePrefix::kNotAVault;
    header.major_version = static_cast<std::uint8_t>(version[0] - '0');
    header.minor_version = static_cast<std::uint8_t>(version[2] - '0');
    if (header.minor_version != 0) return FilePrefix::kOtherVersion;
    if (header.major_version == 1) return FilePrefix::kVersion10;
    if (header.major_version == 2) return FilePrefix::kVersion20;
    return FilePrefix::kOtherVersion;
}

namespace format_v1 {

void read_header(const std::uint8_t bytes[kHeaderSize], FileHeader& header)
{
    const std::uint8_t* p = bytes + kPrefixSize;
    std::memcpy(header.salt, p, kSaltSize);
    p += kSaltSize;
    std::memcpy(header.nonce, p, kNonceSize);
    p += kNonceSize;
    std::memcpy(header.mac, p, kMacSize);
    p += kMacSize;
    header.length = load32_be(p);
}

void write_header(const FileHeader& header, std::uint8_t out[kHeaderSize])
{
    std::uint8_t* p = out;
    std::memcpy(p, kMagic, kMagicSize);
    p += kMagicSize;
    std::memcpy(p, "1.0", kVersionSize);
    p += kVersionSize;
    std::memcpy(p, header.salt, kSaltSize);
    p += kSaltSize;
    std::memcpy(p, header.nonce, kNonceSize);
    p += kNonceSize;
    std::memcpy(p, header.mac, kMacSize);
    p += kMacSize;
    store32_be(p, header.length);
}

}  // namespace format_v1

#include "crypto/password_generator.h"

#include "crypto/keyed.h"
#include "crypto/wipe.h"

namespace {

constexpr std::size_t kUpperCount = sizeof kPasswordUpper - 1;
constexpr std::size_t kLowerCount = sizeof kPasswordLower - 1;
constexpr std::size_t kDigitCount = sizeof kPasswordDigits - 1;
constexpr std::size_t kSymbolCount = sizeof kPasswordSymbols - 1;
constexpr std::size_t kAlphabetSize = kUpperCount + kLowerCount + kDigitCount + kSymbolCount;
// Bytes at or above the largest multiple of the alphabet's size are rejected, so that
// every character keeps exactly the same number of accepted byte values.
constexpr unsigned kAcceptBelow = 256 / kAlphabetSize * kAlphabetSize;
constexpr int kMaxDraws = 256;
// A fair source rejects 46 of 256 byte values, about 4.5 bytes per password; a source
// stuck on a rejected value would otherwise be read for ever.
constexpr std::size_t kMaxRejectedBytes = 4096;

static_assert(kAlphabetSize <= 256, "one random byte per candidate character");

// Character `index` of the four classes laid end to end; its class in `kind`.
char alphabet_at(std::size_t index, int& kind)
{
    if (index < kUpperCount) {
        kind = 0;
        return kPasswordUpper[index];
    }
    index -= kUpperCount;
    if (index < kLowerCount) {
        kind = 1;
        return kPasswordLower[index];
    }
    index -= kLowerCount;
    if (index < kDigitCount) {
        kind = 2;
        return kPasswordDigits[index];
    }
    kind = 3;
    return kPasswordSymbols[index - kDigitCount];
}

// One draw of a whole password; false when a class is missing from it. Counts the
// bytes it rejects in `rejected` and gives up (false) once that exceeds the bound.
bool draw_once(RandomSource source, char out[kGeneratedPasswordLength], std::size_t& rejected)
{
    std::uint8_t bytes[64];
    WipeOnExit wipe_bytes(bytes, sizeof bytes);
    std::size_t used = sizeof bytes;
    bool seen[4] = {false, false, false, false};
    for (std::size_t i = 0; i < kGeneratedPasswordLength;) {
        if (used == sizeof bytes) {
            source(bytes, sizeof bytes);
            used = 0;
        }
        const unsigned byte = bytes[used++];
        if (byte >= kAcceptBelow) {
            if (++rejected > kMaxRejectedBytes) return false;
            continue;
        }
        int kind = 0;
        out[i++] = alphabet_at(byte % kAlphabetSize, kind);
        seen[kind] = true;
    }
    return seen[0] && seen[1] && seen[2] && seen[3];
}

}  // namespace

int generate_password_from(RandomSource source, char out[kGeneratedPasswordLength]) noexcept
{
    try {
        std::size_t rejected = 0;
        for (int draw = 0; draw < kMaxDraws && rejected <= kMaxRejectedBytes; ++draw)
            if (draw_once(source, out, rejected)) return 0;
    } catch (...) {
        // The source failed; nothing half-drawn may be left behind.
    }
    secure_wipe(out, kGeneratedPasswordLength);
    return -1;
}

int generate_password(char out[kGeneratedPasswordLength])
{
    return generate_password_from(random_bytes, out);
}

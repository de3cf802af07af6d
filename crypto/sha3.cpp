#include "crypto/sha3.h"

#include "crypto/bytes.h"
#include "crypto/wipe.h"

namespace {

constexpr int kLanes = 25;            // FIPS 202: the state is 5 x 5 lanes
constexpr int kLaneBytes = 8;         // w = 64 bits
constexpr int kStateBytes = kLanes * kLaneBytes;
static_assert(kStateBytes == 200, "b = 1600 bits");
constexpr int kRounds = 24;           // Keccak-p[1600, 24], nr = 12 + 2l with l = 6
constexpr std::uint32_t kWidthBits = 1600;
constexpr std::uint8_t kSha3Suffix = 0x06;  // FIPS 202 6.1: M || 01, then the first pad bit
constexpr std::uint8_t kLastPadBit = 0x80;  // FIPS 202 5.1: the final 1 of pad10*1

constexpr std::uint64_t rotl64(std::uint64_t v, int n)
{
    return (v << n) | (v >> (64 - n));
}

// FIPS 202 3.2.5, algorithm 5: rc(t). R[i] is bit i of `r`; R = 0 || R shifts left,
// then R[0], R[4], R[5] and R[6] take R[8], and Trunc8 drops bit 8.
constexpr std::uint64_t rc(int t)
{
    if (t % 255 == 0) return 1;
    unsigned r = 1;  // R = 10000000
    for (int i = 1; i <= t % 255; ++i) {
        r <<= 1;
        if (r & 0x100) r ^= 0x171;
    }
    return r & 1;
}

// FIPS 202 3.2.5, algorithm 6: RC[2^j - 1] = rc(j + 7 i_r) for j = 0 to l.
struct RoundConstants {
    std::uint64_t rc[kRounds];
};

constexpr RoundConstants make_round_constants()
{
    RoundConstants c{};
    for (int ir = 0; ir < kRounds; ++ir)
        for (int j = 0; j <= 6; ++j)
            c.rc[ir] |= rc(j + 7 * ir) << ((1 << j) - 1);
    return c;
}

constexpr RoundConstants kRoundConstants = make_round_constants();
static_assert(kRoundConstants.rc[0] == 0x0000000000000001u &&
              kRoundConstants.rc[1] == 0x0000000000008082u &&
              kRoundConstants.rc[23] == 0x8000000080008008u,
              "round constants of Keccak-p[1600, 24]");

// One round of Keccak-p[1600, 24] from the lanes A[x, y] = A##xy into E##xy, computed
// plane by plane: theta's D from the column parities c0..c4 of A, then for each plane
// y the five lanes B[x, y] = ROT(A[x', y'] ^ D[x'], r[x', y']) that pi moves there
// (y' = x, x' such that 2x' + 3y' = y mod 5, offsets of FIPS 202 table 2), then chi
// and iota on them. The parities of E for the next round's theta are summed up as its
// planes are written.
//
// Chi, A[x] = B[x] ^ (~B[x+1] & B[x+2]), runs on complemented lanes: the six lanes
// A[1,0], A[2,0], A[3,1], A[2,2], A[2,3] and A[0,4] are kept inverted between rounds.
// Theta, rho and pi carry the inversions through unchanged (D[0] and D[3] come out
// inverted too), and each chi line below is the same function rewritten for its
// inverted inputs and output, which needs one NOT per plane instead of five.
#define KECCAK_ROUND(A, E, round_constant) \
    do { \
        /* FIPS 202 3.2.1: theta, D[x] = C[x-1] ^ ROT(C[x+1], 1) */ \
        const std::uint64_t d0 = c4 ^ rotl64(c1, 1); \
        const std::uint64_t d1 = c0 ^ rotl64(c2, 1); \
        const std::uint64_t d2 = c1 ^ rotl64(c3, 1); \
        const std::uint64_t d3 = c2 ^ rotl64(c4, 1); \
        const std::uint64_t d4 = c3 ^ rotl64(c0, 1); \
        /* FIPS 202 3.2.2 to 3.2.4: rho, pi and chi for plane y = 0 */ \
        const std::uint64_t b00 = (A##00 ^ d0); \
        const std::uint64_t b10 = rotl64(A##11 ^ d1, 44); \
        const std::uint64_t b20 = rotl64(A##22 ^ d2, 43); \
        const std::uint64_t b30 = rotl64(A##33 ^ d3, 21); \
        const std::uint64_t b40 = rotl64(A##44 ^ d4, 14); \
        const std::uint64_t not_b20 = ~b20; \
        E##00 = b00 ^ (b10 | b20) ^ (round_constant);  /* 3.2.5: iota */ \
        E##10 = b10 ^ (not_b20 | b30); \
        E##20 = b20 ^ (b30 & b40); \
        E##30 = b30 ^ (b40 | b00); \
        E##40 = b40 ^ (b00 & b10); \
        c0 = E##00; c1 = E##10; c2 = E##20; c3 = E##30; c4 = E##40; \
        /* FIPS 202 3.2.2 to 3.2.4: rho, pi and chi for plane y = 1 */ \
        const std::uint64_t b01 = rotl64(A##30 ^ d3, 28); \
        const std::uint64_t b11 = rotl64(A##41 ^ d4, 20); \
        const std::uint64_t b21 = rotl64(A##02 ^ d0, 3); \
        const std::uint64_t b31 = rotl64(A##13 ^ d1, 45); \
        const std::uint64_t b41 = rotl64(A##24 ^ d2, 61); \
        const std::uint64_t not_b41 = ~b41; \
        E##01 = b01 ^ (b11 | b21); \
        E##11 = b11 ^ (b21 & b31); \
        E##21 = b21 ^ (b31 | not_b41); \
        E##31 = b31 ^ (b41 | b01); \
        E##41 = b41 ^ (b01 & b11); \
        c0 ^= E##01; c1 ^= E##11; c2 ^= E##21; c3 ^= E##31; c4 ^= E##41; \
        /* FIPS 202 3.2.2 to 3.2.4: rho, pi and chi for plane y = 2 */ \
        const std::uint64_t b02 = rotl64(A##10 ^ d1, 1); \
        const std::uint64_t b12 = rotl64(A##21 ^ d2, 6); \
        const std::uint64_t b22 = rotl64(A##32 ^ d3, 25); \
        const std::uint64_t b32 = rotl64(A##43 ^ d4, 8); \
        const std::uint64_t b42 = rotl64(A##04 ^ d0, 18); \
        const std::uint64_t not_b32 = ~b32; \
        E##02 = b02 ^ (b12 | b22); \
        E##12 = b12 ^ (b22 & b32); \
        E##22 = b22 ^ (not_b32 & b42); \
        E##32 = not_b32 ^ (b42 | b02); \
        E##42 = b42 ^ (b02 & b12); \
        c0 ^= E##02; c1 ^= E##12; c2 ^= E##22; c3 ^= E##32; c4 ^= E##42; \
        /* FIPS 202 3.2.2 to 3.2.4: rho, pi and chi for plane y = 3 */ \
        const std::uint64_t b03 = rotl64(A##40 ^ d4, 27); \
        const std::uint64_t b13 = rotl64(A##01 ^ d0, 36); \
        const std::uint64_t b23 = rotl64(A##12 ^ d1, 10); \
        const std::uint64_t b33 = rotl64(A##23 ^ d2, 15); \
        const std::uint64_t b43 = rotl64(A##34 ^ d3, 56); \
        const std::uint64_t not_b33 = ~b33; \
        E##03 = b03 ^ (b13 & b23); \
        E##13 = b13 ^ (b23 | b33); \
        E##23 = b23 ^ (not_b33 | b43); \
        E##33 = not_b33 ^ (b43 & b03); \
        E##43 = b43 ^ (b03 | b13); \
        c0 ^= E##03; c1 ^= E##13; c2 ^= E##23; c3 ^= E##33; c4 ^= E##43; \
        /* FIPS 202 3.2.2 to 3.2.4: rho, pi and chi for plane y = 4 */ \
        const std::uint64_t b04 = rotl64(A##20 ^ d2, 62); \
        const std::uint64_t b14 = rotl64(A##31 ^ d3, 55); \
        const std::uint64_t b24 = rotl64(A##42 ^ d4, 39); \
        const std::uint64_t b34 = rotl64(A##03 ^ d0, 41); \
        const std::uint64_t b44 = rotl64(A##14 ^ d1, 2); \
        const std::uint64_t not_b14 = ~b14; \
        E##04 = b04 ^ (not_b14 & b24); \
        E##14 = not_b14 ^ (b24 | b34); \
        E##24 = b24 ^ (b34 & b44); \
        E##34 = b34 ^ (b44 | b04); \
        E##44 = b44 ^ (b04 & b14); \
        c0 ^= E##04; c1 ^= E##14; c2 ^= E##24; c3 ^= E##34; c4 ^= E##44; \
    } while (false);

// FIPS 202 3.3, algorithm 7: Keccak-p[1600, 24]. The lanes live in local variables,
// two rounds per pass: A to E, then E back to A.
void permute(std::uint64_t lanes[kLanes])
{
    std::uint64_t a00 = lanes[0], a10 = ~lanes[1], a20 = ~lanes[2], a30 = lanes[3], a40 = lanes[4];
    std::uint64_t a01 = lanes[5], a11 = lanes[6], a21 = lanes[7], a31 = ~lanes[8], a41 = lanes[9];
    std::uint64_t a02 = lanes[10], a12 = lanes[11], a22 = ~lanes[12], a32 = lanes[13], a42 = lanes[14];
    std::uint64_t a03 = lanes[15], a13 = lanes[16], a23 = ~lanes[17], a33 = lanes[18], a43 = lanes[19];
    std::uint64_t a04 = ~lanes[20], a14 = lanes[21], a24 = lanes[22], a34 = lanes[23], a44 = lanes[24];
    std::uint64_t e00, e10, e20, e30, e40;
    std::uint64_t e01, e11, e21, e31, e41;
    std::uint64_t e02, e12, e22, e32, e42;
    std::uint64_t e03, e13, e23, e33, e43;
    std::uint64_t e04, e14, e24, e34, e44;
    std::uint64_t c0 = a00 ^ a01 ^ a02 ^ a03 ^ a04;
    std::uint64_t c1 = a10 ^ a11 ^ a12 ^ a13 ^ a14;
    std::uint64_t c2 = a20 ^ a21 ^ a22 ^ a23 ^ a24;
    std::uint64_t c3 = a30 ^ a31 ^ a32 ^ a33 ^ a34;
    std::uint64_t c4 = a40 ^ a41 ^ a42 ^ a43 ^ a44;
    for (int round = 0; round < kRounds; round += 2) {
        KECCAK_ROUND(a, e, kRoundConstants.rc[round]);
        KECCAK_ROUND(e, a, kRoundConstants.rc[round + 1]);
    }
    lanes[0] = a00; lanes[1] = ~a10; lanes[2] = ~a20; lanes[3] = a30; lanes[4] = a40;
    lanes[5] = a01; lanes[6] = a11; lanes[7] = a21; lanes[8] = ~a31; lanes[9] = a41;
    lanes[10] = a02; lanes[11] = a12; lanes[12] = ~a22; lanes[13] = a32; lanes[14] = a42;
    lanes[15] = a03; lanes[16] = a13; lanes[17] = ~a23; lanes[18] = a33; lanes[19] = a43;
    lanes[20] = ~a04; lanes[21] = a14; lanes[22] = a24; lanes[23] = a34; lanes[24] = a44;
}

#undef KECCAK_ROUND

// XORs `size` message bytes into the state from byte `position` on
// (position + size <= rate). Whole lanes go in as little-endian words.
void xor_into_state(std::uint64_t a[kLanes], std::uint32_t position,
                    const std::uint8_t* in, std::size_t size)
{
    while (size > 0 && position % kLaneBytes != 0) {
        a[position / kLaneBytes] ^= std::uint64_t{*in++} << (8 * (position % kLaneBytes));
        ++position;
        --size;
    }
    while (size >= kLaneBytes) {
        a[position / kLaneBytes] ^= load64_le(in);
        in += kLaneBytes;
        position += kLaneBytes;
        size -= kLaneBytes;
    }
    while (size > 0) {
        a[position / kLaneBytes] ^= std::uint64_t{*in++} << (8 * (position % kLaneBytes));
        ++position;
        --size;
    }
}

void xor_byte(std::uint64_t a[kLanes], std::uint32_t position, std::uint8_t byte)
{
    a[position / kLaneBytes] ^= std::uint64_t{byte} << (8 * (position % kLaneBytes));
}

// FIPS 202 4, algorithm 8, steps 5 and 6: absorbs `in` block by block from `position`
// in the current block, applying f after every full block. Returns the new position.
std::uint32_t absorb(std::uint64_t a[kLanes], std::uint32_t rate, std::uint32_t position,
                     const std::uint8_t* in, std::uint64_t size)
{
    while (size > 0) {
        const std::uint64_t room = rate - position;
        const std::size_t take = static_cast<std::size_t>(size < room ? size : room);
        xor_into_state(a, position, in, take);
        in += take;
        size -= take;
        position += static_cast<std::uint32_t>(take);
        if (position == rate) {
            permute(a);
            position = 0;
        }
    }
    return position;
}

// FIPS 202 5.1: pad10*1 after the domain bits, which `suffix` carries together with the
// first 1 of the padding (least significant bit first); then f on the last block.
void pad(std::uint64_t a[kLanes], std::uint32_t rate, std::uint32_t position,
         std::uint8_t suffix)
{
    xor_byte(a, position, suffix);
    // The suffix already ends in the last byte of the block: the final 1 goes in a block
    // of its own.
    if ((suffix & kLastPadBit) != 0 && position == rate - 1) permute(a);
    xor_byte(a, rate - 1, kLastPadBit);
    permute(a);
}

// FIPS 202 4, algorithm 8, steps 7 to 10: Z = Trunc_r(S), S = f(S) while more is wanted.
void squeeze(std::uint64_t a[kLanes], std::uint32_t rate, std::uint8_t* out,
             std::uint64_t size)
{
    for (;;) {
        const std::uint64_t take = size < rate ? size : rate;
        std::uint32_t i = 0;
        for (; i + kLaneBytes <= take; i += kLaneBytes) store64_le(out + i, a[i / kLaneBytes]);
        for (; i < take; ++i)
            out[i] = static_cast<std::uint8_t>(a[i / kLaneBytes] >> (8 * (i % kLaneBytes)));
        out += take;
        size -= take;
        if (size == 0) return;
        permute(a);
    }
}

}  // namespace

void keccak_f1600(std::uint8_t state[200])
{
    std::uint64_t a[kLanes];
    WipeOnExit wipe_lanes(a, sizeof a);
    for (int i = 0; i < kLanes; ++i) a[i] = load64_le(state + kLaneBytes * i);
    permute(a);
    for (int i = 0; i < kLanes; ++i) store64_le(state + kLaneBytes * i, a[i]);
}

void keccak_sponge(std::uint32_t rate, std::uint32_t capacity,
                   const std::uint8_t* in, std::uint64_t in_len, std::uint8_t suffix,
                   std::uint8_t* out, std::uint64_t out_len)
{
    // The sum is taken in 64 bits so that no wrap-around can pass a huge rate; a zero
    // rate would never absorb anything.
    if (std::uint64_t{rate} + capacity != kWidthBits || rate % 8 != 0 || rate == 0) return;
    const std::uint32_t rate_bytes = rate / 8;

    std::uint64_t a[kLanes] = {};
    WipeOnExit wipe_state(a, sizeof a);
    const std::uint32_t position = absorb(a, rate_bytes, 0, in, in_len);
    pad(a, rate_bytes, position, suffix);
    squeeze(a, rate_bytes, out, out_len);
}

void sha3_256(const std::uint8_t* in, std::uint32_t in_len, std::uint8_t out[32])
{
    keccak_sponge(8 * kSha3_256RateBytes, kWidthBits - 8 * kSha3_256RateBytes, in, in_len,
                  kSha3Suffix, out, kSha3_256DigestSize);
}

Sha3_256::Sha3_256() noexcept : lanes_(), position_(0) {}

Sha3_256::~Sha3_256()
{
    secure_wipe(lanes_, sizeof lanes_);
}

void Sha3_256::update(const std::uint8_t* data, std::size_t size) noexcept
{
    position_ = absorb(lanes_, kSha3_256RateBytes, position_, data, size);
}

void Sha3_256::finish(std::uint8_t out[32]) noexcept
{
    pad(lanes_, kSha3_256RateBytes, position_, kSha3Suffix);
    squeeze(lanes_, kSha3_256RateBytes, out, kSha3_256DigestSize);
    position_ = 0;
}

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

// FIPS 202 3.3, algorithm 7: Keccak-p[1600, 24] on lanes, A[x, y] = a[x + 5y].
void permute(std::uint64_t a[kLanes])
{
    for (int round = 0; round < kRounds; ++round) {
        // FIPS 202 3.2.1: theta. C[x] = A[x,0] ^ ... ^ A[x,4];
        // D[x] = C[x-1] ^ ROT(C[x+1], 1); A[x,y] ^= D[x] (folded into the next step).
        const std::uint64_t c0 = a[0] ^ a[5] ^ a[10] ^ a[15] ^ a[20];
        const std::uint64_t c1 = a[1] ^ a[6] ^ a[11] ^ a[16] ^ a[21];
        const std::uint64_t c2 = a[2] ^ a[7] ^ a[12] ^ a[17] ^ a[22];
        const std::uint64_t c3 = a[3] ^ a[8] ^ a[13] ^ a[18] ^ a[23];
        const std::uint64_t c4 = a[4] ^ a[9] ^ a[14] ^ a[19] ^ a[24];
        const std::uint64_t d0 = c4 ^ rotl64(c1, 1);
        const std::uint64_t d1 = c0 ^ rotl64(c2, 1);
        const std::uint64_t d2 = c1 ^ rotl64(c3, 1);
        const std::uint64_t d3 = c2 ^ rotl64(c4, 1);
        const std::uint64_t d4 = c3 ^ rotl64(c0, 1);

        // FIPS 202 3.2.2 and 3.2.3: rho and pi. B[y, 2x + 3y] = ROT(A[x,y], r[x,y])
        // with the offsets of table 2; bXY below is B[X, Y].
        const std::uint64_t b00 = a[0] ^ d0;                // A[0,0]
        const std::uint64_t b10 = rotl64(a[6] ^ d1, 44);    // A[1,1]
        const std::uint64_t b20 = rotl64(a[12] ^ d2, 43);   // A[2,2]
        const std::uint64_t b30 = rotl64(a[18] ^ d3, 21);   // A[3,3]
        const std::uint64_t b40 = rotl64(a[24] ^ d4, 14);   // A[4,4]
        const std::uint64_t b01 = rotl64(a[3] ^ d3, 28);    // A[3,0]
        const std::uint64_t b11 = rotl64(a[9] ^ d4, 20);    // A[4,1]
        const std::uint64_t b21 = rotl64(a[10] ^ d0, 3);    // A[0,2]
        const std::uint64_t b31 = rotl64(a[16] ^ d1, 45);   // A[1,3]
        const std::uint64_t b41 = rotl64(a[22] ^ d2, 61);   // A[2,4]
        const std::uint64_t b02 = rotl64(a[1] ^ d1, 1);     // A[1,0]
        const std::uint64_t b12 = rotl64(a[7] ^ d2, 6);     // A[2,1]
        const std::uint64_t b22 = rotl64(a[13] ^ d3, 25);   // A[3,2]
        const std::uint64_t b32 = rotl64(a[19] ^ d4, 8);    // A[4,3]
        const std::uint64_t b42 = rotl64(a[20] ^ d0, 18);   // A[0,4]
        const std::uint64_t b03 = rotl64(a[4] ^ d4, 27);    // A[4,0]
        const std::uint64_t b13 = rotl64(a[5] ^ d0, 36);    // A[0,1]
        const std::uint64_t b23 = rotl64(a[11] ^ d1, 10);   // A[1,2]
        const std::uint64_t b33 = rotl64(a[17] ^ d2, 15);   // A[2,3]
        const std::uint64_t b43 = rotl64(a[23] ^ d3, 56);   // A[3,4]
        const std::uint64_t b04 = rotl64(a[2] ^ d2, 62);    // A[2,0]
        const std::uint64_t b14 = rotl64(a[8] ^ d3, 55);    // A[3,1]
        const std::uint64_t b24 = rotl64(a[14] ^ d4, 39);   // A[4,2]
        const std::uint64_t b34 = rotl64(a[15] ^ d0, 41);   // A[0,3]
        const std::uint64_t b44 = rotl64(a[21] ^ d1, 2);    // A[1,4]

        // FIPS 202 3.2.4: chi. A[x,y] = B[x,y] ^ (~B[x+1,y] & B[x+2,y]).
        a[0] = b00 ^ (~b10 & b20);
        a[1] = b10 ^ (~b20 & b30);
        a[2] = b20 ^ (~b30 & b40);
        a[3] = b30 ^ (~b40 & b00);
        a[4] = b40 ^ (~b00 & b10);
        a[5] = b01 ^ (~b11 & b21);
        a[6] = b11 ^ (~b21 & b31);
        a[7] = b21 ^ (~b31 & b41);
        a[8] = b31 ^ (~b41 & b01);
        a[9] = b41 ^ (~b01 & b11);
        a[10] = b02 ^ (~b12 & b22);
        a[11] = b12 ^ (~b22 & b32);
        a[12] = b22 ^ (~b32 & b42);
        a[13] = b32 ^ (~b42 & b02);
        a[14] = b42 ^ (~b02 & b12);
        a[15] = b03 ^ (~b13 & b23);
        a[16] = b13 ^ (~b23 & b33);
        a[17] = b23 ^ (~b33 & b43);
        a[18] = b33 ^ (~b43 & b03);
        a[19] = b43 ^ (~b03 & b13);
        a[20] = b04 ^ (~b14 & b24);
        a[21] = b14 ^ (~b24 & b34);
        a[22] = b24 ^ (~b34 & b44);
        a[23] = b34 ^ (~b44 & b04);
        a[24] = b44 ^ (~b04 & b14);

        // FIPS 202 3.2.5: iota.
        a[0] ^= kRoundConstants.rc[round];
    }
}

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

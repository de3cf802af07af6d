#include "crypto/sha3.h"

#include "crypto/bytes.h"
#include "crypto/keccak_round.h"
#include "crypto/wipe.h"

namespace {

constexpr int kLanes = 25;  // FIPS 202: the state is 5 x 5 lanes
constexpr int kLaneBytes = 8;  // w = 64 bits
constexpr int kStateBytes = kLanes * kLaneBytes;
static_assert(kStateBytes == 200, "b = 1600 bits");
constexpr int kRounds = keccak_internal::kRounds;
constexpr std::uint32_t kWidthBits = 1600;
constexpr std::uint8_t kSha3Suffix = 0x06;  // FIPS 202 6.1: M || 01, then the first pad bit
constexpr std::uint8_t kLastPadBit = 0x80;  // FIPS 202 5.1: the final 1 of pad10*1

constexpr std::uint64_t rotl64(std::uint64_t v, int n)
{
    return (v << n) | (v >> (64 - n));
}

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
        KECCAK_ROUND(std::uint64_t, a, e, keccak_internal::kRoundConstants.rc[round]);
        KECCAK_ROUND(std::uint64_t, e, a, keccak_internal::kRoundConstants.rc[round + 1]);
    }
    lanes[0] = a00;
    lanes[1] = ~a10;
    lanes[2] = ~a20;
    lanes[3] = a30;
    lanes[4] = a40;
    lanes[5] = a01;
    lanes[6] = a11;
    lanes[7] = a21;
    lanes[8] = ~a31;
    lanes[9] = a41;
    lanes[10] = a02;
    lanes[11] = a12;
    lanes[12] = ~a22;
    lanes[13] = a32;
    lanes[14] = a42;
    lanes[15] = a03;
    lanes[16] = a13;
    lanes[17] = ~a23;
    lanes[18] = a33;
    lanes[19] = a43;
    lanes[20] = ~a04;
    lanes[21] = a14;
    lanes[22] = a24;
    lanes[23] = a34;
    lanes[24] = a44;
}

#undef KECCAK_ROUND

// XORs `size` message bytes into the state from byte `position` on
// (position + size <= rate). Whole lanes go in as little-endian words.
void xor_into_state(std::uint64_t a[kLanes], std::uint32_t position, const std::uint8_t* in, std::size_t size)
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
std::uint32_t absorb(std::uint64_t a[kLanes], std::uint32_t rate, std::uint32_t position, const std::uint8_t* in,
                     std::uint64_t size)
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
void pad(std::uint64_t a[kLanes], std::uint32_t rate, std::uint32_t position, std::uint8_t suffix)
{
    xor_byte(a, position, suffix);
    // The suffix already ends in the last byte of the block: the final 1 goes in a block
    // of its own.
    if ((suffix & kLastPadBit) != 0 && position == rate - 1) permute(a);
    xor_byte(a, rate - 1, kLastPadBit);
    permute(a);
}

// FIPS 202 4, algorithm 8, steps 7 to 10: Z = Trunc_r(S), S = f(S) while more is wanted.
void squeeze(std::uint64_t a[kLanes], std::uint32_t rate, std::uint8_t* out, std::uint64_t size)
{
    for (;;) {
        const std::uint64_t take = size < rate ? size : rate;
        std::uint32_t i = 0;
        for (; i + kLaneBytes <= take; i += kLaneBytes) store64_le(out + i, a[i / kLaneBytes]);
        for (; i < take; ++i) out[i] = static_cast<std::uint8_t>(a[i / kLaneBytes] >> (8 * (i % kLaneBytes)));
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

void keccak_f1600_lanes(std::uint64_t lanes[25])
{
    permute(lanes);
}

void keccak_sponge(std::uint32_t rate, std::uint32_t capacity, const std::uint8_t* in, std::uint64_t in_len,
                   std::uint8_t suffix, std::uint8_t* out, std::uint64_t out_len)
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
    keccak_sponge(8 * kSha3_256RateBytes, kWidthBits - 8 * kSha3_256RateBytes, in, in_len, kSha3Suffix, out,
                  kSha3_256DigestSize);
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

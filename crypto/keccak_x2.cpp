#include "crypto/keccak_x2.h"

#include "crypto/keccak_round.h"
#include "crypto/wipe.h"

namespace {

// Two lanes, one of each state: every operation of the round acts on both at once.
typedef std::uint64_t Lanes2 __attribute__((vector_size(16)));

inline Lanes2 rotl64(Lanes2 v, int n)
{
    return (v << n) | (v >> (64 - n));
}

// SHA3 padding of a 32-byte message that fills one block with it: the domain bits and
// the first pad bit at byte 32 (lane 4), the last pad bit at byte 135 (lane 16).
constexpr std::uint64_t kPadFirst = 0x06;
constexpr std::uint64_t kPadLast = std::uint64_t{0x80} << 56;

// H(start || m) for the 32-byte messages m of both states (`m` lanes 0 to 3), as
// Keccak-p[1600, 24] on the block of `start` XOR m and padding; returns lanes 0 to 3.
// The six lanes that the round keeps inverted are inverted on the way in and out
// (keccak_round.h).
void hash_after(const Lanes2 s[25], Lanes2 m[4])
{
    Lanes2 a00 = s[0] ^ m[0], a10 = ~(s[1] ^ m[1]), a20 = ~(s[2] ^ m[2]), a30 = s[3] ^ m[3];
    Lanes2 a40 = s[4] ^ kPadFirst;
    Lanes2 a01 = s[5], a11 = s[6], a21 = s[7], a31 = ~s[8], a41 = s[9];
    Lanes2 a02 = s[10], a12 = s[11], a22 = ~s[12], a32 = s[13], a42 = s[14];
    Lanes2 a03 = s[15], a13 = s[16] ^ kPadLast, a23 = ~s[17], a33 = s[18], a43 = s[19];
    Lanes2 a04 = ~s[20], a14 = s[21], a24 = s[22], a34 = s[23], a44 = s[24];
    Lanes2 e00, e10, e20, e30, e40;
    Lanes2 e01, e11, e21, e31, e41;
    Lanes2 e02, e12, e22, e32, e42;
    Lanes2 e03, e13, e23, e33, e43;
    Lanes2 e04, e14, e24, e34, e44;
    Lanes2 c0 = a00 ^ a01 ^ a02 ^ a03 ^ a04;
    Lanes2 c1 = a10 ^ a11 ^ a12 ^ a13 ^ a14;
    Lanes2 c2 = a20 ^ a21 ^ a22 ^ a23 ^ a24;
    Lanes2 c3 = a30 ^ a31 ^ a32 ^ a33 ^ a34;
    Lanes2 c4 = a40 ^ a41 ^ a42 ^ a43 ^ a44;
    for (int round = 0; round < keccak_internal::kRounds; round += 2) {
        KECCAK_ROUND(Lanes2, a, e, keccak_internal::kRoundConstants.rc[round]);
        KECCAK_ROUND(Lanes2, e, a, keccak_internal::kRoundConstants.rc[round + 1]);
    }
    m[0] = a00;
    m[1] = ~a10;
    m[2] = ~a20;
    m[3] = a30;
}

}  // namespace

#undef KECCAK_ROUND

void pbkdf2_iterate_x2(const std::uint64_t inner[25], const std::uint64_t outer[25], std::uint64_t u[2][4],
                       std::uint64_t t[2][4], std::uint32_t count) noexcept
{
    Lanes2 inner2[25], outer2[25], u2[4], t2[4];
    for (int i = 0; i < 25; ++i) {
        inner2[i] = Lanes2{inner[i], inner[i]};
        outer2[i] = Lanes2{outer[i], outer[i]};
    }
    for (int i = 0; i < 4; ++i) {
        u2[i] = Lanes2{u[0][i], u[1][i]};
        t2[i] = Lanes2{t[0][i], t[1][i]};
    }
    for (std::uint32_t j = 0; j < count; ++j) {
        hash_after(inner2, u2);  // H((K0 ^ ipad) || U)
        hash_after(outer2, u2);  // H((K0 ^ opad) || that): the next U
        for (int i = 0; i < 4; ++i) t2[i] ^= u2[i];
    }
    for (int i = 0; i < 4; ++i) {
        u[0][i] = u2[i][0];
        u[1][i] = u2[i][1];
        t[0][i] = t2[i][0];
        t[1][i] = t2[i][1];
    }
    // The pad states and the values are key material.
    secure_wipe(inner2, sizeof inner2);
    secure_wipe(outer2, sizeof outer2);
    secure_wipe(u2, sizeof u2);
    secure_wipe(t2, sizeof t2);
}

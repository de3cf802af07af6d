#pragma once
// The round of Keccak-p[1600, 24] shared by the one-state permutation (sha3.cpp) and
// the two-state one (keccak_x2.cpp). `Lane` is the lane type: std::uint64_t, or a
// vector of two 64-bit lanes; the includer provides rotl64 for it and declares the
// lanes A##xy, E##xy and the column parities c0..c4 as Lane.

#include <cstdint>

namespace keccak_internal {

inline constexpr int kRounds = 24;  // Keccak-p[1600, 24], nr = 12 + 2l with l = 6

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
        for (int j = 0; j <= 6; ++j) c.rc[ir] |= rc(j + 7 * ir) << ((1 << j) - 1);
    return c;
}

inline constexpr RoundConstants kRoundConstants = make_round_constants();
static_assert(kRoundConstants.rc[0] == 0x0000000000000001u && kRoundConstants.rc[1] == 0x0000000000008082u &&
                  kRoundConstants.rc[23] == 0x8000000080008008u,
              "round constants of Keccak-p[1600, 24]");

}  // namespace keccak_internal

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
#define KECCAK_ROUND(Lane, A, E, round_constant)                                                                       \
    do {                                                                                                               \
        /* FIPS 202 3.2.1: theta, D[x] = C[x-1] ^ ROT(C[x+1], 1) */                                                    \
        const Lane d0 = c4 ^ rotl64(c1, 1);                                                                            \
        const Lane d1 = c0 ^ rotl64(c2, 1);                                                                            \
        const Lane d2 = c1 ^ rotl64(c3, 1);                                                                            \
        const Lane d3 = c2 ^ rotl64(c4, 1);                                                                            \
        const Lane d4 = c3 ^ rotl64(c0, 1);                                                                            \
        /* FIPS 202 3.2.2 to 3.2.4: rho, pi and chi for plane y = 0 */                                                 \
        const Lane b00 = (A##00 ^ d0);                                                                                 \
        const Lane b10 = rotl64(A##11 ^ d1, 44);                                                                       \
        const Lane b20 = rotl64(A##22 ^ d2, 43);                                                                       \
        const Lane b30 = rotl64(A##33 ^ d3, 21);                                                                       \
        const Lane b40 = rotl64(A##44 ^ d4, 14);                                                                       \
        const Lane not_b20 = ~b20;                                                                                     \
        E##00 = b00 ^ (b10 | b20) ^ (round_constant); /* 3.2.5: iota */                                                \
        E##10 = b10 ^ (not_b20 | b30);                                                                                 \
        E##20 = b20 ^ (b30 & b40);                                                                                     \
        E##30 = b30 ^ (b40 | b00);                                                                                     \
        E##40 = b40 ^ (b00 & b10);                                                                                     \
        c0 = E##00;                                                                                                    \
        c1 = E##10;                                                                                                    \
        c2 = E##20;                                                                                                    \
        c3 = E##30;                                                                                                    \
        c4 = E##40;                                                                                                    \
        /* FIPS 202 3.2.2 to 3.2.4: rho, pi and chi for plane y = 1 */                                                 \
        const Lane b01 = rotl64(A##30 ^ d3, 28);                                                                       \
        const Lane b11 = rotl64(A##41 ^ d4, 20);                                                                       \
        const Lane b21 = rotl64(A##02 ^ d0, 3);                                                                        \
        const Lane b31 = rotl64(A##13 ^ d1, 45);                                                                       \
        const Lane b41 = rotl64(A##24 ^ d2, 61);                                                                       \
        const Lane not_b41 = ~b41;                                                                                     \
        E##01 = b01 ^ (b11 | b21);                                                                                     \
        E##11 = b11 ^ (b21 & b31);                                                                                     \
        E##21 = b21 ^ (b31 | not_b41);                                                                                 \
        E##31 = b31 ^ (b41 | b01);                                                                                     \
        E##41 = b41 ^ (b01 & b11);                                                                                     \
        c0 ^= E##01;                                                                                                   \
        c1 ^= E##11;                                                                                                   \
        c2 ^= E##21;                                                                                                   \
        c3 ^= E##31;                                                                                                   \
        c4 ^= E##41;                                                                                                   \
        /* FIPS 202 3.2.2 to 3.2.4: rho, pi and chi for plane y = 2 */                                                 \
        const Lane b02 = rotl64(A##10 ^ d1, 1);                                                                        \
        const Lane b12 = rotl64(A##21 ^ d2, 6);                                                                        \
        const Lane b22 = rotl64(A##32 ^ d3, 25);                                                                       \
        const Lane b32 = rotl64(A##43 ^ d4, 8);                                                                        \
        const Lane b42 = rotl64(A##04 ^ d0, 18);                                                                       \
        const Lane not_b32 = ~b32;                                                                                     \
        E##02 = b02 ^ (b12 | b22);                                                                                     \
        E##12 = b12 ^ (b22 & b32);                                                                                     \
        E##22 = b22 ^ (not_b32 & b42);                                                                                 \
        E##32 = not_b32 ^ (b42 | b02);                                                                                 \
        E##42 = b42 ^ (b02 & b12);                                                                                     \
        c0 ^= E##02;                                                                                                   \
        c1 ^= E##12;                                                                                                   \
        c2 ^= E##22;                                                                                                   \
        c3 ^= E##32;                                                                                                   \
        c4 ^= E##42;                                                                                                   \
        /* FIPS 202 3.2.2 to 3.2.4: rho, pi and chi for plane y = 3 */                                                 \
        const Lane b03 = rotl64(A##40 ^ d4, 27);                                                                       \
        const Lane b13 = rotl64(A##01 ^ d0, 36);                                                                       \
        const Lane b23 = rotl64(A##12 ^ d1, 10);                                                                       \
        const Lane b33 = rotl64(A##23 ^ d2, 15);                                                                       \
        const Lane b43 = rotl64(A##34 ^ d3, 56);                                                                       \
        const Lane not_b33 = ~b33;                                                                                     \
        E##03 = b03 ^ (b13 & b23);                                                                                     \
        E##13 = b13 ^ (b23 | b33);                                                                                     \
        E##23 = b23 ^ (not_b33 | b43);                                                                                 \
        E##33 = not_b33 ^ (b43 & b03);                                                                                 \
        E##43 = b43 ^ (b03 | b13);                                                                                     \
        c0 ^= E##03;                                                                                                   \
        c1 ^= E##13;                                                                                                   \
        c2 ^= E##23;                                                                                                   \
        c3 ^= E##33;                                                                                                   \
        c4 ^= E##43;                                                                                                   \
        /* FIPS 202 3.2.2 to 3.2.4: rho, pi and chi for plane y = 4 */                                                 \
        const Lane b04 = rotl64(A##20 ^ d2, 62);                                                                       \
        const Lane b14 = rotl64(A##31 ^ d3, 55);                                                                       \
        const Lane b24 = rotl64(A##42 ^ d4, 39);                                                                       \
        const Lane b34 = rotl64(A##03 ^ d0, 41);                                                                       \
        const Lane b44 = rotl64(A##14 ^ d1, 2);                                                                        \
        const Lane not_b14 = ~b14;                                                                                     \
        E##04 = b04 ^ (not_b14 & b24);                                                                                 \
        E##14 = not_b14 ^ (b24 | b34);                                                                                 \
        E##24 = b24 ^ (b34 & b44);                                                                                     \
        E##34 = b34 ^ (b44 | b04);                                                                                     \
        E##44 = b44 ^ (b04 & b14);                                                                                     \
        c0 ^= E##04;                                                                                                   \
        c1 ^= E##14;                                                                                                   \
        c2 ^= E##24;                                                                                                   \
        c3 ^= E##34;                                                                                                   \
        c4 ^= E##44;                                                                                                   \
    } while (false);

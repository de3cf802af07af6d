#include "crypto/aes.h"

#include "crypto/bytes.h"

#include <cstddef>

namespace {

constexpr int kBlockWords = 4;  // FIPS 197: Nb, columns of the state
constexpr int kMaxRounds = 14;  // Nr for a 256-bit key
constexpr int kMaxKeyWords = kBlockWords * (kMaxRounds + 1);
static_assert(sizeof(AesRoundKeys) / sizeof(std::uint32_t) == kMaxKeyWords,
              "AesRoundKeys holds the schedule of AES-256");

// FIPS 197 5.1.1, figure 7: the S-box, S(x) at index x.
constexpr std::uint8_t kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76, 0xca, 0x82, 0xc9,
    0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0, 0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f,
    0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15, 0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07,
    0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75, 0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3,
    0x29, 0xe3, 0x2f, 0x84, 0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58,
    0xcf, 0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8, 0x51, 0xa3,
    0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2, 0xcd, 0x0c, 0x13, 0xec, 0x5f,
    0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73, 0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88,
    0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb, 0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac,
    0x62, 0x91, 0x95, 0xe4, 0x79, 0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a,
    0xae, 0x08, 0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a, 0x70,
    0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e, 0xe1, 0xf8, 0x98, 0x11,
    0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf, 0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42,
    0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

// FIPS 197 4.2.1: xtime, multiplication by {02} modulo m(x) = x^8 + x^4 + x^3 + x + 1.
constexpr std::uint32_t xtime(std::uint32_t b)
{
    return ((b << 1) ^ ((b & 0x80) ? 0x11b : 0)) & 0xff;
}

constexpr std::uint32_t rotr32(std::uint32_t w, int n)
{
    return (w >> n) | (w << (32 - n));
}

// The round tables fold SubBytes (5.1.1), ShiftRows (5.1.2) and MixColumns (5.1.3)
// into four lookups per column: te[0][x] is the column ({02}S(x), S(x), S(x), {03}S(x))
// packed big-endian, te[k] is te[0] rotated right by 8k bits. sbox4[x] holds S(x) in
// all four bytes, for the last round (no MixColumns) and SubWord.
// Built by the compiler: the tables are read-only data, nothing is computed at run time.
struct Tables {
    std::uint32_t te[4][256];
    std::uint32_t sbox4[256];
};

constexpr Tables make_tables()
{
    Tables t{};
    for (int x = 0; x < 256; ++x) {
        const std::uint32_t s = kSbox[x];
        const std::uint32_t s2 = xtime(s);
        const std::uint32_t s3 = s2 ^ s;
        const std::uint32_t column = (s2 << 24) | (s << 16) | (s << 8) | s3;
        for (int k = 0; k < 4; ++k) t.te[k][x] = k == 0 ? column : rotr32(column, 8 * k);
        t.sbox4[x] = s * 0x01010101u;
    }
    return t;
}

constexpr Tables kTables = make_tables();
static_assert(kTables.te[0][0] == 0xc66363a5u && kTables.te[0][1] == 0xf87c7c84u, "round table 0");
static_assert(kTables.te[1][0] == 0xa5c66363u && kTables.te[3][0] == 0x6363a5c6u,
              "round tables 1 to 3 are rotations of table 0");
static_assert(kTables.sbox4[0] == 0x63636363u && kTables.sbox4[1] == 0x7c7c7c7cu, "replicated S-box");

// Every lookup goes through the one object, so that a single base register with
// constant displacements reaches all five tables.
inline std::uint32_t te0(unsigned x)
{
    return kTables.te[0][x];
}
inline std::uint32_t te1(unsigned x)
{
    return kTables.te[1][x];
}
inline std::uint32_t te2(unsigned x)
{
    return kTables.te[2][x];
}
inline std::uint32_t te3(unsigned x)
{
    return kTables.te[3][x];
}
inline std::uint32_t sbox4(unsigned x)
{
    return kTables.sbox4[x];
}

// FIPS 197 5.2: Rcon[i] = [x^(i-1), {00}, {00}, {00}], i = 1 to 10.
constexpr std::uint32_t kRcon[10] = {
    0x01000000, 0x02000000, 0x04000000, 0x08000000, 0x10000000,
    0x20000000, 0x40000000, 0x80000000, 0x1b000000, 0x36000000,
};

constexpr std::uint32_t kByte0 = 0xff000000;
constexpr std::uint32_t kByte1 = 0x00ff0000;
constexpr std::uint32_t kByte2 = 0x0000ff00;
constexpr std::uint32_t kByte3 = 0x000000ff;

constexpr unsigned byte0(std::uint32_t w)
{
    return w >> 24;
}
constexpr unsigned byte1(std::uint32_t w)
{
    return (w >> 16) & 0xff;
}
constexpr unsigned byte2(std::uint32_t w)
{
    return (w >> 8) & 0xff;
}
constexpr unsigned byte3(std::uint32_t w)
{
    return w & 0xff;
}

// FIPS 197 5.2: SubWord, the S-box applied to each byte of a word.
inline std::uint32_t sub_word(std::uint32_t w)
{
    return (sbox4(byte0(w)) & kByte0) ^ (sbox4(byte1(w)) & kByte1) ^ (sbox4(byte2(w)) & kByte2) ^
        (sbox4(byte3(w)) & kByte3);
}

// FIPS 197 5.2: RotWord, [a0, a1, a2, a3] -> [a1, a2, a3, a0].
inline std::uint32_t rot_word(std::uint32_t w)
{
    return (w << 8) | (w >> 24);
}

// One full round (FIPS 197 5.1.1 to 5.1.4) on the columns s0..s3 with round key rk.
// Column j of the result takes row r from column j + r of the input (ShiftRows).
inline void full_round(std::uint32_t& s0, std::uint32_t& s1, std::uint32_t& s2, std::uint32_t& s3,
                       const std::uint32_t* rk)
{
    const std::uint32_t t0 = te0(byte0(s0)) ^ te1(byte1(s1)) ^ te2(byte2(s2)) ^ te3(byte3(s3)) ^ rk[0];
    const std::uint32_t t1 = te0(byte0(s1)) ^ te1(byte1(s2)) ^ te2(byte2(s3)) ^ te3(byte3(s0)) ^ rk[1];
    const std::uint32_t t2 = te0(byte0(s2)) ^ te1(byte1(s3)) ^ te2(byte2(s0)) ^ te3(byte3(s1)) ^ rk[2];
    const std::uint32_t t3 = te0(byte0(s3)) ^ te1(byte1(s0)) ^ te2(byte2(s1)) ^ te3(byte3(s2)) ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
}

// The final round: SubBytes, ShiftRows and AddRoundKey, no MixColumns.
inline std::uint32_t final_column(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t rk)
{
    return ((sbox4(byte0(a)) & kByte0) ^ (sbox4(byte1(b)) & kByte1) ^ (sbox4(byte2(c)) & kByte2) ^
            (sbox4(byte3(d)) & kByte3)) ^
        rk;
}

}  // namespace

int aes_expand_key(AesRoundKeys& keys, const std::uint8_t* key, std::uint32_t key_bits)
{
    int nk = 0;  // FIPS 197: Nk, key length in 32-bit words
    int nr = 0;  // FIPS 197: Nr, number of rounds
    switch (key_bits) {
    case 128:
        nk = 4;
        nr = 10;
        break;
    case 192:
        nk = 6;
        nr = 12;
        break;
    case 256:
        nk = 8;
        nr = 14;
        break;
    default: return 0;
    }
    const int total = kBlockWords * (nr + 1);

    // FIPS 197 5.2, KeyExpansion: the first Nk words are the key itself.
    for (int i = 0; i < nk; ++i) keys[i] = load32_be(key + 4 * i);
    for (int i = nk; i < total; ++i) {
        std::uint32_t temp = keys[i - 1];
        if (i % nk == 0)
            temp = sub_word(rot_word(temp)) ^ kRcon[i / nk - 1];
        else if (nk > 6 && i % nk == 4)
            temp = sub_word(temp);
        keys[i] = keys[i - nk] ^ temp;
    }
    return nr;
}

void aes_encrypt_block(const AesRoundKeys& keys, int rounds, const std::uint8_t in[16], std::uint8_t out[16])
{
    // Only 10, 12 and 14 are meaningful; any other value runs the nearest schedule that
    // stays inside the 60 words instead of reading past them.
    const int nr = rounds > 12 ? 14 : rounds > 10 ? 12 : 10;
    const std::uint32_t* rk = keys;

    // FIPS 197 5.1: state = in; AddRoundKey(state, w[0, Nb-1]).
    std::uint32_t s0 = load32_be(in) ^ rk[0];
    std::uint32_t s1 = load32_be(in + 4) ^ rk[1];
    std::uint32_t s2 = load32_be(in + 8) ^ rk[2];
    std::uint32_t s3 = load32_be(in + 12) ^ rk[3];

    // FIPS 197 5.1: rounds 1 to Nr - 1.
    full_round(s0, s1, s2, s3, rk + 4);
    full_round(s0, s1, s2, s3, rk + 8);
    full_round(s0, s1, s2, s3, rk + 12);
    full_round(s0, s1, s2, s3, rk + 16);
    full_round(s0, s1, s2, s3, rk + 20);
    full_round(s0, s1, s2, s3, rk + 24);
    full_round(s0, s1, s2, s3, rk + 28);
    full_round(s0, s1, s2, s3, rk + 32);
    full_round(s0, s1, s2, s3, rk + 36);
    if (nr > 10) {
        full_round(s0, s1, s2, s3, rk + 40);
        full_round(s0, s1, s2, s3, rk + 44);
        if (nr > 12) {
            full_round(s0, s1, s2, s3, rk + 48);
            full_round(s0, s1, s2, s3, rk + 52);
        }
    }

    // FIPS 197 5.1: final round with w[Nr*Nb, (Nr+1)*Nb - 1]; out = state.
    const std::uint32_t* last = rk + kBlockWords * nr;
    const std::uint32_t o0 = final_column(s0, s1, s2, s3, last[0]);
    const std::uint32_t o1 = final_column(s1, s2, s3, s0, last[1]);
    const std::uint32_t o2 = final_column(s2, s3, s0, s1, last[2]);
    const std::uint32_t o3 = final_column(s3, s0, s1, s2, last[3]);
    store32_be(out, o0);
    store32_be(out + 4, o1);
    store32_be(out + 8, o2);
    store32_be(out + 12, o3);
}

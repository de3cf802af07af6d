#include "crypto/sha2.h"

#include "crypto/bytes.h"
#include "crypto/merkle_damgard.h"
#include "crypto/wipe.h"

namespace {

template <typename Word>
Word rotr(Word x, int n)
{
    return static_cast<Word>((x >> n) | (x << (8 * sizeof(Word) - n)));
}

// FIPS 180-4 4.2.2: the SHA-256 constants K0..K63.
constexpr std::uint32_t kK256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// FIPS 180-4 4.2.3: the SHA-512 constants K0..K79.
constexpr std::uint64_t kK512[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817,
};

// What differs between SHA-256 and SHA-512: the word, the rounds, the constants and
// the rotation and shift counts of FIPS 180-4 4.1.2 and 4.1.3.
struct Sha256Words {
    using Word = std::uint32_t;
    static constexpr int kRounds = 64;
    static constexpr const Word* kK = kK256;
    static constexpr int kSigma0[3] = {7, 18, 3};
    static constexpr int kSigma1[3] = {17, 19, 10};
    static constexpr int kBigSigma0[3] = {2, 13, 22};
    static constexpr int kBigSigma1[3] = {6, 11, 25};
    static Word load(const std::uint8_t* p) { return load32_be(p); }
};

struct Sha512Words {
    using Word = std::uint64_t;
    static constexpr int kRounds = 80;
    static constexpr const Word* kK = kK512;
    static constexpr int kSigma0[3] = {1, 8, 7};
    static constexpr int kSigma1[3] = {19, 61, 6};
    static constexpr int kBigSigma0[3] = {28, 34, 39};
    static constexpr int kBigSigma1[3] = {14, 18, 41};
    static Word load(const std::uint8_t* p) { return load64_be(p); }
};

// FIPS 180-4 6.2.2 (SHA-256) and 6.4.2 (SHA-512): one block of 16 words into the
// hash value H.
template <typename W>
void compress_block(typename W::Word h[8], const std::uint8_t* block) noexcept
{
    using Word = typename W::Word;
    Word w[W::kRounds];
    // Step 1: the message schedule, with sigma0 and sigma1.
    for (int t = 0; t < 16; ++t) w[t] = W::load(block + sizeof(Word) * t);
    for (int t = 16; t < W::kRounds; ++t) {
        const Word s0 = rotr(w[t - 15], W::kSigma0[0]) ^ rotr(w[t - 15], W::kSigma0[1]) ^ (w[t - 15] >> W::kSigma0[2]);
        const Word s1 = rotr(w[t - 2], W::kSigma1[0]) ^ rotr(w[t - 2], W::kSigma1[1]) ^ (w[t - 2] >> W::kSigma1[2]);
        w[t] = static_cast<Word>(s1 + w[t - 7] + s0 + w[t - 16]);
    }
    // Step 2: the working variables.
    Word a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    // Step 3, with Ch, Maj, Sigma0 and Sigma1.
    for (int t = 0; t < W::kRounds; ++t) {
        const Word big_s1 = rotr(e, W::kBigSigma1[0]) ^ rotr(e, W::kBigSigma1[1]) ^ rotr(e, W::kBigSigma1[2]);
        const Word ch = static_cast<Word>((e & f) ^ (~e & g));
        const Word t1 = static_cast<Word>(hh + big_s1 + ch + W::kK[t] + w[t]);
        const Word big_s0 = rotr(a, W::kBigSigma0[0]) ^ rotr(a, W::kBigSigma0[1]) ^ rotr(a, W::kBigSigma0[2]);
        const Word maj = (a & b) ^ (a & c) ^ (b & c);
        const Word t2 = static_cast<Word>(big_s0 + maj);
        hh = g;
        g = f;
        f = e;
        e = static_cast<Word>(d + t1);
        d = c;
        c = b;
        b = a;
        a = static_cast<Word>(t1 + t2);
    }
    // Step 4: the intermediate hash value.
    Word working[8] = {a, b, c, d, e, f, g, hh};
    for (int i = 0; i < 8; ++i) h[i] = static_cast<Word>(h[i] + working[i]);
    secure_wipe(working, sizeof working);
    secure_wipe(w, sizeof w);
}

}  // namespace

// FIPS 180-4 5.3.3: the SHA-256 initial hash value.
const std::uint32_t Sha256Traits::kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// FIPS 180-4 5.3.5: the SHA-512 initial hash value.
const std::uint64_t Sha512Traits::kInitial[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                                 0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                                 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};

void Sha256Traits::compress(std::uint32_t h[8], const std::uint8_t block[64]) noexcept
{
    compress_block<Sha256Words>(h, block);
}

void Sha512Traits::compress(std::uint64_t h[8], const std::uint8_t block[128]) noexcept
{
    compress_block<Sha512Words>(h, block);
}

void sha256(const std::uint8_t* in, std::size_t in_len, std::uint8_t out[kSha256DigestSize]) noexcept
{
    Sha256 hash;
    hash.update(in, in_len);
    hash.finish(out);
}

void sha512(const std::uint8_t* in, std::size_t in_len, std::uint8_t out[kSha512DigestSize]) noexcept
{
    Sha512 hash;
    hash.update(in, in_len);
    hash.finish(out);
}

// SHA-256 compression function (FIPS 180): a portable version and one on the
// x86 SHA instructions, chosen once by what the processor offers.
#include "crypto/hablocks.h"
#include "crypto/sha2rounds.h"

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

alignas(16) constexpr uint32_t kK[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

struct Sha256Fn {
    using Word = uint32_t;
    static Word Load(const uint8_t* p) { return haLoadBe32(p); }
    static Word S0(Word x) { return haRotr32(x, 2) ^ haRotr32(x, 13) ^ haRotr32(x, 22); }
    static Word S1(Word x) { return haRotr32(x, 6) ^ haRotr32(x, 11) ^ haRotr32(x, 25); }
    static Word s0(Word x) { return haRotr32(x, 7) ^ haRotr32(x, 18) ^ (x >> 3); }
    static Word s1(Word x) { return haRotr32(x, 17) ^ haRotr32(x, 19) ^ (x >> 10); }
};

using BlocksFn = void (*)(uint32_t*, const uint8_t*, size_t);

BlocksFn Choose()
{
    return haSha256HasShaInstructions() ? haSha256BlocksShaNi : haSha256BlocksPortable;
}

}  // namespace

void haSha256BlocksPortable(uint32_t h[8], const uint8_t* p, size_t nblocks)
{
    haSha2Blocks<Sha256Fn, 64>(h, p, nblocks, kK);
}

#if defined(__x86_64__)

bool haSha256HasShaInstructions()
{
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const bool ssse3 = c & bit_SSSE3, sse41 = c & bit_SSE4_1;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return false;
    return ssse3 && sse41 && (b & bit_SHA);
}

// The state is kept as the register pair ABEF / CDGH that the round
// instruction works on; each step of the loop runs four rounds.
__attribute__((target("sha,sse4.1,ssse3"))) void haSha256BlocksShaNi(uint32_t h[8], const uint8_t* p, size_t nblocks)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; nblocks > 0; --nblocks, p += 64) {
        const __m128i abefSaved = abef, cdghSaved = cdgh;
        __m128i m[4];
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            __m128i& w = m[i & 3];
            if (i < 4) {
                w = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), byteSwap);
            } else {
                // w held W[t-16..t-13]; the others hold W[t-12..t-1].
                const __m128i t = _mm_add_epi32(_mm_sha256msg1_epu32(w, m[(i + 1) & 3]),
                                                _mm_alignr_epi8(m[(i + 3) & 3], m[(i + 2) & 3], 4));
                w = _mm_sha256msg2_epu32(t, m[(i + 3) & 3]);
            }
            __m128i wk = _mm_add_epi32(w, _mm_load_si128(reinterpret_cast<const __m128i*>(kK + 4 * i)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            wk = _mm_shuffle_epi32(wk, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
        }
        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), hgfe);
}

#else

bool haSha256HasShaInstructions()
{
    return false;
}
void haSha256BlocksShaNi(uint32_t h[8], const uint8_t* p, size_t nblocks)
{
    haSha256BlocksPortable(h, p, nblocks);
}

#endif

void haSha256Blocks(uint32_t h[8], const uint8_t* p, size_t nblocks)
{
    static const BlocksFn blocks = Choose();
    blocks(h, p, nblocks);
}

// CRC-32 (reflected, polynomial 0xEDB88320): slicing-by-8 tables for short
// buffers and machines without carry-less multiply, and 128-bit folding with
// PCLMULQDQ for long buffers.
#include "cslib/crc32.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables()
{
    Tables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (int s = 1; s < 8; ++s)
            t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    return t;
}

constexpr Tables kTab = MakeTables();

inline uint32_t Load32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint32_t CrcSlice8(uint32_t reg, const uint8_t* p, size_t n)
{
    while (n >= 8) {
        const uint32_t lo = Load32(p) ^ reg;
        const uint32_t hi = Load32(p + 4);
        reg = kTab[7][lo & 0xFF] ^ kTab[6][(lo >> 8) & 0xFF] ^ kTab[5][(lo >> 16) & 0xFF] ^ kTab[4][lo >> 24] ^
              kTab[3][hi & 0xFF] ^ kTab[2][(hi >> 8) & 0xFF] ^ kTab[1][(hi >> 16) & 0xFF] ^ kTab[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--)
        reg = (reg >> 8) ^ kTab[0][(reg ^ *p++) & 0xFF];
    return reg;
}

#if defined(__x86_64__)
// Folds 64 bytes at a time in four lanes, then the lanes into one, then 16
// bytes at a time.  The last 128-bit remainder is congruent to the message
// (with the register folded into its first word), so its CRC from a zero
// register finishes the job without a Barrett reduction.
#define KOV_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

KOV_CLMUL_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i data)
{
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), data);
}

KOV_CLMUL_TARGET inline __m128i load(const uint8_t* q)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

KOV_CLMUL_TARGET uint32_t CrcFold(uint32_t reg, const uint8_t*& p, size_t& n)
{
    const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596LL, 0x154442bd4LL);
    const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009eLL, 0x1751997d0LL);

    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    n -= 64;
    while (n >= 64) {
        x0 = fold(x0, k1k2, load(p));
        x1 = fold(x1, k1k2, load(p + 16));
        x2 = fold(x2, k1k2, load(p + 32));
        x3 = fold(x3, k1k2, load(p + 48));
        p += 64;
        n -= 64;
    }
    x0 = fold(x0, k3k4, x1);
    x0 = fold(x0, k3k4, x2);
    x0 = fold(x0, k3k4, x3);
    while (n >= 16) {
        x0 = fold(x0, k3k4, load(p));
        p += 16;
        n -= 16;
    }
    alignas(16) uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), x0);
    return CrcSlice8(0, rest, sizeof rest);
}

const bool kHaveClmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
#endif

}  // namespace

uint32_t CsCrc32Update(uint32_t reg, const void* data, size_t n)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
#if defined(__x86_64__)
    if (n >= 128 && kHaveClmul)
        reg = CrcFold(reg, p, n);
#endif
    return CrcSlice8(reg, p, n);
}

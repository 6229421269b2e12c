// Cached converters between UTF-8 and the local code page "1100" (ISO-8859-1).
// Every character of the local code page is one byte equal to its Unicode
// value, so the conversion needs no tables: code points up to U+00FF map to
// one byte, anything else (and any broken UTF-8 sequence) to "#".
#include "krn/rscp/rscp.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

const unsigned char kSubstitute = '#';

bool IsCont(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the longest valid prefix of the UTF-8 sequence at s (at most 4
// bytes) and, when the whole sequence is valid, its code point.  Returns the
// number of bytes to consume (at least 1); *valid tells whether they form a
// complete character.  Never reads past a NUL, which is no continuation byte.
std::size_t DecodeOne(const unsigned char* s, uint32_t* cp, bool* valid)
{
    const unsigned char c = s[0];
    *valid = false;
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c < 0xC2 || c > 0xF4)
        return 1;  // continuation byte, overlong lead or out of range
    if (c < 0xE0) {
        need = 2;
        *cp = c & 0x1F;
    } else if (c < 0xF0) {
        need = 3;
        *cp = c & 0x0F;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else {
        need = 4;
        *cp = c & 0x07;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    }
    if (s[1] < lo || s[1] > hi)
        return 1;
    *cp = (*cp << 6) | (s[1] & 0x3F);
    for (std::size_t i = 2; i < need; ++i) {
        if (!IsCont(s[i]))
            return i;
        *cp = (*cp << 6) | (s[i] & 0x3F);
    }
    *valid = true;
    return need;
}

// Converts src into dst, which must not overlap src from above (dst <= src or
// disjoint): the output never outgrows the input, so writing never overtakes
// reading.
int Utf8ToLatin1(unsigned char* dst, std::size_t dstSize, std::size_t* outLen,
                 const unsigned char* src)
{
    std::size_t w = 0;
    const std::size_t limit = dstSize - 1;
    while (*src) {
        unsigned char out;
        if (*src < 0x80) {
            out = *src++;
        } else {
            uint32_t cp = 0;
            bool valid;
            src += DecodeOne(src, &cp, &valid);
            out = valid && cp <= 0xFF ? static_cast<unsigned char>(cp) : kSubstitute;
        }
        if (w == limit) {
            dst[0] = '\0';
            if (outLen)
                *outLen = 0;
            return RSCPETOOLONG;
        }
        dst[w++] = out;
    }
    dst[w] = '\0';
    if (outLen)
        *outLen = w;
    return RSCP_OK;
}

bool Overlaps(const void* a, std::size_t aSize, const void* b, std::size_t bSize)
{
    const auto pa = reinterpret_cast<std::uintptr_t>(a);
    const auto pb = reinterpret_cast<std::uintptr_t>(b);
    return pa < pb + bSize && pb < pa + aSize;
}

}  // namespace

int Utf8nToUcnCPInPlace(char* dst, std::size_t dstSize, std::size_t* outLen, const char* src)
{
    if (!dst || !src)
        return RSCPEINVAL;
    if (dstSize == 0)
        return RSCPETOOLONG;
    auto* d = reinterpret_cast<unsigned char*>(dst);
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    if (d > s && Overlaps(dst, dstSize, src, std::strlen(src) + 1)) {
        // A destination that starts inside the source would be overtaken.
        const std::string copy(src);
        return Utf8ToLatin1(d, dstSize, outLen, reinterpret_cast<const unsigned char*>(copy.c_str()));
    }
    return Utf8ToLatin1(d, dstSize, outLen, s);
}

int UcnToUtf8nCPStr(char* dst, std::size_t dstSize, std::size_t* outLen, const char* src)
{
    if (!dst || !src)
        return RSCPEINVAL;
    if (dstSize == 0)
        return RSCPETOOLONG;
    const std::size_t srcLen = std::strlen(src);
    std::string copy;
    if (Overlaps(dst, dstSize, src, srcLen + 1)) {
        // The output grows, so it may not be written over its own input.
        copy.assign(src, srcLen);
        src = copy.c_str();
    }
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    auto* d = reinterpret_cast<unsigned char*>(dst);
    const std::size_t limit = dstSize - 1;
    std::size_t w = 0;
    for (; *s; ++s) {
        const unsigned char c = *s;
        const std::size_t need = c < 0x80 ? 1 : 2;
        if (limit - w < need) {
            d[0] = '\0';
            if (outLen)
                *outLen = 0;
            return RSCPETOOLONG;
        }
        if (need == 1) {
            d[w++] = c;
        } else {
            d[w++] = static_cast<unsigned char>(0xC0 | (c >> 6));
            d[w++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
    }
    d[w] = '\0';
    if (outLen)
        *outLen = w;
    return RSCP_OK;
}

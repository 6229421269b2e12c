// Plain casts between the program's character type and raw bytes (both 8-bit
// in this build, so these are copies), widening to 16-bit units, and
// blank-padded fixed fields.
#include <cstdlib>
#include <cstring>

#include "nls/nlsui.h"

namespace {

int copyRange(char** dpos, const char* dend, const char** spos, const char* send)
{
    char* d = *dpos;
    const char* s = *spos;
    const size_t droom = d < dend ? static_cast<size_t>(dend - d) : 0;
    const size_t slen = s < send ? static_cast<size_t>(send - s) : 0;
    const size_t n = droom < slen ? droom : slen;
    if (n != 0)
        std::memcpy(d, s, n);
    *dpos = d + n;
    *spos = s + n;
    return n == slen ? 0 : NLSUI_CUT;
}

}  // namespace

char* nlsui_strcpy(char* dst, const char* src)
{
    return std::strcpy(dst, src);
}
char* nlsui_strcpy2(char* dst, const char* src)
{
    return std::strcpy(dst, src);
}

void* nlsui_memcpy(void* dst, const void* src, int32_t n)
{
    if (n > 0)
        std::memcpy(dst, src, static_cast<size_t>(n));
    return dst;
}

void* nlsui_memcpy2(void* dst, const void* src, int32_t n)
{
    return nlsui_memcpy(dst, src, n);
}

void* nlsui_memcpyNe(void* dst, const void* src, int32_t n)
{
    // Callers may hand in the same buffer; a partial overlap is moved safely too.
    if (n > 0 && dst != src)
        std::memmove(dst, src, static_cast<size_t>(n));
    return dst;
}

void* nlsui_memcpyNe2(void* dst, const void* src, int32_t n)
{
    return nlsui_memcpyNe(dst, src, n);
}

int nlsui_cvtmem(char** dpos, const char* dend, const char** spos, const char* send)
{
    return copyRange(dpos, dend, spos, send);
}

int nlsui_cvtmem2(char** dpos, const char* dend, const char** spos, const char* send)
{
    return copyRange(dpos, dend, spos, send);
}

uint16_t* nlsui_str2u16(uint16_t* dst, const char* src)
{
    size_t i = 0;
    for (; src[i] != '\0'; ++i)
        dst[i] = static_cast<unsigned char>(src[i]);
    dst[i] = 0;
    return dst;
}

uint16_t* nlsui_mem2u16(uint16_t* dst, const char* src, int32_t n)
{
    for (int32_t i = 0; i < n; ++i)
        dst[i] = static_cast<unsigned char>(src[i]);
    return dst;
}

int nlsui_mblen(const char* s, size_t n)
{
    return std::mblen(s, n);
}

void nlsui_str2fix(char* field, const char* src, int32_t n)
{
    if (n <= 0)
        return;
    const size_t size = static_cast<size_t>(n);
    const size_t len = src ? ::strnlen(src, size) : 0;
    std::memcpy(field, src ? src : "", len);
    std::memset(field + len, ' ', size - len);
}

void nlsui_mem2fix(char* field, int32_t n, const char* src, int32_t srclen)
{
    if (n <= 0)
        return;
    if (src == nullptr && srclen == 0)
        return;
    const size_t size = static_cast<size_t>(n);
    size_t len = 0;
    if (src != nullptr && srclen > 0)
        len = srclen < n ? static_cast<size_t>(srclen) : size;
    if (len != 0)
        std::memcpy(field, src, len);
    std::memset(field + len, ' ', size - len);
}

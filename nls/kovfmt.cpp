// Bounded formatting: one vsnprintf pass, then the size rules.
#include <cstdio>

#include "nls/kovstr.h"

int32_t vsnprintfTruncR(char* dst, size_t size, const char* fmt, va_list ap)
{
    if (size == 0)
        return 0;
    const int n = std::vsnprintf(dst, size, fmt, ap);
    if (n >= 0 && static_cast<size_t>(n) < size)
        return n;
    dst[size - 1] = '\0';
    // The size tells the caller of the cut; sizes beyond 32 bits keep their low bits.
    return static_cast<int32_t>(static_cast<uint32_t>(size));
}

int32_t snprintfTruncR(char* dst, size_t size, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int32_t r = vsnprintfTruncR(dst, size, fmt, ap);
    va_end(ap);
    return r;
}

int32_t vsnprintfR(char* dst, size_t size, const char* fmt, va_list ap)
{
    if (size == 0)
        return -1;
    const int n = std::vsnprintf(dst, size, fmt, ap);
    if (n >= 0 && static_cast<size_t>(n) < size && dst[n] == '\0')
        return n;
    dst[size - 1] = '\0';
    return -1;
}

int32_t snprintfR(char* dst, size_t size, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int32_t r = vsnprintfR(dst, size, fmt, ap);
    va_end(ap);
    return r;
}

// Bounded string and memory functions.  All scanning is done by the C
// library's strnlen/strspn/strcspn, which are vectorised yet never read past
// the bound or the terminator they are given; the rules themselves are shared
// with the 16-bit twins (kovstr_rules.h).
#include "nls/kovstr.h"

#include <cstring>

#include "nls/kovstr_rules.h"

namespace {
struct ByteScan {
    static size_t nlen(const char* s, size_t max) { return ::strnlen(s, max); }
    static size_t span(const char* s, const char* set) { return std::strspn(s, set); }
    static size_t cspan(const char* s, const char* set) { return std::strcspn(s, set); }
};
}  // namespace

size_t strnlenR(const char* s, size_t max)
{
    return max == 0 ? 0 : ::strnlen(s, max);
}

int strcpy_sR(char* dst, size_t dstsize, const char* src)
{
    return kov_bounded::strcpy_s<char, ByteScan>(dst, dstsize, src);
}

int strcat_sR(char* dst, size_t dstsize, const char* src)
{
    return kov_bounded::strcat_s<char, ByteScan>(dst, dstsize, src);
}

int strncpy_sR(char* dst, size_t dstsize, const char* src, size_t count)
{
    return kov_bounded::strncpy_s<char, ByteScan>(dst, dstsize, src, count);
}

int strncat_sR(char* dst, size_t dstsize, const char* src, size_t count)
{
    return kov_bounded::strncat_s<char, ByteScan>(dst, dstsize, src, count);
}

char* strtok_sR(char* str, const char* delim, char** context)
{
    return kov_bounded::strtok_s<char, ByteScan>(str, delim, context);
}

int memcpy_sR(void* dst, size_t dstsize, const void* src, size_t count)
{
    return kov_bounded::memcpy_s<unsigned char, false>(static_cast<unsigned char*>(dst), dstsize,
                                                       static_cast<const unsigned char*>(src), count);
}

int memmove_sR(void* dst, size_t dstsize, const void* src, size_t count)
{
    return kov_bounded::memcpy_s<unsigned char, true>(static_cast<unsigned char*>(dst), dstsize,
                                                      static_cast<const unsigned char*>(src), count);
}

// Case-insensitive compares and case conversions of 8-bit text.
//
// The locale's case tables are read directly (one 32-bit entry per byte value,
// the folded byte in the low 8 bits), so the single-byte paths make no call per
// byte.  The multi-byte mode is asked afresh on every call; the double-byte
// test runs only at bytes of 0x80 and above.
#include "nls/kovcase.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cwchar>

namespace {

using Table = const int32_t*;

inline Table lowerTable()
{
    return *__ctype_tolower_loc();
}
inline Table upperTable()
{
    return *__ctype_toupper_loc();
}
inline bool multiByteLocale()
{
    return MB_CUR_MAX >= 2;
}

// True when p[0] (>= 0x80) and p[1] form one double-byte character.  p[1] is
// always readable: p[0] is not the terminator.  A fresh conversion state keeps
// the answer independent of earlier calls.
inline bool isDoubleByte(const unsigned char* p)
{
    std::mbstate_t st{};
    return std::mbrlen(reinterpret_cast<const char*>(p), 2, &st) == 2;
}

// One compare unit of a string in a multi-byte locale.
struct Cursor {
    const unsigned char* p;
    bool trail = false;
    int next(Table low)
    {
        const unsigned char c = *p++;
        if (trail) {
            trail = false;
            return c;
        }
        if (c >= 0x80 && isDoubleByte(p - 1)) {
            trail = true;
            return c;
        }
        return low[c] & 0xFF;
    }
};

// Compares at most n unit pairs.
int compare(const char* s1, const char* s2, size_t n)
{
    const Table low = lowerTable();
    const auto* a = reinterpret_cast<const unsigned char*>(s1);
    const auto* b = reinterpret_cast<const unsigned char*>(s2);
    if (!multiByteLocale()) {
        for (; n != 0; --n, ++a, ++b) {
            const int c1 = low[*a] & 0xFF;
            const int c2 = low[*b] & 0xFF;
            if (c1 == 0)
                return -c2;
            if (c1 != c2)
                return c1 - c2;
        }
        return 0;
    }
    Cursor x{a}, y{b};
    for (; n != 0; --n) {
        const int c1 = x.next(low);
        const int c2 = y.next(low);
        if (c1 == 0)
            return -c2;
        if (c1 != c2)
            return c1 - c2;
    }
    return 0;
}

// Converts src into dst (which may be src) over at most n bytes; returns the
// index where it stopped.  ASCII letters move by 32 whatever the locale; bytes
// of 0x80 and above go through the table; double-byte characters stay.
size_t convert(unsigned char* dst, const unsigned char* src, size_t n, bool upper)
{
    const Table tbl = upper ? upperTable() : lowerTable();
    const bool mb = multiByteLocale();
    const unsigned char from = upper ? 'a' : 'A';
    size_t i = 0;
    while (i < n) {
        const unsigned char c = src[i];
        if (c == 0)
            break;
        if (c < 0x80) {
            dst[i] = static_cast<unsigned char>(c - from) < 26 ? (c ^ 0x20) : c;
            ++i;
        } else if (mb && i + 1 < n && src[i + 1] != 0 && isDoubleByte(src + i)) {
            dst[i] = c;
            dst[i + 1] = src[i + 1];
            i += 2;
        } else {
            dst[i] = static_cast<unsigned char>(tbl[c] & 0xFF);
            ++i;
        }
    }
    return i;
}

inline unsigned char* u(char* s)
{
    return reinterpret_cast<unsigned char*>(s);
}
inline const unsigned char* u(const char* s)
{
    return reinterpret_cast<const unsigned char*>(s);
}

}  // namespace

int strcasecmpR(const char* s1, const char* s2)
{
    if (s1 == s2)
        return 0;
    return compare(s1, s2, SIZE_MAX);
}

int strncasecmpR(const char* s1, const char* s2, size_t n)
{
    if (n == 0 || s1 == s2)
        return 0;
    return compare(s1, s2, n);
}

char* strlwrR(char* s)
{
    convert(u(s), u(s), SIZE_MAX, false);
    return s;
}

char* struprR(char* s)
{
    convert(u(s), u(s), SIZE_MAX, true);
    return s;
}

char* strnlwrR(char* s, size_t n)
{
    convert(u(s), u(s), n, false);
    return s;
}

char* strnuprR(char* s, size_t n)
{
    convert(u(s), u(s), n, true);
    return s;
}

char* strcpylwrR(char* dst, const char* src)
{
    dst[convert(u(dst), u(src), SIZE_MAX, false)] = '\0';
    return dst;
}

char* strcpyuprR(char* dst, const char* src)
{
    dst[convert(u(dst), u(src), SIZE_MAX, true)] = '\0';
    return dst;
}

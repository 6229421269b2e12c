// Conversion between 16-bit text and UTF-8 strings.
#include "i18n/kovu16/u16_utf8.h"

#include <cerrno>

namespace {

// Stores a code point as one unit or a surrogate pair within room units;
// returns the units it needs (the high half is stored even when only it fits).
inline size_t put_code_point(KOV_UTF16* dst, size_t room, unsigned cp)
{
    if (cp < 0x10000) {
        if (dst != nullptr && room >= 1)
            dst[0] = static_cast<KOV_UTF16>(cp);
        return 1;
    }
    if (dst != nullptr && room >= 1)
        dst[0] = static_cast<KOV_UTF16>(((cp - 0x10000) >> 10) + 0xD800);
    if (dst != nullptr && room >= 2)
        dst[1] = static_cast<KOV_UTF16>((cp & 0x3FF) + 0xDC00);
    return 2;
}

}  // namespace

int u16_decodeUtf8(const unsigned char* s, size_t avail, unsigned* cp)
{
    if (avail == 0)
        return 0;
    const unsigned c = s[0];
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    int n;
    unsigned v;
    if (c < 0xC0)
        return 0;
    if (c < 0xE0) {
        n = 2;
        v = c & 0x1F;
    } else if (c < 0xF0) {
        n = 3;
        v = c & 0x0F;
    } else if (c < 0xF8) {
        n = 4;
        v = c & 0x07;
    } else {
        return 0;
    }
    for (int i = 1; i < n; ++i) {
        if (static_cast<size_t>(i) >= avail)
            return 0;
        const unsigned b = s[i];
        if ((b & 0xC0) != 0x80)
            return 0;
        v = (v << 6) | (b & 0x3F);
    }
    if (v >= 0x110000)
        return 0;
    *cp = v;
    return n;
}

size_t U16ToUtf8Str(char* dst, const KOV_UTF16* src, size_t dstsize)
{
    size_t n = 0;
    if (dst == nullptr) {
        for (; *src != 0; ++src)
            n += u16_encodedLength(*src);
        return n;
    }
    for (; *src != 0; ++src) {
        const size_t len = u16_encodedLength(*src);
        if (len > dstsize - n)
            break;
        u16_encodeUnit(*src, dst + n);
        n += len;
    }
    if (n < dstsize)
        dst[n] = '\0';
    return n;
}

int U16nToUtf8(char* dst, const KOV_UTF16* src, size_t count)
{
    if (dst == nullptr)
        return -1;
    size_t n = 0;
    for (size_t i = 0; i < count; ++i)
        n += static_cast<size_t>(u16_encodeUnit(src[i], dst + n));
    return static_cast<int>(n);
}

size_t U16nToUtf8n(char* dst, size_t dstsize, const KOV_UTF16* src, size_t count)
{
    const bool to_terminator = count == U16_TO_TERMINATOR;
    if (to_terminator)
        count = strlenU16(src) + 1;
    size_t need = 0;
    for (size_t i = 0; i < count; ++i)
        need += u16_encodedLength(src[i]);
    if (dst == nullptr || dstsize == 0)
        return need;
    if (need > dstsize) {
        errno = ERANGE;
        return 0;
    }
    size_t n = 0;
    for (size_t i = 0; i < count; ++i)
        n += static_cast<size_t>(u16_encodeUnit(src[i], dst + n));
    return n;
}

size_t Utf8nToU16nRepl(KOV_UTF16* dst, size_t dstsize, const char* src, size_t count, size_t* errcount, KOV_UTF16 repl)
{
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    const bool to_terminator = count == U16_TO_TERMINATOR;
    size_t i = 0, n = 0;
    while (to_terminator || i < count) {
        unsigned cp;
        int used = u16_decodeUtf8(s + i, to_terminator ? SIZE_MAX : count - i, &cp);
        if (used == 0) {
            if (errcount == nullptr) {
                if (dst != nullptr && n < dstsize)
                    dst[n] = 0;
                errno = EILSEQ;
                return 0;
            }
            ++*errcount;
            cp = repl;
            used = 1;
        }
        const size_t room = dst == nullptr ? 2 : dstsize - n;
        const size_t need = put_code_point(dst == nullptr ? nullptr : dst + n, room, cp);
        if (need > room) {
            errno = ERANGE;
            return 0;
        }
        n += need;
        i += static_cast<size_t>(used);
        if (to_terminator && cp == 0 && used == 1 && s[i - 1] == 0)
            break;
    }
    return n;
}

long Utf8ToU16Str(KOV_UTF16* dst, const char* src, size_t max)
{
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    size_t n = 0;
    while (n < max) {
        if (*s == 0) {
            if (dst != nullptr)
                dst[n] = 0;
            return static_cast<long>(n);
        }
        unsigned cp;
        const int used = u16_decodeUtf8(s, SIZE_MAX, &cp);
        if (used == 0) {
            errno = EILSEQ;
            return -1;
        }
        n += put_code_point(dst == nullptr ? nullptr : dst + n, max - n, cp);
        s += used;
    }
    return static_cast<long>(max);
}

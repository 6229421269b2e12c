// 7-bit conversions: a byte below 0x80 stays, any other becomes '#' (or a
// caller's substitute).
#include <cstring>

#include "nls/nlsui.h"

namespace {

uint64_t g_a7Repl = 0;  // replacements made by the counting conversions

inline unsigned char uc(char c)
{
    return static_cast<unsigned char>(c);
}

// Converts min(dst room, src length) bytes; returns the number converted.
template <bool Count>
size_t convert(char* dst, const char* src, size_t n)
{
    size_t repl = 0;
    for (size_t i = 0; i < n; ++i) {
        const char c = src[i];
        if (uc(c) < 0x80) {
            dst[i] = c;
        } else {
            dst[i] = '#';
            ++repl;
        }
    }
    if (Count)
        g_a7Repl += repl;
    return n;
}

template <bool Count>
int cvtRange(char** dpos, const char* dend, const char** spos, const char* send)
{
    char* d = *dpos;
    const char* s = *spos;
    const size_t droom = d < dend ? static_cast<size_t>(dend - d) : 0;
    const size_t slen = s < send ? static_cast<size_t>(send - s) : 0;
    const size_t n = convert<Count>(d, s, droom < slen ? droom : slen);
    *dpos = d + n;
    *spos = s + n;
    return n == slen ? 0 : NLSUI_CUT;
}

template <bool Count>
int memTo7(char* dst, size_t dstsize, size_t* outlen, const char* src, size_t srclen)
{
    const size_t n = convert<Count>(dst, src, dstsize < srclen ? dstsize : srclen);
    if (outlen)
        *outlen = n;
    return n == srclen ? 0 : NLSUI_CUT;
}

template <bool Count>
int strTo7(char* dst, size_t dstsize, size_t* outlen, const char* src)
{
    if (dstsize == 0) {  // not even room for the terminator
        if (outlen)
            *outlen = 0;
        return NLSUI_CUT;
    }
    const size_t len = ::strnlen(src, dstsize);  // dstsize - 1 bytes fit
    const size_t n = convert<Count>(dst, src, len < dstsize ? len : dstsize - 1);
    dst[n] = '\0';
    if (outlen)
        *outlen = n;
    return len < dstsize ? 0 : NLSUI_CUT;
}

// Converts into a pool buffer and copies the result with its terminator back,
// so that src and dst may be the same or overlap.
template <bool Count>
int strTo7Inplace(char* dst, size_t dstsize, size_t* outlen, const char* src)
{
    if (dstsize == 0)
        return strTo7<Count>(dst, 0, outlen, src);
    // The pool counts sizes in 32 bits; text beyond that is reported as cut.
    if (dstsize > INT32_MAX)
        dstsize = INT32_MAX;
    const size_t len = ::strnlen(src, dstsize);
    const size_t need = len < dstsize ? len + 1 : dstsize;
    char* tmp = nlsui_tmpbuf(static_cast<int32_t>(need));
    size_t n = 0;
    const int rc = strTo7<Count>(tmp, need, &n, src);
    std::memcpy(dst, tmp, n + 1);
    if (outlen)
        *outlen = n;
    return rc;
}

template <bool Count = false>
char* substMem(char* dst, const char* src, size_t n, unsigned char subst)
{
    const char rep = static_cast<char>(subst < 0x80 ? subst : '#');
    size_t repl = 0;
    for (size_t i = 0; i < n; ++i) {
        if (uc(src[i]) < 0x80) {
            dst[i] = src[i];
        } else {
            dst[i] = rep;
            ++repl;
        }
    }
    if (Count)
        g_a7Repl += repl;
    return dst;
}

}  // namespace

int nlsui_cvt2a7(char** dpos, const char* dend, const char** spos, const char* send)
{
    return cvtRange<false>(dpos, dend, spos, send);
}

int nlsui_cvt2a7cnt(char** dpos, const char* dend, const char** spos, const char* send)
{
    return cvtRange<true>(dpos, dend, spos, send);
}

int nlsui_mem2a7(char* dst, size_t dstsize, size_t* outlen, const char* src, size_t srclen)
{
    return memTo7<false>(dst, dstsize, outlen, src, srclen);
}

int nlsui_mem2a7cnt(char* dst, size_t dstsize, size_t* outlen, const char* src, size_t srclen)
{
    return memTo7<true>(dst, dstsize, outlen, src, srclen);
}

int nlsui_str2a7(char* dst, size_t dstsize, size_t* outlen, const char* src)
{
    return strTo7<false>(dst, dstsize, outlen, src);
}

int nlsui_str2a7cnt(char* dst, size_t dstsize, size_t* outlen, const char* src)
{
    return strTo7<true>(dst, dstsize, outlen, src);
}

int nlsui_str2a7inplace(char* dst, size_t dstsize, size_t* outlen, const char* src)
{
    return strTo7Inplace<false>(dst, dstsize, outlen, src);
}

int nlsui_str2a7cntInplace(char* dst, size_t dstsize, size_t* outlen, const char* src)
{
    return strTo7Inplace<true>(dst, dstsize, outlen, src);
}

unsigned char nlsui_char2a7cnt(unsigned char c)
{
    if (c < 0x80)
        return c;
    ++g_a7Repl;
    return '#';
}

uint32_t nlsui_a7ReplCount()
{
    return static_cast<uint32_t>(g_a7Repl);
}
void nlsui_a7ReplReset()
{
    g_a7Repl = 0;
}

char* nlsui_str2a7subst(char* dst, const char* src, unsigned char subst)
{
    const size_t len = std::strlen(src);
    substMem(dst, src, len, subst);
    dst[len] = '\0';
    return dst;
}

char* nlsui_mem2a7subst(char* dst, const char* src, int32_t n, unsigned char subst)
{
    return n > 0 ? substMem(dst, src, static_cast<size_t>(n), subst) : dst;
}

char* nlsui_mem2a7hash(char* dst, const char* src, int32_t n)
{
    return nlsui_mem2a7subst(dst, src, n, '#');
}

int nlsui_str2a7chk(char* dst, const char* src)
{
    for (size_t i = 0;; ++i) {
        const char c = src[i];
        if (uc(c) >= 0x80) {
            dst[i] = '\0';
            return 1;
        }
        dst[i] = c;
        if (c == '\0')
            return 0;
    }
}

int nlsui_mem2a7chk(char* dst, const char* src, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        if (uc(src[i]) >= 0x80)
            return 1;
        dst[i] = src[i];
    }
    return 0;
}

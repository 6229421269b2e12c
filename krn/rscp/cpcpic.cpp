// Conversions for EBCDIC conversation partners: plain copies, the
// single-byte step between "0100" and the local code page by the pair
// filter's table, and the way to and from UTF-16 through the local code page
// with a converter object, in pieces of at most 1,024 characters through a
// buffer on the stack.
#include "krn/rscp/cpcpic.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpf1.h"

namespace {

const char kModule[] = "@(#) $Id: rscpcpic#1 $";

constexpr int64_t kPiece = 1024;

uint32_t Err(uint32_t code, int32_t number, int32_t line, const char* text, const char* msgid, const char* arg)
{
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, number, line, text, msgid, arg, arg != nullptr ? -1 : 0,
                        nullptr, 0);
}

// A code page of four characters; "0000" for none.
void Page(char* out, const char* cp)
{
    std::memcpy(out, cp != nullptr ? cp : "0000", 4);
    out[4] = '\0';
}

// The bytes between a cursor and its end, at most 2 GiB - 1; 0 for an end
// before its cursor.
int64_t Window(const uint8_t* from, const uint8_t* to)
{
    if (from == nullptr || to == nullptr || to <= from)
        return 0;
    return to - from > INT32_MAX ? INT32_MAX : to - from;
}

uint32_t Copy(int32_t number, int32_t line, uint8_t* dst, uint64_t dstLen, const uint8_t* src, uint64_t srcLen,
              uint64_t* inUsed, uint64_t* outUsed)
{
    uint64_t n = dstLen < srcLen ? dstLen : srcLen;
    if (n > INT32_MAX)
        n = INT32_MAX;
    if (n > 0 && (dst == nullptr || src == nullptr))
        n = 0;
    if (n > 0)
        std::memmove(dst, src, size_t(n));
    if (inUsed != nullptr)
        *inUsed = n;
    if (outUsed != nullptr)
        *outUsed = n;
    if (srcLen <= n)
        return RSCP_OK;
    char arg[64];
    std::snprintf(arg, sizeof arg, "i-len&%ld&o-len&%ld&&", static_cast<long>(srcLen), static_cast<long>(dstLen));
    return Err(RSCPETOOLONG, number, line, "Conversion for CPIC failed", "F42", arg);
}

}  // namespace

uint32_t rscpCpicCopyA(uint8_t* dst, uint64_t dstLen, const uint8_t* src, uint64_t srcLen, uint64_t* inUsed,
                       uint64_t* outUsed)
{
    return Copy(4, 784, dst, dstLen, src, srcLen, inUsed, outUsed);
}

uint32_t rscpCpicCopyB(uint8_t* dst, uint64_t dstLen, const uint8_t* src, uint64_t srcLen, uint64_t* inUsed,
                       uint64_t* outUsed)
{
    return Copy(3, 660, dst, dstLen, src, srcLen, inUsed, outUsed);
}

uint32_t rscpCpicF1Convert(uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd,
                           const char* target, const char* source)
{
    if (dst == nullptr || src == nullptr)
        return Err(RSCPEINVAL, 1, __LINE__, "missing buffer", "CP9", "rscpCpicF1Convert");
    const int64_t space = Window(*dst, dstEnd), length = Window(*src, srcEnd);
    int64_t n = length;
    uint32_t rc = RSCP_OK;
    if (length > space) {
        n = space;
        rc = RSCPETOOLONG;  // the rest stays for the next call
    }
    char s4[5], t4[5];
    Page(s4, source);
    Page(t4, target);
    const uint8_t* table = nullptr;
    const char* description = nullptr;
    const uint32_t verdict = rscpf1__check_pair(s4, t4, &table, &description, 1) & ~(RSCPF1_SIMILAR | RSCPF1_UNIFIED);
    if (verdict == RSCPF1_TABLE && table != nullptr) {
        for (int64_t i = 0; i < n; ++i)
            (*dst)[i] = table[(*src)[i]];
    } else {
        if (verdict != RSCPF1_NO_TRANSLATION) {
            char arg[32];
            std::snprintf(arg, sizeof arg, "%4.4s&%4.4s&%s&%s&", s4, t4, "F1", "F1");
            Err(RSCPEINTERN, 1, 208, "Conversion from/to CPIC (EBCDIC) with F1 converter failed", "CPR", arg);
            rc = RSCPEINTERN;
        }
        if (n > 0 && *dst != *src)
            std::memmove(*dst, *src, size_t(n));
    }
    *dst += n;
    *src += n;
    return rc;
}

uint32_t rscpCpicFromEbcdic(uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd,
                            const char* target)
{
    return rscpCpicF1Convert(dst, dstEnd, src, srcEnd, target, "0100");
}

uint32_t rscpCpicToEbcdic(uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd,
                          const char* source)
{
    return rscpCpicF1Convert(dst, dstEnd, src, srcEnd, "0100", source);
}

uint32_t rscpCpicCccConvert(uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd,
                            const char* target, const char* source)
{
    char s4[5], t4[5];
    Page(s4, source);
    Page(t4, target);
    rscpCObj_t o;
    uint32_t rc = rscpCInit(&o, s4, t4, RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPFILL_NEVER);
    if (rc == RSCP_OK)
        rc = rscpCSetCtrlCodeCv(&o, RSCPCTRL_TRY);
    if (rc == RSCP_OK)
        rc = rscpCActivate(&o);
    if (rc == RSCP_OK)
        rc = rscpCConvert(&o, dst, dstEnd, src, srcEnd);
    if (rc != RSCP_OK) {
        char arg[32];
        std::snprintf(arg, sizeof arg, "%4.4s&%4.4s&%s&%s&", s4, t4, "CCC", "CCC");
        Err(rc, 2, 375, "Conversion from/to NonUnicode system code page for CPIC with CCC converter failed", "CPR",
            arg);
    }
    rscpCRelease(&o);
    return rc == RSCP_OK ? RSCP_OK : rc == RSCPETOOLONG ? RSCPETOOLONG : RSCPEINTERN;
}

uint32_t rscpCpicEbcdicToUc(uint16_t** dst, uint16_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd,
                            const char* local)
{
    if (dst == nullptr || src == nullptr || *dst == nullptr)
        return Err(RSCPEINVAL, 5, __LINE__, "missing buffer", "CP9", "rscpCpicEbcdicToUc");
    uint8_t piece[kPiece];
    const int64_t units = dstEnd > *dst ? dstEnd - *dst : 0;
    const int64_t allot = units * 2 < 2 * kPiece ? units : kPiece;
    uint8_t* filled = piece;
    const uint32_t r1 = rscpCpicF1Convert(&filled, piece + allot, src, srcEnd, local, "0100");

    uint8_t* d = reinterpret_cast<uint8_t*>(*dst);
    const uint8_t* taken = piece;
    const uint32_t r2 = rscpCpicCccConvert(&d, reinterpret_cast<uint8_t*>(*dst + units), &taken, filled, "4103", local);
    *dst += (d - reinterpret_cast<uint8_t*>(*dst)) / 2;
    if (r2 != RSCP_OK && r2 != RSCPETOOLONG) {
        // What the converter left: 7-bit characters as they are, others '#'.
        for (; *dst < dstEnd && taken < filled; ++*dst, ++taken)
            **dst = *taken < 0x80 ? *taken : uint16_t('#');
    }
    return r1 != RSCP_OK ? r1 : r2;
}

uint32_t rscpCpicUcToEbcdic(uint8_t** dst, uint8_t* dstEnd, const uint16_t** src, const uint16_t* srcEnd,
                            const char* local)
{
    if (dst == nullptr || src == nullptr || *src == nullptr)
        return Err(RSCPEINVAL, 6, __LINE__, "missing buffer", "CP9", "rscpCpicUcToEbcdic");
    uint8_t piece[kPiece];
    const int64_t room = Window(*dst, dstEnd);
    const int64_t allot = room < kPiece ? room : kPiece;
    uint8_t* filled = piece;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(*src);
    const int64_t units = srcEnd > *src ? srcEnd - *src : 0;
    const uint32_t r1 = rscpCpicCccConvert(&filled, piece + allot, &s, reinterpret_cast<const uint8_t*>(*src + units),
                                           local, "4103");
    *src += (s - reinterpret_cast<const uint8_t*>(*src)) / 2;
    if (r1 != RSCP_OK && r1 != RSCPETOOLONG) {
        // What the converter left: 7-bit characters as they are, others '#'.
        for (int64_t n = 0; n < kPiece && *src < srcEnd && filled < piece + allot; ++n, ++*src)
            *filled++ = **src < 0x80 ? uint8_t(**src) : uint8_t('#');
    }
    const uint8_t* taken = piece;
    const uint32_t r2 = rscpCpicF1Convert(dst, dstEnd, &taken, filled, "0100", local);
    return r1 != RSCP_OK ? r1 : r2;
}

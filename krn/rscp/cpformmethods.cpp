// The conversion methods that need no character tables: the copy between
// identical code pages, the byte map of a single-byte pair, the Unicode
// encoding forms into each other through the encoding-form converters, the
// byte swaps, the Latin-1 widening and narrowing and the 7-bit widening.
#include <bit>
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpconvint.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cprulebytes.h"
#include "krn/rscp/cptab.h"
#include "krn/rscp/cputf.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

constexpr bool kLittle = std::endian::native == std::endian::little;
// Misaligned buffers up to this size are realigned through a local buffer.
constexpr int64_t kWorkSize = 1024;

rscpcExit Error(rscpcRun& r, uint32_t code, int32_t line, const char* text, const char* msgid,
                const char* arg1 = nullptr, int32_t len1 = 0, const char* arg2 = nullptr, int32_t len2 = 0)
{
    r.code = rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, 20, line, text, msgid, arg1, len1, arg2, len2);
    if (r.code == RSCPEROLLBACK)
        rscpcRollback(line);
    return RSCPC_ERROR;
}

rscpcExit OddBytes(rscpcRun& r, int32_t line)
{
    return Error(r, RSCPEUNIQ, line, "Unicode and odd bytes", "F40");
}

// ---- copy and byte map -------------------------------------------------------------------

rscpcExit Direct(rscpcRun& r)
{
    const int64_t room = r.dstEnd - r.dst, have = r.srcEnd - r.src;
    const int64_t n = have < room ? have : room;
    if (n > 0)
        std::memcpy(r.dst, r.src, size_t(n));
    r.src += n;
    r.dst += n;
    return n == have ? RSCPC_DONE : RSCPC_OVERFLOW;
}

// Every byte through the pair's 256-byte table; source and destination must
// be equally long (the shorter one is mapped all the same).
rscpcExit ByteMap(rscpcRun& r)
{
    const uint8_t* map = rscpCccBytes(rscpmp, r.obj->ccci_f1_in_7, 256);
    if (r.obj->ccci_f1_in_7 == 0 || map == nullptr) {
        char arg[32];
        std::snprintf(arg, sizeof arg, "F1&%lu&", static_cast<unsigned long>(r.obj->ccci_f1_in_7));
        return Error(r, RSCPEINTERN, __LINE__, "conversion tables damaged", "CQ4", arg, -1);
    }
    const int64_t have = r.srcEnd - r.src, room = r.dstEnd - r.dst;
    const int64_t n = have < room ? have : room;
    for (int64_t i = 0; i < n; ++i)
        r.dst[i] = map[r.src[i]];
    const uint8_t* const from = r.src;
    r.src += n;
    r.dst += n;
    if (have == room)
        return RSCPC_DONE;
    char sizes[48], where[64];
    std::snprintf(sizes, sizeof sizes, "%ld <> %ld", static_cast<long>(have), static_cast<long>(room));
    std::snprintf(where, sizeof where, "&%p..%p", static_cast<const void*>(from), static_cast<const void*>(r.srcEnd));
    return Error(r, RSCPEINVAL, __LINE__, "F1 requires equal sizes", "CP7", sizes, -1, where, -1);
}

// ---- Unicode encoding forms ----------------------------------------------------------------

const char* OtherErrorText(int32_t method)
{
    static const char* const texts[6] = {
        "other error in UCS-2 to UTF-8 conversion",  "other error in UTF-8 to UCS-2 conversion",
        "other error in UCS-4 to UTF-8 conversion",  "other error in UTF-8 to UCS-4 conversion",
        "other error in UTF-16 to UTF-8 conversion", "other error in UTF-8 to UTF-16 conversion"};
    return texts[(method - 13) / 2];
}

// One run of a Unicode method over buffers that satisfy its alignment.
rscpcExit UnicodeRun(rscpcRun& r, int32_t method, int64_t unit, rscpuConv_t enc, rscpuSubstConv_t dec)
{
    rscpCObj_t* o = r.obj;
    // The encoders read whole units only, the decoders write them.
    const uint8_t* const wholeEnd = enc != nullptr ? r.src + (r.srcEnd - r.src) / unit * unit : r.srcEnd;
    uint8_t* const dstEnd = enc != nullptr ? r.dstEnd : r.dst + (r.dstEnd - r.dst) / unit * unit;
    const uint32_t* subst = o->use_c_subst ? &o->subst_code_U4 : nullptr;
    for (;;) {
        const uint32_t rc = enc != nullptr ? enc(&r.src, wholeEnd, &r.dst, dstEnd)
                                           : dec(&r.src, wholeEnd, &r.dst, dstEnd, subst, &o->noof_subst);
        switch (rc) {
        case RSCP_OK:
            if (wholeEnd == r.srcEnd)
                return RSCPC_DONE;
            return rscpcIncompleteRest(r, wholeEnd);  // a part of a unit at the end
        case RSCPEUNIQ:
            return rscpcIncompleteRest(r, wholeEnd);
        case RSCPETOOLONG:
            return RSCPC_OVERFLOW;
        case RSCPENOCONV: {
            // One unit (one byte of UTF-8) that is no character.
            const int64_t skip = enc != nullptr ? unit : 1;
            if (!o->use_c_subst) {
                r.code = rscpcNotConvertible(o, r.src, r.src + skip, __LINE__);
                return RSCPC_ERROR;
            }
            const uint32_t sub = rscpcSubstitute(r);
            if (sub == RSCPETOOLONG)
                return RSCPC_OVERFLOW;
            if (sub != RSCP_OK) {
                r.code = sub;
                return RSCPC_ERROR;
            }
            r.src += skip;
            continue;
        }
        default:
            return Error(r, rc, __LINE__, OtherErrorText(method), nullptr);
        }
    }
}

// Methods 13-24: the aligned side (the source of an encoder, the destination
// of a decoder) is realigned through a local buffer when it is short, and
// refused when it is long.
rscpcExit Unicode(rscpcRun& r, int32_t method)
{
    rscpuConv_t enc = nullptr;
    rscpuSubstConv_t dec = nullptr;
    rscpuMembersOfMethod(method, r.obj->ctrlcodes, &enc, &dec);
    const int64_t unit = method >= 17 && method <= 20 ? 4 : 2;
    const uintptr_t address = reinterpret_cast<uintptr_t>(enc != nullptr ? r.src : r.dst);
    if (address % uintptr_t(unit) == 0)
        return UnicodeRun(r, method, unit, enc, dec);

    const int64_t length = enc != nullptr ? r.srcEnd - r.src : r.dstEnd - r.dst;
    if (length > kWorkSize) {
        char arg[32];
        std::snprintf(arg, sizeof arg, "%p&", reinterpret_cast<void*>(address));
        return Error(r, RSCPEINVAL, __LINE__, "Unicode requires aligned addresses", "CP7", arg, -1);
    }
    alignas(8) uint8_t work[kWorkSize];
    rscpcRun w = r;
    if (enc != nullptr) {
        std::memcpy(work, r.src, size_t(length));
        w.srcStart = w.src = work;
        w.srcEnd = work + length;
    } else {
        w.dstStart = w.dst = work;
        w.dstEnd = work + length;
    }
    const rscpcExit exit = UnicodeRun(w, method, unit, enc, dec);
    if (enc != nullptr) {
        r.src += w.src - work;
        r.dst = w.dst;
    } else {
        std::memcpy(r.dst, work, size_t(w.dst - work));
        r.dst += w.dst - work;
        r.src = w.src;
    }
    r.code = w.code;
    r.noFill = w.noFill;
    return exit;
}

// ---- byte order and widths ------------------------------------------------------------------

// Methods 25, 26: every unit with its bytes in reverse order.
rscpcExit Swap(rscpcRun& r, int64_t unit)
{
    const int64_t have = r.srcEnd - r.src, room = r.dstEnd - r.dst;
    const int64_t n = (have < room ? have : room) / unit;
    rscpcSwapUnits(r.dst, r.src, n, int32_t(unit));
    r.src += n * unit;
    r.dst += n * unit;
    if (have / unit > n)
        return RSCPC_OVERFLOW;
    return have % unit != 0 ? OddBytes(r, __LINE__) : RSCPC_DONE;
}

// Methods 29, 30: every byte becomes the unit of its value.
rscpcExit Widen(rscpcRun& r, bool big)
{
    const int64_t have = r.srcEnd - r.src, room = (r.dstEnd - r.dst) / 2;
    const int64_t n = have < room ? have : room;
    for (int64_t i = 0; i < n; ++i)
        rscpPut16(r.dst + 2 * i, r.src[i], big);
    r.src += n;
    r.dst += 2 * n;
    return n < have ? RSCPC_OVERFLOW : RSCPC_DONE;
}

// Methods 31, 32: every unit becomes its low byte.
rscpcExit Narrow(rscpcRun& r, bool big)
{
    const int64_t have = (r.srcEnd - r.src) / 2, room = r.dstEnd - r.dst;
    const int64_t n = have < room ? have : room;
    for (int64_t i = 0; i < n; ++i)
        r.dst[i] = r.src[2 * i + (big ? 1 : 0)];
    r.src += 2 * n;
    r.dst += n;
    if (n < have)
        return RSCPC_OVERFLOW;
    return r.src != r.srcEnd ? OddBytes(r, __LINE__) : RSCPC_DONE;
}

// Methods 48, 49: 7-bit bytes become units of the same value (48 in the
// machine's order, 49 big-endian); other bytes the substitute or an error.
rscpcExit Ascii7(rscpcRun& r, bool big)
{
    rscpCObj_t* o = r.obj;
    const bool bigUnits = big || !kLittle;
    const int64_t have = r.srcEnd - r.src, room = (r.dstEnd - r.dst) / 2;
    const int64_t n = have < room ? have : room;
    const uint8_t* const s = r.src;
    uint8_t* const d = r.dst;
    for (int64_t i = 0; i < n; ++i) {
        uint16_t unit = s[i];
        if (unit >= 0x80) {
            if (!o->use_c_subst) {
                r.src = s + i;
                r.dst = d + 2 * i;
                char arg[8];
                std::snprintf(arg, sizeof arg, "0x%02X", unsigned(unit));
                return Error(r, RSCPENOCONV, __LINE__, "Input is not 7-bit", "F40", arg, -1);
            }
            unit = uint16_t(o->subst_code_U4);
            ++o->noof_subst;
        }
        rscpPut16(d + 2 * i, unit, bigUnits);
    }
    r.src = s + n;
    r.dst = d + 2 * n;
    return n < have ? RSCPC_OVERFLOW : RSCPC_DONE;
}

}  // namespace

void rscpcSwapUnits(uint8_t* dst, const uint8_t* src, int64_t units, int32_t unit)
{
    const int64_t bytes = units * unit;
    int64_t i = 0;
    // Eight bytes at a time, then unit by unit (each unit read before it is
    // written, as dst may be src).
    for (; i + 8 <= bytes; i += 8) {
        uint64_t w;
        std::memcpy(&w, src + i, 8);
        if (unit == 4)
            w = (w & 0x0000FFFF0000FFFFull) << 16 | (w >> 16 & 0x0000FFFF0000FFFFull);
        w = (w & 0x00FF00FF00FF00FFull) << 8 | (w >> 8 & 0x00FF00FF00FF00FFull);
        std::memcpy(dst + i, &w, 8);
    }
    for (; i < bytes; i += unit) {
        uint8_t u[4];
        std::memcpy(u, src + i, size_t(unit));
        for (int32_t k = 0; k < unit; ++k)
            dst[i + k] = u[unit - 1 - k];
    }
}

rscpcExit rscpcFormMethod(rscpcRun& r, int32_t method)
{
    switch (method) {
    case RSCPMETH_DIRECT:
        return Direct(r);
    case 12:
        return ByteMap(r);
    case 25:
        return Swap(r, 2);
    case 26:
        return Swap(r, 4);
    case 29:
    case 30:
        return Widen(r, method == 29);
    case 31:
    case 32:
        return Narrow(r, method == 31);
    case 48:
    case 49:
        return Ascii7(r, method == 49);
    default:
        return Unicode(r, method);
    }
}

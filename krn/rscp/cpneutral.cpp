// Byte-order-neutral conversion: 16-bit units are held big-endian in the
// caller's buffers, whatever the byte order of the code page, and the
// buffers may start at odd addresses.  A little-endian source is swapped into
// a work buffer, an odd one copied into an aligned one; the output of a
// little-endian target is swapped back; an odd destination of a 16-bit
// target is written through a work buffer (plain form) or skipped by one
// byte (the "A" form, which also pads fixed-width fields with spaces).
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cpconvint.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cphook.h"
#include "krn/rscp/cpwrap.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

uint32_t Err(uint32_t code, int32_t line, const char* text, const char* msgid, const char* arg1 = nullptr,
             int32_t len1 = 0, const char* arg2 = nullptr, int32_t len2 = 0)
{
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, 14, line, text, msgid, arg1, len1, arg2, len2);
}

constexpr int64_t kLocalBytes = 2048;

bool LittleUnits(uint32_t kind)
{
    return kind == RSCPK_UCS2L || kind == RSCPK_UTF16L;
}

// The unit of a side, its space loaded from the code page when the object
// has none yet.
int32_t Unit(const char* codePage, uint8_t* space, int32_t* length)
{
    if (*length <= 0) {
        const uint64_t s = getSpaceOfCP(codePage);
        *length = int32_t(s >> 32 & 0xFF);
        for (int i = 0; i < 4; ++i)
            space[i] = uint8_t(s >> (8 * i));
    }
    return *length;
}

// Work buffers of the memory hook.
uint8_t* Take(int64_t size)
{
    return static_cast<uint8_t*>(rscph_HookTable.AllocMemory(2, 0, "RSCPCCC ", uint64_t(size > 0 ? size : 1), 222, -1));
}

void Give(uint8_t* p)
{
    if (p != nullptr)
        rscph_HookTable.FreeMemory(2, p, 254, -1);
}

uint32_t NoMemory(bool a, int64_t size)
{
    char arg[32];
    std::snprintf(arg, sizeof arg, "%ld&", static_cast<long>(size));
    return a ? Err(RSCPENOMEM, __LINE__, "not enough memory", "CP8")
             : Err(RSCPENOMEM, __LINE__, "not enough memory", "CP8", arg, -1);
}

// Pads [from, limit) with the target's space up to `want` bytes in whole
// spaces; returns the new end.
uint8_t* Pad(uint8_t* from, uint8_t* want, uint8_t* limit, const uint8_t* space, int32_t unit)
{
    uint8_t* const end = want < limit ? want : limit;
    const int32_t n = unit == 1 ? 1 : unit == 2 ? 2 : 4;
    while (end - from >= n) {
        std::memcpy(from, space, size_t(n));
        from += n;
    }
    return from;
}

uint32_t Neutral(bool a, rscpCObj_t* o, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd)
{
    const char* const name = a ? "rscpCConvertNeutralA" : "rscpCConvertNeutral";
    const uint32_t checked = rscpcCheckCall(o, dst, dstEnd, src, srcEnd, name);
    if (checked != RSCP_OK)
        return checked;
    const int64_t srcLen = srcEnd - *src, room = dstEnd - *dst;
    const uintptr_t s0 = reinterpret_cast<uintptr_t>(*src), d0 = reinterpret_cast<uintptr_t>(*dst);
    if ((s0 == d0 && s0 != 0) || rscpcOverlap(s0, uintptr_t(srcLen), d0, uintptr_t(room))) {
        char arg[80];
        std::snprintf(arg, sizeof arg, "%s&%p&==&%p&", name, static_cast<const void*>(*src), static_cast<void*>(*dst));
        return Err(RSCPEINVAL, __LINE__, "overlapping buffers", "CP9", arg, -1);
    }
    if (srcLen == 0)
        return RSCP_OK;

    const int32_t inUnit = Unit(o->incode, o->in_space, &o->in_space_len);
    const int32_t outUnit = Unit(o->outcode, o->out_space, &o->out_space_len);
    if (inUnit == 4 || outUnit == 4) {
        char text[64];
        std::snprintf(text, sizeof text, "%s with UCS4 (not impl)", name);
        return Err(RSCPENOCONV, __LINE__, text, "F2K", "UCS4", 4, "... ", 4);
    }
    if (inUnit == 2 && srcLen % 2 != 0) {
        char arg[32];
        std::snprintf(arg, sizeof arg, "%ld&", static_cast<long>(srcLen));
        return Err(RSCPEINVAL, __LINE__, "Unicode and odd bytes", "CP7", arg, -1);
    }

    alignas(8) uint8_t local[kLocalBytes];
    bool localUsed = false;

    // The source: swapped or realigned into a work buffer when needed.
    const uint8_t* in = *src;
    uint8_t* srcHeap = nullptr;
    const bool swapIn = inUnit == 2 && LittleUnits(o->in_major);
    if (inUnit == 2 && (swapIn || (s0 & 1) != 0)) {
        uint8_t* work = local;
        if (a || srcLen > kLocalBytes) {
            if ((work = srcHeap = Take(srcLen)) == nullptr)
                return NoMemory(a, srcLen);
        } else {
            localUsed = true;
        }
        if (swapIn)
            rscpcSwapUnits(work, *src, srcLen / 2, 2);
        else
            std::memcpy(work, *src, size_t(srcLen));
        in = work;
    }

    // The destination: an odd one of a 16-bit target goes through a work
    // buffer (plain form) or loses its first byte (the "A" form).
    uint8_t* out = *dst;
    uint8_t* outEnd = dstEnd;
    uint8_t* dstHeap = nullptr;
    bool throughWork = false;
    if (outUnit == 2 && (d0 & 1) != 0) {
        if (!a) {
            if (room <= kLocalBytes && !localUsed) {
                out = local;
            } else if ((out = dstHeap = Take(room)) == nullptr) {
                Give(srcHeap);
                return NoMemory(a, room);
            }
            outEnd = out + room;
            throughWork = true;
        } else {
            if (room == 0) {
                Give(srcHeap);
                char arg[64];
                std::snprintf(arg, sizeof arg, "inlen&%ld&outlen&%ld&", static_cast<long>(srcLen), 0L);
                return Err(RSCPETOOLONG, __LINE__, "convert output buffer overflow", "F39", arg, -1);
            }
            out = *dst + 1;
        }
    }

    const uint8_t* s = in;
    uint8_t* d = out;
    const uint32_t rc = rscpCConvert(o, &d, outEnd, &s, in + srcLen);
    const int64_t consumed = s - in;
    int64_t produced = d - out;

    const bool swapOut = outUnit == 2 && LittleUnits(o->out_major);
    if (throughWork) {
        if (swapOut)
            rscpcSwapUnits(*dst, out, produced / 2, 2);
        else
            std::memcpy(*dst, out, size_t(produced));
        if (swapOut && (produced & 1) != 0)
            (*dst)[produced - 1] = out[produced - 1];
    } else if (swapOut) {
        rscpcSwapUnits(out, out, produced / 2, 2);
    }
    uint8_t* written = (throughWork ? *dst : out) + produced;

    // Fixed-width fields: one target unit per source unit consumed, padded
    // with the target's space (in its neutral form) after a success.
    if (a && rc == RSCP_OK && outUnit > 0) {
        const int64_t want = int64_t(outUnit) * (consumed / (inUnit > 0 ? inUnit : 1));
        if (produced < want) {
            uint8_t space[4];
            std::memcpy(space, o->out_space, 4);
            if (swapOut)
                rscpcSwapUnits(space, space, 1, 2);
            written = Pad(written, out + want, dstEnd, space, outUnit);
        }
    }

    Give(srcHeap);
    Give(dstHeap);
    *src += consumed;
    *dst = written;
    return rc;
}

}  // namespace

uint32_t rscpCConvertNeutral(rscpCObj_t* obj, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                             const uint8_t* srcEnd)
{
    return Neutral(false, obj, dst, dstEnd, src, srcEnd);
}

uint32_t rscpCConvertNeutralA(rscpCObj_t* obj, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                              const uint8_t* srcEnd)
{
    return Neutral(true, obj, dst, dstEnd, src, srcEnd);
}

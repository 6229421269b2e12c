// Conversions around the engine: one character at a time, unit by unit,
// strictly first and then with substitution, and with lengths instead of
// end pointers.
#include <climits>
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cpconvint.h"
#include "krn/rscp/cpencode.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpwrap.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

uint32_t Err(uint32_t code, int32_t line, const char* text, const char* msgid, const char* arg1 = nullptr,
             int32_t len1 = 0)
{
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, 15, line, text, msgid, arg1, len1, nullptr, 0);
}

// The broken option like_miss reads as stop_restartable while a call runs.
class RestartableForTheCall {
public:
    explicit RestartableForTheCall(rscpCObj_t* o)
        : o_(o),
          saved_(o->broken)
    {
        if (saved_ == uint32_t(RSCPBROKEN_LIKE_MISS))
            o_->broken = RSCPBROKEN_STOP_RESTARTABLE;
    }
    ~RestartableForTheCall() { o_->broken = saved_; }
    RestartableForTheCall(const RestartableForTheCall&) = delete;
    RestartableForTheCall& operator=(const RestartableForTheCall&) = delete;

private:
    rscpCObj_t* o_;
    uint32_t saved_;
};

// Makes the object's units known: re-activates a stale object and loads the
// space of each side that has none (under the cache lock lockId, released
// with unlockId).  An overflow of the cache invalidates it and tries once
// more.
uint32_t KnowUnits(rscpCObj_t* o, bool output, int32_t lockId, int32_t unlockId)
{
    bool overflowed[2] = {false, false};
    for (int pass = 0;; ++pass) {
        uint32_t rc = rscpcReactivateStale(o);
        if (rc != RSCP_OK)
            return rc;
        bool again = false;
        for (int side = 0; side < (output ? 2 : 1) && !again; ++side) {
            const bool input = side == 0;
            if ((input ? o->in_space_len : o->out_space_len) > 0)
                continue;
            const int32_t lock = rscpGetSema(lockId);
            if (lock != 0)
                return uint32_t(lock);
            const bool other = input ? o->use_other_in : o->use_other_out;
            const char* own = input ? o->incode : o->outcode;
            const char* used = input ? o->used_incode : o->used_outcode;
            uint8_t writeTaken = 0;
            rc = rscpCLoadSideSpace(o, input, other ? used : own, &writeTaken, RSCP_ALL_ERRORS);
            const int32_t released = writeTaken ? rscpReleaseWritePermissionAndSema(unlockId)
                                                : rscprs__release_sema(unlockId);
            if (rc == RSCPETOOLONG && !overflowed[side] && pass < 4) {
                overflowed[side] = true;
                char reason[64];
                const int n = std::snprintf(reason, sizeof reason, "Overflow. Loading %4.4s(%4.4s) for %s.", own, used,
                                            input ? "input" : "output");
                rc = rscpict_invalidate_convert_tables_locked(0, 0, reason, n, RSCP_ALL_ERRORS);
                if (rc != RSCP_OK)
                    return rc;
                again = true;
            } else if (rc != RSCP_OK) {
                return rc;
            } else if (released != 0) {
                return uint32_t(released);
            }
        }
        if (!again)
            break;
    }
    if (o->in_space_len <= 0)
        return Err(RSCPEUNIQ, __LINE__, "self->ccci_in_space.balg no set", "CPX");
    if (output && o->out_space_len <= 0)
        return Err(RSCPEUNIQ, __LINE__, "self->ccci_out_space.balg no set", "CPX");
    return RSCP_OK;
}

}  // namespace

uint32_t rscpcCheckCall(const rscpCObj_t* o, uint8_t* const* dst, const uint8_t* dstEnd, const uint8_t* const* src,
                        const uint8_t* srcEnd, const char* name)
{
    if (o == nullptr)
        return Err(RSCPENOCONV, __LINE__, "missing char code param", "F38");
    if (dst == nullptr || src == nullptr || (*dst == nullptr && dstEnd != nullptr) ||
        (*src == nullptr && srcEnd != nullptr) || dstEnd < *dst || srcEnd < *src || dstEnd - *dst > INT32_MAX ||
        srcEnd - *src > INT32_MAX)
        return Err(RSCPEINVAL, __LINE__, "missing buffer", "CP9", name, -1);
    return RSCP_OK;
}

uint32_t rscpCConvertOneChar(rscpCObj_t* o, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd)
{
    uint32_t rc = rscpcCheckCall(o, dst, dstEnd, src, srcEnd, "rscpCConvertOneChar");
    if (rc != RSCP_OK)
        return rc;
    if (rscpcTruncatesSpaces(o->fill_rest))
        return Err(RSCPECALL, __LINE__, "cannot count characters in trunc mode", "C??");
    RestartableForTheCall restartable(o);
    if ((rc = KnowUnits(o, true, 254, 255)) != RSCP_OK)
        return rc;

    const int64_t inUnit = o->in_space_len, outUnit = o->out_space_len;
    const uint8_t* const s0 = *src;
    uint8_t* const d0 = *dst;
    const int64_t have = srcEnd - s0, room = dstEnd - d0;
    if (have < inUnit)
        return Err(RSCPEUNIQ, __LINE__, "Not enough bytes for a single char", "CPW");
    int64_t inWindow = inUnit, outWindow = outUnit < room ? outUnit : room;
    for (;;) {
        const uint8_t* s = s0;
        uint8_t* d = d0;
        rc = rscpCConvert(o, &d, d0 + outWindow, &s, s0 + inWindow);
        const bool consumed = s != s0;
        if (rc == RSCP_OK || (consumed && (rc == RSCPEUNIQ || rc == RSCPETOOLONG))) {
            *src = s;
            *dst = d;
            return RSCP_OK;
        }
        if (rc == RSCPEUNIQ) {
            // The character is longer than the source window.
            inWindow += inUnit;
            if (inWindow > have)
                return Err(RSCPEUNIQ, __LINE__, "Not enough bytes for a single char", "CPW");
        } else if (rc == RSCPETOOLONG) {
            // Its target form is longer than the destination window.
            if (outWindow + outUnit > room)
                return RSCPETOOLONG;
            outWindow += outUnit;
        } else {
            return rc;
        }
    }
}

uint32_t rscpCConvertUnits(rscpCObj_t* o, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd)
{
    uint32_t rc = rscpcCheckCall(o, dst, dstEnd, src, srcEnd, "rscpCConvertUnits");
    if (rc != RSCP_OK)
        return rc;
    if ((rc = KnowUnits(o, false, 256, 257)) != RSCP_OK)
        return rc;
    const int64_t unit = o->in_space_len;
    if (srcEnd - *src < unit)
        return Err(RSCPEUNIQ, __LINE__, "less than one char", "CPW");

    // Each unit is a call of its own: the fill of the rest waits for the last
    // one (a truncating fill keeps its overflow rule without filling).
    const uint32_t fill = o->fill_rest;
    o->fill_rest = rscpcTruncatesSpaces(fill) ? RSCPC_FILL_TRUNC_ONLY : RSCPFILL_NEVER;
    while (rc == RSCP_OK && srcEnd - *src >= unit) {
        const uint8_t* s = *src;
        uint8_t* d = *dst;
        rc = rscpCConvert(o, &d, dstEnd, &s, *src + unit);
        if (rc == RSCPEUNIQ || rc == RSCPENOCONV) {
            rc = rscpCEncodeCharNo(o, &d, dstEnd, 35);
            s = *src + unit;
        }
        if (rc == RSCP_OK) {
            *src = s;
            *dst = d;
        }
    }
    o->fill_rest = fill;
    if (rc != RSCP_OK)
        return rc;
    if (*src != srcEnd)
        return Err(RSCPEUNIQ, __LINE__, "half of base character unit?", "CPW");
    if (fill == uint32_t(RSCPFILL_NULLS) || fill == uint32_t(RSCPFILL_SPACES) ||
        fill == uint32_t(RSCPFILL_AND_TRUNC_SPACES)) {
        const uint8_t* s = *src;
        return rscpCConvert(o, dst, dstEnd, &s, s);
    }
    return RSCP_OK;
}

uint32_t rscpCConvertSubstRetry(rscpCObj_t* o, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                                const uint8_t* srcEnd, uint32_t* substCount, int32_t* consumedBeforeError,
                                int32_t* producedBeforeError, uint8_t* errBytes, int32_t* errLen)
{
    uint32_t rc = rscpcCheckCall(o, dst, dstEnd, src, srcEnd, "rscpCConvertSubstRetry");
    if (rc != RSCP_OK)
        return rc;
    uint8_t* const d0 = *dst;
    const uint8_t* const s0 = *src;
    rscpCSetMissBroken(o, RSCPMISS_STOP, RSCPBROKEN_STOP_RESTARTABLE);
    rc = rscpCConvert(o, dst, dstEnd, src, srcEnd);
    if (rc == RSCP_OK || rc == RSCPETOOLONG || rc == RSCPEUNIQ) {
        if (errLen != nullptr)
            *errLen = 0;
        return rc;
    }
    if (consumedBeforeError != nullptr)
        *consumedBeforeError = int32_t(*src - s0);
    if (producedBeforeError != nullptr)
        *producedBeforeError = int32_t(*dst - d0);
    if (errLen != nullptr) {
        int64_t n = srcEnd - *src;
        if (errBytes == nullptr || *errLen <= 0)
            n = 0;
        else if (n > *errLen)
            n = *errLen;
        if (n > 0)
            std::memcpy(errBytes, *src, size_t(n));
        *errLen = int32_t(n);
    }

    rscpCSetMissBroken(o, RSCPMISS_SUBSTITUTE, RSCPBROKEN_STOP_RESTARTABLE);
    const uint32_t before = rscpCGetNoOfSubst(o);
    *dst = d0;
    *src = s0;
    rc = rscpCConvert(o, dst, dstEnd, src, srcEnd);
    if (substCount != nullptr)
        *substCount += rscpCGetNoOfSubst(o) - before;
    return rc;
}

uint32_t rscpCConvertLen(uint8_t* dst, uint32_t* dstLen, const uint8_t* src, uint32_t* srcLen, rscpCObj_t* obj)
{
    if (dstLen == nullptr || srcLen == nullptr || *dstLen > INT32_MAX || *srcLen > INT32_MAX ||
        (dst == nullptr && *dstLen != 0) || (src == nullptr && *srcLen != 0))
        return Err(RSCPEINVAL, __LINE__, "missing buffer", "CP9", "rscpCConvertLen", -1);
    uint8_t* d = dst;
    const uint8_t* s = src;
    const uint32_t rc = rscpCConvert(obj, &d, dst + *dstLen, &s, src + *srcLen);
    *dstLen = uint32_t(d - dst);
    *srcLen = uint32_t(s - src);
    return rc;
}

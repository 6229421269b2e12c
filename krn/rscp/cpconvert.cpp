// The conversion engine: the checks on entry, the dispatch over the object's
// method, the re-activation of an object of an older cache generation, and
// the exits every method shares (success with the fill of the rest, overflow
// with the trailing-space rule, incomplete input, errors) with the statistics
// and the input shift state.
#include "krn/rscp/cpconvert.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpconvint.h"
#include "krn/rscp/cpencode.h"
#include "krn/rscp/cperr.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

uint32_t Err(uint32_t code, int32_t line, const char* text, const char* msgid, const char* arg1 = nullptr,
             int32_t len1 = 0, const char* arg2 = nullptr, int32_t len2 = 0, uint32_t mask = RSCP_ALL_ERRORS)
{
    return rscpe__error(code, 'C', mask, kModule, 10, line, text, msgid, arg1, len1, arg2, len2);
}

constexpr int32_t kInPlaceMax = 512;

bool WalkMethod(int32_t m)
{
    return m == 4 || m == 5 || m == 41;
}
bool MultiByteMethod(int32_t m)
{
    return (m >= 6 && m <= 11) || m == 27 || m == 28 || (m >= 33 && m <= 40) || m == 42;
}
bool FormMethod(int32_t m)
{
    return m == RSCPMETH_DIRECT || (m >= 12 && m <= 26) || (m >= 29 && m <= 32) || m == 48 || m == 49;
}
bool LanguageMethod(int32_t m)
{
    return m == 5 || m == 7 || m == 9 || m == 28 || m == 34 || m == 36 || m == 38 || m == 40;
}

// "inlen&%d&outlen&%d&" of the call's whole source and destination.
void Lengths(char* arg, size_t size, const rscpcRun& r)
{
    std::snprintf(arg, size, "inlen&%ld&outlen&%ld&", static_cast<long>(r.srcEnd - r.srcStart),
                  static_cast<long>(r.dstEnd - r.dstStart));
}

// A language-dependent object whose language or third code page changed
// is made stale, so that the preparation re-activates it.
void CheckLanguage(rscpCObj_t* o)
{
    if (!o->ccci_explicit_langu) {
        char langu = ' ';
        rscph_HookTable.Language(&langu);
        if (langu != o->ccci_langu)
            o->timestamp = 0;
    }
    if (o->ccci_ambig_langu && !o->ccci_explicit_3rdCP) {
        char cp[4] = {'0', '0', '0', '0'};
        rscph_HookTable.EnvCodePage(cp, &o->ccci_langu);
        if (std::memcmp(cp, o->ccci_3rdCP, 4) != 0)
            o->timestamp = 0;
    }
}

// The cache, and a re-activation when the cache moved on since the object
// was activated.
uint32_t Refresh(rscpCObj_t* o)
{
    if (h_ccc_state != 2 && h_ccc_state != 4 && h_ccc_state != 5)
        return Err(RSCPENOCONV, __LINE__, "CCC not proper initialized", "F34");
    return rscpcReactivateStale(o);
}

}  // namespace

uint32_t rscpcReactivateStale(rscpCObj_t* o)
{
    if (rscpmp != nullptr && o->timestamp == rscpmp->reorgVersion)
        return RSCP_OK;
    if (rscphTracing())
        rscph_HookTable.TraceEnter("rscpmreorg", -1, " ", 1, nullptr);
    ++rscph_HookTable.ctl->reorgNesting;
    uint32_t rc = rscpnr__need_reorg(0, RSCP_ALL_ERRORS);
    if (rc == 0)
        rc = lookup_convert_tables(o, 0, 1, 1, RSCP_ALL_ERRORS);
    --rscph_HookTable.ctl->reorgNesting;
    if (rscphTracing())
        rscph_HookTable.TraceExit(static_cast<int32_t>(rc), " ", 1, nullptr);
    if (rc == 0 && (rscpmp == nullptr || h_ccc_state != 2))
        rc = Err(RSCPENOCONV, __LINE__, "CCC not proper initialized", "F34");
    return rc;
}

namespace {

// Table numbers, then the cache.
uint32_t Prepare(rscpCObj_t* o)
{
    if (o->in_no == 0 || o->out_no == 0) {
        char in[24], out[24];
        std::snprintf(in, sizeof in, "%ld", static_cast<long>(o->in_no));
        std::snprintf(out, sizeof out, "%ld", static_cast<long>(o->out_no));
        return Err(RSCPENOCONV, __LINE__, "missing char code param", "F38", in, -1, out, -1);
    }
    return Refresh(o);
}

// Success: the rest of the destination by the fill option.
uint32_t Fill(rscpcRun& r)
{
    const rscpCObj_t* o = r.obj;
    const int64_t rest = r.dstEnd - r.dst;
    if (r.noFill || rest <= 0)
        return RSCP_OK;
    if (o->fill_rest == RSCPFILL_NULLS) {
        std::memset(r.dst, 0, size_t(rest));
        r.dst = r.dstEnd;
        rscph_HookTable.ctl->fillBytes += uint64_t(rest);
    } else if (o->fill_rest == RSCPFILL_SPACES || o->fill_rest == RSCPFILL_AND_TRUNC_SPACES) {
        const int32_t n = o->out_space_len;
        if (n != 1 && n != 2 && n != 4)
            return RSCP_OK;
        if (rest % n != 0) {
            char arg[24];
            std::snprintf(arg, sizeof arg, "%ld", static_cast<long>(rest));
            return Err(RSCPEUNIQ, __LINE__, "spaces don't fit into rest", "F39", arg, -1);
        }
        for (int64_t i = 0; i < rest; i += n)
            std::memcpy(r.dst + i, o->out_space, size_t(n));
        r.dst = r.dstEnd;
        rscph_HookTable.ctl->fillSpace += uint64_t(rest);
    }
    return RSCP_OK;
}

// Overflow: a source that goes on only with its space characters counts as
// converted when the fill option truncates spaces.
uint32_t Overflow(rscpcRun& r)
{
    const rscpCObj_t* o = r.obj;
    char arg[64];
    Lengths(arg, sizeof arg, r);
    if (rscpcTruncatesSpaces(o->fill_rest)) {
        const int32_t n = o->in_space_len;
        if (n == 1 || n == 2 || n == 4) {
            const int64_t rest = r.srcEnd - r.src;
            bool spaces = rest % n == 0;
            for (const uint8_t* p = r.src; spaces && p < r.srcEnd; p += n)
                spaces = std::memcmp(p, o->in_space, size_t(n)) == 0;
            if (spaces) {
                rscph_HookTable.ctl->truncBytes += uint64_t(rest);
                r.src = r.srcEnd;
                return RSCP_OK;
            }
        } else {
            Err(RSCPETOOLONG, __LINE__, "convert output buffer overflow and no space", "F39", arg, -1);
        }
    }
    return Err(RSCPETOOLONG, __LINE__, "convert output buffer overflow", "F39", arg, -1);
}

uint32_t Incomplete(const rscpcRun& r)
{
    const rscpCObj_t* o = r.obj;
    char bytes[48], where[64];
    const int64_t n = r.srcEnd - r.src;
    rscpHexField(bytes, r.src, int32_t(n < 10 ? n : 10));
    std::snprintf(where, sizeof where, "&%ld&%-4.4s&%-4.4s&", static_cast<long>(r.src - r.srcStart), o->incode,
                  o->outcode);
    return Err(RSCPEUNIQ, __LINE__, "input character broken", "F40", bytes, -1, where, -1);
}

uint32_t Unsupported(const rscpCObj_t* o)
{
    char pair[24];
    std::snprintf(pair, sizeof pair, "&%4.4s->%4.4s&", o->incode, o->outcode);
    return Err(RSCPENOCONV, __LINE__, "unsupported table/NLS codepages pair", "F38", rscpMethodText(o->method), -1,
               pair, -1);
}

}  // namespace

uint32_t rscpcNotConvertible(const rscpCObj_t* obj, const uint8_t* from, const uint8_t* to, int32_t line)
{
    char bytes[48], pair[16];
    const int64_t n = to - from;
    rscpHexField(bytes, from, int32_t(n < 10 ? n : 10));
    std::snprintf(pair, sizeof pair, "&%4.4s&%4.4s&", obj->incode, obj->outcode);
    return Err(RSCPENOCONV, line, "character not convertable", "F40", bytes, -1, pair, 11);
}

void rscpcRollback(int32_t line)
{
    Err(RSCPEROLLBACK, line, "Tryed to ignore a rollback", "F26", nullptr, 0, nullptr, 0, 0);
    std::abort();  // the recorder has ended the process already
}

rscpcExit rscpcIncompleteRest(rscpcRun& r, const uint8_t* restEnd)
{
    if (r.obj->broken != uint32_t(RSCPBROKEN_LIKE_MISS))
        return RSCPC_INCOMPLETE;
    const uint32_t rc = rscpcSubstitute(r);
    if (rc == RSCPETOOLONG)
        return RSCPC_OVERFLOW;
    if (rc != RSCP_OK) {
        r.code = rc;
        return RSCPC_ERROR;
    }
    r.src = restEnd;
    r.noFill = true;
    return RSCPC_DONE;
}

uint32_t rscpcSubstitute(rscpcRun& r)
{
    uint32_t rc = rscpCReactivateIfNeeded(r.obj);
    if (rc == RSCP_OK)
        rc = rscpCEncodeOneAt(r.obj, r.dstStart, &r.dst, r.dstEnd, r.obj->subst_code_U4);
    if (rc == RSCPEROLLBACK)
        rscpcRollback(__LINE__);
    if (rc == RSCP_OK)
        ++r.obj->noof_subst;
    return rc;
}

uint32_t rscpCConvert(rscpCObj_t* obj, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd)
{
    // The windows: both ends at or behind their cursors, less than 2 GiB.
    if (dst == nullptr || src == nullptr || (*dst == nullptr && dstEnd != nullptr) ||
        (*src == nullptr && srcEnd != nullptr))
        return Err(RSCPEINVAL, __LINE__, "missing buffer", "CP9", "rscpCConvert", -1);
    const uintptr_t s0 = reinterpret_cast<uintptr_t>(*src), s1 = reinterpret_cast<uintptr_t>(srcEnd);
    const uintptr_t d0 = reinterpret_cast<uintptr_t>(*dst), d1 = reinterpret_cast<uintptr_t>(dstEnd);
    if (s1 < s0 || d1 < d0 || s1 - s0 > INT32_MAX || d1 - d0 > INT32_MAX) {
        char arg[96];
        std::snprintf(arg, sizeof arg, "rscpCConvert&%p..%p&%p..%p&", static_cast<const void*>(*src),
                      static_cast<const void*>(srcEnd), static_cast<void*>(*dst), static_cast<void*>(dstEnd));
        return Err(RSCPEINVAL, __LINE__, "buffer end before its start", "CP9", arg, -1);
    }
    const bool inPlace = s0 == d0 && s1 != s0;
    if ((inPlace && s1 - s0 > kInPlaceMax) || (!inPlace && rscpcOverlap(s0, s1 - s0, d0, d1 - d0))) {
        char arg[64];
        std::snprintf(arg, sizeof arg, "rscpCConvert&%p&==&%p&", static_cast<const void*>(*src),
                      static_cast<void*>(*dst));
        return Err(RSCPEINVAL, __LINE__, "overlapping buffers", "CP9", arg, -1);
    }
    if (obj == nullptr)
        return Err(RSCPENOCONV, __LINE__, "missing char code param", "F38");

    // An in-place source is read from a copy of its (at most 512) bytes.
    uint8_t local[kInPlaceMax];
    const uint8_t* source = *src;
    if (inPlace) {
        std::memcpy(local, source, s1 - s0);
        source = local;
        char note[80];
        const int n = std::snprintf(note, sizeof note, "rscpc/140/(%d): overlapping buffers at %p .", __LINE__,
                                    static_cast<void*>(*dst));
        rscpe_get_output_func(2)(note, n);
    }
    rscpcRun r{obj, source, source, source + (s1 - s0), *dst, *dst, dstEnd};

    rscpcExit exit = RSCPC_ERROR;
    for (int pass = 0;; ++pass) {
        const int32_t m = obj->method;
        if (pass > 1 || !(FormMethod(m) || WalkMethod(m) || MultiByteMethod(m)))
            return Unsupported(obj);
        if (LanguageMethod(m))
            CheckLanguage(obj);
        // The methods without tables need no preparation, but for the
        // translation table of "1B_to_1B", which lies in the cache.
        uint32_t rc = RSCP_OK;
        if (!FormMethod(m))
            rc = Prepare(obj);
        else if (m == 12 && (rscpmp == nullptr || obj->timestamp != rscpmp->reorgVersion))
            rc = Refresh(obj);
        if (rc != RSCP_OK)
            return rc;
        if (obj->method != m)
            continue;  // the re-activation chose another method
        if (FormMethod(m)) {
            exit = rscpcFormMethod(r, m);
        } else if (WalkMethod(m)) {
            rscpcWalkMode mode;
            mode.iso2022 = m == 41;
            exit = rscpcTableWalk(r, mode);
        } else {
            exit = rscpcMultiByteMethod(r, m);
        }
        break;
    }

    const int64_t produced = r.dst - r.dstStart;  // the fill is not counted
    uint32_t code = RSCP_OK;
    switch (exit) {
    case RSCPC_DONE:
        code = Fill(r);
        break;
    case RSCPC_OVERFLOW:
        code = Overflow(r);
        break;
    case RSCPC_INCOMPLETE:
        code = Incomplete(r);
        break;
    case RSCPC_ERROR:
        code = r.code;
        break;
    }
    if (code == RSCPEROLLBACK)
        rscpcRollback(__LINE__);

    // Finishing: the statistics (without the fill), the input shift state,
    // the cursors.
    const int64_t consumed = r.src - r.srcStart;
    rscpCtlRecord_t* ctl = rscph_HookTable.ctl;
    ctl->bytesIn += uint64_t(consumed);
    ctl->bytesOut += uint64_t(produced);
    if (obj->broken != uint32_t(RSCPBROKEN_STOP_RESTARTABLE))
        obj->iso2022 &= ~RSCP_2022_IN_RUN;
    *src += consumed;
    *dst += r.dst - r.dstStart;
    return code;
}

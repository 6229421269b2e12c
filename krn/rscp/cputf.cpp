// Unicode encoding-form converters.  One decoder template (UTF-8 into a 16-
// or 32-bit form) and one encoder template (a 16- or 32-bit form into UTF-8)
// serve every member; the members only pick the form, byte order, control-
// code filtering and what happens to invalid input.
#include "krn/rscp/cputf.h"

#include <bit>
#include <cstring>

#include "krn/rscp/cpcodes.h"

namespace {

// ---- constant tables -----------------------------------------------------------

// Trailing-byte count by UTF-8 lead byte: 6 is not a lead byte, 7 a control
// code (only in the filtering table).
struct LeadTables {
    uint8_t plain[256];
    uint8_t nocc[256];
};
constexpr LeadTables MakeLeadTables()
{
    LeadTables t{};
    for (int b = 0; b < 256; ++b) {
        uint8_t n = 0;
        if (b >= 0x80 && b <= 0xBF)
            n = 6;
        else if (b >= 0xC0 && b <= 0xDF)
            n = 1;
        else if (b >= 0xE0 && b <= 0xEF)
            n = 2;
        else if (b >= 0xF0 && b <= 0xF7)
            n = 3;
        else if (b >= 0xF8 && b <= 0xFB)
            n = 4;
        else if (b >= 0xFC && b <= 0xFD)
            n = 5;
        else if (b >= 0xFE)
            n = 6;
        t.plain[b] = n;
        t.nocc[b] = (b < 0x20 || b == 0x7F) ? 7 : n;
    }
    return t;
}
constexpr LeadTables kLead = MakeLeadTables();

// Accumulating value = value * 64 + byte over a whole sequence leaves the
// marker bits of every byte in the value; this removes them (by trail count).
constexpr uint32_t kOffset[6] = {0x0, 0x3080, 0xE2080, 0x3C82080, 0xFA082080, 0x82082080};
// Smallest value of each length; anything smaller is an overlong form.
constexpr uint32_t kMinimum[6] = {0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
// Lead-byte mark by sequence length 1..6.
constexpr uint8_t kMark[7] = {0, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kMaxUtf16 = 0x10FFFF;
constexpr uint32_t kMaxUcs4 = 0x7FFFFFFF;

// ---- units ------------------------------------------------------------------------

constexpr bool kLittle = std::endian::native == std::endian::little;

// Units in little- or big-endian order; Swap means the machine's opposite.
template <int W, bool Swap>
inline uint32_t Load(const uint8_t* p)
{
    constexpr bool little = kLittle != Swap;
    if constexpr (W == 2)
        return little ? uint32_t(p[0]) | uint32_t(p[1]) << 8 : uint32_t(p[0]) << 8 | p[1];
    else
        return little ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                      : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

template <int W, bool Swap>
inline void Store(uint8_t* p, uint32_t v)
{
    constexpr bool little = kLittle != Swap;
    if constexpr (W == 2) {
        p[little ? 0 : 1] = uint8_t(v);
        p[little ? 1 : 0] = uint8_t(v >> 8);
    } else {
        for (int i = 0; i < 4; ++i)
            p[little ? i : 3 - i] = uint8_t(v >> (8 * i));
    }
}

inline bool IsHigh(uint32_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}
inline bool IsLow(uint32_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}
inline bool IsControl(uint32_t v)
{
    return v < 0x20 || (v >= 0x7F && v <= 0x9F);
}

inline int Utf8Length(uint32_t v)
{
    return v <= 0x7F ? 1 : v <= 0x7FF ? 2 : v <= 0xFFFF ? 3 : v <= 0x1FFFFF ? 4 : v <= 0x3FFFFFF ? 5 : 6;
}

// Writes v as UTF-8 of length n, from the last byte to the first.
inline void PutUtf8(uint8_t* d, uint32_t v, int n)
{
    for (int i = n - 1; i > 0; --i) {
        d[i] = uint8_t(0x80 | (v & 0x3F));
        v >>= 6;
    }
    d[0] = uint8_t(kMark[n] | v);
}

// ---- reporting ----------------------------------------------------------------------

// Stores both cursors, then hands the fault to the hook and returns its answer.
struct Cursors {
    const uint8_t** src;
    uint8_t** dst;
    const char* module;
};

uint32_t Report(const Cursors& c, const uint8_t* s, uint8_t* d, uint32_t code, int32_t place, int32_t line,
                const char* text)
{
    *c.src = s;
    *c.dst = d;
    return rscpu_error_hook(code, 'O', RSCP_ALL_ERRORS, c.module, place, line, text, nullptr, nullptr, 0, nullptr, 0);
}

uint32_t Done(const Cursors& c, const uint8_t* s, uint8_t* d)
{
    *c.src = s;
    *c.dst = d;
    return RSCP_OK;
}

// ---- UTF-8 decoding ---------------------------------------------------------------------

enum Form { kUcs2, kUcs4, kUtf16 };
// Strict: faults are reported, or substituted when a substitute is given.
// Fast: faults become U+FFFD, a byte that cannot lead a sequence its own value.
// Always: faults and a cut sequence become the substitute; only 32 is reported.
enum Mode { kStrict, kFast, kAlways };

enum Fault { kNone, kBadLead, kControl, kControlPair, kFollowUp, kOverlong, kRange };

// The largest value a form holds.  UCS-4 takes every value of up to six
// bytes; an encoded surrogate is a value like any other (UTF-16 writes it as
// a unit of its own).
template <Form F>
constexpr uint32_t MaxValue()
{
    return F == kUcs2 ? 0xFFFF : F == kUtf16 ? kMaxUtf16 : kMaxUcs4;
}

template <Form F>
constexpr const char* RangeText()
{
    return F == kUcs2 ? "UTF-8 bejond UCS-2" : F == kUtf16 ? "UTF-8 bejond UTF-32" : "UTF-8 bejond UCS-4";
}

// A sequence of count trailing bytes of which only avail bytes (lead
// included) are in the source: the fault its bytes already show, whatever
// would follow, or kNone while it may still become a character.
template <Form F>
Fault CutFault(const uint8_t* s, int avail, int count)
{
    for (int i = 1; i < avail; ++i)
        if ((s[i] & 0xC0) != 0x80)
            return kFollowUp;
    uint32_t lo = s[0], hi = s[0];
    for (int i = 1; i <= count; ++i) {
        lo = lo * 64 + (i < avail ? s[i] : 0x80);
        hi = hi * 64 + (i < avail ? s[i] : 0xBF);
    }
    lo -= kOffset[count];
    hi -= kOffset[count];
    if (hi < kMinimum[count])
        return kOverlong;
    // Only the completions that are not overlong count.
    if (lo < kMinimum[count])
        lo = kMinimum[count];
    if (lo > MaxValue<F>())
        return kRange;
    return kNone;
}

// A whole sequence: its fault, or kNone with the value.
template <Form F, bool Nocc>
Fault WholeFault(const uint8_t* s, int count, uint32_t* value)
{
    uint8_t all = 0xFF, any = 0;
    uint32_t v = s[0];
    for (int i = 1; i <= count; ++i) {
        all &= s[i];
        any |= s[i];
        v = v * 64 + s[i];
    }
    if ((all & 0x80) == 0 || (any & 0x40) != 0)
        return kFollowUp;
    if (Nocc && s[0] == 0xC2 && s[1] >= 0x81 && s[1] <= 0x9F)
        return kControlPair;
    v -= kOffset[count];
    if (v < kMinimum[count])
        return kOverlong;
    if (v > MaxValue<F>())
        return kRange;
    *value = v;
    return kNone;
}

template <Form F, bool Swap, bool Nocc, Mode M>
uint32_t DecodeUtf8(const char* module, const uint8_t** srcp, const uint8_t* srcEnd, uint8_t** dstp, uint8_t* dstEnd,
                    const uint32_t* subst, uint32_t* count)
{
    constexpr int W = F == kUcs4 ? 4 : 2;
    const Cursors cur{srcp, dstp, module};
    const uint8_t* s = *srcp;
    uint8_t* d = *dstp;
    const uint8_t* lead = Nocc ? kLead.nocc : kLead.plain;

    // The value written for a fault: the substitute, fitted to the form.
    uint32_t sub = kReplacement;
    if (M != kFast && subst != nullptr)
        sub = *subst;
    if ((F == kUcs2 && sub > 0xFFFF) || (F == kUtf16 && sub > kMaxUtf16))
        sub = kReplacement;
    const bool substitutes = M != kStrict || subst != nullptr;

    auto units = [](uint32_t v) { return F == kUtf16 && v > 0xFFFF ? 2 : 1; };
    auto put = [&](uint32_t v) {
        if (F == kUtf16 && v > 0xFFFF) {
            Store<W, Swap>(d, ((v - 0x10000) >> 10) + 0xD800);
            Store<W, Swap>(d + W, (v & 0x3FF) + 0xDC00);
            d += 2 * W;
        } else {
            Store<W, Swap>(d, v);
            d += W;
        }
    };

    while (s < srcEnd) {
        if (dstEnd - d < W)
            return Report(cur, s, d, RSCPETOOLONG, 1, __LINE__, "dest buffer overflow");

        // Runs of ASCII, eight bytes at a time.
        if constexpr (!Nocc) {
            while (srcEnd - s >= 8 && dstEnd - d >= 8 * W) {
                uint64_t word;
                std::memcpy(&word, s, 8);
                if ((word & 0x8080808080808080ull) != 0)
                    break;
                for (int i = 0; i < 8; ++i)
                    Store<W, Swap>(d + i * W, s[i]);
                s += 8;
                d += 8 * W;
            }
            if (s == srcEnd)
                break;
            if (dstEnd - d < W)
                return Report(cur, s, d, RSCPETOOLONG, 1, __LINE__, "dest buffer overflow");
        }

        const uint8_t b = *s;
        const int n = lead[b];
        if (n == 0) {
            Store<W, Swap>(d, b);
            ++s;
            d += W;
            continue;
        }

        Fault fault = kNone;
        uint32_t value = 0;
        const int avail = srcEnd - s > n ? n + 1 : int(srcEnd - s);
        if (n == 7) {
            fault = kControl;
        } else if (n == 6) {
            if (M == kFast) {
                Store<W, Swap>(d, b);
                ++s;
                d += W;
                continue;
            }
            fault = kBadLead;
        } else if (avail <= n) {
            fault = CutFault<F>(s, avail, n);
            if (fault == kNone) {
                if (M == kAlways) {
                    // One substitute stands for the cut sequence.
                    if (dstEnd - d < units(sub) * W)
                        return Report(cur, s, d, RSCPETOOLONG, 1, __LINE__, "dest buffer overflow");
                    put(sub);
                    if (count != nullptr)
                        ++*count;
                    return Done(cur, srcEnd, d);
                }
                return Report(cur, s, d, RSCPEUNIQ, 2, __LINE__,
                              M == kFast ? "source exhausted" : "source exhausted within a char");
            }
        } else {
            fault = WholeFault<F, Nocc>(s, n, &value);
        }

        if (fault == kNone) {
            if (dstEnd - d < units(value) * W)
                return Report(cur, s, d, RSCPETOOLONG, 1, __LINE__, "dest buffer overflow");
            put(value);
            s += n + 1;
            continue;
        }

        // Where the fault leaves the cursor, and where decoding resumes.
        const uint8_t* at = fault == kRange ? s + avail - 1 : s;
        const int skip = fault == kControlPair ? 2 : fault == kOverlong || fault == kRange ? avail : 1;
        if (!substitutes) {
            switch (fault) {
            case kBadLead:
                return Report(cur, at, d, RSCPENOCONV, 3, __LINE__, "illegal start byte");
            case kControl:
            case kControlPair:
                return Report(cur, at, d, RSCPENOCONV, 4, __LINE__, "control codes not allowed here");
            case kFollowUp:
                return Report(cur, at, d, RSCPENOCONV, 5, __LINE__, "illegal follow-up byte");
            case kOverlong:
                return Report(cur, at, d, RSCPENOCONV, 6, __LINE__, "overlong UTF-8 sequence");
            default:
                return Report(cur, at, d, RSCPENOCONV, 8, __LINE__, RangeText<F>());
            }
        }
        if (dstEnd - d < units(sub) * W)
            return Report(cur, s, d, RSCPETOOLONG, 1, __LINE__, "dest buffer overflow");
        put(sub);
        if (M != kFast && count != nullptr)
            ++*count;
        s += skip;
    }
    return Done(cur, s, d);
}

// ---- encoding into UTF-8 -----------------------------------------------------------------

// Strict: unpaired surrogates and UCS-4 values above 31 bits are errors.
// Loose: unpaired surrogates are encoded as their own value.
// Subst: both become U+FFFD.
enum Variant { kReject, kLoose, kReplace };

template <Form F, bool Swap, bool Nocc, Variant V>
uint32_t EncodeUtf8(const char* module, const uint8_t** srcp, const uint8_t* srcEnd, uint8_t** dstp, uint8_t* dstEnd)
{
    constexpr int W = F == kUcs4 ? 4 : 2;
    const Cursors cur{srcp, dstp, module};
    const uint8_t* s = *srcp;
    uint8_t* d = *dstp;

    while (s < srcEnd) {
        // Runs of ASCII, four 16-bit units at a time.
        if constexpr (W == 2 && !Nocc) {
            while (srcEnd - s >= 8 && dstEnd - d >= 4) {
                uint64_t word;
                std::memcpy(&word, s, 8);
                if ((word & (Swap ? 0x80FF80FF80FF80FFull : 0xFF80FF80FF80FF80ull)) != 0)
                    break;
                for (int i = 0; i < 4; ++i)
                    d[i] = uint8_t(Load<W, Swap>(s + 2 * i));
                s += 8;
                d += 4;
            }
            if (s == srcEnd)
                break;
        }
        if (srcEnd - s < W)
            return Report(cur, s, d, RSCPEUNIQ, 11, __LINE__, "source exhausted");
        uint32_t v = Load<W, Swap>(s);
        int used = W;
        if constexpr (F == kUtf16) {
            if (IsHigh(v)) {
                if (srcEnd - s < 2 * W) {
                    if (V != kReplace)
                        return Report(cur, s, d, RSCPEUNIQ, 12, __LINE__, "Half surrogate at end");
                    v = kReplacement;
                } else if (const uint32_t low = Load<W, Swap>(s + W); IsLow(low)) {
                    v = (v << 10) + low - 0x35FDC00;
                    used = 2 * W;
                } else if (V == kReject) {
                    return Report(cur, s, d, RSCPENOCONV, 13, __LINE__, "Half surrogate in middle");
                } else if (V == kReplace) {
                    v = kReplacement;
                }
            } else if (IsLow(v)) {
                if (V == kReject)
                    return Report(cur, s, d, RSCPENOCONV, 14, __LINE__, "Half low surrogate in middle");
                if (V == kReplace)
                    v = kReplacement;
            }
        }
        if constexpr (F == kUcs4) {
            if (v > kMaxUcs4) {
                if (V != kReplace)
                    return Report(cur, s, d, RSCPENOCONV, 15, __LINE__, "UCS-4 has only 31 bits.");
                v = kReplacement;
            }
        }
        if (Nocc && IsControl(v))
            return Report(cur, s, d, RSCPENOCONV, 16, __LINE__, "control code not allowed");
        const int n = Utf8Length(v);
        if (dstEnd - d < n)
            return Report(cur, s, d, RSCPETOOLONG, 17, __LINE__, "dest buffer overflow");
        PutUtf8(d, v, n);
        d += n;
        s += used;
    }
    return Done(cur, s, d);
}

}  // namespace

// ---- the error hook ------------------------------------------------------------------------

uint32_t rscpu_default_error_hook(uint32_t code, char, uint32_t, const char*, int32_t, int32_t, const char*,
                                  const char*, const char*, int32_t, const char*, int32_t)
{
    return code;
}

rscpuErrorHook_t rscpu_error_hook = rscpu_default_error_hook;

void rscpu_set_error_hook(rscpuErrorHook_t hook)
{
    rscpu_error_hook = hook != nullptr ? hook : rscpu_default_error_hook;
}

// ---- UCS-4 <-> UTF-16 and the UTF-16 check ---------------------------------------------------

uint32_t rscpu46r_ucs4_to_utf16(const uint8_t** src, const uint8_t* srcEnd, uint8_t** dst, uint8_t* dstEnd)
{
    const Cursors cur{src, dst, "rscpu46r"};
    const uint8_t* s = *src;
    uint8_t* d = *dst;
    while (s < srcEnd) {
        if (srcEnd - s < 4)
            return Report(cur, s, d, RSCPEUNIQ, 1, __LINE__, "source exhausted");
        uint32_t v = Load<4, false>(s);
        if (v > kMaxUtf16)
            v = kReplacement;
        if (v <= 0xFFFF) {
            if (dstEnd - d < 2)
                return Report(cur, s, d, RSCPETOOLONG, 2, __LINE__, "dest buffer overflow");
            Store<2, false>(d, v);
            d += 2;
        } else {
            if (dstEnd - d < 4)
                return Report(cur, s, d, RSCPETOOLONG, 2, __LINE__, "dest buffer overflow");
            Store<2, false>(d, ((v - 0x10000) >> 10) + 0xD800);
            Store<2, false>(d + 2, (v & 0x3FF) + 0xDC00);
            d += 4;
        }
        s += 4;
    }
    return Done(cur, s, d);
}

uint32_t rscpu46r_utf16_to_ucs4(const uint8_t** src, const uint8_t* srcEnd, uint8_t** dst, uint8_t* dstEnd)
{
    const Cursors cur{src, dst, "rscpu46r"};
    const uint8_t* s = *src;
    uint8_t* d = *dst;
    while (s < srcEnd) {
        if (srcEnd - s < 2)
            return Report(cur, s, d, RSCPEUNIQ, 3, __LINE__, "source exhausted");
        uint32_t v = Load<2, false>(s);
        int used = 2;
        if (IsHigh(v)) {
            if (srcEnd - s < 4)
                return Report(cur, s, d, RSCPEUNIQ, 4, __LINE__, "half surrogate at end");
            if (const uint32_t low = Load<2, false>(s + 2); IsLow(low)) {
                v = (v << 10) + low - 0x35FDC00;
                used = 4;
            }
        }
        if (dstEnd - d < 4)
            return Report(cur, s, d, RSCPETOOLONG, 5, __LINE__, "dest buffer overflow");
        Store<4, false>(d, v);
        d += 4;
        s += used;
    }
    return Done(cur, s, d);
}

uint32_t rscpu66r_check_utf16(const uint8_t** src, const uint8_t* srcEnd, uint8_t** dst, uint8_t* dstEnd)
{
    const Cursors cur{src, dst, "rscpu66r"};
    const uint8_t* s = *src;
    uint8_t* d = *dst;
    uint32_t result = RSCP_OK;
    while (s < srcEnd) {
        if (srcEnd - s < 2)
            return Report(cur, s, d, RSCPEUNIQ, 1, __LINE__, "source exhausted");
        const uint32_t u = Load<2, false>(s);
        uint32_t fault = RSCP_OK;
        const char* text = nullptr;
        if (IsHigh(u)) {
            if (srcEnd - s < 4) {
                fault = RSCPEUNIQ;
                text = "Half surrogate at end";
            } else if (IsLow(Load<2, false>(s + 2))) {
                if (dstEnd - d < 4)
                    return Report(cur, s, d, RSCPETOOLONG, 2, __LINE__, "dest buffer overflow");
                std::memcpy(d, s, 4);
                d += 4;
                s += 4;
                continue;
            } else {
                fault = RSCPENOCONV;
                text = "Half surrogate in middle";
            }
        } else if (IsLow(u)) {
            fault = RSCPENOCONV;
            text = "Half low surrogate in middle";
        }
        if (dstEnd - d < 2)
            return Report(cur, s, d, RSCPETOOLONG, 2, __LINE__, "dest buffer overflow");
        if (fault != RSCP_OK) {
            // The faulty unit becomes '#'; the hook's answer is kept for the end.
            result = Report(cur, s, d, fault, 3, __LINE__, text);
            Store<2, false>(d, '#');
        } else {
            std::memcpy(d, s, 2);
        }
        d += 2;
        s += 2;
    }
    *src = s;
    *dst = d;
    return result;
}

// ---- the members ------------------------------------------------------------------------------

#define RSCPU_ENCODER(name, module, form, swap, nocc, variant) \
    uint32_t name(const uint8_t** src, const uint8_t* srcEnd, uint8_t** dst, uint8_t* dstEnd) \
    { \
        return EncodeUtf8<form, swap, nocc, variant>(module, src, srcEnd, dst, dstEnd); \
    }
#define RSCPU_FAST(name, module, form, swap) \
    uint32_t name(const uint8_t** src, const uint8_t* srcEnd, uint8_t** dst, uint8_t* dstEnd) \
    { \
        return DecodeUtf8<form, swap, false, kFast>(module, src, srcEnd, dst, dstEnd, nullptr, nullptr); \
    }
#define RSCPU_DECODER(name, module, form, swap, nocc, mode) \
    uint32_t name(const uint8_t** src, const uint8_t* srcEnd, uint8_t** dst, uint8_t* dstEnd, const uint32_t* subst, \
                  uint32_t* count) \
    { \
        return DecodeUtf8<form, swap, nocc, mode>(module, src, srcEnd, dst, dstEnd, subst, count); \
    }

RSCPU_ENCODER(rscpu82r_ucs2_to_utf8, "rscpu82r", kUcs2, false, false, kLoose)
RSCPU_ENCODER(rscpu82w_ucs2_to_utf8, "rscpu82w", kUcs2, true, false, kLoose)
RSCPU_ENCODER(rscpu82r_ucs2_to_utf8_nocc, "rscpu82r", kUcs2, false, true, kLoose)
RSCPU_ENCODER(rscpu82w_ucs2_to_utf8_nocc, "rscpu82w", kUcs2, true, true, kLoose)
RSCPU_FAST(rscpu82r_utf8_to_ucs2_fast, "rscpu82r", kUcs2, false)
RSCPU_FAST(rscpu82w_utf8_to_ucs2_fast, "rscpu82w", kUcs2, true)
RSCPU_DECODER(rscpu82r_utf8_to_ucs2, "rscpu82r", kUcs2, false, false, kStrict)
RSCPU_DECODER(rscpu82w_utf8_to_ucs2, "rscpu82w", kUcs2, true, false, kStrict)
RSCPU_DECODER(rscpu82r_utf8_to_ucs2_nocc, "rscpu82r", kUcs2, false, true, kStrict)
RSCPU_DECODER(rscpu82w_utf8_to_ucs2_nocc, "rscpu82w", kUcs2, true, true, kStrict)

RSCPU_ENCODER(rscpu84r_ucs4_to_utf8, "rscpu84r", kUcs4, false, false, kReject)
RSCPU_ENCODER(rscpu84w_ucs4_to_utf8, "rscpu84w", kUcs4, true, false, kReject)
RSCPU_ENCODER(rscpu84r_ucs4_to_utf8_nocc, "rscpu84r", kUcs4, false, true, kReject)
RSCPU_ENCODER(rscpu84w_ucs4_to_utf8_nocc, "rscpu84w", kUcs4, true, true, kReject)
RSCPU_ENCODER(rscpu84r_ucs4_to_utf8_alt, "rscpu84r", kUcs4, false, false, kReject)
RSCPU_ENCODER(rscpu84w_ucs4_to_utf8_subst, "rscpu84w", kUcs4, true, false, kReplace)
RSCPU_FAST(rscpu84r_utf8_to_ucs4_fast, "rscpu84r", kUcs4, false)
RSCPU_FAST(rscpu84w_utf8_to_ucs4_fast, "rscpu84w", kUcs4, true)
RSCPU_DECODER(rscpu84r_utf8_to_ucs4, "rscpu84r", kUcs4, false, false, kStrict)
RSCPU_DECODER(rscpu84w_utf8_to_ucs4, "rscpu84w", kUcs4, true, false, kStrict)
RSCPU_DECODER(rscpu84r_utf8_to_ucs4_nocc, "rscpu84r", kUcs4, false, true, kStrict)
RSCPU_DECODER(rscpu84w_utf8_to_ucs4_nocc, "rscpu84w", kUcs4, true, true, kStrict)

RSCPU_ENCODER(rscpu86r_utf16_to_utf8, "rscpu86r", kUtf16, false, false, kReject)
RSCPU_ENCODER(rscpu86w_utf16_to_utf8, "rscpu86w", kUtf16, true, false, kReject)
RSCPU_ENCODER(rscpu86r_utf16_to_utf8_nocc, "rscpu86r", kUtf16, false, true, kReject)
RSCPU_ENCODER(rscpu86w_utf16_to_utf8_nocc, "rscpu86w", kUtf16, true, true, kReject)
RSCPU_ENCODER(rscpu86r_utf16_to_utf8_loose, "rscpu86r", kUtf16, false, false, kLoose)
RSCPU_ENCODER(rscpu86w_utf16_to_utf8_loose, "rscpu86w", kUtf16, true, false, kLoose)
RSCPU_ENCODER(rscpu86r_utf16_to_utf8_subst, "rscpu86r", kUtf16, false, false, kReplace)
RSCPU_FAST(rscpu86r_utf8_to_utf16_fast, "rscpu86r", kUtf16, false)
RSCPU_FAST(rscpu86w_utf8_to_utf16_fast, "rscpu86w", kUtf16, true)
RSCPU_DECODER(rscpu86r_utf8_to_utf16, "rscpu86r", kUtf16, false, false, kStrict)
RSCPU_DECODER(rscpu86w_utf8_to_utf16, "rscpu86w", kUtf16, true, false, kStrict)
RSCPU_DECODER(rscpu86r_utf8_to_utf16_nocc, "rscpu86r", kUtf16, false, true, kStrict)
RSCPU_DECODER(rscpu86w_utf8_to_utf16_nocc, "rscpu86w", kUtf16, true, true, kStrict)
RSCPU_DECODER(rscpu86r_utf8_to_utf16_subst, "rscpu86r", kUtf16, false, false, kAlways)

#undef RSCPU_ENCODER
#undef RSCPU_FAST
#undef RSCPU_DECODER

int32_t rscpuMembersOfMethod(int32_t method, int32_t ctrlcodes, rscpuConv_t* enc, rscpuSubstConv_t* dec)
{
    struct Row {
        rscpuConv_t enc[2];
        rscpuSubstConv_t dec[2];
    };
    static const Row rows[12] = {
        {{rscpu82r_ucs2_to_utf8, rscpu82r_ucs2_to_utf8_nocc}, {}},    // 13 U2_to_U8
        {{rscpu82w_ucs2_to_utf8, rscpu82w_ucs2_to_utf8_nocc}, {}},    // 14 U2sw_to_U8
        {{}, {rscpu82r_utf8_to_ucs2, rscpu82r_utf8_to_ucs2_nocc}},    // 15 U8_to_U2
        {{}, {rscpu82w_utf8_to_ucs2, rscpu82w_utf8_to_ucs2_nocc}},    // 16 U8_to_U2sw
        {{rscpu84r_ucs4_to_utf8, rscpu84r_ucs4_to_utf8_nocc}, {}},    // 17 U4_to_U8
        {{rscpu84w_ucs4_to_utf8, rscpu84w_ucs4_to_utf8_nocc}, {}},    // 18 U4sw_to_U8
        {{}, {rscpu84r_utf8_to_ucs4, rscpu84r_utf8_to_ucs4_nocc}},    // 19 U8_to_U4
        {{}, {rscpu84w_utf8_to_ucs4, rscpu84w_utf8_to_ucs4_nocc}},    // 20 U8_to_U4sw
        {{rscpu86r_utf16_to_utf8, rscpu86r_utf16_to_utf8_nocc}, {}},  // 21 U6_to_U8
        {{rscpu86w_utf16_to_utf8, rscpu86w_utf16_to_utf8_nocc}, {}},  // 22 U6sw_to_U8
        {{}, {rscpu86r_utf8_to_utf16, rscpu86r_utf8_to_utf16_nocc}},  // 23 U8_to_U6
        {{}, {rscpu86w_utf8_to_utf16, rscpu86w_utf8_to_utf16_nocc}},  // 24 U8_to_U6sw
    };
    if (method < 13 || method > 24)
        return 0;
    const Row& r = rows[method - 13];
    const int i = ctrlcodes == 1 ? 0 : 1;
    if (enc != nullptr)
        *enc = r.enc[i];
    if (dec != nullptr)
        *dec = r.dec[i];
    return 1;
}

// The conversion method of a pair of code page kinds.  Single-byte and
// table-driven pairs go through the tables ("tab", or "l_tab" where the
// language decides), the Japanese families through their transforms, the
// Unicode forms into each other through the encoding-form converters or a
// plain copy or swap, and the library's internal 16-bit set by its own
// methods.
#include <bit>

#include "krn/rscp/cpactivate.h"

namespace {

constexpr bool kLittle = std::endian::native == std::endian::little;

enum : int32_t {
    kTab = 4,
    kLTab = 5,
    kMbconv = 6,
    kLMbconv = 7,
    kMbtunnel = 10,
    kMbcopy = 11,
    kU2ToU8 = 13,
    kU2swToU8 = 14,
    kU8ToU2 = 15,
    kU8ToU2sw = 16,
    kU4ToU8 = 17,
    kU4swToU8 = 18,
    kU8ToU4 = 19,
    kU8ToU4sw = 20,
    kU6ToU8 = 21,
    kU6swToU8 = 22,
    kU8ToU6 = 23,
    kU8ToU6sw = 24,
    kU2Swap = 25,
    kU4Swap = 26,
    kMbs16 = 27,
    kLMbs16 = 28,
    kA7ToU6 = 48,
    kA7ToU6sw = 49
};

bool Named(uint32_t k)
{
    return k <= 8 || (k >= 10 && k <= 16) || (k >= 19 && k <= 21) || k == 25 || k == 29 || k == 30 ||
           (k >= 34 && k <= 36) || k == 39;
}

// The table-driven Asian double-byte kinds.
bool Asian(uint32_t k)
{
    return (k >= 3 && k <= 7) || k == 25 || k == 30 || (k >= 34 && k <= 36);
}
// EUC, JIS and the generic output formats.
bool EucLike(uint32_t k)
{
    return k == RSCPK_EUC || k == RSCPK_JIS || k == RSCPK_GOF_A || k == RSCPK_GOF_E;
}
bool Gof(uint32_t k)
{
    return k == RSCPK_GOF_A || k == RSCPK_GOF_E;
}
bool Ucs2(uint32_t k)
{
    return k == RSCPK_UCS2H || k == RSCPK_UCS2L;
}
bool Ucs4(uint32_t k)
{
    return k == RSCPK_UCS4H || k == RSCPK_UCS4L;
}
bool Utf16(uint32_t k)
{
    return k == RSCPK_UTF16H || k == RSCPK_UTF16L;
}
// The Unicode forms other than UTF-8.
bool Wide(uint32_t k)
{
    return Ucs2(k) || Ucs4(k) || Utf16(k);
}
bool BigUnits(uint32_t k)
{
    return k == RSCPK_UCS2H || k == RSCPK_UCS4H || k == RSCPK_UTF16H;
}
// Units in the machine's own byte order.
bool Native(uint32_t k)
{
    return BigUnits(k) != kLittle;
}

rscpPairMethod M(int32_t method, int32_t resolve = RSCP_RESOLVE_NONE)
{
    return {method, resolve};
}

// "tab", or "l_tab" with the given side resolved first when it is ambiguous.
rscpPairMethod TabResolving(bool ambiguous, int32_t side)
{
    return ambiguous ? M(kLTab, side) : M(kTab);
}

// Between two Unicode forms (UTF-8 included).
rscpPairMethod UnicodePair(const rscpPairKinds& p)
{
    const uint32_t s = p.inKind, t = p.outKind;
    const bool sameMinor = p.inMinor == p.outMinor;
    const bool copy = sameMinor && p.doFilter == 0;
    if (s == t || (Ucs2(s) && Utf16(t) && BigUnits(s) == BigUnits(t)))
        return M(copy ? RSCPMETH_DIRECT : kTab);
    if ((Ucs2(s) || Utf16(s)) && (Ucs2(t) || Utf16(t)) && BigUnits(s) != BigUnits(t))
        return M(copy ? kU2Swap : kTab);
    if (Ucs4(s) && Ucs4(t))
        return M(copy ? kU4Swap : kTab);
    if (t == RSCPK_UTF8) {
        if (!sameMinor)
            return M(kTab);
        if (Ucs2(s))
            return M(Native(s) ? kU2ToU8 : kU2swToU8);
        if (Ucs4(s))
            return M(Native(s) ? kU4ToU8 : kU4swToU8);
        return M(Native(s) ? kU6ToU8 : kU6swToU8);
    }
    if (s == RSCPK_UTF8) {
        if (!sameMinor)
            return M(kTab);
        if (Ucs2(t))
            return M(Native(t) ? kU8ToU2 : kU8ToU2sw);
        if (Ucs4(t))
            return M(Native(t) ? kU8ToU4 : kU8ToU4sw);
        return M(Native(t) ? kU8ToU6 : kU8ToU6sw);
    }
    // UCS-2 to UCS-4, UCS-4 to UCS-2 or UTF-16, UTF-16 to UCS-2 of its own
    // order or to UCS-4: through the tables.
    return TabResolving(p.outAmbiguous, RSCP_RESOLVE_TARGET);
}

}  // namespace

bool rscpMethodOfPair(const rscpPairKinds& p, rscpPairMethod* out)
{
    const uint32_t s = p.inKind, t = p.outKind;
    const bool as = p.inAmbiguous != 0, at = p.outAmbiguous != 0;
    if (s > 39 || t > 55 || uint64_t(s) * 56 + t > 2223 || !Named(s) || !Named(t) || (s == RSCPK_UTF8 && Gof(t)))
        return false;

    rscpPairMethod m = M(kTab);
    if (s == RSCPK_18030 || s == RSCPK_HK_U31 || t == RSCPK_18030 || t == RSCPK_HK_U31) {
        m = at ? M(kLTab, RSCP_RESOLVE_TARGET) : as ? M(kLTab, RSCP_RESOLVE_SOURCE) : M(kTab);
    } else if ((Wide(s) || s == RSCPK_UTF8) && (Wide(t) || t == RSCPK_UTF8)) {
        m = UnicodePair(p);
    } else if (s == RSCPK_NOT) {
        if (Utf16(t) && p.srcAscii7 && p.ctrlcodes == RSCPCTRL_TRY)
            m = M(Native(t) ? kA7ToU6 : kA7ToU6sw);
        else if (Wide(t) || t == RSCPK_UTF8)
            m = TabResolving(as, RSCP_RESOLVE_SOURCE);
        else
            m = M(kTab);
    } else if (Asian(s)) {
        if (t == RSCPK_NOT)
            m = M(kTab);
        else if (t == RSCPK_EUC || t == RSCPK_JIS)
            m = M(as ? kLMbconv : kMbconv);
        else if (t == RSCPK_KOV16)
            m = M(kMbcopy);
        else if (Wide(t) || t == RSCPK_UTF8)
            m = TabResolving(as, RSCP_RESOLVE_SOURCE);
        else
            m = M(as ? kLTab : kTab);  // Asian, generic output formats, Asian Unicode
    } else if (EucLike(s)) {
        if (t == RSCPK_NOT)
            m = M(kMbtunnel);
        else if (t == RSCPK_KOV16)
            m = M(kMbcopy);
        else if (Wide(t) || (s == RSCPK_JIS && t == RSCPK_UTF8))
            m = M(kLTab);
        else if (t == RSCPK_UTF8)
            m = M(s == RSCPK_EUC ? kTab : RSCPMETH_UNKNOWN);
        else if (t == RSCPK_EUC || t == RSCPK_JIS)
            m = M(as ? kLMbconv : kMbconv);
        else if (s == RSCPK_JIS && (t == RSCPK_SJIS || Gof(t) || t == RSCPK_SJIS_L1 || t == RSCPK_TRADICH_L1 ||
                                    t == RSCPK_SIMPLCH_L1 || t == RSCPK_COREA_L1 || t == RSCPK_ASIANUNI))
            m = M(kMbconv);
        else
            m = M(as ? kLTab : kTab);  // Asian, generic output formats, Asian Unicode
    } else if (s == RSCPK_KOV16) {
        if (t == RSCPK_KOV16)
            m = M(RSCPMETH_DIRECT);
        else if (t == RSCPK_UTF8)
            m = M(as ? kLMbs16 : kMbs16);
        else if (Asian(t) || t == RSCPK_ASIANUNI || EucLike(t))
            m = M(as ? kLMbconv : kMbconv);
        else
            m = M(kTab);  // the plain and the Unicode forms
    } else if (s == RSCPK_ASIANUNI) {
        if (t == RSCPK_EUC || t == RSCPK_JIS)
            m = M(kLMbconv);
        else if (t == RSCPK_KOV16)
            m = M(kMbcopy);
        else if (Wide(t) || t == RSCPK_UTF8)
            m = TabResolving(as, RSCP_RESOLVE_SOURCE);
        else
            m = M(as ? kLTab : kTab);
    } else {
        // A Unicode form to a table code page: UTF-8 towards a plain code
        // page and the wide forms towards anything but the Japanese
        // multi-byte forms, the target resolved when it is ambiguous.
        if (t == RSCPK_JIS || (Ucs2(s) && Gof(t)) || (Ucs4(s) && Gof(t)) ||
            (s == RSCPK_UTF8 && (t == RSCPK_EUC || t == RSCPK_KOV16)))
            m = M(kTab);
        else
            m = TabResolving(at, RSCP_RESOLVE_TARGET);
    }
    *out = m;
    return true;
}

// The arithmetic of the Unicode rules of the conversion tables: the bytes an
// output rule writes for a code point, and the well-formed prefix of a UTF-8
// sequence that an input rule reads.  Shared by the single-character encoder
// and the buffer conversion, which applies them inline.
#pragma once

#include <cstdint>

#include "krn/rscp/cptab.h"

inline uint32_t rscpGet16(const uint8_t* p, bool big)
{
    return big ? uint32_t(p[0]) << 8 | p[1] : uint32_t(p[1]) << 8 | p[0];
}

inline uint32_t rscpGet32(const uint8_t* p, bool big)
{
    return big ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
               : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

inline void rscpPut16(uint8_t* p, uint32_t v, bool big)
{
    p[big ? 0 : 1] = uint8_t(v >> 8);
    p[big ? 1 : 0] = uint8_t(v);
}

inline void rscpPut32(uint8_t* p, uint32_t v, bool big)
{
    for (int i = 0; i < 4; ++i)
        p[big ? i : 3 - i] = uint8_t(v >> (24 - 8 * i));
}

// The bytes of the output rules 10-16 (UCS-2, UCS-4, UTF-16 in both byte
// orders) and 12, 50-52 (UTF-8 of one to four bytes) into b: their number,
// 0 when the rule does not apply to the code point (an encoded surrogate, a
// value outside the form, a UTF-8 length other than the rule's), -1 for
// another rule.
inline int32_t rscpOutRuleBytes(int32_t rule, uint32_t cp, uint8_t* b)
{
    const bool scalar = cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    switch (rule) {
    case RSCP_RULE_U2H:
    case RSCP_RULE_U2L:
        if (cp > 0xFFFF)
            return 0;
        rscpPut16(b, cp, rule == RSCP_RULE_U2H);
        return 2;
    case RSCP_RULE_U4H:
    case RSCP_RULE_U4L:
        rscpPut32(b, cp, rule == RSCP_RULE_U4H);
        return 4;
    case RSCP_RULE_U8_1:
        if (cp > 0x7F)
            return 0;
        b[0] = uint8_t(cp);
        return 1;
    case RSCP_RULE_U22H:
    case RSCP_RULE_U22L:
        if (cp < 0x10000 || cp > 0x10FFFF)
            return 0;
        rscpPut16(b, ((cp - 0x10000) >> 10) + 0xD800, rule == RSCP_RULE_U22H);
        rscpPut16(b + 2, (cp & 0x3FF) + 0xDC00, rule == RSCP_RULE_U22H);
        return 4;
    case RSCP_RULE_U8_2:
    case RSCP_RULE_U8_3:
    case RSCP_RULE_U8_4: {
        const int32_t n = rule - RSCP_RULE_U8_2 + 2;
        const int32_t need = cp <= 0x7F ? 1 : cp <= 0x7FF ? 2 : cp <= 0xFFFF ? 3 : 4;
        if (!scalar || need != n)
            return 0;
        uint32_t v = cp;
        for (int32_t i = n - 1; i > 0; --i) {
            b[i] = uint8_t(0x80 | (v & 0x3F));
            v >>= 6;
        }
        b[0] = uint8_t((0xF00u >> n) | v);
        return n;
    }
    default:
        return -1;
    }
}

// How many of the available bytes at p begin a well-formed UTF-8 sequence
// (no overlong form, no encoded surrogate, nothing above U+10FFFF): the
// sequence's whole length with its code point in *cp when it is complete;
// otherwise the length of the longest prefix that could still become one
// (0 when the first byte cannot lead).  *complete tells the two apart.
inline int32_t rscpUtf8Prefix(const uint8_t* p, int64_t available, uint32_t* cp, bool* complete)
{
    *complete = false;
    if (available <= 0)
        return 0;
    const uint8_t b0 = p[0];
    if (b0 < 0x80) {
        *cp = b0;
        *complete = true;
        return 1;
    }
    int32_t n;
    uint8_t lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (b0 < 0xC2 || b0 > 0xF4)
        return 0;
    if (b0 < 0xE0) {
        n = 2;
    } else if (b0 < 0xF0) {
        n = 3;
        lo = b0 == 0xE0 ? 0xA0 : 0x80;
        hi = b0 == 0xED ? 0x9F : 0xBF;
    } else {
        n = 4;
        lo = b0 == 0xF0 ? 0x90 : 0x80;
        hi = b0 == 0xF4 ? 0x8F : 0xBF;
    }
    uint32_t v = b0 & (0x7Fu >> n);
    for (int32_t i = 1; i < n; ++i) {
        if (i >= available)
            return i;
        const uint8_t b = p[i];
        if (b < (i == 1 ? lo : 0x80) || b > (i == 1 ? hi : 0xBF))
            return i;
        v = v << 6 | (b & 0x3F);
    }
    *cp = v;
    *complete = true;
    return n;
}

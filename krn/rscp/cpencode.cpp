// Single-character conversion through the cache's tables: a code point into
// the target code page (output T2/T3 tables and output rules), a source
// character into its internal number (input T1 tables and input rules),
// missing and dropped characters, ISO-2022 designations and icon forms.
#include "krn/rscp/cpencode.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpkeys.h"
#include "krn/rscp/cprulebytes.h"
#include "krn/rscp/cptab.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

uint32_t Err(uint32_t code, uint32_t mask, int32_t line, const char* text, const char* msgid, const char* arg = nullptr,
             int32_t len = 0)
{
    return rscpe__error(code, 'C', mask, kModule, 3, line, text, msgid, arg, len, nullptr, 0);
}

[[noreturn]] void Damaged(const char* what, int32_t line, long value)
{
    std::fflush(stdout);
    std::fprintf(stderr, "\n\n%s: %s = %ld\n%s(%d): abort()\n", "rscpc", what, value, "rscpc", line);
    std::fflush(stderr);
    std::abort();
}

// ---- the output tables --------------------------------------------------------------

// What the output tables say about a character.
struct Target {
    enum { kBytes, kRule, kNotPossible } kind = kNotPossible;
    const uint8_t* bytes = nullptr;  // kBytes: the code (in `small` or in the cache)
    int32_t length = 0;
    uint8_t small[4] = {};
    int32_t rule = 0;
    uint32_t attr = 0;
    uint16_t t2 = 0;
};

Target Lookup(const rscpCcc_t* c, uint32_t piece, uint32_t cp)
{
    Target t;
    if (!rscpT2Entry(c, piece, cp >> 7, &t.t2))
        return t;
    if (rscpT2IsRulePage(t.t2)) {
        t.kind = Target::kRule;
        t.rule = int32_t(rscpT2RuleNo(t.t2));
        t.attr = rscpT2RuleAttr(t.t2);
        return t;
    }
    if (!rscpT2IsT3(t.t2))
        return t;  // no page, or a kind never produced
    uint32_t w = 0;
    if (!rscpT3Word(c, rscpT2Row(t.t2), cp & 0x7F, &w) || w == 0)
        return t;
    if (rscpT3IsRule(w)) {
        t.kind = Target::kRule;
        t.rule = int32_t(rscpT3RuleNo(w));
        t.attr = rscpT3RuleAttr(w);
        return t;
    }
    const int32_t n = int32_t(rscpT3CodeLength(w));
    if (n >= 1 && n <= 3) {
        t.small[0] = uint8_t(w >> 16);
        t.small[1] = uint8_t(w >> 8);
        t.small[2] = uint8_t(w);
        t.bytes = t.small;
    } else if (n >= 4 && n <= 126) {
        t.bytes = rscpCccBytes(c, rscpT3CodeOffset(w), uint32_t(n));
        if (t.bytes == nullptr)
            return t;
    } else {
        return t;
    }
    t.kind = Target::kBytes;
    t.length = n;
    return t;
}

// The segment of a range rule of the cache (slot = the rule's attribute), or
// NULL when the slot is not in use.
const rscpSegDesc_t* Range(const rscpCcc_t* c, uint32_t slot)
{
    const uint32_t used = c->ruleInfoCount < RSCP_RULEINFO_SLOTS ? c->ruleInfoCount : RSCP_RULEINFO_SLOTS;
    return slot < used ? &c->ruleInfo[slot].seg : nullptr;
}

}  // namespace

// The code of cp by a range rule: its length, or 0 when cp lies outside.
int32_t rscpCRangeBytes(const rscpCcc_t* c, uint32_t slot, uint32_t cp, uint8_t* b)
{
    const rscpSegDesc_t* seg = Range(c, slot);
    int32_t n = 0;
    if (seg == nullptr || cp < seg->lowIndex || rscpSegIndexToBytes(seg, cp, b, &n, 4) != 0)
        return 0;
    return n;
}

// The character of n bytes by a range rule; false when they lie outside.
bool rscpCRangeChar(const rscpCcc_t* c, uint32_t slot, const uint8_t* b, int32_t n, uint32_t* cp)
{
    const rscpSegDesc_t* seg = Range(c, slot);
    return seg != nullptr && n == seg->byteCount && rscpSegBytesToIndex(seg, cp, b, n) == 0;
}

namespace {

uint32_t NoRoom(int32_t need, int64_t room, int32_t line)
{
    char arg[48];
    std::snprintf(arg, sizeof arg, "want&%d&must&%lld&", need, static_cast<long long>(room));
    return Err(RSCPETOOLONG, RSCP_ALL_ERRORS, line, "char code longer than output buffer", "F42", arg, -1);
}

uint32_t NotPossible(uint32_t cp, int32_t line)
{
    char arg[24];
    std::snprintf(arg, sizeof arg, "&%08lx&", static_cast<unsigned long>(cp));
    return Err(RSCPENOCONV, RSCP_ALL_ERRORS, line, "character not possible", "CPP", arg, -1);
}

uint32_t Write(uint8_t** out, uint8_t* outEnd, const uint8_t* bytes, int32_t n, int32_t line)
{
    if (outEnd - *out < n)
        return NoRoom(n, outEnd - *out, line);
    std::memcpy(*out, bytes, size_t(n));
    *out += n;
    return RSCP_OK;
}

uint32_t EncodeOne(rscpCObj_t* obj, const uint8_t* outStart, uint8_t** out, uint8_t* outEnd, uint32_t cp,
                   bool substituting);

// The drop option; substituting is set while the substitute itself is
// encoded, so that a substitute that is dropped too cannot recurse.
uint32_t OnDrop(rscpCObj_t* obj, const uint8_t* outStart, uint8_t** out, uint8_t* outEnd, int32_t* status,
                bool substituting)
{
    uint32_t cp;
    switch (obj->on_drop) {
    case RSCPDROP_STOP:
        *status = RSCP_ST_STOP;
        return RSCP_OK;
    case RSCPDROP_REMOVE:
        *status = RSCP_ST_DONE;
        return RSCP_OK;
    case RSCPDROP_LIKE_MISS: {
        const uint32_t rc = rscpCReactivateIfNeeded(obj);
        if (rc != 0) {
            *status = RSCP_ST_NOT_HANDLED;
            return rc;
        }
        cp = obj->subst_code_U4;
        break;
    }
    case RSCPDROP_SPACE:
        cp = 0x20;
        break;
    default:
        *status = RSCP_ST_NOT_HANDLED;
        return Err(RSCPEINVAL, RSCP_ALL_ERRORS, __LINE__, "illegal drop option", "F38");
    }
    if (substituting) {
        *status = RSCP_ST_NOT_HANDLED;
        return NotPossible(cp, __LINE__);
    }
    const uint32_t rc = EncodeOne(obj, outStart, out, outEnd, cp, true);
    if (rc == 0) {
        ++obj->noof_subst;
        *status = RSCP_ST_DONE;
    } else {
        *status = rc == RSCPETOOLONG ? RSCP_ST_NO_ROOM : RSCP_ST_NOT_HANDLED;
    }
    return rc;
}

uint32_t EncodeOne(rscpCObj_t* obj, const uint8_t* outStart, uint8_t** out, uint8_t* outEnd, uint32_t cp,
                   bool substituting)
{
    const rscpCcc_t* c = rscpmp;
    if (c == nullptr)
        return Err(RSCPENOCONV, RSCP_ALL_ERRORS, __LINE__, "CCC not proper initialized", "F34");
    if (cp > c->maxKovChar) {
        char arg[48];
        std::snprintf(arg, sizeof arg, "UChar %08lx > %08lx (uchar_max)", static_cast<unsigned long>(cp),
                      static_cast<unsigned long>(c->maxKovChar));
        return Err(RSCPENOCONV, RSCP_ALL_ERRORS, __LINE__, "character number out of range", "F40", arg, -1);
    }
    const Target t = Lookup(c, obj->out_no, cp);
    if (t.kind == Target::kNotPossible)
        return NotPossible(cp, __LINE__);
    if (t.kind == Target::kBytes)
        return Write(out, outEnd, t.bytes, t.length, __LINE__);

    uint8_t b[12];
    switch (t.rule) {
    case RSCP_RULE_U2H:
    case RSCP_RULE_U4H:
    case RSCP_RULE_U8_1:
    case RSCP_RULE_U22H:
    case RSCP_RULE_U2L:
    case RSCP_RULE_U4L:
    case RSCP_RULE_U22L:
    case RSCP_RULE_U8_2:
    case RSCP_RULE_U8_3:
    case RSCP_RULE_U8_4: {
        const int32_t n = rscpOutRuleBytes(t.rule, cp, b);
        if (n == 0)
            return NotPossible(cp, __LINE__);
        return Write(out, outEnd, b, n, __LINE__);
    }
    case RSCP_RULE_RANGE: {
        const int32_t n = rscpCRangeBytes(c, t.attr, cp, b);
        if (n == 0)
            return NotPossible(cp, __LINE__);
        return Write(out, outEnd, b, n, __LINE__);
    }
    case RSCP_RULE_ICON16H:
    case RSCP_RULE_ICON16L:
    case RSCP_RULE_ICON8:
    case RSCP_RULE_ICON32H:
    case RSCP_RULE_ICON32L: {
        int32_t status = 0;
        uint8_t* before = *out;
        rscpCWriteIcon(cp, t.rule, out, outEnd, &status);
        return status == 0 ? RSCP_OK : NoRoom(12, outEnd - before, __LINE__);
    }
    case RSCP_RULE_DROP: {
        int32_t status = 0;
        uint8_t* before = *out;
        const uint32_t rc = OnDrop(obj, outStart, out, outEnd, &status, substituting);
        if (status == RSCP_ST_DONE)
            return RSCP_OK;
        *out = before;
        if (status == RSCP_ST_NO_ROOM)
            return RSCPETOOLONG;
        return rc != 0 ? rc : NotPossible(cp, __LINE__);
    }
    default:
        if (t.rule >= 58 && t.rule <= 67)
            return rscp2022Designate2(obj, outStart, out, outEnd, t.rule, t.attr);
        if (t.rule >= 73 && t.rule <= 82)
            return rscp2022Designate(obj, outStart, out, outEnd, t.rule, t.attr);
        break;
    }
    // A rule the library does not write: the tables are damaged.
    std::fflush(stdout);
    std::fprintf(stderr, "\n\n%s: t2_tabp = %p\n", "rscpc", static_cast<const void*>(rscpCccBytes(c, obj->out_no, 2)));
    std::fprintf(stderr, "%s: t2_ent  = %04lx\n", "rscpc", static_cast<unsigned long>(t.t2));
    std::fprintf(stderr, "%s: rule id = %d\n", "rscpc", t.rule);
    std::fprintf(stderr, "%s: free T1..T2 = %ld\n", "rscpc", static_cast<long>(c->firstT2) - long(c->endT1));
    Damaged("rule", __LINE__, t.rule);
}

// ---- ISO-2022 designations ------------------------------------------------------------------

uint32_t Designate(rscpCObj_t* obj, const uint8_t* outStart, uint8_t** out, uint8_t* outEnd, int32_t row,
                   const uint8_t* ch, int32_t chLen)
{
    const rscpCcc_t* c = rscpmp;
    const int32_t rows = c == nullptr ? 0 : c->soSiCount < RSCP_SOSI_MAX ? c->soSiCount : RSCP_SOSI_MAX;
    auto usable = [&](int32_t r) { return r >= 0 && r < rows && c->soSi[r].soLen <= 10 && c->soSi[r].siLen <= 10; };
    if (!usable(row)) {
        char arg[16];
        std::snprintf(arg, sizeof arg, "%d&", row);
        return Err(RSCPENOCONV, RSCP_ALL_ERRORS, __LINE__, "ISO-2022 designation unknown", "CQ4", arg, -1);
    }
    const rscpSoSi_t& set = c->soSi[row];
    // A character of the set used last directly after that set's return
    // sequence goes in front of it; another set's designation replaces it.
    uint8_t* at = *out;
    bool designate = true;
    const int32_t last = int32_t(obj->iso2022 >> 24 & 0xF) - 1;
    if (last >= 0 && usable(last)) {
        const rscpSoSi_t& prev = c->soSi[last];
        if (prev.siLen > 0 && *out - outStart >= prev.siLen &&
            std::memcmp(*out - prev.siLen, prev.si, prev.siLen) == 0) {
            at = *out - prev.siLen;
            designate = last != row;
        }
    }
    const int32_t need = (designate ? set.soLen : 0) + chLen + set.siLen;
    if (outEnd - at < need)
        return NoRoom(need, outEnd - at, __LINE__);
    uint8_t* p = at;
    if (designate) {
        std::memcpy(p, set.so, set.soLen);
        p += set.soLen;
    }
    std::memcpy(p, ch, size_t(chLen));
    p += chLen;
    std::memcpy(p, set.si, set.siLen);
    *out = p + set.siLen;
    obj->iso2022 = (obj->iso2022 & ~RSCP_2022_OUT_SHIFT) | uint32_t(row + 1) << 24;
    return RSCP_OK;
}

// ---- input rules ------------------------------------------------------------------------------

// Bytes an input rule reads; 0 for rules decoded elsewhere.
int32_t InRuleLength(int32_t rule, uint32_t entry)
{
    switch (rule) {
    case RSCP_RULE_U2H:
    case RSCP_RULE_U2L:
        return 2;
    case RSCP_RULE_U4H:
    case RSCP_RULE_U4L:
    case RSCP_RULE_U22H:
    case RSCP_RULE_U22L:
        return 4;
    case RSCP_RULE_U8_1:
        return 1;
    case RSCP_RULE_U8_2:
    case RSCP_RULE_U8_3:
    case RSCP_RULE_U8_4:
        return rule - RSCP_RULE_U8_2 + 2;
    case RSCP_RULE_ICON16H:
    case RSCP_RULE_ICON16L:
        return 6;
    case RSCP_RULE_ICON8:
        return 5;
    case RSCP_RULE_ICON32H:
    case RSCP_RULE_ICON32L:
        return 12;
    default:
        return int32_t(rscpT1Length(entry));
    }
}

enum Decoded { kChar, kShift, kInvalid, kUnknownRule };

// The code point of the n bytes at p by an input rule.
Decoded DecodeInRule(int32_t rule, uint32_t attr, const uint8_t* p, int32_t n, uint32_t* cp)
{
    switch (rule) {
    case RSCP_RULE_U2H:
    case RSCP_RULE_U2L:
        *cp = rscpGet16(p, rule == RSCP_RULE_U2H);
        return kChar;
    case RSCP_RULE_U4H:
    case RSCP_RULE_U4L:
        *cp = rscpGet32(p, rule == RSCP_RULE_U4H);
        return *cp <= 0x7FFFFFFF ? kChar : kInvalid;
    case RSCP_RULE_U8_1:
        *cp = p[0];
        return p[0] < 0x80 ? kChar : kInvalid;
    case RSCP_RULE_U22H:
    case RSCP_RULE_U22L: {
        const uint32_t hi = rscpGet16(p, rule == RSCP_RULE_U22H), lo = rscpGet16(p + 2, rule == RSCP_RULE_U22H);
        if (hi < 0xD800 || hi > 0xDBFF || lo < 0xDC00 || lo > 0xDFFF)
            return kInvalid;
        *cp = (hi << 10) + lo - 0x35FDC00;
        return kChar;
    }
    case RSCP_RULE_U8_2:
    case RSCP_RULE_U8_3:
    case RSCP_RULE_U8_4: {
        // Well-formed only: no overlong form, surrogate or value above U+10FFFF.
        bool complete = false;
        return rscpUtf8Prefix(p, n, cp, &complete) == n && complete ? kChar : kInvalid;
    }
    case RSCP_RULE_ICON16H:
    case RSCP_RULE_ICON16L:
    case RSCP_RULE_ICON8:
    case RSCP_RULE_ICON32H:
    case RSCP_RULE_ICON32L: {
        // The key symbols of the icon form.
        const int32_t pos[5][2] = {{3, 5}, {2, 4}, {3, 4}, {7, 11}, {4, 8}};
        const int32_t* k = pos[rule - RSCP_RULE_ICON16H];
        *cp = rscpKey2ToNumber(char(p[k[0]]), char(p[k[1]]));
        return *cp != 0 ? kChar : kInvalid;
    }
    case RSCP_RULE_RANGE:
        return rscpmp != nullptr && rscpCRangeChar(rscpmp, attr, p, n, cp) ? kChar : kInvalid;
    case RSCP_RULE_2022_SWITCH:
        *cp = attr;
        return kShift;
    default:
        return kUnknownRule;
    }
}

}  // namespace

// ---- public entries -------------------------------------------------------------------------------

uint32_t rscpCEncodeOneAt(rscpCObj_t* obj, const uint8_t* outStart, uint8_t** out, uint8_t* outEnd, uint32_t cp)
{
    if (obj == nullptr || out == nullptr || *out == nullptr || outEnd == nullptr)
        return Err(RSCPEINVAL, RSCP_ALL_ERRORS, __LINE__, "missing converter object address", "F38");
    if (outStart == nullptr || outStart > *out)
        outStart = *out;
    return EncodeOne(obj, outStart, out, outEnd, cp, false);
}

uint32_t rscpCEncodeOne(rscpCObj_t* obj, uint8_t** out, uint8_t* outEnd, uint32_t cp)
{
    return rscpCEncodeOneAt(obj, out != nullptr ? *out : nullptr, out, outEnd, cp);
}

uint32_t rscpCEncodeU4(rscpCObj_t* obj, uint8_t** out, uint8_t* outEnd, uint32_t cp)
{
    if (obj == nullptr)
        return Err(RSCPEINVAL, RSCP_ALL_ERRORS, __LINE__, "missing converter object address", "F38");
    uint32_t rc = rscpCccReady(__LINE__);
    if (rc != 0)
        return rc;
    rc = rscpCReactivateIfNeeded(obj);
    if (rc != 0)
        return rc;
    uint8_t* before = out != nullptr ? *out : nullptr;
    rc = rscpCEncodeOne(obj, out, outEnd, cp);
    rscpCtlRecord_t* ctl = rscph_HookTable.ctl;
    ++ctl->encodeCalls;
    if (rc == 0)
        ctl->encodeBytes += uint32_t(*out - before);
    return rc;
}

uint32_t rscpCEncodeCharNo(rscpCObj_t* obj, uint8_t** out, uint8_t* outEnd, uint32_t charNo)
{
    if (obj == nullptr)
        return Err(RSCPENOCONV, RSCP_ALL_ERRORS, __LINE__, "missing char code param", "F38");
    uint32_t cp = 0;
    const uint32_t rc = rscpCharNoToUnicodeChecked(&cp, charNo);
    if (rc != 0)
        return rc;
    return rscpCEncodeU4(obj, out, outEnd, cp);
}

uint32_t rscpCEncodeCharNoLen(uint8_t* buffer, int32_t* length, int32_t capacity, uint32_t charNo, rscpCObj_t* obj)
{
    if (buffer == nullptr || length == nullptr || *length < 0 || capacity < *length)
        return Err(RSCPEINVAL, RSCP_ALL_ERRORS, __LINE__, "missing parameter", "F38");
    uint8_t* out = buffer + *length;
    const uint32_t rc = rscpCEncodeCharNo(obj, &out, buffer + capacity, charNo);
    *length = int32_t(out - buffer);
    return rc;
}

uint32_t rscpCOnDrop(rscpCObj_t* obj, uint8_t** out, uint8_t* outEnd, int32_t* status)
{
    int32_t st = RSCP_ST_NOT_HANDLED;
    uint8_t* before = *out;
    const uint32_t rc = OnDrop(obj, *out, out, outEnd, &st, false);
    if (st != RSCP_ST_DONE)
        *out = before;
    if (status != nullptr)
        *status = st;
    return rc;
}

uint32_t rscpCOnMissing(rscpCObj_t* obj, uint8_t** out, uint8_t* outEnd, const uint8_t* inStart, const uint8_t* inEnd,
                        int32_t* status)
{
    uint8_t* const before = *out;
    const int64_t inLen = inEnd > inStart ? inEnd - inStart : 0;
    uint32_t rc = RSCP_OK;
    int32_t st = RSCP_ST_DONE;
    if (!obj->use_c_subst) {
        if (!obj->use_1_copy) {
            st = RSCP_ST_NOT_HANDLED;
        } else if (outEnd - *out < inLen) {
            st = RSCP_ST_NO_ROOM;
        } else {
            std::memcpy(*out, inStart, size_t(inLen));
            *out += inLen;
            ++obj->noof_subst;
        }
    } else if ((rc = rscpCReactivateIfNeeded(obj)) != 0) {
        st = RSCP_ST_STOP;
    } else {
        rc = EncodeOne(obj, before, out, outEnd, obj->subst_code_U4, true);
        if (rc == 0)
            ++obj->noof_subst;
        else
            st = rc == RSCPETOOLONG ? RSCP_ST_NO_ROOM : RSCP_ST_STOP;
    }
    if (st != RSCP_ST_DONE)
        *out = before;
    if (status != nullptr)
        *status = st;
    return rc;
}

uint32_t rscp2022Designate(rscpCObj_t* obj, const uint8_t* outStart, uint8_t** out, uint8_t* outEnd, int32_t rule,
                           uint32_t character)
{
    const uint8_t ch[1] = {uint8_t(character)};
    return Designate(obj, outStart, out, outEnd, rule - 73, ch, 1);
}

uint32_t rscp2022Designate2(rscpCObj_t* obj, const uint8_t* outStart, uint8_t** out, uint8_t* outEnd, int32_t rule,
                            uint32_t character)
{
    const uint8_t ch[2] = {uint8_t(character >> 8), uint8_t(character)};
    return Designate(obj, outStart, out, outEnd, rule - 58, ch, 2);
}

void rscpCWriteIcon(uint32_t cp, int32_t rule, uint8_t** out, uint8_t* outEnd, int32_t* status)
{
    if (cp < RSCP_OWN_BASE || cp >= RSCP_OWN_BASE + RSCP_OWN_KEYS || rule < RSCP_RULE_ICON16H ||
        rule > RSCP_RULE_ICON32L) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s(%d;%d): abort()\n", "rscpc", __LINE__, rule);
        std::fflush(stderr);
        std::abort();
    }
    const uint8_t* f = rscpNumberToKey2(cp);  // F8 FD 00 s1 00 s2
    uint8_t b[12];
    int32_t n = 0;
    switch (rule) {
    case RSCP_RULE_ICON16H:
        std::memcpy(b, f, 6);
        n = 6;
        break;
    case RSCP_RULE_ICON16L:
        for (int i = 0; i < 6; i += 2) {
            b[i] = f[i + 1];
            b[i + 1] = f[i];
        }
        n = 6;
        break;
    case RSCP_RULE_ICON8:
        b[0] = 0xEF, b[1] = 0xA3, b[2] = 0xBD, b[3] = f[3], b[4] = f[5];
        n = 5;
        break;
    default:
        for (int i = 0; i < 3; ++i) {
            const uint8_t hi = f[2 * i], lo = f[2 * i + 1];
            const uint8_t unit[4] = {0, 0, hi, lo}, swapped[4] = {lo, hi, 0, 0};
            std::memcpy(b + 4 * i, rule == RSCP_RULE_ICON32H ? unit : swapped, 4);
        }
        n = 12;
        break;
    }
    if (outEnd - *out < n) {
        *status = 1;
        return;
    }
    std::memcpy(*out, b, size_t(n));
    *out += n;
    *status = 0;
}

uint32_t rscpCDecodeChar(const uint8_t* in, int32_t avail, rscpCObj_t* obj, uint32_t* charNo, uint32_t mask)
{
    if (obj == nullptr || charNo == nullptr)
        return Err(RSCPENOCONV, mask, __LINE__, "missing char code param", "F38");
    if (in == nullptr || avail < 0)
        avail = 0;
    if (obj->in_set && rscpmp != nullptr && obj->timestamp != rscpmp->reorgVersion) {
        const int32_t method = obj->method;
        const uint32_t rc = rscpCActivateSides(obj, 0, 1, 0, mask);
        obj->method = method;
        if (rc != 0)
            return rc;
    }
    // The character's length.
    int32_t len;
    if (!obj->in_set && MB_CUR_MAX > 1)
        len = avail > 0 ? std::mblen(reinterpret_cast<const char*>(in), size_t(avail < 2 ? avail : 2)) : 0;
    else if (rscpMaxCharLenOfKind(obj->in_major) == 0)
        len = avail > 0 ? 1 : 0;  // a single-byte kind
    else
        len = int32_t(rscpLengthOfMBChar(in, avail, obj->in_major));
    if (len <= 0 || len > avail) {
        char detail[48];
        rscpHexField(detail, in, avail < 10 ? avail : 10);
        return Err(RSCPEUNIQ, mask, __LINE__, "input character broken", "F43", detail, -1);
    }
    // Through the input tables: the code of len bytes must end in a character.
    const rscpCcc_t* c = rscpmp;
    uint32_t cp = 0;
    bool found = false;
    if (obj->in_set && c != nullptr) {
        // The code page's own input table: in_no may be a shortcut whose
        // entries hold target bytes instead of characters.
        const rscpCpInfo_t* row = rscpFindCodePage(obj->use_other_in ? obj->used_incode : obj->incode);
        const int v = (obj->ctrlcodes == RSCPCTRL_TRY ? 1 : 0) | (obj->ownCh == RSCPOWN_TRY ? 2 : 0);
        uint32_t block = row != nullptr && row->in[v].root != 0 ? row->in[v].root : obj->in_no, w = 0;
        for (int32_t i = 0; i < len && rscpT1Word(c, block, in[i], &w); ++i) {
            const uint32_t kind = rscpT1Kind(w);
            if (kind == RSCP_T1_CHAR) {
                const uint32_t clen = rscpT1Length(w);
                found = i == len - 1 || clen == uint32_t(len);
                cp = rscpT1Char(w);
                break;
            }
            if (kind == RSCP_T1_RULE) {
                const int32_t rule = int32_t(rscpT1RuleNo(w));
                uint32_t ch = 0;
                if (InRuleLength(rule, w) == len && DecodeInRule(rule, rscpT1RuleAttr(w), in, len, &ch) == kChar) {
                    cp = ch;
                    found = true;
                }
                break;
            }
            if (kind != RSCP_T1_NEXT)
                break;
            block = w & 0xFFFF;
            if (i == len - 1) {
                // The code also begins longer ones: its character sits in
                // word 256 of the block it leads to.
                uint32_t end = 0;
                if (rscpT1Word(c, block, 256, &end) && rscpT1Kind(end) == RSCP_T1_CHAR &&
                    rscpT1Length(end) == uint32_t(len)) {
                    cp = rscpT1Char(end);
                    found = true;
                }
            }
        }
    }
    uint16_t no = 0;
    if (!found || rscpUnicodeToCharNo(&no, cp) != 0) {
        char detail[48];
        rscpHexField(detail, in, len);
        return Err(RSCPENOCONV, mask, __LINE__, "character unknown", "F43", detail, -1);
    }
    *charNo = no;
    return RSCP_OK;
}

int32_t rscpCConvertByRules(rscpCObj_t* obj, const uint8_t** src, const uint8_t* srcEnd, const uint8_t* dstStart,
                            uint8_t** dst, uint8_t* dstEnd, uint32_t entry, uint32_t* rc)
{
    *rc = RSCP_OK;
    if (rscpT1Kind(entry) != RSCP_T1_RULE)
        return 4;
    const int32_t rule = int32_t(rscpT1RuleNo(entry));
    const int32_t n = InRuleLength(rule, entry);
    if (n <= 0 || n > 126)
        Damaged("in rule length", __LINE__, n);
    if (srcEnd - *src < n)
        return 2;
    uint32_t cp = 0;
    switch (DecodeInRule(rule, rscpT1RuleAttr(entry), *src, n, &cp)) {
    case kShift:
        obj->iso2022 = (obj->iso2022 & ~RSCP_2022_IN_SHIFT) | (cp & 0xF) << 10;
        *src += n;
        return 0;
    case kInvalid:
        return 4;
    case kUnknownRule:
        Damaged("in rule", __LINE__, rule);
    case kChar:
        break;
    }
    const uint32_t r = rscpCEncodeOneAt(obj, dstStart, dst, dstEnd, cp);
    if (r == 0) {
        *src += n;
        return 0;
    }
    if (r == RSCPETOOLONG)
        return 1;
    if (r == RSCPENOCONV)
        return 4;
    *rc = r;
    return 3;
}

// The rules of the code page store: Unicode encoding forms (UTF-8 per lead
// byte and per page), the library's own characters, key ranges, multi-byte
// range rules and the ISO-2022 shift rules, entered into the tables of the
// variant being loaded.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cpencode.h"
#include "krn/rscp/cpinfo.h"
#include "krn/rscp/cpjis.h"
#include "krn/rscp/cpkeys.h"
#include "krn/rscp/cpload.h"
#include "krn/rscp/cprulebytes.h"
#include "krn/rscp/cpstore.h"
#include "krn/rscp/cptable.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: rscpdl#1 $";

uint32_t Error(uint32_t code, int32_t location, int32_t line, const char* text, const char* msgid,
               const char* arg1 = nullptr, int32_t len1 = -1)
{
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, location, line, text, msgid, arg1,
                        arg1 != nullptr ? len1 : 0, nullptr, 0);
}

struct Range {
    uint32_t first, last;
};

// ---- input: rules entered with the first-free flag ----------------------------------

// Enters one rule for a run of codes.  Once the root slot of a first byte
// holds this rule, a character or a rule that stays, every further code that
// begins with that byte would leave the tables as they are: it is skipped
// (unless every code is to be entered one by one).
class InRuleRun {
public:
    InRuleRun(const rscpLoad_t& l, uint32_t rule, uint32_t attr, bool enumerate)
        : l_(l),
          rule_(rule),
          attr_(attr),
          enumerate_(enumerate)
    {
    }
    bool Settled(uint8_t lead) const { return !enumerate_ && settled_[lead]; }
    bool AllSettled() const { return !enumerate_ && settledCount_ == 256; }
    uint32_t Enter(int32_t length, const uint8_t* code)
    {
        if (Settled(code[0]))
            return 0;
        const uint32_t rc = rscpeir__enter_in_rule(l_.t1, "TCPSRULE", l_.copyMode, rule_, attr_, length, code,
                                                   l_.overwriteIn, 1, -1);
        const uint32_t w = rscpmlT1(l_.t1)[code[0]];
        const uint32_t want = rscpT1RuleWord(rule_, attr_, 0) & 0x7FFFF;
        if (rc == 0 && (rscpT1Kind(w) == RSCP_T1_CHAR ||
                        (rscpT1Kind(w) == RSCP_T1_RULE && ((w & 0x7FFFF) == want || l_.overwriteIn != 1)))) {
            settledCount_ += settled_[code[0]] ? 0 : 1;
            settled_[code[0]] = true;
        }
        return rc;
    }

private:
    const rscpLoad_t& l_;
    uint32_t rule_, attr_;
    bool enumerate_;
    bool settled_[256] = {};
    uint32_t settledCount_ = 0;
};

// ---- output: rules with an explicit code where they conflict --------------------------

// Enters the output rule of one character; on a conflict the explicit code
// (length 0: none).  128 (beyond the table) counts as skipped.
uint32_t OutRuleChar(const rscpLoad_t& l, uint32_t ch, uint32_t rule, uint32_t attr, int32_t length,
                     const uint8_t* code)
{
    uint32_t rc = rscpeor__enter_out_rule(l.t2, "TCPSRULE", ch, rule, attr, l.overwriteOut, l.copyMode);
    if (rc == RSCPEUNIQ) {
        const int32_t overwrite = l.overwriteOut == 1 ? 3 : l.overwriteOut;
        if (length == 0)
            rc = 0;
        else if (rule == RSCP_RULE_U8_1)
            rc = rscpeo1__enter_out_1code(l.t2, "TCPSRULE", ch, code[0], overwrite, l.copyMode);
        else if (length <= 4)
            rc = rscpeo4__enter_out_4code(l.t2, "TCPSRULE", ch, length, code, overwrite, l.copyMode);
        else
            rc = rscpeo126__enter_out_126code(l.t2, "TCPSRULE", ch, length, code, overwrite, l.copyMode);
    }
    return rc == RSCPENOOBJ ? 0 : rc;
}

// An empty page that one rule covers completely, entered as its 128
// characters one by one would leave it: a T3 block is taken and, unless a
// freed block is pending (or the attribute does not fit a rule page), given
// back at once for a rule page.  false when the page is not empty.
bool RulePage(const rscpLoad_t& l, uint32_t page, uint32_t rule, uint32_t attr, uint32_t* rc)
{
    rscpCcc_t* c = rscpmp;
    *rc = 0;
    if (l.t2 < c->firstT2 || uint64_t(l.t2) + rscpmlT2Size() > c->endT2 || page >= rscpmlT2Size() / 4)
        return false;
    uint16_t& entry = rscpmlT2(l.t2)[page];
    if (attr < 64 && entry == rscpT2RulePage(rule, attr))
        return true;
    if (entry != 0)
        return false;
    uint32_t block = 0;
    if (rscpmlAllocT3(&block) != 0 || block > 0x7FFF) {
        *rc = RSCPETOOLONG;
        return true;
    }
    if (c->freeT3 == 0 && attr < 64) {
        entry = rscpT2RulePage(rule, attr);
        --c->noofT3;
        c->freeT3 = block;
    } else {
        std::fill(rscpmlT3(block), rscpmlT3(block) + 128, rscpT3RuleWord(rule, attr));
        entry = static_cast<uint16_t>(0x8000u | block);
    }
    return true;
}

// Enters the output rule for the characters first..last that pass the
// filter; code(ch, bytes) gives the explicit code of a character.
template <class Code>
uint32_t OutRuleRange(const rscpLoad_t& l, uint32_t first, uint32_t last, uint32_t rule, uint32_t attr, bool filter,
                      bool enumerate, uint32_t* handled, Code code)
{
    uint8_t bytes[16];
    for (uint64_t c = first; c <= last;) {
        const uint32_t ch = static_cast<uint32_t>(c);
        if (filter && !rscpSelects(l.selector, ch)) {
            ++c;
            continue;
        }
        uint32_t rc = 0;
        if (!enumerate && ch % 128 == 0 && c + 127 <= last && RulePage(l, ch / 128, rule, attr, &rc)) {
            if (rc != 0)
                return rc;
            *handled += 128;
            c += 128;
            continue;
        }
        rc = OutRuleChar(l, ch, rule, attr, code(ch, bytes), bytes);
        if (rc != 0)
            return rc;
        ++*handled;
        ++c;
    }
    return 0;
}

// The two lines of an output rule that failed: the rule counts as done.
uint32_t IgnoredOutputFailure(uint32_t type, const char* w1, int32_t l1, const char* w2, int32_t l2, uint32_t rc,
                              int32_t line)
{
    rscpErrorOut("rscpdl.c(%d): rule %d(%.*s,%.*s)", static_cast<int>(line), static_cast<int>(type),
                 static_cast<int>(l1), w1, static_cast<int>(l2), w2);
    rscpErrorOut("rscpdl.c(%d): l_rc == %d but ignored.", static_cast<int>(line), static_cast<int>(rc));
    return 0;
}

// ---- Unicode encoding forms -------------------------------------------------------------

// The characters of the 16- and 32-bit forms: the controls left to segments
// of their own, no surrogates.  The noncharacters (U+FDD0-U+FDEF and the
// last two of every plane) are scalar values like any other: the forms and
// the UTF-8 rule carry them.
const Range kBasic[] = {{0x20, 0x7E}, {0xA0, 0xD7FF}, {0xE000, 0xFFFF}};
const Range kSupplementary[] = {{0x10000, 0x10FFFF}};

// One part of a form: its characters get one rule, whose code the rule's
// arithmetic gives; run gives the last character whose code has the same
// first byte.
struct FormPart {
    const Range* ranges;
    int count;
    uint32_t rule;
    uint32_t (*run)(uint32_t c);
};

// The code of a character under one of the Unicode rules.
struct RuleCode {
    uint32_t rule;
    int32_t operator()(uint32_t c, uint8_t* b) const { return rscpOutRuleBytes(int32_t(rule), c, b); }
};

uint32_t RunOne(uint32_t c)
{
    return c;
}
uint32_t RunHigh8(uint32_t c)
{
    return c | 0xFF;
}
uint32_t RunHigh24(uint32_t c)
{
    return c | 0xFFFFFF;
}
uint32_t RunSurrogateHigh(uint32_t c)
{
    return 0x10000 + ((c - 0x10000) | 0x3FFFF);
}
uint32_t RunSurrogateLow(uint32_t c)
{
    return 0x10000 + ((c - 0x10000) | 0x3FF);
}

uint32_t EnterFormPart(const rscpLoad_t& l, const FormPart& p, uint32_t* handled)
{
    uint8_t code[4];
    if (rscpLoadOutput(l)) {
        for (int i = 0; i < p.count; ++i) {
            const uint32_t rc = OutRuleRange(l, p.ranges[i].first, p.ranges[i].last, p.rule, 0, false, false, handled,
                                             RuleCode{p.rule});
            if (rc != 0)
                return rc;
        }
        return 0;
    }
    InRuleRun run(l, p.rule, 0, false);
    for (int i = 0; i < p.count; ++i) {
        for (uint64_t c = p.ranges[i].first; c <= p.ranges[i].last;) {
            if (run.AllSettled()) {
                *handled += static_cast<uint32_t>(p.ranges[i].last - c + 1);
                break;
            }
            const int32_t length = RuleCode{p.rule}(static_cast<uint32_t>(c), code);
            if (run.Settled(code[0])) {
                const uint64_t end = std::min<uint64_t>(p.run(static_cast<uint32_t>(c)), p.ranges[i].last);
                *handled += static_cast<uint32_t>(end - c + 1);
                c = end + 1;
                continue;
            }
            const uint32_t rc = run.Enter(length, code);
            if (rc != 0)
                return rc;
            ++*handled;
            ++c;
        }
    }
    return 0;
}

uint32_t Characters(const Range* ranges, int count)
{
    uint32_t n = 0;
    for (int i = 0; i < count; ++i)
        n += ranges[i].last - ranges[i].first + 1;
    return n;
}

// Little-endian UTF-16 input.  The first byte of a unit is its low byte and
// tells nothing; the second tells a high surrogate (a pair follows) from a
// unit of the basic plane.  So every free first byte continues in one block
// of second bytes, shared by all of them: rule 14 for a unit of the basic
// plane, rule 16 for a high surrogate, nothing for a low surrogate alone.  A
// first byte that leads to a block of its own gets the same entries there
// where they are free; one that holds a character or a rule keeps it.
//
// Sharing is safe as long as nothing is entered beneath the block later in
// the same load: the variants that add control codes or own characters copy
// a block before they change it.
uint32_t LittleEndianPairsIn(const rscpLoad_t& l, uint32_t* handled)
{
    uint32_t shared = 0;
    for (uint32_t b0 = 0; b0 < 256; ++b0) {
        uint32_t* slot = rscpmlT1(l.t1) + b0;
        const bool free = *slot == 0;
        if (free && shared != 0) {
            *slot = rscpT1NextWord(shared);
            continue;
        }
        if (!free && rscpT1Kind(*slot) != RSCP_T1_NEXT)
            continue;
        if (free && rscpn1__next_t1(slot, l.copyMode, 1) == 0)
            return RSCPETOOLONG;
        for (uint32_t b1 = 0; b1 < 256; ++b1) {
            if (b1 >= 0xDC && b1 <= 0xDF)
                continue;
            const bool high = b1 >= 0xD8 && b1 <= 0xDB;
            const uint8_t code[4] = {uint8_t(b0), uint8_t(b1), 0x00, 0xDC};
            const uint32_t rule = high ? RSCP_RULE_U22L : RSCP_RULE_U2L;
            const uint32_t rc = rscpeir__enter_in_rule(l.t1, "TCPSRULE", l.copyMode, rule, 0, high ? 4 : 2, code,
                                                       l.overwriteIn, 1, -1);
            if (rc != 0)
                return rc;
        }
        if (free)
            shared = *slot & 0xFFFF;
    }
    *handled += Characters(kBasic, int(std::size(kBasic))) + Characters(kSupplementary, 1);
    return 0;
}

uint32_t EncodingForm(uint32_t type, const rscpLoad_t& l, uint32_t* handled)
{
    if (type == RSCP_RULE_U22L && !rscpLoadOutput(l))
        return LittleEndianPairsIn(l, handled);
    const int nb = int(std::size(kBasic)), ns = int(std::size(kSupplementary));
    FormPart parts[2];
    int n = 1;
    switch (type) {
    case RSCP_RULE_U2H:
        parts[0] = {kBasic, nb, RSCP_RULE_U2H, RunHigh8};
        break;
    case RSCP_RULE_U2L:
        parts[0] = {kBasic, nb, RSCP_RULE_U2L, RunOne};
        break;
    case RSCP_RULE_U4H:
        parts[0] = {kBasic, nb, RSCP_RULE_U4H, RunHigh24};
        parts[1] = {kSupplementary, ns, RSCP_RULE_U4H, RunHigh24};
        n = 2;
        break;
    case RSCP_RULE_U4L:
        parts[0] = {kBasic, nb, RSCP_RULE_U4L, RunOne};
        parts[1] = {kSupplementary, ns, RSCP_RULE_U4L, RunOne};
        n = 2;
        break;
    case RSCP_RULE_U22H:
        parts[0] = {kBasic, nb, RSCP_RULE_U2H, RunHigh8};
        parts[1] = {kSupplementary, ns, RSCP_RULE_U22H, RunSurrogateHigh};
        n = 2;
        break;
    default:  // RSCP_RULE_U22L
        parts[0] = {kBasic, nb, RSCP_RULE_U2L, RunOne};
        parts[1] = {kSupplementary, ns, RSCP_RULE_U22L, RunSurrogateLow};
        n = 2;
        break;
    }
    for (int i = 0; i < n; ++i) {
        const uint32_t rc = EnterFormPart(l, parts[i], handled);
        if (rc != 0)
            return rc;
    }
    return 0;
}

// ---- own characters --------------------------------------------------------------------

// Own characters as the encoding forms carry them: the icon introducer in the
// rule's byte order, then the two key symbols in code units of the form.
uint32_t OwnCharacters(uint32_t type, const rscpLoad_t& l, uint32_t* handled)
{
    const uint8_t* icon = rscpPua.icon2Bytes;
    InRuleRun run(l, type, 0, false);
    rscpKeyEnum_t keys;
    rscpenKey2Init(&keys);
    uint32_t number = 0;
    char key[2];
    while (rscpenKey2Next(&keys, &number, key)) {
        const uint8_t s1 = static_cast<uint8_t>(key[0]), s2 = static_cast<uint8_t>(key[1]);
        uint8_t code[12] = {};
        int32_t length = 0;
        switch (type) {
        case RSCP_RULE_ICON16H: {
            const uint8_t c[] = {icon[0], icon[1], 0, s1, 0, s2};
            std::memcpy(code, c, length = 6);
            break;
        }
        case RSCP_RULE_ICON16L: {
            const uint8_t c[] = {icon[1], icon[0], s1, 0, s2, 0};
            std::memcpy(code, c, length = 6);
            break;
        }
        case RSCP_RULE_ICON8: {
            const uint8_t c[] = {rscpPua.icon2Utf8[0], rscpPua.icon2Utf8[1], rscpPua.icon2Utf8[2], s1, s2};
            std::memcpy(code, c, length = 5);
            break;
        }
        case RSCP_RULE_ICON32H: {
            const uint8_t c[] = {0, 0, icon[0], icon[1], 0, 0, 0, s1, 0, 0, 0, s2};
            std::memcpy(code, c, length = 12);
            break;
        }
        default: {  // RSCP_RULE_ICON32L
            const uint8_t c[] = {icon[1], icon[0], 0, 0, s1, 0, 0, 0, s2, 0, 0, 0};
            std::memcpy(code, c, length = 12);
            break;
        }
        }
        const uint32_t rc = rscpLoadOutput(l) ? OutRuleChar(l, number, type, 0, length, code) : run.Enter(length, code);
        if (rc != 0)
            return rc;
        ++*handled;
    }
    return 0;
}

// Every key's code made of the rule's prefix, key form and suffix.
uint32_t KeyRange(uint32_t type, const rscpLoad_t& l, const char* w1, int32_t l1, const char* w2, int32_t l2,
                  uint32_t* handled)
{
    const int32_t group = l.row->iso2022 != 0 ? 0 : -1;
    rscpKeyEnum_t keys;
    rscpenHexRangeInit(&keys, 0, type, w1, l1, w2, l2);
    uint8_t code[30];
    int32_t length = 0;
    uint32_t number = 0;
    while (rscpenHexRangeNext(&keys, &number, code, sizeof code, &length)) {
        uint32_t rc = 0;
        if (!rscpLoadOutput(l))
            rc = rscpei__enter_in_code(l.t1, "TCPSRULE", number, l.copyMode, length, code, l.overwriteIn, group);
        else if (length >= 5)
            rc = rscpeo126__enter_out_126code(l.t2, "TCPSRULE", number, length, code, l.overwriteOut, l.copyMode);
        else
            rc = rscpeo4__enter_out_4code(l.t2, "TCPSRULE", number, length, code, l.overwriteOut, l.copyMode);
        if (rc != 0 && rc != RSCPENOOBJ)
            return rc;
        ++*handled;
    }
    return 0;
}

// ---- range rules --------------------------------------------------------------------------

int HexDigit(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
}

// A hexadecimal number of at most six digits, and a separator after it.
uint32_t HexNumber(const char*& p, const char* end)
{
    uint32_t v = 0;
    for (int i = 0; i < 6 && p < end && HexDigit(*p) >= 0; ++i)
        v = v * 16 + static_cast<uint32_t>(HexDigit(*p++));
    if (p < end && (*p == ',' || *p == ';'))
        ++p;
    return v;
}

// Pairs of hexadecimal digits and a separator after them; the number of
// pairs read (more than room counts, but only room bytes are kept).
int32_t HexBytes(const char*& p, const char* end, uint8_t* out, int32_t room)
{
    int32_t n = 0;
    while (p + 1 < end && HexDigit(p[0]) >= 0 && HexDigit(p[1]) >= 0) {
        if (n < room)
            out[n] = static_cast<uint8_t>(HexDigit(p[0]) * 16 + HexDigit(p[1]));
        ++n;
        p += 2;
    }
    if (p < end && (*p == ',' || *p == ';'))
        ++p;
    return n;
}

uint32_t RangeRuleRefused(const char* text, const char* w1, int32_t l1, const char* w2, int32_t l2, int32_t line)
{
    char arg[64];
    snprintfR(arg, sizeof arg, "TCPSRULE&%.*s,%.*s&", static_cast<int>(l1), w1, static_cast<int>(l2), w2);
    return Error(RSCPENOCONV, 2, line, text, "F5L", arg);
}

uint32_t RangeRule(const rscpLoad_t& l, const char* w1, int32_t l1, const char* w2, int32_t l2, uint32_t* handled)
{
    const char* p = w1;
    const uint32_t first = HexNumber(p, w1 + l1), last = HexNumber(p, w1 + l1);
    uint8_t start[4] = {}, low[4] = {}, high[4] = {};
    const int32_t n = HexBytes(p, w1 + l1, start, 4);
    const char* q = w2;
    const int32_t nl = HexBytes(q, w2 + l2, low, 4), nh = HexBytes(q, w2 + l2, high, 4);
    // The slot holds four bytes per position and every character needs a
    // code of its own inside the bounds.
    if (n < 1 || n > 4 || nl != n || nh != n)
        return RangeRuleRefused("range rule: code bytes do not fit the rule's slots", w1, l1, w2, l2, __LINE__);
    uint64_t codes = 1, offset = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (low[i] > high[i] || start[i] < low[i] || start[i] > high[i])
            return RangeRuleRefused("range rule: start code outside its bounds", w1, l1, w2, l2, __LINE__);
        offset = offset * (high[i] - low[i] + 1u) + (start[i] - low[i]);
        codes *= high[i] - low[i] + 1u;
    }
    if (last < first || last > 0xFFFFFF || uint64_t(last - first) >= codes - offset)
        return RangeRuleRefused("range rule: more characters than codes", w1, l1, w2, l2, __LINE__);
    // The segment starts at the start code's first byte: the codes in front
    // of the start code under that byte need indexes of their own.
    if (offset % (codes / (high[0] - low[0] + 1u)) > first)
        return RangeRuleRefused("range rule: start code beyond the first character", w1, l1, w2, l2, __LINE__);
    const int32_t slot = prepareXMLRule(w1, l1, w2, l2, first, last, n, start, low, high);
    if (slot < 0)
        return RangeRuleRefused("rscpdl.c: prepareXMLRule: ruleInfo_count overfow !", w1, l1, w2, l2, __LINE__);
    auto code = [slot](uint32_t c, uint8_t* b) { return rscpCRangeBytes(rscpmp, uint32_t(slot), c, b); };
    uint8_t bytes[4];
    const bool output = rscpLoadOutput(l);
    if (last - first + 1 > 100) {
        if (output)
            return OutRuleRange(l, first, last, RSCP_RULE_RANGE, static_cast<uint32_t>(slot), true, false, handled,
                                code);
        InRuleRun run(l, RSCP_RULE_RANGE, static_cast<uint32_t>(slot), false);
        for (uint32_t c = first; c <= last; ++c) {
            if (!rscpSelects(l.selector, c))
                continue;
            code(c, bytes);
            const uint32_t rc = run.Enter(n, bytes);
            if (rc != 0)
                return rc;
            ++*handled;
        }
        return 0;
    }
    const int32_t group = l.row->iso2022 != 0 ? 0 : -1;
    for (uint32_t c = first; c <= last; ++c) {
        if (!rscpSelects(l.selector, c))
            continue;
        code(c, bytes);
        uint32_t rc = 0;
        if (output) {
            rc = rscpeo4__enter_out_4code(l.t2, "TCPSRULE", c, n, bytes, l.overwriteOut, l.copyMode);
        } else if ((rc = rscpei__enter_in_code(l.t1, "TCPSRULE", c, l.copyMode, n, bytes, l.overwriteIn, group)) != 0) {
            std::fprintf(stderr, "%s.%d: l_rc = %d\n", "rscpdl.c", __LINE__, static_cast<int>(rc));
        }
        if (rc != 0 && rc != RSCPENOOBJ)
            return rc;
        ++*handled;
    }
    return 0;
}

// ---- shift rules ---------------------------------------------------------------------------

bool Separator(char c)
{
    return c == ' ' || c == ',';
}

uint32_t ShiftRule(uint32_t type, const rscpLoad_t& l, const char* segId, const char* w1, int32_t l1, const char* w2,
                   int32_t l2)
{
    rscpShiftRule_t rule;
    const uint32_t parsed = rscpsb__scan_strt_back_rule(l.row->cp, segId, w1, l1, w2, l2, &rule);
    int32_t s = 0;
    bool added = false;
    const uint32_t rc = rscpgs__get_shift_state(rule, &s, &added);
    if (rc != 0)
        return rc;
    if (!added && parsed != 0)
        return parsed;
    // A missing segment ends the rule; nothing of it is entered.
    const rscpSegDirRow* dir = rscplsd__lookup_segment_dir(rule.segment);
    if (dir == nullptr || dir->desc == nullptr || (dir->kind & 3u) != RSCP_SEG_MAPPING) {
        char text[64];
        snprintfR(text, sizeof text, "in segment \"%*.*s\"not in F5 memory", 5, 5, rule.segment);
        Error(RSCPENOCONV, 3, __LINE__, text, "CPD", rule.segment, 5);
        return 0;
    }
    const rscpMapSeg* m = static_cast<const rscpMapSeg*>(dir->desc);
    const bool output = rscpLoadOutput(l);
    const bool wasEmpty = l.row->iso2022 == 0;
    l.row->iso2022 = static_cast<uint16_t>(l.row->iso2022 | 1u << s);
    if (!output && wasEmpty && rscpmlMoveT1(l.t1) == 0)
        return RSCPETOOLONG;

    uint32_t handled = 0;
    auto enter = [&](uint32_t ch, int32_t length, uint8_t* code) -> uint32_t {
        if (!rscpSelects(l.selector, ch))
            return 0;
        if (length == 1 && (rule.unsj || rule.uneuc)) {
            char arg[48];
            snprintfR(arg, sizeof arg, "TCPSPTS&MBLEN&%*.*s&%06lX&", 5, 5, rule.segment,
                      static_cast<unsigned long>(ch));
            Error(RSCPENOCONV, 4, __LINE__, "rscpeor__enter_out_rule unshift only 2 bytes", "CPU", arg);
        }
        if (length == 2 && rule.unsj) {
            if (code[0] > 0xEF)
                return 0;
            rscpSjisToJis(&code[0], &code[1]);
        } else if (length == 2 && rule.uneuc) {
            code[0] = static_cast<uint8_t>(code[0] + 128);
            code[1] = static_cast<uint8_t>(code[1] + 128);
        }
        ++handled;
        if (!output)
            return rscpei__enter_in_code(l.t1, "ISO-2022", ch, l.copyMode, length, code, l.overwriteIn, s + 1);
        const uint32_t attr = length == 1 ? code[0] : uint32_t(code[0]) * 256 + code[1];
        const uint32_t r = rscpeor__enter_out_rule(
            l.t2, "ISO-2022", ch, uint32_t(length == 1 ? RSCP_RULE_2022_SINGLE : RSCP_RULE_2022_DOUBLE) + uint32_t(s),
            attr, l.overwriteOut, l.copyMode);
        if (r != 0 && r != RSCPEUNIQ && r != RSCPENOOBJ)
            Error(r, 5, __LINE__, "rscpeor__enter_out_rule problem", "F5L", l.row->cp, 4);
        return 0;
    };
    uint8_t code[2];
    for (uint32_t i = 0; i < m->n1; ++i) {
        code[0] = static_cast<uint8_t>(m->e1[i] >> 24);
        if (const uint32_t r = enter(m->e1[i] & 0xFFFFFF, 1, code); r != 0)
            return r;
    }
    for (uint32_t i = 0; i < m->n2; ++i) {
        code[0] = static_cast<uint8_t>(m->e2[2 * i] >> 24);
        code[1] = static_cast<uint8_t>(m->e2[2 * i + 1]);
        if (const uint32_t r = enter(m->e2[2 * i] & 0xFFFFFF, 2, code); r != 0)
            return r;
    }
    if (!output) {
        // The start sequence of every state leads into its group, the back
        // sequence to group 0, from group 0 and from every state's group.
        const rscpCcc_t* c = rscpmp;
        for (int32_t g = 0; g <= RSCP_SOSI_MAX; ++g) {
            if (g != 0 && !(l.row->iso2022 >> (g - 1) & 1u))
                continue;
            for (int32_t t = 0; t < RSCP_SOSI_MAX && t < c->soSiCount; ++t) {
                if (!(l.row->iso2022 >> t & 1u))
                    continue;
                const rscpSoSi_t& q = c->soSi[t];
                uint32_t r = 0;
                if (q.soLen > 0)
                    r = rscpeir__enter_in_rule(l.t1, "ISO-2022", l.copyMode, RSCP_RULE_2022_SWITCH, uint32_t(t) + 1,
                                               q.soLen, q.so, l.overwriteIn, 0, g);
                if (r == 0 && q.siLen > 0)
                    r = rscpeir__enter_in_rule(l.t1, "ISO-2022", l.copyMode, RSCP_RULE_2022_SWITCH, 0, q.siLen, q.si,
                                               l.overwriteIn, 0, g);
                if (r != 0)
                    return r;
            }
        }
    }
    rscpLoadCount(l, handled, 127);
    (void)type;
    return 0;
}

}  // namespace

// ---- the UTF-8 rule -----------------------------------------------------------------------

uint32_t rscpUtf8RuleIn(const rscpLoad_t& l, uint32_t firstLead, uint32_t lastLead, bool enumerate, uint32_t* handled)
{
    InRuleRun one(l, RSCP_RULE_U8_1, 0, enumerate), two(l, RSCP_RULE_U8_2, 0, enumerate),
        three(l, RSCP_RULE_U8_3, 0, enumerate), four(l, RSCP_RULE_U8_4, 0, enumerate);
    for (uint32_t lead = firstLead; lead <= lastLead && lead <= 0xFF; ++lead) {
        const uint8_t b0 = static_cast<uint8_t>(lead);
        if (lead >= 0x20 && lead <= 0x7E) {
            const uint32_t rc = one.Enter(1, &b0);
            if (rc != 0)
                return rc;
            ++*handled;
            continue;
        }
        // Byte ranges of the second position; the others run 80-BF.
        int32_t length = 0;
        uint8_t low2 = 0x80, high2 = 0xBF;
        InRuleRun* run = nullptr;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            run = &two;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low2 = lead == 0xE0 ? 0xA0 : 0x80;
            run = &three;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low2 = lead == 0xF0 ? 0x90 : 0x80;
            high2 = lead == 0xF4 ? 0x8F : 0xBF;
            run = &four;
        } else {
            continue;
        }
        uint32_t count = high2 - low2 + 1u;
        for (int32_t i = 2; i < length; ++i)
            count *= 64;
        // The first sequence of the lead; the others follow only while the
        // lead's slot leaves room for a difference.
        uint8_t seq[4] = {b0, low2, 0x80, 0x80};
        for (uint32_t k = 0; k < count; ++k) {
            if (run->Settled(b0)) {
                *handled += count - k;
                break;
            }
            uint32_t rest = k;
            for (int32_t i = std::min(length, 4) - 1; i >= 1; --i) {
                const uint32_t span = i == 1 ? high2 - low2 + 1u : 64u;
                seq[i] = static_cast<uint8_t>((i == 1 ? low2 : 0x80) + rest % span);
                rest /= span;
            }
            const uint32_t rc = run->Enter(length, seq);
            if (rc != 0)
                return rc;
            ++*handled;
        }
    }
    return 0;
}

uint32_t rscpUtf8RuleOut(const rscpLoad_t& l, uint32_t first, uint32_t last, bool enumerate, uint32_t* handled)
{
    // Encoded surrogates are not UTF-8: they get no code.
    static const struct {
        Range range;
        uint32_t rule;
    } kParts[] = {{{0x20, 0x7E}, RSCP_RULE_U8_1},
                  {{0xA0, 0x7FF}, RSCP_RULE_U8_2},
                  {{0x800, 0xD7FF}, RSCP_RULE_U8_3},
                  {{0xE000, 0xFFFF}, RSCP_RULE_U8_3},
                  {{0x10000, 0x10FFFF}, RSCP_RULE_U8_4}};
    for (const auto& p : kParts) {
        const uint32_t a = std::max(first, p.range.first), b = std::min(last, p.range.last);
        if (a > b)
            continue;
        const uint32_t rc = OutRuleRange(l, a, b, p.rule, 0, false, enumerate, handled, RuleCode{p.rule});
        if (rc != 0)
            return rc;
    }
    return 0;
}

// ---- rules -------------------------------------------------------------------------------

uint32_t rscpar__apply_rule(uint32_t type, const rscpLoad_t& l, const char* segId, const char* w1, int32_t l1,
                            const char* w2, int32_t l2)
{
    const uint32_t chars = l.mode & 12u;
    const bool form = type >= RSCP_RULE_U2H && type <= RSCP_RULE_U22L;
    const bool keys = type >= RSCP_RULE_KEYS && type <= RSCP_RULE_KEYS_LAST;
    const bool icons = type >= RSCP_RULE_ICON16H && type <= RSCP_RULE_ICON32L;
    if ((form && chars == 8) || ((keys || icons) && chars == 4))
        return 0;
    if (type == RSCP_RULE_SHIFT || type == RSCP_RULE_2022_DOUBLE || type == RSCP_RULE_2022_SINGLE)
        return ShiftRule(type, l, segId, w1, l1, w2, l2);
    const bool output = rscpLoadOutput(l);
    uint32_t handled = 0, rc = 0;
    if (form && type != RSCP_RULE_U8_1)
        rc = EncodingForm(type, l, &handled);
    else if (type == RSCP_RULE_U8_1)
        rc = output ? rscpUtf8RuleOut(l, 0, 0x10FFFF, false, &handled) : rscpUtf8RuleIn(l, 0, 0xFF, false, &handled);
    else if (keys)
        rc = KeyRange(type, l, w1, l1, w2, l2, &handled);
    else if (icons)
        rc = OwnCharacters(type, l, &handled);
    else if (type == RSCP_RULE_RANGE)
        rc = RangeRule(l, w1, l1, w2, l2, &handled);
    else if (type == RSCP_RULE_DROP) {
        if (!output)
            return 0;
        const char* p = w1;
        const char* q = w2;
        const uint32_t from = HexNumber(p, w1 + l1), to = HexNumber(q, w2 + l2);
        if (to >= from)
            rc = OutRuleRange(l, from, to, RSCP_RULE_DROP, 0, true, false, &handled,
                              [](uint32_t, uint8_t*) { return 0; });
    } else {
        char arg[32];
        snprintfR(arg, sizeof arg, "%*.*s&%u&", 5, 5, segId, static_cast<unsigned>(type));
        rc = Error(RSCPENOCONV, 1, __LINE__, "Illegal rule type in F5", "CPN", arg);
    }
    rscpLoadCount(l, handled, type == RSCP_RULE_DROP ? 0 : 127);
    if (rc != 0 && output)
        return IgnoredOutputFailure(type, w1, l1, w2, l2, rc, __LINE__);
    return rc;
}

// ---- range rule slots and shift sequences --------------------------------------------------

int32_t prepareXMLRule(const char* w1, int32_t l1, const char* w2, int32_t l2, uint32_t first, uint32_t last,
                       int32_t bytes, const uint8_t* start, const uint8_t* low, const uint8_t* high)
{
    rscpCcc_t* c = rscpmp;
    const uint8_t len1 = static_cast<uint8_t>(std::clamp(l1, 0, 20)),
                  len2 = static_cast<uint8_t>(std::clamp(l2, 0, 20));
    const uint32_t used = std::min<uint32_t>(c->ruleInfoCount, RSCP_RULEINFO_SLOTS);
    uint32_t slot = 0;
    for (; slot < used; ++slot) {
        const rscpRuleInfo_t& r = c->ruleInfo[slot];
        if (r.len1 == len1 && r.len2 == len2 && std::memcmp(r.word1, w1, len1) == 0 &&
            std::memcmp(r.word2, w2, len2) == 0)
            break;
    }
    // A full table refuses the rule: every slot describes a rule in use.
    if (slot == used) {
        if (used == RSCP_RULEINFO_SLOTS) {
            std::fprintf(stderr, "rscpdl.c: prepareXMLRule: ruleInfo_count overfow !\n");
            return -1;
        }
        c->ruleInfoCount = used + 1;
    }
    rscpRuleInfo_t& r = c->ruleInfo[slot];
    r = rscpRuleInfo_t{};
    r.len1 = len1;
    r.len2 = len2;
    std::memcpy(r.word1, w1, len1);
    std::memcpy(r.word2, w2, len2);
    r.first = first;
    r.last = last;
    r.bytes = static_cast<uint32_t>(std::clamp(bytes, 0, 4));
    uint32_t weight = 1;
    for (int32_t i = static_cast<int32_t>(r.bytes) - 1; i >= 0; --i) {
        r.pos[i].start = start[i];
        r.pos[i].low = low[i];
        r.pos[i].high = high[i];
        r.pos[i].range = high[i] >= low[i] ? high[i] - low[i] + 1u : 1u;
        r.pos[i].weight = weight;
        weight *= r.pos[i].range;
    }
    r.base = first;
    for (uint32_t i = 0; i < r.bytes; ++i)
        r.base -= int64_t(r.pos[i].start - r.pos[i].low) * r.pos[i].weight;
    // The segment: its first byte from the start code's to the last
    // character's, the others over their whole ranges.
    rscpSegDesc_t& seg = r.seg;
    seg.lowIndex = first;
    seg.highIndex = last;
    seg.byteCount = static_cast<int32_t>(r.bytes);
    seg.baseIndex = static_cast<uint32_t>(r.base + int64_t(r.pos[0].start - r.pos[0].low) * r.pos[0].weight);
    for (uint32_t i = 0; i < r.bytes; ++i)
        seg.pos[i] = {r.pos[i].low, r.pos[i].high, static_cast<int32_t>(r.pos[i].weight)};
    if (r.bytes > 0) {
        seg.pos[0].low = r.pos[0].start;
        seg.pos[0].high = static_cast<uint8_t>(r.pos[0].start + (last - seg.baseIndex) / r.pos[0].weight);
    }
    return static_cast<int32_t>(slot);
}

uint32_t rscpsb__scan_strt_back_rule(const char* cp4, const char* segId, const char* w1, int32_t l1, const char* w2,
                                     int32_t l2, rscpShiftRule_t* out)
{
    *out = rscpShiftRule_t{};
    std::memset(out->segment, ' ', 5);
    l1 = std::clamp(l1, 0, 20);
    l2 = std::clamp(l2, 0, 20);
    char text[44];
    int32_t n = 0;
    std::memcpy(text, w1, static_cast<size_t>(l1));
    n = l1;
    if (l1 < 20 && !(l1 > 0 && Separator(w1[l1 - 1])) && !(l2 > 0 && Separator(w2[0])))
        text[n++] = ' ';
    std::memcpy(text + n, w2, static_cast<size_t>(l2));
    n += l2;

    uint32_t rc = 0;
    auto fail = [&](const char* message, int32_t line) {
        char arg[64];
        snprintfR(arg, sizeof arg, "TCPSRULE&ATTR1/2&%d/%d&%*.*s,%*.*s&", static_cast<int>(l1), static_cast<int>(l2), 4,
                  4, cp4, 5, 5, segId);
        rc = Error(RSCPENOCONV, 6, line, message, "F5L", arg);
    };
    auto sequence = [](const char* p, int32_t length, uint8_t* bytes) {
        int32_t k = 0;
        for (int32_t i = 0; i + 1 < length && k < 10 && HexDigit(p[i]) >= 0 && HexDigit(p[i + 1]) >= 0; i += 2)
            bytes[k++] = static_cast<uint8_t>(HexDigit(p[i]) * 16 + HexDigit(p[i + 1]));
        return k;
    };
    int32_t i = 0, words = 0;
    while (i < n && text[i] == ' ')
        ++i;
    while (i < n) {
        const int32_t begin = i;
        while (i < n && !Separator(text[i]))
            ++i;
        const char* word = text + begin;
        const int32_t length = i - begin;
        while (i < n && text[i] == ' ')
            ++i;
        if (i < n && text[i] == ',')
            ++i;
        while (i < n && text[i] == ' ')
            ++i;
        const bool unsj = (length == 4 && (std::memcmp(word, "unsj", 4) == 0 || std::memcmp(word, "UNSJ", 4) == 0));
        const bool uneuc = (length == 5 && (std::memcmp(word, "uneuc", 5) == 0 || std::memcmp(word, "UNEUC", 5) == 0));
        if ((unsj || uneuc) && (words == 1 || words == 2)) {
            out->unsj = out->unsj || unsj;
            out->uneuc = out->uneuc || uneuc;
            if (out->unsj && out->uneuc)
                fail("STRT-BACK-rule: Don't un-shift twice", __LINE__);
            continue;
        }
        if (words == 0) {
            if (length > 5)
                fail("STRT-BACK-rule: segment name too long", __LINE__);
            std::memcpy(out->segment, word, static_cast<size_t>(std::min(length, 5)));
        } else if (words <= 2) {
            if (length >= 22)
                fail("STRT-BACK-rule: sequence too long", __LINE__);
            if (words == 1)
                out->startLen = sequence(word, length, out->start);
            else
                out->backLen = sequence(word, length, out->back);
        } else {
            fail("STRT-BACK-rule: too many words", __LINE__);
            break;
        }
        ++words;
    }
    return rc;
}

uint32_t rscpgs__get_shift_state(const rscpShiftRule_t& rule, int32_t* state, bool* added)
{
    *added = false;
    const uint32_t found = rscpfi2__find_iso2022_entry(uint32_t(rule.startLen), rule.start, uint32_t(rule.backLen),
                                                       rule.back);
    if (found != 0xFFFFFFFFu) {
        *state = int32_t(found);
        return 0;
    }
    *added = true;
    const uint32_t rc = rscpss__store_so_si(rule.startLen, rule.start, rule.backLen, rule.back);
    if (rc == 0)
        *state = rscpmp->soSiCount - 1;
    return rc;
}

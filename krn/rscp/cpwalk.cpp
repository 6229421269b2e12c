// The table walk of the conversion engine: source bytes through the input
// trie (T1) to finished output bytes or a character, the character through
// the output pages (T2, T3) to its target bytes or an output rule, and what
// happens to characters the tables cannot convert (missing, dropped, broken
// input).  ISO-2022 sources pick their start block by the input shift state;
// one that designates a double-byte set to G1 keeps that designation apart.
// The multi-byte methods run the same walk with a look at every character
// before the tables and their own rules for broken and missing characters.
//
// Every table number read from the cache is checked against the cache block
// before it is followed; the common entries (one or two finished bytes, a
// code of one to three bytes, the Unicode rules) cost no call.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpconvint.h"
#include "krn/rscp/cpencode.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpkeys.h"
#include "krn/rscp/cprulebytes.h"
#include "krn/rscp/cptab.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

enum Step { kNext, kOverflow, kIncomplete, kError };

inline uint32_t Load32(const uint8_t* p)
{
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

inline uint16_t Load16(const uint8_t* p)
{
    uint16_t e;
    std::memcpy(&e, p, 2);
    return e;
}

// Bytes an icon rule reads, the positions of its two key symbols and its
// broken length.
struct IconForm {
    int32_t length, first, second, broken;
};
const IconForm kIcons[5] = {{6, 3, 5, 2}, {6, 2, 4, 2}, {5, 3, 4, 3}, {12, 7, 11, 4}, {12, 4, 8, 4}};

class Walk {
public:
    Walk(rscpcRun& run, const rscpcWalkMode& walkMode)
        : r(run),
          o(run.obj),
          mode(walkMode),
          iso(walkMode.iso2022 || walkMode.stateZero)
    {
    }
    rscpcExit Run();

private:
    bool Tables();
    bool StartBlock();
    Step Entry(const uint8_t* cs, const uint8_t* s, uint32_t w);
    Step EndOfInput(const uint8_t* cs, uint32_t block);
    Step InputRule(const uint8_t* cs, const uint8_t* s, uint32_t w);
    Step Output(const uint8_t* cs, const uint8_t* s, uint32_t code);
    Step OutputRule(const uint8_t* cs, const uint8_t* s, uint32_t code, int32_t rule, uint32_t attr);
    Step Put(const uint8_t* s, const uint8_t* bytes, int32_t n);
    Step Missing(const uint8_t* cs, const uint8_t* s);
    Step Broken(const uint8_t* cs, const uint8_t* s, int64_t length, int32_t unit);
    Step Tunnel(const uint8_t* cs, const uint8_t* s);
    Step Copy(const uint8_t* cs, int64_t length);
    Step IncompleteRest();
    Step Fail(uint32_t code);
    Step Damaged(int32_t line, const char* what, uint32_t value);
    bool Length(const uint8_t* cs, const uint8_t** s, uint32_t w) const;

    uint32_t T1(uint32_t block, uint32_t index) const
    {
        return Load32(base + uint64_t(block) * RSCP_T1_BYTES + 4 * index);
    }

    rscpcRun& r;
    rscpCObj_t* o;
    const rscpcWalkMode& mode;
    const bool iso;
    const uint8_t* base = nullptr;
    uint32_t t1Blocks = 0, t3Rows = 0, t2Entries = 0;
    const uint8_t* t2 = nullptr;
    uint32_t start = 0;
    int32_t unit = 1;
    int32_t mbcCopy = 2;
};

bool Walk::Tables()
{
    const rscpCcc_t* c = rscpmp;
    base = reinterpret_cast<const uint8_t*>(c);
    t1Blocks = c->length / RSCP_T1_BYTES;
    t3Rows = c->length / RSCP_T3_BYTES;
    t2Entries = rscpT2Entries(c);
    if (rscpCccBytes(c, o->out_no, 2ull * t2Entries) == nullptr) {
        Damaged(__LINE__, "T2", o->out_no);
        return false;
    }
    t2 = base + o->out_no;
    unit = o->in_space_len > 0 ? o->in_space_len : 1;
    mbcCopy = c->mbcCopy;
    return true;
}

// The block the next character starts in: the object's input table, or for
// an ISO-2022 source the block its dispatcher gives for the shift state.
bool Walk::StartBlock()
{
    uint32_t root = o->in_no;
    if (root == 0 || root >= t1Blocks) {
        Damaged(__LINE__, "T1", root);
        return false;
    }
    if (iso) {
        const uint32_t state = mode.stateZero ? 0 : o->iso2022 >> 10 & 0xF;
        const uint32_t w = T1(root, state);
        if (rscpT1Kind(w) != RSCP_T1_NEXT) {
            char arg[16];
            std::snprintf(arg, sizeof arg, "%d", static_cast<int>(state));
            Fail(rscpe__error(RSCPEINTERN, 'C', RSCP_ALL_ERRORS, kModule, 11, __LINE__,
                              "T1 not prepared for ISO-2022 status", "???", "JIS? &", -1, arg, -1));
            return false;
        }
        root = rscpT1Block(w);
        if (root == 0 || root >= t1Blocks) {
            Damaged(__LINE__, "T1", root);
            return false;
        }
    }
    start = root;
    return true;
}

rscpcExit Walk::Run()
{
    if (!Tables() || !StartBlock())
        return RSCPC_ERROR;
    const uint8_t* const end = r.srcEnd;
    for (;;) {
        if (r.src == end)
            return RSCPC_DONE;
        if (mode.claim != nullptr) {
            const int32_t claim = mode.claim(r, mode.ctx);
            if (claim == RSCPC_CLAIM_NEXT) {
                if (mode.iso2022 && !StartBlock())
                    return RSCPC_ERROR;
                continue;
            }
            if (claim != RSCPC_CLAIM_TABLES)
                return rscpcExit(claim);
        }
        const uint8_t* const cs = r.src;
        // The common one-byte characters (a finished byte, a character entry,
        // or a 7-bit byte by the rule of one byte whose page holds a code of
        // one to three bytes) go straight through; everything else takes the
        // walk below.
        {
            const uint32_t w = T1(start, *cs);
            if (rscpT1Kind(w) == RSCP_T1_OUT1 && rscpT1Length(w) <= 1 && r.dst != r.dstEnd) {
                *r.dst++ = uint8_t(w);
                r.src = cs + 1;
                continue;
            }
            uint32_t code = 0x7FFFFFFF;
            if (rscpT1Kind(w) == RSCP_T1_CHAR && rscpT1Length(w) <= 1)
                code = rscpT1Char(w);
            else if (rscpT1IsRule(w, RSCP_RULE_U8_1) && *cs < 0x80)
                code = *cs;
            const uint32_t page = code >> 7;
            if (page < t2Entries) {
                const uint16_t e = Load16(t2 + 2 * page);
                const uint32_t row = rscpT2Row(e);
                if (rscpT2IsT3(e) && row != 0 && row < t3Rows) {
                    const uint32_t tw = Load32(base + uint64_t(row) * RSCP_T3_BYTES + 4 * (code & 0x7F));
                    // The UTF-8 rules of one and two bytes, as their bytes.
                    if (tw == rscpT3RuleWord(RSCP_RULE_U8_1, 0) && code < 0x80 && r.dst != r.dstEnd) {
                        *r.dst++ = uint8_t(code);
                        r.src = cs + 1;
                        continue;
                    }
                    if (tw == rscpT3RuleWord(RSCP_RULE_U8_2, 0) && code >= 0x80 && code < 0x800 &&
                        r.dstEnd - r.dst >= 2) {
                        r.dst[0] = uint8_t(0xC0 | code >> 6);
                        r.dst[1] = uint8_t(0x80 | (code & 0x3F));
                        r.dst += 2;
                        r.src = cs + 1;
                        continue;
                    }
                    const int32_t n = int32_t(rscpT3CodeLength(tw));
                    if (n >= 1 && n <= 3 && r.dstEnd - r.dst >= n) {
                        r.dst[0] = uint8_t(tw >> 16);
                        if (n > 1) {
                            r.dst[1] = uint8_t(tw >> 8);
                            if (n > 2)
                                r.dst[2] = uint8_t(tw);
                        }
                        r.dst += n;
                        r.src = cs + 1;
                        continue;
                    }
                }
            }
        }
        const uint8_t* s = cs;
        uint32_t block = start, w;
        Step step;
        for (;;) {
            w = T1(block, *s++);
            if (rscpT1Kind(w) != RSCP_T1_NEXT) {
                step = Entry(cs, s, w);
                break;
            }
            block = rscpT1Block(w);
            if (block == 0 || block >= t1Blocks) {
                step = Damaged(__LINE__, "T1", block);
                break;
            }
            if (s == end) {
                step = EndOfInput(cs, block);
                break;
            }
        }
        switch (step) {
        case kNext:
            if (mode.iso2022 && !StartBlock())
                return RSCPC_ERROR;
            continue;
        case kOverflow:
            return RSCPC_OVERFLOW;
        case kIncomplete:
            return RSCPC_INCOMPLETE;
        case kError:
            return RSCPC_ERROR;
        }
    }
}

// The length attribute of an entry, when set and different from the bytes
// read, puts the end of the character at its first byte plus the attribute;
// false when that lies beyond the source.
bool Walk::Length(const uint8_t* cs, const uint8_t** s, uint32_t w) const
{
    const uint32_t n = rscpT1Length(w);
    if (n == 0 || n == uint32_t(*s - cs))
        return true;
    if (int64_t(n) > r.srcEnd - cs)
        return false;
    *s = cs + n;
    return true;
}

Step Walk::Entry(const uint8_t* cs, const uint8_t* s, uint32_t w)
{
    switch (rscpT1Kind(w)) {
    case RSCP_T1_OUT1: {
        if (!Length(cs, &s, w))
            return IncompleteRest();
        const uint8_t b = uint8_t(w);
        return Put(s, &b, 1);
    }
    case RSCP_T1_OUT2: {
        if (!Length(cs, &s, w))
            return IncompleteRest();
        const uint8_t b[2] = {uint8_t(w >> 8), uint8_t(w)};
        return Put(s, b, 2);
    }
    case RSCP_T1_CHAR:
        if (!Length(cs, &s, w))
            return IncompleteRest();
        return Output(cs, s, rscpT1Char(w));
    case RSCP_T1_RULE:
        return InputRule(cs, s, w);
    default: {
        // No character: the bytes read, less the unit that may begin the
        // next one, are broken.
        const int64_t read = s - cs;
        return Broken(cs, s, read > unit ? read - unit : unit, unit);
    }
    }
}

// The source ends inside a character (block is its open state).  With the
// "like_miss" option a code that ends here while longer ones go on is
// converted by the block's end entry; otherwise the rest is incomplete.
Step Walk::EndOfInput(const uint8_t* cs, uint32_t block)
{
    if (o->broken == uint32_t(RSCPBROKEN_LIKE_MISS)) {
        const uint32_t w = T1(block, 256);
        const uint8_t* s = r.srcEnd;
        if (rscpT1Kind(w) == RSCP_T1_CHAR && Length(cs, &s, w))
            return Output(cs, s, rscpT1Char(w));
    }
    return IncompleteRest();
}

// An incomplete character at the end: one substitute for the whole rest with
// the "like_miss" option, else the caller may give more input.
Step Walk::IncompleteRest()
{
    switch (rscpcIncompleteRest(r, r.srcEnd)) {
    case RSCPC_DONE:
        return kNext;
    case RSCPC_OVERFLOW:
        return kOverflow;
    case RSCPC_INCOMPLETE:
        return kIncomplete;
    default:
        return kError;
    }
}

Step Walk::InputRule(const uint8_t* cs, const uint8_t* s, uint32_t w)
{
    const int32_t rule = int32_t(rscpT1RuleNo(w));
    const uint32_t attr = rscpT1RuleAttr(w);
    const int64_t avail = r.srcEnd - cs;
    uint32_t code = 0;
    int32_t n = 0;
    switch (rule) {
    case RSCP_RULE_U8_1:
        // One byte of 7 bits: a byte with the high bit is no character (its
        // low bits would pose as another one).
        if (cs[0] >= 0x80)
            return Broken(cs, cs + 1, 1, unit);
        code = cs[0];
        n = 1;
        break;
    case RSCP_RULE_U8_2:
    case RSCP_RULE_U8_3:
    case RSCP_RULE_U8_4: {
        // Well-formed UTF-8 only: an overlong form, an encoded surrogate or a
        // value above U+10FFFF is broken, as far as its longest prefix that
        // could have begun a character.
        bool complete = false;
        n = rule - RSCP_RULE_U8_2 + 2;
        const int32_t k = rscpUtf8Prefix(cs, avail, &code, &complete);
        if (!complete && k == avail)
            return IncompleteRest();
        if (!complete || k != n)
            return Broken(cs, cs + (k > 0 ? k : 1), k > 0 ? k : 1, 1);
        break;
    }
    case RSCP_RULE_U2H:
    case RSCP_RULE_U2L:
        n = 2;
        if (avail < n)
            return IncompleteRest();
        code = rscpGet16(cs, rule == RSCP_RULE_U2H);
        break;
    case RSCP_RULE_U4H:
    case RSCP_RULE_U4L:
        n = 4;
        if (avail < n)
            return IncompleteRest();
        code = rscpGet32(cs, rule == RSCP_RULE_U4H);
        break;
    case RSCP_RULE_U22H:
    case RSCP_RULE_U22L: {
        n = 4;
        if (avail < n)
            return IncompleteRest();
        const bool big = rule == RSCP_RULE_U22H;
        const uint32_t hi = rscpGet16(cs, big), lo = rscpGet16(cs + 2, big);
        if ((hi & 0xFC00) != 0xD800 || (lo & 0xFC00) != 0xDC00)
            return Broken(cs, cs + n, n > unit ? n - unit : unit, unit);
        code = ((hi & 0x3FF) << 10) + (lo & 0x3FF) + 0x10000;
        break;
    }
    case RSCP_RULE_ICON16H:
    case RSCP_RULE_ICON16L:
    case RSCP_RULE_ICON8:
    case RSCP_RULE_ICON32H:
    case RSCP_RULE_ICON32L: {
        const IconForm& f = kIcons[rule - RSCP_RULE_ICON16H];
        n = f.length;
        if (avail < n)
            return IncompleteRest();
        code = rscpKey2ToNumber(char(cs[f.first]), char(cs[f.second]));
        if (code == 0)
            return Broken(cs, cs + n, f.broken > unit ? f.broken : unit, f.broken);
        break;
    }
    case RSCP_RULE_RANGE: {
        n = attr < RSCP_RULEINFO_SLOTS ? int32_t(rscpmp->ruleInfo[attr].bytes) : 0;
        if (n < 1 || n > 4)
            return Damaged(__LINE__, "range rule", attr);
        if (avail < n)
            return IncompleteRest();
        if (!rscpCRangeChar(rscpmp, attr, cs, n, &code))
            return Broken(cs, cs + n, n > unit ? n - unit : unit, unit);
        break;
    }
    case RSCP_RULE_2022_SWITCH:
        // An ISO-2022 shift: no character, the next one starts in the new state.
        o->iso2022 = (o->iso2022 & ~RSCP_2022_IN_SHIFT) | (attr & 0xF) << 10;
        r.src = s;
        return kNext;
    default:
        // Any other rule word carries the character itself.
        if (!Length(cs, &s, w))
            return IncompleteRest();
        code = rscpT1Char(w);
        n = int32_t(s - cs);
        break;
    }
    // A rule of several bytes never yields a 7-bit character (a "/" or a NUL
    // that the source did not hold); the 16- and 32-bit forms hold theirs.
    if (code < 0x80 && n > 1 && !(rule >= RSCP_RULE_U2H && rule <= RSCP_RULE_U22L))
        return Broken(cs, cs + n, n > unit ? n - unit : unit, unit);
    return Output(cs, cs + n, code);
}

// A character code through the output tables.
Step Walk::Output(const uint8_t* cs, const uint8_t* s, uint32_t code)
{
    const uint32_t page = code >> 7;
    if (page >= t2Entries)
        return Missing(cs, s);
    const uint16_t e = Load16(t2 + 2 * page);
    if (rscpT2IsRulePage(e))
        return OutputRule(cs, s, code, int32_t(rscpT2RuleNo(e)), rscpT2RuleAttr(e));
    if (!rscpT2IsT3(e))
        return Missing(cs, s);
    const uint32_t row = rscpT2Row(e);
    if (row == 0 || row >= t3Rows)
        return Damaged(__LINE__, "T3", row);
    const uint32_t w = Load32(base + uint64_t(row) * RSCP_T3_BYTES + 4 * (code & 0x7F));
    if (rscpT3IsRule(w))
        return OutputRule(cs, s, code, int32_t(rscpT3RuleNo(w)), rscpT3RuleAttr(w));
    const int32_t n = int32_t(rscpT3CodeLength(w));
    if (n == 0)
        return Missing(cs, s);
    if (n <= 3) {
        const uint8_t b[3] = {uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)};
        return Put(s, b, n);
    }
    const uint8_t* bytes = rscpCccBytes(rscpmp, rscpT3CodeOffset(w), uint32_t(n));
    if (bytes == nullptr)
        return Damaged(__LINE__, "long code", rscpT3CodeOffset(w));
    return Put(s, bytes, n);
}

Step Walk::Put(const uint8_t* s, const uint8_t* bytes, int32_t n)
{
    if (r.dstEnd - r.dst < n)
        return kOverflow;
    for (int32_t i = 0; i < n; ++i)
        r.dst[i] = bytes[i];
    r.dst += n;
    r.src = s;
    return kNext;
}

Step Walk::OutputRule(const uint8_t* cs, const uint8_t* s, uint32_t code, int32_t rule, uint32_t attr)
{
    uint8_t b[12];
    switch (rule) {
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
        const int32_t n = rscpOutRuleBytes(rule, code, b);
        return n > 0 ? Put(s, b, n) : Missing(cs, s);
    }
    case RSCP_RULE_ICON16H:
    case RSCP_RULE_ICON16L:
    case RSCP_RULE_ICON8:
    case RSCP_RULE_ICON32H:
    case RSCP_RULE_ICON32L: {
        if (code < RSCP_OWN_BASE || code >= RSCP_OWN_BASE + RSCP_OWN_KEYS)
            return Missing(cs, s);
        int32_t status = 0;
        rscpCWriteIcon(code, rule, &r.dst, r.dstEnd, &status);
        if (status != 0)
            return kOverflow;
        r.src = s;
        return kNext;
    }
    case RSCP_RULE_RANGE: {
        const int32_t n = rscpCRangeBytes(rscpmp, attr, code, b);
        return n > 0 ? Put(s, b, n) : Missing(cs, s);
    }
    case RSCP_RULE_DROP: {
        int32_t status = RSCP_ST_NOT_HANDLED;
        const uint32_t rc = rscpCOnDrop(o, &r.dst, r.dstEnd, &status);
        switch (status) {
        case RSCP_ST_DONE:
            r.src = s;
            return kNext;
        case RSCP_ST_STOP:
            return Fail(rscpcNotConvertible(o, cs, s, __LINE__));
        case RSCP_ST_NO_ROOM:
            return kOverflow;
        default:
            return Fail(rc != RSCP_OK ? rc : rscpcNotConvertible(o, cs, s, __LINE__));
        }
    }
    default:
        break;
    }
    if ((rule >= RSCP_RULE_2022_DOUBLE && rule <= RSCP_RULE_2022_DOUBLE_LAST) ||
        (rule >= RSCP_RULE_2022_SINGLE && rule <= RSCP_RULE_2022_SINGLE_LAST)) {
        const uint32_t rc = rule <= RSCP_RULE_2022_DOUBLE_LAST
                                ? rscp2022Designate2(o, r.dstStart, &r.dst, r.dstEnd, rule, attr)
                                : rscp2022Designate(o, r.dstStart, &r.dst, r.dstEnd, rule, attr);
        if (rc == RSCPETOOLONG)
            return kOverflow;
        if (rc != RSCP_OK)
            return Fail(rc);
        r.src = s;
        return kNext;
    }
    // A rule the tables never hold: the cache is damaged.
    std::fflush(stdout);
    std::fprintf(stderr, "%s(%d;2754): rule=%ld. abort()\n", kModule, __LINE__, static_cast<long>(rule));
    std::fflush(stderr);
    std::abort();
}

// A character the target cannot hold, by the substitution options; with
// the "mbc_copy" setting 3 one substitute per byte of the character.
Step Walk::Missing(const uint8_t* cs, const uint8_t* s)
{
    if (mode.copyMultiByte) {
        // A character of several bytes (by the length its code page gives
        // them) goes over unchanged.
        const int64_t left = r.srcEnd - cs;
        const int64_t length = rscpLengthOfMBChar(cs, int32_t(left < INT32_MAX ? left : INT32_MAX), o->in_major);
        if (length > left)
            return IncompleteRest();
        if (length >= 2) {
            if (r.dstEnd - r.dst < length)
                return kOverflow;
            std::memcpy(r.dst, cs, size_t(length));
            r.dst += length;
            r.src = cs + length;
            return kNext;
        }
    }
    uint8_t* const before = r.dst;
    const uint32_t substBefore = o->noof_subst;
    const int64_t extra = o->use_c_subst && mbcCopy == 3 ? (s - cs) - 1 : 0;
    for (int64_t i = 0; i <= extra; ++i) {
        int32_t status = RSCP_ST_NOT_HANDLED;
        const uint32_t rc = rscpCOnMissing(o, &r.dst, r.dstEnd, cs, s, &status);
        if (status == RSCP_ST_DONE)
            continue;
        r.dst = before;
        o->noof_subst = substBefore;
        if (status == RSCP_ST_NO_ROOM)
            return kOverflow;
        if (status == RSCP_ST_STOP)
            return Fail(rc);
        return Fail(rscpcNotConvertible(o, cs, s, __LINE__));
    }
    r.src = s;
    return kNext;
}

// Broken input: the bytes [cs, s) read form no character; length of them
// are passed over (a substitute, or copied unchanged), the rest is read
// again.  unit is the source's character unit, or an icon rule's broken
// length.
Step Walk::Broken(const uint8_t* cs, const uint8_t* s, int64_t length, int32_t brokenUnit)
{
    if (mode.tunnel)
        return Tunnel(cs, s);
    if (length < 1)
        length = 1;
    if (length > r.srcEnd - cs)
        length = r.srcEnd - cs;
    uint8_t* const before = r.dst;
    const uint32_t substBefore = o->noof_subst;
    if (o->use_c_subst) {
        int64_t count = 1;
        if (brokenUnit > 1 && (mbcCopy == 2 || mbcCopy == 3))
            count = brokenUnit / (o->in_space_len > 0 ? o->in_space_len : 1);
        for (int64_t i = 0; i < count || i == 0; ++i) {
            const uint32_t rc = rscpcSubstitute(r);
            if (rc == RSCP_OK)
                continue;
            r.dst = before;
            o->noof_subst = substBefore;
            return rc == RSCPETOOLONG ? kOverflow : Fail(rc);
        }
    } else if (o->use_1_copy) {
        return Copy(cs, length);
    } else {
        return Fail(rscpcNotConvertible(o, cs, s, __LINE__));
    }
    r.src = cs + length;
    return kNext;
}

// Broken input of a multi-byte method: a character of several bytes (by the
// length its code page gives it, within the source and the room left) goes
// over unchanged and counts as one substitution; anything else costs one
// byte and one substitute, or is copied or refused as the options say.
Step Walk::Tunnel(const uint8_t* cs, const uint8_t* s)
{
    const int64_t room = r.dstEnd - r.dst, left = r.srcEnd - cs;
    const int64_t avail = room < left ? room : left;
    const int64_t length = avail > 0
                               ? rscpLengthOfMBChar(cs, int32_t(avail < INT32_MAX ? avail : INT32_MAX), o->in_major)
                               : 0;
    if (o->use_c_subst) {
        if (length >= 2 && length <= avail)
            return Copy(cs, length);
        const uint32_t rc = rscpcSubstitute(r);
        if (rc == RSCPETOOLONG)
            return kOverflow;
        if (rc != RSCP_OK)
            return Fail(rc);
        r.src = cs + 1;
        return kNext;
    }
    if (o->use_1_copy)
        return Copy(cs, length >= 1 && length <= avail ? length : 1);
    return Fail(rscpcNotConvertible(o, cs, s, __LINE__));
}

// length source bytes copied unchanged, counted as one substitution.
Step Walk::Copy(const uint8_t* cs, int64_t length)
{
    if (r.dstEnd - r.dst < length)
        return kOverflow;
    std::memcpy(r.dst, cs, size_t(length));
    r.dst += length;
    ++o->noof_subst;
    r.src = cs + length;
    return kNext;
}

Step Walk::Fail(uint32_t code)
{
    if (code == RSCPEROLLBACK)
        rscpcRollback(__LINE__);
    r.code = code;
    return kError;
}

Step Walk::Damaged(int32_t line, const char* what, uint32_t value)
{
    char arg[48];
    std::snprintf(arg, sizeof arg, "%s&%lu&", what, static_cast<unsigned long>(value));
    return Fail(rscpe__error(RSCPEINTERN, 'C', RSCP_ALL_ERRORS, kModule, 12, line, "conversion tables damaged", "CQ4",
                             arg, -1, nullptr, 0));
}

// ---- a double-byte set designated to G1 ------------------------------------------------------

// A source whose shift-out sequence is the designation of its double-byte
// set to G1 followed by SO (ESC $ ) C SO) reads the designation wherever it
// stands: on its own, once at the start of a line before any text, is how
// such text is written.  SO and SI then only choose between G0 and G1, and
// the set is read while it is designated and shifted out; SO before any
// designation leaves ASCII, which G1 holds until then.  A line begins
// shifted in: a line feed ends a shifted run.
struct G1Designation {
    const uint8_t* bytes;  // ESC, the intermediates, the final byte
    int32_t length;
    uint32_t state;  // the shift state whose group holds the set
};

// The G1 designation among the input's shift-out sequences; false when it
// has none.
bool FindG1Designation(const rscpCObj_t* o, G1Designation* g)
{
    const rscpCcc_t* c = rscpmp;
    for (int32_t t = 0; t < RSCP_SOSI_MAX && t < c->soSiCount; ++t) {
        const rscpSoSi_t& q = c->soSi[t];
        const int32_t n = q.soLen - 1;
        if (!(o->iso2022 >> t & 1u) || n < 3 || n >= int32_t(sizeof q.so) || q.so[0] != 0x1B || q.so[n] != 0x0E ||
            std::memchr(q.so + 1, ')', size_t(n - 2)) == nullptr)
            continue;
        *g = {q.so, n, uint32_t(t) + 1};
        return true;
    }
    return false;
}

// Takes the designation, SO and SI at the start of a character, and shifts
// in before a line feed, which the tables then read; anything else (a
// designation cut by the end of the source among it) is left to them.
int32_t G1Claim(rscpcRun& r, void* ctx)
{
    const G1Designation& g = *static_cast<const G1Designation*>(ctx);
    rscpCObj_t* o = r.obj;
    uint32_t g1 = o->iso2022 & (RSCP_2022_IN_G1_SET | RSCP_2022_IN_SHIFTED_OUT);
    switch (*r.src) {
    case 0x0E:
        g1 |= RSCP_2022_IN_SHIFTED_OUT;
        ++r.src;
        break;
    case 0x0F:
        g1 &= ~RSCP_2022_IN_SHIFTED_OUT;
        ++r.src;
        break;
    case 0x0A:
        if (!(g1 & RSCP_2022_IN_SHIFTED_OUT))
            return RSCPC_CLAIM_TABLES;
        g1 &= ~RSCP_2022_IN_SHIFTED_OUT;
        break;
    case 0x1B:
        if (r.srcEnd - r.src < g.length || std::memcmp(r.src, g.bytes, size_t(g.length)) != 0)
            return RSCPC_CLAIM_TABLES;
        g1 |= RSCP_2022_IN_G1_SET;
        r.src += g.length;
        break;
    default:
        return RSCPC_CLAIM_TABLES;
    }
    const uint32_t state = g1 == (RSCP_2022_IN_G1_SET | RSCP_2022_IN_SHIFTED_OUT) ? g.state : 0;
    o->iso2022 = (o->iso2022 & ~RSCP_2022_IN_RUN) | g1 | state << 10;
    return RSCPC_CLAIM_NEXT;
}

}  // namespace

rscpcExit rscpcTableWalk(rscpcRun& r, const rscpcWalkMode& mode)
{
    G1Designation g1;
    if (mode.iso2022 && mode.claim == nullptr && rscpmp != nullptr && FindG1Designation(r.obj, &g1)) {
        rscpcWalkMode withG1 = mode;
        withG1.claim = G1Claim;
        withG1.ctx = &g1;
        Walk walk(r, withG1);
        return walk.Run();
    }
    Walk walk(r, mode);
    return walk.Run();
}

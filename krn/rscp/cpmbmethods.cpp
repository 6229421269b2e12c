// The multi-byte methods of the conversion engine.  The East Asian double-
// byte families are recognised by their lead and trail bytes before the
// tables see a character: Japanese characters go between Shift-JIS, EUC-JP
// and ISO-2022-JP by arithmetic, characters of related code pages are copied
// unchanged, the generic output formats write them as escapes, and the rest
// goes through the table walk.  Beside them: the walk with broken characters
// tunnelled or missing ones copied, the source read as internal character
// numbers (two-byte characters, the internal 16-bit set), and UTF-16 sources
// written character by character through the output tables.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpconvint.h"
#include "krn/rscp/cpencode.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpjis.h"
#include "krn/rscp/cprulebytes.h"
#include "krn/rscp/cptab.h"
#include "nls/nlsui.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

int32_t Fail(rscpcRun& r, uint32_t code)
{
    if (code == RSCPEROLLBACK)
        rscpcRollback(__LINE__);
    r.code = code;
    return RSCPC_ERROR;
}

uint32_t Record(uint32_t code, int32_t line, const char* text, const char* msgid, const char* arg1 = nullptr,
                const char* arg2 = nullptr)
{
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, 30, line, text, msgid, arg1, arg1 ? -1 : 0, arg2,
                        arg2 ? -1 : 0);
}

// The claim's answer for an incomplete character at the end.
int32_t Incomplete(rscpcRun& r)
{
    const rscpcExit e = rscpcIncompleteRest(r, r.srcEnd);
    return e == RSCPC_DONE ? int32_t(RSCPC_CLAIM_NEXT) : int32_t(e);
}

int32_t Clamp(int64_t n)
{
    return n < INT32_MAX ? int32_t(n) : INT32_MAX;
}

inline bool In(uint8_t b, int lo, int hi)
{
    return b >= lo && b <= hi;
}

// n source bytes unchanged; counted as a substitution when they stand for a
// character that could not be converted.
int32_t Copy(rscpcRun& r, int64_t n, bool counted)
{
    if (r.dstEnd - r.dst < n)
        return RSCPC_OVERFLOW;
    std::memcpy(r.dst, r.src, size_t(n));
    r.dst += n;
    r.src += n;
    if (counted)
        ++r.obj->noof_subst;
    return RSCPC_CLAIM_NEXT;
}

// The character of n source bytes at r.src replaced by the substitute.
int32_t Substitute(rscpcRun& r, int64_t n)
{
    const uint32_t rc = rscpcSubstitute(r);
    if (rc == RSCPETOOLONG)
        return RSCPC_OVERFLOW;
    if (rc != RSCP_OK)
        return Fail(r, rc);
    r.src += n;
    return RSCPC_CLAIM_NEXT;
}

int32_t Missing(rscpcRun& r, const uint8_t* end);

// A code point through the output tables; the character ends at end.  A
// character the target does not hold follows the missing-character options
// when missing is set, else ends the call.
int32_t PutCodePoint(rscpcRun& r, uint32_t cp, const uint8_t* end, bool missing)
{
    const uint32_t rc = rscpCEncodeOneAt(r.obj, r.dstStart, &r.dst, r.dstEnd, cp);
    if (rc == RSCP_OK) {
        r.src = end;
        return RSCPC_CLAIM_NEXT;
    }
    if (rc == RSCPETOOLONG)
        return RSCPC_OVERFLOW;
    if (rc != RSCPENOCONV || !missing)
        return Fail(r, rc);
    return Missing(r, end);
}

// The character [r.src, end) that the target does not hold, by the object's
// substitution options.
int32_t Missing(rscpcRun& r, const uint8_t* end)
{
    int32_t status = RSCP_ST_NOT_HANDLED;
    const uint32_t miss = rscpCOnMissing(r.obj, &r.dst, r.dstEnd, r.src, end, &status);
    switch (status) {
    case RSCP_ST_DONE:
        r.src = end;
        return RSCPC_CLAIM_NEXT;
    case RSCP_ST_NO_ROOM:
        return RSCPC_OVERFLOW;
    case RSCP_ST_STOP:
        return Fail(r, miss);
    default:
        return Fail(r, rscpcNotConvertible(r.obj, r.src, end, __LINE__));
    }
}

// An internal character number through the output tables.
int32_t PutCharNo(rscpcRun& r, uint32_t no, const uint8_t* end)
{
    uint32_t cp = 0;
    const uint32_t rc = rscpCharNoToUnicodeChecked(&cp, no);
    if (rc != RSCP_OK)
        return Fail(r, rc);
    return PutCodePoint(r, cp, end, false);
}

[[noreturn]] void MultiByteProblem(int32_t line, uint32_t kind)
{
    std::fflush(stdout);
    std::fprintf(stderr, "rscpc: multi-byte problem. Line %d\n", static_cast<int>(line));
    std::fprintf(stderr, "rscpc: ccci_langu_dep_in_major = %d\n", static_cast<int>(kind));
    std::fflush(stderr);
    std::abort();
}

// ---- the double-byte families ----------------------------------------------------------------

enum Family { kNone, kEuc, kSjis, kSjisL1, kBig5, kGbk, kGb2312, kKorean, kHongKong };

inline bool EucPair(uint8_t a, uint8_t b)
{
    return (In(a, 0xA1, 0xFE) || a == 0x8E) && In(b, 0xA1, 0xFE);
}
inline bool SjisTrail(uint8_t t)
{
    return In(t, 0x40, 0x7E) || t >= 0x80;
}
inline bool SjisL1(uint8_t a, uint8_t b)
{
    return In(a, 0x81, 0x9F) && (In(b, 0x40, 0x7E) || In(b, 0x80, 0xFC));
}

// The family of the double-byte character (a, b) in a source of kind k.
Family FamilyOf(uint32_t k, uint8_t a, uint8_t b)
{
    switch (k) {
    case RSCPK_EUC:
        return EucPair(a, b) ? kEuc : kNone;
    case RSCPK_SJIS:
        return (In(a, 0x81, 0x9F) || a >= 0xE0) && SjisTrail(b) ? kSjis : kNone;
    case RSCPK_SJIS_L1:
    case RSCPK_ASIANUNI:
        return SjisL1(a, b) ? kSjisL1 : kNone;
    case RSCPK_TRADICH_L1:
        return SjisL1(a, b) ? kSjisL1 : a >= 0xA0 && b >= 0x40 ? kBig5 : kNone;
    case RSCPK_SIMPLCH_L1:
        return SjisL1(a, b) ? kSjisL1 : a >= 0xA1 && b >= 0xA1 ? kGb2312 : kNone;
    case RSCPK_COREA_L1:
        return SjisL1(a, b) ? kSjisL1 : a > 0x80 && b > 0x3F ? kKorean : kNone;
    case RSCPK_TRADICH:
        return a >= 0x81 && b >= 0x40 ? kBig5 : kNone;
    case RSCPK_GBK:
        return a >= 0x81 && b >= 0x40 ? kGbk : kNone;
    case RSCPK_2312_80:
        return a >= 0xA1 && b >= 0xA1 ? kGb2312 : kNone;
    case RSCPK_COREA:
        return a >= 0x81 && b >= 0x40 ? kKorean : kNone;
    case RSCPK_HK_PUA:
    case RSCPK_HK_U31:
        return a >= 0x81 && b >= 0x40 ? kHongKong : kNone;
    default:
        return kNone;
    }
}

// A byte that, as the last one of the source, opens a character of kind k.
bool OpenLead(uint32_t k, uint8_t a)
{
    const bool sjis = In(a, 0x81, 0x9F);
    switch (k) {
    case RSCPK_SJIS:
    case RSCPK_SJIS_L1:
    case RSCPK_ASIANUNI:
        return sjis;
    case RSCPK_TRADICH_L1:
    case RSCPK_COREA_L1:
        return sjis || a >= 0xA0;
    case RSCPK_SIMPLCH_L1:
        return sjis || a >= 0xA1;
    case RSCPK_TRADICH:
    case RSCPK_GBK:
    case RSCPK_HK_PUA:
    case RSCPK_HK_U31:
        return a >= 0x81;
    case RSCPK_COREA:
        return a >= 0xA0;
    case RSCPK_2312_80:
        return a >= 0xA1;
    default:
        return false;
    }
}

// Whether a character of the family goes unchanged to a target of kind t.
bool CopiedTo(Family f, uint8_t a, uint8_t b, uint32_t t)
{
    switch (f) {
    case kSjis:
        return t == RSCPK_SJIS || t == RSCPK_ASIANUNI ||
               (a <= 0x9F &&
                (t == RSCPK_SJIS_L1 || t == RSCPK_TRADICH_L1 || t == RSCPK_SIMPLCH_L1 || t == RSCPK_COREA_L1));
    case kSjisL1:
        return t == RSCPK_SJIS || t == RSCPK_SJIS_L1 || t == RSCPK_TRADICH_L1 || t == RSCPK_SIMPLCH_L1 ||
               t == RSCPK_COREA_L1 || t == RSCPK_ASIANUNI;
    case kBig5:
        return t == RSCPK_TRADICH || (a >= 0xA0 && (t == RSCPK_TRADICH_L1 || t == RSCPK_ASIANUNI));
    case kGbk:
        return t == RSCPK_GBK ||
               (a >= 0xA1 && b >= 0xA1 && (t == RSCPK_2312_80 || t == RSCPK_SIMPLCH_L1 || t == RSCPK_ASIANUNI));
    case kGb2312:
        return t == RSCPK_GBK || t == RSCPK_2312_80 || t == RSCPK_SIMPLCH_L1 || t == RSCPK_ASIANUNI;
    case kKorean:
        return t == RSCPK_COREA || t == RSCPK_COREA_L1 || t == RSCPK_ASIANUNI;
    case kHongKong:
        return t == RSCPK_TRADICH || t == RSCPK_HK_PUA;
    default:
        return false;
    }
}

char LetterOf(Family f)
{
    switch (f) {
    case kEuc:
        return 'E';
    case kSjis:
    case kSjisL1:
        return 'J';
    case kBig5:
        return 'M';
    case kGbk:
    case kGb2312:
        return 'C';
    case kKorean:
        return 'K';
    default:
        return 'H';
    }
}

// ---- the generic output formats ----------------------------------------------------------------

// What an escape's letter names: the family's kind and the character's bytes.
struct Escape {
    uint32_t kind;
    int32_t bytes;
};
bool EscapeOf(char letter, Escape* e)
{
    static const struct {
        char letter;
        Escape e;
    } table[] = {{'J', {RSCPK_SJIS, 2}},   {'M', {RSCPK_TRADICH, 2}}, {'C', {RSCPK_GBK, 2}},   {'K', {RSCPK_COREA, 2}},
                 {'H', {RSCPK_HK_PUA, 2}}, {'u', {RSCPK_UCS2H, 2}},   {'U', {RSCPK_UCS4H, 4}}, {'E', {RSCPK_EUC, 2}},
                 {'e', {RSCPK_EUC, 3}},    {'j', {RSCPK_NOT, 2}},     {'s', {RSCPK_NOT, 2}},   {'k', {RSCPK_NOT, 1}}};
    for (const auto& row : table)
        if (row.letter == letter) {
            *e = row.e;
            return true;
        }
    return false;
}

// The character's bytes as '^', its family's letter and upper-case
// hexadecimal digits; in EBCDIC for format E.
int32_t WriteEscape(rscpcRun& r, uint32_t format, char letter, const uint8_t* bytes, int32_t n)
{
    const int64_t length = 2 + 2 * int64_t(n);
    if (r.dstEnd - r.dst < length)
        return RSCPC_OVERFLOW;
    static const char kHex[] = "0123456789ABCDEF";
    char text[2 + 2 * 4];
    text[0] = '^';
    text[1] = letter;
    for (int32_t i = 0; i < n; ++i) {
        text[2 + 2 * i] = kHex[bytes[i] >> 4];
        text[3 + 2 * i] = kHex[bytes[i] & 0xF];
    }
    for (int64_t i = 0; i < length; ++i)
        r.dst[i] = format == RSCPK_GOF_E ? nlsui_l12e_char(uint8_t(text[i])) : uint8_t(text[i]);
    r.dst += length;
    return RSCPC_CLAIM_NEXT;
}

int32_t HexValue(uint8_t c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// An escape of a generic output format (or of the internal set) at r.src in
// a source read for character numbers: decoded when its family is the
// target's, else substituted or copied.
int32_t ReadEscape(rscpcRun& r, uint32_t format)
{
    const uint8_t* p = r.src;
    const int64_t left = r.srcEnd - p;
    const bool ebcdic = format == RSCPK_GOF_E;
    auto latin = [&](uint8_t c) { return ebcdic ? nlsui_e2l1_char(c) : c; };
    if (left < 2)
        return Incomplete(r);
    Escape e;
    if (!EscapeOf(char(latin(p[1])), &e))
        return RSCPC_CLAIM_TABLES;
    const int64_t length = 2 + 2 * int64_t(e.bytes);
    if (left < length)
        return Incomplete(r);
    if (r.dstEnd - r.dst < e.bytes)
        return RSCPC_OVERFLOW;
    rscpCObj_t* o = r.obj;
    if (e.kind == o->out_major && e.kind != RSCPK_NOT) {
        uint8_t bytes[4];
        for (int32_t i = 0; i < e.bytes; ++i) {
            const int32_t hi = HexValue(latin(p[2 + 2 * i])), lo = HexValue(latin(p[3 + 2 * i]));
            if (hi < 0 || lo < 0)
                return Fail(r, rscpcNotConvertible(o, p, p + length, __LINE__));
            bytes[i] = uint8_t(hi << 4 | lo);
        }
        std::memcpy(r.dst, bytes, size_t(e.bytes));
        r.dst += e.bytes;
        r.src += length;
        return RSCPC_CLAIM_NEXT;
    }
    if (o->use_1_copy)
        return Copy(r, length, true);
    if (!o->use_c_subst)
        return Fail(r, rscpcNotConvertible(o, p, p + length, __LINE__));
    return Substitute(r, length);
}

// ---- "mbconv_tab" --------------------------------------------------------------------------------

typedef uint32_t (*Transform)(uint8_t*, int32_t*, const uint8_t*, int32_t*);

// A run of double-byte characters through a transform.
int32_t RunThrough(rscpcRun& r, Transform fn, int64_t run, const char* cp4 = nullptr,
                   uint32_t (*dispatch)(uint8_t*, int32_t*, const uint8_t*, int32_t*, const char*) = nullptr)
{
    int32_t outLen = Clamp(r.dstEnd - r.dst), inLen = Clamp(run);
    const uint32_t rc = dispatch != nullptr ? dispatch(r.dst, &outLen, r.src, &inLen, cp4)
                                            : fn(r.dst, &outLen, r.src, &inLen);
    r.dst += outLen;
    r.src += inLen;
    if (rc == RSCP_OK && inLen > 0)
        return RSCPC_CLAIM_NEXT;
    if (rc == RSCPETOOLONG)
        return RSCPC_OVERFLOW;
    return Fail(r, Record(RSCPETOOLONG, __LINE__, "char code too long", "F42"));
}

// The length of the run of double-byte characters from r.src that pass test.
template <typename Test>
int64_t RunLength(const rscpcRun& r, Test test)
{
    const uint8_t* p = r.src;
    int64_t n = 0;
    while (r.srcEnd - p - n >= 2 && n < INT32_MAX - 1 && test(p[n], p[n + 1]))
        n += 2;
    return n;
}

void NotImplemented(const char* text, const char* family)
{
    Record(RSCPENOCONV, __LINE__, text, "F2K", family, "... ");
}

// The fallback for a double-byte character no transform serves: copied with
// the copy option or the cache's "mbc_copy" 1 (the Chinese, Korean and Hong
// Kong families only their lead byte), else through the tables.
int32_t Fallback(rscpcRun& r, Family f)
{
    if (!r.obj->use_1_copy && rscpmp->mbcCopy != 1)
        return RSCPC_CLAIM_TABLES;
    const bool leadOnly = f != kEuc && f != kSjis && f != kSjisL1;
    return Copy(r, leadOnly ? 1 : 2, true);
}

// ISO-2022-JP: the escape sequences of the double-byte set and of ASCII or
// JIS-Roman switch the input shift state; pairs of the double-byte set go
// to Shift-JIS or EUC-JP by arithmetic.
int32_t JisSource(rscpcRun& r)
{
    rscpCObj_t* o = r.obj;
    const uint8_t* p = r.src;
    const int64_t left = r.srcEnd - p;
    const uint32_t t = o->out_major;
    const bool dbcs = (o->iso2022 & RSCP_2022_IN_SHIFT) != 0;
    if (p[0] == 0x1B) {
        if (left >= 3 && p[1] == '$' && (p[2] == 'B' || p[2] == '@')) {
            o->iso2022 = (o->iso2022 & ~RSCP_2022_IN_SHIFT) | 1u << 10;
            r.src += 3;
            return RSCPC_CLAIM_NEXT;
        }
        if (left >= 3 && p[1] == '(' && (p[2] == 'B' || p[2] == 'J')) {
            o->iso2022 &= ~RSCP_2022_IN_SHIFT;
            r.src += 3;
            return RSCPC_CLAIM_NEXT;
        }
        return RSCPC_CLAIM_TABLES;
    }
    // Katakana of the eight-bit form.
    if (In(p[0], 0xA1, 0xDF) && (t == RSCPK_EUC || t == RSCPK_SJIS || t == RSCPK_ASIANUNI)) {
        const int64_t n = t == RSCPK_EUC ? 2 : 1;
        if (r.dstEnd - r.dst < n)
            return RSCPC_OVERFLOW;
        if (n == 2)
            *r.dst++ = 0x8E;
        *r.dst++ = p[0];
        ++r.src;
        return RSCPC_CLAIM_NEXT;
    }
    if (!dbcs || !In(p[0], 0x21, 0x7E))
        return RSCPC_CLAIM_TABLES;
    if (left < 2)
        return Incomplete(r);
    void (*pair)(uint8_t*, uint8_t*) = nullptr;
    if (t == RSCPK_EUC)
        pair = rscpJisEucFlip;
    else if (t == RSCPK_SJIS || t == RSCPK_ASIANUNI)
        pair = rscpJisToSjis;
    else if (t == RSCPK_SJIS_L1 || t == RSCPK_TRADICH_L1 || t == RSCPK_SIMPLCH_L1 || t == RSCPK_COREA_L1)
        pair = rscpJisToSjisL1;
    if (pair == nullptr) {
        NotImplemented("from JIS to non SJIS (not impl)", "JIS ");
        return RSCPC_CLAIM_TABLES;
    }
    if (!In(p[1], 0x21, 0x7E)) {
        // No character of the set: one byte passed over.
        if (!o->use_c_subst && !o->use_1_copy)
            return Fail(r, rscpcNotConvertible(o, p, p + 2, __LINE__));
        if (o->use_1_copy && !o->use_c_subst)
            return Copy(r, 1, true);
        return Substitute(r, 1);
    }
    if (r.dstEnd - r.dst < 2)
        return RSCPC_OVERFLOW;
    uint8_t a = p[0], b = p[1];
    pair(&a, &b);
    r.dst[0] = a;
    r.dst[1] = b;
    r.dst += 2;
    r.src += 2;
    return RSCPC_CLAIM_NEXT;
}

// A source of a generic output format: its escapes go only to the same format.
int32_t GofSource(rscpcRun& r, uint32_t k)
{
    const uint8_t intro = k == RSCPK_GOF_E ? 0x5F : '^';
    if (r.src[0] != intro)
        return RSCPC_CLAIM_TABLES;
    if (r.srcEnd - r.src < 6)
        return Incomplete(r);
    if (r.obj->out_major == k) {
        Escape e;
        const uint8_t letter = k == RSCPK_GOF_E ? nlsui_e2l1_char(r.src[1]) : r.src[1];
        const int64_t length = EscapeOf(char(letter), &e) ? 2 + 2 * int64_t(e.bytes) : 6;
        if (r.srcEnd - r.src < length)
            return Incomplete(r);
        return Copy(r, length, false);
    }
    NotImplemented(k == RSCPK_GOF_A ? "from GOF_A to .. (not impl)" : "from GOF_E to .. (not impl)",
                   k == RSCPK_GOF_A ? "GOFa" : "GOFe");
    return RSCPC_CLAIM_TABLES;
}

int32_t MbConvClaim(rscpcRun& r, void*)
{
    rscpCObj_t* o = r.obj;
    const uint8_t* p = r.src;
    uint32_t k = o->in_major;
    if (k == RSCPK_KOV16) {
        if (p[0] < 0x20)
            return RSCPC_CLAIM_TABLES;
        k = o->active_major;
    }
    if (k == RSCPK_JIS)
        return JisSource(r);
    if (k == RSCPK_GOF_A || k == RSCPK_GOF_E)
        return GofSource(r, k);
    if (r.srcEnd - p < 2)
        return OpenLead(k, p[0]) ? Incomplete(r) : RSCPC_CLAIM_TABLES;
    const Family f = FamilyOf(k, p[0], p[1]);
    if (f == kNone)
        return RSCPC_CLAIM_TABLES;
    const uint32_t t = o->out_major;

    // The Japanese families by arithmetic.
    if (f == kEuc) {
        if (t == RSCPK_EUC)
            return Copy(r, 2, false);
        if (t == RSCPK_JIS)
            return RunThrough(r, rscpEucToIso2022Buf, RunLength(r, EucPair));
        if (t == RSCPK_SJIS || t == RSCPK_KOV16)
            return RunThrough(r, rscpEucToSjisBuf, RunLength(r, EucPair));
        if (t == RSCPK_GOF_A) {
            const int32_t n = rscpEucCharLen(p, Clamp(r.srcEnd - p));
            const int32_t rc = WriteEscape(r, t, n == 3 ? 'e' : 'E', p, n);
            if (rc == RSCPC_CLAIM_NEXT)
                r.src += n;
            return rc;
        }
        NotImplemented("from EUC to .. (not impl)", "EUC ");
        return Fallback(r, f);
    }
    if ((f == kSjis || f == kSjisL1) && t == RSCPK_EUC) {
        // The transforms know the leads up to 0xEF; the tables the rest.
        if (f == kSjisL1)
            return RunThrough(r, rscpSjisRunToEuc, RunLength(r, SjisL1));
        if (p[0] > 0xEF)
            return RSCPC_CLAIM_TABLES;
        return RunThrough(r, rscpSjisToEucBuf, RunLength(r, [](uint8_t a, uint8_t b) {
                              return (In(a, 0x81, 0x9F) || In(a, 0xE0, 0xEF)) && SjisTrail(b);
                          }));
    }
    if ((f == kSjis || f == kSjisL1) && t == RSCPK_JIS) {
        // The double-byte dispatchers take leads 0x81-0x9F; the tables the rest.
        if (!SjisL1(p[0], p[1]))
            return RSCPC_CLAIM_TABLES;
        return RunThrough(r, nullptr, RunLength(r, SjisL1), o->outcode,
                          f == kSjis ? rscpSjisDbcsToJis : rscpSjisDbcsToJisL1);
    }

    if (CopiedTo(f, p[0], p[1], t))
        return Copy(r, 2, false);
    if (t == RSCPK_GOF_A || t == RSCPK_GOF_E) {
        const int32_t rc = WriteEscape(r, t, LetterOf(f), p, 2);
        if (rc == RSCPC_CLAIM_NEXT)
            r.src += 2;
        return rc;
    }
    return Fallback(r, f);
}

// ---- "mbget_tab" ------------------------------------------------------------------------------

// The kinds of langu_dep_in_major whose two-byte characters the get
// methods accept by the family test of FamilyOf.
bool GetsPairsOf(uint32_t kind)
{
    switch (kind) {
    case RSCPK_SJIS:
    case RSCPK_TRADICH:
    case RSCPK_GBK:
    case RSCPK_COREA:
    case RSCPK_HK_PUA:
    case RSCPK_2312_80:
    case RSCPK_SJIS_L1:
    case RSCPK_TRADICH_L1:
    case RSCPK_SIMPLCH_L1:
    case RSCPK_COREA_L1:
        return true;
    default:
        return false;
    }
}

int32_t MbGetClaim(rscpcRun& r, void*)
{
    rscpCObj_t* o = r.obj;
    const uint8_t* p = r.src;
    const int64_t left = r.srcEnd - p;
    const uint32_t k = o->in_major;
    if (k == RSCPK_UTF16H) {
        // Surrogate pairs below the private-use planes; the rules the rest.
        if (left < 2)
            return Incomplete(r);
        const uint32_t hi = rscpGet16(p, true);
        if (hi >= 0xD800 && hi < 0xDB80 && left >= 4) {
            const uint32_t lo = rscpGet16(p + 2, true);
            if (lo >= 0xDC00 && lo <= 0xDFFF)
                return PutCodePoint(r, (hi << 10) + lo - 0x35FDC00, p + 4, false);
        }
        return RSCPC_CLAIM_TABLES;
    }
    if (k == RSCPK_KOV16 || k == RSCPK_GOF_A || k == RSCPK_GOF_E)
        return p[0] == (k == RSCPK_GOF_E ? 0x5F : '^') ? ReadEscape(r, k) : RSCPC_CLAIM_TABLES;
    const int64_t length = rscpLengthOfMBChar(p, Clamp(left), k);
    if (length > left)
        return Incomplete(r);
    if (length == 0)
        return RSCPC_INCOMPLETE;  // no character can be read here
    if (length == 1)
        return RSCPC_CLAIM_TABLES;
    // The method refused other kinds of langu_dep_in_major before the walk.
    if (FamilyOf(o->langu_dep_in_major, p[0], p[1]) == kNone)
        return Fail(r, rscpcNotConvertible(o, p, p + length, __LINE__));
    return PutCharNo(r, uint32_t(p[0]) << 8 | p[1], p + length);
}

// ---- the 16-bit sources ------------------------------------------------------------------------

// "mbs16_tab": big-endian internal character numbers.
rscpcExit Mbs16(rscpcRun& r)
{
    while (r.src < r.srcEnd) {
        if (r.srcEnd - r.src < 2)
            return rscpcIncompleteRest(r, r.srcEnd);
        const int32_t claim = PutCharNo(r, rscpGet16(r.src, true), r.src + 2);
        if (claim != RSCPC_CLAIM_NEXT)
            return rscpcExit(claim);
    }
    return RSCPC_DONE;
}

// A unit of a UTF-16 source that is no character: substituted, copied or
// refused.
int32_t BrokenUnit(rscpcRun& r)
{
    rscpCObj_t* o = r.obj;
    if (o->use_c_subst)
        return Substitute(r, 2);
    if (o->use_1_copy)
        return Copy(r, 2, true);
    return Fail(r, rscpcNotConvertible(o, r.src, r.src + 2, __LINE__));
}

// The input table's entry for the character at r.src (n bytes).
uint32_t EntryOf(const rscpcRun& r, int32_t n)
{
    uint32_t block = r.obj->in_no, w = 0;
    for (int32_t i = 0; i < n && rscpT1Word(rscpmp, block, r.src[i], &w); ++i) {
        if (rscpT1Kind(w) != RSCP_T1_NEXT)
            return w;
        block = w & 0xFFFFFF;
    }
    return 0;
}

// The UTF-16 get methods: every code point through the output tables.
rscpcExit Utf16Get(rscpcRun& r, int32_t method)
{
    rscpCObj_t* o = r.obj;
    bool big = method <= 34;
    if (method >= 37) {
        if (o->in_major != RSCPK_UTF16H && o->in_major != RSCPK_UTF16L)
            MultiByteProblem(__LINE__, o->in_major);
        big = o->in_major == RSCPK_UTF16H;
    }
    const bool special = method >= 39;
    if (method <= 36) {
        const uint32_t rc = rscpCReactivateIfNeeded(o);
        if (rc != RSCP_OK)
            return rscpcExit(Fail(r, rc));
    }
    while (r.src < r.srcEnd) {
        const uint8_t* p = r.src;
        const int64_t left = r.srcEnd - p;
        if (left < 2)
            return rscpcIncompleteRest(r, r.srcEnd);
        uint32_t cp = rscpGet16(p, big);
        int32_t n = 2;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (left < 4)
                return rscpcIncompleteRest(r, r.srcEnd);
            const uint32_t lo = rscpGet16(p + 2, big);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                cp = (cp << 10) + lo - 0x35FDC00;
                n = 4;
            }
        }
        int32_t claim = RSCPC_CLAIM_TABLES;
        const uint32_t entry = special && ((cp >= 0xE000 && cp <= 0xF8FF) || (n == 4 && rscpGet16(p, big) > 0xDB7F))
                                   ? EntryOf(r, n)
                                   : 0;
        if (rscpT1Kind(entry) == RSCP_T1_RULE) {
            // Private use that the input table reads by a rule.
            uint32_t rc = RSCP_OK;
            switch (rscpCConvertByRules(o, &r.src, r.srcEnd, r.dstStart, &r.dst, r.dstEnd, entry, &rc)) {
            case 0:
                claim = RSCPC_CLAIM_NEXT;
                break;
            case 1:
                claim = RSCPC_OVERFLOW;
                break;
            case 2:
                claim = rscpcIncompleteRest(r, r.srcEnd);
                break;
            case 3:
                claim = Fail(r, rc);
                break;
            case 4:
                claim = Missing(r, p + n);
                break;
            default:
                break;
            }
            if (claim == RSCPC_DONE)
                return RSCPC_DONE;
        } else if (special && (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) && o->ctrlcodes != RSCPCTRL_TRY) {
            claim = BrokenUnit(r);
        }
        if (claim == RSCPC_CLAIM_TABLES)
            claim = PutCodePoint(r, cp, p + n, true);
        if (claim != RSCPC_CLAIM_NEXT)
            return rscpcExit(claim);
    }
    return RSCPC_DONE;
}

}  // namespace

rscpcExit rscpcMultiByteMethod(rscpcRun& r, int32_t method)
{
    rscpcWalkMode mode;
    switch (method) {
    case 6:
    case 7:
    case 42:
        mode.stateZero = method == 42;
        mode.claim = MbConvClaim;
        return rscpcTableWalk(r, mode);
    case 8:
    case 9: {
        const uint32_t k = r.obj->in_major;
        if (!GetsPairsOf(r.obj->langu_dep_in_major) && k != RSCPK_UTF16H && k != RSCPK_KOV16 && k != RSCPK_GOF_A &&
            k != RSCPK_GOF_E)
            MultiByteProblem(__LINE__, r.obj->langu_dep_in_major);
        mode.claim = MbGetClaim;
        return rscpcTableWalk(r, mode);
    }
    case 10:
    case 11:
        mode.tunnel = true;
        mode.copyMultiByte = method == 11;
        return rscpcTableWalk(r, mode);
    case 27:
    case 28:
        return Mbs16(r);
    default:
        return Utf16Get(r, method);
    }
}

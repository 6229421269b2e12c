// Japanese double-byte transforms by arithmetic, and the buffer walks that
// classify bytes and write or strip the escape and shift sequences.
#include "krn/rscp/cpjis.h"

#include <cstring>

#include "krn/rscp/cpcodes.h"

// ---- pair transforms ----------------------------------------------------------------

namespace {

inline void SjisToJisWith(uint8_t* lead, uint8_t* trail, bool l1)
{
    const uint8_t l = *lead, t = *trail;
    const uint8_t off = (l1 || l < 0xA0) ? 0x70 : 0xB0;
    *lead = uint8_t(2 * uint8_t(l - off) - (t < 0x9F ? 1 : 0));
    *trail = uint8_t(t < 0x80 ? t - 0x1F : t < 0x9F ? t - 0x20 : t - 0x7E);
}

inline void JisToSjisWith(uint8_t* row, uint8_t* cell, bool l1)
{
    const uint8_t r = *row, c = *cell;
    *row = uint8_t(((r + 1) >> 1) + ((l1 || r < 0x5F) ? 0x70 : 0xB0));
    *cell = uint8_t((r & 1) == 0 ? c + 0x7E : c + (c < 0x60 ? 0x1F : 0x20));
}

inline void Flip(uint8_t* a, uint8_t* b)
{
    *a = uint8_t(*a + 0x80);
    *b = uint8_t(*b + 0x80);
}

}  // namespace

void rscpSjisToJis(uint8_t* lead, uint8_t* trail)
{
    SjisToJisWith(lead, trail, false);
}
void rscpSjisToJisL1(uint8_t* lead, uint8_t* trail)
{
    SjisToJisWith(lead, trail, true);
}
void rscpSjisToEuc(uint8_t* lead, uint8_t* trail)
{
    SjisToJisWith(lead, trail, false);
    Flip(lead, trail);
}
void rscpSjisToEucL1(uint8_t* lead, uint8_t* trail)
{
    SjisToJisWith(lead, trail, true);
    Flip(lead, trail);
}
void rscpJisToSjis(uint8_t* row, uint8_t* cell)
{
    JisToSjisWith(row, cell, false);
}
void rscpJisToSjisL1(uint8_t* row, uint8_t* cell)
{
    JisToSjisWith(row, cell, true);
}
void rscpEucToSjis(uint8_t* lead, uint8_t* trail)
{
    Flip(lead, trail);
    JisToSjisWith(lead, trail, false);
}
void rscpEucToSjisL1(uint8_t* lead, uint8_t* trail)
{
    Flip(lead, trail);
    JisToSjisWith(lead, trail, true);
}
void rscpJisEucFlip(uint8_t* a, uint8_t* b)
{
    Flip(a, b);
}
void rscpEucJisFlip(uint8_t* a, uint8_t* b)
{
    Flip(a, b);
}

// ---- byte classes and the walk ------------------------------------------------------------

namespace {

typedef void (*PairFn)(uint8_t*, uint8_t*);

inline bool SjisWideLead(uint8_t b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
}
inline bool SjisNarrowLead(uint8_t b)
{
    return b >= 0x81 && b <= 0x9F;
}
inline bool SjisTrail(uint8_t b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}
inline bool SjisKana(uint8_t b)
{
    return b >= 0xA1 && b <= 0xDF;
}
inline bool EucLead(uint8_t b)
{
    return (b >= 0xA1 && b <= 0xFE) || b == 0x8E;
}
inline bool EucTrail(uint8_t b)
{
    return b >= 0xA1 && b <= 0xFE;
}

// Output and input positions of a walk; Finish stores both lengths.
struct Walk {
    uint8_t* out;
    int32_t cap;
    int32_t w = 0;
    const uint8_t* in;
    int32_t n;
    int32_t i = 0;

    Walk(uint8_t* o, const int32_t* outLen, const uint8_t* p, const int32_t* inLen)
        : out(o),
          cap(*outLen > 0 && o != nullptr ? *outLen : 0),
          in(p),
          n(*inLen > 0 && p != nullptr ? *inLen : 0)
    {
    }
    int32_t Room() const { return cap - w; }
    int32_t Left() const { return n - i; }
    void Put(uint8_t b) { out[w++] = b; }
    void Put(const uint8_t* p, int32_t len)
    {
        std::memcpy(out + w, p, size_t(len));
        w += len;
    }
    void Pair(uint8_t a, uint8_t b, PairFn fn)
    {
        fn(&a, &b);
        out[w++] = a;
        out[w++] = b;
    }
    uint32_t Finish(int32_t* outLen, int32_t* inLen, uint32_t rc) const
    {
        *outLen = w;
        *inLen = i;
        return rc;
    }
    // 0 when everything was consumed, else 32 (the output stopped the walk).
    uint32_t End(int32_t* outLen, int32_t* inLen) const
    {
        return Finish(outLen, inLen, i < n ? RSCPETOOLONG : RSCP_OK);
    }
};

void SetBit7(uint8_t* a, uint8_t* b)
{
    *a |= 0x80;
    *b |= 0x80;
}

// ---- the walks ------------------------------------------------------------------------------

uint32_t EucToSjisWalk(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen, bool l1)
{
    Walk k(out, outLen, in, inLen);
    while (k.i < k.n) {
        const uint8_t b = k.in[k.i];
        if (EucLead(b) && k.Left() >= 2 && EucTrail(k.in[k.i + 1])) {
            if (b == 0x8E) {
                if (k.Room() < 1)
                    break;
                k.Put(l1 ? uint8_t('#') : k.in[k.i + 1]);
            } else {
                if (k.Room() < 2)
                    break;
                k.Pair(b, k.in[k.i + 1], l1 ? rscpEucToSjisL1 : rscpEucToSjis);
            }
            k.i += 2;
        } else {
            if (k.Room() < 1)
                break;
            k.Put(b);
            ++k.i;
        }
    }
    return k.End(outLen, inLen);
}

// ISO-2022-JP to Shift-JIS (pair != NULL) or EUC-JP (pair == NULL).
uint32_t Iso2022DecodeWalk(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen, PairFn pair)
{
    Walk k(out, outLen, in, inLen);
    bool dbcs = false;
    while (k.i < k.n) {
        const uint8_t b = k.in[k.i];
        if (b == 0x1B && k.Left() >= 3) {
            const uint8_t c1 = k.in[k.i + 1], c2 = k.in[k.i + 2];
            if (c1 == '$' && (c2 == 'B' || c2 == '@')) {  // JIS X 0208, 1983 or 1978 edition
                dbcs = true;
                k.i += 3;
                continue;
            }
            if (c1 == '(' && (c2 == 'J' || c2 == 'B')) {
                dbcs = false;
                k.i += 3;
                continue;
            }
        }
        if (b >= 0x20 && b != 0x1B && dbcs) {
            if (k.Left() < 2)
                return k.Finish(outLen, inLen, RSCPEUNIQ);
            if (k.Room() < 2)
                break;
            k.Pair(b, k.in[k.i + 1], pair != nullptr ? pair : SetBit7);
            k.i += 2;
        } else if (pair == nullptr && b >= 0xA1 && b <= 0xDF) {
            if (k.Room() < 2)
                break;
            k.Put(0x8E);
            k.Put(b);
            ++k.i;
        } else {
            if (k.Room() < 1)
                break;
            k.Put(b);
            ++k.i;
        }
    }
    return k.End(outLen, inLen);
}

// What the next character of a source is to the shift encoders.
enum CharKind { kSingle, kDouble, kKana };
enum Source { kEuc, kSjisWide, kSjisNarrow };

CharKind Classify(const Walk& k, Source src)
{
    const uint8_t b = k.in[k.i];
    if (k.Left() < 2)
        return kSingle;
    const uint8_t t = k.in[k.i + 1];
    switch (src) {
    case kEuc:
        return EucLead(b) && EucTrail(t) ? (b == 0x8E ? kKana : kDouble) : kSingle;
    case kSjisWide:
        return SjisWideLead(b) && SjisTrail(t) ? kDouble : kSingle;
    default:
        return SjisNarrowLead(b) && SjisTrail(t) ? kDouble : kSingle;
    }
}

struct ShiftForm {
    const uint8_t* enter;  // into double-byte mode
    int32_t enterLen;
    const uint8_t* leave;  // back to single-byte mode
    int32_t leaveLen;
    bool designateFirst;  // single bytes need the leave sequence before the first one
};

constexpr uint8_t kEscDbcs[] = {0x1B, '$', 'B'};
constexpr uint8_t kEscSbcs[] = {0x1B, '(', 'J'};
constexpr uint8_t kFsEnter[] = {0x1C, 0x26};
constexpr uint8_t kFsLeave[] = {0x1C, 0x2E};
constexpr uint8_t kGsEnter[] = {0x1D, '1', ';', '1', 's', 'm', 'M'};
constexpr uint8_t kGsLeave[] = {0x1D, '0', ';', '1', 's', 'm', 'M'};
constexpr ShiftForm kIso2022{kEscDbcs, 3, kEscSbcs, 3, true};
constexpr ShiftForm kFsShift{kFsEnter, 2, kFsLeave, 2, false};
constexpr ShiftForm kGsShift{kGsEnter, 7, kGsLeave, 7, false};

// Writes the input with shift sequences around its double-byte runs.  Room
// for the closing sequence is kept while a run is open, so the output always
// ends in single-byte mode, also when the walk stops early.
uint32_t ShiftEncodeWalk(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen, Source src, PairFn pair,
                         const ShiftForm& form)
{
    Walk k(out, outLen, in, inLen);
    enum { kNothing, kSbcs, kDbcs } mode = form.designateFirst ? kNothing : kSbcs;
    while (k.i < k.n) {
        const CharKind kind = Classify(k, src);
        const int32_t shift = kind == kDouble ? (mode == kDbcs ? 0 : form.enterLen)
                                              : (mode == kSbcs ? 0 : form.leaveLen);
        // A double-byte character also needs the closing sequence kept free.
        const int32_t need = shift + (kind == kDouble ? 2 + form.leaveLen : 1);
        if (k.Room() < need)
            break;
        if (kind == kDouble) {
            if (mode != kDbcs)
                k.Put(form.enter, form.enterLen);
            mode = kDbcs;
            k.Pair(k.in[k.i], k.in[k.i + 1], pair);
            k.i += 2;
        } else {
            if (mode != kSbcs)
                k.Put(form.leave, form.leaveLen);
            mode = kSbcs;
            k.Put(kind == kKana ? k.in[k.i + 1] : k.in[k.i]);
            k.i += kind == kKana ? 2 : 1;
        }
    }
    if (mode == kDbcs)
        k.Put(form.leave, form.leaveLen);
    return k.End(outLen, inLen);
}

void EucToJis(uint8_t* a, uint8_t* b)
{
    *a = uint8_t(*a - 0x80);
    *b = uint8_t(*b - 0x80);
}

uint32_t CellsWalk(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen, bool l1)
{
    Walk k(out, outLen, in, inLen);
    while (k.i < k.n) {
        if (k.Room() < 2)
            break;
        const uint8_t b = k.in[k.i];
        const bool pair = k.Left() >= 2 &&
                          (l1 ? SjisNarrowLead(b) && SjisTrail(k.in[k.i + 1]) : b >= 0x80 && !SjisKana(b));
        if (pair) {
            k.Pair(b, k.in[k.i + 1], l1 ? rscpSjisToJisL1 : rscpSjisToJis);
            k.i += 2;
        } else {
            k.Put(0x00);
            k.Put(b);
            ++k.i;
        }
    }
    return k.End(outLen, inLen);
}

// The length of the leading run of double-byte characters with narrow leads.
int32_t NarrowRun(const uint8_t* in, int32_t n)
{
    int32_t i = 0;
    while (n - i >= 2 && SjisNarrowLead(in[i]) && SjisTrail(in[i + 1]))
        i += 2;
    return i;
}

}  // namespace

// ---- buffer transforms ------------------------------------------------------------------

uint32_t rscpSjisRunToEuc(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    Walk k(out, outLen, in, inLen);
    if (k.cap == 0)
        return k.Finish(outLen, inLen, RSCPETOOLONG);
    while (k.i < k.n) {
        if (k.Left() < 2 || !SjisNarrowLead(k.in[k.i]) || !SjisTrail(k.in[k.i + 1]))
            return k.Finish(outLen, inLen, RSCPENOCONV);
        if (k.Room() < 2)
            break;
        k.Pair(k.in[k.i], k.in[k.i + 1], rscpSjisToEuc);
        k.i += 2;
    }
    return k.End(outLen, inLen);
}

uint32_t rscpEucToSjisBuf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return EucToSjisWalk(out, outLen, in, inLen, false);
}

uint32_t rscpEucToSjisL1Buf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return EucToSjisWalk(out, outLen, in, inLen, true);
}

uint32_t rscpIso2022ToSjisBuf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return Iso2022DecodeWalk(out, outLen, in, inLen, rscpJisToSjis);
}

uint32_t rscpIso2022ToSjisL1Buf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return Iso2022DecodeWalk(out, outLen, in, inLen, rscpJisToSjisL1);
}

uint32_t rscpIso2022ToEucBuf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return Iso2022DecodeWalk(out, outLen, in, inLen, nullptr);
}

uint32_t rscpEucToIso2022Buf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return ShiftEncodeWalk(out, outLen, in, inLen, kEuc, EucToJis, kIso2022);
}

uint32_t rscpSjisToIso2022Buf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return ShiftEncodeWalk(out, outLen, in, inLen, kSjisWide, rscpSjisToJis, kIso2022);
}

uint32_t rscpSjisToIso2022L1Buf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return ShiftEncodeWalk(out, outLen, in, inLen, kSjisNarrow, rscpSjisToJisL1, kIso2022);
}

uint32_t rscpSjisToFsShiftBuf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return ShiftEncodeWalk(out, outLen, in, inLen, kSjisWide, rscpSjisToJis, kFsShift);
}

uint32_t rscpSjisToFsShiftL1Buf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return ShiftEncodeWalk(out, outLen, in, inLen, kSjisNarrow, rscpSjisToJisL1, kFsShift);
}

uint32_t rscpSjisToGsShiftBuf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return ShiftEncodeWalk(out, outLen, in, inLen, kSjisWide, rscpSjisToJis, kGsShift);
}

uint32_t rscpSjisToGsShiftL1Buf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return ShiftEncodeWalk(out, outLen, in, inLen, kSjisNarrow, rscpSjisToJisL1, kGsShift);
}

uint32_t rscpSjisToCellsBuf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return CellsWalk(out, outLen, in, inLen, false);
}

uint32_t rscpSjisToCellsL1Buf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    return CellsWalk(out, outLen, in, inLen, true);
}

uint32_t rscpSjisToEucBuf(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)
{
    if (out == nullptr || *outLen <= 0) {
        *outLen = 0;
        *inLen = 0;
        return RSCPETOOLONG;
    }
    // Half-width katakana grow from one byte to two, so converting in place
    // would overwrite input not yet read: overlapping input is copied first,
    // at most 256 bytes of it.
    uint8_t work[256];
    int32_t n = *inLen > 0 && in != nullptr ? *inLen : 0;
    const bool overlap = n > 0 && in < out + *outLen && out < in + n;
    if (overlap) {
        if (n > int32_t(sizeof work))
            n = sizeof work;
        std::memcpy(work, in, size_t(n));
        in = work;
    }
    Walk k(out, outLen, in, &n);
    while (k.i < k.n) {
        const uint8_t b = k.in[k.i];
        if (SjisWideLead(b) && k.Left() >= 2 && SjisTrail(k.in[k.i + 1])) {
            if (k.Room() < 2)
                break;
            k.Pair(b, k.in[k.i + 1], rscpSjisToEuc);
            k.i += 2;
        } else if (SjisKana(b)) {
            if (k.Room() < 2)
                break;
            k.Put(0x8E);
            k.Put(b);
            ++k.i;
        } else {
            if (k.Room() < 1)
                break;
            k.Put(b);
            ++k.i;
        }
    }
    // Only the bytes taken into the work area were offered.
    return k.Finish(outLen, inLen, k.i < k.n ? RSCPETOOLONG : RSCP_OK);
}

// ---- the double-byte dispatchers ---------------------------------------------------------

namespace {

typedef uint32_t (*BufFn)(uint8_t*, int32_t*, const uint8_t*, int32_t*);

uint32_t Dispatch(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen, const char* cp4, const BufFn fns[4])
{
    int32_t run = NarrowRun(in, in != nullptr && *inLen > 0 ? *inLen : 0);
    if (run == 0) {
        *outLen = 0;
        *inLen = 0;
        return RSCPENOCONV;
    }
    int which = 3;
    if (cp4 != nullptr && std::memcmp(cp4, "8200", 4) == 0)
        which = 0;
    else if (cp4 != nullptr && std::memcmp(cp4, "8210", 4) == 0)
        which = 1;
    else if (cp4 != nullptr && std::memcmp(cp4, "8211", 4) == 0)
        which = 2;
    const uint32_t rc = fns[which](out, outLen, in, &run);
    *inLen = run;
    return rc;
}

}  // namespace

uint32_t rscpSjisDbcsToJis(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen, const char* cp4)
{
    static const BufFn fns[4] = {rscpSjisToIso2022Buf, rscpSjisToFsShiftBuf, rscpSjisToGsShiftBuf, rscpSjisToCellsBuf};
    return Dispatch(out, outLen, in, inLen, cp4, fns);
}

uint32_t rscpSjisDbcsToJisL1(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen, const char* cp4)
{
    static const BufFn fns[4] = {rscpSjisToIso2022L1Buf, rscpSjisToFsShiftL1Buf, rscpSjisToGsShiftL1Buf,
                                 rscpSjisToCellsL1Buf};
    return Dispatch(out, outLen, in, inLen, cp4, fns);
}

// ---- EUC-JP character length --------------------------------------------------------------

int32_t rscpEucCharLen(const uint8_t* p, int32_t left)
{
    if (p == nullptr || left <= 0)
        return 0;
    if (p[0] < 0xA1 && p[0] != 0x8E)
        return 1;
    if (left == 1)
        return 0;
    return EucTrail(p[1]) ? 2 : 1;
}

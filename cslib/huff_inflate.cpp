// Deflate-style decoder.  Output goes straight into the caller's buffer; the
// last 16 KiB of earlier calls are kept in the state's window for matches
// that reach back across calls.  A fast loop runs while input and output are
// plentiful; the resumable state machine handles block headers and the edges,
// where a step may stop anywhere and continue on the next call.
#include "cslib/huff.h"

#include "cslib/csheader.h"
#include "cslib/cslib.h"
#include "cslib/huff_inflate.h"

#include <algorithm>
#include <cstring>

#include <emmintrin.h>

namespace huff {
namespace {

enum Mode {
    kPreambleCount,
    kPreambleFill,
    kBlockHeader,
    kDynCounts,
    kDynCodeLens,
    kDynLens,
    kSymbol,
    kDistance,
    kCopy,
    kDone,
};

inline uint64_t Load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline void Store64(uint8_t* p, uint64_t v)
{
    std::memcpy(p, &v, 8);
}
// One 16-byte load, then one store: source and target may overlap beyond
// the 16 bytes, never within them.
inline void Copy16(uint8_t* to, const uint8_t* from)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
}
inline uint64_t LowBits(uint64_t v, uint32_t n)
{
    return v & ((uint64_t{1} << n) - 1);
}
// The bits above a literal/length entry's code and extra bits, as many as
// the entry names for the lookup that follows it: one bit-field extract, as
// the entry holds the start in bits 0-7 and the width in bits 8-15.
template <bool kBmi>
inline uint64_t NextIndex(uint64_t bits, uint32_t e)
{
    if constexpr (kBmi) {
        // The control register's bits above 15 are ignored.
        uint64_t r;
        asm("bextr %q2, %1, %0" : "=r"(r) : "r"(bits), "r"(e));
        return r;
    } else {
        return LowBits(bits >> (e & 0xFF), (e >> 8) & 0xFF);
    }
}

// Space the fast loop keeps free behind the output position: one longest
// match plus the overrun of its copies.
constexpr ptrdiff_t kFastOutSlack = kMaxMatch + 48;

class Inflater {
public:
    Inflater(DecomprState* s, const uint8_t* in, const uint8_t* inEnd, uint8_t* out, uint8_t* outEnd)
        : s_(s),
          in_(in),
          inStart_(in),
          inEnd_(inEnd),
          out_(out),
          outBeg_(out),
          outEnd_(outEnd),
          bb_(s->bitBuf),
          bc_(s->bitCount)
    {
    }

    int Run();
    const uint8_t* InPos() const { return in_; }
    uint8_t* OutPos() const { return out_; }

    // Saves the bit buffer and, unless the stream is finished, appends this
    // call's output to the window.
    void Save(bool finished, bool mayGiveBack)
    {
        // Whole bytes loaded ahead in this call go back to the caller (never at
        // result 3: the caller then offers fresh input, not the rest).
        if (mayGiveBack) {
            const uint32_t giveBack = std::min<uint32_t>(bc_ >> 3, static_cast<uint32_t>(in_ - inStart_));
            in_ -= giveBack;
            bc_ -= giveBack * 8;
        }
        bb_ = LowBits(bb_, bc_);
        s_->bitBuf = bb_;
        s_->bitCount = bc_;
        s_->produced += static_cast<int32_t>(out_ - outBeg_);
        if (!finished)
            UpdateWindow();
    }

private:
    bool Pull()
    {
        if (in_ == inEnd_)
            return false;
        bb_ |= static_cast<uint64_t>(*in_++) << bc_;
        bc_ += 8;
        return true;
    }
    // Loads up to 7 bytes at once when 8 are there.  Bits above the count are
    // then the true next bits, so later single-byte pulls OR in the same bits.
    void Refill()
    {
        if (inEnd_ - in_ >= 8) {
            bb_ |= Load64(in_) << bc_;
            in_ += (63 - bc_) >> 3;
            bc_ |= 56;
        }
    }
    bool Need(uint32_t n)
    {
        while (bc_ < n)
            if (!Pull())
                return false;
        return true;
    }
    void Drop(uint32_t n)
    {
        bb_ >>= n;
        bc_ -= n;
    }
    // Entry of the next code, without consuming it; false when the input ran
    // out before the code was complete.
    bool Peek(const uint32_t* t, int root, uint32_t& e)
    {
        for (;;) {
            e = t[LowBits(bb_, root)];
            if (EntryKindOf(e) == kLink)
                e = t[EntryValue(e) + LowBits(bb_ >> root, EntryLen(e))];
            if (EntryLen(e) <= bc_)
                return true;
            if (!Pull())
                return false;
        }
    }
    // The same for the literal/length code, whose entries are laid out apart.
    bool PeekLit(uint32_t& e)
    {
        const uint32_t* const t = LitTable();
        for (;;) {
            e = t[LowBits(bb_, kLitLenRoot)];
            if (LitIsRare(e) && LitKind(e) == kLitLink)
                e = t[LitLinkOffset(e) + LowBits(bb_ >> kLitLenRoot, LitLinkBits(e))];
            if (LitCodeLen(e) <= bc_)
                return true;
            if (!Pull())
                return false;
        }
    }
    // Consumes an entry's code and extra bits (all buffered); returns the value
    // plus the extra bits.
    uint32_t Take(uint32_t e)
    {
        const uint32_t v = EntryValue(e) + static_cast<uint32_t>(LowBits(bb_, EntryTotal(e)) >> EntryLen(e));
        Drop(EntryTotal(e));
        return v;
    }
    uint32_t ProducedSoFar() const { return static_cast<uint32_t>(s_->produced + (out_ - outBeg_)); }
    uint32_t Remaining() const { return static_cast<uint32_t>(s_->total) - ProducedSoFar(); }
    const uint32_t* LitTable() const { return s_->fixed ? FixedLitLenTable() : s_->pool; }
    const uint32_t* DistTable() const { return s_->fixed ? FixedDistTable() : s_->pool + s_->distTableAt; }

    int BuildDynamicTables();
    int CheckDistance(uint32_t dist) const
    {
        return (dist > kWindowSize || dist > ProducedSoFar()) ? CS_E_HUFF_DATA : 0;
    }
    void CopyMatch(uint32_t dist, uint32_t len);
    void UpdateWindow();
    // The fast loop, compiled twice: for processors with the BMI1 and BMI2
    // bit operations (which take the bit-field extracts and the many variable
    // shifts and masks in one instruction each) and for all others; FastLoop
    // picks one.
    int FastLoop();
    __attribute__((target("bmi,bmi2"))) int FastLoopBmi2();
    int FastLoopPlain();
    template <bool kBmi>
    __attribute__((always_inline)) inline int FastLoopBody();

    DecomprState* s_;
    const uint8_t* in_;
    const uint8_t* const inStart_;
    const uint8_t* const inEnd_;
    uint8_t* out_;
    uint8_t* const outBeg_;
    uint8_t* const outEnd_;
    uint64_t bb_;
    uint32_t bc_;
};

// Copies len bytes from dist back; the part that lies before this call's
// output comes from the window.  The distance has been checked.
void Inflater::CopyMatch(uint32_t dist, uint32_t len)
{
    const uint32_t inCall = static_cast<uint32_t>(out_ - outBeg_);
    if (dist > inCall) {
        const uint32_t back = dist - inCall;
        uint32_t from = (s_->wnext + kWindowSize - back) & (kWindowSize - 1);
        uint32_t take = std::min(len, back);
        len -= take;
        while (take) {
            const uint32_t n = std::min(take, static_cast<uint32_t>(kWindowSize) - from);
            std::memcpy(out_, s_->window + from, n);
            out_ += n;
            take -= n;
            from = (from + n) & (kWindowSize - 1);
        }
    }
    const uint8_t* src = out_ - dist;
    if (dist >= len) {
        std::memcpy(out_, src, len);
        out_ += len;
    } else {
        while (len--)
            *out_++ = *src++;
    }
}

void Inflater::UpdateWindow()
{
    const size_t n = static_cast<size_t>(out_ - outBeg_);
    if (n == 0)
        return;
    if (n >= static_cast<size_t>(kWindowSize)) {
        std::memcpy(s_->window, out_ - kWindowSize, kWindowSize);
        s_->wnext = 0;
        s_->whave = kWindowSize;
        return;
    }
    const size_t first = std::min(n, static_cast<size_t>(kWindowSize - s_->wnext));
    std::memcpy(s_->window + s_->wnext, outBeg_, first);
    std::memcpy(s_->window, outBeg_ + first, n - first);
    s_->wnext = static_cast<uint32_t>((s_->wnext + n) & (kWindowSize - 1));
    s_->whave = static_cast<uint32_t>(std::min<size_t>(s_->whave + n, kWindowSize));
}

int Inflater::BuildDynamicTables()
{
    if (s_->lens[kEndBlock] == 0)
        return CS_E_BAD_LENGTHS;  // no end-of-block code
    int usedL = 0, usedD = 0;
    int rc = BuildDecodeTable(s_->lens, static_cast<int>(s_->nlen), kLitLenRoot, Alphabet::kLitLen, s_->pool,
                              kCodeLenTableAt, &usedL);
    if (rc)
        return rc;
    s_->distTableAt = static_cast<uint32_t>(usedL);
    rc = BuildDecodeTable(s_->lens + s_->nlen, static_cast<int>(s_->ndist), kDistRoot, Alphabet::kDist,
                          s_->pool + usedL, kCodeLenTableAt - usedL, &usedD);
    return rc;
}

// Decodes symbols while at least 16 input bytes remain and the output has room
// for a longest match plus slack before both its end and the stream's end.
// Returns 0 when it stops for lack of room (mode stays kSymbol), 1 at an
// end-of-block code (mode set), or a negative code.
int Inflater::FastLoop()
{
    static const bool bmi2 = __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    return bmi2 ? FastLoopBmi2() : FastLoopPlain();
}

int Inflater::FastLoopBmi2()
{
    return FastLoopBody<true>();
}
int Inflater::FastLoopPlain()
{
    return FastLoopBody<false>();
}

template <bool kBmi>
inline int Inflater::FastLoopBody()
{
    const uint32_t* const lt = LitTable();
    const uint32_t* const dt = DistTable();
    const ptrdiff_t remaining = static_cast<ptrdiff_t>(Remaining());
    const ptrdiff_t room = outEnd_ - out_;
    uint8_t* const outLimit = out_ + std::min(room - kFastOutSlack, remaining - kMaxMatch);
    int rc = 0;
    uint64_t bb = bb_;
    uint32_t bc = bc_;
    const uint8_t* in = in_;
    uint8_t* out = out_;
    // Up to two refills of 8 bytes in a round.
    const uint8_t* const inLimit = inEnd_ - 16;
    uint8_t* const outBeg = outBeg_;
    // A refill leaves all 64 bits of the buffer true input bits, counted or
    // not, and a round takes at most 48 bits after its last refill.  So:
    // - each round's first entry is looked up as soon as the round before has
    //   taken its bits, ahead of that round's copy, and the refill at the top
    //   of the round does not change it;
    // - a literal/length entry gives, straight from the bits before its code,
    //   the index of what follows it (one bit-field extract): both the next
    //   literal/length entry and the distance entry are looked up there before
    //   the test which of the two it is, and whichever way the test goes, the
    //   next entry is at hand.  Rare entries undo the taking.
    bb |= Load64(in) << bc;
    in += (63 - bc) >> 3;
    bc |= 56;
    uint32_t e = lt[LowBits(bb, kLitLenRoot)];
    while (out < outLimit && in <= inLimit) {
        bb |= Load64(in) << bc;
        in += (63 - bc) >> 3;
        bc |= 56;
        uint64_t saved = bb;
        uint64_t at = NextIndex<kBmi>(bb, e);
        bb >>= EntryTotal(e);
        bc -= EntryTotal(e);
        uint32_t next = lt[at];
        uint32_t d = dt[at];
        if (LitIsLiteral(e)) {
            // Two literals per refill: 56 buffered bits hold both codes.
            *out++ = static_cast<uint8_t>(LitByte(e));
            e = next;
            saved = bb;
            at = NextIndex<kBmi>(bb, e);
            bb >>= EntryTotal(e);
            bc -= EntryTotal(e);
            next = lt[at];
            d = dt[at];
            if (LitIsLiteral(e)) {
                *out++ = static_cast<uint8_t>(LitByte(e));
                e = next;
                continue;
            }
            if (!LitIsRare(e)) {
                // A length after a literal: its distance may need more bits than
                // are left.  A refill only adds bits above those looked up.
                bb |= Load64(in) << bc;
                in += (63 - bc) >> 3;
                bc |= 56;
            }
        }
        if (LitIsRare(e)) {
            // A subtable, the block's end or a code no symbol has: its bits go
            // back, and it is decoded as it comes.
            bb = saved;
            bc += EntryTotal(e);
            bb |= Load64(in) << bc;
            in += (63 - bc) >> 3;
            bc |= 56;
            if (LitKind(e) == kLitLink) {
                e = lt[LitLinkOffset(e) + LowBits(bb >> kLitLenRoot, LitLinkBits(e))];
                if (LitIsLiteral(e)) {
                    bb >>= EntryTotal(e);
                    bc -= EntryTotal(e);
                    *out++ = static_cast<uint8_t>(LitByte(e));
                    e = lt[LowBits(bb, kLitLenRoot)];
                    continue;
                }
            }
            if (LitIsRare(e)) {
                if (LitKind(e) == kLitEnd) {
                    bb >>= EntryTotal(e);
                    bc -= EntryTotal(e);
                    rc = 1;
                } else {
                    rc = CS_E_HUFF_DATA;  // length code 286/287
                }
                break;
            }
            saved = bb;
            bb >>= EntryTotal(e);
            bc -= EntryTotal(e);
            d = dt[LowBits(bb, kDistRoot)];
        }
        // A length: its code length, in the bits above the base, is also
        // the shift of its extra bits.
        const uint32_t len = LitLengthBase(e) +
                             static_cast<uint32_t>(LowBits(saved, EntryTotal(e)) >> ((e >> 16) & 63));
        e = d;
        if (IsRare(e)) {
            if (EntryKindOf(e) == kLink)
                e = dt[EntryValue(e) + LowBits(bb >> kDistRoot, EntryLen(e))];
            if (EntryKindOf(e) != kBase) {
                rc = CS_E_HUFF_DATA;
                break;
            }
        }
        const uint32_t dist = EntryValue(e) + static_cast<uint32_t>(LowBits(bb, EntryTotal(e)) >> ((e >> 8) & 63));
        bb >>= EntryTotal(e);
        bc -= EntryTotal(e);
        e = lt[LowBits(bb, kLitLenRoot)];
        // The table holds no distance beyond the window; one reaching before
        // this call's output must still lie within the stream.
        const uint32_t inCall = static_cast<uint32_t>(out - outBeg);
        if (dist > inCall) {
            if (dist > static_cast<uint32_t>(s_->produced) + inCall) {
                rc = CS_E_HUFF_DATA;
                break;
            }
            out_ = out;
            CopyMatch(dist, len);
            out = out_;
            continue;
        }
        const uint8_t* src = out - dist;
        uint8_t* const end = out + len;
        if (dist >= 16) {
            // Most matches are short: three 16-byte copies without a length test.
            Copy16(out, src);
            Copy16(out + 16, src + 16);
            Copy16(out + 32, src + 32);
            if (len > 48) {
                out += 48;
                src += 48;
                do {
                    Copy16(out, src);
                    out += 16;
                    src += 16;
                } while (out < end);
            }
        } else if (dist >= 8) {
            // Most matches are short: five words without a length test.
            Store64(out, Load64(src));
            Store64(out + 8, Load64(src + 8));
            Store64(out + 16, Load64(src + 16));
            Store64(out + 24, Load64(src + 24));
            Store64(out + 32, Load64(src + 32));
            if (len > 40) {
                out += 40;
                src += 40;
                do {
                    Store64(out, Load64(src));
                    Store64(out + 8, Load64(src + 8));
                    out += 16;
                    src += 16;
                } while (out < end);
            }
        } else if (dist == 1) {
            const uint64_t v = src[0] * 0x0101010101010101ull;
            do {
                Store64(out, v);
                out += 8;
            } while (out < end);
        } else {
            // Distances 2 to 7: each 8-byte copy makes dist more bytes right.
            do {
                Store64(out, Load64(src));
                out += dist;
                src += dist;
            } while (out < end);
        }
        out = end;
    }
    // Give back whole bytes that were loaded in this call but not used.
    const uint32_t giveBack = std::min<uint32_t>(bc >> 3, static_cast<uint32_t>(in - inStart_));
    in -= giveBack;
    bc -= giveBack * 8;
    bb = LowBits(bb, bc);
    bb_ = bb;
    bc_ = bc;
    in_ = in;
    out_ = out;
    if (rc == 1) {
        if (s_->last && Remaining() > 0)
            return CS_E_HUFF_DATA;  // last block ends early
        s_->mode = kBlockHeader;
    }
    return rc;
}

int Inflater::Run()
{
    DecomprState* const s = s_;
    if (s->mode != kCopy && Remaining() == 0) {
        s->mode = kDone;
        return CS_END_OF_STREAM;
    }
    for (;;) {
        switch (s->mode) {
        case kPreambleCount:
            if (!Need(2))
                return CS_END_INBUFFER;
            s->preambleBits = static_cast<uint32_t>(bb_ & 3);
            Drop(2);
            s->mode = kPreambleFill;
            [[fallthrough]];
        case kPreambleFill:
            if (!Need(s->preambleBits))
                return CS_END_INBUFFER;
            Drop(s->preambleBits);
            s->mode = kBlockHeader;
            [[fallthrough]];
        case kBlockHeader: {
            if (Remaining() == 0) {
                s->mode = kDone;
                return CS_END_OF_STREAM;
            }
            if (s->last)
                return CS_E_HUFF_DATA;  // the last block ended before the length was reached
            if (!Need(3))
                return CS_END_INBUFFER;
            s->last = (bb_ & 1) != 0;
            const uint32_t type = static_cast<uint32_t>((bb_ >> 1) & 3);
            if (type != 1 && type != 2)
                return CS_E_BLOCK_TYPE;
            Drop(3);
            if (type == 1) {
                s->fixed = true;
                s->mode = kSymbol;
            } else {
                s->fixed = false;
                s->mode = kDynCounts;
            }
            break;
        }
        case kDynCounts:
            if (!Need(14))
                return CS_END_INBUFFER;
            s->nlen = 257 + static_cast<uint32_t>(bb_ & 31);
            s->ndist = 1 + static_cast<uint32_t>((bb_ >> 5) & 31);
            s->ncode = 4 + static_cast<uint32_t>((bb_ >> 10) & 15);
            Drop(14);
            if (s->nlen > kLitLenCodes || s->ndist > kDistCodes)
                return CS_E_BAD_COUNTS;
            s->have = 0;
            s->mode = kDynCodeLens;
            [[fallthrough]];
        case kDynCodeLens: {
            while (s->have < s->ncode) {
                if (!Need(3))
                    return CS_END_INBUFFER;
                s->lens[kBitLenOrder[s->have++]] = static_cast<uint8_t>(bb_ & 7);
                Drop(3);
            }
            while (s->have < kBitLenCodes)
                s->lens[kBitLenOrder[s->have++]] = 0;
            int used = 0;
            const int rc = BuildDecodeTable(s->lens, kBitLenCodes, kCodeLenRoot, Alphabet::kCodeLen,
                                            s->pool + kCodeLenTableAt, kPoolSize - kCodeLenTableAt, &used);
            if (rc)
                return rc;
            s->have = 0;
            s->mode = kDynLens;
            [[fallthrough]];
        }
        case kDynLens: {
            const uint32_t* ct = s->pool + kCodeLenTableAt;
            const uint32_t total = s->nlen + s->ndist;
            while (s->have < total) {
                if (bc_ < 14)
                    Refill();
                uint32_t e;
                if (!Peek(ct, kCodeLenRoot, e))
                    return CS_END_INBUFFER;
                const uint32_t sym = EntryValue(e);
                const uint32_t len = EntryLen(e);
                if (sym < 16) {
                    Drop(len);
                    s->lens[s->have++] = static_cast<uint8_t>(sym);
                    continue;
                }
                const uint32_t extra = sym == 16 ? 2 : sym == 17 ? 3 : 7;
                if (!Need(len + extra))
                    return CS_END_INBUFFER;
                Drop(len);
                uint32_t repeat;
                uint8_t value = 0;
                if (sym == 16) {
                    if (s->have == 0)
                        return CS_E_BAD_REPEAT;
                    value = s->lens[s->have - 1];
                    repeat = 3 + static_cast<uint32_t>(bb_ & 3);
                } else if (sym == 17) {
                    repeat = 3 + static_cast<uint32_t>(bb_ & 7);
                } else {
                    repeat = 11 + static_cast<uint32_t>(bb_ & 127);
                }
                Drop(extra);
                if (s->have + repeat > total)
                    return CS_E_BAD_REPEAT;
                std::memset(s->lens + s->have, value, repeat);
                s->have += repeat;
            }
            const int rc = BuildDynamicTables();
            if (rc)
                return rc;
            s->mode = kSymbol;
            break;
        }
        case kSymbol: {
            if (Remaining() == 0) {
                s->mode = kDone;
                return CS_END_OF_STREAM;
            }
            if (out_ == outEnd_)
                return CS_END_OUTBUFFER;
            if (inEnd_ - in_ >= 24 && outEnd_ - out_ > kFastOutSlack + 16 && Remaining() > kMaxMatch + 16) {
                const int rc = FastLoop();
                if (rc < 0)
                    return rc;
                if (rc == 1)
                    break;  // end of block: mode changed
                // Fell out for lack of room: continue one symbol at a time.
                if (Remaining() == 0 || out_ == outEnd_)
                    break;
            }
            uint32_t e;
            if (!PeekLit(e))
                return CS_END_INBUFFER;
            if (LitIsLiteral(e)) {
                Drop(EntryTotal(e));
                *out_++ = static_cast<uint8_t>(LitByte(e));
                break;
            }
            if (LitIsRare(e) && LitKind(e) == kLitEnd) {
                Drop(LitCodeLen(e));
                if (s->last)
                    return CS_E_HUFF_DATA;  // ends before the stream's length
                s->mode = kBlockHeader;
                break;
            }
            if (LitIsRare(e))
                return CS_E_HUFF_DATA;  // length code 286/287
            if (!Need(EntryTotal(e)))
                return CS_END_INBUFFER;
            s->matchLen = LitLengthBase(e) + static_cast<uint32_t>(LowBits(bb_, EntryTotal(e)) >> LitCodeLen(e));
            Drop(EntryTotal(e));
            s->mode = kDistance;
            [[fallthrough]];
        }
        case kDistance: {
            uint32_t e;
            if (!Peek(DistTable(), kDistRoot, e))
                return CS_END_INBUFFER;
            if (EntryKindOf(e) != kBase)
                return CS_E_HUFF_DATA;
            if (!Need(EntryTotal(e)))
                return CS_END_INBUFFER;
            const uint32_t dist = Take(e);
            if (const int rc = CheckDistance(dist))
                return rc;
            s->matchDist = dist;
            s->mode = kCopy;
            [[fallthrough]];
        }
        case kCopy: {
            const uint32_t n = std::min({s->matchLen, static_cast<uint32_t>(outEnd_ - out_), Remaining()});
            CopyMatch(s->matchDist, n);
            s->matchLen -= n;
            if (s->matchLen == 0) {
                s->mode = kSymbol;
                break;
            }
            if (Remaining() == 0) {
                s->mode = kDone;
                return CS_END_OF_STREAM;
            }
            return CS_END_OUTBUFFER;
        }
        case kDone:
            return CS_END_OF_STREAM;
        default:
            return CS_E_HUFF_DATA;
        }
    }
}

}  // namespace
}  // namespace huff

using namespace huff;

size_t CsHuffDecomprStateSize()
{
    return sizeof(DecomprState);
}

int CsHuffDecompress(void* state, bool first, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen,
                     int32_t* read, int32_t* written)
{
    *read = 0;
    *written = 0;
    if (inLen < 0)
        return CS_E_IN_TOO_SMALL;
    if (outLen < 0)
        return CS_E_OUT_TOO_SMALL;
    if ((inLen > 0 && !in) || (outLen > 0 && !out))
        return CS_E_NULL_BUFFER;
    auto* s = static_cast<DecomprState*>(state);
    int32_t inPos = 0;
    if (first) {
        if (inLen < CS_HEAD_SIZE)
            return CS_E_IN_TOO_SMALL;
        const int32_t total = CsHeaderLength(in);
        if (total < 0)
            return CS_E_HEADER;
        s->magic = kDecomprMagic;
        s->mode = kPreambleCount;
        s->total = total;
        s->produced = 0;
        s->bitBuf = 0;
        s->bitCount = 0;
        s->last = false;
        s->fixed = true;
        s->preambleBits = 0;
        s->matchLen = s->matchDist = 0;
        s->whave = s->wnext = 0;
        inPos = CS_HEAD_SIZE;
        if (inLen == CS_HEAD_SIZE) {
            *read = CS_HEAD_SIZE;
            return CS_END_INBUFFER;
        }
    } else {
        if (s->magic != kDecomprMagic)
            return CS_E_NOT_INIT;
        if (inLen == 0 && outLen == 0)
            return CS_E_NO_BUFFERS;
    }
    static uint8_t none[1];
    if (!in)
        in = none;
    if (!out)
        out = none;
    Inflater inf(s, in + inPos, in + inLen, out, out + outLen);
    const int rc = inf.Run();
    inf.Save(rc == CS_END_OF_STREAM || rc < 0, rc != CS_END_INBUFFER);
    *read = static_cast<int32_t>(inf.InPos() - in);
    *written = static_cast<int32_t>(inf.OutPos() - out);
    return rc;
}

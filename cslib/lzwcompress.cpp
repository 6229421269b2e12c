// LZW-style coder: block-mode LZW with codes of 9 up to 13 bits, an open
// addressing hash of 9001 entries with the secondary probe, a ratio test every
// 4096 input bytes once the table is full, and the clear code when the ratio
// stops improving.  Codes go out in groups of 8; a width change or a clear
// code writes the partly filled group out whole.
#include <algorithm>
#include <cstring>

#include "cslib/csheader.h"
#include "cslib/cslib.h"
#include "cslib/lzw.h"

namespace {

inline void ClearHash(LzwComprState& s)
{
    std::fill_n(s.htab, LZW_HSIZE, int64_t{-1});
}

// Moves the first n bytes of the group to the pending bytes and starts a new group.
inline void EmitGroup(LzwComprState& s, int32_t n)
{
    LzwGroupOut& g = s.out;
    std::memcpy(g.pend + g.pendLen, g.grp, static_cast<size_t>(n));
    g.pendLen += n;
    s.outCount += n;
    std::memset(g.grp, 0, sizeof g.grp);
    g.grpBits = 0;
}

inline void PutBits(LzwGroupOut& g, int32_t code)
{
    uint8_t* p = g.grp + (g.grpBits >> 3);
    const uint32_t v = static_cast<uint32_t>(code) << (g.grpBits & 7);
    p[0] |= static_cast<uint8_t>(v);
    p[1] |= static_cast<uint8_t>(v >> 8);
    p[2] |= static_cast<uint8_t>(v >> 16);
}

// Writes one code and handles a full group, a width change and a clear.
inline void OutputCode(LzwComprState& s, int32_t code)
{
    LzwGroupOut& g = s.out;
    PutBits(g, code);
    g.grpBits += s.nBits;
    if (g.grpBits == s.nBits * 8)
        EmitGroup(s, s.nBits);
    if (s.freeEnt > s.maxCode || s.clearFlag) {
        // The reader learns of the change only after the whole group: send it all.
        if (g.grpBits > 0)
            EmitGroup(s, s.nBits);
        if (s.clearFlag) {
            s.nBits = LZW_INIT_BITS;
            s.maxCode = (1 << LZW_INIT_BITS) - 1;
            s.clearFlag = 0;
        } else {
            ++s.nBits;
            s.maxCode = s.nBits == s.maxBits ? s.maxMaxCode : (1 << s.nBits) - 1;
        }
    }
}

// The table is full: every 4096 input bytes compare the compression ratio
// with the last one and start a new table when it no longer improves.
void CheckRatio(LzwComprState& s)
{
    s.checkpoint = s.inCount + LZW_CHECK_GAP;
    int64_t rat;
    if (s.inCount > 0x007FFFFF) {
        const int64_t d = s.outCount >> 8;
        rat = d == 0 ? 0x7FFFFFFF : s.inCount / d;
    } else {
        rat = (s.inCount << 8) / s.outCount;
    }
    if (rat > s.ratio) {
        s.ratio = rat;
    } else {
        s.ratio = 0;
        ClearHash(s);
        s.freeEnt = LZW_FIRST;
        s.clearFlag = 1;
        OutputCode(s, LZW_CLEAR);
    }
}

// Hands pending bytes to the caller's output as far as it has room.
inline void Drain(LzwGroupOut& g, uint8_t* out, int32_t outLen, int32_t& op)
{
    if (g.pendLen == 0)
        return;
    const int32_t n = std::min(g.pendLen, outLen - op);
    if (n <= 0)
        return;
    std::memcpy(out + op, g.pend, static_cast<size_t>(n));
    op += n;
    g.pendLen -= n;
    if (g.pendLen > 0)
        std::memmove(g.pend, g.pend + n, static_cast<size_t>(g.pendLen));
}

}  // namespace

int CsLzwCompress(LzwComprState* s, bool first, bool segmented, int32_t streamLen, const uint8_t* in, int32_t inLen,
                  uint8_t* out, int32_t outLen, int32_t* read, int32_t* written)
{
    *read = 0;
    *written = 0;
    if (outLen < 0 || (first && outLen < CS_HEAD_SIZE))
        return CS_E_OUT_TOO_SMALL;
    if (inLen < 0)
        return CS_E_IN_TOO_SMALL;
    if ((inLen > 0 && in == nullptr) || (outLen > 0 && out == nullptr))
        return CS_E_NULL_BUFFER;
    if (inLen > 0 && outLen > 0 && static_cast<const void*>(in) == static_cast<const void*>(out))
        return CS_E_SAME_BUFFER;

    int32_t op = 0;
    if (first) {
        if (streamLen < 1)
            return CS_E_STREAM_LEN;
        s->maxBits = LZW_WRITE_BITS;
        s->maxMaxCode = 1 << LZW_WRITE_BITS;
        s->nBits = LZW_INIT_BITS;
        s->maxCode = (1 << LZW_INIT_BITS) - 1;
        s->freeEnt = LZW_FIRST;
        s->clearFlag = 0;
        s->ent = 0;
        s->havePrefix = 0;
        s->endState = 0;
        s->streamLen = streamLen;
        s->inCount = 0;
        s->outCount = CS_HEAD_SIZE;
        s->checkpoint = LZW_CHECK_GAP;
        s->ratio = 0;
        std::memset(&s->out, 0, sizeof s->out);
        ClearHash(*s);
        CsWriteHeader(out, streamLen, CS_ALG_LZC, segmented ? CS_HEAD_SEGMENTED : 0, 0x80 | LZW_WRITE_BITS);
        op = CS_HEAD_SIZE;
    }

    LzwGroupOut& g = s->out;
    Drain(g, out, outLen, op);
    if (g.pendLen > 0) {
        *written = op;
        return CS_END_OUTBUFFER;
    }
    if (s->endState == 2) {
        *written = op;
        return CS_END_OF_STREAM;
    }

    // Input beyond the stream length is ignored.
    const int64_t want = static_cast<int64_t>(s->streamLen) - s->inCount;
    const int32_t avail = static_cast<int32_t>(std::min<int64_t>(inLen, want));
    int32_t pos = 0;
    if (!s->havePrefix && avail > 0) {
        s->ent = in[0];
        s->havePrefix = 1;
        s->inCount = 1;
        pos = 1;
    }

    int64_t* const htab = s->htab;
    uint16_t* const codetab = s->codetab;
    const int maxBits = s->maxBits;
    int32_t ent = s->ent;
    const int64_t countBase = s->inCount - pos;  // input count = countBase + pos
    while (pos < avail) {
        const int32_t c = in[pos++];
        const int64_t fcode = (static_cast<int64_t>(c) << maxBits) + ent;
        int32_t i = (c << LZW_HSHIFT) ^ ent;
        if (htab[i] == fcode) {
            ent = codetab[i];
            continue;
        }
        if (htab[i] >= 0) {
            const int32_t disp = i == 0 ? 1 : LZW_HSIZE - i;
            bool found = false;
            do {
                i -= disp;
                if (i < 0)
                    i += LZW_HSIZE;
                if (htab[i] == fcode) {
                    found = true;
                    break;
                }
            } while (htab[i] >= 0);
            if (found) {
                ent = codetab[i];
                continue;
            }
        }
        OutputCode(*s, ent);
        ent = c;
        if (s->freeEnt < s->maxMaxCode) {
            codetab[i] = static_cast<uint16_t>(s->freeEnt++);
            htab[i] = fcode;
        } else if (countBase + pos >= s->checkpoint) {
            s->inCount = countBase + pos;
            CheckRatio(*s);
        }
        if (g.pendLen > 0) {
            Drain(g, out, outLen, op);
            if (g.pendLen > 0)
                break;
        }
    }
    s->ent = ent;
    s->inCount = countBase + pos;

    if (s->havePrefix && s->inCount == s->streamLen) {
        // Last code, then the partial group rounded up to whole bytes; no width
        // change follows the last code.
        PutBits(g, ent);
        g.grpBits += s->nBits;
        if (g.grpBits > 0)
            EmitGroup(*s, (g.grpBits + 7) >> 3);
        s->endState = 2;
        Drain(g, out, outLen, op);
    }
    *read = pos;
    *written = op;
    if (g.pendLen > 0)
        return CS_END_OUTBUFFER;
    if (s->endState == 2)
        return CS_END_OF_STREAM;
    return CS_END_INBUFFER;
}

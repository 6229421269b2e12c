// LZW-style decoder: reads codes group by group (a group holds 8 codes and has
// as many bytes as the width has bits), follows width changes and clear codes
// by abandoning the rest of the current group, and unwinds strings through the
// prefix table onto a stack.  Every code is checked against the table, so no
// input can walk stale or unset entries.
#include <algorithm>
#include <cstring>

#include "cslib/csheader.h"
#include "cslib/cslib.h"
#include "cslib/lzw.h"

namespace {

// Abandons the rest of the current group: bytes of it not yet received are
// skipped when they arrive.
inline void AbandonGroup(LzwDecomprState& s)
{
    if (s.grpOff > 0)
        s.skip = s.nBits - s.grpHave;
    s.grpOff = 0;
    s.grpHave = 0;
}

// The first code a new string gets: 257 in block mode, where 256 is the
// clear code, else 256.
inline int32_t FirstFreeCode(const LzwDecomprState& s)
{
    return s.blockMode ? LZW_FIRST : LZW_CLEAR;
}

inline int32_t MaxCodeFor(const LzwDecomprState& s)
{
    return s.nBits == s.maxBits ? s.maxMaxCode : (1 << s.nBits) - 1;
}

}  // namespace

int CsLzwDecompress(LzwDecomprState* s, bool first, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen,
                    int32_t* read, int32_t* written)
{
    *read = 0;
    *written = 0;
    if (inLen < 0)
        return CS_E_IN_TOO_SMALL;
    if (outLen < 0)
        return CS_E_OUT_TOO_SMALL;
    if ((inLen > 0 && in == nullptr) || (outLen > 0 && out == nullptr))
        return CS_E_NULL_BUFFER;
    if (inLen > 0 && outLen > 0 && static_cast<const void*>(in) == static_cast<const void*>(out))
        return CS_E_SAME_BUFFER;

    int32_t ip = 0;
    int32_t op = 0;
    auto finish = [&](int rc) {
        *read = ip;
        *written = op;
        return rc;
    };

    if (first) {
        if (inLen < CS_HEAD_SIZE)
            return CS_E_IN_TOO_SMALL;
        const int32_t len = CsHeaderLength(in);
        if (len < 0)
            return CS_E_HEADER;
        const int param = CsHeaderParam(in);
        const int maxBits = param & 0x1F;
        if (maxBits < LZW_INIT_BITS || maxBits > LZW_READ_MAX_BITS)
            return CS_E_MAX_BITS;
        s->maxBits = maxBits;
        s->maxMaxCode = 1 << maxBits;
        s->blockMode = (param & 0x80) != 0;
        s->nBits = LZW_INIT_BITS;
        s->maxCode = MaxCodeFor(*s);
        // In block mode 256 is the clear code and new strings start at 257;
        // without it there is no clear code and 256 is the first new string.
        s->freeEnt = FirstFreeCode(*s);
        s->firstCode = 1;
        s->oldCode = 0;
        s->finChar = 0;
        s->remaining = len;
        std::memset(s->grp, 0, sizeof s->grp);
        s->grpHave = 0;
        s->grpOff = 0;
        s->skip = 0;
        s->stackTop = 0;
        for (int c = 0; c < 256; ++c) {
            s->prefix[c] = 0;
            s->suffix[c] = static_cast<uint8_t>(c);
            s->lens[c] = 1;
        }
        ip = CS_HEAD_SIZE;
        if (s->remaining == 0)
            return finish(CS_END_OF_STREAM);
        if (outLen == 0)
            return finish(CS_END_OUTBUFFER);
        if (ip == inLen)
            return finish(CS_END_INBUFFER);
    } else {
        if (s->remaining == 0)
            return finish(CS_END_OF_STREAM);
        if (outLen < 1)
            return CS_E_OUT_TOO_SMALL;
    }

    uint16_t* const prefix = s->prefix;
    uint8_t* const suffix = s->suffix;
    uint8_t* const stack = s->stack;
    uint16_t* const lens = s->lens;
    for (;;) {
        // Hand out the rest of the current string.
        if (s->stackTop > 0) {
            int32_t n = std::min({s->stackTop, outLen - op, s->remaining});
            s->remaining -= n;
            int32_t top = s->stackTop;
            uint8_t* o = out + op;
            op += n;
            while (n-- > 0)
                *o++ = stack[--top];
            s->stackTop = top;
            if (s->remaining == 0) {
                s->stackTop = 0;
                return finish(CS_END_OF_STREAM);
            }
            if (top > 0)
                return finish(CS_END_OUTBUFFER);
        }
        if (op == outLen)
            return finish(CS_END_OUTBUFFER);

        if (s->skip > 0) {
            const int32_t n = std::min(s->skip, inLen - ip);
            ip += n;
            s->skip -= n;
            if (s->skip > 0)
                return finish(CS_END_INBUFFER);
        }

        // Collect the bytes the next code needs, and only those.
        const int32_t need = (s->grpOff + s->nBits + 7) >> 3;
        if (s->grpHave < need) {
            const int32_t n = std::min(need - s->grpHave, inLen - ip);
            // One or two bytes per code: a plain loop beats a library call.
            for (int32_t k = 0; k < n; ++k)
                s->grp[s->grpHave + k] = in[ip + k];
            if (n > 0) {
                s->grpHave += n;
                ip += n;
            }
            if (s->grpHave < need)
                return finish(CS_END_INBUFFER);
        }
        const uint8_t* g = s->grp + (s->grpOff >> 3);
        const uint32_t v = static_cast<uint32_t>(g[0]) | (static_cast<uint32_t>(g[1]) << 8) |
                           (static_cast<uint32_t>(g[2]) << 16);
        int32_t code = static_cast<int32_t>((v >> (s->grpOff & 7)) & ((1u << s->nBits) - 1));
        s->grpOff += s->nBits;
        if (s->grpOff == s->nBits * 8) {
            s->grpOff = 0;
            s->grpHave = 0;
        }

        if (s->firstCode) {
            // The first code of the stream or after a clear must be a plain byte.
            if (code >= 256)
                return finish(CS_E_BAD_CODE);
            s->freeEnt = FirstFreeCode(*s);
            s->oldCode = code;
            s->finChar = code;
            s->firstCode = 0;
            stack[0] = static_cast<uint8_t>(code);
            s->stackTop = 1;
            continue;
        }
        if (code == LZW_CLEAR && s->blockMode) {
            for (int c = 0; c < 256; ++c)
                prefix[c] = 0;
            s->freeEnt = LZW_CLEAR;
            s->firstCode = 1;
            AbandonGroup(*s);
            s->nBits = LZW_INIT_BITS;
            s->maxCode = MaxCodeFor(*s);
            continue;
        }
        if (code > s->freeEnt)
            return finish(CS_E_BAD_CODE);

        const int32_t incode = code;
        const bool kwk = code == s->freeEnt;  // KwKwK: the old code's string plus its first byte
        const int32_t len = kwk ? lens[s->oldCode] + 1 : lens[code];
        if (len <= outLen - op && len < s->remaining) {
            // The whole string fits: write it backwards straight into the output.
            uint8_t* p = out + op + len - 1;
            int32_t c = code;
            int32_t k = len - 1;
            if (kwk) {
                *p-- = static_cast<uint8_t>(s->finChar);
                c = s->oldCode;
                --k;
            }
            for (; k > 0; --k) {
                *p-- = suffix[c];
                c = prefix[c];
            }
            if (c >= 256)
                return finish(CS_E_BAD_CODE);
            *p = static_cast<uint8_t>(c);
            s->finChar = c;
            op += len;
            s->remaining -= len;
        } else {
            int32_t sp = 0;
            if (kwk) {
                stack[sp++] = static_cast<uint8_t>(s->finChar);
                code = s->oldCode;
            }
            while (code >= 256) {
                if (sp >= LZW_TAB_SIZE - 1)
                    return finish(CS_E_BAD_CODE);
                stack[sp++] = suffix[code];
                code = prefix[code];
            }
            s->finChar = code;
            stack[sp++] = static_cast<uint8_t>(code);
            s->stackTop = sp;
        }

        if (s->freeEnt < s->maxMaxCode) {
            prefix[s->freeEnt] = static_cast<uint16_t>(s->oldCode);
            suffix[s->freeEnt] = static_cast<uint8_t>(s->finChar);
            lens[s->freeEnt] = static_cast<uint16_t>(lens[s->oldCode] + 1);
            ++s->freeEnt;
        }
        s->oldCode = incode;
        if (s->freeEnt > s->maxCode) {
            AbandonGroup(*s);
            ++s->nBits;
            s->maxCode = MaxCodeFor(*s);
        }
    }
}

// Deflate-style coder: lazy matching over hash chains in a buffer of four
// 16 KiB windows (the last one moved to the start when the buffer is full),
// symbols collected per block, blocks written through the overflow buffer
// into the caller's output.
#include "cslib/huff.h"

#include "cslib/csheader.h"
#include "cslib/cslib.h"
#include "cslib/huff_deflate.h"
#include "nls/kovstr.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <emmintrin.h>
#include <memory>
#include <vector>

namespace huff {
namespace {

struct LevelParams {
    uint16_t good, lazy, chain;
};

constexpr LevelParams kLevels[10] = {
    {0, 0, 0},    {4, 4, 16},    {6, 8, 16},    {8, 16, 32},     {8, 32, 64},
    {8, 64, 128}, {8, 128, 256}, {8, 128, 512}, {32, 258, 1024}, {32, 258, 4096},
};

// Preamble generator: never seeded, so the sequence repeats from run to run.
// Shared by every stream of the process and advanced atomically, so streams
// may start on any thread.
std::atomic<uint32_t> g_preambleSeed{1};
uint32_t NextRandom()
{
    uint32_t seed = g_preambleSeed.load(std::memory_order_relaxed);
    uint32_t next;
    do {
        next = seed * 1103515245u + 12345u;
    } while (!g_preambleSeed.compare_exchange_weak(seed, next, std::memory_order_relaxed));
    return (next >> 16) & 0x7FFF;
}

inline uint64_t Load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

void Init(ComprState* s, int level, int32_t streamLen)
{
    s->magic = kComprMagic;
    s->level = (level >= 1 && level <= 9) ? level : 2;
    s->goodLength = kLevels[s->level].good;
    s->lazyLimit = kLevels[s->level].lazy;
    s->chainLimit = kLevels[s->level].chain;
    s->streamLen = streamLen;
    s->bytesRead = 0;
    s->eof = s->finished = s->hashStarted = s->matchAvailable = false;
    s->strstart = s->lookahead = s->insH = 0;
    s->prevLength = s->prevMatch = s->matchStart = 0;
    s->matchLength = kMinMatch - 1;
    s->blockStart = 0;
    s->bitBuf = 0;
    s->bitCount = 0;
    s->ovfLen = 0;
    s->directOut = nullptr;
    s->directRoom = 0;
    std::memset(s->head, 0, sizeof s->head);
    InitBlock(s);
}

// Moves input into the buffer; moves the last window to the start when the
// buffer is full.  Positions in the hash tables that fall out become 0 (no
// entry).
void FillWindow(ComprState* s, const uint8_t* in, int32_t inLen, int32_t* inPos)
{
    uint32_t more = kBufSize - s->lookahead - s->strstart;
    // Only a position more than kMaxDist ahead of the first kept one may
    // move the buffer: the position that lands at 0, where it reads as no
    // position, is then too far to be searched from any later one, and the
    // output does not depend on how the input came in pieces.
    if (s->strstart > kSlide + kMaxDist) {
        memcpy_sR(s->window, kWindowSize, s->window + kSlide, kWindowSize);
        s->matchStart -= kSlide;
        s->strstart -= kSlide;
        s->blockStart -= kSlide;
        auto down = [](uint16_t pos) { return pos >= kSlide ? static_cast<uint16_t>(pos - kSlide) : uint16_t{0}; };
        for (auto& h : s->head)
            h = down(h);
        // The links of the last window move down with their positions.
        for (uint32_t p = 0; p < kWindowSize; ++p) {
            const ChainLink& l = s->links[p + kSlide];
            s->links[p] = ChainLink{down(l.prev), down(l.skip)};
        }
        more += kSlide;
    }
    const uint32_t avail = static_cast<uint32_t>(inLen - *inPos);
    const uint32_t left = static_cast<uint32_t>(s->streamLen - s->bytesRead);
    const uint32_t n = std::min({more, avail, left});
    if (n) {
        std::memcpy(s->window + s->strstart + s->lookahead, in + *inPos, n);
        *inPos += static_cast<int32_t>(n);
        s->bytesRead += static_cast<int32_t>(n);
        s->lookahead += n;
    }
    if (s->bytesRead == s->streamLen) {
        s->eof = true;
        // Bytes after the data feed only the hash of the last two positions;
        // zero them so that stale bytes never influence the output.
        std::memset(s->window + s->strstart + s->lookahead, 0, 8);
    }
}

// Length of the match of m with scan, both agreeing in their first len
// bytes, measured exactly from there on; at most maxLen.
inline uint32_t Extend(const uint8_t* scan, const uint8_t* m, uint32_t len, uint32_t maxLen)
{
    for (;;) {
        if (len + 8 > maxLen) {
            while (len < maxLen && scan[len] == m[len])
                ++len;
            return len;
        }
        const uint64_t y = Load64(scan + len) ^ Load64(m + len);
        if (y)
            return len + (static_cast<uint32_t>(__builtin_ctzll(y)) >> 3);
        len += 8;
    }
}

// Length of the match of m with scan, both agreeing in their first 32
// bytes: 0 when it cannot beat best (checked first at the 8 bytes ending at
// position best), else its exact length, at most maxLen.  Out of line: it is
// rare, and the chain walk keeps its registers.
[[gnu::noinline]] uint32_t MeasureLong(const uint8_t* scan, const uint8_t* m, uint32_t best, uint32_t maxLen)
{
    if (best >= 32 && Load64(m + best - 7) != Load64(scan + best - 7))
        return 0;
    const uint32_t len = Extend(scan, m, 32, maxLen);
    return len > best ? len : 0;
}

// Longest match at strstart along the hash chain starting at cur, longer
// than prevLength; the nearest wins among equals.  Never reaches past the data.
__attribute__((noinline)) uint32_t LongestMatch(const ComprState* s, uint32_t cur, uint32_t strstart,
                                                uint32_t lookahead, uint32_t prevLength, uint32_t* matchStart)
{
    const uint8_t* const win = s->window;
    const ChainLink* const links = s->links;
    const uint8_t* const scan = win + strstart;
    const uint32_t maxLen = lookahead < kMaxMatch ? lookahead : kMaxMatch;
    uint32_t best = prevLength;
    if (best >= maxLen)
        return best;
    uint32_t chain = s->chainLimit;
    if (prevLength >= s->goodLength)
        chain >>= 2;
    const uint32_t limit = strstart > kMaxDist ? strstart - kMaxDist : 0;
    uint32_t bestStart = *matchStart;
    // Near the end of the data: each candidate measured byte by byte.
    auto visitShort = [&](uint32_t c) -> bool {
        const uint32_t len = Extend(scan, win + c, 0, maxLen);
        bestStart = len > best ? c : bestStart;
        best = len > best ? len : best;
        return best >= maxLen;
    };
    // Every candidate is measured over its first 32 bytes with two vector
    // compares, and best and bestStart follow with conditional moves: whether
    // a near candidate wins is data the branch predictor cannot learn.  Only a
    // candidate agreeing in all 32 bytes, which is rare, takes a branch to be
    // measured further.  A candidate wins only when strictly longer, so the
    // nearest wins among equals as the chain is walked from near to far.
    const __m128i scanLo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(scan));
    const __m128i scanHi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(scan + 16));
    auto visitLong = [&](uint32_t c) -> bool {
        const uint8_t* m = win + c;
        const uint32_t eqLo = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m)), scanLo)));
        const uint32_t eqHi = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m + 16)), scanHi)));
        const uint64_t differ = ~(static_cast<uint64_t>(eqHi) << 16 | eqLo);
        uint32_t len = static_cast<uint32_t>(__builtin_ctzll(differ));
        if (__builtin_expect(len == 32, 0)) {
            len = MeasureLong(scan, m, best, maxLen);
            if (len == 0)
                return false;
            bestStart = c;
            best = len;
            return len >= maxLen;
        }
        bestStart = len > best ? c : bestStart;
        best = len > best ? len : best;
        return false;
    };
    // Candidates in chain order: cur, its prev, that one's prev, ...; the walk
    // ends at a position at or below limit (0 included) or after chain of them.
    auto walk = [&](auto visit) {
        for (;;) {
            // The link is read first, ahead of the candidates' bytes: the walk
            // waits on it.  The two halves are read apart, as they are written.
            const uint32_t prev = links[cur].prev;
            const uint32_t skip = links[cur].skip;
            // Start the loads of the next step before this one's tests, whose
            // mispredictions would otherwise delay them.
            __builtin_prefetch(links + skip);
            if (visit(cur))
                break;
            cur = prev;
            if (cur <= limit || --chain == 0)
                break;
            if (visit(cur))
                break;
            cur = skip;
            if (cur <= limit || --chain == 0)
                break;
        }
    };
    if (maxLen >= 32)
        walk(visitLong);
    else
        walk(visitShort);
    *matchStart = bestStart;
    return best;
}

// The early block end of the higher levels, checked every 4096 symbols:
// mostly literals, and an estimate of the block below half its input.
bool SmallBlockEnd(const ComprState* s, uint32_t symCount, uint32_t distCount, uint32_t strstart)
{
    uint64_t outLength = static_cast<uint64_t>(symCount) * 8;
    const int64_t inLength = static_cast<int64_t>(strstart) - s->blockStart;
    for (int c = 0; c < kDistCodes; ++c)
        outLength += static_cast<uint64_t>(s->dynD[c].freq) * (5 + kDistExtra[c]);
    outLength >>= 3;
    return distCount < symCount / 2 && static_cast<int64_t>(outLength) < inLength / 2;
}

// Records one symbol, the literal lc when dist is 0, else a match of length
// lc + 3 at distance dist; true when the block should end after it at
// position pos.  symCount and distCount are the caller's copies: the
// position loop keeps them in locals, as the stores here may alias the state.
inline bool Tally(ComprState* s, uint32_t& symCount, uint32_t& distCount, uint32_t dist, uint32_t lc, uint32_t pos)
{
    if (dist == 0) {
        s->sym[symCount] = LiteralSymbol(lc);
        s->dynL[lc].freq++;
    } else {
        const uint32_t dcode = static_cast<uint32_t>(DistCode(dist - 1));
        s->sym[symCount] = MatchSymbol(lc, dist - 1, dcode);
        ++distCount;
        s->dynL[kLengthCode[lc] + kLiterals + 1].freq++;
        s->dynD[dcode].freq++;
    }
    ++symCount;
    if ((symCount & 0xFFF) == 0 && s->level > 2 && SmallBlockEnd(s, symCount, distCount, pos))
        return true;
    return symCount == kSymBufSize - 1 || distCount == kSymBufSize;
}

enum RunResult { kNeedInput, kFlushed, kDataEnd, kError };

// Processes positions while the lookahead allows; stops after a block was
// flushed so that the caller can hand out its bytes.  The counters live in
// locals: the stores into the symbol buffer and the frequency counts may
// alias the state's fields, which would otherwise be reloaded after every
// symbol.
RunResult DeflatePositions(ComprState* s, int* err)
{
    const uint8_t* const win = s->window;
    uint16_t* const head = s->head;
    ChainLink* const links = s->links;
    uint32_t strstart = s->strstart, lookahead = s->lookahead, insH = s->insH;
    uint32_t prevLength = s->prevLength, prevMatch = s->prevMatch;
    uint32_t matchStart = s->matchStart, matchLength = s->matchLength;
    uint32_t symCount = s->symCount, distCount = s->distCount;
    bool matchAvailable = s->matchAvailable;
    const bool eof = s->eof;
    const uint32_t lazy = s->lazyLimit;
    RunResult result = eof ? kDataEnd : kNeedInput;

    auto insert = [&](uint32_t pos) -> uint32_t {
        // The running hash keeps its high bits: the mask is applied where it
        // indexes, off the chain of dependent updates.
        insH = (insH << kHashShift) ^ win[pos + 2];
        const uint32_t h = insH & kHashMask;
        const uint32_t hd = head[h];
        // hd's own link is always there: links are indexed by position, and
        // every position below strstart was inserted (0 included).
        // The two halves are stored apart: prev is known at once, while skip
        // waits for a load, and a later position whose head is pos reads prev
        // without waiting for that load.
        ChainLink& l = links[pos];
        l.prev = static_cast<uint16_t>(hd);
        l.skip = links[hd].prev;
        head[h] = static_cast<uint16_t>(pos);
        return hd;
    };
    auto flush = [&]() -> bool {
        s->symCount = symCount;
        s->distCount = distCount;
        const int rc = FlushBlock(s, false);
        symCount = s->symCount;
        distCount = s->distCount;
        if (rc) {
            *err = rc;
            result = kError;
            return false;
        }
        s->blockStart = strstart;
        result = kFlushed;
        return true;
    };

    while (lookahead >= kMinLookahead || (eof && lookahead > 0)) {
        const uint32_t hashHead = insert(strstart);
        prevLength = matchLength;
        prevMatch = matchStart;
        matchLength = kMinMatch - 1;
        if (hashHead != 0 && prevLength < lazy && strstart - hashHead <= kMaxDist) {
            matchLength = LongestMatch(s, hashHead, strstart, lookahead, prevLength, &matchStart);
            if (matchLength == kMinMatch && strstart - matchStart > kTooFar)
                matchLength = kMinMatch - 1;
        }
        if (prevLength >= kMinMatch && matchLength <= prevLength) {
            const bool end = Tally(s, symCount, distCount, strstart - 1 - prevMatch, prevLength - kMinMatch, strstart);
            lookahead -= prevLength - 1;
            const uint32_t last = strstart + prevLength - 2;
            while (strstart < last)
                insert(++strstart);
            matchAvailable = false;
            matchLength = kMinMatch - 1;
            ++strstart;
            if (end) {
                flush();
                break;
            }
        } else if (matchAvailable) {
            const bool end = Tally(s, symCount, distCount, 0, win[strstart - 1], strstart);
            if (end && !flush())
                break;
            ++strstart;
            --lookahead;
            if (end)
                break;
        } else {
            matchAvailable = true;
            ++strstart;
            --lookahead;
        }
    }
    s->strstart = strstart;
    s->lookahead = lookahead;
    s->insH = insH;
    s->prevLength = prevLength;
    s->prevMatch = prevMatch;
    s->matchStart = matchStart;
    s->matchLength = matchLength;
    s->matchAvailable = matchAvailable;
    s->symCount = symCount;
    s->distCount = distCount;
    return result;
}

// Hands out pending bytes; the rest moves to the start of the buffer.
void Drain(ComprState* s, uint8_t* out, int32_t outLen, int32_t* outPos)
{
    const uint32_t room = static_cast<uint32_t>(outLen - *outPos);
    const uint32_t n = std::min(room, s->ovfLen);
    if (n == 0)
        return;
    memcpy_sR(out + *outPos, room, s->ovf, n);
    memmove_sR(s->ovf, kOverflowSize, s->ovf + n, s->ovfLen - n);
    s->ovfLen -= n;
    *outPos += static_cast<int32_t>(n);
}

// The body of a step once the header is out: pending bytes first, then
// input through the window into blocks until the input is used up, the
// output is full or the stream ends.  *inPos and *outPos advance.
int Step(ComprState* s, const uint8_t* in, int32_t inLen, int32_t* inPos, uint8_t* out, int32_t outLen, int32_t* outPos)
{
    // Bytes left from an earlier step go first; until they are all handed out
    // no input is taken.
    Drain(s, out, outLen, outPos);
    if (s->ovfLen)
        return CS_END_OUTBUFFER;
    if (s->finished)
        return CS_END_OF_STREAM;

    int rc = CS_END_INBUFFER;
    // A block goes straight into the output when it fits there and nothing
    // waits in the overflow buffer; FlushBlock advances directOut past it.
    auto aim = [&] {
        s->directOut = out + *outPos;
        s->directRoom = static_cast<uint32_t>(outLen - *outPos);
    };
    auto taken = [&] { *outPos = static_cast<int32_t>(s->directOut - out); };
    aim();
    for (;;) {
        if (s->lookahead < kMinLookahead && !s->eof) {
            FillWindow(s, in, inLen, inPos);
            if (s->lookahead < kMinLookahead && !s->eof)
                break;  // input used up
        }
        if (!s->hashStarted) {
            s->insH = ((static_cast<uint32_t>(s->window[0]) << kHashShift) ^ s->window[1]) & kHashMask;
            s->hashStarted = true;
        }
        int err = 0;
        const RunResult r = DeflatePositions(s, &err);
        taken();
        if (r == kError) {
            rc = err;
            break;
        }
        if (r == kFlushed) {
            Drain(s, out, outLen, outPos);
            aim();
            if (s->ovfLen) {
                rc = CS_END_OUTBUFFER;
                break;
            }
            continue;
        }
        if (r == kDataEnd) {
            if (s->matchAvailable)
                Tally(s, s->symCount, s->distCount, 0, s->window[s->strstart - 1], s->strstart);
            s->matchAvailable = false;
            const int frc = FlushBlock(s, true);
            taken();
            if (frc) {
                rc = frc;
                break;
            }
            s->finished = true;
            Drain(s, out, outLen, outPos);
            rc = s->ovfLen ? CS_END_OUTBUFFER : CS_END_OF_STREAM;
            break;
        }
        // kNeedInput: loop to refill.
    }
    return rc;
}

// A stream of zero bytes is common (sparse files, zero-filled images) and
// costs the matcher a match at every position.  Its output follows from
// the level and the length alone: the blocks are made once per thread by
// the coder itself, without a preamble, and each later all-zero stream of
// the same level and length sends its own preamble and then those blocks.
constexpr int32_t kZeroStreamMin = 4096;
constexpr int kZeroStreamsKept = 4;

struct ZeroStream {
    int level = 0;
    int32_t length = 0;
    uint32_t bits = 0;           // bits of the blocks, without the padding
    std::vector<uint8_t> bytes;  // the blocks, padded with zero bits
};

bool AllZero(const uint8_t* p, size_t n)
{
    uint64_t any = 0;
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        any |= Load64(p + i) | Load64(p + i + 8) | Load64(p + i + 16) | Load64(p + i + 24);
        if (any)
            return false;
    }
    for (; i < n; ++i)
        any |= p[i];
    return any == 0;
}

const ZeroStream* ZeroStreamBlocks(int level, int32_t length)
{
    thread_local ZeroStream kept[kZeroStreamsKept];
    thread_local int nextSlot = 0;
    for (const ZeroStream& z : kept)
        if (z.length == length && z.level == level)
            return &z;
    struct Free {
        void operator()(void* p) const { std::free(p); }
    };
    std::unique_ptr<ComprState, Free> scratch(static_cast<ComprState*>(std::malloc(sizeof(ComprState))));
    if (!scratch)
        return nullptr;
    ComprState* z = scratch.get();
    Init(z, level, length);
    static const uint8_t zeros[kZeroStreamMin] = {};
    std::vector<uint8_t> bytes;
    uint8_t out[kZeroStreamMin];
    for (;;) {
        int32_t inPos = 0, outPos = 0;
        const int32_t n = std::min<int32_t>(kZeroStreamMin, z->streamLen - z->bytesRead);
        const int rc = Step(z, zeros, n, &inPos, out, kZeroStreamMin, &outPos);
        bytes.insert(bytes.end(), out, out + outPos);
        if (rc == CS_END_OF_STREAM)
            break;
        if (rc < 0 || (inPos == 0 && outPos == 0))
            return nullptr;
    }
    // The last byte is the 0x00 after the blocks.
    if (bytes.size() < 2)
        return nullptr;
    bytes.pop_back();
    ZeroStream& slot = kept[nextSlot];
    nextSlot = (nextSlot + 1) % kZeroStreamsKept;
    slot.level = z->level;
    slot.length = length;
    slot.bits = static_cast<uint32_t>(bytes.size() * 8 - z->lastPadBits);
    slot.bytes = std::move(bytes);
    return &slot;
}

// Writes a whole all-zero stream behind its header: preamble (count n and
// filler), the kept blocks, zero padding and the 0x00.  False, with nothing
// changed, when the output cannot hold it all or the blocks cannot be had.
bool SendZeroStream(ComprState* s, uint32_t n, uint32_t filler, uint8_t* out, int32_t outLen, int32_t* outPos)
{
    const ZeroStream* z = ZeroStreamBlocks(s->level, s->streamLen);
    if (!z)
        return false;
    const uint32_t lead = 2 + n;
    const uint32_t bodyBytes = (lead + z->bits + 7) / 8;
    if (static_cast<int64_t>(outLen) - *outPos < static_cast<int64_t>(bodyBytes) + 1)
        return false;
    uint8_t* p = out + *outPos;
    uint64_t acc = n | filler << 2;
    uint32_t accBits = lead;
    size_t next = 0;
    for (uint32_t i = 0; i < bodyBytes; ++i) {
        if (accBits < 8) {
            if (next < z->bytes.size())
                acc |= static_cast<uint64_t>(z->bytes[next++]) << accBits;
            accBits += 8;
        }
        *p++ = static_cast<uint8_t>(acc);
        acc >>= 8;
        accBits -= 8;
    }
    *p++ = 0;
    *outPos += static_cast<int32_t>(bodyBytes + 1);
    s->bytesRead = s->streamLen;
    s->eof = true;
    s->finished = true;
    s->ovfLen = 0;
    return true;
}

}  // namespace
}  // namespace huff

using namespace huff;

size_t CsHuffComprStateSize()
{
    return sizeof(ComprState);
}

uint32_t CsHuffDrawPreamble()
{
    const uint32_t n = NextRandom() & 3;
    const uint32_t filler = NextRandom() & ((1u << n) - 1);
    return n | filler << 2;
}

int CsHuffCompress(void* state, bool first, int level, bool segmented, int32_t streamLen, const uint8_t* in,
                   int32_t inLen, uint8_t* out, int32_t outLen, int32_t* read, int32_t* written,
                   bool deterministicPreamble, int32_t presetPreamble)
{
    *read = 0;
    *written = 0;
    if (outLen < 0)
        return CS_E_OUT_TOO_SMALL;
    if (inLen < 0)
        return CS_E_IN_TOO_SMALL;
    if (inLen > 0 && !in)
        return CS_E_NULL_BUFFER;
    if (outLen > 0 && !out)
        return CS_E_NULL_BUFFER;
    auto* s = static_cast<ComprState*>(state);
    int32_t outPos = 0;
    if (first) {
        if (outLen < CS_HEAD_SIZE)
            return CS_E_OUT_TOO_SMALL;
        if (streamLen < 0)
            return CS_E_STREAM_LEN;
        Init(s, level, streamLen);
        CsWriteHeader(out, streamLen, CS_ALG_LZH, segmented ? CS_HEAD_SEGMENTED : 0, s->level);
        outPos = CS_HEAD_SIZE;
        // A 2-bit count n and n filler bits that the decoder skips.
        const uint32_t preamble = deterministicPreamble ? 0
                                  : presetPreamble >= 0 ? static_cast<uint32_t>(presetPreamble)
                                                        : CsHuffDrawPreamble();
        const uint32_t n = preamble & 3;
        const uint32_t filler = (preamble >> 2) & ((1u << n) - 1);
        if (streamLen >= kZeroStreamMin && inLen >= streamLen && AllZero(in, static_cast<size_t>(streamLen)) &&
            SendZeroStream(s, n, filler, out, outLen, &outPos)) {
            *read = streamLen;
            *written = outPos;
            return CS_END_OF_STREAM;
        }
        SendBits(s, n, 2);
        SendBits(s, filler, static_cast<int>(n));
    } else if (s->magic != kComprMagic) {
        return CS_E_NOT_INIT;
    }

    int32_t inPos = 0;
    const int rc = Step(s, in, inLen, &inPos, out, outLen, &outPos);
    *read = inPos;
    *written = outPos;
    return rc;
}

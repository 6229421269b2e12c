// Internal state of the deflate-style coder.  It lives in the work area of a
// compression handle; nothing here allocates.
#pragma once

#include "cslib/huff_tables.h"

#include <cstdint>

namespace huff {

// The coder's buffer holds four windows: the last one moves to the start
// when the buffer is full, so that a move comes once per three windows of
// input.  Positions are offsets into it and fit 16 bits.
inline constexpr uint32_t kBufSize = 4 * kWindowSize;
inline constexpr uint32_t kSlide = kBufSize - kWindowSize;
inline constexpr int kHashSize = 16384;
inline constexpr uint32_t kHashMask = kHashSize - 1;
inline constexpr int kHashShift = 5;
inline constexpr uint32_t kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
inline constexpr uint32_t kMaxDist = kWindowSize - kMinLookahead;     // 16122
inline constexpr uint32_t kTooFar = 4096;
inline constexpr uint32_t kSymBufSize = 16384;
inline constexpr uint32_t kOverflowSize = 122880;
inline constexpr int kHeapSize = 2 * kLitLenCodes + 1;
inline constexpr uint32_t kComprMagic = 0x4B5A4843;  // marks an initialised coder state

// A symbol of a block in 32 bits: bits 0-8 the literal, or 256 + the match
// length - 3; bits 9-13 the distance code, kNoDistCode for a literal; bits
// 14-27 the distance - 1.
inline constexpr uint32_t kNoDistCode = 31;
inline uint32_t LiteralSymbol(uint32_t c)
{
    return c | kNoDistCode << 9;
}
inline uint32_t MatchSymbol(uint32_t lc, uint32_t d, uint32_t dcode)
{
    return (256 + lc) | dcode << 9 | d << 14;
}

struct TreeNode {
    uint32_t freq;
    uint16_t code;
    uint16_t len;
    uint16_t dad;
};

// Hash chain link of a window position: the previous position with the
// same hash, and the one before that, so that a chain walk waits for one
// load per two candidates.  0 ends a chain.
struct ChainLink {
    uint16_t prev;
    uint16_t skip;
};

struct ComprState {
    uint32_t magic;
    int level;
    uint32_t goodLength, lazyLimit, chainLimit;
    int32_t streamLen, bytesRead;
    uint32_t lastPadBits;  // zero bits that padded the last block to a byte
    bool eof, finished, hashStarted, matchAvailable;

    // Matching: positions are offsets into window[].
    uint32_t strstart, lookahead, insH;
    uint32_t prevLength, prevMatch, matchStart, matchLength;
    int64_t blockStart;

    // Symbols of the current block (see LiteralSymbol and MatchSymbol).
    uint32_t symCount, distCount;
    uint32_t sym[kSymBufSize];

    // Trees of the current block.
    TreeNode dynL[kHeapSize];
    TreeNode dynD[2 * kDistCodes + 1];
    TreeNode blTree[2 * kBitLenCodes + 1];
    int heap[kHeapSize];  // merge order of the last tree built, from heapMax on
    int heapMax;
    uint16_t blCount[kMaxBits + 1];
    int64_t optLen, staticLen;

    // Output: bits not yet forming a 16-bit unit, and bytes the caller's
    // output could not take.
    uint64_t bitBuf;
    int bitCount;
    uint32_t ovfLen;
    // The caller's output during a step: a block that fits goes there
    // directly when no bytes wait in the overflow buffer.
    uint8_t* directOut;
    uint32_t directRoom;

    uint16_t head[kHashSize];
    // Indexed by position, over the whole buffer: the link of a position
    // near enough to be searched is never overwritten by a later one.
    ChainLink links[kBufSize];
    // Slack behind the buffer keeps the zero padding after the last byte
    // inside the array.
    uint8_t window[kBufSize + 16];
    uint8_t ovf[kOverflowSize + 16];
};

// Trees and block output (huff_trees.cpp).
void InitBlock(ComprState* s);
// Writes the block of the collected symbols, with last set also the final
// padding and the 0x00 byte: to directOut when nothing waits in the overflow
// buffer and the block fits directRoom (both then advance), else to the
// overflow buffer.  Returns 0 or -10 when the overflow buffer could not
// hold it.
int FlushBlock(ComprState* s, bool last);
// Appends len (<= 16) bits to the bit buffer (used for the preamble).
void SendBits(ComprState* s, uint32_t value, int len);

}  // namespace huff

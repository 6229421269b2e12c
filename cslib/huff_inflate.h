// Internal state and decode tables of the deflate-style decoder.
#pragma once

#include "cslib/huff_tables.h"

#include <cstdint>

namespace huff {

// A distance or code-length table entry packs: bits 0-7 the bits to consume
// (code plus extra bits), bits 8-11 the code length (for a link: the index
// bits of its subtable), bits 12-15 the kind, bits 16-31 the value (symbol,
// base distance or the subtable's offset).  Inside a subtable the code length
// is the whole length, root bits included.  The kinds are chosen so that one
// bit test each sorts an entry: no kind bit for a literal, bit 14 alone for
// a base, bit 15 for the rare ones (a link, no code).
enum EntryKind : uint32_t { kLiteral = 0, kBase = 4, kLink = 9, kInvalid = 11 };
inline constexpr uint32_t kEntryRareBit = 0x8000;

constexpr uint32_t MakeEntry(uint32_t kind, uint32_t codeLen, uint32_t extra, uint32_t value)
{
    return (codeLen + extra) | (codeLen << 8) | (kind << 12) | (value << 16);
}
constexpr uint32_t MakeLink(uint32_t subBits, uint32_t offset)
{
    return (subBits << 8) | (kLink << 12) | (offset << 16);
}
constexpr uint32_t EntryTotal(uint32_t e)
{
    return e & 0xFF;
}
constexpr uint32_t EntryLen(uint32_t e)
{
    return (e >> 8) & 0xF;
}
constexpr uint32_t EntryKindOf(uint32_t e)
{
    return (e >> 12) & 0xF;
}
constexpr uint32_t EntryValue(uint32_t e)
{
    return e >> 16;
}
constexpr bool IsRare(uint32_t e)
{
    return (e & kEntryRareBit) != 0;
}

inline constexpr int kLitLenRoot = 11;
inline constexpr int kDistRoot = 8;
inline constexpr int kCodeLenRoot = 7;

// A literal/length table entry is laid out so that one bit-field extract
// (start in bits 0-7, width in bits 8-15) of the bits before the code is
// taken gives the index of the next lookup:
//   bits 0-7    bits the code takes with its extra bits (a link: the root bits)
//   bits 8-15   bits of the next index: the root bits after a literal, the
//               distance root bits after a length, a link's subtable bits
//   literal     bits 16-23 the byte, bits 24-31 clear
//   length      bits 16-21 the code length, bits 22-29 the base length - 3,
//               bit 30 set
//   rare        bit 31 set, bits 28-29 the kind; a link: bits 16-27 the
//               subtable's offset; the block's end and no code: bits 16-21
//               the code length
// Inside a subtable the lengths are whole, root bits included.
inline constexpr uint32_t kLitLength = 1u << 30;
inline constexpr uint32_t kLitRare = 1u << 31;
enum LitRareKind : uint32_t { kLitLink = 1, kLitEnd = 2, kLitNoCode = 3 };

constexpr bool LitIsLiteral(uint32_t e)
{
    return e < (1u << 24);
}
constexpr bool LitIsRare(uint32_t e)
{
    return (e & kLitRare) != 0;
}
constexpr uint32_t LitKind(uint32_t e)
{
    return (e >> 28) & 3;
}
constexpr uint32_t LitByte(uint32_t e)
{
    return (e >> 16) & 0xFF;
}
// Bits of the code alone (not for links).
constexpr uint32_t LitCodeLen(uint32_t e)
{
    return LitIsLiteral(e) ? EntryTotal(e) : (e >> 16) & 63;
}
constexpr uint32_t LitLengthBase(uint32_t e)
{
    return ((e >> 22) & 0xFF) + 3;
}
constexpr uint32_t LitLinkOffset(uint32_t e)
{
    return (e >> 16) & 0xFFF;
}
constexpr uint32_t LitLinkBits(uint32_t e)
{
    return (e >> 8) & 0xFF;
}
constexpr uint32_t MakeLitLink(uint32_t subBits, uint32_t offset)
{
    return kLitRare | (kLitLink << 28) | (offset << 16) | (subBits << 8) | kLitLenRoot;
}
constexpr uint32_t MakeLitNoCode(uint32_t codeLen)
{
    return kLitRare | (kLitNoCode << 28) | (codeLen << 16) | codeLen;
}

enum class Alphabet { kLitLen, kDist, kCodeLen };

inline constexpr int kPoolSize = 4096;
inline constexpr int kCodeLenTableAt = kPoolSize - (1 << kCodeLenRoot);

// Builds the lookup table of a canonical code given by its lengths.  Returns
// 0, -52 for lengths that do not form a usable prefix code (over-subscribed,
// incomplete other than a single distance code, or empty literal/length
// code), or -53 when the table does not fit capacity entries.
int BuildDecodeTable(const uint8_t* lens, int count, int root, Alphabet alphabet, uint32_t* table, int capacity,
                     int* used);

// Tables of the fixed codes, built once.
const uint32_t* FixedLitLenTable();
const uint32_t* FixedDistTable();

inline constexpr uint32_t kDecomprMagic = 0x4B5A4844;

struct DecomprState {
    uint32_t magic;
    int mode;
    int32_t total, produced;
    uint64_t bitBuf;
    uint32_t bitCount;
    bool last, fixed;
    uint32_t preambleBits;
    uint32_t nlen, ndist, ncode, have;
    uint32_t distTableAt;
    uint32_t matchLen, matchDist;
    uint32_t whave, wnext;
    uint8_t lens[320];
    uint8_t window[kWindowSize];
    // The decode tables, and behind them room for a distance root index read
    // with a literal/length index's width: the fast loop looks a distance
    // entry up before it knows whether one follows, and drops what it read
    // when not.
    uint32_t pool[kPoolSize + (1 << kLitLenRoot)];
};

}  // namespace huff

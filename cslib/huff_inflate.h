// Internal state and decode tables of the deflate-style decoder.
#pragma once

#include "cslib/huff_tables.h"

#include <cstdint>

namespace huff {

// A decode table entry packs: bits 0-7 the bits to consume (code plus extra
// bits), bits 8-11 the code length (for a link: the index bits of its
// subtable), bits 12-15 the kind, bits 16-31 the value (literal, base length
// or distance, or the subtable's offset).  Inside a subtable the code length
// is the whole length, root bits included.  The kinds are chosen so that one
// bit test each sorts an entry: no kind bit for a literal, bit 14 alone for
// a base, bit 15 for the rare ones (a link, the block's end, no code).
enum EntryKind : uint32_t { kLiteral = 0, kBase = 4, kLink = 9, kEndOfBlock = 10, kInvalid = 11 };
inline constexpr uint32_t kEntryRareBit = 0x8000;

constexpr uint32_t MakeEntry(uint32_t kind, uint32_t codeLen, uint32_t extra, uint32_t value) {
  return (codeLen + extra) | (codeLen << 8) | (kind << 12) | (value << 16);
}
constexpr uint32_t MakeLink(uint32_t subBits, uint32_t offset) {
  return (subBits << 8) | (kLink << 12) | (offset << 16);
}
constexpr uint32_t EntryTotal(uint32_t e) { return e & 0xFF; }
constexpr uint32_t EntryLen(uint32_t e) { return (e >> 8) & 0xF; }
constexpr uint32_t EntryKindOf(uint32_t e) { return (e >> 12) & 0xF; }
constexpr uint32_t EntryValue(uint32_t e) { return e >> 16; }
constexpr bool IsLiteral(uint32_t e) { return (e & 0xF000) == 0; }
constexpr bool IsRare(uint32_t e) { return (e & kEntryRareBit) != 0; }

enum class Alphabet { kLitLen, kDist, kCodeLen };

inline constexpr int kLitLenRoot = 11;
inline constexpr int kDistRoot = 8;
inline constexpr int kCodeLenRoot = 7;
inline constexpr int kPoolSize = 4096;
inline constexpr int kCodeLenTableAt = kPoolSize - (1 << kCodeLenRoot);

// Builds the lookup table of a canonical code given by its lengths.  Returns
// 0, -52 for lengths that do not form a usable prefix code (over-subscribed,
// incomplete other than a single distance code, or empty literal/length
// code), or -53 when the table does not fit capacity entries.
int BuildDecodeTable(const uint8_t* lens, int count, int root, Alphabet alphabet, uint32_t* table,
                     int capacity, int* used);

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
  uint32_t pool[kPoolSize];
};

}  // namespace huff

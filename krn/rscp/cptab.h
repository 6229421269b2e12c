// The layout of the conversion tables in the converter cache, and reading
// them.  Every position is an offset from the cache block's start; the
// readers check it against the block's length before they read, so that a
// damaged number never leads outside.
//
// T1 block (input, one trie level): 258 words, number = offset / 1032.
// Words 0-255 are indexed by the next code byte; word 256 carries the entry
// the block was created from; word 257 the character (with its code's
// length) of the code that ends where this block begins while longer codes
// continue in it, 0 when no code ends there.  Word kinds (bits 29-31):
//   0 empty;
//   1 character (bits 0-23; code length in bits 24-28: 0 for a direct entry,
//     the shorter code's length when spread by filling);
//   2 continue in the block of bits 0-15 (the walk reads bits 0-23);
//   3 rule (bits 0-12 rule number, 13-18 attribute, 24-28 code length);
//   4 one finished output byte (bits 0-7), 5 two (bits 8-15, then 0-7)
//     (both only in the shortcut tables of a pair).
//
// T2 piece (output page index of one variant): a 16-bit entry per 128
// characters up to the cache's highest (4 bytes per entry, rounded up to 8).
// Entry kinds (bits 13-15): 0, 1 and 3 no target form; 2 the whole page is
// one rule (bits 0-6 rule number, 7-12 attribute); 4-7 T3 block number in
// bits 0-14.
//
// T3 block (output, one page): 129 words indexed by character % 128, number
// = offset / 516.  A word is 0, a rule (bit 31; bits 0-6 rule number, 8-23
// attribute) or a code with its length in bits 24-30: lengths 1-3 hold the
// bytes in bits 16-23, 8-15, 0-7; lengths 4-126 the cache offset of the
// bytes (in the cache07 area) in bits 0-23.
#pragma once

#include <cstdint>
#include <cstring>

#include "krn/rscp/cpccc.h"

inline constexpr uint32_t RSCP_T1_BYTES = 1032;
inline constexpr uint32_t RSCP_T3_BYTES = 516;
inline constexpr uint32_t RSCP_T1_WORDS = 258;
inline constexpr uint32_t RSCP_T3_WORDS = 129;

// ---- rule numbers ----------------------------------------------------------------

// Rules of T1 rule words, T2 rule pages and T3 rule words, and the types of
// the store's rule segments that enter them.
enum rscpRule {
    RSCP_RULE_SHIFT = 2,  // store type: an ISO-2022 shift state (as 58 and 73)
    RSCP_RULE_U2H = 10,   // 16-bit unit, big-endian
    RSCP_RULE_U4H = 11,   // 32-bit unit, big-endian
    RSCP_RULE_U8_1 = 12,  // UTF-8 of one byte
    RSCP_RULE_U22H = 13,  // UTF-16 surrogate pair, big-endian
    RSCP_RULE_U2L = 14,   // 16-bit unit, little-endian
    RSCP_RULE_U4L = 15,   // 32-bit unit, little-endian
    RSCP_RULE_U22L = 16,  // UTF-16 surrogate pair, little-endian
    RSCP_RULE_KEYS = 40,  // store types 40-46: key ranges of own characters
    RSCP_RULE_KEYS_LAST = 46,
    RSCP_RULE_U8_2 = 50,  // UTF-8 of two, three and four bytes
    RSCP_RULE_U8_3 = 51,
    RSCP_RULE_U8_4 = 52,
    RSCP_RULE_ICON16H = 53,  // own characters as icon forms: 16-bit units big- and
    RSCP_RULE_ICON16L = 54,  // little-endian, UTF-8, 32-bit units big- and
    RSCP_RULE_ICON8 = 55,    // little-endian
    RSCP_RULE_ICON32H = 56,
    RSCP_RULE_ICON32L = 57,
    RSCP_RULE_2022_DOUBLE = 58,  // 58-67: a two-byte character under designation rule - 58
    RSCP_RULE_2022_DOUBLE_LAST = 67,
    RSCP_RULE_RANGE = 68,        // a range of a multi-byte segment (attribute: rule-info slot)
    RSCP_RULE_2022_SWITCH = 71,  // an ISO-2022 shift sequence (attribute: the new state)
    RSCP_RULE_DROP = 72,         // a character to drop
    RSCP_RULE_2022_SINGLE = 73,  // 73-82: a one-byte character under designation rule - 73
    RSCP_RULE_2022_SINGLE_LAST = 82,
};

// ---- T1 words ----------------------------------------------------------------------

inline constexpr uint32_t RSCP_T1_EMPTY = 0, RSCP_T1_CHAR = 1, RSCP_T1_NEXT = 2, RSCP_T1_RULE = 3, RSCP_T1_OUT1 = 4,
                          RSCP_T1_OUT2 = 5;
inline constexpr uint32_t rscpT1Kind(uint32_t w)
{
    return w >> 29;
}
inline constexpr uint32_t rscpT1Char(uint32_t w)
{
    return w & 0xFFFFFF;
}
inline constexpr uint32_t rscpT1Length(uint32_t w)
{
    return w >> 24 & 0x1F;
}
inline constexpr uint32_t rscpT1RuleNo(uint32_t w)
{
    return w & 0x1FFF;
}
inline constexpr uint32_t rscpT1RuleAttr(uint32_t w)
{
    return w >> 13 & 0x3F;
}
// The block a continue word leads to (bits 0-23, as the walk reads them).
inline constexpr uint32_t rscpT1Block(uint32_t w)
{
    return w & 0xFFFFFF;
}
// A rule word of this rule, whatever its attribute and length.
inline constexpr bool rscpT1IsRule(uint32_t w, uint32_t rule)
{
    return (w & (0xE0000000u | 0x1FFF)) == (RSCP_T1_RULE << 29 | rule);
}

inline constexpr uint32_t rscpT1CharWord(uint32_t ch, uint32_t length)
{
    return RSCP_T1_CHAR << 29 | (length & 0x1Fu) << 24 | (ch & 0xFFFFFFu);
}
inline constexpr uint32_t rscpT1NextWord(uint32_t block)
{
    return RSCP_T1_NEXT << 29 | (block & 0xFFFFu);
}
inline constexpr uint32_t rscpT1RuleWord(uint32_t rule, uint32_t attr, uint32_t length)
{
    return RSCP_T1_RULE << 29 | (length & 0x1Fu) << 24 | (attr & 0x3Fu) << 13 | (rule & 0x1FFFu);
}

// ---- T2 entries --------------------------------------------------------------------

inline constexpr bool rscpT2IsRulePage(uint16_t e)
{
    return (e >> 13) == 2;
}
inline constexpr bool rscpT2IsT3(uint16_t e)
{
    return (e >> 13) >= 4;
}
inline constexpr uint32_t rscpT2Row(uint16_t e)
{
    return e & 0x7FFFu;
}
inline constexpr uint32_t rscpT2RuleNo(uint16_t e)
{
    return e & 0x7Fu;
}
inline constexpr uint32_t rscpT2RuleAttr(uint16_t e)
{
    return e >> 7 & 0x3Fu;
}
inline constexpr uint16_t rscpT2RulePage(uint32_t rule, uint32_t attr)
{
    return static_cast<uint16_t>(0x4000u | (attr & 0x3Fu) << 7 | (rule & 0x7Fu));
}

// ---- T3 words ----------------------------------------------------------------------

inline constexpr bool rscpT3IsRule(uint32_t w)
{
    return (w & 0x80000000u) != 0;
}
inline constexpr uint32_t rscpT3RuleNo(uint32_t w)
{
    return w & 0x7Fu;
}
inline constexpr uint32_t rscpT3RuleAttr(uint32_t w)
{
    return w >> 8 & 0xFFFFu;
}
inline constexpr uint32_t rscpT3CodeLength(uint32_t w)
{
    return w >> 24;
}
inline constexpr uint32_t rscpT3CodeOffset(uint32_t w)
{
    return w & 0xFFFFFFu;
}
inline constexpr uint32_t rscpT3RuleWord(uint32_t rule, uint32_t attr)
{
    return 0x80000000u | (attr & 0xFFFFu) << 8 | (rule & 0x7Fu);
}
inline constexpr uint32_t rscpT3CodeWord(uint32_t length, uint32_t bytesOrOffset)
{
    return (length & 0x7Fu) << 24 | (bytesOrOffset & 0xFFFFFFu);
}

// ---- reading the cache -------------------------------------------------------------

// The bytes [offset, offset + length) of the cache block, or NULL.
inline const uint8_t* rscpCccBytes(const rscpCcc_t* c, uint64_t offset, uint64_t length)
{
    if (c == nullptr || offset + length > c->length)
        return nullptr;
    return reinterpret_cast<const uint8_t*>(c) + offset;
}

inline bool rscpCccWord(const rscpCcc_t* c, uint64_t offset, uint32_t* w)
{
    const uint8_t* p = rscpCccBytes(c, offset, 4);
    if (p == nullptr)
        return false;
    std::memcpy(w, p, 4);
    return true;
}

// Word index (0-257) of T1 block n; block 0 is never a table.
inline bool rscpT1Word(const rscpCcc_t* c, uint32_t block, uint32_t index, uint32_t* w)
{
    return block != 0 && index < RSCP_T1_WORDS && rscpCccWord(c, uint64_t(block) * RSCP_T1_BYTES + 4 * index, w);
}

// Entries a T2 piece holds: one per 128 characters up to the cache's highest.
inline uint32_t rscpT2Entries(const rscpCcc_t* c)
{
    return (c->maxKovChar + 127) / 128;
}

inline bool rscpT2Entry(const rscpCcc_t* c, uint32_t piece, uint32_t index, uint16_t* e)
{
    if (piece == 0 || index >= rscpT2Entries(c))
        return false;
    const uint8_t* p = rscpCccBytes(c, uint64_t(piece) + 2 * uint64_t(index), 2);
    if (p == nullptr)
        return false;
    std::memcpy(e, p, 2);
    return true;
}

inline bool rscpT3Word(const rscpCcc_t* c, uint32_t block, uint32_t index, uint32_t* w)
{
    return block != 0 && index < RSCP_T3_WORDS && rscpCccWord(c, uint64_t(block) * RSCP_T3_BYTES + 4 * index, w);
}

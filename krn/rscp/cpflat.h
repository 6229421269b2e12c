// Flat lookup tables built from an activated converter object, for callers
// that convert much text between a one- or two-byte code page and 16-bit
// Unicode without the engine (rscpShortCutKindOfConverter tells which kind
// an object allows).  Each builder re-activates an object of an older cache
// generation first; 1 "F34" when the cache is not initialised.  Refusals are
// recorded with "CP9" "no shortcut conversion table": 16 for options or a
// method the table cannot follow, 2048 for a character it cannot hold (the
// character in the second argument), 32 for a caller's table too small.
//
// Entries of one or two target bytes hold two bytes with the first one in
// the high half.  A character the target lacks holds the target's form of
// the object's substitute.
#pragma once

#include <cstdint>

#include "krn/rscp/cpobject.h"

inline constexpr uint32_t RSCP_FLAT_BMP_ENTRIES = 0x10000;
// The full table: the basic plane, then one block of 1,024 entries per high
// surrogate (blocks counted in 1,024 entries from the table's start, so the
// basic plane is blocks 0-63).
inline constexpr uint32_t RSCP_FLAT_BLOCK = 1024;
inline constexpr uint32_t RSCP_FLAT_ALL_ENTRIES = 0x110000;
inline constexpr uint32_t RSCP_FLAT_INDEX_ENTRIES = 1024;

// UTF-16 code unit -> target bytes, table[65,536].  The object converts from
// UTF-16 (method "nu16be_get_tab" or "nu16le_get_tab") with control codes
// tried, own characters ignored and dropped characters like missing ones.
uint32_t rscpBuildU2ToBytesTable(rscpCObj_t* obj, uint16_t* table);
// The same for every code point: table[RSCP_FLAT_ALL_ENTRIES], and
// index[i] (i < 1,024, indexSize at least that) the block of the characters
// whose high surrogate is 0xD800 + i: the entry of the pair (hi, lo) is
// table[index[hi - 0xD800] * 1024 + lo - 0xDC00].
uint32_t rscpBuildUnicodeToBytesTables(rscpCObj_t* obj, uint16_t* table, uint16_t* index, uint32_t indexSize);
// Source bytes -> UTF-16 code unit through the object's input table (method
// "tab", same options): 256 entries per table block, the first block for the
// first byte; 0xFFFF marks a byte that continues into a further block, the
// further blocks following in the order their bytes appear (block by block,
// bytes ascending).  Bytes the source does not define hold the substitute
// code point.  entries is the size of the caller's table.
uint32_t rscpBuildBytesToU2Table(rscpCObj_t* obj, uint16_t* table, uint32_t entries);
// Source byte -> the two bytes of its target form, table[256][2]: methods
// "A7_to_U6" and "A7_to_U6sw" (bytes 0-127 as themselves, the others as the
// substitute), or method "tab" whose input table writes two target bytes per
// byte (unmapped bytes only for the 7-bit code page "1101", as the
// substitute).
uint32_t rscpBuildByteToTwoBytesTable(rscpCObj_t* obj, uint8_t (*table)[2]);

// Conversion tables in the converter cache: allocation of table blocks, entry
// of codes, characters and rules, copy-on-write of tables derived from
// another, and the save point with its rollback that undoes a failed load.
//
// Areas (offsets from the cache block's start): the lower area from firstT1
// to the low mark endT1 grows upward in 1032-byte steps and holds T1 and T3
// blocks; the upper area from the high mark firstT2 to endT2 grows downward
// and holds T2 pieces; the cache07 area from firstT7 to endT7 grows downward
// and holds the bytes of codes of four bytes or more.  Everything between the
// low and the high mark is zero.  The layout of the blocks is in cptab.h.
#pragma once

#include <cstdint>

#include "krn/rscp/cpccc.h"
#include "krn/rscp/cptab.h"

inline constexpr int32_t RSCPML_GROUPS = 12;  // ISO-2022 groups under a root

// Words of T1 block n, entries of the T2 piece at offset, words of T3 block n.
uint32_t* rscpmlT1(uint32_t block);
uint16_t* rscpmlT2(uint32_t offset);
uint32_t* rscpmlT3(uint32_t block);
// Bytes of one T2 piece, from the cache's highest internal character.
uint32_t rscpmlT2Size();

// ---- allocation --------------------------------------------------------------

// 0 with a new zero block, or 32: overflow flag set and "KOVPARAM(rsts/ccc/
// cachesize) too small" recorded (T3: no message).  Every block allocated
// while the mark array exists is marked as created by this load.
uint32_t rscpmlAllocT1(uint32_t* block);
uint32_t rscpmlAllocT2(uint32_t* offset);
uint32_t rscpmlAllocT3(uint32_t* block);
// As above, but a failure rolls the load back at once and gives 0.
uint32_t rscpmlAllocT1Now();
uint32_t rscpmlAllocT2Now();

// Copies (0 when no room is left).
uint32_t rscpct1__copy_t1(uint32_t block);
uint32_t rscpmlCopyT2(uint32_t offset);
uint32_t rscpmlCopyT3(uint32_t block);
// A new T1 block whose words 0-256 hold the entry (length given to an entry
// that has none; a character also goes to word 257); 0 when no room is left.
uint32_t rscpmlT1FromEntry(uint32_t entry, uint32_t length);
// Moves block n's words to a new block, zeroes n and lets word 0 of n lead to
// the new block; 0 when no room is left.
uint32_t rscpmlMoveT1(uint32_t block);

// Bytes taken from the top of the cache07 area (lowered by length, then to a
// multiple of align): the offset, or 0 when they do not fit.
uint32_t rscpmlTakeCache07(uint32_t length, uint32_t align);

// Test seam: after that many further allocations that take room (T1 and T2
// blocks, new T3 steps, cache07 bytes) the next one fails as if no room were
// left; -1 never.
void rscpmlSetAllocationBudget(int64_t allocations);

// ---- save point and rollback ---------------------------------------------------

// Records the state of the table areas and counters, the Shift-Out/Shift-In
// and range-rule tables of the header, and (when given) the code page record.
void rscpsp__save_point(const rscpCpInfo_t* row);
// Puts all of it back as the last save point found it and zeroes every byte
// allocated since (a damage mark 2 is kept).  The reason is for the caller's
// trace; the record given must be the one of the save point, or NULL.
void rscprb__rollback_allocation(rscpCpInfo_t* row, const char* reason);
// Blocks allocated since the save point.
void rscpmlDeltas(uint32_t* t1, uint32_t* t2, uint32_t* t3);

// ---- marks of blocks created by the current load -------------------------------

// One byte per block number below limit (T1 numbers and T3 numbers are
// marked apart).  0, or 1 when no memory is left (then every block counts as
// not created by this load).
uint32_t rscpml__alloc_marks(uint32_t limit);
void rscpml__free_marks(uint32_t limit);
void rscpml__mark_t1(uint32_t block);
bool rscpml__marked_t1(uint32_t block);
void rscpml__mark_t3(uint32_t block);
bool rscpml__marked_t3(uint32_t block);

// ---- navigation ----------------------------------------------------------------

// The block a T1 word leads to, created when needed; copy mode 1 copies a
// block not created by this load before it is changed; 0 on failure.
uint32_t rscpn1__next_t1(uint32_t* word, int32_t copyMode, uint32_t length);
// The T3 block of a T2 entry's page, created (or copied) when needed; 0 on
// failure or on a rule page.
uint32_t rscpn3__next_t3(uint16_t* entry, int32_t copyMode);

// ---- entering -------------------------------------------------------------------
// Each returns 0 when the entry was made or the existing one left in place,
// 32 when there is no room, 512 for an output conflict, other codes as noted.

uint32_t rscpeo1__enter_out_1code(uint32_t t2, const char* table, uint32_t ch, uint8_t byte, int32_t overwrite,
                                  int32_t copyMode);
uint32_t rscpeo4__enter_out_4code(uint32_t t2, const char* table, uint32_t ch, int32_t length, const uint8_t* bytes,
                                  int32_t overwrite, int32_t copyMode);
uint32_t rscpeo126__enter_out_126code(uint32_t t2, const char* table, uint32_t ch, int32_t length, const uint8_t* bytes,
                                      int32_t overwrite, int32_t copyMode);
uint32_t rscpeor__enter_out_rule(uint32_t t2, const char* table, uint32_t ch, uint32_t rule, uint32_t attr,
                                 int32_t overwrite, int32_t copyMode);
uint32_t rscpei__enter_in_code(uint32_t root, const char* table, uint32_t ch, int32_t copyMode, int32_t length,
                               const uint8_t* bytes, int32_t overwrite, int32_t group);
uint32_t rscpeir__enter_in_rule(uint32_t root, const char* table, int32_t copyMode, uint32_t rule, uint32_t attr,
                                int32_t length, const uint8_t* bytes, int32_t overwrite, int32_t firstFree,
                                int32_t group);
// Spreads a character (with the length of its code) over every empty slot
// of the block behind a continue word and the blocks below it; the number of
// slots filled goes to *filled.  A loop or a chain deeper than any code marks
// the cache damaged and gives 32.
uint32_t fillCharInAllEmptySlots(uint32_t* word, uint32_t charWord, uint32_t length, int32_t copyMode,
                                 uint32_t* filled);

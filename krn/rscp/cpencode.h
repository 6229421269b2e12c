// Single characters through an activated converter object: a code point or
// internal character number into the target code page through the output
// tables, one source character into its internal number through the input
// tables, the handling of characters the target cannot hold (substitute,
// copy, drop), the ISO-2022 designations around characters of designated
// sets, the library's own characters in their icon forms, and the rules of
// the input tables.
//
// Output pointers are byte cursors that move past what was written; on any
// failure they stay where they were.
#pragma once

#include <cstdint>

#include "krn/rscp/cpobject.h"

// Status of rscpCOnDrop, rscpCOnMissing and rscpCWriteIcon.
inline constexpr int32_t RSCP_ST_DONE = 0, RSCP_ST_STOP = 1, RSCP_ST_NO_ROOM = 2, RSCP_ST_NOT_HANDLED = 3;

// Encodes a code point (the public entry: checks the cache, re-activates the
// object when needed and counts the call).  16 without object, 2048 "F34"
// when the cache is not usable; else what rscpCEncodeOne returns.
uint32_t rscpCEncodeU4(rscpCObj_t* obj, uint8_t** out, uint8_t* outEnd, uint32_t codePoint);
// The same for an internal character number (2048 when it has no code point).
uint32_t rscpCEncodeCharNo(rscpCObj_t* obj, uint8_t** out, uint8_t* outEnd, uint32_t charNo);
// For a buffer and a length: appends at buffer + *length, at most capacity.
uint32_t rscpCEncodeCharNoLen(uint8_t* buffer, int32_t* length, int32_t capacity, uint32_t charNo, rscpCObj_t* obj);

// The encoder proper: 0, 32 "F42" (no room), 2048 "F40" (above the cache's
// highest character), 2048 "CPP" (not possible in the target), or the
// outcome of the drop handling for a character to be dropped.
uint32_t rscpCEncodeOne(rscpCObj_t* obj, uint8_t** out, uint8_t* outEnd, uint32_t codePoint);
// As rscpCEncodeOne, knowing where the output began, so that a character of
// the same ISO-2022 set as the one before it shares its designation.
uint32_t rscpCEncodeOneAt(rscpCObj_t* obj, const uint8_t* outStart, uint8_t** out, uint8_t* outEnd, uint32_t codePoint);

// A character to be dropped, by the object's on_drop option.
uint32_t rscpCOnDrop(rscpCObj_t* obj, uint8_t** out, uint8_t* outEnd, int32_t* status);
// A character the target cannot hold (its source bytes in [inStart, inEnd)),
// by the object's substitution options.
uint32_t rscpCOnMissing(rscpCObj_t* obj, uint8_t** out, uint8_t* outEnd, const uint8_t* inStart, const uint8_t* inEnd,
                        int32_t* status);

// The internal character number of the next source character: 0, 512
// "input character broken" (cut by the end of the input), 2048 "character
// unknown", 2048 "missing char code param".
uint32_t rscpCDecodeChar(const uint8_t* in, int32_t available, rscpCObj_t* obj, uint32_t* charNo, uint32_t mask);

// One character whose input table entry is a rule: decodes the source bytes
// by the input rule and writes the character by the output tables (or
// follows an ISO-2022 shift).  The status: 0 converted, 1 no room, 2 the
// source ends inside the character, 3 an error (its code in *rc), 4 not
// convertible.
int32_t rscpCConvertByRules(rscpCObj_t* obj, const uint8_t** src, const uint8_t* srcEnd, const uint8_t* dstStart,
                            uint8_t** dst, uint8_t* dstEnd, uint32_t entry, uint32_t* rc);

// Writes a character of a designated ISO-2022 set (rules 73-82 one byte,
// 58-67 two bytes): the designation unless the output already ends inside
// that set, the character, and the set's return sequence.  32 when it does
// not fit (nothing written), 2048 for a set the cache does not know.
uint32_t rscp2022Designate(rscpCObj_t* obj, const uint8_t* outStart, uint8_t** out, uint8_t* outEnd, int32_t rule,
                           uint32_t character);
uint32_t rscp2022Designate2(rscpCObj_t* obj, const uint8_t* outStart, uint8_t** out, uint8_t* outEnd, int32_t rule,
                            uint32_t character);

// The code of a character by the range rule in slot of the cache: its
// length, or 0 when the character lies outside the rule or the slot's
// description cannot be followed; and the character of n bytes (false when
// they lie outside).
int32_t rscpCRangeBytes(const rscpCcc_t* c, uint32_t slot, uint32_t cp, uint8_t* b);
bool rscpCRangeChar(const rscpCcc_t* c, uint32_t slot, const uint8_t* b, int32_t n, uint32_t* cp);

// Writes an own character in the icon form of rule 53-57; status 1 (nothing
// written) when it does not fit.
void rscpCWriteIcon(uint32_t codePoint, int32_t rule, uint8_t** out, uint8_t* outEnd, int32_t* status);

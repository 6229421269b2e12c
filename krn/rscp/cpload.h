// Loading a code page's conversion tables into the converter cache: the first
// converter that needs a direction of a code page has its tables built from
// the compiled-in store (segments, mappings, rules and build lists); derived
// variants start from a copy of the base tables and are extended copy-on-
// write.  A failed load leaves the cache as it was.
//
// Direction codes: 5, 6, 9, 10 input and 21, 22, 25, 26 output, for the
// variants 0 (ordinary segments, characters below 0x110000), 1 (plus the
// control-code segments), 2 (plus the own characters of the ordinary
// segments) and 3 (both).  A code above 10 is output; bits 2-3 select the
// characters (4 below 0x110000, 8 own characters), bits 0-1 the segments
// (1 ordinary, 2 control codes).
#pragma once

#include <cstdint>

#include "krn/rscp/cpccc.h"

// Loads whatever the direction still lacks of the variant asked for into the
// code page's record (a row of the cache's code page list).  0, or the code of
// the failure: 32 no room in the cache, 128 not found, 2048 a segment or rule
// unusable, 1 or 16 for malformed data or arguments.
uint32_t rscplcc__load_control_codes(uint32_t direction, rscpCpInfo_t* row);

// What one load carries down through segments and rules.
struct rscpLoad_t {
    uint32_t mode;  // direction code of the variant being built
    rscpCpInfo_t* row;
    uint32_t t1;           // root T1 block (input)
    uint32_t t2;           // T2 piece (output)
    uint32_t selector;     // segments (bits 0-1) and characters (bits 2-3) taken
    int32_t overwriteOut;  // 1: replace output entries
    int32_t overwriteIn;   // 1: replace input entries
    int32_t depth;         // inclusion levels left
    int32_t copyMode;      // 1 while extending a copy of another variant
};
inline bool rscpLoadOutput(const rscpLoad_t& l)
{
    return l.mode > 10;
}
// Variant 0-3 of a direction code.
inline int rscpLoadVariant(uint32_t mode)
{
    const int chars = static_cast<int>(mode & 12u), segs = static_cast<int>(mode & 3u);
    return ((chars < 4 ? 4 : chars) - 4) / 2 | (segs < 1 ? 0 : segs - 1);
}
// A character passes the selector (bits 2-3: 4 Unicode only, 8 own only).
inline bool rscpSelects(uint32_t selector, uint32_t ch)
{
    return !((selector & 12u) == 8 && ch < 0x110000) && !((selector & 12u) == 4 && ch > 0x10FFFF);
}
// Adds entered entries to the variant's count and raises its longest length.
void rscpLoadCount(const rscpLoad_t& l, uint32_t entries, uint32_t length);

uint32_t rscplcp__load_code_page(const rscpLoad_t& l);
uint32_t rscplcs__load_code_page_segments(const rscpLoad_t& l);
// segClass: 0 top segment, 1 ordinary, 2 control codes.
uint32_t rscpgsr__get_segment_recursively(const rscpLoad_t& l, const char* segId, int32_t segClass);
uint32_t rscpcf__check_flat_file(uint32_t mode, rscpCpInfo_t* row, const char* cp4);
uint32_t rscplci__load_input_control_codes(rscpCpInfo_t* row, int32_t source, int32_t target, uint32_t selector);
uint32_t rscplco__load_output_control_codes(rscpCpInfo_t* row, int32_t source, int32_t target, uint32_t selector);

// ---- rules -----------------------------------------------------------------------

uint32_t rscpar__apply_rule(uint32_t type, const rscpLoad_t& l, const char* segId, const char* word1, int32_t len1,
                            const char* word2, int32_t len2);

// Range rules: the slot of the rule-info table that describes the range (an
// equal one is reused), or -1 when the table is full.
int32_t prepareXMLRule(const char* word1, int32_t len1, const char* word2, int32_t len2, uint32_t first, uint32_t last,
                       int32_t bytes, const uint8_t* start, const uint8_t* low, const uint8_t* high);

// Shift rules: segment name, start and back sequences (at most 10 bytes
// each) and the un-shift flags read from the rule's words.
struct rscpShiftRule_t {
    char segment[5];
    bool unsj, uneuc;
    uint8_t start[10], back[10];
    int32_t startLen, backLen;
};
uint32_t rscpsb__scan_strt_back_rule(const char* cp4, const char* segId, const char* word1, int32_t len1,
                                     const char* word2, int32_t len2, rscpShiftRule_t* out);
// The state number of a start/back pair in the header's Shift-Out/Shift-In
// table, added when new (*added set then).
uint32_t rscpgs__get_shift_state(const rscpShiftRule_t& rule, int32_t* state, bool* added);

// The UTF-8 rule, entered per lead byte (input) and per page (output); with
// enumerate every sequence or character is entered one by one.  Input covers
// the lead bytes first..last, output the characters first..last; the number
// of codes or characters covered goes to *handled.
uint32_t rscpUtf8RuleIn(const rscpLoad_t& l, uint32_t firstLead, uint32_t lastLead, bool enumerate, uint32_t* handled);
uint32_t rscpUtf8RuleOut(const rscpLoad_t& l, uint32_t first, uint32_t last, bool enumerate, uint32_t* handled);

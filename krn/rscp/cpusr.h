// The convenience layer a host program writes against: converter set-up
// with a readable report on failure, a pair of converters between UTF-16 and
// the local code page, conversions that explain a failure and dump the input
// around the point where they stopped, a hex dump, Thai display cells and
// the library's default code pages.
#pragma once

#include <cstdint>

#include "krn/rscp/cperr.h"
#include "krn/rscp/cpobject.h"

// A line writer: the text (no NUL needed) and its length; the result of the
// last line written is handed back by the dumps.
typedef int32_t (*rscpUsrWriter)(const char* text, int32_t length);

// ---- set-up with reports --------------------------------------------------

// Activates; on failure (and with a writer) writes text, "rscpCActivate."
// and the error record as a box through writer with the context.
uint32_t rscpCActivateReport(rscpCObj_t* conv, const char* text, rscpeSinkFunc writer, rscpeOutputFunc context);
// rscpCInit, rscpCPreSetSubstU4, rscpCSetFilter, rscpCSetUseF1,
// rscpCSetCtrlCodeCv, rscpCSetKOVOwnChCv and rscpCSetDrop in this order up to
// the first failure, which (with a writer) is reported as text, the call's
// name with a full stop and the error record.
uint32_t rscpCInitReport(rscpCObj_t* conv, const char* source, const char* target, int32_t miss, int32_t broken,
                         int32_t fill, uint32_t substU4, uint8_t filter, int32_t useF1, int32_t ctrlCodes,
                         int32_t ownCh, int32_t drop, const char* text, rscpeSinkFunc writer, rscpeOutputFunc context);

// ---- the pair of converters -----------------------------------------------

// private1: 0 not set up, 1 (2 and 3 as well) set up.
struct rscpCPair {
    int32_t private1;
    int32_t private2;
    rscpCObj_t fromUtf16;  // "4103" -> the local code page
    rscpCObj_t toUtf16;    // the local code page -> "4103"
};

// Sets both converters up for the local code page (mode 1, the only one);
// a pair already set up is left alone.  0 or the failing call's code.
uint32_t rscpCPairInitActivate(rscpCPair* pair, int32_t mode);
uint32_t rscpCPairRelease(rscpCPair* pair);
// Writes the pair and both converters at the dump level; the writer's
// result for the last line.  Not for two dumps at once.
int32_t rscpCPairDump(const rscpCPair* pair, rscpUsrWriter writer, int32_t level);

// ---- conversions that explain a failure -----------------------------------

// rscpCConvert, rscpCConvertNeutral and rscpCConvertNeutralA; on any code
// but 0 the heading, what went wrong, the error record and the input around
// the point where the conversion stopped go to the writer.
uint32_t rscpCConvertExplain(rscpCObj_t* conv, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                             const uint8_t* srcEnd, const char* heading, rscpUsrWriter writer);
uint32_t rscpCConvertNeutralExplain(rscpCObj_t* conv, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                                    const uint8_t* srcEnd, const char* heading, rscpUsrWriter writer);
uint32_t rscpCConvertNeutralAExplain(rscpCObj_t* conv, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                                     const uint8_t* srcEnd, const char* heading, rscpUsrWriter writer);

// ---- dumps ----------------------------------------------------------------

// Sixteen bytes a line: prefix (continuation prefix after the first line),
// the line's address in 8 or 16 hex digits (none for another width), " %02x"
// per byte and the printable characters between bars; the first line starts
// at the column of the start address.  The writer's result for the last
// line.
int32_t rscpHexDump(const void* data, int32_t length, const char* prefix, const char* contPrefix, uint64_t address,
                    uint32_t width, rscpUsrWriter writer);
// The last bytes before current (at most about usedLimit) and the first ones
// from current (at most unusedLimit, ending on a 16-byte boundary of the
// whole buffer where it can).  A buffer whose pointers do not make sense is
// described, not read.
void rscpDumpInputBuffer(const uint8_t* start, const uint8_t* current, const uint8_t* end, int32_t usedLimit,
                         int32_t unusedLimit, rscpUsrWriter writer);

// ---- small helpers --------------------------------------------------------

// 0 for the Thai combining bytes, 1 for every other byte.
uint32_t rscpThaiCellWidth(uint8_t byte);
// The bytes of the display cell at the text's start.
int32_t rscpThaiCellLen(const uint8_t* text);
// "41034102410341101100": UTF-16 of the library's own text, UTF-16 big- and
// little-endian, UTF-8 and the default local code page (20 characters).
const char* rscpDefaultCodePages();

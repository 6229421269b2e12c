// What the conversion engine and its table walk share.
#pragma once

#include <cstdint>

#include "krn/rscp/cpobject.h"

// One run of a conversion method: the source and destination windows with
// their cursors, and the outcome.
struct rscpcRun {
    rscpCObj_t* obj;
    const uint8_t* srcStart;
    const uint8_t* src;
    const uint8_t* srcEnd;
    uint8_t* dstStart;
    uint8_t* dst;
    uint8_t* dstEnd;
    uint32_t code = 0;    // RSCPC_ERROR: the recorded code
    bool noFill = false;  // RSCPC_DONE by a substitute for an incomplete rest
};

// How a method ended; the engine turns it into the call's exit.
enum rscpcExit : int32_t {
    RSCPC_DONE,        // the whole source was converted
    RSCPC_OVERFLOW,    // the next character does not fit (cursors before it)
    RSCPC_INCOMPLETE,  // the source ends inside a character (cursors before it)
    RSCPC_ERROR        // code set and recorded (cursors before the character)
};

// What a multi-byte method does with the character at r.src before the
// tables see it: an exit of the call (an rscpcExit), or one of these.
enum : int32_t {
    RSCPC_CLAIM_TABLES = -1,  // the tables convert it (r.src not moved)
    RSCPC_CLAIM_NEXT = -2     // converted; go on with the next character
};
typedef int32_t (*rscpcClaim)(rscpcRun& r, void* ctx);

// How the table walk runs.
struct rscpcWalkMode {
    bool iso2022 = false;        // the start block by the input shift state
    bool stateZero = false;      // the start block by word 0 of the ISO-2022 dispatcher
    bool tunnel = false;         // broken input copied by its multi-byte length
    bool copyMultiByte = false;  // missing characters of two or more bytes copied
    rscpcClaim claim = nullptr;  // asked at every character first
    void* ctx = nullptr;
};

// The fill option a wrapper sets while it converts unit by unit under a
// truncating fill: trailing spaces truncated on overflow, nothing filled.
inline constexpr uint32_t RSCPC_FILL_TRUNC_ONLY = 4;
// Whether the fill option counts a source that overflows only with its
// spaces as converted.
inline bool rscpcTruncatesSpaces(uint32_t fill)
{
    return fill == uint32_t(RSCPFILL_AND_TRUNC_SPACES) || fill == RSCPC_FILL_TRUNC_ONLY;
}

// Whether the byte ranges [a, a + aLen) and [b, b + bLen) share a byte.
inline bool rscpcOverlap(uintptr_t a, uintptr_t aLen, uintptr_t b, uintptr_t bLen)
{
    return aLen != 0 && bLen != 0 && a < b + bLen && b < a + aLen;
}

// Re-activates an object activated under an older cache generation (both
// sides, no reset, the cache reorganised first): 0 or the code.
uint32_t rscpcReactivateStale(rscpCObj_t* obj);

// Reverses the bytes of each of `units` units of `unit` (2 or 4) bytes from
// src into dst, eight bytes at a time; dst may be src.
void rscpcSwapUnits(uint8_t* dst, const uint8_t* src, int64_t units, int32_t unit);

// The checks of a wrapper's call before any arithmetic on its windows: 2048
// "F38" without an object, 16 "CP9" (argument name) for a missing cursor,
// an end before its cursor or a window of 2 GiB or more.
uint32_t rscpcCheckCall(const rscpCObj_t* obj, uint8_t* const* dst, const uint8_t* dstEnd, const uint8_t* const* src,
                        const uint8_t* srcEnd, const char* name);

// Methods 4 "tab", 5 "l_tab" and 41 "2022_tab", and the walk under the
// multi-byte methods.
rscpcExit rscpcTableWalk(rscpcRun& r, const rscpcWalkMode& mode);
// The multi-byte methods (6-11, 27, 28, 33-40, 42) after the preparation.
rscpcExit rscpcMultiByteMethod(rscpcRun& r, int32_t method);
// The methods without character tables (2, 12-26, 29-32, 48, 49).
rscpcExit rscpcFormMethod(rscpcRun& r, int32_t method);

// The source ends inside a character: with the "like_miss" option one
// substitute stands for it and the source counts as consumed up to restEnd
// (RSCPC_DONE without fill); otherwise RSCPC_INCOMPLETE.
rscpcExit rscpcIncompleteRest(rscpcRun& r, const uint8_t* restEnd);

// Records "character not convertable" with the bytes [from, to); 2048.
uint32_t rscpcNotConvertible(const rscpCObj_t* obj, const uint8_t* from, const uint8_t* to, int32_t line);
// Writes the object's substitute at r.dst (after re-activating the object
// when needed) and counts it: 0, 32 with nothing written, or the error.  A
// rollback met here ends the process.
uint32_t rscpcSubstitute(rscpcRun& r);
// Records a rollback met inside a conversion, which ends the process.
[[noreturn]] void rscpcRollback(int32_t line);

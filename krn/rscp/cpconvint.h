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

// Methods 4 "tab", 5 "l_tab" and (iso2022) 41 "2022_tab".
rscpcExit rscpcTableWalk(rscpcRun& r, bool iso2022);

// Records "character not convertable" with the bytes [from, to); 2048.
uint32_t rscpcNotConvertible(const rscpCObj_t* obj, const uint8_t* from, const uint8_t* to, int32_t line);
// Writes the object's substitute at r.dst (after re-activating the object
// when needed) and counts it: 0, 32 with nothing written, or the error.  A
// rollback met here ends the process.
uint32_t rscpcSubstitute(rscpcRun& r);
// Records a rollback met inside a conversion, which ends the process.
[[noreturn]] void rscpcRollback(int32_t line);

// Conversion of a buffer through an activated converter object.
#pragma once

#include <cstdint>

#include "krn/rscp/cpobject.h"

// Converts the source [*src, srcEnd) into the destination [*dst, dstEnd)
// from the object's source code page into its target code page, as far as
// it fits; both cursors advance by what was consumed and produced.
//   0     the whole source was converted (the rest of the destination then
//         filled as the object's fill option says)
//   32    the destination is full; the cursors stand after the last whole
//         character, so the caller may go on with a new destination
//   512   the source ends inside a character (the cursors before it, so the
//         caller may go on with more input), or a fill pattern does not fit
//   2048  a character cannot be converted (the cursors before it), or the
//         object is missing, not activated or of a method not built here
//   16    a cursor or an end is missing, an end lies before its cursor,
//         source and destination overlap other than at the same address,
//         or an in-place conversion is longer than 512 bytes
// Any code of the object's re-activation comes back unchanged.  A source
// that is the destination itself (the same address) is read from a copy.
// The call allocates nothing and keeps nothing of the buffers.
uint32_t rscpCConvert(rscpCObj_t* obj, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd);

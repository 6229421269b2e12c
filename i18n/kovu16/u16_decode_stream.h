// Decoding UTF-8 from a stream, shared by the 16-bit readers.
#pragma once

#include <cstdio>

#include "i18n/kovu16/u16_diag.h"

// Decodes one character from a stream whose lock the caller holds.  Returns
// the code point; -1 at end of file or on error with nothing consumed; -2 for
// an invalid sequence, whose bytes are in rec (a byte that cannot continue
// the sequence is handed back to the stream and read next).
int u16_decodeLocked(FILE* stream, U16DecodeRecord* rec);

// 16-bit text on stdio streams: written as UTF-8, read by decoding UTF-8.
//
// Invalid input becomes '#' (or a caller's replacement unit) with errno =
// EILSEQ.  fgetcU16 reports invalid input through the library's frame, at
// most no_fgetcU_errors_max - 1 times; the limit message then silences it for
// fgetcU_errors_interval seconds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "i18n/kovu16/u16_str.h"

extern int no_fgetcU_errors;
extern int no_fgetcU_errors_max;    // 100
extern int fgetcU_errors_interval;  // 3600 seconds
extern time_t last_fgetcU_error;
// Changes each limit that is not negative.
void u16_setFgetcLimits(int maximum, int interval);

// ---- writers (each call locks the stream) --------------------------------------
// Writes size × count units; the whole items written; *bytes (when given)
// receives the bytes written.
size_t fwriteU16(const KOV_UTF16* units, size_t size, size_t count, FILE* stream, size_t* bytes);
// The same for a caller that already holds the stream lock.
size_t fwriteU16_unlocked(const KOV_UTF16* units, size_t size, size_t count, FILE* stream, size_t* bytes);
int fputsU16(const KOV_UTF16* s, FILE* stream);  // bytes written, or -1
int putsU16(const KOV_UTF16* s);                 // with a newline, on stdout
int fputcU16(KOV_UTF16 unit, FILE* stream);      // the unit, or EOF

// ---- 16-bit readers ------------------------------------------------------------------
// One character as one unit ('#' for invalid input, U+FFFD for a character
// above the BMP), or -1 at end of file.
int fgetcU16(FILE* stream);
// Up to size - 1 units, stopping after a newline; terminated.  Null at end of
// file with nothing read or on a stream error.
KOV_UTF16* fgetsU16(KOV_UTF16* buf, int size, FILE* stream);
// As fgetsU16 on standard input, without the newline.  There is no form
// without a size: nothing could keep a longer line inside the buffer.
KOV_UTF16* getsU16(KOV_UTF16* buf, int size);
// Reads size × count units; returns the units read / size.
size_t freadU16(KOV_UTF16* buf, size_t size, size_t count, FILE* stream);

// ---- plain and token readers ---------------------------------------------------------
// A line of standard input, at most size - 1 bytes, newline not kept; null at
// end of file with nothing read or on error.
char* getlineR(char* buf, int size);
// A line of a stream (newline not kept) or its next token delimited by white
// space; the length, or -1 at end of file with nothing read or on error.
int fgetlineR(char* buf, int size, FILE* stream);
int fgettokenR(char* buf, int size, FILE* stream);
// The same decoding UTF-8: each byte of 0x80 or more of an invalid sequence
// becomes repl; the units read, -1 at end of file with nothing read or on
// error, -2 when invalid input was met.
int fgetlineU16(KOV_UTF16* buf, int size, FILE* stream, KOV_UTF16 repl);
int fgettokenU16(KOV_UTF16* buf, int size, FILE* stream, KOV_UTF16 repl);

// Decimal numbers: skip white space, an optional sign and digits; the first
// other character stays in the stream.  0; 1 with errno = ERANGE and the
// value clamped; -2 with that character in *value when no number starts
// there; -1 at end of file or on error.
int fgetint32R(FILE* stream, int32_t* value);
int fgetint64R(FILE* stream, int64_t* value);
int fgetint32U16(FILE* stream, int32_t* value);  // UTF-8 stream
int fgetint64U16(FILE* stream, int64_t* value);

// Formatted output of 16-bit text: one engine writes into a caller's unit
// buffer (bounded or not) or, as UTF-8, to a stdio stream.  Format, string
// arguments (%s takes a KOV_UTF16 string) and output are 16-bit units;
// floating-point conversions go through the C library.
//
// Conversions: % A E F G X a c d e f g i n o p s u x; flags blank # + - 0 (at
// most four, only - may repeat); width and precision as digits or *; length
// modifiers hh h l ll j z t L (only l and ll widen integers to 64 bits, L
// selects long double).  Results: the units produced, or -1 (format error with
// a report at trace level medium and above, a stream write failure, or a %c
// that found no room).  Buffer output is always terminated.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "i18n/kovu16/u16_str.h"

// All-ones size: an unbounded buffer.
constexpr size_t U16_UNBOUNDED = static_cast<size_t>(-1);

// stream null: output into buffer, *size units (terminator included).
int32_t vvfprintfU16(FILE* stream, KOV_UTF16* buffer, const size_t* size, const KOV_UTF16* format, va_list ap);
// The same with an argument that is ignored.
int32_t vvfprintfU16x(FILE* stream, KOV_UTF16* buffer, const size_t* size, const KOV_UTF16* format, void* ignored,
                      va_list ap);

int32_t vsnprintfCountU16(KOV_UTF16* buffer, size_t size, const KOV_UTF16* format, va_list ap);
int32_t snprintfCountU16(KOV_UTF16* buffer, size_t size, const KOV_UTF16* format, ...);
int32_t vsprintfU16(KOV_UTF16* buffer, const KOV_UTF16* format, va_list ap);
int32_t sprintfU16(KOV_UTF16* buffer, const KOV_UTF16* format, ...);
int32_t vfprintfU16(FILE* stream, const KOV_UTF16* format, va_list ap);
int32_t fprintfU16(FILE* stream, const KOV_UTF16* format, ...);
int32_t vprintfU16(const KOV_UTF16* format, va_list ap);
int32_t printfU16(const KOV_UTF16* format, ...);

// Bounded formatting with the rules of the 8-bit twins (sizes in units, the
// terminator counted).  Truncating rule: the units written, or what the engine
// reports when the output was cut (the size) or failed (negative); size 0
// writes nothing and returns 0.  Checking rule: the units written, or -1 when
// cut or failed; size 0 returns -1.  Both leave the buffer terminated.
int32_t vsnprintfTruncU16(KOV_UTF16* dst, size_t size, const KOV_UTF16* format, va_list ap);
int32_t snprintfTruncU16(KOV_UTF16* dst, size_t size, const KOV_UTF16* format, ...);
int32_t vsnprintfU16(KOV_UTF16* dst, size_t size, const KOV_UTF16* format, va_list ap);
int32_t snprintfU16(KOV_UTF16* dst, size_t size, const KOV_UTF16* format, ...);

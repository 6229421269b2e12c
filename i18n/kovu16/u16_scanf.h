// Formatted input of 16-bit text: the source is a 16-bit string or a stream
// decoded from UTF-8.  Conversions: A E F G X [ a c d e f g i n o p s u x
// with an optional * (no assignment), a width (digits, or * for no limit)
// and the length modifiers hh h l ll j z t L; numbers are collected as 8-bit
// text and converted by the C library.  Results: the assignments made; 0 when a matching failure comes
// before anything matched; -1 when the input ends before anything matched.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "i18n/kovu16/u16_str.h"

// Reads the stream when it is not null (locked for the whole call), else str.
int32_t vvfscanfU16(const KOV_UTF16* str, FILE* stream, const KOV_UTF16* format, va_list ap);
int32_t vsscanfU16(const KOV_UTF16* str, const KOV_UTF16* format, va_list ap);
int32_t sscanfU16(const KOV_UTF16* str, const KOV_UTF16* format, ...);
// A null stream (or no standard input) gives errno = EBADF and -1.
int32_t fscanfU16(FILE* stream, const KOV_UTF16* format, ...);
int32_t scanfU16(const KOV_UTF16* format, ...);

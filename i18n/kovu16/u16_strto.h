// Number parsing of 16-bit text with the contract of the C library's strtol
// family: leading white space (isspaceU16) and a sign are taken, the end
// pointer (when given) receives the position after the number, errno reports
// ERANGE (the result clamped) and EINVAL (a bad base).
#pragma once

#include "i18n/kovu16/u16_str.h"

// Base 0 (prefix decides: 0x hexadecimal, 0 octal, else decimal) or 2 to 36.
long strtolU16(const KOV_UTF16* s, KOV_UTF16** end, int base);
long long strtollU16(const KOV_UTF16* s, KOV_UTF16** end, int base);
unsigned long strtoulU16(const KOV_UTF16* s, KOV_UTF16** end, int base);
unsigned long long strtoullU16(const KOV_UTF16* s, KOV_UTF16** end, int base);

// Decimal floating point (infinity and NaN words included), read through at
// most 24 significant digits.
double strtodU16(const KOV_UTF16* s, KOV_UTF16** end);

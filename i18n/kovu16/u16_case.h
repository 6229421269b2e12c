// Case-insensitive compares and case conversions of 16-bit strings through
// the Unicode simple case maps (surrogates compare and convert as
// themselves).  The compares fold every unit to lower case and return the
// difference of the first differing folded units.
#pragma once

#include <cstddef>

#include "i18n/kovu16/u16_str.h"

int strcasecmpU16(const KOV_UTF16* s1, const KOV_UTF16* s2);
int strncasecmpU16(const KOV_UTF16* s1, const KOV_UTF16* s2, size_t n);
// In place; return s.
KOV_UTF16* strlwrU16(KOV_UTF16* s);
KOV_UTF16* struprU16(KOV_UTF16* s);
KOV_UTF16* strnlwrU16(KOV_UTF16* s, size_t n);
KOV_UTF16* strnuprU16(KOV_UTF16* s, size_t n);
// Converted copy with terminator; return dst.
KOV_UTF16* strcpylwrU16(KOV_UTF16* dst, const KOV_UTF16* src);
KOV_UTF16* strcpyuprU16(KOV_UTF16* dst, const KOV_UTF16* src);

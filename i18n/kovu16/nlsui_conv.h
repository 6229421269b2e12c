// Argument and result conversion of the 16-bit system-call wrappers.
#pragma once

#include <cstddef>

#include "i18n/kovu16/u16_str.h"

// Converts a 16-bit argument to UTF-8 in dst (size bytes).  The bytes
// written; size when the argument has no terminator within size units or its
// UTF-8 form does not fit with a terminator: then "Function <func> :\nArray
// <arg> length <limit> is too small." is reported and errno is ENAMETOOLONG.
size_t nlsui_u16ToCbuf(char* dst, const KOV_UTF16* src, size_t size, const char* file, int line, const char* func,
                       const char* arg, const char* limit);
// Converts a UTF-8 result into dst (size units): the units, size when it did
// not fit (reported, ENAMETOOLONG), or -1 for invalid UTF-8 (reported).
long nlsui_utf8ToU16buf(KOV_UTF16* dst, const char* src, size_t size, const char* file, int line, const char* func,
                        const char* arg, const char* limit);
// The "too small" report alone.
void nlsui_reportTooSmall(const char* file, int line, const char* func, const char* arg, const char* limit);

// The argument for the system: NULL for a NULL argument, else buf; false when
// it does not convert (the wrapper then fails without calling the system).
bool nlsui_argument(char* buf, size_t size, const KOV_UTF16* src, const char*& out, const char* func, const char* arg,
                    const char* limit);

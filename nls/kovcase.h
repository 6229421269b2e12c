// Case-insensitive compares and case conversions of 8-bit text that respect
// double-byte locales: the two bytes of a double-byte character are never
// folded and always compared exactly; every other byte is folded through the
// running locale's case tables (ASCII letters by the fixed distance 32 in the
// conversions).  Results follow the process locale (setlocale).
#pragma once

#include <cstddef>

// Difference of the first unequal compare units; 0 when equal.
int strcasecmpR(const char* s1, const char* s2);
// As strcasecmpR over at most n bytes; n 0 or s1 == s2 gives 0.
int strncasecmpR(const char* s1, const char* s2, size_t n);

// In place; return s.
char* strlwrR(char* s);
char* struprR(char* s);
// In place over at most n bytes; return s.
char* strnlwrR(char* s, size_t n);
char* strnuprR(char* s, size_t n);
// Converted copy with terminator into dst (no overlap); return dst.
char* strcpylwrR(char* dst, const char* src);
char* strcpyuprR(char* dst, const char* src);

// 16-bit string and memory functions.
//
// KOV_UTF16 is the unsigned 16-bit code unit of the 16-bit character library;
// its strings end with a 0 unit.  All sizes, counts, lengths and results are
// in units; comparisons compare units as unsigned 16-bit values.
//
// The bounded functions (suffix _sU16) follow the rules of their 8-bit twins
// in nls/kovstr.h: dstsize counts the terminator; 0 when the result fits,
// 34 (ERANGE) when not (the string functions then leave an empty string, the
// block functions a zero-filled destination); strncpy_sU16 truncates
// silently.  No function checks its pointers.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint16_t KOV_UTF16;

// ---- bounded twins of the 8-bit functions ------------------------------------
size_t strnlenU16(const KOV_UTF16* s, size_t max);
int strcpy_sU16(KOV_UTF16* dst, size_t dstsize, const KOV_UTF16* src);
int strcat_sU16(KOV_UTF16* dst, size_t dstsize, const KOV_UTF16* src);
int strncpy_sU16(KOV_UTF16* dst, size_t dstsize, const KOV_UTF16* src, size_t count);
int strncat_sU16(KOV_UTF16* dst, size_t dstsize, const KOV_UTF16* src, size_t count);
KOV_UTF16* strtok_sU16(KOV_UTF16* str, const KOV_UTF16* delim, KOV_UTF16** context);
int memcpy_sU16(KOV_UTF16* dst, size_t dstsize, const KOV_UTF16* src, size_t count);
int memmove_sU16(KOV_UTF16* dst, size_t dstsize, const KOV_UTF16* src, size_t count);

// ---- plain string functions ----------------------------------------------------
size_t strlenU16(const KOV_UTF16* s);
KOV_UTF16* strcpyU16(KOV_UTF16* dst, const KOV_UTF16* src);
KOV_UTF16* strcatU16(KOV_UTF16* dst, const KOV_UTF16* src);
// Copies at most n units; when src ends first the rest of the n units are 0;
// no terminator when src has n or more units.
KOV_UTF16* strncpyU16(KOV_UTF16* dst, const KOV_UTF16* src, size_t n);
// Appends at most n units of src, then a terminator.
KOV_UTF16* strncatU16(KOV_UTF16* dst, const KOV_UTF16* src, size_t n);
int strcmpU16(const KOV_UTF16* a, const KOV_UTF16* b);
int strncmpU16(const KOV_UTF16* a, const KOV_UTF16* b, size_t n);
// Searching for 0 finds the terminator.
KOV_UTF16* strchrU16(const KOV_UTF16* s, KOV_UTF16 unit);
KOV_UTF16* strrchrU16(const KOV_UTF16* s, KOV_UTF16 unit);
KOV_UTF16* strpbrkU16(const KOV_UTF16* s, const KOV_UTF16* set);
size_t strspnU16(const KOV_UTF16* s, const KOV_UTF16* set);
size_t strcspnU16(const KOV_UTF16* s, const KOV_UTF16* set);
// An empty needle gives the haystack.
KOV_UTF16* strstrU16(const KOV_UTF16* haystack, const KOV_UTF16* needle);
// One saved position for the whole process; null when only delimiters remain
// (or on a first call with a null string).
KOV_UTF16* strtokU16(KOV_UTF16* s, const KOV_UTF16* delim);
// Heap copy (free with free()), or null when out of memory.
KOV_UTF16* strdupU16(const KOV_UTF16* s);

int memcmpU16(const KOV_UTF16* a, const KOV_UTF16* b, size_t n);
KOV_UTF16* memchrU16(const KOV_UTF16* s, KOV_UTF16 unit, size_t n);
KOV_UTF16* memsetU16(KOV_UTF16* dst, KOV_UTF16 unit, size_t n);

// Byte-count helpers of the library: a move (overlap allowed), a forward copy
// that returns the destination, and the allocation functions, each handing
// the work to the C library unchanged.
void* memmoveBytesU16(void* dst, const void* src, size_t nbytes);
void* memcpyBytesU16(void* dst, const void* src, size_t nbytes);
void* callocU16(size_t n, size_t size);
void* reallocU16(void* p, size_t size);
void* mallocU16(size_t size);

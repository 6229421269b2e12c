// Bounded string and memory functions and bounded formatting for 8-bit text.
//
// The bounded functions take the size of the destination in bytes (terminator
// included) and return 0 when the result fits, or KOV_ERANGE (34) when it does
// not: the string functions then leave an empty string, the block functions a
// zero-filled destination.  strncpy_sR truncates silently.  No function checks
// its pointers; each reads the source and writes the destination only within
// the sizes given.
//
// Bounded formatting: snprintfTruncR returns the length written, or the buffer
// size when the output was cut; snprintfR returns -1 when cut.  Both always
// terminate a buffer of size 1 or more.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// The program's character type: in this build the 8-bit char.
typedef char KOV_UC;

constexpr int KOV_ERANGE = 34;  // result does not fit
constexpr int KOV_EINVAL = 22;  // missing argument (set in errno by strtok_sR)

// Index of the first NUL within the first max bytes, else max.
size_t strnlenR(const char* s, size_t max);

// Copies src with its terminator; 34 and dst[0] = 0 when it does not fit.
// dstsize 0 writes nothing and returns 0.
int strcpy_sR(char* dst, size_t dstsize, const char* src);

// Appends src; 34 and dst[0] = 0 when the result does not fit, 34 with dst
// untouched when dst holds no terminator within dstsize (dstsize 0 included).
int strcat_sR(char* dst, size_t dstsize, const char* src);

// Copies at most min(count, dstsize - 1) bytes of src and terminates; always 0.
int strncpy_sR(char* dst, size_t dstsize, const char* src, size_t count);

// Appends at most count bytes of src; 34 when dst has no terminator within
// dstsize (untouched) or when the appended text does not fit (dst emptied).
int strncat_sR(char* dst, size_t dstsize, const char* src, size_t count);

// Re-entrant tokeniser: str null continues from *context.  Both null: errno 22
// and null.
char* strtok_sR(char* str, const char* delim, char** context);

// Copies count bytes; count > dstsize zero-fills dst[0..dstsize) and returns 34.
// memcpy_sR needs disjoint areas, memmove_sR handles overlap.
int memcpy_sR(void* dst, size_t dstsize, const void* src, size_t count);
int memmove_sR(void* dst, size_t dstsize, const void* src, size_t count);

// Truncating rule: length written, or size (low 32 bits) when cut or when
// formatting failed; size 0 writes nothing and returns 0.
int32_t vsnprintfTruncR(char* dst, size_t size, const char* fmt, va_list ap) __attribute__((format(printf, 3, 0)));
int32_t snprintfTruncR(char* dst, size_t size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

// Checking rule: length written, or -1 when cut or when formatting failed;
// size 0 writes nothing and returns -1.
int32_t vsnprintfR(char* dst, size_t size, const char* fmt, va_list ap) __attribute__((format(printf, 3, 0)));
int32_t snprintfR(char* dst, size_t size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

// Conversion between 16-bit text and UTF-8.
//
// Encoding: each unit by itself, in one to three bytes (a surrogate pair
// becomes two three-byte sequences).  Decoding: one to four bytes, a four-byte
// sequence only below 0x110000; overlong forms and encoded surrogates are
// accepted; a code point of 0x10000 or more becomes a surrogate pair.
// Invalid input sets errno to EILSEQ (84), a destination too small ERANGE.
#pragma once

#include <cstddef>

#include "i18n/kovu16/u16_str.h"

// All-ones count: up to and including the terminator.
constexpr size_t U16_TO_TERMINATOR = static_cast<size_t>(-1);

// dst null: the bytes needed (terminator not counted).  Otherwise encodes
// unit by unit while whole characters fit and terminates when there is room;
// returns the bytes written (the terminator not counted).  A result equal to
// dstsize means the text filled the destination and is not terminated.
size_t U16ToUtf8Str(char* dst, const KOV_UTF16* src, size_t dstsize);

// Encodes exactly count units into dst (3 × count bytes at most); the bytes
// written; dst null gives -1.
int U16nToUtf8(char* dst, const KOV_UTF16* src, size_t count);

// Encodes count units (or up to and including the terminator) into dstsize
// bytes; the bytes written, or 0 with ERANGE when they do not fit; dst null or
// dstsize 0 gives the bytes needed.
size_t U16nToUtf8n(char* dst, size_t dstsize, const KOV_UTF16* src, size_t count);

// Decodes count bytes (or up to and including the terminator) into dstsize
// units; the units written (dst null: needed).  Invalid input: with errcount
// null a 0 unit is stored at the output position, errno = EILSEQ and the
// result is 0; else *errcount grows, repl is stored and decoding resumes at
// the byte after the lead byte.  No room: errno = ERANGE, result 0 (a high
// surrogate is stored even when its low half does not fit).
size_t Utf8nToU16nRepl(KOV_UTF16* dst, size_t dstsize, const char* src, size_t count, size_t* errcount, KOV_UTF16 repl);

// Decodes up to and including the terminator, or until max units are stored;
// the units before the terminator (max when the text filled dst, which is then
// not terminated); -1 with EILSEQ on invalid input.  dst null only counts.
long Utf8ToU16Str(KOV_UTF16* dst, const char* src, size_t max);

// ---- shared by the converters and the stream readers ---------------------------

// Decodes one character at s, with avail bytes readable (a terminated text may
// pass SIZE_MAX: a terminator never continues a sequence).  Returns the bytes
// used (1 to 4) and the code point, or 0 when the sequence is invalid.
int u16_decodeUtf8(const unsigned char* s, size_t avail, unsigned* cp);

// Encodes one unit; returns the bytes (1 to 3).
inline int u16_encodeUnit(KOV_UTF16 u, char* out)
{
    if (u < 0x80) {
        out[0] = static_cast<char>(u);
        return 1;
    }
    if (u < 0x800) {
        out[0] = static_cast<char>(0xC0 | (u >> 6));
        out[1] = static_cast<char>(0x80 | (u & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | (u >> 12));
    out[1] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (u & 0x3F));
    return 3;
}

inline size_t u16_encodedLength(KOV_UTF16 u)
{
    return u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
}

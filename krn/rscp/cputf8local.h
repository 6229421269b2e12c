// Cached converters between UTF-8 (or UTF-16 little-endian) and the local
// code page: each is one converter object set up on its first use and again
// only when the code page changes or its last set-up failed, so that all the
// names of an archive are converted without setting up a converter each
// time.  The local code page is what the LocalCodePage hook writes.
//
// Results are the library's codes: 0, 32 when the destination is too small
// (what fitted is converted), 2 (RSCPENOMEM) when the tables or a buffer
// could not be had for memory, any other code of the conversion or of the
// cache start-up.  The helpers of local names below, which have no result,
// throw std::bad_alloc where the library had no memory.  Characters the
// target cannot hold and broken input become the substitute "#" in every
// converter but the strict ones, which stop.
// With a UTF-8 local code page (4110, 4310) the UTF-8 converters copy their
// source, and broken UTF-8 there (encoded surrogates, values above U+10FFFF,
// overlong, five- and six-byte forms among it) becomes "#" as well.
#pragma once

#include <cstddef>
#include <cstdint>

// Core converters: (code page or NULL for the local one, destination cursor,
// destination end, source cursor, source end); both cursors advance by what
// was written and consumed.  UcnTo... convert from the local code page,
// ...ToUcn into it; Utf16 is "4103"; NoCtrl refuses control codes, Strict
// stops at a character it cannot convert.
uint32_t UcnToUtf8nCP(const char* cp, char** dst, char* dstEnd, const char** src, const char* srcEnd);
uint32_t UcnToUtf8nCPNoCtrl(const char* cp, char** dst, char* dstEnd, const char** src, const char* srcEnd);
uint32_t UcnToUtf8nCPStrict(const char* cp, char** dst, char* dstEnd, const char** src, const char* srcEnd);
uint32_t Utf8nToUcnCP(const char* cp, char** dst, char* dstEnd, const char** src, const char* srcEnd);
uint32_t Utf8nToUcnCPNoCtrl(const char* cp, char** dst, char* dstEnd, const char** src, const char* srcEnd);
uint32_t Utf8nToUcnCPStrict(const char* cp, char** dst, char* dstEnd, const char** src, const char* srcEnd);
uint32_t Utf16nToUcnCP(const char* cp, char** dst, char* dstEnd, const char** src, const char* srcEnd);
uint32_t Utf16nToUcnCP2(const char* cp, char** dst, char* dstEnd, const char** src, const char* srcEnd);
uint32_t UcnToUtf16nCP(const char* cp, char** dst, char* dstEnd, const char** src, const char* srcEnd);
uint32_t UcnToUtf16nCP2(const char* cp, char** dst, char* dstEnd, const char** src, const char* srcEnd);

// Counted forms: length bytes of src into at most dstLength bytes of dst; no
// NUL is written; *outLength (when given) gets the bytes written.
uint32_t Utf8nToUcnCPBuf(char* dst, int32_t dstLength, uint32_t* outLength, const char* src, int32_t srcLength);
uint32_t UcnToUtf8nCPBuf(char* dst, int32_t dstLength, uint32_t* outLength, const char* src, int32_t srcLength);

// String forms: the NUL-terminated src into dst of size bytes (at least 1),
// always terminated where the output stopped; *outLength (when given) gets
// its length.  Into the local code page, a character that would be written
// with a byte "/" or NUL (a stateful or EBCDIC code page can do so) becomes
// "#": a name never gains a separator the UTF-8 text does not hold.  An
// output that would still hold a NUL of its own is refused (16), and so is a
// local code page of 16- or 32-bit units, which cannot be written as a
// NUL-terminated string of bytes.
uint32_t Utf8nToUcnCPStr(char* dst, int32_t size, uint32_t* outLength, const char* src);
uint32_t UcnToUtf8nCPStr(char* dst, int32_t size, uint32_t* outLength, const char* src);

// In-place forms: as the string forms, but dst may be src itself (the source
// is read completely before dst is written).  A source that lies in dst must
// end inside it: one without its NUL there is refused (16), not read past.
uint32_t Utf8nToUcnCPInPlace(char* dst, uint32_t size, uint32_t* outLength, const char* src);
uint32_t UcnToUtf8nCPInPlace(char* dst, uint32_t size, uint32_t* outLength, const char* src);

// Turns every backslash of a name in the local code page (length bytes) into
// "/", but for a byte 0x5C that is part of a longer character (the second
// byte of a double-byte character, a byte of a shifted run): that one is no
// backslash and stays.  Names without a backslash and code pages of single
// bytes or UTF-8 need no walk through the characters.
void BackslashToSlashCP(char* name, size_t length);

// Where the byte c (ASCII) stands in a name in the local code page (length
// bytes) as a character of its own, read by the page's characters as
// BackslashToSlashCP reads them: a byte c inside a longer character is none.
// length when there is none.
size_t FindSingleByteCharacterCP(const char* name, size_t length, char c);

// Lowers the letters A-Z of a name in the local code page (length bytes):
// each character of one byte that the page reads as one of them becomes the
// page's byte of its lower-case letter.  A byte inside a longer character,
// or of a set of one byte that an ISO-2022 shift chose and that is no ASCII,
// is no letter and stays; other letters stay as they are.
void LowerLettersCP(char* name, size_t length);

// Whether a name in the local code page (length bytes) converts into UTF-8
// and back as it was, told without converting it: in a page whose converter
// reads no shifts, where each character converts on its own (into one
// character) and each of the name's is a character of one byte, or of two
// bytes in a page of several bytes a character, that converts into UTF-8
// and back as it was (a byte that may shift, ESC, SO, SI or LF, never
// counts as such).  False tells nothing: the name is to be converted.
bool ComesBackByCharactersCP(const char* name, size_t length);

// How names in the local code page are shown on a line of output.
// Under ISO 8859-1 (1100, and the pages that carry its characters), UTF-8
// and a code page the library cannot convert, by the rules of their bytes:
// true.  Under every other code page by its characters, as LocalCharacterAt
// tells them: false.  Decided once per code page (it may convert).
bool LocalNamesShownByBytes();

// What a name in the local code page holds at p (p < end), for showing it:
// a character (kText) or a control character (kControl: the bytes 0x00-0x1F
// and 0x7F, and what the page decodes to U+0000-U+001F or U+007F-U+009F), of
// *length bytes; or kNone when no character of the page starts at p (a lead
// byte without a fitting trail byte, a byte of no character), *length 1.
// A printable ASCII byte is a character of its own under every code page: a
// name is walked from its start, so that p is where a character begins.
enum class LocalCharacter { kText, kControl, kNone };
LocalCharacter LocalCharacterAt(const char* p, const char* end, size_t* length);

// Prepare-then-convert converters: the preparation sets the converter up
// for the local code page (once per code page); the conversion uses it as
// rscpCConvert does.  The Pad forms truncate trailing spaces of a source
// that does not fit and fill the rest of the destination with blanks.
uint32_t UcnToUtf8nCPInit();
uint32_t UcnToUtf8nCPNext(char** dst, char* dstEnd, const char** src, const char* srcEnd);
uint32_t UcnToUtf8nCPInitPad();
uint32_t UcnToUtf8nCPNextPad(char** dst, char* dstEnd, const char** src, const char* srcEnd);
uint32_t Utf8nToUcnCPInit();
uint32_t Utf8nToUcnCPNext(char** dst, char* dstEnd, const char** src, const char* srcEnd);
uint32_t Utf8nToUcnCPInitPad();
uint32_t Utf8nToUcnCPNextPad(char** dst, char* dstEnd, const char** src, const char* srcEnd);

// Zero-terminated strings of 8-, 16- and 32-bit units: length in units, and
// copies with the terminator.
int32_t rscpStrLen8(const char* s);
int32_t rscpStrLen16(const uint16_t* s);
int32_t rscpStrLen32(const uint32_t* s);
void rscpStrCpy8(char* dst, const char* src);
uint16_t* rscpStrCpy16(uint16_t* dst, const uint16_t* src);
uint32_t* rscpStrCpy32(uint32_t* dst, const uint32_t* src);
int32_t rscpStrCpyLen8(char* dst, const char* src);

// Unicode encoding-form converters: UTF-8, UTF-16, UCS-2 and UCS-4 into each
// other without code page tables.
//
// Every member works on a buffer at a time: (address of the source cursor,
// source end, address of the destination cursor, destination end).  Both
// sides are byte buffers; 16- and 32-bit units are read and written with
// unaligned access.  The members named rscpuNNr use the machine's byte order
// for the 16/32-bit side, rscpuNNw the opposite order (UTF-8 is never
// swapped).  On return both cursors point just past what was converted:
//   0     everything converted (source cursor at the end)
//   32    the destination cannot take the next character (cursors at it)
//   512   the source ends inside a character (cursor at its first byte)
//   2048  invalid input (cursor as each fault says)
// For 32, 512 and 2048 the error hook is called first and its result is
// returned.  Only whole destination units count as room.
//
// UTF-8 input never decodes an overlong form, or a value the target cannot
// hold (UCS-2 above U+FFFF, UTF-16 above U+10FFFF), to a character; the
// strict decoders report it (2048), the substituting ones write the
// substitute, the fast ones write U+FFFD.  UCS-4 targets take the five- and
// six-byte forms; an encoded surrogate decodes to its value, which UTF-16
// targets write as a unit of its own.
#pragma once

#include <cstdint>

// The error hook: the signature of the library's error recorder.  The
// converters pass kind 'O', mask all ones, their module name, a place and a
// line number, the message text and zeros for the rest.
typedef uint32_t (*rscpuErrorHook_t)(uint32_t code, char kind, uint32_t mask, const char* module, int32_t place,
                                     int32_t line, const char* text, const char* msgid, const char* arg1, int32_t len1,
                                     const char* arg2, int32_t len2);
extern rscpuErrorHook_t rscpu_error_hook;
// Returns the code it is given.
uint32_t rscpu_default_error_hook(uint32_t code, char kind, uint32_t mask, const char* module, int32_t place,
                                  int32_t line, const char* text, const char* msgid, const char* arg1, int32_t len1,
                                  const char* arg2, int32_t len2);
// Installs a hook; NULL installs the default again.
void rscpu_set_error_hook(rscpuErrorHook_t hook);

// Plain member: (source cursor, source end, destination cursor, destination end).
typedef uint32_t (*rscpuConv_t)(const uint8_t** src, const uint8_t* srcEnd, uint8_t** dst, uint8_t* dstEnd);
// Substituting decoder: also the substitute (NULL: report faults instead) and
// a counter raised once per substitute written (may be NULL).
typedef uint32_t (*rscpuSubstConv_t)(const uint8_t** src, const uint8_t* srcEnd, uint8_t** dst, uint8_t* dstEnd,
                                     const uint32_t* subst, uint32_t* count);

#define RSCPU_CONV(name) uint32_t name(const uint8_t** src, const uint8_t* srcEnd, uint8_t** dst, uint8_t* dstEnd)
#define RSCPU_SUBST(name) \
    uint32_t name(const uint8_t** src, const uint8_t* srcEnd, uint8_t** dst, uint8_t* dstEnd, const uint32_t* subst, \
                  uint32_t* count)

// UCS-4 <-> UTF-16, machine order.  Values above U+10FFFF become U+FFFD; lone
// surrogates pass as their own value.
RSCPU_CONV(rscpu46r_ucs4_to_utf16);
RSCPU_CONV(rscpu46r_utf16_to_ucs4);
// UTF-16 copy that replaces each unpaired surrogate by '#' and reports it.
RSCPU_CONV(rscpu66r_check_utf16);

// UCS-2 -> UTF-8 (surrogate values are ordinary values); nocc rejects C0/C1
// controls and DEL.
RSCPU_CONV(rscpu82r_ucs2_to_utf8);
RSCPU_CONV(rscpu82w_ucs2_to_utf8);
RSCPU_CONV(rscpu82r_ucs2_to_utf8_nocc);
RSCPU_CONV(rscpu82w_ucs2_to_utf8_nocc);
// UTF-8 -> UCS-2.
RSCPU_CONV(rscpu82r_utf8_to_ucs2_fast);
RSCPU_CONV(rscpu82w_utf8_to_ucs2_fast);
RSCPU_SUBST(rscpu82r_utf8_to_ucs2);
RSCPU_SUBST(rscpu82w_utf8_to_ucs2);
RSCPU_SUBST(rscpu82r_utf8_to_ucs2_nocc);
RSCPU_SUBST(rscpu82w_utf8_to_ucs2_nocc);

// UCS-4 -> UTF-8 (31-bit values; the subst member writes U+FFFD for others).
RSCPU_CONV(rscpu84r_ucs4_to_utf8);
RSCPU_CONV(rscpu84w_ucs4_to_utf8);
RSCPU_CONV(rscpu84r_ucs4_to_utf8_nocc);
RSCPU_CONV(rscpu84w_ucs4_to_utf8_nocc);
RSCPU_CONV(rscpu84r_ucs4_to_utf8_alt);
RSCPU_CONV(rscpu84w_ucs4_to_utf8_subst);
// UTF-8 -> UCS-4.
RSCPU_CONV(rscpu84r_utf8_to_ucs4_fast);
RSCPU_CONV(rscpu84w_utf8_to_ucs4_fast);
RSCPU_SUBST(rscpu84r_utf8_to_ucs4);
RSCPU_SUBST(rscpu84w_utf8_to_ucs4);
RSCPU_SUBST(rscpu84r_utf8_to_ucs4_nocc);
RSCPU_SUBST(rscpu84w_utf8_to_ucs4_nocc);

// UTF-16 -> UTF-8: strict (unpaired surrogates are errors), loose (encoded as
// their own value), subst (U+FFFD).
RSCPU_CONV(rscpu86r_utf16_to_utf8);
RSCPU_CONV(rscpu86w_utf16_to_utf8);
RSCPU_CONV(rscpu86r_utf16_to_utf8_nocc);
RSCPU_CONV(rscpu86w_utf16_to_utf8_nocc);
RSCPU_CONV(rscpu86r_utf16_to_utf8_loose);
RSCPU_CONV(rscpu86w_utf16_to_utf8_loose);
RSCPU_CONV(rscpu86r_utf16_to_utf8_subst);
// UTF-8 -> UTF-16.  The _subst member never reports a fault: it writes the
// substitute (U+FFFD when NULL) and goes on; only 32 is reported.
RSCPU_CONV(rscpu86r_utf8_to_utf16_fast);
RSCPU_CONV(rscpu86w_utf8_to_utf16_fast);
RSCPU_SUBST(rscpu86r_utf8_to_utf16);
RSCPU_SUBST(rscpu86w_utf8_to_utf16);
RSCPU_SUBST(rscpu86r_utf8_to_utf16_nocc);
RSCPU_SUBST(rscpu86w_utf8_to_utf16_nocc);
RSCPU_SUBST(rscpu86r_utf8_to_utf16_subst);

#undef RSCPU_CONV
#undef RSCPU_SUBST

// The members of a converter method 13 "U2_to_U8" to 24 "U8_to_U6sw": the
// plain member for ctrlcodes 1 (try), the nocc member otherwise.  Encoding
// methods (13, 14, 17, 18, 21, 22) fill *enc, decoding ones *dec; the other
// pointer becomes NULL.  Returns 0 for a method outside 13-24.
int32_t rscpuMembersOfMethod(int32_t method, int32_t ctrlcodes, rscpuConv_t* enc, rscpuSubstConv_t* dec);

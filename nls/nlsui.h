// Character casts, 7-bit and EBCDIC conversions, blank-padded fixed fields,
// the guarded copies memcpyU/memcpyR and the rotating temporary-buffer pool.
//
// 7-bit rule: a byte below 0x80 stays, any other becomes '#' (0x23).
// EBCDIC means code page 500; the two tables map the C1 controls, the soft
// hyphen and 0x1D..0x1F to the blank of the other side.
// Pool results stay valid until 40 further pool requests; the pool is for
// single-threaded use.  A pool buffer that can not be had throws
// std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nls/kovstr.h"

constexpr int NLSUI_CUT = 32;  // result of a conversion that did not fit

// ---- temporary-buffer pool ------------------------------------------------
char* nlsui_tmpbuf(int32_t size);
char* nlsui_tmpbuf_str(const char* s);
char* nlsui_tmpbuf_str2(const char* s);
char* nlsui_tmpbuf_mem(const void* src, int32_t n);
char* nlsui_tmpbuf_str2a7(const char* s);
char* nlsui_tmpbuf_mem2a7(const char* src, int32_t n);
char* nlsui_tmpbuf_a72e_str(const char* s);
char* nlsui_tmpbuf_a72e_mem(const char* src, int32_t n);
char* nlsui_tmpbuf_e2a7_str(const char* s);
char* nlsui_tmpbuf_e2a7_mem(const char* src, int32_t n);
char* nlsui_tmpbuf_l12e_str(const char* s);
char* nlsui_tmpbuf_l12e_mem(const char* src, int32_t n);
char* nlsui_tmpbuf_e2l1_str(const char* s);
char* nlsui_tmpbuf_e2l1_mem(const char* src, int32_t n);

// ---- 7-bit conversions ----------------------------------------------------
// Convert while both ranges have room; advance both positions; 0 when the
// whole source was used, else 32.  The cnt forms count each replacement.
int nlsui_cvt2a7(char** dpos, const char* dend, const char** spos, const char* send);
int nlsui_cvt2a7cnt(char** dpos, const char* dend, const char** spos, const char* send);
// Counted source, no terminator; written length in *outlen when not null.
int nlsui_mem2a7(char* dst, size_t dstsize, size_t* outlen, const char* src, size_t srclen);
int nlsui_mem2a7cnt(char* dst, size_t dstsize, size_t* outlen, const char* src, size_t srclen);
// At most dstsize - 1 bytes and a terminator; length without terminator.
int nlsui_str2a7(char* dst, size_t dstsize, size_t* outlen, const char* src);
int nlsui_str2a7cnt(char* dst, size_t dstsize, size_t* outlen, const char* src);
// As nlsui_str2a7, through a pool buffer, so src may be dst.
int nlsui_str2a7inplace(char* dst, size_t dstsize, size_t* outlen, const char* src);
int nlsui_str2a7cntInplace(char* dst, size_t dstsize, size_t* outlen, const char* src);
unsigned char nlsui_char2a7cnt(unsigned char c);
uint32_t nlsui_a7ReplCount();
void nlsui_a7ReplReset();
// Substitute for bytes of 0x80 and above ('#' when subst is itself >= 0x80).
char* nlsui_str2a7subst(char* dst, const char* src, unsigned char subst);
char* nlsui_mem2a7subst(char* dst, const char* src, int32_t n, unsigned char subst);
char* nlsui_mem2a7hash(char* dst, const char* src, int32_t n);
// Copy while bytes are 7-bit; 1 at the first other byte, else 0.
int nlsui_str2a7chk(char* dst, const char* src);
int nlsui_mem2a7chk(char* dst, const char* src, int32_t n);

// ---- plain casts (KOV_UC and raw bytes are both 8-bit here) ---------------
char* nlsui_strcpy(char* dst, const char* src);
char* nlsui_strcpy2(char* dst, const char* src);
void* nlsui_memcpy(void* dst, const void* src, int32_t n);
void* nlsui_memcpy2(void* dst, const void* src, int32_t n);
void* nlsui_memcpyNe(void* dst, const void* src, int32_t n);
void* nlsui_memcpyNe2(void* dst, const void* src, int32_t n);
int nlsui_cvtmem(char** dpos, const char* dend, const char** spos, const char* send);
int nlsui_cvtmem2(char** dpos, const char* dend, const char** spos, const char* send);
uint16_t* nlsui_str2u16(uint16_t* dst, const char* src);
uint16_t* nlsui_mem2u16(uint16_t* dst, const char* src, int32_t n);
int nlsui_mblen(const char* s, size_t n);

// ---- blank-padded fixed fields (no terminator) ----------------------------
void nlsui_str2fix(char* field, const char* src, int32_t n);
void nlsui_mem2fix(char* field, int32_t n, const char* src, int32_t srclen);

// ---- EBCDIC (code page 500) -----------------------------------------------
unsigned char nlsui_e2l1_char(unsigned char c);
unsigned char nlsui_l12e_char(unsigned char c);
unsigned char nlsui_l12e_char2(unsigned char c);
int nlsui_e2l1_isMapped(unsigned char c);
char* nlsui_e2l1_str(char* dst, const char* src);
char* nlsui_e2l1_mem(char* dst, const char* src, int32_t n);
char* nlsui_l12e_str(char* dst, const char* src);
char* nlsui_l12e_str2(char* dst, const char* src);
char* nlsui_l12e_mem(char* dst, const char* src, int32_t n);
char* nlsui_l12e_mem2(char* dst, const char* src, int32_t n);
char* nlsui_l12e_mem3(char* dst, const char* src, int32_t n);
// 7-bit text to EBCDIC (0x80 and above become 0x7B, the EBCDIC '#') and
// EBCDIC to 7-bit (Latin-1 images of 0x80 and above become '#').
unsigned char nlsui_a72e_char(unsigned char c);
unsigned char nlsui_e2a7_char(unsigned char c);
void nlsui_a72e_inplace(char* s, int32_t n);
void nlsui_e2a7_inplace(char* s, int32_t n);
// Low 32 bits of the count of replacements made by the EBCDIC 7-bit casts.
uint32_t nlsui_ebcReplCount();
void nlsui_ebcReplReset();

// ---- guarded copies ---------------------------------------------------------
// Report overlapping ranges on stderr and abort unless KOVMEMCPYCHK is "0".
void* memcpyU(void* dst, const void* src, size_t n, const char* file, int line);
void* memcpyR(void* dst, const void* src, size_t n, const char* file, int line);

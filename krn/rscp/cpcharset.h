// Code pages and the character set names of Internet protocols and Java
// peers, both ways, and the code pages of Windows code page numbers.
#pragma once

#include <cstdint>

#include "krn/rscp/cpcache.h"

// Name tables in ascending code page order, each ended by a row without a
// name; a name that several code pages share maps back to the first of them.
extern const rscpCharsetRow rscpcpnIanaNames[];
extern const rscpCharsetRow rscpcpnJavaNames[];

// The code page of a charset name (case, '-' and '_' do not matter); a
// negative length means NUL-terminated.  0, or 128 with "0000".
uint32_t rscpcpn_cp_of_charset_name(char* cp4, const char* name, int32_t length);
// The charset name of a code page into name (size bytes with its NUL); code
// pages without a public name, and the 16-bit Unicode forms, give "utf-8"
// with the code page "4110".
uint32_t rscpcpn_charset_of_cp(char* cpOut4, char* name, int32_t size, const char* cp4);
// The code page of a Windows code page number; 8192 with "0000" for others.
uint32_t rscpcpn_cp_of_windows_cp(char* cp4, uint32_t windowsCp);

// The lookup behind rscpcpn_cp_of_charset_name: 0 found, 128 not found.  With
// skipRemembered the list of remembered names is neither built nor read.
uint32_t rscpcpn__cp_of_name(char* cp4, const char* name, int32_t length, int32_t maxLength,
                             const rscpCharsetRow* table, uint8_t skipRemembered);
// 1 when both names are equal after normalising (mode 0: case only; mode 1:
// also without '-' and '_'); 0 otherwise and for a length of 73 or more.
int32_t rscpcpn__names_equal(const char* a, int32_t lengthA, const char* b, int32_t lengthB, int32_t mode);
// Makes the name the most recently found one (slot 0 of the remembered names).
void rscpcpn__remember_hit(const char* cp4, const char* name, int32_t length);
// Lower-cases at most length characters into out (73 bytes), stopping at a
// blank; mode 1 leaves out '-' and '_'.
void rscpcpn__normalise_name(char* out73, const char* name, int32_t length, int32_t mode);

// Classification and case mapping of single 16-bit units over the whole BMP,
// by the Unicode 3.1 classes and simple case mappings, without any locale.
// The predicates take an int holding one unit and return 1 or 0; a value
// outside 0..0xFFFF belongs to no class.  The maps return the mapped unit
// (a unit without a mapping, a surrogate among them, maps to itself).
#pragma once

#include "i18n/kovu16/u16_str.h"

int isalnumU16(int c);
int isalphaU16(int c);
int islowerU16(int c);
int isprintU16(int c);  // blank included
int isupperU16(int c);
int isgraphU16(int c);   // printable but not the blank
int ispunctU16(int c);   // printable, not alphanumeric, not the blank
int isxdigitU16(int c);  // ASCII hexadecimal digits only
int isspaceU16(int c);
int iscntrlU16(int c);
KOV_UTF16 tolowerU16(KOV_UTF16 c);
KOV_UTF16 toupperU16(KOV_UTF16 c);

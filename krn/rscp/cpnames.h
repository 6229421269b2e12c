// Texts of the converter options, NLS kinds, methods, rules and tables.  The
// first character of an option text is the option's one-character code.
#pragma once

#include <cstdint>

const char* rscpMissName(int32_t v);
const char* rscpFillName(int32_t v);
const char* rscpBrokenName(int32_t v);
const char* rscpCtrlCodeCvName(int32_t v);
const char* rscpKOVOwnChCvName(int32_t v);
const char* rscpUseF1Name(int32_t v);
const char* rscpDropName(int32_t v);
const char* rscpTabKindName(int32_t v);
const char* rscpDBCPStatusName(int32_t v);
const char* rscpCharsizeFactorName(int32_t v);
const char* rscpContainerKindName(int32_t v);
const char* rscptn_table_name(int32_t index);
// Out of range these format into a buffer of their own, valid until the
// function's next out-of-range call.
const char* rscpCctlErrName(uint32_t v);
const char* rscpLangByName(uint32_t v);
const char* rscpOutRuleName(uint16_t rule);
const char* rscpInRuleName(uint16_t rule);
const char* rscpNlsKindName(uint32_t kind);
const char* rscpMethodName(uint32_t method);
// The drop option whose text begins with c ('.' stop, 'r' remove, 's' space,
// anything else like_miss).
int32_t rscpDropOfChar(char c);

// Fixed-length fields: text padded with blanks and carrying no NUL.  A field
// is an address and a length (below 1 means empty); its content is the field
// without its trailing blanks.  Bytes compare as unsigned values.  No
// function allocates; destinations are the caller's (a field of its stated
// length, or length + 1 bytes for a NUL-terminated result).
#pragma once
#include <cstdint>

// Copies min(n, m) bytes and pads the destination with blanks; a null source
// gives blanks.
void fixstr_copy_pad(char* dst, int32_t m, const char* src, int32_t n);
// The string up to its NUL (at most m bytes), blank-padded.
void fixstr_copy_str_pad(char* dst, const char* str, int32_t m);
// The content as a string (dst needs n + 1 bytes).
void fixstr_copy_trim(char* dst, const char* field, int32_t n);
// The content cut to size - 1 bytes; *complete 1 when it fitted.
void fixstr_copy_trim_bounded(char* dst, int32_t size, const char* field, int32_t n, int* complete);
// Up to the first blank or NUL; returns the count.
int32_t fixstr_copy_token(char* dst, const char* field, int32_t n);
int32_t fixstr_copy_token2(char* dst, const char* field, int32_t n);
int32_t fixstr_trimmed_len(const char* field, int32_t n);
int fixstr_is_blank(const char* field, int32_t n);
int fixstr_all_equal(const char* field, char c, int32_t n);
int fixstr_all_equal2(const char* field, char c, int32_t n);
// 1 when the contents are equal (two null fields are).
int fixstr_equal(const char* a, int32_t n, const char* b, int32_t m);
int fixstr_equal_str(const char* field, const char* str, int32_t n);
// Three-way comparison of the contents; empty and null fields have empty
// contents, so two blank fields compare equal.
int fixstr_compare(const char* a, int32_t n, const char* b, int32_t m);
int fixstr_compare_str(const char* field, const char* str, int32_t n);
const char* fixstr_find_byte(const char* field, char c, int32_t n);
const char* fixstr_find(const char* field, int32_t n, const char* pat, int32_t m);
const char* fixstr_find2(const char* field, int32_t n, const char* pat, int32_t m);
const char* fixstr_find_last(const char* field, int32_t n, const char* pat, int32_t m);
const char* fixstr_find_last_str(const char* str, const char* pat);
void fixstr_translate(char* dst, const char* src, int32_t n, const unsigned char* table);
// In place; a two-byte character of a multi-byte locale is kept whole.
void fixstr_translate_mb(char* field, int32_t n, const unsigned char* table);
char* fixstr_underscores_to_blanks(char* s);
char* fixstr_trailing_underscores_to_blanks(char* s);

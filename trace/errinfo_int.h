// State of the error-information layer shared by its source files.
#pragma once
#include <cstdarg>
#include <cstdint>

#include "trace/errinfo.h"

constexpr int ERR_PRINT_SIZE = 683;
constexpr int ERR_TEXT_SIZE = 500;  // buffers of formatted texts

extern char* err_record;     // ERR_MAX_RECORD bytes once allocated
extern char* err_print;      // ERR_PRINT_SIZE bytes
extern uint32_t err_length;  // 0: no record
extern int32_t err_counter;
extern uint16_t err_msgno_len;

// Allocates both buffers when missing; false (-5) when that fails.
bool ErrEnsureBuffers();
// An error line of the layer at trace level 1 or more, location "err".
void ErrTraceErr(int line, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// A plain line at trace level 2 or more.
void ErrTraceInfo(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Number of NUL bytes in the record.
int ErrCountFields(const char* rec, uint32_t len);
// Splits a template into its message number (width W, into msgNo of W + 1
// bytes) and the template proper.
const char* ErrSplitMsgNo(const char* tmpl, char* msgNo);
// ErrVargsFormat bounded by size; never ends inside a specification.
void ErrVargsFormatN(char* out, size_t size, const char* fmt);
// Formats into buf (size bytes) cut at size - 1 characters.
void ErrFormatText(char* buf, size_t size, const char* fmt, va_list ap);
// Message-text lookup of ErrIGet for the requested ERROR and DETAIL texts.
void ErrLookupTexts(char lang, const char** error, const char** detail, const char* descrNo, const char* descrVargs,
                    const char* detailNo, const char* detailVargs);

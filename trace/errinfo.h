// The error-information record: one per process, describing the last error a
// library component reported.  It is 21 NUL-terminated text fields, at most
// 500 bytes in all, between two "*ERR*" eyecatchers:
//
//   0 "*ERR*"  1 "1"  2 ERROR  3 RC  4 COMPONENT  5 RELEASE  6 VERSION
//   7 MODULE  8 LINE  9 DETAIL  10 TIME  11 SYSTEM CALL  12 ERRNO
//   13 ERRNO TEXT  14 COUNTER  15 LOCATION  16 DESCR MSG NO  17 DESCR VARGS
//   18 DETAIL MSG NO  19 DETAIL VARGS  20 "*ERR*"
//
// A component sets it where it fails, e.g.
//     ErrSet("NI (network interface)", 40, "nixxi", __LINE__, "%s failed", rc,
//            "%s: invalid hdl %d", "NiRead", "NiGetHdlTblIdx", hdl);
// where the variable arguments are the description's followed by the
// detail's.
//
// Results of the whole layer: 0 success, -1 record too large or caller's area
// too small, -2 no error information, -3 field not replaceable, -4 bad
// parameter or stored length, -5 out of memory, -6 bad record (eyecatcher
// destroyed or too few fields received), -7 stored record has too few fields,
// -8 conversion to or from the network form failed.
#pragma once
#include <cstddef>
#include <cstdint>

#include "trace/dptrc.h"

constexpr int ERR_MAX_RECORD = 500;
constexpr int ERR_FIELDS = 21;

// ---- setting -----------------------------------------------------------------
int ErrSet(const char* component, int version, const char* module, int line, const char* descr, int rc,
           const char* detail, ...);
// As ErrSet for a failed system call; a non-zero logFlag also writes the
// "***LOG Q0I" line.
int ErrSetSys(const char* component, int version, const char* module, int line, unsigned char logFlag,
              const char* descr, int rc, const char* detail, const char* syscall, int err, ...);
// Builds the record from finished texts (null module and syscall are empty).
int ErrISetSys(const char* component, int version, const char* module, int line, unsigned char logFlag,
               const char* descr, int rc, const char* detail, const char* syscall, int err, const char* descrMsgNo,
               const char* descrVargs, const char* detailMsgNo, const char* detailVargs);
int ErrClear();
int ErrIsSet();
int ErrSetLocation(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
const char* ErrGetLocation();
// The format's conversion specifications joined by ";;;;"; out needs at most
// 3 x strlen(fmt) + 1 bytes.
int ErrVargsFormat(char* out, const char* fmt);
// Copy with every "%" doubled, cut to size - 1 characters without splitting
// a pair; src may be dst.  Null for size 0.
char* ErrQuotePercent(const char* src, char* dst, size_t size);
char* ErrGetErrnoTxt(int err, char* buf, int size);
const char* ErrErrnoText(int err);
void ErrGetRelease(char* buf, int size);

// ---- reading and changing ----------------------------------------------------
const char* ErrGetFld(int field);
// Out pointers in the order COMPONENT, VERSION, MODULE, LINE, ERROR, RC,
// DETAIL, SYSTEM CALL, ERRNO, LOCATION, TIME, RELEASE, ERRNO TEXT, COUNTER
// (the classic 14), then DESCR MSG NO, DESCR VARGS, DETAIL MSG NO, DETAIL
// VARGS.  A language other than a blank looks the texts up (ErrGetTxt).
int ErrIGet(char lang, const char** component, const char** version, const char** module, const char** line,
            const char** error, const char** rc, const char** detail, const char** syscall, const char** err,
            const char** location, const char** time, const char** release, const char** errText, const char** counter,
            const char** descrMsgNo, const char** descrVargs, const char** detailMsgNo, const char** detailVargs);
int ErrGetLang(char lang, const char** component, const char** version, const char** module, const char** line,
               const char** error, const char** rc, const char** detail, const char** syscall, const char** err,
               const char** location, const char** time, const char** release, const char** errText,
               const char** counter);
int ErrGet(const char** component, const char** version, const char** module, const char** line, const char** error,
           const char** rc, const char** detail, const char** syscall, const char** err, const char** location,
           const char** time, const char** release, const char** errText, const char** counter);
int ErrGetAll(const char** component, const char** version, const char** module, const char** line, const char** error,
              const char** rc, const char** detail, const char** syscall, const char** err, const char** location,
              const char** time, const char** release, const char** errText, const char** counter,
              const char** descrMsgNo, const char** descrVargs, const char** detailMsgNo, const char** detailVargs);
const char* ErrGetFldLang(int field, char lang);
// Fields 2 and 9: (template, arguments); 3 and 14: int; 12: int; 4-8, 11,
// 13, 17, 19: text; 15, 16, 18: (format, arguments).
int ErrReplace(int field, ...);
int ErrSetLength(unsigned length);
int ErrGetAttr(char** record, unsigned* length);

// ---- copies and the network form ----------------------------------------------
int ErrCpFrom(void* area, unsigned size);
int ErrCpTo(const void* area, unsigned length);
int ErrCpToNet(void* area, unsigned* outLength, unsigned size);
int ErrCpNetToInt(const void* data, unsigned length);
int ErrDumpBad(const void* data, unsigned length, const char* title);

// ---- message texts -----------------------------------------------------------
typedef int (*ErrGetTxtFunc)(const char* msgNo, char lang, char* buf, int size);
extern ErrGetTxtFunc ErrGetTxtPtr;
int ErrGetTxt(const char* msgNo, char lang, char* buf, int size);
int ErrSetGetTxtHook(ErrGetTxtFunc func);
int ErrSetMsgFile(const char* name);
int ErrSetMsgNoLen(uint16_t width);
// Merges the ";;;;"-joined argument texts into the message's "&" and "&n"
// placeholders; out needs ErrMergeLen(text, vargs) + 1 bytes.
int ErrMergeTxt(char* out, const char* text, const char* vargs);
size_t ErrMergeLen(const char* text, const char* vargs);

// ---- printed forms -----------------------------------------------------------
int ErrFmtField(const char* prefix, const char* label, const char* value, char* out, size_t size);
int ErrTrace(DpTrcHdl hdl);
const char* ErrIFormat(char lang);
const char* ErrFormatLang(char lang);
const char* ErrFormat();

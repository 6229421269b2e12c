// Diagnostics of the 16-bit character library: one trace level, one
// replaceable output function and one frame around every message, hex dumps,
// the stream trace, the alignment check, the standard reports, and the
// library's version string and version check.
#pragma once

#include <cstddef>
#include <cstdio>

#include "i18n/kovu16/u16_str.h"

// Trace levels.
constexpr int U16_TRACE_NONE = 0;
constexpr int U16_TRACE_LOW = 1;
constexpr int U16_TRACE_MEDIUM = 4;
constexpr int U16_TRACE_HIGH = 16;

// Receives each finished text (without newline) and its length.
typedef void (*U16TraceFunc)(const char* text, int len);

extern int u16_trace_level;          // initially medium
extern U16TraceFunc u16_trace_func;  // initially: the text and a newline on stderr

// Stores the level and, when given, the output function, then reports the new
// level through the frame (not when going to 0 from a level below 5).
void u16_setTraceLevel(int level, U16TraceFunc func);
// The public forms of the same: the function alone, or function and level.
void setU16TraceFunc(U16TraceFunc func);
void setU16TraceLevel(U16TraceFunc func, int level);

// Keeps the first 256 bytes; written once, with the first framed message.
void u16_saveCmdline(const char* text);
// The saved command-line text (256 bytes and a terminator).
char* u16_cmdlineBuffer();

// Frames text with the header naming source and line (and, on the first
// message of the process, the command line) and passes it to u16_trace_func;
// trailer appends the end-of-message line.
void u16_frameMessage(const char* text, const char* source, int line, bool trailer);
// Passes the end-of-message line alone.
void u16_endOfMessage();

// Hex dumps, one line per call of u16_trace_func.
void u16_dumpUnits(const KOV_UTF16* units, size_t count);
void u16_dumpBytes(const unsigned char* bytes, size_t count);
void u16_dumpString(const char* text);  // at most its first 80 bytes

// What the stream decoder consumed for its last character.
struct U16DecodeRecord {
    int nbytes;  // 1 to 4 (0: nothing recorded)
    unsigned char bytes[4];
    int status;  // 84 (EILSEQ) or 0
};

// The offending bytes, "Characters previously read:" and the last 80 units
// (at most) of [start, end).
void u16_dumpReadContext(const U16DecodeRecord* rec, const KOV_UTF16* start, const KOV_UTF16* end);

// When NLSUI_FILE_TRACE is set, not empty and not "0": reads (consumes) up
// to 80 further bytes of the stream and dumps them.
void u16_traceStream(FILE* stream);

// Reports an odd string pointer through the frame; returns the pointer.
const KOV_UTF16* dbgAlignCheckStringU16(const KOV_UTF16* s);

// "<function> : malloc : Out of memory." to stderr and the frame when the
// level is not 0; errno = ENOMEM always.
void u16_reportOutOfMemory(const char* function, const char* source, int line);
// "<function> : Invalid UTF-8 input." likewise; errno = EILSEQ always.
void u16_reportInvalidInput(const char* function, const char* source, int line);
// Frames "<prefix> \"<name>\" (fileno 0x<n>)", the name shortened to its last
// 80 characters after "...".
void u16_reportFileName(const char* name, int fileno, const char* prefix, const char* source, int line);

// The library's version string.
const char* u16_versionString();
// 0 when the caller's version string names this major version and a minor
// version not above the library's, else 4 (see the trace rules in the code).
int u16_checkVersion(const char* callerVersion, bool verbose);
// The version from its major number on, widened into buf; the length copied,
// or size when cut (then unterminated); size 0 stores nothing.
size_t u16_versionText(KOV_UTF16* buf, size_t size);

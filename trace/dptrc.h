// Trace state and line writers.
//
// Every traced library writes a line in one sequence:
//     if (ct_level >= 2) {
//         DpTrcLockAcquire();
//         DpTrcSaveLoc(__FILE__, __LINE__);
//         DpTrc(tf, "text %d\n", n);
//         DpTrcLockRelease();
//     }
// The writers never look at ct_level themselves.  Error and warning lines are
// written from level 1 on, ordinary lines from 2, details from 3; a plain line
// that must appear at level 1 is written with EntLev set to 1 around the call.
//
// A trace handle is null (standard error), a handle of a component or private
// trace file (trace/ctrc.h) or a stream (FILE*).
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>

typedef void* DpTrcHdl;

typedef void (*DpTrcOutputFunc)(const char* text, int len, void* info);
typedef int (*DpTrcContextInfoFunc)(int option, char* buf, int* len);
typedef void (*DpTrcLockAcquireHook)(const char* name);
typedef int (*DpTrcLockReleaseHook)();
typedef void (*DpTrcSizeHook)(DpTrcHdl hdl, int64_t size);
typedef void (*DpTrcPatternFunc)(DpTrcHdl hdl, const char* pattern);

// ---- exported state --------------------------------------------------------
extern int32_t ct_level;             // process trace level (0)
extern DpTrcHdl tf;                  // default trace handle (null)
extern int32_t EntLev;               // entry level of plain component lines (2)
extern char savloc[32];              // location of the next line, "%-12.12s%d"
extern DpTrcOutputFunc output_func;  // when set, all output goes here
extern void* output_info;
extern FILE* output_stream;  // handed out by CTrcOpen while output_func is set
extern DpTrcContextInfoFunc contextinfo_hook_func;
extern void* contextinfo_hook_ctx;
extern uint8_t dpTrcHidingActive;  // mask confidential bytes in hex dumps (1)
extern int32_t ct_log_level;       // level of "***LOG" lines (3)
extern int32_t ct_time_res;        // 1: a stamp per second; n > 1: per 1/n s; <= 0: none

// ---- lock and location -----------------------------------------------------
void DpTrcLockAcquire();
int DpTrcLockRelease();
void DpTrcSetLockHooks(DpTrcLockAcquireHook acquire, DpTrcLockReleaseHook release);
int DpTrcIsLocked();
void DpTrcSaveLoc(const char* file, int line);

// ---- small accessors -------------------------------------------------------
int CTrcSetOutputFunc(DpTrcOutputFunc func, void* info);
int CTrcSetInfoOutputFunc(DpTrcContextInfoFunc func, void* ctx, int option);
void DpTrcSetLevel(int32_t level);
int32_t DpTrcGetLevel();
DpTrcHdl DpTrcGetTf();
void DpTrcSetTf(DpTrcHdl hdl);
DpTrcOutputFunc DpTrcGetOutputFunc();
void DpTrcSetHiding(uint8_t on);
void DpTrcLevelFilterOff();
// The stream behind a handle.
FILE* CTrcGetFile(DpTrcHdl hdl);
// A component's level, 3 for any other handle.
int CTrcGetHdlLevel(DpTrcHdl hdl);
int CTrcGetHdlInfo(DpTrcHdl hdl, FILE** stream, char* letter, int* level);

// ---- maximum file size and pattern watch ------------------------------------
// A negative limit counts as 0 (off); the hook is called when the stream of a
// plain line has grown past the limit (checked at most every 10 seconds).
void DpTrcSetMaxFileSize(int64_t limit, DpTrcSizeHook hook);
int64_t DpTrcGetMaxFileSize();
void DpTrcMaxFileSizeOff();
// At most 32 patterns ("*", "?" and "\" escapes); -1 when all are used.
int DpTrcAddPattern(const char* pattern, DpTrcPatternFunc func);
int DpTrcRemovePattern(const char* pattern);
void DpTrcClearPatterns();
int DpTrcListPatterns(const char** out, int capacity);

// ---- writers ---------------------------------------------------------------
// Encoding 1: 8-bit format; encoding 2: native character format (the same in
// this build).  Flags: 1 time-stamp check, 2 line-prefix step, 4 WARNING.
void DpTrcIPlain(DpTrcHdl hdl, int enc, int flags, const char* fmt, va_list ap);
void DpTrcIErrWarn(DpTrcHdl hdl, int enc, int flags, const char* fmt, va_list ap);
void DpTrcIErrno(DpTrcHdl hdl, int enc, int flags, const char* fmt, va_list ap);

#define KOV_TRC_FMT(a, b) __attribute__((format(printf, a, b)))
#define KOV_TRC_WRITER(name) \
    void name(DpTrcHdl hdl, const char* fmt, ...) KOV_TRC_FMT(2, 3); \
    void name##V(DpTrcHdl hdl, const char* fmt, va_list ap) KOV_TRC_FMT(2, 0);
// plain lines: encoding 2 with flags 3, 1, 2, 0; encoding 1 likewise
KOV_TRC_WRITER(DpTrc)
KOV_TRC_WRITER(DpTrcNoPrefix)
KOV_TRC_WRITER(DpTrcNoStamp)
KOV_TRC_WRITER(DpTrcBare)
KOV_TRC_WRITER(DpTrcA)
KOV_TRC_WRITER(DpTrcANoPrefix)
KOV_TRC_WRITER(DpTrcANoStamp)
KOV_TRC_WRITER(DpTrcABare)
// located ERROR / WARNING lines: flags 3 and 1 (NoPrefix), WARNING 7 and 5
KOV_TRC_WRITER(DpTrcErr)
KOV_TRC_WRITER(DpTrcErrNoPrefix)
KOV_TRC_WRITER(DpTrcWarn)
KOV_TRC_WRITER(DpTrcWarnNoPrefix)
KOV_TRC_WRITER(DpTrcErrA)
KOV_TRC_WRITER(DpTrcErrANoPrefix)
KOV_TRC_WRITER(DpTrcWarnA)
KOV_TRC_WRITER(DpTrcWarnANoPrefix)
// located error lines with errno: flags 3 and 1
KOV_TRC_WRITER(DpTrcErrno)
KOV_TRC_WRITER(DpTrcErrnoNoPrefix)
KOV_TRC_WRITER(DpTrcErrnoA)
KOV_TRC_WRITER(DpTrcErrnoANoPrefix)
#undef KOV_TRC_WRITER

// Time-stamp line alone (flags 0 and 2).
void DpTrcTime(DpTrcHdl hdl);
void DpTrcTimePrefix(DpTrcHdl hdl);
// Format checks into a 512-character buffer: 0, -1 (cut) or -2 (error).
int DpTrcCheckFmt(const char* fmt, ...) KOV_TRC_FMT(1, 2);
int DpTrcCheckFmtA(const char* fmt, ...) KOV_TRC_FMT(1, 2);
// Appends " (%d: %s)" with errno and its text to the handle's stream.
void DpTrcErrnoText(DpTrcHdl hdl);

// ---- "***LOG" lines and system-log records ----------------------------------
void DpTrcLog(DpTrcHdl hdl, const char* id, const char* fmt, ...) KOV_TRC_FMT(3, 4);
void DpTrcLogParam(const char* id, const char* text1, const char* text2, const char* fmt, ...) KOV_TRC_FMT(4, 5);
void DpTrcLogText(const char* id, const char* fmt, ...) KOV_TRC_FMT(2, 3);

// A system-log record: blank-padded fields, no terminators.
struct DpTrcSysLogRec {
    char text[64];
    char file[12];
    char line[5];
    char arg1[7];
    char arg2[7];
};
typedef void (*DpTrcSysLogEntryHook)(const char* id, const char* text);
typedef void (*DpTrcSysLogWriteHook)(int kind, const char* id, const DpTrcSysLogRec* rec);
typedef void (*DpTrcSysLogCopyHook)(char* dst, const char* src, int len);
void DpTrcSetSysLogHooks(DpTrcSysLogEntryHook entry, DpTrcSysLogWriteHook write, DpTrcSysLogCopyHook copy);
void DpTrcSysLogCall(const char* id, const char* text);
void DpTrcSysLogHdl(DpTrcHdl hdl, const char* id, const char* fmt, ...) KOV_TRC_FMT(3, 4);
void DpTrcSysLogMsg(const char* id, const char* fmt, ...) KOV_TRC_FMT(2, 3);
void DpTrcSysLog(const char* id, const char* arg1, const char* arg2, const char* fmt, ...) KOV_TRC_FMT(4, 5);
#undef KOV_TRC_FMT

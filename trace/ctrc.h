// Trace files, components and handles.  A trace file begins with three
// header lines; components are one-letter names with their own level,
// indentation and hook, whose table entries serve as trace handles.
#pragma once
#include <cstdint>
#include <cstdio>

#include "trace/dptrc.h"

constexpr int CTP_TRCLEVEL = 0x10000000;  // value: int
constexpr int CTP_FILEPTR = 0x10000001;   // value: FILE*
constexpr int CTP_HOOKFUNC = 0x10000002;  // value: CTrcHook
typedef void (*CTrcHook)(int level);

// Opens path ("w" for mode 1, else "a"), sets ct_level to level and makes
// the file the default trace file when there is none yet.  Store the result
// in tf.
FILE* CTrcInitFile(const char* path, int mode, int level);
FILE* CTrcInit(FILE* stream, int level);
// Opens a trace file with mode 0644 whatever the umask, never through a
// symbolic link, and writes its header; standard error when it fails.
FILE* CTrcOpen(const char* path, const char* mode);
DpTrcHdl CTrcOpenHdl(const char* path, const char* mode, int level);
int CTrcNewComp(char letter, DpTrcHdl* out, CTrcHook hook);
int CTrcLastComp(char letter, DpTrcHdl* out, CTrcHook hook);
// value and out point to an int, a FILE* or a CTrcHook, by parameter.
int CTrcSetParam(DpTrcHdl hdl, int param, const void* value);
int CTrcGetParam(DpTrcHdl hdl, int param, void* out);
// mode 1 add, 2 remove, 3 set exactly; bit 0x80: upper-case letters get
// level (else 3).  oldText needs 2,001 bytes.
int CTrcSetComps(const char* text, int mode, int level, char* oldText, int* oldLevel);
int CTrcCompsText(char* buf, int size);
int CTrcWriteActive();
int CTrcCallHooks(DpTrcHdl entry);
int CTrcThrClose(DpTrcHdl hdl);
int CTrcThrSetLevel(DpTrcHdl hdl, int level);
int CTrcThrGetLevel(DpTrcHdl hdl);
// Closes the handle's stream; a default trace handle that pointed at it
// falls back to standard error.
int CTrcClose(DpTrcHdl hdl);
int CTrcResetFile(DpTrcHdl hdl);
int CTrcWriteSysInfo(DpTrcHdl hdl, int release, int patchLevel, int patchNo, int intNo, const char* sysNo,
                     const char* sysId, const char* profile);
int CTrcWriteSysInfoNoProfile(DpTrcHdl hdl, int release, int patchLevel, int patchNo, int intNo, const char* sysNo,
                              const char* sysId);
int CTrcWriteSysInfoShort(DpTrcHdl hdl, int release, int patchLevel, int patchNo, int intNo);
void CTrcSetDepthAll(int depth);
void CTrcAddDepthAll(int amount);
void CTrcSetDepth(DpTrcHdl hdl, int depth);
void CTrcAddDepth(DpTrcHdl hdl, int amount);
CTrcHook CTrcGetHookC();

struct CTrcMaxFileSize {
    int on;
    int64_t size;  // bytes
    int global;
};
// "OFF", or "ON" with a size in K or M and optionally "GLOBAL=ON" (commas
// or blanks between, any case); 0, or -1 for anything else, including a
// size that overflows.  A null setting only validates.
int CTrcParseMaxFileSize(const char* text, CTrcMaxFileSize* setting);

// The trace handle table and administration records shared by the writers
// and the trace-file functions.  Internal to the trace library.
#pragma once
#include <cstdio>
#include <ctime>

#include "trace/dptrc.h"

constexpr int CTRC_MAX_COMPS = 2000;
constexpr size_t DPTRC_LINE = 8192;                     // characters of the shared line buffer
constexpr time_t CTRC_UNSET = static_cast<time_t>(-1);  // all bits set

struct CTrcAdm {
    FILE* stream;
    int level;
    time_t lastStamp;    // second of the last stamp
    time_t lastFineSec;  // second and microsecond of the last fine stamp
    long lastFineUsec;
    time_t lastSizeCheck;  // time of the last file-size check
};

struct CTrcComp {
    char letter;  // upper case; 0 for a private file handle
    int level;
    int depth;
    void (*hook)(int level);
    CTrcAdm* adm;
};

extern CTrcComp ctrcadm[CTRC_MAX_COMPS];
extern int next_free_comp;
extern FILE* ctrc_default_file;
extern CTrcAdm ctrc_static_adm;
extern bool ctrc_thr_filter;  // per-record level filter

// What a handle stands for.
struct CTrcResolved {
    FILE* stream;
    char letter;  // 0 for a stream handle
    int level;
    int depth;
    CTrcAdm* adm;    // null for a stream handle
    CTrcComp* comp;  // null for a stream handle
};

// False (after reporting it) for a handle inside the table but past its used
// entries: such a value is no stream and must not be written to.
bool CTrcResolve(DpTrcHdl hdl, CTrcResolved* r);
// Writes raw bytes to the stream, or to the output function when one is set.
void CTrcOut(FILE* f, const char* s, size_t n);
// The layer's own messages: formatted to the stream (or the output function)
// and flushed.
void CTrcMsg(FILE* f, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Current time for stamps and size checks (a test seam may replace it).
void CTrcClock(struct timeval* tv);
void CTrcSetClock(void (*clock)(struct timeval* tv));
// Forgets the global time-stamp memory.
void CTrcResetStamps();

// Length of the longest start of fmt, at most max characters, that does not
// end inside a conversion specification.
size_t DpTrcFormatCut(const char* fmt, size_t max);
// The time-stamp line for a handle (flags as for the writers).
void DpTrcStamp(DpTrcHdl hdl, int flags);
// Writes "***LOG" lines: stamp check, component prefix, "***LOG %3.3s=> ",
// text and the location; 0 when nothing was written.
size_t DpTrcLogLine(DpTrcHdl hdl, const char* id, const char* text, CTrcResolved* r);

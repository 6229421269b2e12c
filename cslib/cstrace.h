// Trace state of the compression library: the level, the printer that receives
// trace and error lines, the default printer writing "cstrace.trc", hex dumps.
#pragma once

#include <atomic>
#include <cstdint>

#include "cslib/cslib.h"

// Read by every step, on whichever thread runs it.
extern std::atomic<int> cs_trace_level;
extern CsPrinter cs_printer;

// Installs the default printer when no printer is set.
void CsInstallDefaultPrinter();

// The default printer: opens "cstrace.trc" on first use (never through a
// link, never cutting a file it did not make), writes and flushes.
int CsDefaultPrinter(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Hex dump of a buffer through the printer; pos is the stream position of data[0].
void CsHexDump(const uint8_t* data, int32_t len, int64_t pos);

#define CS_PRINT(...) \
    do { \
        if (cs_printer) \
            cs_printer(__VA_ARGS__); \
    } while (0)

// Diagnostics of the 16-bit character library.
#include "i18n/kovu16/u16_diag.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "nls/kovstr.h"

namespace {

constexpr char kVersion[] = "@(#) libkovu16.0001.0025  Apr 10 2015 19:16:21";
constexpr size_t kVersionMajorEnd = 19;  // "@(#) libkovu16.0001"
constexpr char kTrailer[] = "\n--- Unicode interface ------ End of message ------";
constexpr char kEndLine[] = "--- Unicode interface ------ End of message ------";
constexpr size_t kFrameSize = 1024;

void write_to_stderr(const char* text, int len)
{
    if (len > 0)
        fwrite(text, 1, static_cast<size_t>(len), stderr);
    fputc('\n', stderr);
}

char cmdline[257];
bool cmdline_written = false;
bool align_check_running = false;

void emit(const char* text)
{
    u16_trace_func(text, static_cast<int>(strnlenR(text, SIZE_MAX)));
}

}  // namespace

int u16_trace_level = U16_TRACE_MEDIUM;
U16TraceFunc u16_trace_func = write_to_stderr;

void u16_setTraceLevel(int level, U16TraceFunc func)
{
    const int old = u16_trace_level;
    u16_trace_level = level;
    if (func != nullptr)
        u16_trace_func = func;
    if (level == 0 && old < 5)
        return;
    const char* name = level == 0 ? "none" : level == 1 ? "low" : level == 4 ? "medium" : level == 16 ? "high" : "";
    char text[64];
    snprintfTruncR(text, sizeof text, "U16 trace level set to %s", name);
    u16_frameMessage(text, "u16_aux.c", 113, true);
}

void setU16TraceFunc(U16TraceFunc func)
{
    if (func != nullptr)
        u16_trace_func = func;
}

void setU16TraceLevel(U16TraceFunc func, int level)
{
    u16_setTraceLevel(level, func);
}

void u16_saveCmdline(const char* text)
{
    strncpy_sR(cmdline, sizeof cmdline, text, 256);
}

char* u16_cmdlineBuffer()
{
    return cmdline;
}

void u16_frameMessage(const char* text, const char* source, int line, bool trailer)
{
    char out[kFrameSize];
    const size_t srclen = strnlenR(source, SIZE_MAX);
    char shortsrc[64];
    if (srclen < 61)
        strcpy_sR(shortsrc, sizeof shortsrc, source);
    else
        snprintfTruncR(shortsrc, sizeof shortsrc, "...%s", source + srclen - 57);
    size_t n = static_cast<size_t>(
        snprintfTruncR(out, sizeof out, "--- Unicode interface [%.60s line %d] pid = %d time = %ld:\n", shortsrc, line,
                       static_cast<int>(getpid()), static_cast<long>(time(nullptr))));
    if (!cmdline_written) {
        cmdline_written = true;
        n += static_cast<size_t>(snprintfTruncR(out + n, sizeof out - n, "Cmdline : %s\n", cmdline));
    }
    // The text is cut so that the trailer (or nothing) still fits.
    const size_t limit = trailer ? 968 : 1020;
    if (n < limit) {
        strncpy_sR(out + n, limit - n + 1, text, limit - n);
        n += strnlenR(out + n, limit - n);
    }
    if (trailer)
        strcat_sR(out, sizeof out, kTrailer);
    emit(out);
}

void u16_endOfMessage()
{
    emit(kEndLine);
}

void u16_dumpUnits(const KOV_UTF16* units, size_t count)
{
    for (size_t at = 0; at < count; at += 8) {
        char line[64];
        std::memset(line, ' ', sizeof line);
        const size_t k = count - at < 8 ? count - at : 8;
        for (size_t i = 0; i < k; ++i) {
            char group[8];
            snprintfTruncR(group, sizeof group, " %04x", units[at + i]);
            std::memcpy(line + 5 * i, group, 5);
            const KOV_UTF16 u = units[at + i];
            line[43 + i] = (u >= 0x20 && u <= 0x7F) ? static_cast<char>(u) : '.';
        }
        line[42] = '|';
        line[51] = '|';
        line[52] = '\0';
        emit(line);
    }
}

void u16_dumpBytes(const unsigned char* bytes, size_t count)
{
    for (size_t at = 0; at < count; at += 16) {
        char line[72];
        std::memset(line, ' ', sizeof line);
        const size_t k = count - at < 16 ? count - at : 16;
        for (size_t i = 0; i < k; ++i) {
            char group[8];
            snprintfTruncR(group, sizeof group, " %02x", bytes[at + i]);
            std::memcpy(line + 3 * i, group, 3);
            const unsigned char b = bytes[at + i];
            line[50 + i] = (b >= 0x21 && b <= 0x7E) ? static_cast<char>(b) : '.';
        }
        line[49] = '|';
        line[66] = '|';
        line[67] = '\0';
        emit(line);
    }
}

void u16_dumpString(const char* text)
{
    u16_dumpBytes(reinterpret_cast<const unsigned char*>(text), strnlenR(text, 80));
}

void u16_dumpReadContext(const U16DecodeRecord* rec, const KOV_UTF16* start, const KOV_UTF16* end)
{
    if (rec != nullptr && rec->nbytes > 0)
        u16_dumpBytes(rec->bytes, static_cast<size_t>(rec->nbytes > 4 ? 4 : rec->nbytes));
    emit("Characters previously read:");
    const KOV_UTF16* from = end - start > 80 ? end - 80 : start;
    u16_dumpUnits(from, static_cast<size_t>(end - from));
}

void u16_traceStream(FILE* stream)
{
    const char* v = getenv("NLSUI_FILE_TRACE");
    if (v == nullptr || v[0] == '\0' || std::strcmp(v, "0") == 0 || stream == nullptr)
        return;
    unsigned char buf[80];
    const size_t n = fread(buf, 1, sizeof buf, stream);
    u16_dumpBytes(buf, n);
}

const KOV_UTF16* dbgAlignCheckStringU16(const KOV_UTF16* s)
{
    if ((reinterpret_cast<uintptr_t>(s) & 1) == 0 || align_check_running)
        return s;
    align_check_running = true;
    char text[128];
    size_t n = static_cast<size_t>(
        snprintfTruncR(text, sizeof text, "dbgAlignCheckStringU16(): ERROR: The following string is unaligned:\n"));
    // The bytes of the string up to its terminator, 40 at most, shown as text.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    for (size_t i = 0; i + 1 < 40 + 1 && n + 1 < sizeof text; i += 2) {
        if (p[i] == 0 && p[i + 1] == 0)
            break;
        for (size_t k = 0; k < 2 && n + 1 < sizeof text; ++k)
            text[n++] = (p[i + k] >= 0x20 && p[i + k] <= 0x7E) ? static_cast<char>(p[i + k]) : '.';
    }
    text[n] = '\0';
    u16_frameMessage(text, "<unknown>", 0, true);
    align_check_running = false;
    return s;
}

void u16_reportOutOfMemory(const char* function, const char* source, int line)
{
    if (u16_trace_level != 0) {
        char text[128];
        snprintfTruncR(text, sizeof text, "%.64s : malloc : Out of memory.", function);
        fprintf(stderr, "%s\n", text);
        u16_frameMessage(text, source, line, true);
    }
    errno = ENOMEM;
}

void u16_reportInvalidInput(const char* function, const char* source, int line)
{
    if (u16_trace_level != 0) {
        char text[128];
        snprintfTruncR(text, sizeof text, "%.64s : Invalid UTF-8 input.", function);
        u16_frameMessage(text, source, line, true);
    }
    errno = EILSEQ;
}

void u16_reportFileName(const char* name, int fileno, const char* prefix, const char* source, int line)
{
    const size_t len = strnlenR(name, SIZE_MAX);
    const bool longer = len > 80;
    char text[160];
    snprintfTruncR(text, sizeof text, "%.10s \"%s%s\" (fileno 0x%x)", prefix, longer ? "..." : "",
                   longer ? name + len - 80 : name, static_cast<unsigned>(fileno));
    u16_frameMessage(text, source, line, true);
}

const char* u16_versionString()
{
    return kVersion;
}

int u16_checkVersion(const char* callerVersion, bool verbose)
{
    // The caller's minor number is read only as far as its string reaches.
    const size_t clen = strnlenR(callerVersion, kVersionMajorEnd + 5);
    bool match = clen >= kVersionMajorEnd && std::memcmp(callerVersion, kVersion, kVersionMajorEnd) == 0;
    // Minor numbers compare as their four characters; a caller's string that
    // ends early counts as lower there.
    for (size_t i = kVersionMajorEnd + 1; match && i < kVersionMajorEnd + 5; ++i) {
        const unsigned char theirs = i < clen ? static_cast<unsigned char>(callerVersion[i]) : 0;
        const unsigned char ours = static_cast<unsigned char>(kVersion[i]);
        if (ours != theirs) {
            match = ours > theirs;
            break;
        }
    }
    if (!verbose) {
        if (u16_trace_level == 0)
            return match ? 0 : 4;
        if (u16_trace_level <= 4 && match)
            return 0;
    }
    if (!match)
        emit("libkovu16[..]: Wrong version.");
    char text[256];
    snprintfTruncR(text, sizeof text, "libkovu16[..] version: %.80s [%.60s %d] pid = %d", kVersion, "u16_vers.c", 105,
                   static_cast<int>(getpid()));
    emit(text);
    return match ? 0 : 4;
}

size_t u16_versionText(KOV_UTF16* buf, size_t size)
{
    const char* p = kVersion + kVersionMajorEnd - 4;
    while (*p == '0')
        ++p;
    size_t i = 0;
    for (; i < size; ++i) {
        buf[i] = static_cast<unsigned char>(p[i]);
        if (p[i] == '\0')
            return i;
    }
    return size;
}

// "***LOG" lines and the system-log records (written only through hooks).
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "nls/kovstr.h"
#include "trace/ctrc_adm.h"

namespace {

DpTrcSysLogEntryHook g_entry = nullptr;
DpTrcSysLogWriteHook g_write = nullptr;
DpTrcSysLogCopyHook g_copy = nullptr;

// At most 100 characters, every run of blanks collapsed to one.
void Collapse(char* s)
{
    char* w = s;
    for (const char* r = s; *r && w - s < 100; ++r) {
        if (*r == ' ' && w > s && w[-1] == ' ')
            continue;
        *w++ = *r;
    }
    *w = '\0';
}

// Copies a text into a blank-padded field through the copy hook.
void Field(char* dst, size_t width, const char* src)
{
    char tmp[64];
    size_t n = strnlenR(src ? src : "", width);
    std::memset(tmp, ' ', width);
    std::memcpy(tmp, src ? src : "", n);
    g_copy(dst, tmp, static_cast<int>(width));
}

void Location(DpTrcSysLogRec* rec)
{
    char file[13];
    snprintfTruncR(file, sizeof file, "%s", savloc);
    Field(rec->file, sizeof rec->file, file);
    Field(rec->line, sizeof rec->line, std::strlen(savloc) > 12 ? savloc + 12 : "");
}

void WriteText(const char* id, const char* text)
{
    if (!g_write || !g_copy)
        return;
    DpTrcSysLogRec rec;
    std::memset(&rec, ' ', sizeof rec);
    if (std::strlen(text) < 53) {
        Field(rec.text, 52, text);
        Location(&rec);
        g_write(108, id, &rec);
    } else {
        Field(rec.text, sizeof rec.text, text);
        g_write(32, id, &rec);
    }
}

// Formats the text of a "***LOG" line and writes the line on hdl.  With
// text1 (the parameter form) the text, at most 100 characters with its runs
// of blanks collapsed, follows the two texts in parentheses.
__attribute__((format(printf, 5, 0))) void LogV(DpTrcHdl hdl, const char* id, const char* text1, const char* text2,
                                                const char* fmt, va_list ap)
{
    char text[DPTRC_LINE];
    vsnprintfTruncR(text, sizeof text, fmt, ap);
    char all[DPTRC_LINE];
    if (text1) {
        Collapse(text);
        snprintfTruncR(all, sizeof all, "%s, %s (%s)", text1, text2, text);
    }
    CTrcResolved r;
    DpTrcLogLine(hdl, id, text1 ? all : text, &r);
}

}  // namespace

void DpTrcLog(DpTrcHdl hdl, const char* id, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    LogV(hdl, id, nullptr, nullptr, fmt, ap);
    va_end(ap);
}

void DpTrcLogParam(const char* id, const char* text1, const char* text2, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    LogV(tf, id, text1 ? text1 : "", text2 ? text2 : "", fmt, ap);
    va_end(ap);
}

void DpTrcLogText(const char* id, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    LogV(tf, id, nullptr, nullptr, fmt, ap);
    va_end(ap);
}

void DpTrcSetSysLogHooks(DpTrcSysLogEntryHook entry, DpTrcSysLogWriteHook write, DpTrcSysLogCopyHook copy)
{
    g_entry = entry;
    g_write = write;
    g_copy = copy;
}

void DpTrcSysLogCall(const char* id, const char* text)
{
    if (g_entry)
        g_entry(id, text);
}

void DpTrcSysLogHdl(DpTrcHdl hdl, const char* id, const char* fmt, ...)
{
    if (!g_write)
        return;
    CTrcResolved r;
    if (!CTrcResolve(hdl, &r) || (r.comp && r.level < 1))
        return;
    const int saved = errno;
    char text[101];
    va_list ap;
    va_start(ap, fmt);
    vsnprintfTruncR(text, sizeof text, fmt, ap);
    va_end(ap);
    DpTrcSysLogRec rec;
    std::memset(&rec, ' ', sizeof rec);
    const size_t n = strnlenR(text, sizeof rec.text);
    std::memcpy(rec.text, text, n);
    if (g_copy)
        Location(&rec);
    g_write(32, id, &rec);
    errno = saved;
}

void DpTrcSysLogMsg(const char* id, const char* fmt, ...)
{
    const int saved = errno;
    char text[101];
    va_list ap;
    va_start(ap, fmt);
    vsnprintfTruncR(text, sizeof text, fmt, ap);
    va_end(ap);
    WriteText(id, text);
    errno = saved;
}

void DpTrcSysLog(const char* id, const char* arg1, const char* arg2, const char* fmt, ...)
{
    if (!g_write || !g_copy)
        return;
    const int saved = errno;
    char text[101];
    va_list ap;
    va_start(ap, fmt);
    vsnprintfTruncR(text, sizeof text, fmt, ap);
    va_end(ap);
    if (std::strlen(text) < 39) {
        DpTrcSysLogRec rec;
        std::memset(&rec, ' ', sizeof rec);
        Field(rec.text, 38, text);
        Field(rec.arg1, sizeof rec.arg1, arg1);
        Field(rec.arg2, sizeof rec.arg2, arg2);
        Location(&rec);
        g_write(109, id, &rec);
    } else {
        WriteText(id, text);
    }
    errno = saved;
}

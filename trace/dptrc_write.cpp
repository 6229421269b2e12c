// The three line writers (plain, located ERROR/WARNING, errno), the time-stamp
// line, the pattern watch and the maximum-file-size check.
#include <sys/stat.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "krn/rstr/contloct.h"
#include "nls/kovstr.h"
#include "trace/ctrc_adm.h"

namespace {

constexpr size_t kFmtMax = 1024;  // longest format a located line takes
constexpr int kPatterns = 32;
const char kWarnPrefix[] = "*** WARNING => ";
const char kErrPrefix[] = "*** ERROR => ";

char g_line[DPTRC_LINE + 1];  // shared line buffer and its terminator
char g_side[DPTRC_LINE + 1];  // encoding 1 is formatted here first
char g_lastLetter = 0;
bool g_atLineStart = true;
time_t g_lastStamp = CTRC_UNSET;
time_t g_lastFineSec = CTRC_UNSET;
long g_lastFineUsec = -1;
time_t g_lastSizeCheck = 0;
bool g_stampGuard = false;

int64_t g_maxSize = -1;
DpTrcSizeHook g_sizeHook = nullptr;

struct Pattern {
    char* text;
    DpTrcPatternFunc func;
};
Pattern g_patterns[kPatterns];

// Appends up to n bytes at *pos, never past the line.
void Put(size_t* pos, const char* s, size_t n)
{
    const size_t room = DPTRC_LINE - *pos;
    if (n > room)
        n = room;
    std::memcpy(g_line + *pos, s, n);
    *pos += n;
    g_line[*pos] = '\0';
}

// Formats behind *pos within the line: false on a formatter error (reported).
bool FormatAt(size_t* pos, int enc, const char* fmt, va_list ap, FILE* f, bool* truncated)
{
    const size_t size = DPTRC_LINE + 1 - *pos;  // room including the terminator
    const char* src = g_line + *pos;
    int n;
    // The caller's format, often a copy cut to the line's limit: no literal.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (enc == 1) {
        n = std::vsnprintf(g_side, sizeof g_side, fmt, ap);
        src = g_side;
    } else {
        n = std::vsnprintf(g_line + *pos, size, fmt, ap);
    }
#pragma GCC diagnostic pop
    if (n < 0) {
        CTrcMsg(f, "*** ERROR => %s err, errno=%d [%s %d]\n", enc == 1 ? "vsnprintf" : "vsnprintfU", errno, "dptrc",
                __LINE__);
        g_line[*pos] = '\0';
        return false;
    }
    size_t len = static_cast<size_t>(n);
    if (enc == 1 && len > DPTRC_LINE)
        len = DPTRC_LINE;  // what the side buffer holds
    if (len >= size) {
        *truncated = true;
        len = size - 1;
    }
    if (enc == 1)
        std::memcpy(g_line + *pos, src, len);
    *pos += len;
    g_line[*pos] = '\0';
    return true;
}

bool MatchHere(const char* s, const char* p)
{
    const char* starP = nullptr;
    const char* starS = nullptr;
    for (;;) {
        if (!*p)
            return true;  // a match may end before the line does
        if (*p == '*') {
            starP = ++p;
            starS = s;
            continue;
        }
        if (*s) {
            bool ok;
            const char* next;
            if (*p == '\\' && p[1]) {
                ok = *s == p[1];
                next = p + 2;
            } else {
                ok = *p == '?' || *s == *p;
                next = p + 1;
            }
            if (ok) {
                ++s;
                p = next;
                continue;
            }
        }
        if (!starP || !*starS)
            return false;
        s = ++starS;
        p = starP;
    }
}

bool PatternFound(const char* line, size_t len, const char* pat)
{
    if (*pat == '*' || *pat == '?')
        return MatchHere(line, pat);
    size_t need = 0;
    for (const char* q = pat; *q; ++q)
        if (*q != '*')
            ++need;
    if (len < need)
        return false;
    const char first = *pat == '\\' && pat[1] ? pat[1] : *pat;
    for (size_t i = 0; i < len; ++i)
        if (line[i] == first && MatchHere(line + i, pat))
            return true;
    return false;
}

void PatternWatch(DpTrcHdl hdl, FILE* f, size_t len)
{
    for (int i = 0; i < kPatterns && g_patterns[i].text; ++i) {
        if (!PatternFound(g_line, len, g_patterns[i].text))
            continue;
        CTrcMsg(f, "\nDpTrc: found match for pattern >%s< in output\n", g_patterns[i].text);
        if (g_patterns[i].func)
            g_patterns[i].func(hdl, g_patterns[i].text);
    }
}

void SizeCheck(DpTrcHdl hdl, const CTrcResolved& r)
{
    if (g_maxSize < 1 || output_func)
        return;
    struct timeval tv;
    CTrcClock(&tv);
    time_t* last = (r.adm && r.adm->lastSizeCheck != CTRC_UNSET) ? &r.adm->lastSizeCheck : &g_lastSizeCheck;
    if (tv.tv_sec - *last <= 10)
        return;
    *last = tv.tv_sec;
    struct stat st;
    if (!r.stream || fstat(fileno(r.stream), &st) != 0)
        return;
    if (st.st_size > g_maxSize) {
        CTrcMsg(r.stream, "\nDpTrc: maximum file size reached: %d\n", static_cast<int32_t>(st.st_size));
        if (g_sizeHook)
            g_sizeHook(hdl, st.st_size);
    }
}

void Flush(FILE* f)
{
    if (!output_func && f)
        std::fflush(f);
}

// Blanks of indentation and the component prefix "L  " for a component.
size_t ComponentPrefix(const CTrcResolved& r, char* out, size_t cap, bool capAt31)
{
    size_t n = 0;
    if (!r.comp)
        return 0;
    out[n++] = r.letter;
    out[n++] = ' ';
    out[n++] = ' ';
    size_t ind = r.depth > 0 ? 2 * static_cast<size_t>(r.depth) : 0;
    if (capAt31 && ind > 31)
        ind = 31;
    if (ind > cap - n)
        ind = cap - n;
    std::memset(out + n, ' ', ind);
    return n + ind;
}

bool Filtered(const CTrcResolved& r, int minLevel)
{
    if (r.comp && r.level < minLevel)
        return true;
    return ctrc_thr_filter && r.adm && r.adm->level < EntLev;
}

void LocationSuffix(size_t* pos)
{
    const char* line = std::strlen(savloc) > 12 ? savloc + 12 : "";
    char loc[40];
    const int32_t n = snprintfTruncR(loc, sizeof loc, " [%-12.12s %.5s]\n", savloc, line);
    Put(pos, loc, static_cast<size_t>(n));
}

// Copies the format into buf (kFmtMax + 1 bytes) cut cleanly at kFmtMax
// characters and without a final newline.
void CopyFormat(const char* fmt, char* buf, FILE* f)
{
    size_t n = std::strlen(fmt);
    if (n > kFmtMax) {
        CTrcMsg(f, "*** ERROR => Dptrc fmt string truncated\n");
        n = DpTrcFormatCut(fmt, kFmtMax);
    }
    std::memcpy(buf, fmt, n);
    buf[n] = '\0';
    if (n > 0 && buf[n - 1] == '\n')
        buf[n - 1] = '\0';
}

void Truncated(FILE* f)
{
    CTrcMsg(f, "\n%sdata was truncated\n", kWarnPrefix);
}

// Timestamp line; r already resolved.
void Stamp(const CTrcResolved& r, int flags)
{
    (void)flags;  // the line-prefix step yields nothing in this system
    if (r.comp && r.level < 1)
        return;
    const int saved = errno;
    if (ct_time_res <= 0)
        return;
    struct timeval tv;
    CTrcClock(&tv);
    long ms = -1;
    CTrcAdm* a = r.adm;
    if (ct_time_res == 1) {
        time_t* last = (a && a->lastStamp != CTRC_UNSET) ? &a->lastStamp : &g_lastStamp;
        if (tv.tv_sec == *last) {
            errno = saved;
            return;
        }
        *last = tv.tv_sec;
    } else {
        const bool own = a && a->lastFineSec != CTRC_UNSET;
        time_t* ls = own ? &a->lastFineSec : &g_lastFineSec;
        long* lu = own ? &a->lastFineUsec : &g_lastFineUsec;
        const long interval = 1000000L / ct_time_res;
        if (tv.tv_sec == *ls && tv.tv_usec - *lu < interval) {
            errno = saved;
            return;
        }
        *ls = tv.tv_sec;
        *lu = tv.tv_usec;
        ms = tv.tv_usec / 1000;
    }
    if (g_stampGuard) {
        errno = saved;
        return;
    }
    g_stampGuard = true;
    struct tm tm;
    const time_t sec = tv.tv_sec;
    const bool ok = ContLoctLocaltimeR(&sec, &tm) != nullptr;
    g_stampGuard = false;
    if (!ok) {
        errno = saved;
        return;
    }
    char out[128];
    size_t n = 0;
    if (r.comp) {
        out[n++] = r.letter;
        out[n++] = ' ';
        if (ct_level == 1) {
            out[n++] = ' ';
            out[n++] = '\n';
            out[n++] = r.letter;
            out[n++] = ' ';
        }
    } else if (ct_level == 1) {
        out[n++] = '\n';
    }
    if (ms >= 0) {
        char when[64];
        if (std::strftime(when, sizeof when, "%a %b %e %H:%M:%S", &tm) == 0) {
            errno = saved;
            return;
        }
        n += static_cast<size_t>(
            snprintfTruncR(out + n, sizeof out - n, "%.24s:%03ld %4.4d\n", when, ms, tm.tm_year + 1900));
    } else {
        char at[64];
        if (!asctime_r(&tm, at)) {
            errno = saved;
            return;
        }
        n += static_cast<size_t>(snprintfTruncR(out + n, sizeof out - n, "%.24s\n", at));
    }
    CTrcOut(r.stream, out, n);
    Flush(r.stream);
    errno = saved;
}

bool CheckEncoding(int enc, FILE* f)
{
    if (enc == 1 || enc == 2)
        return true;
    CTrcMsg(f, "*** ERROR => Illegal encoding(%d) for Trace [%s %d]\n", enc, "dptrc", __LINE__);
    return false;
}

}  // namespace

size_t DpTrcFormatCut(const char* fmt, size_t max)
{
    size_t i = 0;
    while (i < max && fmt[i]) {
        if (fmt[i] != '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        if (fmt[j] != '%') {
            while (fmt[j] && std::strchr("-+ #0123456789.*'hlLqjzt", fmt[j]))
                ++j;
        }
        if (!fmt[j])
            return i < max ? i : max;  // a conversion left open by the format itself
        ++j;                           // the conversion character
        if (j > max)
            return i;
        i = j;
    }
    return i < max ? i : max;
}

void CTrcResetStamps()
{
    g_lastStamp = CTRC_UNSET;
    g_lastFineSec = CTRC_UNSET;
    g_lastFineUsec = -1;
}

void DpTrcIPlain(DpTrcHdl hdl, int enc, int flags, const char* fmt, va_list ap)
{
    CTrcResolved r;
    if (!CTrcResolve(hdl, &r) || !CheckEncoding(enc, r.stream))
        return;
    if (Filtered(r, EntLev))
        return;
    if (flags & 1)
        Stamp(r, flags);
    char pfx[3 + 31];
    const size_t pfxLen = ComponentPrefix(r, pfx, sizeof pfx, true);
    size_t pos = 0;
    g_line[0] = '\0';
    if (r.comp) {
        if (r.letter != g_lastLetter && !g_atLineStart) {
            Put(&pos, "\n", 1);
            g_atLineStart = true;
        }
        if (r.letter != g_lastLetter || g_atLineStart)
            Put(&pos, pfx, pfxLen);
    }
    const size_t textStart = pos;
    bool truncated = false;
    if (!FormatAt(&pos, enc, fmt, ap, r.stream, &truncated))
        return;
    const size_t end = pos;
    size_t from = 0;
    if (r.comp || (flags & 2)) {
        g_atLineStart = false;
        for (size_t i = textStart; i < end; ++i) {
            if (g_line[i] != '\n')
                continue;
            const bool last = i + 1 == end || (i + 2 == end && g_line[i + 1] == '\r');
            if (last)
                break;
            CTrcOut(r.stream, g_line + from, i + 1 - from);
            if (r.comp)
                CTrcOut(r.stream, pfx, pfxLen);
            from = i + 1;
        }
        if (end > textStart && g_line[end - 1] == '\n')
            g_atLineStart = true;
        g_lastLetter = r.letter;
    }
    CTrcOut(r.stream, g_line + from, end - from);
    if (truncated)
        Truncated(r.stream);
    Flush(r.stream);
    PatternWatch(hdl, r.stream, end);
    SizeCheck(hdl, r);
}

void DpTrcIErrWarn(DpTrcHdl hdl, int enc, int flags, const char* fmt, va_list ap)
{
    CTrcResolved r;
    if (!CTrcResolve(hdl, &r) || !CheckEncoding(enc, r.stream))
        return;
    if (Filtered(r, 1))
        return;
    char ctx[512];
    int ctxLen = 0;
    if (contextinfo_hook_func) {
        int len = 511;
        const int rc = contextinfo_hook_func(1, ctx, &len);
        if (rc != 0)
            CTrcMsg(r.stream, "\n%s contextinfo_hook_func failed %d\n", kWarnPrefix, rc);
        else if (len > 0)
            ctxLen = len < 511 ? len : 511;
    }
    if (flags & 1)
        Stamp(r, flags);
    char pfx[DPTRC_LINE / 2];
    const size_t pfxLen = ComponentPrefix(r, pfx, sizeof pfx, false);
    size_t pos = 0;
    g_line[0] = '\0';
    Put(&pos, pfx, pfxLen);
    const char* kind = (flags & 4) ? kWarnPrefix : kErrPrefix;
    Put(&pos, kind, std::strlen(kind));
    char copy[kFmtMax + 1];
    CopyFormat(fmt, copy, r.stream);
    bool truncated = false;
    if (!FormatAt(&pos, enc, copy, ap, r.stream, &truncated))
        return;
    LocationSuffix(&pos);
    if (ctxLen > 0 && DPTRC_LINE - pos > 80) {
        Put(&pos, pfx, pfxLen);
        if (static_cast<size_t>(ctxLen) + 1 < DPTRC_LINE - pos)
            Put(&pos, ctx, static_cast<size_t>(ctxLen));
        Put(&pos, "\n", 1);
    }
    CTrcOut(r.stream, g_line, pos);
    if (truncated)
        Truncated(r.stream);
    PatternWatch(hdl, r.stream, pos);
    Flush(r.stream);
}

void DpTrcIErrno(DpTrcHdl hdl, int enc, int flags, const char* fmt, va_list ap)
{
    const int err = errno;
    CTrcResolved r;
    if (!CTrcResolve(hdl, &r) || !CheckEncoding(enc, r.stream))
        return;
    if (r.comp && r.level < 1)
        return;
    if (flags & 1)
        Stamp(r, flags);
    char pfx[DPTRC_LINE / 2];
    const size_t pfxLen = ComponentPrefix(r, pfx, sizeof pfx, false);
    size_t pos = 0;
    g_line[0] = '\0';
    Put(&pos, pfx, pfxLen);
    Put(&pos, kErrPrefix, sizeof kErrPrefix - 1);
    char copy[kFmtMax + 1];
    size_t n = std::strlen(fmt);
    if (n > kFmtMax)
        n = DpTrcFormatCut(fmt, kFmtMax);
    std::memcpy(copy, fmt, n);
    copy[n] = '\0';
    if (n > 0 && copy[n - 1] == '\n')
        copy[n - 1] = '\0';
    bool truncated = false;
    if (!FormatAt(&pos, enc, copy, ap, r.stream, &truncated))
        return;
    const char* text = std::strerror(err);
    if (!text)
        text = "illegal errno";
    else if (std::strlen(text) >= 256)
        text = "error text too long";
    const char* line = std::strlen(savloc) > 12 ? savloc + 12 : "";
    char tail[400];
    const int32_t t = snprintfTruncR(tail, sizeof tail, " (%d: %s) [%-12.12s %.5s]\n", err, text, savloc, line);
    Put(&pos, tail, static_cast<size_t>(t));
    CTrcOut(r.stream, g_line, pos);
    if (truncated)
        Truncated(r.stream);
    Flush(r.stream);
    errno = err;
}

void DpTrcStamp(DpTrcHdl hdl, int flags)
{
    CTrcResolved r;
    if (CTrcResolve(hdl, &r))
        Stamp(r, flags);
}

// Builds "L  " + indentation + text in the line buffer for the "***LOG"
// writers; returns the length or 0 when nothing may be written.
size_t DpTrcLogLine(DpTrcHdl hdl, const char* id, const char* text, CTrcResolved* r)
{
    if (!CTrcResolve(hdl, r))
        return 0;
    if (r->comp && r->level < 1)
        return 0;
    Stamp(*r, 1);
    char pfx[DPTRC_LINE / 2];
    size_t pfxLen = ComponentPrefix(*r, pfx, sizeof pfx, false);
    size_t pos = 0;
    g_line[0] = '\0';
    Put(&pos, pfx, pfxLen);
    char head[32];
    const int32_t h = snprintfTruncR(head, sizeof head, "***LOG %3.3s=> ", id ? id : "");
    Put(&pos, head, static_cast<size_t>(h));
    Put(&pos, text, std::strlen(text));
    LocationSuffix(&pos);
    CTrcOut(r->stream, g_line, pos);
    Flush(r->stream);
    return pos;
}

void DpTrcSetMaxFileSize(int64_t limit, DpTrcSizeHook hook)
{
    DpTrcLockAcquire();
    g_maxSize = limit < 0 ? 0 : limit;
    g_sizeHook = hook;
    DpTrcLockRelease();
}

int64_t DpTrcGetMaxFileSize()
{
    DpTrcLockAcquire();
    const int64_t v = g_maxSize;
    DpTrcLockRelease();
    return v;
}

void DpTrcMaxFileSizeOff()
{
    DpTrcLockAcquire();
    g_maxSize = -1;
    g_sizeHook = nullptr;
    DpTrcLockRelease();
}

int DpTrcAddPattern(const char* pattern, DpTrcPatternFunc func)
{
    if (!pattern)
        return -1;
    DpTrcLockAcquire();
    int rc = -1;
    for (Pattern& p : g_patterns) {
        if (p.text)
            continue;
        const size_t n = std::strlen(pattern) + 1;
        p.text = static_cast<char*>(std::malloc(n));
        if (p.text) {
            std::memcpy(p.text, pattern, n);
            p.func = func;
            rc = 0;
        }
        break;
    }
    DpTrcLockRelease();
    return rc;
}

int DpTrcRemovePattern(const char* pattern)
{
    DpTrcLockAcquire();
    int rc = -1;
    for (int i = 0; i < kPatterns && g_patterns[i].text; ++i) {
        if (std::strcmp(g_patterns[i].text, pattern) != 0)
            continue;
        std::free(g_patterns[i].text);
        for (int j = i; j + 1 < kPatterns; ++j)
            g_patterns[j] = g_patterns[j + 1];
        g_patterns[kPatterns - 1] = Pattern{nullptr, nullptr};
        rc = 0;
        break;
    }
    DpTrcLockRelease();
    return rc;
}

void DpTrcClearPatterns()
{
    DpTrcLockAcquire();
    for (Pattern& p : g_patterns) {
        std::free(p.text);
        p = Pattern{nullptr, nullptr};
    }
    DpTrcLockRelease();
}

int DpTrcListPatterns(const char** out, int capacity)
{
    DpTrcLockAcquire();
    int n = 0;
    for (; n < kPatterns && g_patterns[n].text; ++n)
        if (out && n < capacity)
            out[n] = g_patterns[n].text;
    DpTrcLockRelease();
    return n;
}

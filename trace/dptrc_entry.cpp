// The writer entry points: thin calls of the three cores.
#include <cerrno>
#include <cstring>

#include "nls/kovstr.h"
#include "trace/ctrc_adm.h"

#define KOV_TRC_ENTRY(name, core, enc, flags) \
    void name##V(DpTrcHdl hdl, const char* fmt, va_list ap) \
    { \
        core(hdl, enc, flags, fmt, ap); \
    } \
    void name(DpTrcHdl hdl, const char* fmt, ...) \
    { \
        va_list ap; \
        va_start(ap, fmt); \
        core(hdl, enc, flags, fmt, ap); \
        va_end(ap); \
    }

KOV_TRC_ENTRY(DpTrc, DpTrcIPlain, 2, 3)
KOV_TRC_ENTRY(DpTrcNoPrefix, DpTrcIPlain, 2, 1)
KOV_TRC_ENTRY(DpTrcNoStamp, DpTrcIPlain, 2, 2)
KOV_TRC_ENTRY(DpTrcBare, DpTrcIPlain, 2, 0)
KOV_TRC_ENTRY(DpTrcA, DpTrcIPlain, 1, 3)
KOV_TRC_ENTRY(DpTrcANoPrefix, DpTrcIPlain, 1, 1)
KOV_TRC_ENTRY(DpTrcANoStamp, DpTrcIPlain, 1, 2)
KOV_TRC_ENTRY(DpTrcABare, DpTrcIPlain, 1, 0)
KOV_TRC_ENTRY(DpTrcErr, DpTrcIErrWarn, 2, 3)
KOV_TRC_ENTRY(DpTrcErrNoPrefix, DpTrcIErrWarn, 2, 1)
KOV_TRC_ENTRY(DpTrcWarn, DpTrcIErrWarn, 2, 7)
KOV_TRC_ENTRY(DpTrcWarnNoPrefix, DpTrcIErrWarn, 2, 5)
KOV_TRC_ENTRY(DpTrcErrA, DpTrcIErrWarn, 1, 3)
KOV_TRC_ENTRY(DpTrcErrANoPrefix, DpTrcIErrWarn, 1, 1)
KOV_TRC_ENTRY(DpTrcWarnA, DpTrcIErrWarn, 1, 7)
KOV_TRC_ENTRY(DpTrcWarnANoPrefix, DpTrcIErrWarn, 1, 5)
KOV_TRC_ENTRY(DpTrcErrno, DpTrcIErrno, 2, 3)
KOV_TRC_ENTRY(DpTrcErrnoNoPrefix, DpTrcIErrno, 2, 1)
KOV_TRC_ENTRY(DpTrcErrnoA, DpTrcIErrno, 1, 3)
KOV_TRC_ENTRY(DpTrcErrnoANoPrefix, DpTrcIErrno, 1, 1)
#undef KOV_TRC_ENTRY

void DpTrcTime(DpTrcHdl hdl)
{
    DpTrcStamp(hdl, 0);
}

void DpTrcTimePrefix(DpTrcHdl hdl)
{
    DpTrcStamp(hdl, 2);
}

namespace {

__attribute__((format(printf, 1, 0))) int CheckFmt(const char* fmt, va_list ap)
{
    char buf[512];
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    if (n < 0)
        return -2;
    return n >= static_cast<int>(sizeof buf) ? -1 : 0;
}

}  // namespace

int DpTrcCheckFmt(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int rc = CheckFmt(fmt, ap);
    va_end(ap);
    return rc;
}

int DpTrcCheckFmtA(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int rc = CheckFmt(fmt, ap);
    va_end(ap);
    return rc;
}

void DpTrcErrnoText(DpTrcHdl hdl)
{
    const int err = errno;
    CTrcResolved r;
    if (!CTrcResolve(hdl, &r) || (r.comp && r.level < 1))
        return;
    const char* text = std::strerror(err);
    char out[300];
    int32_t n;
    if (!text)
        n = snprintfTruncR(out, sizeof out, " (%d) - illegal errno", err);
    else if (std::strlen(text) >= 256)
        n = snprintfTruncR(out, sizeof out, " (%d) - error text too long", err);
    else
        n = snprintfTruncR(out, sizeof out, " (%d: %s)", err, text);
    CTrcOut(r.stream, out, static_cast<size_t>(n));
    errno = err;
}

// Trace lines of the socket interface and the repeated poll.
#include <poll.h>

#include <cerrno>
#include <cstdarg>

#include "si/si.h"
#include "si/sipriv.h"

void SiTraceLine(const char* module, int level, int srcLine, SiTrc kind, const char* fmt, ...)
{
    if (ct_level < level)
        return;
    const int savedErrno = errno;  // the errno line reports the caller's
    va_list ap;
    va_start(ap, fmt);
    DpTrcLockAcquire();
    DpTrcSaveLoc(module, srcLine);
    errno = savedErrno;
    switch (kind) {
    case SiTrc::Err:
        DpTrcErrV(tf, fmt, ap);
        break;
    case SiTrc::Errno:
        DpTrcErrnoV(tf, fmt, ap);
        break;
    case SiTrc::Warn:
        DpTrcWarnV(tf, fmt, ap);
        break;
    case SiTrc::Plain:
        EntLev = level;
        DpTrcV(tf, fmt, ap);
        EntLev = 2;
        break;
    }
    DpTrcLockRelease();
    va_end(ap);
    errno = savedErrno;
}

int32_t SiPollRetry(const char* module, const char* name, pollfd* fds, uint32_t n, int32_t timeoutMs, uint32_t* ready,
                    int32_t* err)
{
    int busy = 0;
    int32_t rc;
    for (;;) {
        rc = SiPoll(fds, n, timeoutMs, ready, err);
        if (rc == SI_EINTR)
            continue;
        if (rc == SI_ETIMEOUT && ++busy < kSiBusyLimit)
            continue;
        break;
    }
    if (busy > 0)
        SI_TRACE(module, 1, SiTrc::Err, "%s: poll looped %d times, caused by EAGAIN (limit=%d)\n", name, busy,
                 kSiBusyLimit);
    return rc;
}

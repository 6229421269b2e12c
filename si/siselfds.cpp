// The descriptor sets of the select-call sets and their one wait.
#include <poll.h>

#include <cstring>
#include <initializer_list>

#include "si/sipriv.h"
#include "si/sisel.h"

void SiSelFdSets::ClearRequests()
{
    SiFdZero(&readReq);
    SiFdZero(&writeReq);
    SiFdZero(&priReq);
}

void SiSelFdSets::ClearAll(const char* module, const char* name)
{
    ClearRequests();
    SI_TRACE(module, 3, SiTrc::Plain, "%s: cleared set\n", name);
}

void SiSelFdSets::Request(const char* module, const char* name, uint32_t d, uint8_t mode, uint8_t exclusive)
{
    if (exclusive == 1)
        DropBits(d, static_cast<uint8_t>(~mode));
    if (mode & SISEL::READ)
        SiBitSet(readReq, d);
    if (mode & SISEL::READ_PRI)
        SiBitSet(priReq, d);
    if (mode & SISEL::WRITE)
        SiBitSet(writeReq, d);
    TraceRequests(module, name, d);
}

void SiSelFdSets::Drop(const char* module, const char* name, uint32_t d, uint8_t mode)
{
    DropBits(d, mode);
    TraceRequests(module, name, d);
}

void SiSelFdSets::DropBits(uint32_t d, uint8_t mode)
{
    if (mode & SISEL::READ)
        SiBitClr(readReq, d);
    if (mode & SISEL::READ_PRI)
        SiBitClr(priReq, d);
    if (mode & SISEL::WRITE)
        SiBitClr(writeReq, d);
}

void SiSelFdSets::Forget(uint32_t d)
{
    for (SI_FD_SET* s : {&readReq, &writeReq, &priReq, &readRes, &writeRes, &priRes})
        SiBitClr(*s, d);
}

uint8_t SiSelFdSets::Requested(uint32_t d) const
{
    return static_cast<uint8_t>((SiBitIsSet(readReq, d) ? SISEL::READ : 0) |
                                (SiBitIsSet(priReq, d) ? SISEL::READ_PRI : 0) |
                                (SiBitIsSet(writeReq, d) ? SISEL::WRITE : 0));
}

uint8_t SiSelFdSets::Returned(uint32_t d) const
{
    return static_cast<uint8_t>((SiBitIsSet(readRes, d) ? SISEL::READ : 0) |
                                (SiBitIsSet(priRes, d) ? SISEL::READ_PRI : 0) |
                                (SiBitIsSet(writeRes, d) ? SISEL::WRITE : 0));
}

namespace {

bool Closed(SI_SOCK* sock)
{
    return SiPeek(sock, SI_PEEK_RD, 0) == SI_EINVAL_SOCK;
}

}  // namespace

uint8_t SiSelFdSets::Status(uint32_t d, uint8_t invalidSocket, SI_SOCK* sock) const
{
    if (invalidSocket == 1)
        return Closed(sock) ? SISEL::INVAL_SOCK : 0;
    return Returned(d);
}

void SiSelFdSets::TraceRequests(const char* module, const char* name, uint32_t d) const
{
    SI_TRACE(module, 3, SiTrc::Plain, "%s: set events of sock %d to: %c%c%c\n", name, static_cast<int>(d),
             SiEvChar(SiBitIsSet(readReq, d), 'r'), SiEvChar(SiBitIsSet(priReq, d), 'p'),
             SiEvChar(SiBitIsSet(writeReq, d), 'w'));
}

int32_t SiSelFdSets::Wait(const char* module, const char* name, uint32_t nfds, int32_t timeoutMs, uint32_t count,
                          bool observed, uint8_t* invalidSocket, uint32_t* nSelected)
{
    // Only the bytes that cover descriptors below nfds.
    const uint32_t bytes = (nfds + 7 < SI_FD_SETSIZE ? nfds + 7 : SI_FD_SETSIZE) / 8;
    std::memcpy(readRes.bits, readReq.bits, bytes);
    std::memcpy(writeRes.bits, writeReq.bits, bytes);
    std::memcpy(priRes.bits, priReq.bits, bytes);
    uint32_t ready = 0;
    int32_t err = 0;
    SI_TRACE(module, 3, SiTrc::Plain, "%s: start select (timeout=%d)\n", name, timeoutMs);
    int32_t rc;
    do {
        rc = SiSelect(static_cast<int32_t>(nfds), &readRes, &writeRes, &priRes, timeoutMs, &ready, &err);
    } while (rc == SI_EINTR);
    *invalidSocket = rc == SI_EINVAL_SOCK ? 1 : 0;
    if (rc == SI_EINVAL_SOCK) {
        // The result sets still hold the requests: every requested member is a
        // candidate, and the walk hands out the closed ones.
        SI_TRACE(module, 1, SiTrc::Plain, "%s: few sockets already closed\n", name);
        if (ready == 0) {
            SI_TRACE(module, 2, SiTrc::Plain, "%s: set selFDs to 1 (no timeout)\n", name);
            ready = 1;
        }
    } else if (rc == SI_EINVAL) {
        // Nothing was selected: the result sets must not pass the requests off
        // as readiness, and a caller that retries must not spin.
        SI_TRACE(module, 2, SiTrc::Plain, "%s: SiSelect returned SI_EINVAL; sleep for %d ms\n", name, timeoutMs);
        std::memset(readRes.bits, 0, bytes);
        std::memset(writeRes.bits, 0, bytes);
        std::memset(priRes.bits, 0, bytes);
        if (timeoutMs > 0)
            poll(nullptr, 0, timeoutMs);
    } else if (rc != SI_OK) {
        char text[256];
        SI_TRACE(module, 1, SiTrc::Err, "%s: SiSelect failed (%d-%s)\n", name, err,
                 SiErrnoText(err, text, sizeof text));
        return SI_EINTERN;
    }
    if (!observed)
        SI_TRACE(module, 2, SiTrc::Plain, "%s: of %u sockets %u selected\n", name, count, ready);
    if (nSelected != nullptr)
        *nSelected = ready;
    return SI_OK;
}

bool SiSelFdSets::Candidate(const char* module, const char* name, uint32_t d, uint32_t pos, uint8_t invalidSocket,
                            SI_SOCK* sock, SISEL_SPEC::CB_FUNCS* cb, uint8_t* read, uint8_t* readPri, uint8_t* write,
                            int32_t* rc) const
{
    const uint8_t ret = Returned(d);
    const bool r = ret & SISEL::READ;
    const bool w = ret & SISEL::WRITE;
    const bool x = ret & SISEL::READ_PRI;
    if (!r && !w && !x)
        return false;
    const bool reported = (read != nullptr && r) || (write != nullptr && w) || (readPri != nullptr && x);
    if (read != nullptr)
        *read = r;
    if (write != nullptr)
        *write = w;
    if (readPri != nullptr)
        *readPri = x;
    SI_TRACE(module, 3, SiTrc::Plain, "%s: sock %d selected (revt=%c%c%c%s)\n", name, static_cast<int>(d),
             SiEvChar(r, 'r'), SiEvChar(w, 'w'), SiEvChar(x, 'e'), invalidSocket == 1 ? " cs" : "");
    if (cb != nullptr)
        cb->SetEventPos(pos);
    if (invalidSocket == 1) {
        // After a wait that met closed descriptors only those are handed out.
        if (!Closed(sock))
            return false;
        SI_TRACE(module, 1, SiTrc::Plain, "%s: sock %d already closed\n", name, static_cast<int>(d));
        *rc = SI_EINVAL_SOCK;
        return true;
    }
    *rc = SI_OK;
    return reported;
}

void SiSelFdSets::NoFlags(uint8_t* read, uint8_t* readPri, uint8_t* write)
{
    if (read != nullptr)
        *read = 0;
    if (readPri != nullptr)
        *readPri = 0;
    if (write != nullptr)
        *write = 0;
}

// Poll select set: members in the slots of a dense poll array, found by
// descriptor through a Fi index; freed slots are reused before the array
// grows, and the array is compacted when less than half of it is in use.
#include <poll.h>

#include <cstddef>
#include <new>
#include <utility>

#include "si/sipriv.h"
#include "si/siselimpl.h"

static_assert(sizeof(SI_POLL_FD) == sizeof(pollfd) && offsetof(SI_POLL_FD, fd) == offsetof(pollfd, fd) &&
              offsetof(SI_POLL_FD, events) == offsetof(pollfd, events) &&
              offsetof(SI_POLL_FD, revents) == offsetof(pollfd, revents));

namespace {

const char* const kModule = "siselpoll";
constexpr uint32_t kLimit = 32768;
constexpr uint32_t kEnd = 32768;  // loopPos of an ended walk

#define TRC(level, ...) SI_TRACE(kModule, level, SiTrc::Plain, __VA_ARGS__)
#define TRC_ERR(...) SI_TRACE(kModule, 1, SiTrc::Err, __VA_ARGS__)

void TraceEvents(const char* name, const SI_POLL_FD& p)
{
    TRC(3, "%s: set events of sock %d to: %c%c%c\n", name, p.fd, SiEvChar(p.events & SI_POLLIN, 'r'),
        SiEvChar(p.events & SI_POLLPRI, 'p'), SiEvChar(p.events & SI_POLLOUT, 'w'));
}

}  // namespace

void SISEL_POLL::Release()
{
    SiSelFiClose(&fi, kModule, "SiSelP~");
    delete[] fds;
    delete[] entries;
    fds = nullptr;
    entries = nullptr;
    freeList = nullptr;
    count = highest = 0;
    loopPos = kEnd;
}

SISEL_POLL::~SISEL_POLL()
{
    Release();
}

int32_t SISEL_POLL::Find(SI_SOCK* sock, const char* name, uint32_t* pos, int32_t* leaf)
{
    int32_t l = 0;
    const int64_t p = SiSelFiMember(fi, fds, highest, sock, kModule, name, &l);
    if (p < 0)
        return SI_EINVAL;
    *pos = static_cast<uint32_t>(p);
    if (leaf != nullptr)
        *leaf = l;
    return SI_OK;
}

int32_t SISEL_POLL::Init(uint32_t n)
{
    const char* const name = "SiSelPInit";
    if (n > kLimit) {
        TRC(1, "%s: parameter too big (%u>%u)\n", name, n, kLimit);
        return SI_EINVAL;
    }
    Release();  // a second Init starts afresh
    maxEntries = n < 2 ? 2 : n;
    fds = SiSelNewTable<SI_POLL_FD>(kModule, name, "SI_POLL_FD", maxEntries);
    if (fds != nullptr)
        entries = SiSelNewTable<FD_EL>(kModule, name, "FD_EL", maxEntries);
    const int32_t rc = SiSelOpenTable(&fi, kModule, name, maxEntries, entries != nullptr ? fds : nullptr, cb);
    if (rc != SI_OK)
        Release();
    return rc;
}

int32_t SISEL_POLL::Add(SI_SOCK* sock, void* data, uint32_t* pos)
{
    const char* const name = "SiSelPAdd";
    const int32_t fd = sock->sock;
    uint32_t p = 0;
    // The key lives in the slot's poll descriptor itself.
    const int32_t rc = SiSelTakeSlot(
        kModule, name, fi, fd, entries, freeList, &FD_EL::nxt, count, highest, maxEntries,
        [&](uint32_t at) { return std::pair<int32_t*, const void*>(&fds[at].fd, &fds[at]); }, &p);
    if (rc != SI_OK)
        return rc;
    fds[p] = SI_POLL_FD{fd, 0, 0};
    entries[p] = FD_EL{sock, data, nullptr};
    if (cb != nullptr)
        cb->AddMsg(p);
    *pos = p;
    return SI_OK;
}

int32_t SISEL_POLL::Set(SI_SOCK* sock, uint8_t mode, void* data, uint8_t exclusive)
{
    const char* const name = "SiSelPSet";
    if (SiSelSetCheck(kModule, name, sock, fds != nullptr) != SI_OK)
        return SI_EINVAL;
    int32_t leaf = 0;
    int64_t found = SiSelFiPos(fi, fds, highest, sock->sock, &leaf);
    uint32_t pos = 0;
    if (found >= 0) {
        pos = static_cast<uint32_t>(found);
    } else {
        const int32_t rc = Add(sock, data, &pos);
        if (rc != SI_OK)
            return rc;
    }
    SI_POLL_FD& p = fds[pos];
    if (exclusive == 1)
        p.events = 0;
    if (mode & READ)
        p.events |= SI_POLLIN;
    if (mode & READ_PRI)
        p.events |= SI_POLLPRI;
    if (mode & WRITE)
        p.events |= SI_POLLOUT;
    TraceEvents(name, p);
    return SI_OK;
}

int32_t SISEL_POLL::Clear(SI_SOCK* sock, uint8_t mode)
{
    const char* const name = "SiSelPClear";
    uint32_t pos = 0;
    if (Find(sock, name, &pos, nullptr) != SI_OK)
        return SI_EINVAL;
    SI_POLL_FD& p = fds[pos];
    if (mode & READ)
        p.events &= ~SI_POLLIN;
    if (mode & READ_PRI)
        p.events &= ~SI_POLLPRI;
    if (mode & WRITE)
        p.events &= ~SI_POLLOUT;
    TraceEvents(name, p);
    return SI_OK;
}

int32_t SISEL_POLL::ClearSet()
{
    for (uint32_t p = 0; p < highest; ++p)
        fds[p].events = 0;
    TRC(3, "%s: cleared set\n", "SiSelPClearSet");
    return SI_OK;
}

int32_t SISEL_POLL::Remove(SI_SOCK* sock, uint8_t reorganise)
{
    const char* const name = "SiSelPRemove";
    uint32_t pos = 0;
    int32_t leaf = 0;
    if (Find(sock, name, &pos, &leaf) != SI_OK)
        return SI_EINVAL;
    if (SiSelFiRemove(fi, kModule, name, leaf) != SI_OK)
        return SI_EINTERN;
    --count;
    if (cb != nullptr)
        cb->RemoveMsg(pos);
    if (pos == highest - 1) {
        highest = pos;
        TRC(3, "%s: removed last sock %d (pos=%u)\n", name, sock->sock, pos);
        return SI_OK;
    }
    fds[pos] = SI_POLL_FD{-1, 0, 0};
    entries[pos].pSocket = nullptr;
    TRC(3, "%s: removed sock %d (pos=%u)\n", name, sock->sock, pos);
    if (reorganise == 1 && highest > 2 * count)
        return Optimize();
    entries[pos].nxt = freeList;
    freeList = &entries[pos];
    return SI_OK;
}

// Moves the highest used slots into the lowest free ones, one for one.  An
// index failure is reported (the set is no longer sound).
int32_t SISEL_POLL::Optimize()
{
    const char* const name = "SiSelPOptimizeSet";
    TRC(2, "%s: optimizing select set (%u<<%u)\n", name, count, highest);
    loopPos = kEnd;
    uint32_t lo = 0;
    uint32_t hi = highest - 1;
    for (;;) {
        while (lo < hi && entries[lo].pSocket != nullptr)
            ++lo;
        while (lo < hi && entries[hi].pSocket == nullptr)
            --hi;
        if (lo >= hi)
            break;
        if (cb != nullptr)
            cb->MoveMsg(hi, lo);
        entries[lo] = entries[hi];
        entries[lo].nxt = nullptr;
        fds[lo] = fds[hi];
        int32_t fd = fds[lo].fd;
        int32_t leaf = 0;
        int32_t rc = FiSearch(fi.fiIndex, &fd, &leaf);
        if (rc != FI_OK) {
            TRC_ERR("%s: sock %d not member of set\n", name, fd);
            return SI_EINTERN;
        }
        if (SiSelFiRemove(fi, kModule, name, leaf) != SI_OK)
            return SI_EINTERN;
        rc = FiInsert(fi.fiIndex, &fds[lo].fd, &fds[lo], &leaf);
        if (rc != FI_OK) {
            TRC_ERR("%s: FiInsert failed (rc=%d)\n", name, rc);
            return SI_EINTERN;
        }
        entries[hi].pSocket = nullptr;
        fds[hi] = SI_POLL_FD{-1, 0, 0};
        TRC(3, "%s: moving entry %u to %u\n", name, hi, lo);
        ++lo;
        --hi;
    }
    if (lo != count && lo != count - 1)
        TRC_ERR("%s: internal status error (%u-%u-%u)\n", name, lo, hi, count);
    highest = count;
    freeList = nullptr;
    return SI_OK;
}

int32_t SISEL_POLL::RemoveAll()
{
    const char* const name = "SiSelPRemoveAll";
    if (cb != nullptr)
        cb->ResetMsg();
    count = highest = 0;
    loopPos = kEnd;
    freeList = nullptr;
    if (fds == nullptr)
        return SI_OK;
    return SiSelFiEmpty(&fi, kModule, name, fds, 0);
}

int32_t SISEL_POLL::Select(int32_t timeoutMs, uint32_t* nSelected)
{
    const char* const name = "SiSelPSelect";
    loopPos = 0;
    TRC(3, "%s: start select (timeout=%d)\n", name, timeoutMs);
    uint32_t ready = 0;
    int32_t err = 0;
    const int32_t rc = SiPollRetry(kModule, name, reinterpret_cast<pollfd*>(fds), highest, timeoutMs, &ready, &err);
    if (rc != SI_OK) {
        char text[256];
        TRC_ERR("%s: SiPoll failed (%d-%s)\n", name, err, SiErrnoText(err, text, sizeof text));
        return SI_EINTERN;
    }
    if (cb == nullptr)
        TRC(2, "%s: of %u sockets %u selected\n", name, count, ready);
    if (nSelected != nullptr)
        *nSelected = ready;
    return SI_OK;
}

int32_t SISEL_POLL::StartLoop()
{
    loopPos = 0;
    TRC(3, "%s: iterator reseted\n", "SiSelPStartLoop");
    return SI_OK;
}

int32_t SISEL_POLL::Next(uint8_t* read, uint8_t* readPri, uint8_t* write, SI_SOCK** sock, void** data)
{
    const char* const name = "SiSelPNext";
    if (sock == nullptr)
        return SI_EINVAL;
    *sock = nullptr;
    if (data != nullptr)
        *data = nullptr;
    for (uint32_t pos = loopPos; pos < highest; ++pos) {
        const int16_t rev = fds[pos].revents;
        if (rev == 0)
            continue;
        const int32_t fd = fds[pos].fd;
        *sock = entries[pos].pSocket;
        if (data != nullptr)
            *data = entries[pos].pData;
        loopPos = pos + 1;
        if (cb != nullptr)
            cb->SetEventPos(pos);
        if (rev & SI_POLLNVAL) {
            TRC(1, "%s: sock %d already closed\n", name, fd);
            return SI_EINVAL_SOCK;
        }
        if (rev & SI_POLLHUP) {
            TRC(2, "%s: a hang up occurred in sock %d\n", name, fd);
            return SI_EINVAL;
        }
        if (rev & SI_POLLERR) {
            TRC(2, "%s: an error occurred in sock %d\n", name, fd);
            return SI_EINTERN;
        }
        if (SiSelReport(kModule, name, fd, pos, rev & SI_POLLIN, rev & SI_POLLPRI, rev & SI_POLLOUT, read, readPri,
                        write))
            return SI_OK;
        *sock = nullptr;
        if (data != nullptr)
            *data = nullptr;
    }
    if (cb == nullptr)
        TRC(3, "%s: no more selected sockets (pos=%u)\n", name, highest);
    loopPos = kEnd;
    return SI_OK;
}

int32_t SISEL_POLL::GetMode(SI_SOCK* sock, uint8_t* mode)
{
    uint32_t pos = 0;
    if (mode == nullptr || Find(sock, "SiSelPGetMode", &pos, nullptr) != SI_OK)
        return SI_EINVAL;
    const int16_t ev = fds[pos].events;
    *mode = static_cast<uint8_t>(((ev & SI_POLLIN) ? READ : 0) | ((ev & SI_POLLPRI) ? READ_PRI : 0) |
                                 ((ev & SI_POLLOUT) ? WRITE : 0));
    return SI_OK;
}

namespace {

uint8_t StatOf(int16_t rev)
{
    uint8_t s = 0;
    if (rev & SI_POLLIN)
        s |= SISEL::READ;
    if (rev & SI_POLLPRI)
        s |= SISEL::READ_PRI;
    if (rev & SI_POLLOUT)
        s |= SISEL::WRITE;
    if (rev & SI_POLLNVAL)
        s |= SISEL::INVAL_SOCK;
    if (rev & (SI_POLLHUP | SI_POLLERR))
        s |= SISEL::SOCK_ERROR;
    return s;
}

}  // namespace

int32_t SISEL_POLL::GetStat(SI_SOCK* sock, uint8_t* stat)
{
    uint32_t pos = 0;
    if (stat == nullptr || Find(sock, "SiSelPGetStat", &pos, nullptr) != SI_OK)
        return SI_EINVAL;
    *stat = StatOf(fds[pos].revents);
    return SI_OK;
}

int32_t SISEL_POLL::GetStatEx(SI_SOCK* sock, uint8_t* stat, SI_SOCK** outSock, void** data)
{
    uint32_t pos = 0;
    if (stat == nullptr || outSock == nullptr || Find(sock, "SiSelPGetStatEx", &pos, nullptr) != SI_OK)
        return SI_EINVAL;
    *stat = StatOf(fds[pos].revents);
    *outSock = entries[pos].pSocket;
    if (data != nullptr)
        *data = entries[pos].pData;
    return SI_OK;
}

uint32_t SISEL_POLL::GetMaxEntries()
{
    return maxEntries;
}

uint8_t SISEL_POLL::IsMember(SI_SOCK* sock)
{
    int32_t leaf = 0;
    return sock != nullptr && SiSelFiPos(fi, fds, highest, sock->sock, &leaf) >= 0;
}

int32_t SISEL_POLL::GetData(SI_SOCK* sock, void** data)
{
    uint32_t pos = 0;
    if (data == nullptr || Find(sock, "SiSelPGetData", &pos, nullptr) != SI_OK)
        return SI_EINVAL;
    *data = entries[pos].pData;
    return SI_OK;
}

int32_t SISEL_POLL::SetData(SI_SOCK* sock, void* data)
{
    uint32_t pos = 0;
    if (Find(sock, "SiSelPGetData", &pos, nullptr) != SI_OK)
        return SI_EINVAL;
    entries[pos].pData = data;
    return SI_OK;
}

int32_t SISEL_POLL::GetSocketPos(SI_SOCK* sock, uint32_t* pos)
{
    if (pos == nullptr)
        return SI_EINVAL;
    return Find(sock, "SiSelPGetSocketPos", pos, nullptr);
}

int32_t SISEL_POLL::GetSocketAtPos(uint32_t pos)
{
    return pos < highest ? fds[pos].fd : -1;
}

int32_t SISEL_POLL::Dump(FILE* stream)
{
    if (stream == nullptr)
        return SI_EINVAL;
    std::fprintf(stream, "SIPOLL set %p\n", static_cast<void*>(this));
    std::fprintf(stream, "sockets in set: %d\nhighest pos +1: %d\nmax entries   : %d\nevent pos     : %d\n",
                 static_cast<int>(count), static_cast<int>(highest), static_cast<int>(maxEntries),
                 static_cast<int>(loopPos));
    std::fprintf(stream, "socket list   :\n");
    std::fprintf(stream, "  pos  pSocket  pData    nxt FI  | socket   events   revents    ");
    if (cb != nullptr)
        cb->Dump(stream, -1);
    std::fprintf(stream, "\n");
    if (fds == nullptr)
        return SI_OK;
    for (uint32_t p = 0; p < highest + 3 && p < maxEntries; ++p) {
        const FD_EL& e = entries[p];
        const SI_POLL_FD& f = fds[p];
        const int64_t at = SiSelIndexOf(entries, maxEntries, e.nxt);
        const int nxt = e.nxt == nullptr ? -1 : at < 0 ? -99 : static_cast<int>(at);
        int32_t leaf = 0;
        const int fiPos = static_cast<int>(SiSelFiPos(fi, fds, maxEntries, f.fd, &leaf));
        std::fprintf(stream, "%5d: %08x %08x %3d %3d | sock %-3d %2d (%c%c%c) %2d (%c%c%c%c%c%c)", static_cast<int>(p),
                     SiLow32(e.pSocket), SiLow32(e.pData), nxt, fiPos, f.fd, f.events,
                     SiEvChar(f.events & SI_POLLIN, 'i'), SiEvChar(f.events & SI_POLLPRI, 'p'),
                     SiEvChar(f.events & SI_POLLOUT, 'o'), f.revents, SiEvChar(f.revents & SI_POLLIN, 'i'),
                     SiEvChar(f.revents & SI_POLLPRI, 'p'), SiEvChar(f.revents & SI_POLLOUT, 'o'),
                     SiEvChar(f.revents & SI_POLLERR, 'E'), SiEvChar(f.revents & SI_POLLHUP, 'H'),
                     SiEvChar(f.revents & SI_POLLNVAL, 'N'));
        if (cb != nullptr)
            cb->Dump(stream, static_cast<int32_t>(p));
        std::fprintf(stream, "\n");
    }
    std::fprintf(stream, "free list     : ");
    if (freeList == nullptr) {
        std::fprintf(stream, "empty\n");
        return SI_OK;
    }
    uint32_t n = 0;
    for (const FD_EL* e = freeList; e != nullptr && n < maxEntries; e = e->nxt, ++n)
        std::fprintf(stream, ">%d", static_cast<int>(e - entries));
    std::fprintf(stream, "\n");
    return SI_OK;
}

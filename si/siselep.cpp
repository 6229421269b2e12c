// Epoll select set: positions as in the poll set, found by descriptor
// through a Fi index, each member registered with the kernel; the entries
// that the last wait returned form the selected list that Next consumes.
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "si/sipriv.h"
#include "si/siselimpl.h"

namespace {

const char* const kModule = "siselep";
constexpr uint32_t kLimit = 32768;
constexpr uint32_t kRead = 1, kPri = 2, kWrite = 4, kErr = 8, kHup = 16;
static_assert(kRead == EPOLLIN && kPri == EPOLLPRI && kWrite == EPOLLOUT && kErr == EPOLLERR && kHup == EPOLLHUP);

// Ends the selected list, so that an entry is on it exactly when its link
// is not null.
SISEL_EPOLL::FD_EL g_tail{};
SISEL_EPOLL::FD_EL* const kTail = &g_tail;

#define TRC(level, ...) SI_TRACE(kModule, level, SiTrc::Plain, __VA_ARGS__)
#define TRC_ERR(...) SI_TRACE(kModule, 1, SiTrc::Err, __VA_ARGS__)
#define TRC_ERRNO(...) SI_TRACE(kModule, 1, SiTrc::Errno, __VA_ARGS__)
#define TRC_WARN(...) SI_TRACE(kModule, 1, SiTrc::Warn, __VA_ARGS__)

uint32_t EventsOf(uint8_t mode)
{
    return ((mode & SISEL::READ) ? kRead : 0) | ((mode & SISEL::READ_PRI) ? kPri : 0) |
           ((mode & SISEL::WRITE) ? kWrite : 0);
}

uint8_t ModeOf(uint32_t ev)
{
    return static_cast<uint8_t>(((ev & kRead) ? SISEL::READ : 0) | ((ev & kPri) ? SISEL::READ_PRI : 0) |
                                ((ev & kWrite) ? SISEL::WRITE : 0) | ((ev & (kErr | kHup)) ? SISEL::SOCK_ERROR : 0));
}

const char* OpName(int op)
{
    return op == EPOLL_CTL_ADD ? "ADD" : op == EPOLL_CTL_MOD ? "MOD" : "DEL";
}

}  // namespace

bool SISEL_EPOLL::IsEntry(const FD_EL* el) const
{
    return SiSelIndexOf(entries, maxEntries, el) >= 0;
}

void SISEL_EPOLL::Release()
{
    SiSelFiClose(&fi, kModule, "SiSelEP~");
    if (epollFd >= 0 && close(epollFd) != 0)
        TRC_ERRNO("%s: close(epollFD) failed\n", "SiSelEP~");
    epollFd = -1;
    delete[] entries;
    delete[] static_cast<epoll_event*>(events);
    entries = nullptr;
    events = nullptr;
    freeList = selectedList = nullptr;
    count = highest = lastReady = 0;
}

SISEL_EPOLL::~SISEL_EPOLL()
{
    Release();
}

int32_t SISEL_EPOLL::Find(SI_SOCK* sock, const char* name, FD_EL** el, int32_t* leaf)
{
    int32_t l = 0;
    const int64_t p = SiSelFiMember(fi, entries, highest, sock, kModule, name, &l);
    if (p < 0)
        return SI_EINVAL;
    if (entries[p].sock != sock->sock) {
        TRC_ERR("%s: wrong FI entry (sock %d<>sock %d)\n", name, entries[p].sock, sock->sock);
        return SI_EINTERN;
    }
    *el = &entries[p];
    if (leaf != nullptr)
        *leaf = l;
    return SI_OK;
}

int32_t SISEL_EPOLL::Init(uint32_t n)
{
    const char* const name = "SiSelEPInit";
    if (n > kLimit) {
        TRC(1, "%s: parameter too big (%u>%u)\n", name, n, kLimit);
        return SI_EINVAL;
    }
    Release();
    maxEntries = n < 2 ? 2 : n;
    epollFd = epoll_create1(EPOLL_CLOEXEC);
    if (epollFd < 0) {
        TRC_ERRNO("%s: failed to allocate epollFD[%u]\n", name, maxEntries);
        return SI_EMEMORY;
    }
    entries = SiSelNewTable<FD_EL>(kModule, name, "FD_EL", maxEntries);
    if (entries != nullptr) {
        events = new (std::nothrow) epoll_event[maxEntries];
        if (events == nullptr)
            TRC_ERR("%s: failed to allocate epoll_wait memory (%d)\n", name,
                    static_cast<int>(maxEntries * sizeof(epoll_event)));
    }
    const int32_t rc = SiSelOpenTable(&fi, kModule, name, maxEntries, events != nullptr ? entries : nullptr, cb);
    if (rc != SI_OK)
        Release();
    return rc;
}

int32_t SISEL_EPOLL::Add(SI_SOCK* sock, void* data, FD_EL** el)
{
    const char* const name = "SiSelEPAdd";
    const int32_t fd = sock->sock;
    uint32_t p = 0;
    const int32_t rc = SiSelTakeSlot(
        kModule, name, fi, fd, entries, freeList, &FD_EL::link, count, highest, maxEntries,
        [&](uint32_t at) { return std::pair<int32_t*, const void*>(&entries[at].sock, &entries[at]); }, &p);
    if (rc != SI_OK)
        return rc;
    FD_EL* e = &entries[p];
    *e = FD_EL{sock, data, fd, 0, 0, nullptr};
    if (cb != nullptr)
        cb->AddMsg(p);
    *el = e;
    return SI_OK;
}

// Registers, changes or deletes the entry's descriptor; 0 or the errno.
int32_t SISEL_EPOLL::Register(FD_EL* el, int op)
{
    epoll_event ev{};
    ev.events = el->events;
    ev.data.ptr = el;
    TRC(3, "    %s sock %d with evt=%d ptr=%p \n", OpName(op), el->sock, static_cast<int>(el->events),
        static_cast<void*>(el));
    return epoll_ctl(epollFd, op, el->sock, &ev) == 0 ? 0 : errno;
}

// A member whose descriptor the kernel no longer watches: it was closed while
// it was a member.  The set's dump goes to the trace and the member goes.
int32_t SISEL_EPOLL::Closed(SI_SOCK* sock, const char* name)
{
    TRC(1, "%s: sock %d was already closed but still in this set; remove now\n", name, sock->sock);
    if (ct_level >= 1) {
        DpTrcLockAcquire();
        Dump(CTrcGetFile(tf));
        DpTrcLockRelease();
    }
    return Remove(sock, 1);
}

int32_t SISEL_EPOLL::Set(SI_SOCK* sock, uint8_t mode, void* data, uint8_t exclusive)
{
    const char* const name = "SiSelEPSet";
    if (SiSelSetCheck(kModule, name, sock, entries != nullptr) != SI_OK)
        return SI_EINVAL;
    int32_t leaf = 0;
    const int64_t p = SiSelFiPos(fi, entries, highest, sock->sock, &leaf);
    FD_EL* el = p >= 0 ? &entries[p] : nullptr;
    const bool isNew = el == nullptr;
    if (isNew) {
        const int32_t rc = Add(sock, data, &el);
        if (rc != SI_OK)
            return rc;
    }
    if (exclusive == 1)
        el->events = 0;
    el->events |= EventsOf(mode);
    const int32_t err = Register(el, isNew ? EPOLL_CTL_ADD : EPOLL_CTL_MOD);
    if (err == 0)
        return SI_OK;
    if (!isNew && err == ENOENT) {
        if (Closed(sock, name) != SI_OK)
            return SI_EINTERN;
        return Set(sock, mode, data, exclusive);
    }
    errno = err;
    TRC_ERRNO("%s: epoll_ctl failed for sock %d\n", name, sock->sock);
    if (isNew)
        Remove(sock, 1);
    return SI_EINTERN;
}

int32_t SISEL_EPOLL::Clear(SI_SOCK* sock, uint8_t mode)
{
    const char* const name = "SiSelEPClear";
    FD_EL* el = nullptr;
    const int32_t rc = Find(sock, name, &el, nullptr);
    if (rc != SI_OK)
        return rc;
    el->events &= ~EventsOf(mode);
    const int32_t err = Register(el, EPOLL_CTL_MOD);
    if (err == 0)
        return SI_OK;
    if (err == ENOENT) {
        Closed(sock, name);
        return SI_EINVAL;
    }
    errno = err;
    TRC_ERRNO("%s: epoll_ctl failed for sock %d\n", name, sock->sock);
    return SI_EINTERN;
}

int32_t SISEL_EPOLL::ClearSet()
{
    const char* const name = "SiSelEPClearSet";
    int32_t result = SI_OK;
    for (uint32_t p = 0; p < highest; ++p) {
        FD_EL* el = &entries[p];
        if (el->pSocket == nullptr || el->events == 0)
            continue;
        el->events = 0;
        const int32_t err = Register(el, EPOLL_CTL_MOD);
        if (err == ENOENT) {
            Closed(el->pSocket, name);
            if (result == SI_OK)
                result = SI_EINVAL;
        } else if (err != 0) {
            errno = err;
            TRC_ERRNO("%s: epoll_ctl failed for sock %d\n", name, el->sock);
            result = SI_EINTERN;
        }
    }
    return result;
}

// Takes the entry off the selected list.
void SISEL_EPOLL::Unselect(FD_EL* el)
{
    if (el->link == nullptr)
        return;
    const bool head = selectedList == el;
    TRC(3, "%s: sock %d was is selected%s\n", "SiSelEPRemove", el->sock, head ? " (currently)" : "");
    FD_EL* next = el->link == kTail ? nullptr : el->link;
    if (head) {
        selectedList = next;
    } else {
        uint32_t n = 0;
        for (FD_EL* e = selectedList; e != nullptr && e != kTail && n < maxEntries; e = e->link, ++n) {
            if (e->link == el) {
                e->link = next != nullptr ? next : kTail;
                break;
            }
        }
    }
    el->link = nullptr;
}

int32_t SISEL_EPOLL::Remove(SI_SOCK* sock, uint8_t /*reorganise*/)
{
    const char* const name = "SiSelEPRemove";
    FD_EL* el = nullptr;
    int32_t leaf = 0;
    const int32_t rc = Find(sock, name, &el, &leaf);
    if (rc != SI_OK)
        return rc;
    if (SiSelFiRemove(fi, kModule, name, leaf) != SI_OK)
        return SI_EINTERN;
    const uint32_t pos = PosOf(el);
    const int32_t fd = el->sock;
    --count;
    if (cb != nullptr)
        cb->RemoveMsg(pos);
    Unselect(el);
    FD_EL* link = SiSelFreeSlot(kModule, name, el, pos, fd, highest, freeList);
    *el = FD_EL{nullptr, nullptr, fd, 0, 0, link};
    const int32_t err = Register(el, EPOLL_CTL_DEL);
    el->sock = -1;
    if (err == EBADF) {
        TRC(1, "%s: sock %d was already closed\n", name, fd);
    } else if (err == ENOENT) {
        TRC(1, "%s: sock %d was already closed and valid again\n", name, fd);
    } else if (err != 0) {
        errno = err;
        TRC_ERRNO("%s: epoll_ctl failed for sock %d\n", name, fd);
        return SI_EINTERN;
    }
    return SI_OK;
}

int32_t SISEL_EPOLL::RemoveAll()
{
    const char* const name = "SiSelEPRemoveAll";
    if (cb != nullptr)
        cb->ResetMsg();
    count = highest = lastReady = 0;
    freeList = selectedList = nullptr;
    if (entries == nullptr)
        return SI_OK;
    if (epollFd >= 0 && close(epollFd) != 0)
        TRC_ERRNO("%s: close(epollFD) failed\n", name);
    epollFd = epoll_create1(EPOLL_CLOEXEC);
    if (epollFd < 0) {
        TRC_ERRNO("%s: failed to allocate epollFD[%u]\n", name, maxEntries);
        return SI_EMEMORY;
    }
    return SiSelFiEmpty(&fi, kModule, name, entries, sizeof(FD_EL) * maxEntries);
}

int32_t SISEL_EPOLL::Select(int32_t timeoutMs, uint32_t* nSelected)
{
    const char* const name = "SiSelEPSelect";
    if (entries == nullptr) {
        TRC(1, "%s: set not initialised\n", name);
        return SI_EINVAL;
    }
    // What the last wait returned is no longer current.
    auto* buf = static_cast<epoll_event*>(events);
    for (uint32_t i = 0; i < lastReady; ++i) {
        auto* el = static_cast<FD_EL*>(buf[i].data.ptr);
        if (IsEntry(el) && el->pSocket != nullptr) {
            el->revents = 0;
            el->link = nullptr;
        }
    }
    selectedList = nullptr;
    lastReady = 0;
    int busy = 0;
    int n;
    int err = 0;
    for (;;) {
        n = epoll_wait(epollFd, buf, static_cast<int>(maxEntries), timeoutMs);
        if (n >= 0)
            break;
        err = errno;
        if (err == EINTR)
            continue;
        if ((err == EAGAIN || err == ENOMEM) && ++busy < kSiBusyLimit)
            continue;
        break;
    }
    if (busy > 0)
        TRC_ERR("%s: poll looped %d times, caused by EAGAIN (limit=%d)\n", name, busy, kSiBusyLimit);
    if (n < 0) {
        char text[256];
        TRC_ERR("%s: SiEPoll failed (%d-%s)\n", name, err, SiErrnoText(err, text, sizeof text));
        return SI_EINTERN;
    }
    if (static_cast<uint32_t>(n) > count) {
        TRC_ERR("%s: unexpected value retured (%d>%d)\n", name, n, static_cast<int>(count));
        return SI_EINTERN;
    }
    lastReady = static_cast<uint32_t>(n);
    for (int i = 0; i < n; ++i) {
        auto* el = static_cast<FD_EL*>(buf[i].data.ptr);
        if (!IsEntry(el) || el->pSocket == nullptr) {
            TRC_WARN("%s: invalid slot selected\n", name);
            continue;
        }
        if (el->link != nullptr) {
            TRC_WARN("%s: invalid state of selected slot\n", name);
            continue;
        }
        el->revents = buf[i].events;
        el->link = selectedList != nullptr ? selectedList : kTail;
        selectedList = el;
        TRC(3, "    [%d] revt=%d ptr=%p (sock %d;evt=%d)\n", i, static_cast<int>(el->revents), static_cast<void*>(el),
            el->sock, static_cast<int>(el->events));
    }
    if (cb == nullptr)
        TRC(2, "%s: of %u sockets %u selected\n", name, count, lastReady);
    if (nSelected != nullptr)
        *nSelected = lastReady;
    return SI_OK;
}

int32_t SISEL_EPOLL::StartLoop()
{
    return SI_OK;
}

int32_t SISEL_EPOLL::Next(uint8_t* read, uint8_t* readPri, uint8_t* write, SI_SOCK** sock, void** data)
{
    const char* const name = "SiSelEPNext";
    if (sock == nullptr)
        return SI_EINVAL;
    *sock = nullptr;
    if (data != nullptr)
        *data = nullptr;
    while (selectedList != nullptr) {
        FD_EL* el = selectedList;
        selectedList = el->link == kTail ? nullptr : el->link;
        el->link = nullptr;
        const uint32_t rev = el->revents;
        if (rev == 0) {
            TRC_WARN("%s: sock %d without event selected\n", name, el->sock);
            continue;
        }
        const uint32_t pos = PosOf(el);
        *sock = el->pSocket;
        if (data != nullptr)
            *data = el->pData;
        if (cb != nullptr)
            cb->SetEventPos(pos);
        if (rev & kHup) {
            TRC(2, "%s: a hang up occurred in sock %d\n", name, el->sock);
            return SI_EINVAL;
        }
        if (rev & kErr) {
            TRC(2, "%s: an error occurred in sock %d\n", name, el->sock);
            return SI_EINTERN;
        }
        if (SiSelReport(kModule, name, el->sock, pos, rev & kRead, rev & kPri, rev & kWrite, read, readPri, write))
            return SI_OK;
        *sock = nullptr;
        if (data != nullptr)
            *data = nullptr;
    }
    if (cb == nullptr)
        TRC(3, "%s: no more selected sockets (pos=%u)\n", name, highest);
    return SI_OK;
}

int32_t SISEL_EPOLL::GetMode(SI_SOCK* sock, uint8_t* mode)
{
    FD_EL* el = nullptr;
    if (mode == nullptr)
        return SI_EINVAL;
    const int32_t rc = Find(sock, "SiSelEPGetMode", &el, nullptr);
    if (rc == SI_OK)
        *mode = ModeOf(el->events);
    return rc;
}

int32_t SISEL_EPOLL::GetStat(SI_SOCK* sock, uint8_t* stat)
{
    FD_EL* el = nullptr;
    if (stat == nullptr)
        return SI_EINVAL;
    const int32_t rc = Find(sock, "SiSelEPGetStat", &el, nullptr);
    if (rc == SI_OK)
        *stat = ModeOf(el->revents);
    return rc;
}

int32_t SISEL_EPOLL::GetStatEx(SI_SOCK* sock, uint8_t* stat, SI_SOCK** outSock, void** data)
{
    FD_EL* el = nullptr;
    if (stat == nullptr || outSock == nullptr)
        return SI_EINVAL;
    const int32_t rc = Find(sock, "SiSelEPGetStatEx", &el, nullptr);
    if (rc != SI_OK)
        return rc;
    *stat = ModeOf(el->revents);
    *outSock = el->pSocket;
    if (data != nullptr)
        *data = el->pData;
    return SI_OK;
}

uint32_t SISEL_EPOLL::GetMaxEntries()
{
    return maxEntries;
}

uint8_t SISEL_EPOLL::IsMember(SI_SOCK* sock)
{
    int32_t leaf = 0;
    return sock != nullptr && SiSelFiPos(fi, entries, highest, sock->sock, &leaf) >= 0;
}

int32_t SISEL_EPOLL::GetData(SI_SOCK* sock, void** data)
{
    FD_EL* el = nullptr;
    if (data == nullptr)
        return SI_EINVAL;
    const int32_t rc = Find(sock, "SiSelEPGetData", &el, nullptr);
    if (rc == SI_OK)
        *data = el->pData;
    return rc;
}

int32_t SISEL_EPOLL::SetData(SI_SOCK* sock, void* data)
{
    FD_EL* el = nullptr;
    const int32_t rc = Find(sock, "SiSelEPGetData", &el, nullptr);
    if (rc == SI_OK)
        el->pData = data;
    return rc;
}

int32_t SISEL_EPOLL::GetSocketPos(SI_SOCK* sock, uint32_t* pos)
{
    FD_EL* el = nullptr;
    if (pos == nullptr)
        return SI_EINVAL;
    const int32_t rc = Find(sock, "SiSelEPGetSocketPos", &el, nullptr);
    if (rc == SI_OK)
        *pos = PosOf(el);
    return rc;
}

int32_t SISEL_EPOLL::GetSocketAtPos(uint32_t pos)
{
    return pos < highest ? entries[pos].sock : -1;
}

int32_t SISEL_EPOLL::Dump(FILE* stream)
{
    if (stream == nullptr)
        return SI_EINVAL;
    std::fprintf(stream, "SIEPOLL set %p\n", static_cast<void*>(this));
    std::fprintf(stream, "sockets in set: %d\nhighest pos +1: %d\nmax entries   : %d\n", static_cast<int>(count),
                 static_cast<int>(highest), static_cast<int>(maxEntries));
    std::fprintf(stream, "socket list   :\n");
    std::fprintf(stream, "  pos  pSocket  pData    nxt FI  | socket   events   revents    ");
    if (cb != nullptr)
        cb->Dump(stream, -1);
    std::fprintf(stream, "\n");
    if (entries == nullptr)
        return SI_OK;
    for (uint32_t p = 0; p < highest + 3 && p < maxEntries; ++p) {
        const FD_EL& e = entries[p];
        const int nxt = e.link == nullptr || e.link == kTail ? -1
                        : IsEntry(e.link)                    ? static_cast<int>(PosOf(e.link))
                                                             : -99;
        int32_t leaf = 0;
        const int fiPos = static_cast<int>(SiSelFiPos(fi, entries, maxEntries, e.sock, &leaf));
        std::fprintf(stream, "%5d: %08x %08x %3d %3d | sock %-3d %2d (%c%c%c) %2d (%c%c%c%c%c)", static_cast<int>(p),
                     SiLow32(e.pSocket), SiLow32(e.pData), nxt, fiPos, e.sock, static_cast<int>(e.events),
                     SiEvChar(e.events & kRead, 'i'), SiEvChar(e.events & kPri, 'p'), SiEvChar(e.events & kWrite, 'o'),
                     static_cast<int>(e.revents), SiEvChar(e.revents & kRead, 'i'), SiEvChar(e.revents & kPri, 'p'),
                     SiEvChar(e.revents & kWrite, 'o'), SiEvChar(e.revents & kErr, 'E'),
                     SiEvChar(e.revents & kHup, 'H'));
        if (cb != nullptr)
            cb->Dump(stream, static_cast<int32_t>(p));
        std::fprintf(stream, "\n");
    }
    std::fprintf(stream, "free list     : ");
    uint32_t n = 0;
    for (const FD_EL* e = freeList; e != nullptr && IsEntry(e) && n < maxEntries; e = e->link, ++n)
        std::fprintf(stream, ">%d", static_cast<int>(PosOf(e)));
    std::fprintf(stream, n == 0 ? "empty\n" : "\n");
    std::fprintf(stream, "selcted list  : ");
    n = 0;
    for (const FD_EL* e = selectedList; e != nullptr && IsEntry(e) && n < maxEntries; e = e->link, ++n)
        std::fprintf(stream, ">%d", static_cast<int>(PosOf(e)));
    std::fprintf(stream, n == 0 ? "empty\n" : "\n");
    return SI_OK;
}

// Raw network handles: a table of connected TCP sockets reached through
// handles, with start-up reference counting, name resolution (stoppable), a
// non-blocking connect bounded by the caller's time-out, and complete writes
// and partial reads over the socket interface.
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "ni/ni.h"
#include "ni/nipriv.h"
#include "si/fi.h"

namespace {

const char* const kModule = "niraw";

constexpr uint32_t kMaxHandles = 4096;
constexpr int kGenBits = 3;
constexpr uint32_t kGenMask = (1u << kGenBits) - 1;

struct Slot {
    bool used = false;
    uint8_t gen = 0;
    SI_SOCK sock{};
    std::string partner;  // "host:service", for messages
};

int g_users = 0;
bool (*g_stopCheck)() = nullptr;
// The longest piece of a wait while a stop check is set.
constexpr int32_t kStopSliceMs = 100;
// The handle table: slots that never move while the interface runs (select
// sets keep pointers to their sockets), the free ones chained in a free table.
std::unique_ptr<Slot[]> g_slots;
std::unique_ptr<uint64_t[]> g_freeTable;

uint8_t* FreeTable()
{
    return reinterpret_cast<uint8_t*>(g_freeTable.get());
}
int32_t Word(int32_t off)
{
    int32_t v;
    std::memcpy(&v, FreeTable() + off, 4);
    return v;
}
void SetWord(int32_t off, int32_t v)
{
    std::memcpy(FreeTable() + off, &v, 4);
}

bool TableUp()
{
    const size_t size = FtCalcSize(0, kMaxHandles, 4);
    g_slots.reset(new (std::nothrow) Slot[kMaxHandles]);
    g_freeTable.reset(new (std::nothrow) uint64_t[(size + 7) / 8]);
    void* table = nullptr;
    if (g_slots != nullptr && g_freeTable != nullptr) {
        std::memset(g_freeTable.get(), 0, 16);
        if (FtInit(g_freeTable.get(), "NITAB_FREE", 0, kMaxHandles, 4, &table) == FI_OK)
            return true;
    }
    g_slots.reset();
    g_freeTable.reset();
    return false;
}

void TableDown()
{
    g_slots.reset();
    g_freeTable.reset();
}

// A time limit for a whole operation.
class Deadline {
public:
    explicit Deadline(int32_t timeoutMs)
        : infinite_(timeoutMs < 0)
    {
        if (!infinite_)
            end_ = NowMs() + timeoutMs;
    }
    // Milliseconds left for a wait: -1 without limit, 0 once passed.
    int32_t Remaining() const
    {
        if (infinite_)
            return -1;
        const int64_t left = end_ - NowMs();
        return left > 0 ? static_cast<int32_t>(left) : 0;
    }

private:
    static int64_t NowMs()
    {
        timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
    }
    bool infinite_;
    int64_t end_ = 0;
};

// Runs wait(ms) (a poll of the socket) until it reports anything but a
// time-out or the deadline passes, and returns its last code; while a stop
// check is set, in slices, asking it before each: NIESTOPPED when it asks
// to stop.  (Socket codes are positive, so the two never meet.)
template <class Wait>
int32_t WaitFor(const Deadline& deadline, Wait wait)
{
    for (;;) {
        if (NiStopRequested())
            return NIESTOPPED;
        const int32_t left = deadline.Remaining();
        const bool sliced = g_stopCheck != nullptr && (left < 0 || left > kStopSliceMs);
        const int32_t rc = wait(sliced ? kStopSliceMs : left);
        if (rc != SI_ETIMEOUT || !sliced)
            return rc;
    }
}

// The open slot of a handle, or null (error record set) for any other value.
Slot* SlotOf(NI_HDL hdl, const char* op)
{
    const uint32_t idx = static_cast<uint32_t>(hdl) >> kGenBits;
    if (hdl >= 0 && idx < kMaxHandles && g_slots != nullptr) {
        Slot& s = g_slots[idx];
        if (s.used && s.gen == (static_cast<uint32_t>(hdl) & kGenMask))
            return &s;
    }
    NI_ERR(NIEINVAL, "invalid handle", "%s: invalid hdl %d", op, hdl);
    return nullptr;
}

bool Started(const char* op)
{
    if (g_users > 0)
        return true;
    NI_ERR(NIEINVAL, "network interface not started", "%s: NiInit was not called", op);
    return false;
}

// The head of the free list, taken; null when every handle is in use.  The
// entry's data holds the slot index.
Slot* FreeSlot(uint32_t* idx)
{
    if (g_freeTable == nullptr)
        return nullptr;
    const int32_t head = Word(FT_OFF_FREE);
    const int32_t stride = Word(FT_OFF_STRIDE);
    if (head < FT_FIRST_ENTRY || (head - FT_FIRST_ENTRY) % stride != 0 ||
        static_cast<uint32_t>((head - FT_FIRST_ENTRY) / stride) >= kMaxHandles)
        return nullptr;
    SetWord(FT_OFF_FREE, Word(head + 4));
    SetWord(head, 0);
    SetWord(head + 4, 0);
    *idx = static_cast<uint32_t>((head - FT_FIRST_ENTRY) / stride);
    SetWord(head + 8, static_cast<int32_t>(*idx));
    return &g_slots[*idx];
}

// Puts a slot back at the head of the free list.
void GiveSlot(uint32_t idx)
{
    const int32_t off = FT_FIRST_ENTRY + static_cast<int32_t>(idx) * Word(FT_OFF_STRIDE);
    SetWord(off, FT_FREE_MARK);
    SetWord(off + 4, Word(FT_OFF_FREE));
    SetWord(FT_OFF_FREE, off);
}

// A port number must name a port: the resolver would take 70000 as 4464.
bool PortInRange(const char* service)
{
    uint32_t v = 0;
    for (const char* p = service; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return true;  // a name: the resolver decides
        v = v * 10 + static_cast<uint32_t>(*p - '0');
        if (v > 65535)
            return false;
    }
    return v != 0;
}

// A host name lookup on a thread of its own, which the caller may leave
// behind: the record is shared, and whichever side is last frees it.  The
// thread touches nothing but the record and the resolver; a lookup left
// behind frees its own result.
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    std::string host, service;
    addrinfo hints{};
    bool done = false;  // gai and res are the lookup's
    bool left = false;  // the caller no longer waits
    int gai = 0;
    addrinfo* res = nullptr;
};

void LookUp(const std::shared_ptr<Lookup>& lookup)
{
    addrinfo* res = nullptr;
    const int gai = getaddrinfo(lookup->host.c_str(), lookup->service.c_str(), &lookup->hints, &res);
    const std::lock_guard<std::mutex> lock(lookup->mutex);
    if (lookup->left) {
        if (gai == 0)
            freeaddrinfo(res);
        return;
    }
    lookup->gai = gai;
    lookup->res = res;
    lookup->done = true;
    lookup->finished.notify_one();
}

// Starts the lookup's thread with every signal blocked, so that a stop
// signal is taken by the threads of the run; false when no thread can be
// had.
bool StartLookUp(const std::shared_ptr<Lookup>& lookup)
{
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    bool started = true;
    try {
        std::thread(LookUp, lookup).detach();
    } catch (const std::exception&) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return started;
}

// getaddrinfo of host and service.  While a stop check is set, the lookup
// runs on a thread of its own and the caller waits in slices, asking the
// check before each: a resolver that waits on a server that never answers
// does not hold a stop up.  *stopped tells a lookup left so (its result
// code is then EAI_AGAIN).  Without a thread it waits in one piece.
int StoppableGetAddrInfo(const char* host, const char* service, const addrinfo* hints, addrinfo** res, bool* stopped)
{
    *stopped = false;
    if (g_stopCheck == nullptr)
        return getaddrinfo(host, service, hints, res);
    std::shared_ptr<Lookup> lookup;
    try {
        lookup = std::make_shared<Lookup>();
        lookup->host = host;
        lookup->service = service;
    } catch (const std::bad_alloc&) {
        return getaddrinfo(host, service, hints, res);
    }
    lookup->hints = *hints;
    if (!StartLookUp(lookup))
        return getaddrinfo(host, service, hints, res);
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->done) {
        if (NiStopRequested()) {
            lookup->left = true;
            *stopped = true;
            return EAI_AGAIN;
        }
        lookup->finished.wait_for(lock, std::chrono::milliseconds(kStopSliceMs));
    }
    *res = lookup->res;
    return lookup->gai;
}

// Resolves a service on its own first, so that an unknown service is told
// from an unknown host.
int32_t Resolve(const char* host, const char* service, addrinfo** res)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* probe = nullptr;
    int gai = PortInRange(service) ? getaddrinfo(nullptr, service, &hints, &probe) : EAI_SERVICE;
    if (gai != 0) {
        NI_ERR(NIESERV_UNKNOWN, "service '%s' unknown", "%s: getaddrinfo(%s) failed: %s", service, "NiRawHandle",
               service, gai_strerror(gai));
        return NIESERV_UNKNOWN;
    }
    freeaddrinfo(probe);
    bool stopped = false;
    gai = StoppableGetAddrInfo(host, service, &hints, res, &stopped);
    if (stopped) {
        NI_ERR(NIESTOPPED, "hostname '%s' not resolved", "%s: stopped while %s was looked up", host, "NiRawHandle",
               host);
        return NIESTOPPED;
    }
    if (gai == 0)
        return NI_OK;
    if (gai == EAI_SYSTEM || gai == EAI_MEMORY) {
        NI_ERR(NIEINTERN, "name resolution failed", "%s: getaddrinfo(%s) failed: %s", "NiRawHandle", host,
               gai_strerror(gai));
        return NIEINTERN;
    }
    NI_ERR(NIEHOST_UNKNOWN, "hostname '%s' unknown", "%s: getaddrinfo(%s) failed: %s", host, "NiRawHandle", host,
           gai_strerror(gai));
    return NIEHOST_UNKNOWN;
}

// Connects a new non-blocking socket to one address.  Returns NI_OK with the
// socket open, else a code with the socket closed and *sysErr set.
int32_t ConnectOne(const addrinfo* ai, const Deadline& deadline, SI_SOCK* s, int32_t* sysErr)
{
    int32_t rc = SiSocket(ai->ai_family, SI_SOCK_STREAM, 0, s);
    if (rc != SI_OK) {
        *sysErr = s->lastError;
        return rc == SI_EMFILE || rc == SI_EMEMORY ? NIEINTERN : NIECONN_REFUSED;
    }
    rc = SiSetBlockMode(s, 0);
    if (rc == SI_OK)
        rc = SiConnect2(s, ai->ai_addr, ai->ai_addrlen);
    const auto pending = [s](int32_t ms) { return SiPeekPendConn(s, ms); };
    while (rc == SI_EINTR)
        rc = WaitFor(deadline, pending);
    if (rc == SI_ECONN_INPROG)
        rc = WaitFor(deadline, pending);
    if (rc == SI_OK)
        return NI_OK;
    *sysErr = s->lastError;
    SiClose(s);
    if (rc == NIESTOPPED)
        return NIESTOPPED;
    return rc == SI_ETIMEOUT ? NIETIMEOUT : NIECONN_REFUSED;
}

}  // namespace

int32_t NiInit()
{
    if (g_users == 0) {
        int32_t err = 0;
        if (!TableUp()) {
            NI_ERR(NIEINTERN, "network interface start-up failed", "%s: no memory for %u handles", "NiInit",
                   kMaxHandles);
            return NIEINTERN;
        }
        if (SiInit(&err) != SI_OK) {
            TableDown();
            NI_ERR_SYS(NIEINTERN, "network interface start-up failed", "%s: SiInit failed", "sigaction", err, "NiInit");
            return NIEINTERN;
        }
    }
    ++g_users;
    return NI_OK;
}

int32_t NiExit()
{
    if (g_users == 0)
        return NI_OK;
    if (--g_users > 0)
        return NI_OK;
    for (uint32_t i = 0; i < kMaxHandles; ++i)
        if (g_slots[i].used)
            SiClose(&g_slots[i].sock);
    TableDown();
    return SiExit() == SI_OK ? NI_OK : NIEINTERN;
}

void NiSetStopCheck(bool (*stopped)())
{
    g_stopCheck = stopped;
}

bool NiStopRequested()
{
    return g_stopCheck != nullptr && g_stopCheck();
}

int32_t NiRawHandle(const char* host, const char* service, int32_t timeoutMs, NI_HDL* hdl)
{
    if (!Started("NiRawHandle"))
        return NIEINVAL;
    if (host == nullptr || *host == '\0' || service == nullptr || *service == '\0' || hdl == nullptr ||
        timeoutMs < -1) {
        NI_ERR(NIEINVAL, "invalid parameter", "%s: host, service or time-out invalid", "NiRawHandle");
        return NIEINVAL;
    }
    const Deadline deadline(timeoutMs);
    addrinfo* res = nullptr;
    int32_t rc = Resolve(host, service, &res);
    if (rc != NI_OK)
        return rc;

    // Every address in turn until one accepts or the time is up.
    SI_SOCK s{-1, 0, 0, 0};
    int32_t sysErr = 0;
    rc = NIECONN_REFUSED;
    for (const addrinfo* ai = res; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6)
            continue;
        rc = ConnectOne(ai, deadline, &s, &sysErr);
        if (rc == NI_OK || rc == NIETIMEOUT || rc == NIEINTERN || rc == NIESTOPPED)
            break;
    }
    freeaddrinfo(res);
    if (rc == NIESTOPPED) {
        NI_ERR(NIESTOPPED, "partner '%s:%s' not reached", "%s: stopped while the connection was pending", host, service,
               "NiRawHandle");
        return rc;
    }
    if (rc == NIETIMEOUT) {
        NI_ERR(NIETIMEOUT, "partner '%s:%s' not reached", "%s: connection pending after %dms", host, service,
               "NiRawHandle", timeoutMs);
        return rc;
    }
    if (rc != NI_OK) {
        NI_ERR_SYS(rc, "partner '%s:%s' not reached", "%s: connect to %s:%s failed", "connect", sysErr, host, service,
                   "NiRawHandle", host, service);
        return rc;
    }
    uint32_t idx = 0;
    Slot* slot = FreeSlot(&idx);
    if (slot == nullptr) {
        SiClose(&s);
        NI_ERR(NIEHDLS_FULL, "no free handle", "%s: all %u handles in use", "NiRawHandle", kMaxHandles);
        return NIEHDLS_FULL;
    }
    slot->used = true;
    slot->sock = s;
    slot->partner = std::string(host) + ":" + service;
    *hdl = static_cast<NI_HDL>((idx << kGenBits) | slot->gen);
    return NI_OK;
}

int32_t NiRawWrite(NI_HDL hdl, const void* data, int32_t length, int32_t timeoutMs, int32_t* written)
{
    if (written != nullptr)
        *written = 0;
    if (!Started("NiRawWrite"))
        return NIEINVAL;
    Slot* slot = SlotOf(hdl, "NiRawWrite");
    if (slot == nullptr)
        return NIEINVAL;
    if (length < 0 || (data == nullptr && length > 0) || timeoutMs < -1) {
        NI_ERR(NIEINVAL, "invalid parameter", "%s: invalid buffer or length %d", "NiRawWrite", length);
        return NIEINVAL;
    }
    const Deadline deadline(timeoutMs);
    const auto* p = static_cast<const uint8_t*>(data);
    int32_t sent = 0;
    bool waited = false;  // the last step was a wait that reported readiness
    while (sent < length) {
        uint32_t n = 0;
        const int32_t rc = SiSend(&slot->sock, p + sent, static_cast<uint32_t>(length - sent), MSG_NOSIGNAL, &n);
        if (rc == SI_OK) {
            sent += static_cast<int32_t>(n);
            if (written != nullptr)
                *written = sent;
            waited = false;
            continue;
        }
        if (rc == SI_EINTR)
            continue;
        if (rc == SI_ETIMEOUT && !waited) {  // would block: wait for room
            const int32_t peek = WaitFor(deadline, [slot](int32_t ms) { return SiPeek(&slot->sock, SI_PEEK_WR, ms); });
            if (peek == NIESTOPPED) {
                NI_ERR(NIESTOPPED, "connection to partner '%s' stopped", "%s: stopped after %d of %d bytes",
                       slot->partner.c_str(), "NiRawWrite", sent, length);
                return NIESTOPPED;
            }
            if (peek == SI_ETIMEOUT) {
                NI_ERR(NIETIMEOUT, "connection to partner '%s' timed out", "%s: %d of %d bytes sent in %dms",
                       slot->partner.c_str(), "NiRawWrite", sent, length, timeoutMs);
                return NIETIMEOUT;
            }
            waited = true;  // ready, hung up or in error: the next send tells which
            continue;
        }
        const int32_t nrc = rc == SI_EINVAL_SOCK ? NIEINVAL : NIECONN_BROKEN;
        NI_ERR_SYS(nrc, "connection to partner '%s' broken", "%s: %d of %d bytes sent", "send", slot->sock.lastError,
                   slot->partner.c_str(), "NiRawWrite", sent, length);
        return nrc;
    }
    return NI_OK;
}

int32_t NiRawRead(NI_HDL hdl, void* buffer, int32_t capacity, int32_t timeoutMs, int32_t* bytesRead)
{
    if (bytesRead != nullptr)
        *bytesRead = 0;
    if (!Started("NiRawRead"))
        return NIEINVAL;
    Slot* slot = SlotOf(hdl, "NiRawRead");
    if (slot == nullptr)
        return NIEINVAL;
    if (buffer == nullptr || capacity <= 0 || bytesRead == nullptr || timeoutMs < -1) {
        NI_ERR(NIEINVAL, "invalid parameter", "%s: invalid buffer or capacity %d", "NiRawRead", capacity);
        return NIEINVAL;
    }
    const Deadline deadline(timeoutMs);
    bool waited = false;
    for (;;) {
        uint32_t n = 0;
        const int32_t rc = SiRecv(&slot->sock, buffer, static_cast<uint32_t>(capacity), 0, &n);
        if (rc == SI_OK && n > 0) {
            *bytesRead = static_cast<int32_t>(n);
            return NI_OK;
        }
        if (rc == SI_OK) {
            NI_ERR(NIECONN_BROKEN, "connection to partner '%s' broken", "%s: peer closed the connection",
                   slot->partner.c_str(), "NiRawRead");
            return NIECONN_BROKEN;
        }
        if (rc == SI_EINTR)
            continue;
        if (rc == SI_ETIMEOUT && !waited) {  // nothing there yet: wait for it
            const int32_t peek = WaitFor(deadline, [slot](int32_t ms) { return SiPeek(&slot->sock, SI_PEEK_RD, ms); });
            if (peek == NIESTOPPED) {
                NI_ERR(NIESTOPPED, "connection to partner '%s' stopped", "%s: stopped while waiting for data",
                       slot->partner.c_str(), "NiRawRead");
                return NIESTOPPED;
            }
            if (peek == SI_ETIMEOUT) {
                NI_ERR(NIETIMEOUT, "connection to partner '%s' timed out", "%s: no data within %dms",
                       slot->partner.c_str(), "NiRawRead", timeoutMs);
                return NIETIMEOUT;
            }
            waited = true;
            continue;
        }
        const int32_t nrc = rc == SI_EINVAL_SOCK ? NIEINVAL : NIECONN_BROKEN;
        NI_ERR_SYS(nrc, "connection to partner '%s' broken", "%s: receive failed", "recv", slot->sock.lastError,
                   slot->partner.c_str(), "NiRawRead");
        return nrc;
    }
}

int32_t NiCloseHandle(NI_HDL hdl)
{
    Slot* slot = SlotOf(hdl, "NiCloseHandle");
    if (slot == nullptr)
        return NIEINVAL;
    SiClose(&slot->sock);
    slot->used = false;
    slot->gen = static_cast<uint8_t>((slot->gen + 1) & kGenMask);
    slot->partner.clear();
    GiveSlot(static_cast<uint32_t>(slot - g_slots.get()));
    return NI_OK;
}

int32_t NiHdlGetSock(NI_HDL hdl, SI_SOCK** sock)
{
    Slot* slot = SlotOf(hdl, "NiHdlGetSock");
    if (slot == nullptr || sock == nullptr)
        return NIEINVAL;
    *sock = &slot->sock;
    return NI_OK;
}

const char* NiErrorName(int32_t rc)
{
    switch (rc) {
    case NI_OK:
        return "NI_OK";
    case NIEINTERN:
        return "NIEINTERN";
    case NIEHOST_UNKNOWN:
        return "NIEHOST_UNKNOWN";
    case NIESERV_UNKNOWN:
        return "NIESERV_UNKNOWN";
    case NIETIMEOUT:
        return "NIETIMEOUT";
    case NIECONN_BROKEN:
        return "NIECONN_BROKEN";
    case NIEINVAL:
        return "NIEINVAL";
    case NIECONN_REFUSED:
        return "NIECONN_REFUSED";
    case NIEHDLS_FULL:
        return "NIEHDLS_FULL";
    case NIESTOPPED:
        return "NIESTOPPED";
    default:
        return "NIE_UNKNOWN";
    }
}

// Select-call select set: a member's position is its descriptor, requested
// and returned events live in descriptor sets, and the members form a list,
// newest first, along which Next walks.
#include <cstring>
#include <new>

#include "si/sipriv.h"
#include "si/siselimpl.h"

namespace {

const char* const kModule = "siselsel";
constexpr uint16_t kNone = 65535;

#define TRC(level, ...) SI_TRACE(kModule, level, SiTrc::Plain, __VA_ARGS__)
#define TRC_ERR(...) SI_TRACE(kModule, 1, SiTrc::Err, __VA_ARGS__)

int ListPos(uint16_t v)
{
    return v == kNone ? -1 : v;
}

}  // namespace

SISEL_SELECT::~SISEL_SELECT()
{
    delete[] entries;
}

// The descriptor must lie in range and, when asked, be a member.
int32_t SISEL_SELECT::Check(SI_SOCK* sock, const char* name, bool member)
{
    const int32_t d = sock != nullptr ? sock->sock : -1;
    if (d < 0 || static_cast<uint32_t>(d) >= MAX_SOCKETS) {
        TRC(1, "%s: sock %d out of range (0<=x<%u)\n", name, d, MAX_SOCKETS);
        return SI_EINVAL;
    }
    if (member && (entries == nullptr || entries[d].pSocket == nullptr)) {
        TRC(2, "%s: sock %d not member of set\n", name, d);
        return SI_EINVAL;
    }
    return SI_OK;
}

int32_t SISEL_SELECT::Init(uint32_t n)
{
    const char* const name = "SiSelSInit";
    if (n > MAX_SOCKETS) {
        TRC(1, "%s: parameter too big (%u>%u)\n", name, n, MAX_SOCKETS);
        return SI_EINVAL;
    }
    count = highest = 0;
    loopPos = listHead = kNone;
    invalidSocket = 0;
    maxEntries = n;
    sets.ClearRequests();
    if (entries == nullptr)
        entries = new (std::nothrow) FD_EL[MAX_SOCKETS];
    if (entries == nullptr) {
        TRC_ERR("%s: failed to allocate FD_EL[%u]\n", name, MAX_SOCKETS);
        return SI_EMEMORY;
    }
    std::memset(static_cast<void*>(entries), 0, sizeof(FD_EL) * MAX_SOCKETS);
    if (cb != nullptr)
        cb->CreateMsg(MAX_SOCKETS, 0);
    return SI_OK;
}

int32_t SISEL_SELECT::Set(SI_SOCK* sock, uint8_t mode, void* data, uint8_t exclusive)
{
    const char* const name = "SiSelSSet";
    if (Check(sock, name, false) != SI_OK)
        return SI_EINVAL;
    if (entries == nullptr) {
        TRC(1, "%s: set not initialised\n", name);
        return SI_EINVAL;
    }
    const auto d = static_cast<uint16_t>(sock->sock);
    FD_EL& e = entries[d];
    if (e.pSocket == nullptr) {
        if (count >= maxEntries) {
            TRC(1, "%s: maximum of sockets reached (%u)\n", name, maxEntries);
            return SI_EINVAL;
        }
        e = FD_EL{sock, data, listHead, kNone};
        if (listHead != kNone)
            entries[listHead].prv = d;
        listHead = d;
        ++count;
        if (d >= highest)
            highest = d + 1u;
        TRC(3, "%s: sock %d added to set\n", name, d);
        if (cb != nullptr)
            cb->AddMsg(d);
    }
    sets.Request(kModule, name, d, mode, exclusive);
    return SI_OK;
}

int32_t SISEL_SELECT::Clear(SI_SOCK* sock, uint8_t mode)
{
    const char* const name = "SiSelSClear";
    if (Check(sock, name, true) != SI_OK)
        return SI_EINVAL;
    const auto d = static_cast<uint32_t>(sock->sock);
    sets.Drop(kModule, name, d, mode);
    return SI_OK;
}

int32_t SISEL_SELECT::ClearSet()
{
    sets.ClearAll(kModule, "SiSelSClearSet");
    return SI_OK;
}

int32_t SISEL_SELECT::Remove(SI_SOCK* sock, uint8_t /*reorganise*/)
{
    const char* const name = "SiSelSRemove";
    if (Check(sock, name, true) != SI_OK)
        return SI_EINVAL;
    const auto d = static_cast<uint16_t>(sock->sock);
    FD_EL& e = entries[d];
    --count;
    if (cb != nullptr)
        cb->RemoveMsg(d);
    if (e.prv != kNone)
        entries[e.prv].nxt = e.nxt;
    else
        listHead = e.nxt;
    if (e.nxt != kNone)
        entries[e.nxt].prv = e.prv;
    // A walk in progress goes on behind d whatever the reorganise flag: a new
    // member that takes over descriptor d is put at the head of the list, and
    // a walk that went on from d would come round to the head again.
    if (loopPos == d)
        loopPos = e.nxt;
    sets.Forget(d);
    e.pSocket = nullptr;
    TRC(3, "%s: removed sock %d\n", name, d);
    return SI_OK;
}

int32_t SISEL_SELECT::RemoveAll()
{
    if (cb != nullptr)
        cb->ResetMsg();
    count = highest = 0;
    loopPos = listHead = kNone;
    invalidSocket = 0;
    sets.ClearRequests();
    if (entries != nullptr)
        std::memset(static_cast<void*>(entries), 0, sizeof(FD_EL) * MAX_SOCKETS);
    TRC(3, "%s: removed all sockets\n", "SiSelSRemoveAll");
    return SI_OK;
}

int32_t SISEL_SELECT::Select(int32_t timeoutMs, uint32_t* nSelected)
{
    loopPos = listHead;
    return sets.Wait(kModule, "SiSelSSelect", highest, timeoutMs, count, cb != nullptr, &invalidSocket, nSelected);
}

int32_t SISEL_SELECT::StartLoop()
{
    loopPos = listHead;
    TRC(3, "%s: iterator reseted\n", "SiSelSStartLoop");
    return SI_OK;
}

int32_t SISEL_SELECT::Next(uint8_t* read, uint8_t* readPri, uint8_t* write, SI_SOCK** sock, void** data)
{
    return sets.Walk(kModule, "SiSelSNext", invalidSocket, cb, read, readPri, write, sock, data, [&](SiSelMember* m) {
        if (entries == nullptr || loopPos == kNone)
            return false;
        const uint16_t d = loopPos;
        loopPos = entries[d].nxt;
        *m = SiSelMember{d, d, entries[d].pSocket, entries[d].pData};
        return true;
    });
}

int32_t SISEL_SELECT::GetMode(SI_SOCK* sock, uint8_t* mode)
{
    if (mode == nullptr || Check(sock, "SiSelSGetMode", true) != SI_OK)
        return SI_EINVAL;
    *mode = sets.Requested(static_cast<uint32_t>(sock->sock));
    return SI_OK;
}

int32_t SISEL_SELECT::GetStatEx(SI_SOCK* sock, uint8_t* stat, SI_SOCK** outSock, void** data)
{
    if (stat == nullptr || Check(sock, "SiSelSGetStatEx", true) != SI_OK)
        return SI_EINVAL;
    const auto d = static_cast<uint32_t>(sock->sock);
    *stat = sets.Status(d, invalidSocket, entries[d].pSocket);
    if (outSock != nullptr)
        *outSock = entries[d].pSocket;
    if (data != nullptr)
        *data = entries[d].pData;
    return SI_OK;
}

int32_t SISEL_SELECT::GetStat(SI_SOCK* sock, uint8_t* stat)
{
    if (stat == nullptr || Check(sock, "SiSelSGetStat", true) != SI_OK)
        return SI_EINVAL;
    const auto d = static_cast<uint32_t>(sock->sock);
    *stat = sets.Status(d, invalidSocket, entries[d].pSocket);
    return SI_OK;
}

uint32_t SISEL_SELECT::GetMaxEntries()
{
    return maxEntries;
}

uint8_t SISEL_SELECT::IsMember(SI_SOCK* sock)
{
    return sock != nullptr && sock->sock >= 0 && static_cast<uint32_t>(sock->sock) < MAX_SOCKETS &&
           entries != nullptr && entries[sock->sock].pSocket != nullptr;
}

int32_t SISEL_SELECT::GetData(SI_SOCK* sock, void** data)
{
    if (data == nullptr || Check(sock, "SiSelSGetData", true) != SI_OK)
        return SI_EINVAL;
    *data = entries[sock->sock].pData;
    return SI_OK;
}

int32_t SISEL_SELECT::SetData(SI_SOCK* sock, void* data)
{
    if (Check(sock, "SiSelSSetData", true) != SI_OK)
        return SI_EINVAL;
    entries[sock->sock].pData = data;
    return SI_OK;
}

int32_t SISEL_SELECT::GetSocketPos(SI_SOCK* sock, uint32_t* pos)
{
    if (pos == nullptr || Check(sock, "SiSelSGetSocketPos", true) != SI_OK)
        return SI_EINVAL;
    *pos = static_cast<uint32_t>(sock->sock);
    return SI_OK;
}

int32_t SISEL_SELECT::GetSocketAtPos(uint32_t pos)
{
    return pos < MAX_SOCKETS ? static_cast<int32_t>(pos) : -1;
}

int32_t SISEL_SELECT::Dump(FILE* stream)
{
    if (stream == nullptr)
        return SI_EINVAL;
    std::fprintf(stream, "SISELECT set %p\n", static_cast<void*>(this));
    std::fprintf(stream,
                 "sockets in set: %d\nhighest pos +1: %d\nmax entries   : %d\nevent pos     : %d\n"
                 "socket list   : %d\ninvalid socket: %s\n",
                 static_cast<int>(count), static_cast<int>(highest), static_cast<int>(maxEntries), ListPos(loopPos),
                 static_cast<int>(listHead), invalidSocket == 1 ? "TRUE" : "false");
    std::fprintf(stream, "socket list   :\n");
    std::fprintf(stream, "  pos  pSocket  pData    prv nxt | socket   ev  rev");
    if (cb != nullptr)
        cb->Dump(stream, -1);
    std::fprintf(stream, "\n");
    if (entries == nullptr)
        return SI_OK;
    for (uint32_t d = 0; d < highest + 3 && d < MAX_SOCKETS; ++d) {
        const FD_EL& e = entries[d];
        std::fprintf(stream, "%5d: %08x %08x %3d %3d | sock %-3d %c%c%c %c%c%c", static_cast<int>(d),
                     SiLow32(e.pSocket), SiLow32(e.pData), ListPos(e.prv), ListPos(e.nxt), static_cast<int>(d),
                     SiEvChar(SiBitIsSet(sets.readReq, d), 'r'), SiEvChar(SiBitIsSet(sets.writeReq, d), 'w'),
                     SiEvChar(SiBitIsSet(sets.priReq, d), 'e'), SiEvChar(SiBitIsSet(sets.readRes, d), 'r'),
                     SiEvChar(SiBitIsSet(sets.writeRes, d), 'w'), SiEvChar(SiBitIsSet(sets.priRes, d), 'e'));
        if (cb != nullptr)
            cb->Dump(stream, static_cast<int32_t>(d));
        std::fprintf(stream, "\n");
    }
    return SI_OK;
}

// Position-list select set: waits with the select call like the select-call
// set, but keeps its members in numbered positions found through a Fi index,
// chained newest first for the walk.
#include <cstring>
#include <utility>
#include <new>

#include "si/sipriv.h"
#include "si/siselimpl.h"

namespace {

const char* const kModule = "siselnt";

#define TRC(level, ...) SI_TRACE(kModule, level, SiTrc::Plain, __VA_ARGS__)
#define TRC_ERR(...) SI_TRACE(kModule, 1, SiTrc::Err, __VA_ARGS__)

}  // namespace

void SISEL_SEL_NT::Release()
{
    SiSelFiClose(&fi, kModule, "SiSelN~");
    delete[] entries;
    entries = nullptr;
    loopPos = listHead = freeList = nullptr;
    count = highest = highestFd = 0;
}

SISEL_SEL_NT::~SISEL_SEL_NT()
{
    Release();
}

int32_t SISEL_SEL_NT::Find(SI_SOCK* sock, const char* name, FD_EL** el, int32_t* leaf)
{
    int32_t l = 0;
    const int64_t p = SiSelFiMember(fi, entries, highest, sock, kModule, name, &l);
    if (p < 0)
        return SI_EINVAL;
    *el = &entries[p];
    if (leaf != nullptr)
        *leaf = l;
    return SI_OK;
}

int32_t SISEL_SEL_NT::Init(uint32_t n)
{
    const char* const name = "SiSelNInit";
    if (n > MAX_SOCKETS) {
        TRC(1, "%s: parameter too big (%u>%u)\n", name, n, MAX_SOCKETS);
        return SI_EINVAL;
    }
    // The tables are made for the new capacity, whatever an earlier Init made.
    Release();
    maxEntries = n < 2 ? 2 : n;
    invalidSocket = 0;
    sets.ClearRequests();
    entries = SiSelNewTable<FD_EL>(kModule, name, "FD_EL", maxEntries);
    const int32_t rc = SiSelOpenTable(&fi, kModule, name, maxEntries, entries, cb);
    if (rc != SI_OK)
        Release();
    return rc;
}

int32_t SISEL_SEL_NT::Add(SI_SOCK* sock, void* data, FD_EL** el)
{
    const char* const name = "SiSelNAdd";
    const int32_t fd = sock->sock;
    // The select call watches descriptors below the size of its sets only.
    if (fd >= 0 && static_cast<uint32_t>(fd) >= MAX_SOCKETS) {
        TRC(1, "%s: sock %d out of range (0<=x<%u)\n", name, fd, MAX_SOCKETS);
        return SI_EINVAL;
    }
    uint32_t p = 0;
    const int32_t rc = SiSelTakeSlot(
        kModule, name, fi, fd, entries, freeList, &FD_EL::nxt, count, highest, maxEntries,
        [&](uint32_t at) { return std::pair<int32_t*, const void*>(&entries[at].sock, &entries[at]); }, &p);
    if (rc != SI_OK)
        return rc;
    FD_EL* e = &entries[p];
    *e = FD_EL{fd, sock, data, listHead, nullptr};
    if (listHead != nullptr)
        listHead->prv = e;
    listHead = e;
    if (static_cast<uint32_t>(fd) >= highestFd)
        highestFd = static_cast<uint32_t>(fd) + 1;
    if (cb != nullptr)
        cb->AddMsg(p);
    *el = e;
    return SI_OK;
}

int32_t SISEL_SEL_NT::Set(SI_SOCK* sock, uint8_t mode, void* data, uint8_t exclusive)
{
    const char* const name = "SiSelNSet";
    if (SiSelSetCheck(kModule, name, sock, entries != nullptr) != SI_OK)
        return SI_EINVAL;
    int32_t leaf = 0;
    const int64_t p = SiSelFiPos(fi, entries, highest, sock->sock, &leaf);
    FD_EL* el = p >= 0 ? &entries[p] : nullptr;
    if (el == nullptr) {
        const int32_t rc = Add(sock, data, &el);
        if (rc != SI_OK)
            return rc;
    }
    const auto d = static_cast<uint32_t>(el->sock);
    sets.Request(kModule, name, d, mode, exclusive);
    return SI_OK;
}

int32_t SISEL_SEL_NT::Clear(SI_SOCK* sock, uint8_t mode)
{
    const char* const name = "SiSelNClear";
    FD_EL* el = nullptr;
    if (Find(sock, name, &el, nullptr) != SI_OK)
        return SI_EINVAL;
    const auto d = static_cast<uint32_t>(el->sock);
    sets.Drop(kModule, name, d, mode);
    return SI_OK;
}

int32_t SISEL_SEL_NT::ClearSet()
{
    sets.ClearAll(kModule, "SiSelNClearSet");
    return SI_OK;
}

int32_t SISEL_SEL_NT::Remove(SI_SOCK* sock, uint8_t /*reorganise*/)
{
    const char* const name = "SiSelNRemove";
    FD_EL* el = nullptr;
    int32_t leaf = 0;
    if (Find(sock, name, &el, &leaf) != SI_OK)
        return SI_EINVAL;
    if (SiSelFiRemove(fi, kModule, name, leaf) != SI_OK)
        return SI_EINTERN;
    const uint32_t pos = PosOf(el);
    const int32_t fd = el->sock;
    --count;
    if (cb != nullptr)
        cb->RemoveMsg(pos);
    if (el->prv != nullptr)
        el->prv->nxt = el->nxt;
    else
        listHead = el->nxt;
    if (el->nxt != nullptr)
        el->nxt->prv = el->prv;
    // The walk goes on with the next older member whatever reorganise says:
    // the entry's link is about to serve the free list.
    if (loopPos == el)
        loopPos = el->nxt;
    FD_EL* link = SiSelFreeSlot(kModule, name, el, pos, fd, highest, freeList);
    *el = FD_EL{-1, nullptr, nullptr, link, nullptr};
    sets.Forget(static_cast<uint32_t>(fd));
    TRC(3, "%s: removed sock %d\n", name, fd);
    return SI_OK;
}

int32_t SISEL_SEL_NT::RemoveAll()
{
    const char* const name = "SiSelNRemoveAll";
    if (cb != nullptr)
        cb->ResetMsg();
    count = highest = highestFd = 0;
    loopPos = listHead = freeList = nullptr;
    invalidSocket = 0;
    sets.ClearRequests();
    if (entries == nullptr)
        return SI_OK;
    return SiSelFiEmpty(&fi, kModule, name, entries, sizeof(FD_EL) * maxEntries);
}

int32_t SISEL_SEL_NT::Select(int32_t timeoutMs, uint32_t* nSelected)
{
    loopPos = listHead;
    return sets.Wait(kModule, "SiSelNSelect", highestFd, timeoutMs, count, cb != nullptr, &invalidSocket, nSelected);
}

int32_t SISEL_SEL_NT::StartLoop()
{
    loopPos = listHead;
    TRC(3, "%s: iterator reseted\n", "SiSelNStartLoop");
    return SI_OK;
}

int32_t SISEL_SEL_NT::Next(uint8_t* read, uint8_t* readPri, uint8_t* write, SI_SOCK** sock, void** data)
{
    uint32_t n = 0;  // a list longer than the table is broken: the walk ends
    return sets.Walk(kModule, "SiSelNNext", invalidSocket, cb, read, readPri, write, sock, data, [&](SiSelMember* m) {
        if (loopPos == nullptr || n++ > maxEntries) {
            loopPos = nullptr;
            return false;
        }
        FD_EL* e = loopPos;
        loopPos = e->nxt;
        *m = SiSelMember{static_cast<uint32_t>(e->sock), PosOf(e), e->pSocket, e->pData};
        return true;
    });
}

int32_t SISEL_SEL_NT::GetMode(SI_SOCK* sock, uint8_t* mode)
{
    FD_EL* el = nullptr;
    if (mode == nullptr || Find(sock, "SiSelNGetMode", &el, nullptr) != SI_OK)
        return SI_EINVAL;
    *mode = sets.Requested(static_cast<uint32_t>(el->sock));
    return SI_OK;
}

int32_t SISEL_SEL_NT::GetStatEx(SI_SOCK* sock, uint8_t* stat, SI_SOCK** outSock, void** data)
{
    FD_EL* el = nullptr;
    if (stat == nullptr || Find(sock, "SiSelNGetStatEx", &el, nullptr) != SI_OK)
        return SI_EINVAL;
    const auto d = static_cast<uint32_t>(el->sock);
    *stat = sets.Status(d, invalidSocket, el->pSocket);
    if (outSock != nullptr)
        *outSock = el->pSocket;
    if (data != nullptr)
        *data = el->pData;
    return SI_OK;
}

int32_t SISEL_SEL_NT::GetStat(SI_SOCK* sock, uint8_t* stat)
{
    FD_EL* el = nullptr;
    if (stat == nullptr || Find(sock, "SiSelNGetStat", &el, nullptr) != SI_OK)
        return SI_EINVAL;
    *stat = sets.Status(static_cast<uint32_t>(el->sock), invalidSocket, el->pSocket);
    return SI_OK;
}

uint32_t SISEL_SEL_NT::GetMaxEntries()
{
    return maxEntries;
}

uint8_t SISEL_SEL_NT::IsMember(SI_SOCK* sock)
{
    int32_t leaf = 0;
    return sock != nullptr && SiSelFiPos(fi, entries, highest, sock->sock, &leaf) >= 0;
}

int32_t SISEL_SEL_NT::GetData(SI_SOCK* sock, void** data)
{
    FD_EL* el = nullptr;
    if (data == nullptr || Find(sock, "SiSelNGetData", &el, nullptr) != SI_OK)
        return SI_EINVAL;
    *data = el->pData;
    return SI_OK;
}

int32_t SISEL_SEL_NT::SetData(SI_SOCK* sock, void* data)
{
    FD_EL* el = nullptr;
    if (Find(sock, "SiSelNGetData", &el, nullptr) != SI_OK)
        return SI_EINVAL;
    el->pData = data;
    return SI_OK;
}

int32_t SISEL_SEL_NT::GetSocketPos(SI_SOCK* sock, uint32_t* pos)
{
    FD_EL* el = nullptr;
    if (pos == nullptr || Find(sock, "SiSelNGetSocketPos", &el, nullptr) != SI_OK)
        return SI_EINVAL;
    *pos = PosOf(el);
    return SI_OK;
}

int32_t SISEL_SEL_NT::GetSocketAtPos(uint32_t pos)
{
    return pos < highest ? entries[pos].sock : -1;
}

int32_t SISEL_SEL_NT::Dump(FILE* stream)
{
    if (stream == nullptr)
        return SI_EINVAL;
    auto posOf = [&](const FD_EL* e) {
        if (e == nullptr)
            return -1;
        const int64_t p = SiSelIndexOf(entries, maxEntries, e);
        return p < 0 ? -99 : static_cast<int>(p);
    };
    std::fprintf(stream, "SISELNT set %p\n", static_cast<void*>(this));
    std::fprintf(stream,
                 "sockets in set: %d\nhighest pos +1: %d\nhighest fd  +1: %d\nmax entries   : %d\n"
                 "event pos     : %d\nsocket list   : %d\nfree list     : %d\ninvalid socket: %s\n",
                 static_cast<int>(count), static_cast<int>(highest), static_cast<int>(highestFd),
                 static_cast<int>(maxEntries), posOf(loopPos), posOf(listHead), posOf(freeList),
                 invalidSocket == 1 ? "TRUE" : "false");
    std::fprintf(stream, "socket list   :\n");
    std::fprintf(stream, "  pos  pSocket  pData    prv nxt FI  | socket     ev  rev");
    if (cb != nullptr)
        cb->Dump(stream, -1);
    std::fprintf(stream, "\n");
    if (entries == nullptr)
        return SI_OK;
    for (uint32_t p = 0; p < highest + 3 && p < maxEntries; ++p) {
        const FD_EL& e = entries[p];
        int32_t leaf = 0;
        const int fiPos = static_cast<int>(SiSelFiPos(fi, entries, maxEntries, e.sock, &leaf));
        const int shown = fiPos < 0 && e.sock >= 100000 ? -9999 : e.sock;
        const bool inSets = e.sock >= 0 && static_cast<uint32_t>(e.sock) < MAX_SOCKETS;
        const auto d = static_cast<uint32_t>(inSets ? e.sock : 0);
        std::fprintf(
            stream, "%5d: %08x %08x %3d %3d %3d | sock %-5d %c%c%c %c%c%c", static_cast<int>(p), SiLow32(e.pSocket),
            SiLow32(e.pData), posOf(e.prv), posOf(e.nxt), fiPos, shown,
            SiEvChar(inSets && SiBitIsSet(sets.readReq, d), 'r'), SiEvChar(inSets && SiBitIsSet(sets.writeReq, d), 'w'),
            SiEvChar(inSets && SiBitIsSet(sets.priReq, d), 'e'), SiEvChar(inSets && SiBitIsSet(sets.readRes, d), 'r'),
            SiEvChar(inSets && SiBitIsSet(sets.writeRes, d), 'w'), SiEvChar(inSets && SiBitIsSet(sets.priRes, d), 'e'));
        if (cb != nullptr)
            cb->Dump(stream, static_cast<int32_t>(p));
        std::fprintf(stream, "\n");
    }
    return SI_OK;
}

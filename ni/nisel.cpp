// Select sets of network handles over the socket interface's sets.  The
// observer mirrors every position change of the set in a table of handles;
// a ready socket is handed out as the handle at its position, once the set's
// own record of the member confirms that the handle still owns the socket.
#include <algorithm>
#include <new>

#include "ni/nipriv.h"
#include "ni/nisel.h"

namespace {

const char* const kModule = "nisel";

// The NI code of a set operation's result.
int32_t FromSi(int32_t rc, const char* op, NI_HDL hdl)
{
    if (rc == SI_OK)
        return NI_OK;
    const int32_t nrc = rc == SI_EINVAL ? NIEINVAL : NIEINTERN;
    NI_ERR(nrc, "select set operation failed", "%s: hdl %d: %s", op, hdl, SiErrorName(rc));
    return nrc;
}

}  // namespace

// ---- Observer ----

int32_t NISEL_IMPL::CB_FUNCS_IMPL::CreateMsg(uint32_t capacity, uint32_t /*zero*/)
{
    try {
        hdls.assign(capacity, -1);
    } catch (const std::bad_alloc&) {
        hdls.clear();  // HdlSet then refuses: no position has a handle
    }
    return 0;
}

int32_t NISEL_IMPL::CB_FUNCS_IMPL::AddMsg(uint32_t pos)
{
    if (pos < hdls.size())
        hdls[pos] = adding;
    return 0;
}

int32_t NISEL_IMPL::CB_FUNCS_IMPL::MoveMsg(uint32_t from, uint32_t to)
{
    if (from < hdls.size() && to < hdls.size()) {
        hdls[to] = hdls[from];
        hdls[from] = -1;
    }
    return 0;
}

int32_t NISEL_IMPL::CB_FUNCS_IMPL::RemoveMsg(uint32_t pos)
{
    if (pos < hdls.size())
        hdls[pos] = -1;
    return 0;
}

int32_t NISEL_IMPL::CB_FUNCS_IMPL::ResetMsg()
{
    std::fill(hdls.begin(), hdls.end(), -1);
    return 0;
}

int32_t NISEL_IMPL::CB_FUNCS_IMPL::SetEventPos(uint32_t pos)
{
    eventPos = pos;
    return 0;
}

int32_t NISEL_IMPL::CB_FUNCS_IMPL::Dump(FILE* stream, int32_t pos)
{
    if (pos < 0)
        std::fprintf(stream, "   hdl");
    else
        std::fprintf(stream, " %5d", static_cast<uint32_t>(pos) < hdls.size() ? hdls[pos] : -1);
    return 0;
}

// ---- Set ----

NISEL_IMPL* NiSelCreateSet(const uint8_t* type)
{
    auto* set = new (std::nothrow) NISEL_IMPL;
    if (set == nullptr) {
        NI_ERR(NIEINTERN, "no memory", "%s: no memory for a select set", "NiSelCreateSet");
        return nullptr;
    }
    SISEL_IMPL* base = set;
    const int32_t rc = base->SiSelAddSpecImpl(type);
    if (rc != SI_OK) {
        delete set;
        NI_ERR(rc == SI_EINVAL ? NIEINVAL : NIEINTERN, "select set not created", "%s: type %d: %s", "NiSelCreateSet",
               type != nullptr ? *type : -1, SiErrorName(rc));
        return nullptr;
    }
    set->spec->SetCbFuncs(&set->observer);
    return set;
}

NISEL_IMPL::~NISEL_IMPL()
{
    if (spec != nullptr)
        spec->SetCbFuncs(nullptr);
}

int32_t NISEL_IMPL::HdlSet(NI_HDL hdl, uint8_t mode, void* data, uint8_t exclusive)
{
    SI_SOCK* sock = nullptr;
    if (NiHdlGetSock(hdl, &sock) != NI_OK)
        return NIEINVAL;
    observer.adding = hdl;
    const int32_t rc = Set(sock, mode, data, exclusive);
    observer.adding = -1;
    if (rc != SI_OK)
        return FromSi(rc, "NiSelSet", hdl);
    uint32_t pos = 0;
    if (spec->GetSocketPos(sock, &pos) != SI_OK || pos >= observer.hdls.size() || observer.hdls[pos] != hdl) {
        NI_ERR(NIEINTERN, "select set inconsistent", "%s: hdl %d has no position of its own", "NiSelSet", hdl);
        return NIEINTERN;
    }
    return NI_OK;
}

int32_t NISEL_IMPL::HdlClear(NI_HDL hdl, uint8_t mode)
{
    SI_SOCK* sock = nullptr;
    if (NiHdlGetSock(hdl, &sock) != NI_OK)
        return NIEINVAL;
    return FromSi(Clear(sock, mode), "NiSelClear", hdl);
}

int32_t NISEL_IMPL::HdlRemove(NI_HDL hdl)
{
    SI_SOCK* sock = nullptr;
    if (NiHdlGetSock(hdl, &sock) != NI_OK)
        return NIEINVAL;
    return FromSi(Remove(sock, 1), "NiSelRemove", hdl);
}

int32_t NISEL_IMPL::HdlNext(uint8_t* read, uint8_t* write, NI_HDL* hdl, void** data)
{
    if (hdl == nullptr) {
        NI_ERR(NIEINVAL, "invalid parameter", "%s: no place for the handle", "NiSelNext");
        return NIEINVAL;
    }
    *hdl = -1;
    SI_SOCK* sock = nullptr;
    const int32_t rc = Next(read, nullptr, write, &sock, data);
    if (sock == nullptr)
        return FromSi(rc, "NiSelNext", -1);
    const uint32_t pos = observer.eventPos;
    const NI_HDL h = pos < observer.hdls.size() ? observer.hdls[pos] : -1;
    uint8_t stat = 0;
    SI_SOCK* stored = nullptr;
    SI_SOCK* current = nullptr;
    if (spec->GetStatEx(sock, &stat, &stored, nullptr) != SI_OK || stored != sock || h < 0 ||
        NiHdlGetSock(h, &current) != NI_OK || current != sock) {
        NI_ERR(NIEINTERN, "select set inconsistent", "%s: socket at pos %u has no open handle", "NiSelNext", pos);
        return NIEINTERN;
    }
    *hdl = h;
    if (rc != SI_OK || (stat & (SISEL::SOCK_ERROR | SISEL::INVAL_SOCK)) != 0) {
        NI_ERR(NIECONN_BROKEN, "connection broken", "%s: hdl %d: %s", "NiSelNext", h,
               SiErrorName(rc != SI_OK ? rc : SI_ECONN_BROKEN));
        return NIECONN_BROKEN;
    }
    return NI_OK;
}

// Select-set framework: the public set that forwards to its implementation,
// the factory, the exported constants and the wrappers for SISEL pointers.
#include <new>

#include "si/sipriv.h"
#include "si/siselimpl.h"

namespace {

const char* const kModule = "sixxsel";

}  // namespace

const uint8_t SISEL_READ = SISEL::READ;
const uint8_t SISEL_WRITE = SISEL::WRITE;
const uint8_t SISEL_READ_PRI = SISEL::READ_PRI;
const uint8_t SISEL_INVAL_SOCK = SISEL::INVAL_SOCK;
const uint8_t SISEL_SOCK_ERROR = SISEL::SOCK_ERROR;
const uint32_t SISEL_SELECT::MAX_SOCKETS = SI_FD_SETSIZE;
const uint32_t SISEL_SEL_NT::MAX_SOCKETS = SI_FD_SETSIZE;

// ---- SISEL_IMPL: every operation goes to the implementation; without one
// (SiSelAddSpecImpl not run or failed) the set refuses work ----

int32_t SISEL_IMPL::Init(uint32_t n)
{
    return spec ? spec->Init(n) : SI_EINVAL;
}
int32_t SISEL_IMPL::Set(SI_SOCK* sock, uint8_t mode, void* data, uint8_t exclusive)
{
    return spec ? spec->Set(sock, mode, data, exclusive) : SI_EINVAL;
}
int32_t SISEL_IMPL::Clear(SI_SOCK* sock, uint8_t mode)
{
    return spec ? spec->Clear(sock, mode) : SI_EINVAL;
}
int32_t SISEL_IMPL::ClearSet()
{
    return spec ? spec->ClearSet() : SI_EINVAL;
}
int32_t SISEL_IMPL::Remove(SI_SOCK* sock, uint8_t reorganise)
{
    return spec ? spec->Remove(sock, reorganise) : SI_EINVAL;
}
int32_t SISEL_IMPL::RemoveAll()
{
    return spec ? spec->RemoveAll() : SI_EINVAL;
}
int32_t SISEL_IMPL::Select(int32_t timeoutMs, uint32_t* nSelected)
{
    return spec ? spec->Select(timeoutMs, nSelected) : SI_EINVAL;
}
int32_t SISEL_IMPL::StartLoop()
{
    return spec ? spec->StartLoop() : SI_EINVAL;
}
int32_t SISEL_IMPL::Next(uint8_t* read, uint8_t* readPri, uint8_t* write, SI_SOCK** sock, void** data)
{
    return spec ? spec->Next(read, readPri, write, sock, data) : SI_EINVAL;
}
int32_t SISEL_IMPL::GetMode(SI_SOCK* sock, uint8_t* mode)
{
    return spec ? spec->GetMode(sock, mode) : SI_EINVAL;
}
int32_t SISEL_IMPL::GetStat(SI_SOCK* sock, uint8_t* stat)
{
    return spec ? spec->GetStat(sock, stat) : SI_EINVAL;
}
uint32_t SISEL_IMPL::GetMaxEntries()
{
    return spec ? spec->GetMaxEntries() : 0;
}
uint8_t SISEL_IMPL::IsMember(SI_SOCK* sock)
{
    return spec ? spec->IsMember(sock) : 0;
}
int32_t SISEL_IMPL::GetData(SI_SOCK* sock, void** data)
{
    return spec ? spec->GetData(sock, data) : SI_EINVAL;
}
int32_t SISEL_IMPL::SetData(SI_SOCK* sock, void* data)
{
    return spec ? spec->SetData(sock, data) : SI_EINVAL;
}
int32_t SISEL_IMPL::Dump(FILE* stream)
{
    return spec ? spec->Dump(stream) : SI_EINVAL;
}

SISEL_IMPL::~SISEL_IMPL()
{
    delete spec;
}

int32_t SISEL_IMPL::SiSelAddSpecImpl(const uint8_t* type)
{
    const char* const name = "SiSelAddSpecImpl";
    if (spec != nullptr) {
        SI_TRACE(kModule, 1, SiTrc::Plain, "%s: implementation already attached\n", name);
        return SI_EINVAL;
    }
    const uint8_t t = type == nullptr ? POLL : *type;
    switch (t) {
    case POLL:
    case F_CONN:
        spec = new (std::nothrow) SISEL_POLL;
        break;
    case SELECT:
        spec = new (std::nothrow) SISEL_SELECT;
        break;
    default:
        SI_TRACE(kModule, 1, SiTrc::Err, "%s: invalid implementation type %d\n", name, t);
        return SI_EINVAL;
    }
    if (spec == nullptr) {
        SI_TRACE(kModule, 1, SiTrc::Err, "%s: failed to create specialized class\n", name);
        return SI_EMEMORY;
    }
    return SI_OK;
}

SISEL_IMPL* SiSelCreateSet(const uint8_t* type)
{
    auto* set = new (std::nothrow) SISEL_IMPL;
    if (set == nullptr) {
        SI_TRACE(kModule, 1, SiTrc::Err, "%s: failed to create select class\n", "SiSelCreateSet");
        return nullptr;
    }
    if (set->SiSelAddSpecImpl(type) != SI_OK) {
        delete set;
        return nullptr;
    }
    return set;
}

// ---- Wrappers ----

int32_t SiSelInitSet(SISEL** set, uint32_t n)
{
    if (set == nullptr)
        return SI_EINVAL;
    *set = nullptr;
    SISEL* s = SiSelCreateSet(nullptr);
    if (s == nullptr)
        return SI_EMEMORY;
    const int32_t rc = s->Init(n);
    if (rc != SI_OK)
        delete s;
    else
        *set = s;
    return rc;
}

int32_t SiSelDestroySet(SISEL** set)
{
    if (set == nullptr)
        return SI_OK;
    SISEL* s = *set;
    *set = nullptr;
    delete s;
    return SI_OK;
}

int32_t SiSelSet(SISEL* set, SI_SOCK* sock, uint8_t mode, void* data)
{
    return set ? set->Set(sock, mode, data, 0) : SI_EINVAL;
}
int32_t SiSelSetExact(SISEL* set, SI_SOCK* sock, uint8_t mode, void* data)
{
    return set ? set->Set(sock, mode, data, 1) : SI_EINVAL;
}
int32_t SiSelClear(SISEL* set, SI_SOCK* sock, uint8_t mode)
{
    return set ? set->Clear(sock, mode) : SI_EINVAL;
}
int32_t SiSelClearSet(SISEL* set)
{
    return set ? set->ClearSet() : SI_EINVAL;
}
int32_t SiSelRemove(SISEL* set, SI_SOCK* sock)
{
    return set ? set->Remove(sock, 1) : SI_EINVAL;
}
int32_t SiSelRemoveAll(SISEL* set)
{
    return set ? set->RemoveAll() : SI_EINVAL;
}
int32_t SiSelSelect(SISEL* set, int32_t timeoutMs, uint32_t* nSelected)
{
    return set ? set->Select(timeoutMs, nSelected) : SI_EINVAL;
}
int32_t SiSelStartLoop(SISEL* set)
{
    return set ? set->StartLoop() : SI_EINVAL;
}
int32_t SiSelNext(SISEL* set, uint8_t* read, uint8_t* readPri, uint8_t* write, SI_SOCK** sock, void** data)
{
    return set ? set->Next(read, readPri, write, sock, data) : SI_EINVAL;
}
int32_t SiSelGetMode(SISEL* set, SI_SOCK* sock, uint8_t* mode)
{
    return set ? set->GetMode(sock, mode) : SI_EINVAL;
}
int32_t SiSelGetStat(SISEL* set, SI_SOCK* sock, uint8_t* stat)
{
    return set ? set->GetStat(sock, stat) : SI_EINVAL;
}
uint32_t SiSelGetMaxEntries(SISEL* set)
{
    return set ? set->GetMaxEntries() : 0;
}
uint8_t SiSelIsMember(SISEL* set, SI_SOCK* sock)
{
    return set ? set->IsMember(sock) : 0;
}
int32_t SiSelGetData(SISEL* set, SI_SOCK* sock, void** data)
{
    return set ? set->GetData(sock, data) : SI_EINVAL;
}
int32_t SiSelSetData(SISEL* set, SI_SOCK* sock, void* data)
{
    return set ? set->SetData(sock, data) : SI_EINVAL;
}
int32_t SiSelDump(SISEL* set, FILE* stream)
{
    return set ? set->Dump(stream) : SI_EINVAL;
}

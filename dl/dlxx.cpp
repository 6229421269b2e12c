// Path-keyed layer over the handle table: one load per path, an entry
// function called on every load, and a reference count per path.
#include <cstring>

#include "dl/dltrace.h"
#include "dl/dlux.h"
#include "nls/kovstr.h"

namespace {

constexpr const char* kModule = "dlxx";

struct PathEntry {
    int32_t refs = 0;  // 0: entry free
    DL_HDL hdl = DL_NO_HDL;
    char path[DLXX_PATH_MAX + 1] = {};
};

PathEntry g_paths[DLXX_MAX_LIBS];

PathEntry* FindLoaded(const char* path)
{
    for (auto& e : g_paths)
        if (e.refs != 0 && std::strcmp(e.path, path) == 0)
            return &e;
    return nullptr;
}

// Undoes a load that brought no reference.
void Release(PathEntry& e)
{
    DlUnloadLib(&e.hdl);
    e = PathEntry{};
}

}  // namespace

void* DlxxLoadAndCall(const char* symbol, const char* path)
{
    if (symbol == nullptr || path == nullptr)
        return nullptr;
    PathEntry* e = FindLoaded(path);
    if (e == nullptr) {
        for (auto& candidate : g_paths) {
            if (candidate.refs == 0) {
                e = &candidate;
                break;
            }
        }
        if (e == nullptr) {
            DL_TRACE(kModule, 1, DpTrcErr, "DlLoadLib: no free handle (max %d)\n", DLXX_MAX_LIBS);
            return nullptr;
        }
        if (strnlenR(path, DLXX_PATH_MAX + 1) > DLXX_PATH_MAX) {
            DL_TRACE(kModule, 1, DpTrcErr, "DlLoadLib: path too long (max %d)\n", DLXX_PATH_MAX + 1);
            return nullptr;
        }
        if (DlLoadLib(path, &e->hdl) != DL_OK)
            return nullptr;
        strcpy_sR(e->path, sizeof e->path, path);
    }
    DL_FUNC f = nullptr;
    if (DlLoadFunc(e->hdl, symbol, nullptr, &f) != DL_OK || f == nullptr) {
        if (e->refs == 0)
            Release(*e);
        return nullptr;
    }
    void* result = reinterpret_cast<void* (*)()>(f)();
    if (result == nullptr && e->refs == 0) {
        Release(*e);
        return nullptr;
    }
    ++e->refs;
    return result;
}

int DlxxUnload(const char* path)
{
    PathEntry* e = path ? FindLoaded(path) : nullptr;
    if (e == nullptr)
        return DLEUNLOAD;
    if (--e->refs > 0)
        return DL_OK;
    const int rc = DlUnloadLib(&e->hdl);
    e->refs = 0;  // the entry is given up even when the close failed
    e->hdl = DL_NO_HDL;
    e->path[0] = '\0';
    return rc;
}

int DlxxMapRc(int value)
{
    return value != 0 ? DLEMAPPED : DL_OK;
}

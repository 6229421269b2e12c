// Handle table over dlopen, dlsym and dlclose.
#include "dl/dlux.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstring>

#include "nls/kovstr.h"
#include "dl/dltrace.h"
#include "trace/errinfo.h"

namespace {

constexpr const char* kModule = "dlux";
constexpr const char* kComponent = "DL (Dynamic Loader)";
constexpr int kComponentVersion = 4;

enum : uint8_t { kFree = 1, kLoaded = 2 };

struct Entry {
    uint8_t state = kFree;
    char path[DL_PATH_MAX + 1] = {};  // as given, for traces
    void* lib = nullptr;
};

Entry g_table[DL_MAX_LIBS];

Entry* LoadedEntry(DL_HDL hdl)
{
    if (hdl < 0 || hdl >= DL_MAX_LIBS || g_table[hdl].state != kLoaded)
        return nullptr;
    return &g_table[hdl];
}

// The open failed: trace it and record it in the error information.
int OpenFailed(const char* path, int err)
{
    const char* platform = dlerror();
    char errnoPart[160] = "";
    if (err != 0) {
        if (platform != nullptr)
            snprintfTruncR(errnoPart, sizeof errnoPart, " (errno=%d,%.120s)", err, ErrErrnoText(err));
        else
            snprintfTruncR(errnoPart, sizeof errnoPart, "errno=%d, %.120s", err, ErrErrnoText(err));
    }
    char text[512];
    snprintfTruncR(text, sizeof text, "%.30s(\"%.120s\") FAILED\n  \"%.200s\" %.80s", "dlopen", path,
                   platform ? platform : "<unknown error>", errnoPart);
    DL_TRACE(kModule, 1, DpTrcErr, "%s - %s\n", "DlLoadLib()==DLENOACCESS", text);
    ErrQuotePercent(text, text, sizeof text);
    ErrSet(kComponent, kComponentVersion, kModule, __LINE__, "DlLoadLib()==DLENOACCESS", DLENOACCESS, text);
    return DLENOACCESS;
}

}  // namespace

int DlLoadLib(const char* path, DL_HDL* hdl)
{
    if (hdl == nullptr)
        return DLEINVAL;
    *hdl = DL_NO_HDL;
    if (path == nullptr)
        return DLEINVAL;  // dlopen would hand out the program itself
    DL_HDL free = 0;
    while (free < DL_MAX_LIBS && g_table[free].state != kFree)
        ++free;
    if (free == DL_MAX_LIBS) {
        DL_TRACE(kModule, 1, DpTrcErr, "%s: no free handle (max %d)\n", "DlLoadLib", DL_MAX_LIBS);
        return DLENOHANDLE;
    }
    // A path the table cannot hold whole is refused, never cut and loaded.
    if (strnlenR(path, DL_PATH_MAX + 1) > DL_PATH_MAX) {
        DL_TRACE(kModule, 1, DpTrcErr, "%s: path too long (max %d)\n", "DlLoadLib", DL_PATH_MAX + 1);
        return DLEINVAL;
    }
    errno = 0;
    void* lib = dlopen(path, RTLD_LAZY);
    if (lib == nullptr)
        return OpenFailed(path, errno);
    Entry& e = g_table[free];
    e.state = kLoaded;
    strcpy_sR(e.path, sizeof e.path, path);
    e.lib = lib;
    *hdl = free;
    DL_TRACE(kModule, 3, DpTrc, "%s() success: %s(\"%.256s\"), hdl %d\n", "DlLoadLib", "dlopen", path, free);
    return DL_OK;
}

int DlLoadFunc(DL_HDL hdl, const char* symbol, void* /*reserved*/, DL_FUNC* func)
{
    Entry* e = LoadedEntry(hdl);
    if (e == nullptr) {
        DL_TRACE(kModule, 1, DpTrcErr, "DlLoadFunc: invalid handle (%d)\n", hdl);
        return DLEINVAL;
    }
    if (symbol == nullptr || func == nullptr)
        return DLEINVAL;
    dlerror();  // a symbol may have the value NULL: only dlerror tells failure
    void* p = dlsym(e->lib, symbol);
    if (const char* err = dlerror()) {
        DL_TRACE(kModule, 3, DpTrc, "DlLoadFunc: dlsym(%.128s)= %.512s -> DLENOACCESS\n", symbol, err);
        return DLENOACCESS;
    }
    *func = reinterpret_cast<DL_FUNC>(p);
    DL_TRACE(kModule, 3, DpTrc, "DlLoadFunc (%s) from %s\n", symbol, e->path);
    return DL_OK;
}

int DlUnloadLib(DL_HDL* hdl)
{
    Entry* e = hdl ? LoadedEntry(*hdl) : nullptr;
    if (e == nullptr) {
        DL_TRACE(kModule, 1, DpTrcErr, "DlUnloadLib: invalid handle (%d)\n", hdl ? *hdl : DL_NO_HDL);
        return DLEINVAL;
    }
    if (dlclose(e->lib) != 0) {
        const char* err = dlerror();
        DL_TRACE(kModule, 1, DpTrcErr, "DlUnloadLib: dlclose(\"%.256s\"), hdl %d failed:\n    %.512s\n", e->path, *hdl,
                 err ? err : "");
        return DLEUNLOAD;
    }
    DL_TRACE(kModule, 3, DpTrc, "DlUnloadLib shared library (\"%.256s\"), hdl %d\n", e->path, *hdl);
    e->state = kFree;
    e->path[0] = '\0';
    e->lib = nullptr;
    *hdl = DL_NO_HDL;
    return DL_OK;
}

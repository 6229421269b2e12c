// Trace state: the exported globals, the lock hooks, the source location,
// handle resolution and the small accessors.
#include <sys/time.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "nls/kovstr.h"
#include "trace/ctrc_adm.h"

int32_t ct_level = 0;
DpTrcHdl tf = nullptr;
int32_t EntLev = 2;
char savloc[32] = "";
DpTrcOutputFunc output_func = nullptr;
void* output_info = nullptr;
FILE* output_stream = nullptr;
DpTrcContextInfoFunc contextinfo_hook_func = nullptr;
void* contextinfo_hook_ctx = nullptr;
uint8_t dpTrcHidingActive = 1;
int32_t ct_log_level = 3;
int32_t ct_time_res = 1;

CTrcComp ctrcadm[CTRC_MAX_COMPS];
int next_free_comp = 1;
FILE* ctrc_default_file = nullptr;
CTrcAdm ctrc_static_adm = {nullptr, 0, CTRC_UNSET, CTRC_UNSET, -1, CTRC_UNSET};
bool ctrc_thr_filter = false;

namespace {

DpTrcLockAcquireHook g_acquire = nullptr;
DpTrcLockReleaseHook g_release = nullptr;
int g_inLock = 0;
void (*g_clock)(struct timeval*) = nullptr;
char g_msg[DPTRC_LINE];  // the layer's own messages while an output function is set

}  // namespace

void DpTrcLockAcquire()
{
    if (g_acquire)
        g_acquire("DpTrcLock");
    g_inLock = 1;
}

int DpTrcLockRelease()
{
    const int rc = g_release ? g_release() : 0;
    g_inLock = 0;
    return rc;
}

void DpTrcSetLockHooks(DpTrcLockAcquireHook acquire, DpTrcLockReleaseHook release)
{
    g_acquire = acquire;
    g_release = release;
}

int DpTrcIsLocked()
{
    return g_inLock;
}

void DpTrcSaveLoc(const char* file, int line)
{
    const char* base = file ? file : "";
    if (const char* slash = std::strrchr(base, '/'))
        base = slash + 1;
    snprintfTruncR(savloc, sizeof savloc, "%-12.12s%d", base, line);
}

int CTrcSetOutputFunc(DpTrcOutputFunc func, void* info)
{
    output_func = func;
    output_info = info;
    output_stream = stderr;
    return 0;
}

int CTrcSetInfoOutputFunc(DpTrcContextInfoFunc func, void* ctx, int option)
{
    if (option != 0) {
        CTrcMsg(ctrc_default_file ? ctrc_default_file : stderr, "CTrcSetInfoOutputFunc: option %d not supported.\n",
                option);
        return 1;
    }
    contextinfo_hook_func = func;
    contextinfo_hook_ctx = ctx;
    return 0;
}

void DpTrcSetLevel(int32_t level)
{
    ct_level = level;
}

int32_t DpTrcGetLevel()
{
    return ct_level;
}

DpTrcHdl DpTrcGetTf()
{
    return tf;
}

void DpTrcSetTf(DpTrcHdl hdl)
{
    DpTrcLockAcquire();
    tf = hdl;
    DpTrcLockRelease();
}

DpTrcOutputFunc DpTrcGetOutputFunc()
{
    return output_func;
}

void DpTrcSetHiding(uint8_t on)
{
    dpTrcHidingActive = on;
}

void DpTrcLevelFilterOff()
{
    ctrc_thr_filter = false;
}

bool CTrcResolve(DpTrcHdl hdl, CTrcResolved* r)
{
    *r = CTrcResolved{stderr, 0, 0, 0, nullptr, nullptr};
    if (!hdl)
        return true;
    const auto* p = static_cast<const char*>(hdl);
    const auto* lo = reinterpret_cast<const char*>(&ctrcadm[0]);
    const auto* hi = reinterpret_cast<const char*>(&ctrcadm[CTRC_MAX_COMPS]);
    if (p < lo || p >= hi) {
        r->stream = static_cast<FILE*>(hdl);
        return true;
    }
    const long idx = (p - lo) / static_cast<long>(sizeof(CTrcComp));
    if (idx < 1 || idx >= next_free_comp || p != reinterpret_cast<const char*>(&ctrcadm[idx])) {
        CTrcMsg(ctrc_default_file ? ctrc_default_file : stderr,
                "ERROR => CTRC_IS_HANDLE2 != CTRC_IS_HANDLE\n"
                "         hdl                      =%p\n"
                "         ctrcadm                  =%p\n"
                "         next_free_comp           =%d\n"
                "         ctrcadm + next_free_comp =%p\n",
                hdl, static_cast<void*>(ctrcadm), next_free_comp,
                static_cast<void*>(&ctrcadm[next_free_comp < CTRC_MAX_COMPS ? next_free_comp : 0]));
        return false;
    }
    CTrcComp* c = &ctrcadm[idx];
    r->comp = c;
    r->letter = c->letter;
    r->level = c->level;
    r->depth = c->depth;
    r->adm = c->adm ? c->adm : &ctrc_static_adm;
    if (r->adm->stream)
        r->stream = r->adm->stream;
    else if (ctrc_default_file)
        r->stream = ctrc_default_file;
    return true;
}

FILE* CTrcGetFile(DpTrcHdl hdl)
{
    CTrcResolved r;
    return CTrcResolve(hdl, &r) ? r.stream : stderr;
}

int CTrcGetHdlLevel(DpTrcHdl hdl)
{
    CTrcResolved r;
    if (!CTrcResolve(hdl, &r) || !r.comp)
        return 3;
    return r.level;
}

int CTrcGetHdlInfo(DpTrcHdl hdl, FILE** stream, char* letter, int* level)
{
    CTrcResolved r;
    if (!CTrcResolve(hdl, &r))
        r = CTrcResolved{stderr, 0, 0, 0, nullptr, nullptr};
    const int lv = r.comp ? r.level : 3;
    if (stream)
        *stream = r.stream;
    if (letter)
        *letter = r.letter;
    if (level)
        *level = lv;
    return lv;
}

void CTrcOut(FILE* f, const char* s, size_t n)
{
    if (n == 0)
        return;
    if (output_func) {
        output_func(s, static_cast<int>(n), output_info);
        return;
    }
    std::fwrite(s, 1, n, f ? f : stderr);
}

void CTrcMsg(FILE* f, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    if (output_func) {
        const int32_t n = vsnprintfTruncR(g_msg, sizeof g_msg, fmt, ap);
        output_func(g_msg,
                    n < static_cast<int32_t>(sizeof g_msg) ? n : static_cast<int32_t>(strnlenR(g_msg, sizeof g_msg)),
                    output_info);
    } else {
        FILE* s = f ? f : stderr;
        std::vfprintf(s, fmt, ap);
        std::fflush(s);
    }
    va_end(ap);
}

void CTrcClock(struct timeval* tv)
{
    if (g_clock)
        g_clock(tv);
    else
        gettimeofday(tv, nullptr);
}

void CTrcSetClock(void (*clock)(struct timeval* tv))
{
    g_clock = clock;
}

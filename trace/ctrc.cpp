// Trace files, components and handles.
#include "trace/ctrc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "nls/kovcase.h"
#include "nls/kovstr.h"
#include "trace/ctrc_adm.h"

namespace {

bool g_initialised = false;
bool g_lastComp = false;
const char kRule[] = "---------------------------------------------------\n";

// An error line of this module on the default trace file, from level 1 on.
// The text is the line's format, so that the writer drops a final newline
// before it adds the location.
__attribute__((format(printf, 2, 3))) void ErrorLine(int line, const char* fmt, ...)
{
    if (ct_level < 1)
        return;
    va_list ap;
    va_start(ap, fmt);
    DpTrcLockAcquire();
    DpTrcSaveLoc("ctrc", line);
    DpTrcErrV(ctrc_default_file, fmt, ap);
    DpTrcLockRelease();
    va_end(ap);
}

CTrcComp* Comp(DpTrcHdl hdl)
{
    CTrcResolved r;
    if (!hdl || !CTrcResolve(hdl, &r) || !r.comp)
        return nullptr;
    return r.comp;
}

void Header(FILE* f, const char* path)
{
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    char text[600];
    const int32_t n = snprintfTruncR(text, sizeof text, "\n%strc file: \"%s\", trc level: %d, release: \"%s\"\n%s",
                                     kRule, base, ct_level, "720", kRule);
    CTrcOut(f, text, static_cast<size_t>(n));
    if (!output_func)
        std::fflush(f);
}

// open(2) flags for an fopen mode.
int OpenFlags(const char* mode)
{
    const bool plus = std::strchr(mode, '+') != nullptr;
    switch (mode[0]) {
    case 'w':
        return (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    case 'a':
        return (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    default:
        return plus ? O_RDWR : O_RDONLY;
    }
}

CTrcAdm* NewAdm()
{
    auto* a = static_cast<CTrcAdm*>(std::malloc(sizeof(CTrcAdm)));
    if (!a) {
        CTrcMsg(ctrc_default_file, "CTrcIGetThrAdm: malloc failed\n");
        return nullptr;
    }
    *a = CTrcAdm{nullptr, ctrc_static_adm.level, CTRC_UNSET, CTRC_UNSET, -1, CTRC_UNSET};
    return a;
}

void CallHook(CTrcComp& c)
{
    if (!c.hook)
        return;
    if (ct_level > 1) {
        DpTrcLockAcquire();
        DpTrcSaveLoc("ctrc", __LINE__);
        DpTrc(tf, "Calling hook function for component '%c'\n", c.letter);
        DpTrcLockRelease();
    }
    c.hook(c.level < ct_level ? c.level : ct_level);
}

int RegisterComp(char letter, DpTrcHdl* out, CTrcHook hook, bool last)
{
    if (g_lastComp) {
        ErrorLine(__LINE__, "CTrcNewComp called after CTrcLastComp");
        if (out)
            *out = nullptr;
        return -1;
    }
    g_lastComp = last;
    if (!ctrc_default_file || !g_initialised) {
        std::fprintf(stderr, "*** ERROR => CTrcNewComp: not initialized\n");
        if (out)
            *out = stderr;
        return -1;
    }
    if (next_free_comp > CTRC_MAX_COMPS - 1) {
        std::fprintf(stderr, "*** ERROR => CTrcNewComp: too many comps\n");
        if (out)
            *out = stderr;
        return -1;
    }
    CTrcComp& c = ctrcadm[next_free_comp];
    c.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    c.adm = NewAdm();
    c.depth = 0;
    c.level = c.letter == 'M' ? 3 : 1;
    c.hook = hook;
    ++next_free_comp;
    if (out)
        *out = &c;
    CallHook(c);
    return 0;
}

void ReportBadHandle(const char* what, DpTrcHdl hdl)
{
    if (ct_level < 1 || !ctrc_default_file)
        return;
    (void)hdl;
    DpTrcLockAcquire();
    const int32_t saved = EntLev;
    EntLev = 1;
    DpTrc(ctrc_default_file, "%s", what);
    EntLev = saved;
    DpTrcLockRelease();
}

}  // namespace

FILE* CTrcOpen(const char* path, const char* mode)
{
    g_initialised = true;
    CTrcResetStamps();
    if (!path)
        return output_func ? output_stream : stderr;
    if (output_func) {
        if (ct_level >= 2)
            Header(output_stream, path);
        return output_stream;
    }
    const char* m = mode && *mode ? mode : "a";
    const mode_t old = umask(0133);
    const int fd = open(path, OpenFlags(m) | O_NOFOLLOW | O_CLOEXEC, 0644);
    umask(old);
    FILE* f = fd >= 0 ? fdopen(fd, m) : nullptr;
    if (!f) {
        if (fd >= 0)
            close(fd);
        std::fprintf(stderr, "*** ERROR => CTrcOpen: fopen %s\n", path);
        f = stderr;
    }
    Header(f, path);
    return f;
}

FILE* CTrcInitFile(const char* path, int mode, int level)
{
    g_initialised = true;
    const bool first = ctrc_default_file == nullptr;
    if (first)
        ct_level = level;
    FILE* f = CTrcOpen(path, mode == 1 ? "w" : "a");
    if (first)
        ctrc_default_file = f;
    return f;
}

FILE* CTrcInit(FILE* stream, int level)
{
    g_initialised = true;
    ct_level = level;
    if (!ctrc_default_file)
        ctrc_default_file = stream;
    return stream;
}

DpTrcHdl CTrcOpenHdl(const char* path, const char* mode, int level)
{
    g_initialised = true;
    if (next_free_comp > CTRC_MAX_COMPS - 1) {
        std::fprintf(stderr, "*** ERROR => CTrcNewComp: too many comps\n");
        return nullptr;
    }
    auto* a = static_cast<CTrcAdm*>(std::malloc(sizeof(CTrcAdm)));
    if (!a)
        return nullptr;
    *a = CTrcAdm{CTrcOpen(path, mode), 0x7FFFFFFF, 0, 0, 0, 0};
    CTrcComp& c = ctrcadm[next_free_comp++];
    c = CTrcComp{0, level, 0, nullptr, a};
    return &c;
}

int CTrcNewComp(char letter, DpTrcHdl* out, CTrcHook hook)
{
    return RegisterComp(letter, out, hook, false);
}

int CTrcLastComp(char letter, DpTrcHdl* out, CTrcHook hook)
{
    return RegisterComp(letter, out, hook, true);
}

int CTrcCallHooks(DpTrcHdl entry)
{
    if (entry) {
        if (CTrcComp* c = Comp(entry))
            CallHook(*c);
        return 0;
    }
    for (int i = 1; i < next_free_comp; ++i)
        CallHook(ctrcadm[i]);
    return 0;
}

int CTrcSetParam(DpTrcHdl hdl, int param, const void* value)
{
    CTrcComp* c = Comp(hdl);
    const bool isDefault = hdl && hdl == ctrc_default_file;
    if (!c && !isDefault)
        return -1;
    switch (param) {
    case CTP_TRCLEVEL: {
        const int level = *static_cast<const int*>(value);
        if (ct_level > 0) {
            DpTrcLockAcquire();
            const int32_t saved = EntLev;
            EntLev = 1;
            DpTrc(hdl, "*\n");
            DpTrc(hdl, "* SWITCH TRC-LEVEL to %d\n", level);
            DpTrc(hdl, "*\n");
            EntLev = saved;
            DpTrcLockRelease();
        }
        if (c) {
            c->level = level;
            CallHook(*c);
        } else {
            ct_level = level;
            CTrcCallHooks(nullptr);
        }
        return 0;
    }
    case CTP_FILEPTR:
        if (ct_level >= 1)
            CTrcMsg(ctrc_default_file, "CTrcSetParam: cannot set the filepointer.\n");
        return -1;
    case CTP_HOOKFUNC:
        if (c) {
            c->hook = *static_cast<const CTrcHook*>(value);
            CallHook(*c);
            return 0;
        }
        ErrorLine(__LINE__, "CTrcSetParam: Wrong handle\n");
        return -1;
    default:
        return -1;
    }
}

int CTrcGetParam(DpTrcHdl hdl, int param, void* out)
{
    if (!ctrc_default_file)
        return -1;
    CTrcComp* c = Comp(hdl);
    switch (param) {
    case CTP_TRCLEVEL:
        *static_cast<int*>(out) = c ? (c->level < ct_level ? c->level : ct_level) : ct_level;
        return 0;
    case CTP_FILEPTR:
        *static_cast<FILE**>(out) = c && c->adm && c->adm->stream ? c->adm->stream : ctrc_default_file;
        return 0;
    case CTP_HOOKFUNC:
        if (c) {
            *static_cast<CTrcHook*>(out) = c->hook;
            return 0;
        }
        ErrorLine(__LINE__, "CTrcGetParam: Wrong handle for CTP_HOOKFUNC\n");
        return -1;
    default:
        return -1;
    }
}

int CTrcCompsText(char* buf, int size)
{
    if (!buf || size < 1)
        return -1;
    if (size < 2001) {
        snprintfTruncR(buf, static_cast<size_t>(size), "%s", "illegal parameter");
        return -1;
    }
    int atOne = 0, above = 0;
    for (int i = 1; i < next_free_comp; ++i) {
        if (ctrcadm[i].letter == 0)
            continue;  // private file handles are no components
        if (ctrcadm[i].level == 1)
            ++atOne;
        else if (ctrcadm[i].level >= 2)
            ++above;
    }
    int named = 0;
    for (int i = 1; i < next_free_comp; ++i)
        named += ctrcadm[i].letter != 0;
    size_t n = 0;
    const size_t cap = static_cast<size_t>(size) - 1;
    auto put = [&](char c) {
        if (n < cap)
            buf[n++] = c;
    };
    auto puts = [&](const char* s) {
        for (; *s; ++s)
            put(*s);
    };
    const bool allActive = named > 0 && atOne + above == named;
    if (allActive && above == 0) {
        puts("all");
    } else if (allActive && atOne == 0) {
        puts("All");
    } else if (allActive) {
        const bool lowerList = atOne <= above;
        puts(lowerList ? "All, " : "all, ");
        for (int i = 1; i < next_free_comp; ++i) {
            const CTrcComp& c = ctrcadm[i];
            if (!c.letter)
                continue;
            if (lowerList && c.level == 1)
                put(static_cast<char>(std::tolower(static_cast<unsigned char>(c.letter))));
            else if (!lowerList && c.level >= 2)
                put(c.letter);
        }
    } else {
        for (int i = 1; i < next_free_comp; ++i) {
            const CTrcComp& c = ctrcadm[i];
            if (!c.letter || c.level <= 0)
                continue;
            put(c.level == 1 ? static_cast<char>(std::tolower(static_cast<unsigned char>(c.letter))) : c.letter);
        }
    }
    buf[n] = '\0';
    return 0;
}

int CTrcWriteActive()
{
    if (!ctrc_default_file)
        return -1;
    char comps[2001];
    CTrcCompsText(comps, sizeof comps);
    CTrcMsg(ctrc_default_file, "*\n*  ACTIVE TRACE LEVEL           %d\n", ct_level);
    CTrcMsg(ctrc_default_file, "*  ACTIVE TRACE COMPONENTS      %s\n*\n", comps);
    return 0;
}

int CTrcSetComps(const char* text, int mode, int level, char* oldText, int* oldLevel)
{
    if (!ctrc_default_file || !g_initialised)
        return -1;
    if (oldText)
        CTrcCompsText(oldText, 2001);
    if (oldLevel)
        *oldLevel = ct_level;
    const bool up = (mode & 0x80) != 0;
    int m = mode & 0x7F;
    const int upperLevel = up ? level : 3;
    const char* t = text;
    if (t && (std::strncmp(t, "All", 3) == 0 || std::strncmp(t, "all", 3) == 0)) {
        if (m != 3)
            return -1;
        const int v = t[0] == 'A' ? upperLevel : 1;
        for (int i = 1; i < next_free_comp; ++i)
            if (ctrcadm[i].letter)
                ctrcadm[i].level = v;
        t += 3;
        m = 1;
    }
    if (t) {
        for (int i = 1; i < next_free_comp; ++i) {
            CTrcComp& c = ctrcadm[i];
            if (!c.letter)
                continue;
            const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c.letter)));
            if (std::strchr(t, lower))
                c.level = m == 2 ? 0 : 1;
            else if (!std::strchr(t, c.letter)) {
                if (m == 3)
                    c.level = 0;
            } else {
                c.level = m == 2 ? 1 : upperLevel;
            }
        }
    }
    int newLevel = level;
    if (up && text) {
        newLevel = 0;
        for (int i = 1; i < next_free_comp; ++i)
            if (ctrcadm[i].letter && ctrcadm[i].level > newLevel)
                newLevel = ctrcadm[i].level;
    }
    if (newLevel >= 0)
        ct_level = newLevel;
    if (text || level >= 0)
        CTrcWriteActive();
    CTrcCallHooks(nullptr);
    return 0;
}

int CTrcThrClose(DpTrcHdl hdl)
{
    CTrcComp* c = Comp(hdl);
    if (!c) {
        ReportBadHandle("CTrcThrClose: wrong handle\n", hdl);
        return -1;
    }
    if (!c->adm || !c->adm->stream) {
        ReportBadHandle("CTrcThrClose: illegal handle\n", hdl);
        return -1;
    }
    if (c->adm->stream != stderr && !output_func)
        std::fclose(c->adm->stream);
    if (tf == c->adm->stream)
        tf = nullptr;
    c->adm->stream = nullptr;
    c->adm->lastStamp = c->adm->lastFineSec = c->adm->lastSizeCheck = CTRC_UNSET;
    return 0;
}

int CTrcThrSetLevel(DpTrcHdl hdl, int level)
{
    CTrcComp* c = Comp(hdl);
    if (!c) {
        ReportBadHandle("CTrcThrClose: wrong handle\n", hdl);
        return -1;
    }
    if (!c->adm) {
        ReportBadHandle("CTrcThrClose: illegal handle\n", hdl);
        return -1;
    }
    c->adm->level = level;
    ctrc_thr_filter = true;
    return 0;
}

int CTrcThrGetLevel(DpTrcHdl hdl)
{
    CTrcComp* c = Comp(hdl);
    if (!c) {
        ReportBadHandle("CTrcThrClose: wrong handle\n", hdl);
        return -1;
    }
    if (!c->adm) {
        ReportBadHandle("CTrcThrClose: illegal handle\n", hdl);
        return -1;
    }
    return ctrc_thr_filter ? c->adm->level : 0x7FFFFFFF;
}

int CTrcClose(DpTrcHdl hdl)
{
    CTrcResolved r;
    if (!CTrcResolve(hdl, &r))
        return 0;
    FILE* f = r.stream;
    if (r.comp && r.comp->adm && r.comp->adm != &ctrc_static_adm) {
        std::free(r.comp->adm);
        r.comp->adm = nullptr;
    }
    if (f && f == ctrc_default_file) {
        ctrc_default_file = nullptr;
        // The table starts afresh: release the records of its entries.
        for (int i = 1; i < next_free_comp; ++i) {
            if (ctrcadm[i].adm && ctrcadm[i].adm != &ctrc_static_adm)
                std::free(ctrcadm[i].adm);
            ctrcadm[i] = CTrcComp{};
        }
        next_free_comp = 1;
        g_lastComp = false;
    }
    // The default trace handle must not keep pointing at a closed stream.
    if (tf == hdl || tf == f)
        tf = nullptr;
    if (f && f != stderr && !output_func)
        std::fclose(f);
    return 0;
}

int CTrcResetFile(DpTrcHdl hdl)
{
    FILE* f = CTrcGetFile(hdl);
    if (!f || f == stderr || output_func)
        return 0;
    std::rewind(f);
    return ftruncate(fileno(f), 0) == 0 ? 0 : -1;
}

int CTrcWriteSysInfo(DpTrcHdl hdl, int release, int patchLevel, int patchNo, int intNo, const char* sysNo,
                     const char* sysId, const char* profile)
{
    CTrcResolved r;
    if (!CTrcResolve(hdl, &r) || (r.comp && r.level < EntLev))
        return -1;
    char p[3] = "";
    if (r.comp) {
        p[0] = r.letter;
        p[1] = ' ';
        p[2] = '\0';
    }
    FILE* f = r.stream;
    if (sysNo)
        CTrcMsg(f, "%ssysno      %s\n", p, sysNo);
    if (sysId)
        CTrcMsg(f, "%ssid        %s\n", p, sysId);
    CTrcMsg(f, "%ssystemid   %d (%s)\n", p, 390, "AMD/Intel x86_64 with Linux");
    CTrcMsg(f, "%srelno      %d\n", p, release);
    CTrcMsg(f, "%spatchlevel %d\n", p, patchLevel);
    CTrcMsg(f, "%spatchno    %d\n", p, patchNo);
    CTrcMsg(f, "%sintno      %d\n", p, intNo);
    CTrcMsg(f, "%smake       %s, %s%s, %s%s\n", p, "single threaded", "ASCII", ", 64 bit", "optimized", "");
    if (profile)
        CTrcMsg(f, "%sprofile    %s\n", p, profile);
    CTrcMsg(f, "%spid        %d\n", p, static_cast<int>(getpid()));
    CTrcMsg(f, "%s\n", p);
    return 0;
}

int CTrcWriteSysInfoNoProfile(DpTrcHdl hdl, int release, int patchLevel, int patchNo, int intNo, const char* sysNo,
                              const char* sysId)
{
    return CTrcWriteSysInfo(hdl, release, patchLevel, patchNo, intNo, sysNo, sysId, nullptr);
}

int CTrcWriteSysInfoShort(DpTrcHdl hdl, int release, int patchLevel, int patchNo, int intNo)
{
    return CTrcWriteSysInfo(hdl, release, patchLevel, patchNo, intNo, nullptr, nullptr, nullptr);
}

void CTrcSetDepthAll(int depth)
{
    DpTrcLockAcquire();
    for (int i = 1; i < next_free_comp; ++i)
        ctrcadm[i].depth = depth < 0 ? 0 : depth;
    DpTrcLockRelease();
}

void CTrcAddDepthAll(int amount)
{
    DpTrcLockAcquire();
    for (int i = 1; i < next_free_comp; ++i) {
        const int d = ctrcadm[i].depth + amount;
        ctrcadm[i].depth = d < 0 ? 0 : d;
    }
    DpTrcLockRelease();
}

void CTrcSetDepth(DpTrcHdl hdl, int depth)
{
    DpTrcLockAcquire();
    const auto* p = static_cast<CTrcComp*>(hdl);
    if (p >= &ctrcadm[1] && p < &ctrcadm[next_free_comp])
        ctrcadm[p - ctrcadm].depth = depth < 0 ? 0 : depth;
    DpTrcLockRelease();
}

void CTrcAddDepth(DpTrcHdl hdl, int amount)
{
    DpTrcLockAcquire();
    const auto* p = static_cast<CTrcComp*>(hdl);
    if (p >= &ctrcadm[1] && p < &ctrcadm[next_free_comp]) {
        CTrcComp& c = ctrcadm[p - ctrcadm];
        const int d = c.depth + amount;
        c.depth = d < 0 ? 0 : d;
    }
    DpTrcLockRelease();
}

CTrcHook CTrcGetHookC()
{
    for (int i = 1; i < next_free_comp; ++i)
        if (ctrcadm[i].letter == 'C')
            return ctrcadm[i].hook;
    return nullptr;
}

int CTrcParseMaxFileSize(const char* text, CTrcMaxFileSize* setting)
{
    if (!text)
        return -1;
    char buf[129];
    strncpy_sR(buf, sizeof buf, text, 128);
    struprR(buf);
    char* ctx = nullptr;
    const char* word = strtok_sR(buf, ", ", &ctx);
    if (!word)
        return -1;
    CTrcMaxFileSize s{0, 0, 0};
    if (std::strcmp(word, "OFF") == 0) {
        if (setting)
            *setting = s;
        return 0;
    }
    if (std::strcmp(word, "ON") != 0)
        return -1;
    const char* num = strtok_sR(nullptr, ", ", &ctx);
    if (!num || !std::isdigit(static_cast<unsigned char>(*num)))
        return -1;
    int64_t value = 0;
    const char* p = num;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        if (value > (INT64_MAX - 9) / 10)
            return -1;
        value = value * 10 + (*p - '0');
    }
    const char* unit = *p ? p : strtok_sR(nullptr, ", ", &ctx);
    if (!unit || unit[1] != '\0' || (unit[0] != 'K' && unit[0] != 'M'))
        return -1;
    const int64_t factor = unit[0] == 'K' ? 1024 : 1048576;
    if (value > INT64_MAX / factor)
        return -1;  // the size in bytes would not fit
    s.on = 1;
    s.size = value * factor;
    if (const char* g = strtok_sR(nullptr, ", ", &ctx))
        s.global = std::strcmp(g, "GLOBAL=ON") == 0 ? 1 : 0;
    if (setting)
        *setting = s;
    return 0;
}

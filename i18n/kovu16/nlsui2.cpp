// 16-bit wrappers of the file, directory, dynamic-loading, time and process
// calls.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "i18n/kovu16/nlsui_conv.h"
#include "i18n/kovu16/nlsui_u16.h"
#include "i18n/kovu16/u16_diag.h"
#include "i18n/kovu16/u16_utf8.h"

namespace {

constexpr char kSource[] = "nlsui2.cpp";

// One path argument, converted or failed.  A null path fails with EFAULT,
// the system's answer to it, without handing the system a null pointer.
struct Path {
    char buf[MAX_PATH_LN];
    const char* arg = nullptr;
    bool ok;
    Path(const KOV_UTF16* src, const char* func, const char* name = "path")
        : ok(src != nullptr && nlsui_argument(buf, sizeof buf, src, arg, func, name, "MAX_PATH_LN"))
    {
        if (src == nullptr)
            errno = EFAULT;
    }
};

// At 16-bit trace level high an opened file is reported with the last 80
// units of its path, narrowed to their low bytes.
void trace_open(const char* func, const KOV_UTF16* path, int fd)
{
    if (u16_trace_level < U16_TRACE_HIGH || path == nullptr)
        return;
    char narrow[MAX_PATH_LN];
    size_t n = 0;
    for (; path[n] != 0 && n + 1 < sizeof narrow; ++n)
        narrow[n] = static_cast<char>(path[n] & 0xFF);
    narrow[n] = '\0';
    u16_reportFileName(narrow, fd, func, kSource, __LINE__);
}

// The UTF-8 copies of an argument vector, each in its own heap buffer.
class ArgVector {
public:
    ~ArgVector()
    {
        for (char* p : strings_)
            std::free(p);
    }
    bool add(const KOV_UTF16* s, const char* func)
    {
        if (s == nullptr) {
            ptrs_.push_back(nullptr);
            return true;
        }
        const size_t size = 3 * strlenU16(s) + 3;
        char* buf = static_cast<char*>(std::malloc(size));
        if (buf == nullptr) {
            u16_reportOutOfMemory(func, kSource, __LINE__);
            return false;
        }
        strings_.push_back(buf);
        U16ToUtf8Str(buf, s, size);
        ptrs_.push_back(buf);
        return true;
    }
    bool add_all(KOV_UTF16* const* v, const char* func)
    {
        for (; v != nullptr && *v != nullptr; ++v)
            if (!add(*v, func))
                return false;
        ptrs_.push_back(nullptr);
        return true;
    }
    char* const* get() { return ptrs_.data(); }

private:
    std::vector<char*> strings_;
    std::vector<char*> ptrs_;
};

// Collects a NULL-ended list of at most 63 arguments from ap.
bool collect_list(ArgVector& out, va_list* ap, const char* func, bool first_required)
{
    for (size_t i = 0;; ++i) {
        const KOV_UTF16* a = va_arg(*ap, const KOV_UTF16*);
        if (a == nullptr) {
            if (i == 0 && first_required) {
                errno = ENOENT;
                return false;
            }
            out.add(nullptr, func);
            return true;
        }
        if (i + 1 >= MAX_PARAM_NUMBER) {
            nlsui_reportTooSmall(kSource, __LINE__, func, "argv", "MAX_PARAM_NUMBER");
            return false;
        }
        if (!out.add(a, func))
            return false;
    }
}

}  // namespace

KOV_UTF16* getcwdU16(KOV_UTF16* buf, size_t size)
{
    if (buf == nullptr) {
        char* cwd = getcwd(nullptr, 3 * size);
        if (cwd == nullptr)
            return nullptr;
        auto* out = static_cast<KOV_UTF16*>(std::malloc(size * sizeof(KOV_UTF16)));
        if (out == nullptr) {
            std::free(cwd);
            u16_reportOutOfMemory("getcwdU16", kSource, __LINE__);
            return nullptr;
        }
        const long r = Utf8ToU16Str(out, cwd, size);
        std::free(cwd);
        if (r < 0 || static_cast<size_t>(r) >= size) {
            std::free(out);
            if (r >= 0)
                errno = ERANGE;
            return nullptr;
        }
        return out;
    }
    if (size == 0) {
        errno = EINVAL;
        return nullptr;
    }
    char local[MAX_PATH_LN];
    if (getcwd(local, 3 * size < sizeof local ? 3 * size : sizeof local) == nullptr)
        return nullptr;
    const long r = Utf8ToU16Str(buf, local, size);
    if (r < 0)
        return nullptr;
    if (static_cast<size_t>(r) >= size) {
        errno = ERANGE;
        return nullptr;
    }
    return buf;
}

KOV_UTF16* dlerrorU16()
{
    static KOV_UTF16 text[MAX_DB_ERROR_LN];
    const char* e = dlerror();
    if (e == nullptr)
        return nullptr;
    const long r = nlsui_utf8ToU16buf(text, e, MAX_DB_ERROR_LN, kSource, __LINE__, "dlerrorU16", "dlerror",
                                      "MAX_DB_ERROR_LN");
    return (r < 0 || static_cast<size_t>(r) >= MAX_DB_ERROR_LN) ? nullptr : text;
}

int mkdirU16(const KOV_UTF16* path, mode_t mode)
{
    Path p(path, "mkdirU16");
    return p.ok ? mkdir(p.arg, mode) : -1;
}

int chmodU16(const KOV_UTF16* path, mode_t mode)
{
    Path p(path, "chmodU16");
    return p.ok ? chmod(p.arg, mode) : -1;
}

int chdirU16(const KOV_UTF16* path)
{
    Path p(path, "chdirU16");
    return p.ok ? chdir(p.arg) : -1;
}

int accessU16(const KOV_UTF16* path, int mode)
{
    Path p(path, "accessU16");
    return p.ok ? access(p.arg, mode) : -1;
}

int removeU16(const KOV_UTF16* path)
{
    Path p(path, "removeU16");
    return p.ok ? remove(p.arg) : -1;
}

int renameU16(const KOV_UTF16* from, const KOV_UTF16* to)
{
    Path a(from, "renameU16", "from"), b(to, "renameU16", "to");
    return a.ok && b.ok ? rename(a.arg, b.arg) : -1;
}

DIR* opendirU16(const KOV_UTF16* path)
{
    Path p(path, "opendirU16");
    return p.ok ? opendir(p.arg) : nullptr;
}

int readdir_rU16(DIR* dir, direntU16* entry, direntU16** result)
{
    *result = nullptr;
    errno = 0;
    const struct dirent64* d = readdir64(dir);
    if (d == nullptr)
        return errno;
    entry->d_ino = d->d_ino;
    const long r = nlsui_utf8ToU16buf(entry->d_name, d->d_name, MAX_PATH_LN, kSource, __LINE__, "readdir_rU16",
                                      "d_name", "MAX_PATH_LN");
    if (r < 0 || static_cast<size_t>(r) >= MAX_PATH_LN)
        return errno;
    *result = entry;
    return 0;
}

direntU16* readdirU16(DIR* dir)
{
    static direntU16 entry;
    direntU16* result = nullptr;
    return readdir_rU16(dir, &entry, &result) == 0 ? result : nullptr;
}

FILE* fopenU16(const KOV_UTF16* path, const KOV_UTF16* mode)
{
    Path p(path, "fopenU16");
    char mbuf[MAX_MODE_LN];
    const char* m = nullptr;
    if (!p.ok || !nlsui_argument(mbuf, sizeof mbuf, mode, m, "fopenU16", "mode", "MAX_MODE_LN"))
        return nullptr;
    FILE* f = fopen64(p.arg, m);
    if (f != nullptr)
        trace_open("fopenU16", path, fileno(f));
    return f;
}

int openU16(const KOV_UTF16* path, int flags, mode_t mode)
{
    Path p(path, "openU16");
    if (!p.ok)
        return -1;
    const int fd = (flags & O_CREAT) != 0 ? open64(p.arg, flags, mode) : open64(p.arg, flags);
    if (fd >= 0)
        trace_open("openU16", path, fd);
    return fd;
}

int openU16v(const KOV_UTF16* path, int flags, ...)
{
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, int));
        va_end(ap);
    }
    return openU16(path, flags, mode);
}

void* dlopenU16(const KOV_UTF16* path, int flags)
{
    if (path == nullptr)
        return dlopen(nullptr, flags);  // the program itself
    Path p(path, "dlopenU16");
    return p.ok ? dlopen(p.arg, flags) : nullptr;
}

void* dlsymU16(void* handle, const KOV_UTF16* name)
{
    char buf[MAX_SYM_LN];
    const char* n = nullptr;
    if (!nlsui_argument(buf, sizeof buf, name, n, "dlsymU16", "name", "MAX_SYM_LN"))
        return nullptr;
    return dlsym(handle, n);
}

size_t strfctimeU16(KOV_UTF16* buf, size_t max, const KOV_UTF16* format, const struct tm* tm)
{
    if (buf == nullptr)
        return 0;
    char fbuf[MAX_FORMATSTR_LN];
    const char* f = nullptr;
    if (format == nullptr ||
        !nlsui_argument(fbuf, sizeof fbuf, format, f, "strfctimeU16", "format", "MAX_FORMATSTR_LN"))
        return 0;
    char out[256];
    // The caller's format, as the C function takes it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (strftime(out, sizeof out, f, tm) == 0)
        return 0;
#pragma GCC diagnostic pop
    KOV_UTF16 units[MAX_TIMESTR_LN];
    const long r = nlsui_utf8ToU16buf(units, out, MAX_TIMESTR_LN, kSource, __LINE__, "strfctimeU16", "timestr",
                                      "MAX_TIMESTR_LN");
    if (r < 0 || static_cast<size_t>(r) >= MAX_TIMESTR_LN || static_cast<size_t>(r) >= max)
        return 0;
    std::memcpy(buf, units, (static_cast<size_t>(r) + 1) * sizeof(KOV_UTF16));
    return static_cast<size_t>(r);
}

int systemU16(const KOV_UTF16* command)
{
    char buf[MAX_COMMAND_LN];
    const char* c = nullptr;
    if (!nlsui_argument(buf, sizeof buf, command, c, "systemU16", "command", "MAX_COMMAND_LN"))
        return -1;
    return system(c);
}

int execvU16(const KOV_UTF16* path, KOV_UTF16* const argv[])
{
    Path p(path, "execvU16");
    ArgVector args;
    if (!p.ok || !args.add_all(argv, "execvU16"))
        return -1;
    return execv(p.arg, args.get());
}

int execvpU16(const KOV_UTF16* file, KOV_UTF16* const argv[])
{
    Path p(file, "execvpU16", "file");
    ArgVector args;
    if (!p.ok || !args.add_all(argv, "execvpU16"))
        return -1;
    return execvp(p.arg, args.get());
}

int execveU16(const KOV_UTF16* path, KOV_UTF16* const argv[], KOV_UTF16* const envp[])
{
    Path p(path, "execveU16");
    ArgVector args, env;
    if (!p.ok || !args.add_all(argv, "execveU16") || !env.add_all(envp, "execveU16"))
        return -1;
    return execve(p.arg, args.get(), env.get());
}

int vexeclU16(const KOV_UTF16* path, va_list ap)
{
    if (path == nullptr) {
        errno = ENOENT;
        return -1;
    }
    Path p(path, "vexeclU16");
    ArgVector args;
    va_list list;
    va_copy(list, ap);
    const bool ok = p.ok && collect_list(args, &list, "vexeclU16", true);
    va_end(list);
    return ok ? execv(p.arg, args.get()) : -1;
}

int vexeclpU16(const KOV_UTF16* file, va_list ap)
{
    Path p(file, "vexeclpU16", "file");
    ArgVector args;
    va_list list;
    va_copy(list, ap);
    const bool ok = p.ok && collect_list(args, &list, "vexeclpU16", false);
    va_end(list);
    return ok ? execvp(p.arg, args.get()) : -1;
}

int vexecleU16(const KOV_UTF16* path, va_list ap)
{
    if (path == nullptr) {
        errno = ENOENT;
        return -1;
    }
    Path p(path, "vexecleU16");
    ArgVector args, env;
    va_list list;
    va_copy(list, ap);
    bool ok = p.ok && collect_list(args, &list, "vexecleU16", true);
    if (ok)
        ok = env.add_all(va_arg(list, KOV_UTF16* const*), "vexecleU16");
    va_end(list);
    return ok ? execve(p.arg, args.get(), env.get()) : -1;
}

int execlU16(const KOV_UTF16* path, ...)
{
    va_list ap;
    va_start(ap, path);
    const int r = vexeclU16(path, ap);
    va_end(ap);
    return r;
}

int execlpU16(const KOV_UTF16* file, ...)
{
    va_list ap;
    va_start(ap, file);
    const int r = vexeclpU16(file, ap);
    va_end(ap);
    return r;
}

int execleU16(const KOV_UTF16* path, ...)
{
    va_list ap;
    va_start(ap, path);
    const int r = vexecleU16(path, ap);
    va_end(ap);
    return r;
}

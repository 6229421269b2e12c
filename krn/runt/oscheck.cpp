// Checks of resource limits, kernel shared-memory settings and memory sizes,
// and the memory parameters computed from them.
#include "krn/runt/oscheck.h"
#include "krn/runt/oscheck_seam.h"

#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nls/kovstr.h"

namespace {

constexpr int kSlots = 3;
char* g_slot[kSlots];

const char* g_shmPath = nullptr;
constexpr long kTmpfsMagic = 0x01021994;

// Memory sizes in MB, measured once.
bool g_sizesKnown = false;
long g_physMB = 0;
long g_swapMB = 0;
long g_tmpfsMB = 0;

// The calculated memory size (0 until computed) and the last value computed
// for the extended-memory maximum.
long g_calculatedMB = 0;
long g_lastMaxSizeMB = 0;

long Clamp(long v, long lo, long hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

void LINAppendf(int slot, const char* fmt, va_list ap)
{
    if (slot < 1 || slot > kSlots)
        return;
    va_list measure;
    va_copy(measure, ap);
    int add = vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (add <= 0)
        return;
    char*& text = g_slot[slot - 1];
    size_t have = text ? strlen(text) : 0;
    char* grown = static_cast<char*>(realloc(text, have + static_cast<size_t>(add) + 1));
    if (!grown)
        return;
    text = grown;
    vsnprintf(text + have, static_cast<size_t>(add) + 1, fmt, ap);
}

void LINAddWarning(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    LINAppendf(1, fmt, ap);
    va_end(ap);
}

void LINAddInfo(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    LINAppendf(2, fmt, ap);
    va_end(ap);
}

void LINAddLimit(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    LINAppendf(3, fmt, ap);
    va_end(ap);
}

int LINGetMessage(char** text)
{
    for (int i = 0; i < kSlots; ++i) {
        if (g_slot[i]) {
            *text = g_slot[i];
            g_slot[i] = nullptr;
            return i + 1;
        }
    }
    *text = nullptr;
    return 0;
}

int LINVAsprintf(char** out, const char* fmt, va_list ap)
{
    *out = nullptr;
    va_list measure;
    va_copy(measure, ap);
    int len = vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (len < 0)
        return -1;
    char* text = static_cast<char*>(malloc(static_cast<size_t>(len) + 1));
    if (!text)
        return -1;
    vsnprintf(text, static_cast<size_t>(len) + 1, fmt, ap);
    *out = text;
    return len;
}

int LINAsprintf(char** out, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int len = LINVAsprintf(out, fmt, ap);
    va_end(ap);
    return len;
}

int LINCheckResourceLimit(const char* name, int resource, int check, unsigned long minimum)
{
    struct rlimit lim;
    if (getrlimit(resource, &lim) != 0)
        return -1;
    if (lim.rlim_max == RLIM_INFINITY)
        LINAddLimit("%s: hard-limit = %s\n", name, "UNLIMITED");
    else
        LINAddLimit("%s: hard-limit = %lu MB\n", name, static_cast<unsigned long>(lim.rlim_max >> 20));
    if (lim.rlim_cur == RLIM_INFINITY)
        LINAddLimit("%s: soft-limit = %s\n", name, "UNLIMITED");
    else
        LINAddLimit("%s: soft-limit = %lu MB\n", name, static_cast<unsigned long>(lim.rlim_cur >> 20));
    if (check && lim.rlim_cur != RLIM_INFINITY) {
        unsigned long soft = lim.rlim_cur;
        if (minimum == ~0UL)
            LINAddWarning("*** WARNING: resource limit value for '%s' (%lu) should be 'unlimited'.\n", name, soft);
        else if (soft < minimum)
            LINAddWarning("*** WARNING: resource limit value for '%s' too low (%lu < %lu)\n", name, soft, minimum);
    }
    return 0;
}

int LINSysctl(const char* name, unsigned long* value)
{
    // Only a dotted name of letters, digits, "_" and "-" maps to a file below
    // /proc/sys; anything else could name a path outside it.
    char path[256];
    if (!name || !value || strcpy_sR(path, sizeof path, "/proc/sys/") != 0)
        return -1;
    size_t at = strlen(path);
    size_t start = at;
    for (const char* p = name;; ++p) {
        char c = *p;
        bool endOfPart = c == '.' || c == '\0';
        if (endOfPart && at == start)
            return -1;  // empty part
        if (at + 1 >= sizeof path)
            return -1;
        if (c == '\0')
            break;
        if (c == '.') {
            path[at++] = '/';
            start = at;
        } else if (isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-') {
            path[at++] = c;
        } else {
            return -1;
        }
    }
    path[at] = '\0';
    FILE* f = fopen(path, "r");
    if (!f)
        return -1;
    unsigned long v = 0;
    int got = fscanf(f, "%lu", &v);
    fclose(f);
    if (got != 1)
        return -2;
    *value = v;
    return 0;
}

int LINCheckResources()
{
    struct Row {
        const char* name;
        int resource;
        int check;
        unsigned long minimum;
    };
    static const Row rows[] = {
        {"virtual memory", RLIMIT_AS, 1, ~0UL},
        {"core size", RLIMIT_CORE, 0, 0},
        {"data segment size", RLIMIT_DATA, 0, 0},
        {"stack size", RLIMIT_STACK, 1, 4194304UL},
    };
    int rc = 0;
    for (const Row& r : rows)
        rc |= LINCheckResourceLimit(r.name, r.resource, r.check, r.minimum);

    const char* files = "max open files";
    struct rlimit lim;
    if (getrlimit(RLIMIT_NOFILE, &lim) != 0) {
        rc = -1;
    } else {
        if (lim.rlim_max == RLIM_INFINITY)
            LINAddLimit("%s: hard-limit = %s\n", files, "UNLIMITED");
        else
            LINAddLimit("%s: hard-limit = %lu\n", files, static_cast<unsigned long>(lim.rlim_max));
        if (lim.rlim_cur == RLIM_INFINITY) {
            LINAddLimit("%s: soft-limit = %s\n", files, "UNLIMITED");
        } else {
            LINAddLimit("%s: soft-limit = %lu\n", files, static_cast<unsigned long>(lim.rlim_cur));
            if (lim.rlim_cur < 32800)
                LINAddWarning("*** WARNING: resource limit value for '%s' too low (%lu < %lu)\n", files,
                              static_cast<unsigned long>(lim.rlim_cur), 32800UL);
        }
    }

    unsigned long pageKB = static_cast<unsigned long>(getpagesize()) / 1024;
    LINAddLimit("Page Size: %lu KB\n", pageKB);
    unsigned long v = 0;
    int s = LINSysctl("kernel.shmmax", &v);
    if (s == 0)
        LINAddLimit("kernel.shmmax = %lu MB\n", v >> 20);
    rc |= s;
    s = LINSysctl("kernel.shmall", &v);
    if (s == 0) {
        // Pages times KB per page can pass 64 bits (the kernel's default is
        // close to all ones).
        unsigned __int128 kb = static_cast<unsigned __int128>(v) * pageKB;
        LINAddLimit("kernel.shmall = %lu MB\n", static_cast<unsigned long>(kb >> 10));
    }
    rc |= s;
    return rc;
}

long LINGetMemorySizes(long* swapMB, long* tmpfsMB)
{
    if (!g_sizesKnown) {
        g_sizesKnown = true;
        struct sysinfo si;
        if (sysinfo(&si) != 0 || si.mem_unit == 0) {
            fprintf(stderr, "ERROR: not a Linux 2.4 kernel\n\n");
            return 0;
        }
        long swap = static_cast<long>((static_cast<unsigned long>(si.totalswap) * si.mem_unit) >> 20);
        if (swap < 20479)
            LINAddWarning("Warning: Swap space is configured quite small with %d MB.\n"
                          " It should be configured with at least 20 GB on 64 bit systems.\n"
                          " See note 153641 for more information.\n\n",
                          static_cast<int>(swap));
        struct statfs fs;
        if (statfs(g_shmPath ? g_shmPath : "/dev/shm/", &fs) != 0 || static_cast<long>(fs.f_type) != kTmpfsMagic) {
            fprintf(stderr, "ERROR: TMPFS not mounted on /dev/shm\n\n");
            return 0;
        }
        long tmpfs = static_cast<long>((static_cast<unsigned long>(fs.f_bsize) / 1024) *
                                       (static_cast<unsigned long>(fs.f_blocks) >> 10));
        if (tmpfs < 8192)
            LINAddWarning("Warning: tmpfs at /dev/shm is configured quite small with %d MB!\n"
                          " Minimum value is %d MB.\n"
                          " Recommended size is 75 %% of RAM + swap.\n\n",
                          static_cast<int>(tmpfs), 8192);
        long phys = static_cast<long>((static_cast<unsigned long>(si.totalram) * si.mem_unit) >> 20);
        g_physMB = phys;
        g_swapMB = swap;
        g_tmpfsMB = tmpfs;
        LINAddInfo("LinPhysMemMB = %d MB\nLinSwapMB = %d MB\nLinTmpfsMB = %d MB\n", static_cast<int>(phys),
                   static_cast<int>(swap), static_cast<int>(tmpfs));
    }
    if (swapMB)
        *swapMB = g_swapMB;
    if (tmpfsMB)
        *tmpfsMB = g_tmpfsMB;
    return g_physMB;
}

int LINComputeParameter(const char* dflt, const char* cur, const char* name, char* out, size_t outsize)
{
    long tmpfs = 0;
    long phys = LINGetMemorySizes(nullptr, &tmpfs);
    if (phys == 0 || !name)
        return 0;

    long percent = 100;
    if (g_calculatedMB == 0) {
        long size = phys;
        if (cur && (!dflt || strcmp(cur, dflt) != 0)) {
            long n = strtol(cur, nullptr, 10);
            if (strchr(cur, '%')) {
                percent = Clamp(n, 5, 200);
                size = percent * phys / 100;
            } else {
                size = n;
                // The share in percent; anything at or above twice the
                // memory is 200 in the end, which keeps the product small.
                long share = n <= 0 ? 0 : (n >= 2 * phys ? 200 : n * 100 / phys);
                percent = Clamp(share, 5, 200);
            }
        }
        size = Clamp(size, 128, 2 * phys > 128 ? 2 * phys : 128);
        g_calculatedMB = size;
        LINAddInfo("calculatedMB = %ld MB\n", size);
    }
    long size = g_calculatedMB;
    long factor = (25 * size - 3200) / 128;
    if (factor < 5)
        factor = 5;

    long value;
    if (strcmp(name, "em/max_size_MB") == 0) {
        long m = percent * tmpfs / 100;
        if (m > tmpfs - 10)
            m = tmpfs - 10;
        g_lastMaxSizeMB = m;
        value = m < 128 ? 128 : m;
    } else if (strcmp(name, "em/initial_size_MB") == 0) {
        long v = g_lastMaxSizeMB - 10 < size - 10 ? g_lastMaxSizeMB - 10 : size - 10;
        v = v < 0 ? 0 : (v / 8 + 1) * 8;
        value = v < 128 ? 128 : v;
    } else if (strcmp(name, "rdisp/ROLL_SHM") == 0) {
        long v = 100 * factor;
        value = v > 32767 ? (v > 131072 ? 131072 : v) : 32768;
    } else if (strcmp(name, "rdisp/PG_SHM") == 0) {
        value = Clamp(40 * factor + 1000, 32768, 65536);
    } else if (strcmp(name, "rdisp/PG_MAXFS") == 0 || strcmp(name, "rdisp/ROLL_MAXFS") == 0) {
        value = 131072;
    } else if (strcmp(name, "ztta/roll_first") == 0) {
        value = 1;
    } else if (strcmp(name, "ztta/roll_area") == 0) {
        value = 6500000;
    } else if (strcmp(name, "ztta/roll_extension") == 0) {
        value = 4000000000L;
    } else if (strcmp(name, "em/blocksize_KB") == 0) {
        long k = 1;
        if (g_lastMaxSizeMB > 65536)
            for (k = 2; g_lastMaxSizeMB / k > 65536; k *= 2) {
            }
        value = 1024 * k;
    } else {
        LINAddInfo("unknown parameter: %s *\n", name);
        return 0;
    }
    char text[32];
    snprintfR(text, sizeof text, "%ld", value);
    if (out && outsize > 0)
        strncpy_sR(out, outsize, text, sizeof text);
    LINAddInfo("%s = %s\n", name, text);
    return 1;
}

void LINSeamSetShmPath(const char* path)
{
    g_shmPath = path;
}

void LINSeamSetMemorySizes(long physMB, long swapMB, long tmpfsMB)
{
    g_sizesKnown = true;
    g_physMB = physMB;
    g_swapMB = swapMB;
    g_tmpfsMB = tmpfsMB;
}

void LINSeamReset()
{
    g_sizesKnown = false;
    g_physMB = g_swapMB = g_tmpfsMB = 0;
    g_calculatedMB = 0;
    g_lastMaxSizeMB = 0;
    for (char*& s : g_slot) {
        free(s);
        s = nullptr;
    }
}

// Temporary files, a profiling fork, CPU affinity and process priority.
#include "krn/runt/proctools.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/gmon.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nls/kovcase.h"
#include "nls/kovstr.h"

namespace {

const char kNameChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr uint64_t kNameBase = 62;
constexpr long kNames = 62L * 62 * 62;  // tries before every name counts as taken
constexpr int kOtherErrors = 999;

uint64_t g_tmpCounter = 0;

// Reads a whole unsigned decimal number of at most 9 digits; -1 otherwise.
long ParseSmallNumber(const char* s, size_t len)
{
    if (len == 0 || len > 9)
        return -1;
    long v = 0;
    for (size_t i = 0; i < len; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

}  // namespace

int LINMkstemps(char* tmpl, int suffixLen)
{
    size_t len = tmpl ? strlen(tmpl) : 0;
    if (!tmpl || suffixLen < 0 || len < 6 + static_cast<size_t>(suffixLen)) {
        errno = EINVAL;
        return -1;
    }
    char* x = tmpl + len - suffixLen - 6;
    if (memcmp(x, "XXXXXX", 6) != 0) {
        errno = EINVAL;
        return -1;
    }
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    g_tmpCounter += (static_cast<uint64_t>(tv.tv_usec) << 16) ^ static_cast<uint64_t>(tv.tv_sec) ^
                    static_cast<uint64_t>(getpid());
    int otherErrors = 0;
    for (long tries = 0; tries < kNames; ++g_tmpCounter) {
        uint64_t v = g_tmpCounter;
        for (int i = 0; i < 6; ++i) {
            x[i] = kNameChars[v % kNameBase];
            v /= kNameBase;
        }
        int fd = open(tmpl, O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd >= 0)
            return fd;
        if (errno == EEXIST) {
            ++tries;
            otherErrors = 0;
        } else if (++otherErrors > kOtherErrors) {
            return -1;
        }
    }
    tmpl[0] = '\0';
    errno = EEXIST;
    return -1;
}

int LINHasUnwindIPInfo()
{
    return dlsym(RTLD_DEFAULT, "_Unwind_GetIPInfo") != nullptr ? 1 : 0;
}

pid_t LINForkProfiled(const char* name)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    const char* prefix = getenv("GMON_OUT_PREFIX");
    void* low = dlsym(RTLD_DEFAULT, "_start");
    void* high = dlsym(RTLD_DEFAULT, "etext");
    if (prefix && low && high) {
        // putenv keeps the buffer, so it must outlive this call.
        static char setting[257];
        if (snprintfR(setting, sizeof setting, "%s=%s-%s", "GMON_OUT_PREFIX", prefix, name ? name : "") > 0) {
            putenv(setting);
            monstartup(reinterpret_cast<u_long>(low), reinterpret_cast<u_long>(high));
        }
    }
    return 0;
}

int LINSetAffinity(pid_t pid, const char* list)
{
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    if (online < 1)
        online = 1;
    if (online > INT_MAX / 2)
        online = INT_MAX / 2;
    int cpus = static_cast<int>(online);
    if (!list)
        return cpus;

    // A set of the machine's size: a fixed 64-bit mask would overrun on
    // larger machines.
    cpu_set_t* set = CPU_ALLOC(cpus);
    if (!set)
        return -1;
    size_t setSize = CPU_ALLOC_SIZE(cpus);
    CPU_ZERO_S(setSize, set);
    for (const char* p = list;;) {
        const char* end = strchr(p, ',');
        size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
        long cpu = ParseSmallNumber(p, len);
        if (cpu >= 0 && cpu < cpus)
            CPU_SET_S(static_cast<size_t>(cpu), setSize, set);
        else
            fprintf(stderr, "Affinity: Wrong parameter. Only %d CPUs (numbered by 0-%d) available!\n", cpus, cpus - 1);
        if (!end)
            break;
        p = end + 1;
    }
    int rc = sched_setaffinity(pid, setSize, set);
    if (rc != 0) {
        fprintf(stderr, "Failed to set affinity of process %u: %s\n", static_cast<unsigned>(pid), strerror(errno));
    } else {
        unsigned long low = 0;
        for (int i = 0; i < cpus && i < 64; ++i)
            if (CPU_ISSET_S(static_cast<size_t>(i), setSize, set))
                low |= 1UL << i;
        fprintf(stderr, "Affinity of process %u sucessfully changed to 0x%08lx\n", static_cast<unsigned>(pid), low);
    }
    CPU_FREE(set);
    return rc;
}

int LINSetPriority(pid_t pid, const char* text)
{
    if (!text) {
        errno = EINVAL;
        return -1;
    }
    int prio;
    if (strcasecmpR(text, "Low") == 0)
        prio = 5;
    else if (strcasecmpR(text, "Normal") == 0)
        prio = 0;
    else if (strcasecmpR(text, "High") == 0)
        prio = -5;
    else
        prio = static_cast<int>(strtol(text, nullptr, 10));
    int rc = setpriority(PRIO_PROCESS, static_cast<id_t>(pid), prio);
    if (rc != 0) {
        fprintf(stderr, "FAILED: Priority of process %u not changed to %d: %s\n", static_cast<unsigned>(pid), prio,
                strerror(errno));
        if (geteuid() != 0 && prio < 0)
            fprintf(stderr, "        Only root is allowed to set nice levels lower than zero.\n");
        return rc;
    }
    errno = 0;
    int now = getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
    if (errno == 0 && now == prio)
        fprintf(stderr, "Priority of process %u successfully changed to %d.\n", static_cast<unsigned>(pid), prio);
    return rc;
}

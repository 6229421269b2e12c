// Machine checks and process helpers: memory parameters against worked
// figures, limits, kernel settings read from /proc, temporary files,
// affinity and priority of a child process.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "krn/runt/oscheck.h"
#include "krn/runt/oscheck_seam.h"
#include "krn/runt/proctools.h"
#include "tests/unit/scratch_dir.h"

namespace {

// Joins texts by appending (the optimiser misreads some "literal" + string
// expressions as overlapping copies).
template <typename... T>
std::string Cat(const T&... parts)
{
    std::string s;
    (s += ... += parts);
    return s;
}

std::string TakeSlots()
{
    std::string all;
    char* text;
    for (int kind; (kind = LINGetMessage(&text)) != 0; free(text))
        all += std::to_string(kind) + ":" + text;
    return all;
}

std::string StderrOf(void (*fn)(void*), void* arg)
{
    fflush(stderr);
    FILE* f = tmpfile();
    int saved = dup(2);
    dup2(fileno(f), 2);
    fn(arg);
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    rewind(f);
    std::string text;
    char buf[1024];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, n);
    fclose(f);
    return text;
}

class OsCheckTest : public ::testing::Test {
protected:
    void SetUp() override { LINSeamReset(); }
    void TearDown() override
    {
        LINSeamSetShmPath(nullptr);
        LINSeamReset();
    }
};

TEST_F(OsCheckTest, MemoryParametersFollowTheWorkedFigures)
{
    struct Scenario {
        long phys, tmpfs;
        const char* current;
        const char* calculated;
        const char* values[10];
    };
    // em/max_size_MB, em/initial_size_MB, rdisp/ROLL_SHM, rdisp/ROLL_MAXFS,
    // rdisp/PG_SHM, rdisp/PG_MAXFS, ztta/roll_first, ztta/roll_area,
    // ztta/roll_extension, em/blocksize_KB
    const Scenario scenarios[] = {
        {16384,
         16384,
         "50%",
         "8192",
         {"8192", "8184", "131072", "131072", "64000", "131072", "1", "6500000", "4000000000", "1024"}},
        {16384,
         16384,
         "2%",
         "819",
         {"819", "816", "32768", "131072", "32768", "131072", "1", "6500000", "4000000000", "1024"}},
        {16384,
         16384,
         "64",
         "16384",
         {"16374", "16368", "131072", "131072", "65536", "131072", "1", "6500000", "4000000000", "1024"}},
        {16384,
         16384,
         "4096",
         "4096",
         {"4096", "4088", "77500", "131072", "32768", "131072", "1", "6500000", "4000000000", "1024"}},
        {1000000,
         1000000,
         "64",
         "1000000",
         {"999990", "999984", "131072", "131072", "65536", "131072", "1", "6500000", "4000000000", "16384"}},
        {100,
         50,
         "64",
         "128",
         {"128", "128", "32768", "131072", "32768", "131072", "1", "6500000", "4000000000", "1024"}},
    };
    const char* names[] = {"em/max_size_MB",      "em/initial_size_MB", "rdisp/ROLL_SHM",  "rdisp/ROLL_MAXFS",
                           "rdisp/PG_SHM",        "rdisp/PG_MAXFS",     "ztta/roll_first", "ztta/roll_area",
                           "ztta/roll_extension", "em/blocksize_KB"};
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(std::to_string(s.phys) + " MB, " + s.current);
        LINSeamReset();
        LINSeamSetMemorySizes(s.phys, 40000, s.tmpfs);
        std::string expectedInfo = std::string("2:calculatedMB = ") + s.calculated + " MB\n";
        for (int i = 0; i < 10; ++i) {
            char out[32] = "?";
            EXPECT_EQ(LINComputeParameter("64", s.current, names[i], out, sizeof out), 1) << names[i];
            EXPECT_STREQ(out, s.values[i]) << names[i];
            expectedInfo += std::string(names[i]) + " = " + s.values[i] + "\n";
        }
        char out[32];
        EXPECT_EQ(LINComputeParameter("64", s.current, "em/other", out, sizeof out), 0);
        EXPECT_EQ(TakeSlots(), expectedInfo + "unknown parameter: em/other *\n");
    }
}

TEST_F(OsCheckTest, WithoutTmpfsNothingIsComputed)
{
    LINSeamSetShmPath("/proc/");
    long swap = -1, tmpfs = -1;
    std::string err = StderrOf([](void* p) { *static_cast<long*>(p) = LINGetMemorySizes(nullptr, nullptr); }, &swap);
    EXPECT_EQ(swap, 0);
    EXPECT_EQ(err, "ERROR: TMPFS not mounted on /dev/shm\n\n");
    char out[32];
    EXPECT_EQ(LINComputeParameter("64", "64", "rdisp/PG_SHM", out, sizeof out), 0);
    (void)tmpfs;
}

TEST_F(OsCheckTest, MachineSizesMatchTheSystem)
{
    struct statfs fs;
    if (statfs("/dev/shm/", &fs) != 0 || fs.f_type != 0x01021994)
        GTEST_SKIP() << "no tmpfs at /dev/shm";
    struct sysinfo si;
    ASSERT_EQ(sysinfo(&si), 0);
    long phys = static_cast<long>((static_cast<unsigned long>(si.totalram) * si.mem_unit) >> 20);
    long swap = 0, tmpfs = 0;
    EXPECT_EQ(LINGetMemorySizes(&swap, &tmpfs), phys);
    EXPECT_EQ(tmpfs, static_cast<long>((fs.f_bsize / 1024) * (fs.f_blocks >> 10)));
    EXPECT_NE(TakeSlots().find(Cat("2:LinPhysMemMB = ", std::to_string(phys), " MB\nLinSwapMB = ")), std::string::npos);
}

TEST_F(OsCheckTest, SoftLimitsBelowTheirMinimumAreWarned)
{
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_STACK, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 8u << 20)
        GTEST_SKIP() << "hard stack limit below 8 MB";
    struct rlimit lim = saved;
    lim.rlim_cur = 8u << 20;
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &lim), 0);
    EXPECT_EQ(LINCheckResourceLimit("stack size", RLIMIT_STACK, 1, 4194304), 0);
    std::string slots = TakeSlots();
    EXPECT_EQ(slots.find("1:"), std::string::npos);
    EXPECT_NE(slots.find("stack size: soft-limit = 8 MB\n"), std::string::npos);
    lim.rlim_cur = 2u << 20;
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &lim), 0);
    LINCheckResourceLimit("stack size", RLIMIT_STACK, 1, 4194304);
    EXPECT_EQ(TakeSlots().substr(0, 80),
              std::string("1:*** WARNING: resource limit value for 'stack size' too low (2097152 < 4194304)\n3:")
                  .substr(0, 80));
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &saved), 0);

    // A minimum of all ones asks for no limit at all.
    ASSERT_EQ(getrlimit(RLIMIT_CORE, &saved), 0);
    lim = saved;
    lim.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &lim), 0);
    LINCheckResourceLimit("core size", RLIMIT_CORE, 1, ~0UL);
    EXPECT_EQ(TakeSlots().find("1:*** WARNING: resource limit value for 'core size' (0) should be 'unlimited'.\n"), 0u);
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &saved), 0);

    EXPECT_EQ(LINCheckResources() & ~0, LINCheckResources());
    EXPECT_NE(TakeSlots().find(Cat("Page Size: ", std::to_string(getpagesize() / 1024), " KB\n")), std::string::npos);
}

TEST_F(OsCheckTest, KernelSettingsAreReadFromProcAndNamesStayInside)
{
    unsigned long expected = 0;
    std::ifstream("/proc/sys/kernel/shmmax") >> expected;
    unsigned long v = 0;
    if (expected != 0) {
        EXPECT_EQ(LINSysctl("kernel.shmmax", &v), 0);
        EXPECT_EQ(v, expected);
    }
    EXPECT_EQ(LINSysctl("kernel.ostype", &v), -2);
    for (const char* bad : {"../../etc/passwd", "kernel..shmmax", ".kernel", "kernel.", "kernel/shmmax", "",
                            "kernel.shm max", "kernel.$(reboot)"})
        EXPECT_EQ(LINSysctl(bad, &v), -1) << bad;
    EXPECT_EQ(LINSysctl(nullptr, &v), -1);
}

TEST_F(OsCheckTest, TemporaryFilesAreNewPrivateAndKeepTheirSuffix)
{
    std::filesystem::path dir = std::filesystem::path(KovTestTmp()) / "mkstemps";
    std::filesystem::create_directories(dir);
    std::string t1 = (dir / "fooXXXXXX.tmp").string();
    std::string t2 = t1;
    int fd1 = LINMkstemps(t1.data(), 4);
    int fd2 = LINMkstemps(t2.data(), 4);
    ASSERT_GE(fd1, 0);
    ASSERT_GE(fd2, 0);
    close(fd1);
    close(fd2);
    EXPECT_NE(t1, t2);
    struct stat st;
    ASSERT_EQ(stat(t1.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(t1.substr(t1.size() - 4), ".tmp");
    std::string made = t1.substr(t1.size() - 10, 6);
    EXPECT_NE(made, "XXXXXX");
    for (char c : made)
        EXPECT_TRUE(isalnum(static_cast<unsigned char>(c))) << made;

    for (auto [tmpl, suffix] : {std::pair<std::string, int>{"fooXXXXX.tmp", 4}, {"fooXXXXXX", 4}, {"XXXXXX", -1}}) {
        errno = 0;
        EXPECT_EQ(LINMkstemps(tmpl.data(), suffix), -1) << tmpl;
        EXPECT_EQ(errno, EINVAL);
    }
}

pid_t SleepingChild()
{
    pid_t pid = fork();
    if (pid == 0) {
        pause();
        _exit(0);
    }
    return pid;
}

void EndChild(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

TEST_F(OsCheckTest, AffinityOfAChild)
{
    EXPECT_EQ(LINSetAffinity(0, nullptr), sysconf(_SC_NPROCESSORS_ONLN));
    cpu_set_t mine;
    ASSERT_EQ(sched_getaffinity(0, sizeof mine, &mine), 0);
    int cpu = 0;
    while (cpu < CPU_SETSIZE && !CPU_ISSET(cpu, &mine))
        ++cpu;
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    if (cpu >= online || cpu >= 32)
        GTEST_SKIP() << "no usable processor below the online count";
    pid_t child = SleepingChild();
    ASSERT_GT(child, 0);
    struct Call {
        pid_t pid;
        std::string list;
        int rc;
    } call{child, std::to_string(cpu) + ",100000,x", -1};
    std::string err = StderrOf(
        [](void* p) {
            auto* c = static_cast<Call*>(p);
            c->rc = LINSetAffinity(c->pid, c->list.c_str());
        },
        &call);
    cpu_set_t set;
    ASSERT_EQ(sched_getaffinity(child, sizeof set, &set), 0);
    EndChild(child);
    EXPECT_EQ(call.rc, 0);
    EXPECT_EQ(CPU_COUNT(&set), 1);
    EXPECT_TRUE(CPU_ISSET(cpu, &set));
    std::string wrong = Cat("Affinity: Wrong parameter. Only ", std::to_string(online), " CPUs (numbered by 0-",
                            std::to_string(online - 1), ") available!\n");
    char mask[32];
    snprintf(mask, sizeof mask, "0x%08lx", 1UL << cpu);
    EXPECT_EQ(err,
              Cat(wrong, wrong, "Affinity of process ", std::to_string(child), " sucessfully changed to ", mask, "\n"));
}

// Whether this process may give a child of its own nice value the value
// prio: raising it is always allowed, lowering it takes root or a nice limit
// (RLIMIT_NICE) that reaches down to prio.  Under "nice -n 10" a user other
// than root may not go back to 5.
bool MaySetNice(int prio)
{
    if (geteuid() == 0 || prio >= getpriority(PRIO_PROCESS, 0))
        return true;
    struct rlimit limit { };
    return getrlimit(RLIMIT_NICE, &limit) == 0 &&
           (limit.rlim_cur == RLIM_INFINITY || static_cast<long long>(limit.rlim_cur) >= 20LL - prio);
}

void SetPriorityOf(pid_t child, const char* text, int& rc, std::string& err)
{
    struct Call {
        pid_t pid;
        const char* text;
        int rc;
    } call{child, text, -1};
    err = StderrOf(
        [](void* p) {
            auto* c = static_cast<Call*>(p);
            c->rc = LINSetPriority(c->pid, c->text);
        },
        &call);
    rc = call.rc;
}

TEST_F(OsCheckTest, PriorityOfAChild)
{
    const int own = getpriority(PRIO_PROCESS, 0);
    pid_t child = SleepingChild();
    ASSERT_GT(child, 0);
    int rc = -1;
    std::string err;
    SetPriorityOf(child, "low", rc, err);
    const std::string pid = std::to_string(child);
    if (MaySetNice(5)) {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(child)), 5);
        EXPECT_EQ(err, Cat("Priority of process ", pid, " successfully changed to 5.\n"));
    } else {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(child)), own);
        EXPECT_EQ(err, Cat("FAILED: Priority of process ", pid, " not changed to 5: Permission denied\n"));
    }
    SetPriorityOf(child, "High", rc, err);
    EndChild(child);
    if (MaySetNice(-5)) {
        EXPECT_EQ(rc, 0);
    } else {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(err, Cat("FAILED: Priority of process ", pid,
                           " not changed to -5: Permission denied\n"
                           "        Only root is allowed to set nice levels lower than zero.\n"));
    }
}

TEST_F(OsCheckTest, SlotsAreHandedOverInOrder)
{
    LINAddLimit("limit %d\n", 3);
    LINAddInfo("info\n");
    LINAddWarning("warn %s\n", "one");
    LINAddWarning("warn %s\n", "two");
    EXPECT_EQ(TakeSlots(), "1:warn one\nwarn two\n2:info\n3:limit 3\n");
    char* text = reinterpret_cast<char*>(1);
    EXPECT_EQ(LINGetMessage(&text), 0);
    EXPECT_EQ(text, nullptr);
    char* made = nullptr;
    EXPECT_EQ(LINAsprintf(&made, "%s-%05d", "ab", 42), 8);
    EXPECT_STREQ(made, "ab-00042");
    free(made);
}

}  // namespace

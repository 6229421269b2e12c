// Trace lines compared byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "krn/rstr/contloct.h"
#include "trace/cstack.h"
#include "trace/dptrc.h"
#include "trace_test_util.h"

namespace {

// Registers a component directly in the handle table.
DpTrcHdl Component(char letter, int level, int depth, FILE* stream)
{
    static CTrcAdm adm[8];
    const int i = next_free_comp++;
    adm[i] = CTrcAdm{stream, 0, CTRC_UNSET, CTRC_UNSET, -1, CTRC_UNSET};
    ctrcadm[i] = CTrcComp{letter, level, depth, nullptr, &adm[i]};
    return &ctrcadm[i];
}

class Trace : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC0", 1);
        tzset();
        ContLoctReset(nullptr);
        ct_time_res = 0;
        ct_level = 1;
        EntLev = 2;
        next_free_comp = 1;
        CTrcSetClock(TestClock);
        CTrcResetStamps();
        DpTrcSaveLoc("/x/y/mod", 1234);
    }
    void TearDown() override
    {
        CTrcSetClock(nullptr);
        ct_time_res = 1;
        DpTrcClearPatterns();
        DpTrcMaxFileSizeOff();
        contextinfo_hook_func = nullptr;
    }
    ScratchStream s;
};

std::string g_out;
void Capture(const char* text, int len, void*)
{
    g_out.append(text, static_cast<size_t>(len));
}

int g_hits = 0;
void Hit(DpTrcHdl, const char*)
{
    ++g_hits;
}
int64_t g_seen = 0;
void SizeHook(DpTrcHdl, int64_t size)
{
    g_seen = size;
}

}  // namespace

TEST_F(Trace, PlainLinesPrefixesAndPartialLines)
{
    DpTrcHdl n = Component('N', 2, 1, s.f);
    DpTrcHdl m = Component('M', 3, 20, s.f);
    DpTrc(n, "one\ntwo\n");
    DpTrc(n, "part");
    DpTrc(n, "ial\n");
    DpTrc(n, "open");
    DpTrc(m, "deep\n");  // ends N's partial line; indentation stops at 31
    EntLev = 3;
    DpTrc(n, "below the entry level\n");
    EntLev = 2;
    DpTrc(s.f, "stream %d\n", 7);
    const std::string deep = "M  " + std::string(31, ' ') + "deep\n";
    EXPECT_EQ(s.Take(), "N    one\nN    two\nN    partial\nN    open\n" + deep + "stream 7\n");
    // The writers ignore ct_level.
    ct_level = 0;
    DpTrcA(s.f, "%s", "plain\n");
    EXPECT_EQ(s.Take(), "plain\n");
}

TEST_F(Trace, LocatedAndErrnoLines)
{
    DpTrcErr(s.f, "boom %d\n", 5);
    DpTrcWarn(s.f, "careful");
    DpTrcErrA(s.f, "eight-bit %s", "x");
    errno = ENOENT;
    DpTrcErrno(s.f, "open %s\n", "f");
    errno = ENOENT;
    DpTrcErrnoA(s.f, "open %s\n", "g");
    const std::string loc = " [mod          1234]\n";
    EXPECT_EQ(s.Take(), "*** ERROR => boom 5" + loc + "*** WARNING => careful" + loc + "*** ERROR => eight-bit x" +
                            loc + "*** ERROR => open f (2: No such file or directory)" + loc +
                            "*** ERROR => open g (2: No such file or directory)" + loc);
    // A component below level 1 writes no error line.
    DpTrcHdl off = Component('Q', 0, 0, s.f);
    DpTrcErr(off, "hidden\n");
    DpTrcErrno(off, "hidden\n");
    EXPECT_EQ(s.Take(), "");
}

TEST_F(Trace, LongFormatsAndTextsAreCutInsideTheLine)
{
    // A format of more than 1,024 characters: message, then the first 1,024
    // characters, never a conversion split by the cut.
    std::string fmt(1023, 'f');
    fmt += "%d tail";
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    DpTrcErr(s.f, fmt.c_str(), 42);
#pragma GCC diagnostic pop
    EXPECT_EQ(s.Take(), "*** ERROR => Dptrc fmt string truncated\n*** ERROR => " + std::string(1023, 'f') +
                            " [mod          1234]\n");
    // Texts longer than the line, in both encodings and behind a component
    // prefix: the line is cut at 8,192 characters and a warning follows.
    DpTrcHdl n = Component('N', 2, 3, s.f);
    const std::string big(20000, 'z');
    for (int enc = 1; enc <= 2; ++enc) {
        if (enc == 1)
            DpTrcA(n, "%s\n", big.c_str());
        else
            DpTrc(n, "%s\n", big.c_str());
        const std::string out = s.Take();
        const std::string warn = "\n*** WARNING => data was truncated\n";
        ASSERT_EQ(out.size(), 8192 + warn.size()) << enc;
        EXPECT_EQ(out.substr(0, 9), "N        ");
        EXPECT_EQ(out.substr(8192), warn);
        DpTrc(n, "\n");  // leave the partial line
        s.Take();
    }
    std::string huge(9000, 'e');
    DpTrcErrA(s.f, "%s", huge.c_str());
    const std::string out = s.Take();
    EXPECT_EQ(out.size(), 8192 + std::string("\n*** WARNING => data was truncated\n").size());
}

TEST_F(Trace, TimeStampsFollowTheClockAndResolution)
{
    ct_time_res = 1;
    g_testClock = {1729990800, 250000};  // 2024-10-27 01:00:00.25 UTC
    DpTrc(s.f, "a\n");
    DpTrc(s.f, "b\n");  // same second: no second stamp
    g_testClock.tv_sec += 1;
    DpTrcNoStamp(s.f, "c\n");  // no check at all
    EXPECT_EQ(s.Take(), "\nSun Oct 27 01:00:00 2024\na\nb\nc\n");
    ct_level = 2;
    ct_time_res = 10;
    DpTrc(s.f, "d\n");
    g_testClock.tv_usec += 50000;  // within 1/10 s
    DpTrc(s.f, "e\n");
    g_testClock.tv_usec += 60000;
    DpTrc(s.f, "f\n");
    EXPECT_EQ(s.Take(), "Sun Oct 27 01:00:01:250 2024\nd\ne\nSun Oct 27 01:00:01:360 2024\nf\n");
    ct_time_res = 0;
    g_testClock.tv_sec += 5;
    DpTrc(s.f, "g\n");
    EXPECT_EQ(s.Take(), "g\n");
}

TEST_F(Trace, PatternWatchSizeWatchAndOutputFunction)
{
    EXPECT_EQ(DpTrcAddPattern("*fa?l*", Hit), 0);
    EXPECT_EQ(DpTrcAddPattern("x\\*y", Hit), 0);
    for (int i = 2; i < 32; ++i)
        ASSERT_EQ(DpTrcAddPattern("never-seen", nullptr), 0);
    EXPECT_EQ(DpTrcAddPattern("one too many", nullptr), -1);
    g_hits = 0;
    DpTrc(s.f, "it failed\n");
    DpTrc(s.f, "x*y but not x-y\n");
    DpTrc(s.f, "xzy\n");
    EXPECT_EQ(g_hits, 2);
    EXPECT_EQ(s.Take(), "it failed\n\nDpTrc: found match for pattern >*fa?l*< in output\n"
                        "x*y but not x-y\n\nDpTrc: found match for pattern >x\\*y< in output\nxzy\n");
    EXPECT_EQ(DpTrcRemovePattern("*fa?l*"), 0);
    const char* list[4];
    EXPECT_EQ(DpTrcListPatterns(list, 4), 31);
    EXPECT_STREQ(list[0], "x\\*y");
    DpTrcClearPatterns();

    g_testClock = {1000, 0};
    DpTrcSetMaxFileSize(10, SizeHook);
    DpTrc(s.f, "more than ten bytes\n");
    EXPECT_EQ(g_seen, 20);
    EXPECT_EQ(s.Take(), "more than ten bytes\n\nDpTrc: maximum file size reached: 20\n");
    g_seen = 0;
    DpTrc(s.f, "again within ten seconds\n");
    EXPECT_EQ(g_seen, 0);
    EXPECT_EQ(s.Take(), "again within ten seconds\n");
    DpTrcMaxFileSizeOff();
    EXPECT_EQ(DpTrcGetMaxFileSize(), -1);

    g_out.clear();
    CTrcSetOutputFunc(Capture, nullptr);
    DpTrcErr(s.f, "to the function\n");
    DpTrc(s.f, "x\n");
    output_func = nullptr;
    EXPECT_EQ(g_out, "*** ERROR => to the function [mod          1234]\nx\n");
    EXPECT_EQ(s.Take(), "");
}

TEST_F(Trace, HandlesAndContextText)
{
    DpTrcHdl n = Component('N', 2, 0, s.f);
    // A value inside the handle table past the used entries is no stream.
    ctrc_default_file = s.f;
    DpTrc(&ctrcadm[next_free_comp + 3], "dropped\n");
    const std::string report = s.Take();
    EXPECT_EQ(report.rfind("ERROR => CTRC_IS_HANDLE2 != CTRC_IS_HANDLE\n", 0), 0u);
    EXPECT_EQ(report.find("dropped"), std::string::npos);
    ctrc_default_file = nullptr;
    EXPECT_EQ(CTrcGetHdlLevel(n), 2);
    EXPECT_EQ(CTrcGetHdlLevel(s.f), 3);
    EXPECT_EQ(CTrcGetFile(n), s.f);
    EXPECT_EQ(CTrcGetFile(nullptr), stderr);

    contextinfo_hook_func = [](int option, char* buf, int* len) {
        EXPECT_EQ(option, 1);
        EXPECT_EQ(*len, 511);
        *len = 3;
        buf[0] = 'c', buf[1] = 't', buf[2] = 'x';
        return 0;
    };
    DpTrcErr(n, "with context\n");
    EXPECT_EQ(s.Take(), "N  *** ERROR => with context [mod          1234]\nN  ctx\n");
    contextinfo_hook_func = [](int, char*, int*) { return 7; };
    DpTrcWarn(s.f, "without\n");
    EXPECT_EQ(s.Take(),
              "\n*** WARNING =>  contextinfo_hook_func failed 7\n*** WARNING => without [mod          1234]\n");
}

namespace {

__attribute__((noinline)) int DumpFromHere(FILE* f)
{
    const int rc = CStackTrace(f);
    asm volatile("");  // keep the call from becoming a tail call
    return rc;
}

}  // namespace

TEST_F(Trace, StackDumpNamesTheCaller)
{
    ASSERT_EQ(DumpFromHere(s.f), 0);
    const std::string out = s.Take();
    EXPECT_EQ(out.rfind("------------------ C-STACK ----------------------\n", 0), 0u);
    EXPECT_NE(out.find("DumpFromHere"), std::string::npos) << out;
    EXPECT_NE(out.find("+0x"), std::string::npos);
    EXPECT_NE(out.find("]\n-------------------------------------------------\n"), std::string::npos);
}

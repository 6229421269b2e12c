// Trace files and their headers, components, the maximum-size setting and
// hex dumps.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "trace/ctrc.h"
#include "trace/dptrc_hex.h"
#include "trace/errinfo.h"
#include "trace_test_util.h"
#include "tests/unit/scratch_dir.h"

namespace {

std::string Dir()
{
    const std::string d = KovTestTmp() + "/trace";
    (void)!std::system(("rm -rf " + d + " && mkdir -p " + d).c_str());
    return d;
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

const std::string kRule(51, '-');

int g_hookLevel = -1;
void Hook(int level)
{
    g_hookLevel = level;
}

int g_switches = 0;
void SwitchOver(DpTrcHdl, int64_t)
{
    ++g_switches;
    CTrcResetFile(tf);
}

}  // namespace

TEST(CTrc, FilesHeadersModesAndComponents)
{
    const std::string dir = Dir();
    const mode_t old = umask(077);
    ct_time_res = 0;
    FILE* f = CTrcInitFile((dir + "/dev_x.trc").c_str(), 1, 2);
    umask(old);
    ASSERT_NE(f, stderr);
    tf = f;
    EXPECT_EQ(ct_level, 2);
    struct stat st;
    ASSERT_EQ(stat((dir + "/dev_x.trc").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(Slurp(dir + "/dev_x.trc"),
              "\n" + kRule + "\ntrc file: \"dev_x.trc\", trc level: 2, release: \"720\"\n" + kRule + "\n");
    // A second initialisation leaves the level and the default file alone.
    FILE* g = CTrcInitFile((dir + "/dev_y.trc").c_str(), 0, 3);
    EXPECT_EQ(ct_level, 2);
    CTrcClose(g);

    // Components: M starts at level 3, others at 1; hooks are called.
    DpTrcHdl m = nullptr, n = nullptr;
    ASSERT_EQ(CTrcNewComp('m', &m, Hook), 0);
    EXPECT_EQ(CTrcGetHdlLevel(m), 3);
    EXPECT_EQ(g_hookLevel, 2);
    ASSERT_EQ(CTrcNewComp('n', &n, nullptr), 0);
    EXPECT_EQ(CTrcGetHdlLevel(n), 1);
    char text[2001];
    CTrcCompsText(text, sizeof text);
    EXPECT_STREQ(text, "All, n");
    EXPECT_EQ(CTrcCompsText(text, 100), -1);
    EXPECT_STREQ(text, "illegal parameter");
    char old2[2001];
    int oldLevel = 0;
    ASSERT_EQ(CTrcSetComps("n", 3, 2, old2, &oldLevel), 0);
    EXPECT_STREQ(old2, "All, n");
    EXPECT_EQ(oldLevel, 2);
    EXPECT_EQ(CTrcGetHdlLevel(m), 0);
    CTrcCompsText(text, sizeof text);
    EXPECT_STREQ(text, "n");
    ASSERT_EQ(CTrcSetComps("All", 3 | 0x80, 3, nullptr, nullptr), 0);
    CTrcCompsText(text, sizeof text);
    EXPECT_STREQ(text, "All");
    EXPECT_EQ(ct_level, 3);
    int lv = 0;
    ASSERT_EQ(CTrcGetParam(m, CTP_TRCLEVEL, &lv), 0);
    EXPECT_EQ(lv, 3);
    const int two = 2;
    ASSERT_EQ(CTrcSetParam(m, CTP_TRCLEVEL, &two), 0);
    EXPECT_EQ(CTrcGetHdlLevel(m), 2);
    // A hook for a handle that is no component is refused with one error
    // line each (the message's own newline split them in two).
    const size_t before = Slurp(dir + "/dev_x.trc").size();
    CTrcHook hook = Hook;
    EXPECT_EQ(CTrcSetParam(f, CTP_HOOKFUNC, &hook), -1);
    EXPECT_EQ(CTrcGetParam(f, CTP_HOOKFUNC, &hook), -1);
    const std::string lines = Slurp(dir + "/dev_x.trc").substr(before);
    const std::regex wrong("\\*\\*\\* ERROR => CTrcSetParam: Wrong handle \\[ctrc         \\d+\\]\n"
                           "\\*\\*\\* ERROR => CTrcGetParam: Wrong handle for CTP_HOOKFUNC \\[ctrc         \\d+\\]\n");
    EXPECT_TRUE(std::regex_match(lines, wrong)) << lines;

    // The table holds 1,999 entries.
    int made = next_free_comp - 1;
    DpTrcHdl h = nullptr;
    for (; made < 1999; ++made)
        ASSERT_EQ(CTrcNewComp('x', &h, nullptr), 0) << made;
    EXPECT_EQ(CTrcNewComp('x', &h, nullptr), -1);
    EXPECT_EQ(h, stderr);

    // Closing the default file: the table starts afresh and tf no longer
    // points at the closed stream.
    ASSERT_EQ(CTrcClose(tf), 0);
    EXPECT_EQ(tf, nullptr);
    EXPECT_EQ(next_free_comp, 1);
    EXPECT_EQ(CTrcNewComp('q', &h, nullptr), -1);  // not initialised: no default file
}

// A trace file written the way the libraries write it (lock, location, one
// writer call) through components, the file's own stream and the error
// layer's "***LOG" line, read back whole: header, prefixes, partial lines,
// located, errno and log lines.
TEST(CTrc, TraceFileWrittenThroughTheLibraryReadsBackExactly)
{
    const std::string dir = Dir();
    ct_time_res = 0;
    FILE* f = CTrcInitFile((dir + "/dev_w.trc").c_str(), 1, 2);
    ASSERT_NE(f, stderr);
    tf = f;
    DpTrcHdl n = nullptr;
    ASSERT_EQ(CTrcNewComp('n', &n, nullptr), 0);
    const int two = 2;
    ASSERT_EQ(CTrcSetParam(n, CTP_TRCLEVEL, &two), 0);
    const auto located = [](auto write) {
        DpTrcLockAcquire();
        DpTrcSaveLoc("/src/trace/mod", 1234);
        write();
        DpTrcLockRelease();
    };
    located([&] { DpTrc(n, "first\nsecond\n"); });
    located([&] { DpTrc(n, "part"); });
    located([&] { DpTrc(n, "ial %d\n", 1); });
    located([&] { DpTrc(n, "open"); });
    located([&] { DpTrc(n, " line\n"); });
    located([&] { DpTrc(tf, "on the file itself\n"); });
    located([&] { DpTrcErr(n, "boom %d\n", 5); });
    located([&] { DpTrcWarn(tf, "careful"); });
    located([&] {
        errno = ENOENT;
        DpTrcErrno(tf, "open %s\n", "x");
    });
    located([&] { DpTrcLog(n, "Q0I", "logged %s", "text"); });
    ASSERT_EQ(ErrSetSys("NI (network interface)", 40, "nibuf", 4658, 1, "descr", -10, "%s: pending %dms", "connect",
                        ENOENT, "host", 30),
              0);
    ASSERT_EQ(ErrSetSys("NI (network interface)", 40, "nibuf", 4659, 1, "descr", -10, "no errno", "close", 0), 0);
    ASSERT_EQ(CTrcClose(tf), 0);
    const std::string noent = std::strerror(ENOENT);
    EXPECT_EQ(Slurp(dir + "/dev_w.trc"), "\n" + kRule + "\ntrc file: \"dev_w.trc\", trc level: 2, release: \"720\"\n" +
                                             kRule + "\n" +
                                             "N  *\n"
                                             "N  * SWITCH TRC-LEVEL to 2\n"
                                             "N  *\n"
                                             "N  first\n"
                                             "N  second\n"
                                             "N  partial 1\n"
                                             "N  open line\n"
                                             "on the file itself\n"
                                             "N  *** ERROR => boom 5 [mod          1234]\n"
                                             "*** WARNING => careful [mod          1234]\n"
                                             "*** ERROR => open x (2: " +
                                             noent +
                                             ") [mod          1234]\n"
                                             "N  ***LOG Q0I=> logged text [mod          1234]\n"
                                             "***LOG Q0I=> host: pending 30ms: connect (2: " +
                                             noent +
                                             ") [nibuf 4658]\n"
                                             "***LOG Q0I=> no errno: close [nibuf 4659]\n");
    ErrClear();
}

TEST(CTrc, RefusesLinksAndSwitchesOverAtMaximumSize)
{
    const std::string dir = Dir();
    const std::string target = dir + "/precious";
    std::ofstream(target) << "keep";
    ASSERT_EQ(symlink(target.c_str(), (dir + "/dev_link.trc").c_str()), 0);
    FILE* f = CTrcOpen((dir + "/dev_link.trc").c_str(), "w");
    EXPECT_EQ(f, stderr);
    EXPECT_EQ(Slurp(target), "keep");

    ct_time_res = 0;
    tf = CTrcInitFile((dir + "/dev_big.trc").c_str(), 1, 1);
    ASSERT_NE(tf, stderr);
    CTrcSetClock(TestClock);
    g_testClock = {5000, 0};
    CTrcMaxFileSize s;
    ASSERT_EQ(CTrcParseMaxFileSize("on, 1 k", &s), 0);
    DpTrcSetMaxFileSize(s.size, SwitchOver);
    const std::string line(600, 'l');
    DpTrc(tf, "%s\n", line.c_str());  // header and one line: below 1 KiB
    EXPECT_EQ(g_switches, 0);
    g_testClock.tv_sec += 11;
    DpTrc(tf, "%s\n", line.c_str());
    EXPECT_EQ(g_switches, 1);
    DpTrc(tf, "after\n");
    EXPECT_EQ(Slurp(dir + "/dev_big.trc"), "after\n");
    DpTrcMaxFileSizeOff();
    CTrcSetClock(nullptr);
    CTrcClose(tf);

    EXPECT_EQ(CTrcParseMaxFileSize("on, 10 m, global=on", &s), 0);
    EXPECT_EQ(s.on, 1);
    EXPECT_EQ(s.size, 10485760);
    EXPECT_EQ(s.global, 1);
    EXPECT_EQ(CTrcParseMaxFileSize("ON 10K", &s), 0);
    EXPECT_EQ(s.size, 10240);
    EXPECT_EQ(s.global, 0);
    EXPECT_EQ(CTrcParseMaxFileSize("OFF", &s), 0);
    EXPECT_EQ(s.on, 0);
    EXPECT_EQ(CTrcParseMaxFileSize("ON,10", nullptr), -1);
    EXPECT_EQ(CTrcParseMaxFileSize("ON 10 G", nullptr), -1);
    EXPECT_EQ(CTrcParseMaxFileSize("ON 9223372036854775807 K", nullptr), -1);
    EXPECT_EQ(CTrcParseMaxFileSize("ON 99999999999999999999999 M", nullptr), -1);
    EXPECT_EQ(CTrcParseMaxFileSize("ON 8796093022207 M", nullptr), 0);
    EXPECT_EQ(CTrcParseMaxFileSize("ON 8796093022208 M", nullptr), -1);
}

TEST(HexDump, LayoutsAndMasking)
{
    ScratchStream s;
    ct_time_res = 0;
    unsigned char data[20];
    for (int i = 0; i < 20; ++i)
        data[i] = static_cast<unsigned char>(i < 16 ? 'A' + i : i);
    DpTrcHexDumpShort(s.f, "title", data, 20, 0);
    const std::string out = s.Take();
    const std::string rule(72, '-');
    char l1[100], l2[100];
    snprintf(l1, sizeof l1, "%p  000000  41424344 45464748 494a4b4c 4d4e4f50 |ABCDEFGHIJKLMNOP|\n",
             static_cast<void*>(data));
    snprintf(l2, sizeof l2, "%p  000016  10111213                            |....            |\n",
             static_cast<void*>(data + 16));
    EXPECT_EQ(out, "Adresse   Offset  title\n" + rule + "\n" + l1 + l2 + rule + "\n");

    // Masked from the S of SID through the W of -NEW, across a line end.
    const std::string secret = "abcSID:ANON:someuser-NEWtail";
    DpTrcHexDumpShort(s.f, "t", secret.data(), static_cast<int>(secret.size()), 0);
    const std::string masked = s.Take();
    EXPECT_NE(masked.find("|abc.............|"), std::string::npos) << masked;
    EXPECT_NE(masked.find("|........tail    |"), std::string::npos) << masked;
    EXPECT_EQ(masked.find("6e6f6e"), std::string::npos);
    DpTrcSetHiding(0);
    DpTrcHexDumpShort(s.f, "t", secret.data(), static_cast<int>(secret.size()), 0);
    EXPECT_NE(s.Take().find("|abcSID:ANON:some|"), std::string::npos);
    DpTrcSetHiding(1);
    // A region that never ends masks the rest; the next dump starts clear.
    const std::string open = "xSID:ANON:abcdefghijklmnop";
    DpTrcHexDumpShort(s.f, "t", open.data(), static_cast<int>(open.size()), 0);
    EXPECT_NE(s.Take().find("|x...............|"), std::string::npos);
    DpTrcHexDumpShort(s.f, "t", "plain", 5, 0);
    EXPECT_NE(s.Take().find("|plain           |"), std::string::npos);
    // EBCDIC shown as ASCII, and back.
    const unsigned char ebc[] = {0xC8, 0x85, 0x93, 0x93, 0x96, 0x4A, 0x05};
    DpTrcHexDumpShort(s.f, "e", ebc, sizeof ebc, 1);
    EXPECT_NE(s.Take().find("|Hello..         |"), std::string::npos);
    for (int c = 0x20; c < 0x7F; ++c)
        EXPECT_EQ(PrToAscii(PrToEbcdic(static_cast<unsigned char>(c))), c) << c;
    DpTrcHexDumpShort(s.f, "bad mode", data, 20, 3);
    EXPECT_EQ(s.Take(), "");
}

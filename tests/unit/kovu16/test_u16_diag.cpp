// Diagnostics of the 16-bit library: the frame (its header, the command line
// once, the cuts that keep it within its buffer), the hex dumps, the level
// reports, the version check and text, and the throttled reports of fgetcU16.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "i18n/kovu16/u16_diag.h"
#include "i18n/kovu16/u16_stream.h"
#include "trace_capture.h"
#include "u16_test_util.h"

namespace {

TEST(U16Frame, HeaderCommandLineOnceAndCuts)
{
    TraceCapture cap;
    // A command line longer than its buffer is cut with its terminator.
    const std::string longcmd(300, 'c');
    u16_saveCmdline(longcmd.c_str());
    EXPECT_EQ(std::string(u16_cmdlineBuffer()), longcmd.substr(0, 256));

    const std::string source70(70, 's');
    u16_frameMessage("first", (source70.substr(0, 69) + "X").c_str(), 12, true);
    u16_frameMessage(std::string(5000, 'm').c_str(), "src.c", 7, true);
    u16_frameMessage(std::string(5000, 'n').c_str(), "src.c", 8, false);
    ASSERT_EQ(traced().size(), 3u);
    const std::string& first = traced()[0];
    EXPECT_EQ(first.rfind("--- Unicode interface [..." + source70.substr(13, 56) + "X line 12] pid = ", 0), 0u)
        << first;
    EXPECT_NE(first.find(":\nCmdline : " + longcmd.substr(0, 256) +
                         "\nfirst\n--- Unicode interface ------ End of message ------"),
              std::string::npos);
    EXPECT_EQ(traced()[1].find("Cmdline"), std::string::npos);
    // Long texts are cut to leave room for the trailer; the whole fits 1,024 bytes.
    EXPECT_EQ(traced()[1].size(), 968u + 51u);
    EXPECT_EQ(traced()[1].substr(968), "\n--- Unicode interface ------ End of message ------");
    EXPECT_EQ(traced()[2].size(), 1020u);
    EXPECT_EQ(traced()[2].back(), 'n');
}

TEST(U16Frame, HexDumps)
{
    TraceCapture cap;
    const U16 units = u16(u"ab\u00e9");
    u16_dumpUnits(units.data(), 3);
    const unsigned char bytes[17] = {'A', ' ', 0x7E, 0x7F, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0xFF};
    u16_dumpBytes(bytes, 17);
    ASSERT_EQ(traced().size(), 3u);
    EXPECT_EQ(traced()[0], " 0061 0062 00e9" + std::string(27, ' ') + "|ab.     |");
    EXPECT_EQ(traced()[1], " 41 20 7e 7f 00 01 02 03 04 05 06 07 08 09 0a 0b |A.~.............|");
    EXPECT_EQ(traced()[2], " ff" + std::string(46, ' ') + "|." + std::string(15, ' ') + "|");
}

TEST(U16Frame, LevelReportsAndStandardReports)
{
    TraceCapture cap(U16_TRACE_MEDIUM);
    u16_setTraceLevel(0, nullptr);
    EXPECT_TRUE(traced().empty());
    u16_setTraceLevel(16, nullptr);
    u16_setTraceLevel(0, nullptr);
    ASSERT_EQ(traced().size(), 2u);
    EXPECT_NE(traced()[0].find("[u16_aux.c line 113]"), std::string::npos);
    EXPECT_NE(traced()[0].find("U16 trace level set to high\n--- Unicode"), std::string::npos);
    EXPECT_NE(traced()[1].find("U16 trace level set to none\n"), std::string::npos);

    errno = 0;
    u16_reportOutOfMemory("f", "x.c", 1);  // level 0: silent, errno still set
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(traced().size(), 2u);
    u16_trace_level = 1;
    u16_reportFileName(std::string(100, 'p').c_str(), 0x1f, "fopenU16xxxxx", "x.c", 2);
    EXPECT_NE(traced().back().find("fopenU16xx \"..." + std::string(80, 'p') + "\" (fileno 0x1f)"), std::string::npos);
    // An odd string pointer is shown up to its terminator.
    alignas(2) char raw[8] = {0, 'h', 0, 'i', 0, 0, 0, 0};
    const auto* odd = reinterpret_cast<const KOV_UTF16*>(raw + 1);
    EXPECT_EQ(dbgAlignCheckStringU16(odd), odd);
    EXPECT_NE(traced().back().find("is unaligned:\nh.i."), std::string::npos) << traced().back();
}

TEST(U16Version, CheckAndText)
{
    TraceCapture cap(0);
    const char* mine = u16_versionString();
    EXPECT_EQ(u16_checkVersion(mine, false), 0);
    EXPECT_EQ(u16_checkVersion("@(#) libkovu16.0001.0024", false), 0);
    EXPECT_EQ(u16_checkVersion("@(#) libkovu16.0001.0026", false), 4);
    EXPECT_EQ(u16_checkVersion("@(#) libkovu16.0002.0001", false), 4);
    EXPECT_EQ(u16_checkVersion("@(#) libkovu16.0001", false), 0);
    EXPECT_EQ(u16_checkVersion("short", false), 4);
    EXPECT_TRUE(traced().empty());
    u16_trace_level = 4;
    EXPECT_EQ(u16_checkVersion(mine, false), 0);
    EXPECT_TRUE(traced().empty());
    EXPECT_EQ(u16_checkVersion("@(#) libkovu16.0001.9999", false), 4);
    ASSERT_EQ(traced().size(), 2u);
    EXPECT_EQ(traced()[0], "libkovu16[..]: Wrong version.");
    EXPECT_EQ(traced()[1].rfind(std::string("libkovu16[..] version: ") + mine + " [u16_vers.c 105] pid = ", 0), 0u);

    KOV_UTF16 buf[40];
    EXPECT_EQ(u16_versionText(buf, 40), 28u);
    EXPECT_EQ(as_text(buf), u"1.0025  Apr 10 2015 19:16:21");
    buf[3] = 0x5555;
    EXPECT_EQ(u16_versionText(buf, 3), 3u);
    EXPECT_EQ(buf[2], '0');
    EXPECT_EQ(buf[3], 0x5555);
    EXPECT_EQ(u16_versionText(buf, 0), 0u);
}

TEST(U16Reports, FgetcReportsAreThrottled)
{
    TraceCapture cap(U16_TRACE_MEDIUM);
    std::string bad;
    for (int i = 0; i < 105; ++i)
        bad += "\xC3(";
    FILE* f = fmemopen(bad.data(), bad.size(), "r");
    unsetenv("NLSUI_FILE_TRACE");
    no_fgetcU_errors = 0;
    int reports = 0, limits = 0;
    for (int i = 0; i < 105; ++i) {
        errno = 0;
        ASSERT_EQ(fgetcU16(f), '#');
        ASSERT_EQ(errno, EILSEQ);
        ASSERT_EQ(fgetcU16(f), '(');  // the byte that broke the sequence is read next
    }
    fclose(f);
    for (const std::string& t : traced()) {
        reports += t.find("Invalid UTF-8 encountered by fgetcU16 (fileno 0x") != std::string::npos;
        limits += t.find(
                      "Too many invalid UTF-8 in fgetcU16, no more error message will be written for 3600 seconds") !=
                  std::string::npos;
    }
    EXPECT_EQ(reports, 99);
    EXPECT_EQ(limits, 1);
    // Once the interval has passed the next error resets the count.
    last_fgetcU_error -= 3601;
    std::string one = "\xFF";
    f = fmemopen(one.data(), 1, "r");
    traced().clear();
    EXPECT_EQ(fgetcU16(f), '#');
    fclose(f);
    ASSERT_EQ(traced().size(), 2u);
    EXPECT_NE(traced()[0].find("fgetcU16 error counter reset"), std::string::npos);
    EXPECT_EQ(no_fgetcU_errors, 0);
}

}  // namespace

// The version report and the version-option check.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "krn/runt/kovrel.h"
#include "tests/unit/scratch_dir.h"

namespace {

std::string Report(int longReport, int mode)
{
    testing::internal::CaptureStdout();
    KovRelPrintReport(longReport, mode);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(KovRel, LongReportLayout)
{
    const std::string r = Report(1, 16);
    EXPECT_EQ(r.rfind("\n--------------------\nKOVZEF information\n--------------------\n", 0), 0u);
    // Labels are padded to 30 columns.
    EXPECT_NE(r.find("\nkernel release                720\n"), std::string::npos);
    EXPECT_NE(r.find("\nkernel make variant           720_REL\n"), std::string::npos);
    EXPECT_NE(r.find("\nDBMS client library           \n"), std::string::npos);
    EXPECT_NE(r.find("\ncompiled on                   Linux GNU SLES-9 x86_64 cc4.1.2  for linuxx86_64\n"),
              std::string::npos);
    EXPECT_NE(r.find("\ncompiled for                  64 BIT\n"), std::string::npos);
    EXPECT_NE(r.find("\ncompilation mode              Non-Unicode\n"), std::string::npos);
    EXPECT_NE(r.find("\ncompile time                  Apr 16 2015 19:11:50\n"), std::string::npos);
    EXPECT_NE(r.find("\nupdate level                  0\n"), std::string::npos);
    EXPECT_NE(r.find("\npatch number                  721\n"), std::string::npos);
    EXPECT_NE(r.find("\nsource id                     0.721\n"), std::string::npos);
    const std::string blanks(30, ' ');
    EXPECT_NE(r.find("\ndatabase (KOV, table SVERS)   700\n" + blanks + "710\n"), std::string::npos);
    EXPECT_NE(r.find("732\n" + blanks + "\noperating system\nLinux 2.6\nLinux 3\n"), std::string::npos);
    EXPECT_NE(r.find("\n\n---------------------------\nKOVZEF patch information\n"), std::string::npos);
    EXPECT_NE(r.find("( 0.721) "), std::string::npos);
}

TEST(KovRel, ShortReportHasNoClientLibraryOrNotes)
{
    const std::string r = Report(0, 16);
    EXPECT_EQ(r.find("DBMS client library"), std::string::npos);
    EXPECT_EQ(r.find("patch information"), std::string::npos);
    EXPECT_NE(r.find("\npatch number                  721\n"), std::string::npos);
}

TEST(KovRelDeathTest, VersionOptionExitsWithZero)
{
    char prog[] = "kovzef";
    char* noArgs[] = {prog, nullptr};
    EXPECT_EXIT(KovRelCheckVersionOption(1, noArgs, 16), testing::ExitedWithCode(0), "");
    // argc 0: no argument vector entry is read at all.
    EXPECT_EXIT(KovRelCheckVersionOption(0, nullptr, 16), testing::ExitedWithCode(0), "");
    char v[] = "-version";
    char* version[] = {prog, v, nullptr};
    EXPECT_EXIT(KovRelCheckVersionOption(2, version, 16), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(KovRelPrintAndExit(1, 16), testing::ExitedWithCode(0), "");
}

TEST(KovRel, ReleaseNumbersAndChecks)
{
    EXPECT_EQ(KovRelNumber("720"), 7200);
    EXPECT_EQ(KovRelNumber("72L"), 7250);
    EXPECT_EQ(KovRelNumber("46C"), 4630);
    EXPECT_EQ(KovRelNumber("46K"), 4700);
    EXPECT_EQ(KovRelNumber("310"), 3040);  // read as 3, 0, E (gave 3140)
    EXPECT_EQ(KovRelNumber("7A0"), -1);
    EXPECT_EQ(KovRelNumber("72"), -1);
    unsetenv("KOV_SKIP_VERSIONCHECK");
    EXPECT_EQ(KovRelCheckRelease(3, "Linux 2.6.16", 9), 1);
    EXPECT_EQ(KovRelCheckRelease(3, "Linux 2", 7), 1);
    EXPECT_EQ(KovRelCheckRelease(3, "Linux 4", 7), 0);
    EXPECT_EQ(KovRelCheckRelease(1, "731", 3), 1);
    EXPECT_EQ(KovRelCheckRelease(2, "731", 3), 0);
    setenv("KOV_SKIP_VERSIONCHECK", "yes", 1);
    EXPECT_EQ(KovRelCheckRelease(3, "Linux 4", 7), 0);
    setenv("KOV_SKIP_VERSIONCHECK", "YES", 1);
    EXPECT_EQ(KovRelCheckRelease(3, "Linux 4", 7), 1);
    unsetenv("KOV_SKIP_VERSIONCHECK");
    EXPECT_EQ(KovRelCompareDbRelease(nullptr), 2);
    int rel = 0, ul = -1, pn = 0, iv = 0;
    unsetenv("KOV_IKVERS");
    KovRelGetVersions(16, &rel, &ul, &pn, &iv);
    EXPECT_EQ(rel, 7200);
    EXPECT_EQ(ul, 0);
    EXPECT_EQ(pn, 721);
    EXPECT_EQ(iv, 20020600);
    EXPECT_STREQ(KovRelExeName(16), "KOVZEF");
    EXPECT_STREQ(KovRelExeCommand(16), "KOVZEF -version");
    EXPECT_STREQ(KovRelExeName(54), "executable");
    int count = 0;
    const char* const* notes = KovRelNotes(16, &count);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(notes[6], nullptr);
    EXPECT_EQ(KovRelNotes(5, &count)[0], nullptr);
}

TEST(KovRel, VersionInfoMarkersAcrossChunks)
{
    const std::string dir = KovTestTmp();
    (void)!std::system(("mkdir -p " + dir).c_str());
    const std::string path = dir + "/verinfo.bin";
    const auto readBack = [&path](const std::string& data) {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
        char *fv = nullptr, *pv = nullptr, *pl = nullptr, *sb = nullptr;
        ASSERT_EQ(KovRelReadVersionInfo(path.c_str(), &fv, &pv, &pl, &sb), 1);
        EXPECT_STREQ(fv, "1, 2");
        EXPECT_STREQ(pv, "p");
        EXPECT_STREQ(pl, "q");
        EXPECT_STREQ(sb, "s");
        std::free(fv), std::free(pv), std::free(pl), std::free(sb);
    };
    std::string data(8190, 'x');                              // the second marker straddles the first chunk's end
    static const char kFirst[] = "#[%]KOVFileVersion: 1, 2";  // with its NUL
    data.append(kFirst, sizeof kFirst);
    data += std::string(9000, 'y');
    static const char kRest[] = "#[%]KOVProductVersion: p\0#[%]KOVPlatform: q\0#[%]KOVSpecialBuild: s";
    data.append(kRest, sizeof kRest);
    readBack(data);
    // All markers as the very last bytes of files around chunk multiples: a
    // size of exactly 8,192 or 16,384 left the final tail unsearched.
    const std::string all = std::string(kFirst, sizeof kFirst) + std::string(kRest, sizeof kRest - 1);
    for (size_t size : {all.size(), size_t{8191}, size_t{8192}, size_t{8193}, size_t{16384}}) {
        SCOPED_TRACE(size);
        readBack(std::string(size - all.size(), 'z') + all);
    }
    char* fv = nullptr;
    EXPECT_EQ(KovRelReadVersionInfo((dir + "/missing").c_str(), &fv, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(KovRelReadVersionInfo(nullptr, &fv, nullptr, nullptr, nullptr), 1);
    EXPECT_STREQ(fv, "7200, 721, 24, 341");
    std::free(fv);
}

// The version report and the version-option check.
#include <gtest/gtest.h>

#include <string>

#include "krn/runt/kovrel.h"

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


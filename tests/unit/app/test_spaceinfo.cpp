// The disk-space estimate: grouping per file system, the comparison with the
// free space (through a replaceable query, since tests cannot fill a disk),
// and the report texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/application.h"
#include "app/options.h"
#include "app/spaceinfo.h"
#include "tests/unit/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

double g_tmpFree = 0.0;
double FakeFreeSpace(const char* path)
{
    return std::string(path).rfind("/proc", 0) == 0 ? 1e12 : g_tmpFree;
}

class SpaceInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::path(KovTestTmp()) / ("space-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "a");
        fs::create_directories(root / "b");
        saved = CSpaceInfo::freeSpaceQuery;
        CSpaceInfo::freeSpaceQuery = &FakeFreeSpace;
        COptions::Instance().extractDir = nullptr;
        CApplication::Instance().SetExitStatus(0);
    }
    void TearDown() override
    {
        CSpaceInfo::freeSpaceQuery = saved;
        fs::remove_all(root);
    }
    std::string At(const std::string& rel) const { return (root / rel).string(); }

    fs::path root;
    CSpaceInfo::FreeSpaceFn saved = nullptr;
};

TEST_F(SpaceInfoTest, NearestExistingParent)
{
    EXPECT_EQ(CSpaceInfo::FindExistingParent(""), "");
    EXPECT_EQ(CSpaceInfo::FindExistingParent(At("a/new/deeper/f")), At("a"));
    EXPECT_EQ(CSpaceInfo::FindExistingParent(At("a") + "/"), At("a"));
    EXPECT_EQ(CSpaceInfo::FindExistingParent("/no-such-top-dir/x/y"), "/");
    EXPECT_EQ(CSpaceInfo::FindExistingParent("no-such-rel-dir/x"), ".");
}

TEST_F(SpaceInfoTest, EntriesOnOneFileSystemAreSummed)
{
    CSpaceInfo info;
    info.AddEntry(At("a/new/f"), 3000.0);
    info.AddEntry(At("b/g"), 2000.0);
    info.AddEntry(At("a/zero"), 0.0);
    ASSERT_EQ(info.Items().size(), 1u);
    EXPECT_DOUBLE_EQ(info.Items()[0].needed, 5000.0);
    EXPECT_EQ(info.Items()[0].directory, At("a"));

    g_tmpFree = 5001.0;  // fits the sum with a byte to spare
    EXPECT_EQ(info.GetText(), "\nThe extraction requires approximately...\n"
                              "\t       4.882812 KB in " +
                                  At("a"));
    EXPECT_EQ(CApplication::Instance().GetExitStatus(), 0);
}

TEST_F(SpaceInfoTest, ExistingFilesCountOnlyWhatTheyGrow)
{
    std::ofstream(At("a/existing")) << std::string(1000, 'x');
    CSpaceInfo info;
    info.AddEntry(At("a/existing"), 1000.0);
    EXPECT_TRUE(info.Items().empty());
    EXPECT_EQ(info.GetText(), "\nThe extraction does not require free disk space (maybe\n"
                              "the extraction will only overwrite existing files of\n"
                              "greater or equal size or the uncompressed size of each\n"
                              "file in the archive is zero).");
    info.AddEntry(At("a/existing"), 3048.0);
    ASSERT_EQ(info.Items().size(), 1u);
    EXPECT_DOUBLE_EQ(info.Items()[0].needed, 2048.0);
}

TEST_F(SpaceInfoTest, MissingSpaceListsOnlyTheFileSystemsShort)
{
    CSpaceInfo info;
    info.AddEntry(At("a/f"), 5096.0);
    info.AddEntry("/proc/no-such-entry/f", 4096.0);
    ASSERT_EQ(info.Items().size(), 2u);
    g_tmpFree = 1000.0;
    const std::string text = info.GetText();
    EXPECT_EQ(text, "\nThere is free space missing... \n\t       4.000000 KB in " + At("a"));
    EXPECT_EQ(CApplication::Instance().GetExitStatus(), 30);
    // The report can be asked for again and says the same.
    EXPECT_EQ(info.GetText(), text);
}

TEST_F(SpaceInfoTest, AtLeastOneByteMustRemain)
{
    CSpaceInfo info;
    info.AddEntry(At("a/f"), 1000.0);
    g_tmpFree = 1001.0;
    EXPECT_NE(info.GetText().find("requires approximately"), std::string::npos);
    EXPECT_EQ(CApplication::Instance().GetExitStatus(), 0);
    g_tmpFree = 1000.5;  // short by less than a byte: missing, but nothing to list
    EXPECT_EQ(info.GetText(), "\nThere is free space missing... \n");
    EXPECT_EQ(CApplication::Instance().GetExitStatus(), 30);
}

TEST_F(SpaceInfoTest, RelativeNamesLandBelowTheTargetDirectory)
{
    const std::string target = At("b");
    COptions::Instance().extractDir = target.c_str();
    CSpaceInfo info;
    info.AddEntry("x/y", 10.0);
    info.AddEntry(At("a/abs"), 10.0);  // absolute names ignore the target
    ASSERT_EQ(info.Items().size(), 1u);
    EXPECT_EQ(info.Items()[0].directory, target);
    EXPECT_DOUBLE_EQ(info.Items()[0].needed, 20.0);
    COptions::Instance().extractDir = nullptr;
}

TEST(SpaceInfoQuery, FailedQueryCountsAsNoSpace)
{
    EXPECT_EQ(CSpaceInfo::QueryFreeSpace("/no/such/path/at/all"), -1.0);
    EXPECT_GT(CSpaceInfo::QueryFreeSpace("/"), 0.0);
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "app/entryinfo.h"

namespace {

class EntryInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    static KoxHeaderInfo Info(uint32_t mode, uint64_t size, uint32_t sizeHigh = 0)
    {
        KoxHeaderInfo i;
        i.SetType(KOX_TYPE_FILE);
        i.mode = mode;
        i.size = size;
        i.sizeHigh = sizeHigh;
        i.mtime = 1700000000;  // 14 Nov 2023 22:13 UTC
        return i;
    }
};

TEST_F(EntryInfoTest, RegularFileLine)
{
    CEntryInfo e(Info(0100644, 1234), "dir/file.txt", 0);
    EXPECT_EQ(e.GetText(), "-rw-r--r--        1234    14 Nov 2023 22:13 dir/file.txt");
    EXPECT_EQ(e.GetName(), "dir/file.txt");
}

TEST_F(EntryInfoTest, TypeLettersAndVerification)
{
    EXPECT_EQ(CEntryInfo::PermissionString(040755, false), "drwxr-xr-x");
    EXPECT_EQ(CEntryInfo::PermissionString(0120777, false), "lrwxrwxrwx");
    EXPECT_EQ(CEntryInfo::PermissionString(0100600, true), "srw-------");
    EXPECT_EQ(CEntryInfo::PermissionString(040700, true), "drwx------");
    EXPECT_EQ(CEntryInfo::PermissionString(0, false), "----------");
}

TEST_F(EntryInfoTest, SetIdAndStickyBitsShowAsS)
{
    EXPECT_EQ(CEntryInfo::PermissionString(041777, false), "drwxrwxrws");
    EXPECT_EQ(CEntryInfo::PermissionString(0104755, false), "-rwsr-xr-x");
    EXPECT_EQ(CEntryInfo::PermissionString(0102711, false), "-rwx--s--x");
    // Set whether or not the execute bit is there.
    EXPECT_EQ(CEntryInfo::PermissionString(0107000, false), "---s--s--s");
}

TEST_F(EntryInfoTest, LargeSizesAreExactAndPushTheLine)
{
    // size high counts in units of 2^32
    CEntryInfo big(Info(0100644, 5, 2), "b", 0);
    EXPECT_EQ(big.GetText(), "-rw-r--r--  8589934597    14 Nov 2023 22:13 b");
    CEntryInfo huge(Info(0100644, 1234567890123ull), "h", 0);
    EXPECT_EQ(huge.GetText(), "-rw-r--r--1234567890123    14 Nov 2023 22:13 h");
    CEntryInfo top(Info(0100644, UINT64_MAX, UINT32_MAX), "t", 0);
    EXPECT_EQ(top.GetText().substr(10, 27), "36893488143124135935    14 ");
}

TEST_F(EntryInfoTest, DateFormattingAndFailure)
{
    EXPECT_EQ(CEntryInfo::DateString(0), "01 Jan 1970 00:00");
    EXPECT_EQ(CEntryInfo::DateString(UINT64_MAX), "");
    KoxHeaderInfo i = Info(0100644, 1);
    i.mtime = UINT64_MAX;
    CEntryInfo e(i, "x", 0);
    // An empty date still takes its 20 columns.
    EXPECT_EQ(e.GetText(), "-rw-r--r--           1                      x");
}

}  // namespace

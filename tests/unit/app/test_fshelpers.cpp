// File-system helpers: the find-first/find-next reader, path types and the
// small file operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "app/except.h"
#include "app/fshelpers.h"
#include "tests/unit/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

class FsHelpersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::path root = KovTestTmp();
        dir_ = root / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        old_ = fs::current_path();
        fs::current_path(dir_);
    }
    void TearDown() override
    {
        fs::current_path(old_);
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }

    static void Touch(const std::string& name) { std::ofstream(name) << "x"; }

    // Every name FindFirst/FindNext yield for a path.
    static std::set<std::string> List(const char* path)
    {
        std::set<std::string> names;
        FindData data;
        FindHandle h = FindFirst(path, data);
        if (h == nullptr)
            return names;
        do
            names.insert(data.name);
        while (FindNext(h, data));
        EXPECT_EQ(GetLastErrorCode(), KOV_NO_MORE_FILES);
        EXPECT_TRUE(FindClose(h));
        return names;
    }

    fs::path dir_, old_;
};

TEST_F(FsHelpersTest, FindListsMatchingEntriesWithAttributes)
{
    Touch("a.kox");
    Touch("b.txt");
    fs::create_directory("sub");
    Touch("sub/c.kox");
    fs::create_symlink("a.kox", "link.kox");

    EXPECT_EQ(List("*"), (std::set<std::string>{".", "..", "a.kox", "b.txt", "sub", "link.kox"}));
    EXPECT_EQ(List("."), List("*"));
    EXPECT_EQ(List("*.kox"), (std::set<std::string>{"a.kox", "link.kox"}));
    EXPECT_EQ(List("sub/*"), (std::set<std::string>{".", "..", "c.kox"}));
    EXPECT_EQ(List("sub/../?.kox"), (std::set<std::string>{"a.kox"}));
    EXPECT_TRUE(List("sub/").empty());  // empty pattern matches nothing
    EXPECT_TRUE(List("nothere/*").empty());
    EXPECT_TRUE(List("*.none").empty());

    FindData data;
    FindHandle h = FindFirst("sub", data);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(data.attributes, KOV_ATTR_DIRECTORY);
    EXPECT_EQ(data.directory, "./");
    EXPECT_EQ(data.pattern, "sub");
    EXPECT_STREQ(data.name, "sub");
    EXPECT_FALSE(FindNext(h, data));
    EXPECT_EQ(GetLastErrorCode(), KOV_NO_MORE_FILES);
    FindClose(h);

    h = FindFirst("link.kox", data);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(data.attributes, KOV_ATTR_SYMLINK);
    FindClose(h);
    h = FindFirst("sub/c.kox", data);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(data.attributes, KOV_ATTR_REGULAR);
    EXPECT_EQ(data.directory, "sub/");
    FindClose(h);
}

TEST_F(FsHelpersTest, FindAllGivesEveryKindAsLstatDoes)
{
    fs::create_directory("kinds");
    fs::create_directory("kinds/dir");
    Touch("kinds/file");
    fs::create_symlink("file", "kinds/link");
    fs::create_symlink("missing", "kinds/dangling");
    fs::create_symlink("dir", "kinds/dirlink");
    ASSERT_EQ(mkfifo("kinds/fifo", 0600), 0);

    FindData data;
    std::vector<FoundEntry> entries;
    int endCode = 0;
    ASSERT_TRUE(FindAll("kinds/*", data, entries, endCode));
    EXPECT_EQ(entries.size(), 8u);
    for (const FoundEntry& e : entries) {
        uint32_t expected = 99;
        ASSERT_TRUE(GetLinkAttributes(("kinds/" + e.name).c_str(), expected)) << e.name;
        EXPECT_EQ(e.attributes, expected) << e.name;
    }
    const auto kindOf = [&](const std::string& name) {
        for (const FoundEntry& e : entries)
            if (e.name == name)
                return e.attributes;
        return 99u;
    };
    EXPECT_EQ(kindOf("fifo"), 0u);
    EXPECT_EQ(kindOf("dangling"), KOV_ATTR_SYMLINK);
    EXPECT_EQ(kindOf("dirlink"), KOV_ATTR_SYMLINK);
    EXPECT_EQ(kindOf("dir"), KOV_ATTR_DIRECTORY);

    // A second listing with the same record starts over with an lstat.
    ASSERT_TRUE(FindAll("kinds/file", data, entries, endCode));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].attributes, KOV_ATTR_REGULAR);
}

TEST_F(FsHelpersTest, FindSplitsRootAndShortDirectories)
{
    FindData data;
    FindHandle h = FindFirst("/*", data);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(data.directory, "/");
    FindClose(h);

    fs::create_directory("d");
    Touch("d/x");
    h = FindFirst("d/x", data);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(data.directory, "d/");
    FindClose(h);

    h = FindFirst("..", data);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(data.directory, "../");
    EXPECT_EQ(data.pattern, "*");
    FindClose(h);
}

TEST_F(FsHelpersTest, FindAllClosesBeforeReturning)
{
    fs::create_directory("deep");
    for (int i = 0; i < 50; ++i)
        Touch("deep/f" + std::to_string(i));

    FindData data;
    std::vector<FoundEntry> entries;
    int endCode = 0;
    ASSERT_TRUE(FindAll("deep/f*", data, entries, endCode));
    EXPECT_EQ(endCode, KOV_NO_MORE_FILES);
    EXPECT_EQ(entries.size(), 50u);
    for (const FoundEntry& e : entries)
        EXPECT_EQ(e.attributes, KOV_ATTR_REGULAR);

    // The same order as FindFirst/FindNext give.
    std::vector<std::string> stepwise;
    FindHandle h = FindFirst("deep/f*", data);
    do
        stepwise.emplace_back(data.name);
    while (FindNext(h, data));
    FindClose(h);
    ASSERT_EQ(stepwise.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(entries[i].name, stepwise[i]);

    EXPECT_FALSE(FindAll("deep/none*", data, entries, endCode));
    EXPECT_TRUE(entries.empty());

    // Listing many directories one after the other leaves no descriptor open.
    for (int i = 0; i < 5000; ++i)
        ASSERT_TRUE(FindAll("deep/*", data, entries, endCode)) << i;
    const int fd = dup(0);
    EXPECT_LT(fd, 64);
    close(fd);
}

TEST_F(FsHelpersTest, PathTypes)
{
    Touch("file");
    fs::create_directory("dir");
    fs::create_symlink("file", "good");
    fs::create_symlink("nowhere", "dangling");

    EXPECT_EQ(GetPathType("file"), KOV_PATH_REGULAR);
    EXPECT_EQ(GetPathType("dir"), KOV_PATH_DIRECTORY);
    EXPECT_EQ(GetPathType("good"), KOV_PATH_REGULAR);
    EXPECT_EQ(GetPathType("dangling"), KOV_PATH_DANGLING);
    EXPECT_EQ(GetPathType("/dev/null"), KOV_PATH_OTHER);
    EXPECT_THROW(GetPathType("missing"), CAccessExcept);

    EXPECT_TRUE(IsSymbolicLink("dangling"));
    EXPECT_FALSE(IsSymbolicLink("file"));
    EXPECT_FALSE(IsSymbolicLink(""));
    EXPECT_TRUE(PathExists("good"));
    EXPECT_FALSE(PathExists("dangling"));

    uint32_t attributes = 1;
    EXPECT_TRUE(GetLinkAttributes("dangling", attributes));
    EXPECT_EQ(attributes, KOV_ATTR_SYMLINK);
    EXPECT_FALSE(GetLinkAttributes("missing", attributes));
    EXPECT_EQ(attributes, 0u);

    double size = 0;
    EXPECT_TRUE(GetFileSize("good", size));
    EXPECT_EQ(size, 1.0);
    EXPECT_FALSE(GetFileSize("dangling", size));

    uint32_t mode = 0, high = 7, unused = 0, reserved = 7;
    uint64_t bytes = 0, mtime = 0;
    EXPECT_TRUE(GetFileInfo(nullptr, "good", mode, bytes, high, mtime, unused, reserved, true));
    EXPECT_TRUE(S_ISREG(mode));
    EXPECT_EQ(bytes, 1u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(reserved, 0u);
    EXPECT_TRUE(GetFileInfo(nullptr, "good", mode, bytes, high, mtime, unused, reserved, false));
    EXPECT_TRUE(S_ISLNK(mode));
    mode = 123;
    EXPECT_FALSE(GetFileInfo(nullptr, "dangling", mode, bytes, high, mtime, unused, reserved, true));
    EXPECT_EQ(mode, 123u);
}

TEST_F(FsHelpersTest, SetFileModeAndTime)
{
    Touch("f");
    SetFileModeAndTime("f", 0100640, 1000000000);
    struct stat st;
    ASSERT_EQ(stat("f", &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000);
    EXPECT_EQ(st.st_atime, 1000000000);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Links are left alone: their target keeps its mode.
    fs::create_symlink("f", "l");
    SetFileModeAndTime("l", 0120777, 5);
    ASSERT_EQ(stat("f", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    EXPECT_THROW(SetFileModeAndTime("missing", 0100644, 5), CChgDateExcept);
}

TEST_F(FsHelpersTest, FileOperations)
{
    EXPECT_TRUE(CreateDirectory("newdir"));
    EXPECT_TRUE(CreateDirectory("newdir"));
    Touch("plain");
    EXPECT_TRUE(CreateDirectory("plain"));
    EXPECT_FALSE(CreateDirectory("no/such/parent"));

    EXPECT_TRUE(RemoveFile("plain"));
    EXPECT_FALSE(RemoveFile("plain"));

    EXPECT_GT(GetAvailableDiskSpace("."), 0.0);
    EXPECT_EQ(GetAvailableDiskSpace("does/not/exist"), -1.0);

    EXPECT_TRUE(IsSameFileSystem(".", "newdir"));
    EXPECT_FALSE(IsSameFileSystem(".", "/proc"));
    EXPECT_THROW(IsSameFileSystem(".", "does/not/exist"), CExcept);

    std::string message = "kept";
    EXPECT_FALSE(RestoreUserInfo("newdir", nullptr, message));
    EXPECT_EQ(message, "kept");
    EXPECT_FALSE(AcquireBackupPrivilege("backup"));
}

TEST_F(FsHelpersTest, LastErrorCode)
{
    errno = 0;
    EXPECT_EQ(GetLastErrorCode(), KOV_NO_MORE_FILES);
    EXPECT_EQ(GetErrnoText(), "");
    errno = ENOENT;
    EXPECT_EQ(GetLastErrorCode(), ENOENT);
    EXPECT_FALSE(GetErrnoText().empty());
    errno = 0;
}

}  // namespace

// The application object: handlers, archive name, dispatch of unknown codes,
// the inaccessible-files report, the exclude test and archive clean-up.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/application.h"
#include "app/except.h"
#include "app/logman.h"
#include "app/options.h"
#include "tests/unit/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Each test runs in its own scratch directory with a fresh application object
// whose log manager collects the lines.
class AppTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::path(KovTestTmp()) / testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_oldCwd = fs::current_path();
        fs::current_path(m_dir);
        CApplication::Destroy();
        m_log = new CAPILogMan();
        CApplication::Instance().SetLogMan(m_log);
        g_abandonArchive = false;
    }
    void TearDown() override
    {
        CApplication::Destroy();
        fs::current_path(m_oldCwd);
        g_abandonArchive = false;
    }

    CApplication& App() { return CApplication::Instance(); }
    COptions& Opt() { return COptions::Instance(); }
    // Sets up a create or append run on the named archive, up to the point
    // where the command would start.
    void StartRun(int32_t code, const char* archive)
    {
        Opt().commandCode = code;
        Opt().archiveName = archive;
        Opt().fileList = {"input"};
        App().InitArchiveName();
        App().FixArchivePath();
    }

    fs::path m_dir;
    fs::path m_oldCwd;
    CAPILogMan* m_log = nullptr;
};

}  // namespace

TEST_F(AppTest, HandlersWriteTheLineAndSetTheStatus)
{
    EXPECT_EQ(CApplication::RunGuarded([] { throw CReadExcept("a.kox"); }), 5);
    EXPECT_EQ(CApplication::RunGuarded([] { throw std::out_of_range("x"); }), 33);
    EXPECT_EQ(CApplication::RunGuarded([] { throw std::length_error("x"); }), 34);
    EXPECT_EQ(CApplication::RunGuarded([] { throw std::bad_alloc(); }), 2);
    EXPECT_EQ(CApplication::RunGuarded([] { throw 42; }), 32);
    EXPECT_EQ(CApplication::RunGuarded([] { throw std::runtime_error("x"); }), 32);
    EXPECT_EQ(m_log->Collected(), "KOVZEF: error reading from a.kox (error 5). \n"
                                  "string: out_of_range-exception\n"
                                  "string: length_error\n"
                                  "KOVZEF: can not allocate new memory\n"
                                  "KOVZEF: unexpected exception thrown\n"
                                  "KOVZEF: unexpected exception thrown\n");
    App().SetExitStatus(0);
    EXPECT_EQ(CApplication::RunGuarded([] {}), 0);
}

TEST_F(AppTest, NoCommandIsReportedByTheChecks)
{
    char prog[] = "kovzef", a[] = "a", b[] = "b";
    char* argv[] = {prog, a, b, nullptr};
    EXPECT_EQ(CApplication::RunGuarded([&] {
                  Opt().Parse(3, argv);
                  App().Run();
              }),
              21);
    EXPECT_EQ(m_log->Collected().rfind("KOVZEF: please specify a command", 0), 0u);
    // No stale errno text: nothing follows the code suffix.
    EXPECT_NE(m_log->Collected().find("(error 21). \n"), std::string::npos);
}

TEST_F(AppTest, ArchiveNameBuffer)
{
    EXPECT_STREQ(App().GetArchiveName(), "");
    Opt().commandCode = KOV_CMD_LIST;
    App().InitArchiveName();
    EXPECT_STREQ(App().GetArchiveName(), "DEFAULT.KOX");

    const std::string longName(5000, 'n');
    Opt().archiveName = longName.c_str();
    App().InitArchiveName();
    EXPECT_EQ(std::string(App().GetArchiveName()), longName.substr(0, KOV_PATH_BUFFER - 1));
}

TEST_F(AppTest, ReportInaccessibleWithoutLogFile)
{
    App().ReportInaccessible("secret.txt", "Permission denied");
    App().ReportInaccessible("other");
    EXPECT_EQ(m_log->Collected(), "KOVZEF: file 'secret.txt' is inaccessible (Permission denied)\n"
                                  "KOVZEF: file 'other' is inaccessible\n");
    EXPECT_TRUE(App().FilesInaccessible());
    EXPECT_TRUE(g_abandonArchive);
    EXPECT_FALSE(fs::exists("kovzef.log"));
}

TEST_F(AppTest, ReportInaccessibleToLogFile)
{
    {
        std::ofstream("kovzef.log") << "stale\n";
    }
    Opt().redirectOutput = true;
    Opt().ignoreInaccessible = true;
    App().ReportInaccessible("a b", "detail not logged");
    // The -e copy is taken on the first report and holds for the run.
    Opt().redirectOutput = false;
    App().ReportInaccessible("c");
    EXPECT_EQ(Slurp("kovzef.log"), "# List of inaccessible files\n# ==========================\na b\nc\n");
    EXPECT_EQ(m_log->Collected(), "");
    EXPECT_FALSE(g_abandonArchive);
}

TEST_F(AppTest, ReportInaccessibleLogCannotBeOpened)
{
    fs::create_directory("kovzef.log");  // a directory cannot be opened as the log
    Opt().redirectOutput = true;
    try {
        App().ReportInaccessible("x");
        FAIL() << "no exception";
    } catch (COpenExcept& e) {
        EXPECT_EQ(e.GetText().rfind("KOVZEF: error opening kovzef.log (error 6). ", 0), 0u);
    }
    EXPECT_EQ(App().GetExitStatus(), 6);
}

TEST_F(AppTest, IsListed)
{
    EXPECT_FALSE(App().IsListed("a"));
    Opt().excludeList = {"a", "dir/b"};
    EXPECT_TRUE(App().IsListed("a"));
    EXPECT_TRUE(App().IsListed("dir/b"));
    EXPECT_FALSE(App().IsListed("dir/b/"));
    EXPECT_FALSE(App().IsListed("A"));
    Opt().excludeList.push_back("c");
    EXPECT_TRUE(App().IsListed("c"));
}

TEST_F(AppTest, RedirectedOutputGoesToFileAndFailureKeepsStdout)
{
    Opt().commandCode = KOV_CMD_LIST;
    Opt().redirectOutput = true;
    const int saved = dup(STDOUT_FILENO);
    ASSERT_GE(saved, 0);
    App().PrepareOutput();
    std::fputs("into the file\n", stdout);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    EXPECT_EQ(Slurp("kovzef_output"), "into the file\n");
    EXPECT_EQ(m_log->Collected(), "");

    // A directory in the way: the failure is reported, standard output stays.
    fs::remove("kovzef_output");
    fs::create_directory("kovzef_output");
    App().PrepareOutput();
    EXPECT_EQ(m_log->Collected(), "KOVZEF: could not redirect stdout to file kovzef_output\n");
    testing::internal::CaptureStdout();
    std::fputs("still here\n", stdout);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "still here\n");
    close(saved);
}

namespace {

void WriteFile(const fs::path& p, const std::string& content)
{
    std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
}

}  // namespace

TEST_F(AppTest, RemoveArchiveAfterChangeOfDirectory)
{
    fs::create_directory("other");
    StartRun(KOV_CMD_CREATE, "MY.KOX");
    const std::string written = App().GetArchiveWriteName();
    WriteFile(written, "ZEF 2.01partial");
    // The command changed into another directory holding a file of the same name.
    WriteFile("other/MY.KOX", "unrelated");
    fs::current_path("other");
    App().RemoveArchive();
    fs::current_path(m_dir);
    EXPECT_FALSE(fs::exists(written));
    EXPECT_FALSE(fs::exists("MY.KOX"));
    EXPECT_EQ(Slurp("other/MY.KOX"), "unrelated");
}

TEST_F(AppTest, RemoveArchiveDoesNotRewriteBackslashes)
{
    fs::create_directory("a");
    WriteFile("a/b.kox", "unrelated");
    StartRun(KOV_CMD_CREATE, "a\\b.kox");
    // The archive could not even be created: nothing is removed.
    App().RemoveArchive();
    EXPECT_EQ(Slurp("a/b.kox"), "unrelated");
    const std::string written = App().GetArchiveWriteName();
    WriteFile(written, "ZEF 2.01");
    App().RemoveArchive();
    EXPECT_FALSE(fs::exists(written));
    EXPECT_EQ(Slurp("a/b.kox"), "unrelated");
}

TEST_F(AppTest, FailedAppendKeepsTheEarlierArchive)
{
    WriteFile("old.kox", "ZEF 2.01entries");
    StartRun(KOV_CMD_APPEND, "old.kox");
    {
        std::ofstream("old.kox", std::ios::binary | std::ios::app) << "half an entry";
    }
    App().RemoveArchive();
    EXPECT_EQ(Slurp("old.kox"), "ZEF 2.01entries");
}

TEST_F(AppTest, CreateOverExistingArchive)
{
    WriteFile("x.kox", "ZEF 2.01valuable");
    StartRun(KOV_CMD_CREATE, "x.kox");
    // The run writes a new file beside it, which a failure removes.
    const std::string written = App().GetArchiveWriteName();
    EXPECT_NE(written, "x.kox");
    WriteFile(written, "ZEF 2.01");
    App().RemoveArchive();
    EXPECT_FALSE(fs::exists(written));
    EXPECT_EQ(Slurp("x.kox"), "ZEF 2.01valuable");
}

TEST_F(AppTest, RemoveArchiveAbsoluteName)
{
    const std::string abs = (m_dir / "abs.kox").string();
    StartRun(KOV_CMD_CREATE, abs.c_str());
    const std::string written = App().GetArchiveWriteName();
    WriteFile(written, "ZEF 2.01");
    fs::current_path("/");
    App().RemoveArchive();
    fs::current_path(m_dir);
    EXPECT_FALSE(fs::exists(written));
    EXPECT_FALSE(fs::exists(abs));
}

TEST_F(AppTest, RemoveArchiveNeverTouchesSomethingElse)
{
    // A named pipe given as archive stays, and so does the target of a link
    // to a device.
    ASSERT_EQ(mkfifo("pipe.kox", 0600), 0);
    fs::create_symlink("/dev/null", "null.kox");
    for (const char* name : {"pipe.kox", "null.kox"}) {
        StartRun(KOV_CMD_CREATE, name);
        App().RemoveArchive();
    }
    EXPECT_TRUE(fs::is_fifo("pipe.kox"));
    EXPECT_TRUE(fs::is_symlink("null.kox"));
    // Something that appeared in place of a missing archive but is no regular file.
    StartRun(KOV_CMD_CREATE, "dir.kox");
    fs::create_directory("dir.kox");
    App().RemoveArchive();
    EXPECT_TRUE(fs::is_directory("dir.kox"));
}

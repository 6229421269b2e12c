// Log managers, the statistics block and the usage text.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/logman.h"
#include "app/statistics.h"
#include "app/usage.h"
#include "tests/unit/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

fs::path TempDir(const char* name)
{
    fs::path dir = fs::path(KovTestTmp()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class Text : public CUserInfo {
public:
    explicit Text(std::string t)
        : m_text(std::move(t))
    {
    }
    std::string GetText() const override { return m_text; }

private:
    std::string m_text;
};

}  // namespace

TEST(LogMan, ApiCollectsLinesWithLineFeeds)
{
    CAPILogMan log;
    log.Write("a");
    log.Write(Text("b"));
    EXPECT_EQ(log.Collected(), "a\nb\n");
}

TEST(LogMan, ConsoleWritesLineAndFlushes)
{
    CConsoleLogMan log;
    testing::internal::CaptureStdout();
    log.Write("one");
    log.Write(Text("two\nlines"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "one\ntwo\nlines\n");
}

TEST(LogMan, LogTargets)
{
    const fs::path dir = TempDir("logtargets");
    auto log = std::make_unique<CAPILogMan>();
    EXPECT_EQ(log->WriteToLog(-1, "x"), 0);
    EXPECT_EQ(log->WriteToLog(0, "x"), 0);

    fs::path first = dir / "first.log";
    {
        std::ofstream(first) << "old content that must go\n";
    }
    EXPECT_EQ(log->OpenLogFile(first.string()), 0);
    EXPECT_EQ(log->OpenLogFile((dir / "second.log").string()), 1);
    EXPECT_EQ(log->TargetCount(), 2);
    // A file that cannot be opened adds no target.
    EXPECT_EQ(log->OpenLogFile((dir / "missing" / "x.log").string()), -1);
    EXPECT_EQ(log->TargetCount(), 2);

    EXPECT_EQ(log->WriteToLog(0, "line 1"), 1);
    EXPECT_EQ(log->WriteToLog(1, "other"), 1);
    EXPECT_EQ(log->WriteToLog(2, "nowhere"), 0);
    // Flushed at once: visible before the log manager is gone.
    EXPECT_EQ(Slurp(first), "line 1\n");
    EXPECT_EQ(log->WriteToLog(0, "line 2"), 1);
    log.reset();
    EXPECT_EQ(Slurp(first), "line 1\nline 2\n");
    EXPECT_EQ(Slurp(dir / "second.log"), "other\n");
    EXPECT_TRUE(log == nullptr);
}

TEST(Statistics, Block)
{
    CStatistics s;
    EXPECT_EQ(s.GetText(),
              "Printing program statistics for KOVZEF...\ntime elapsed: 00:00:00 (hh:mm:ss)\nFiles processed: 0");
    s.SetElapsed(3725);
    s.AddFiles();
    s.AddFiles(41);
    EXPECT_EQ(s.GetText(),
              "Printing program statistics for KOVZEF...\ntime elapsed: 01:02:05 (hh:mm:ss)\nFiles processed: 42");
    s.SetElapsed(187);
    EXPECT_NE(s.GetText().find("time elapsed: 00:03:07 (hh:mm:ss)\n"), std::string::npos);
    // More than 99 hours take more digits.
    s.SetElapsed(100 * 3600 + 1);
    EXPECT_NE(s.GetText().find("time elapsed: 100:00:01 (hh:mm:ss)\n"), std::string::npos);
    // The count is not padded.
    s.AddFiles(1000000000000ull);
    EXPECT_NE(s.GetText().find("Files processed: 1000000000042"), std::string::npos);
}

TEST(Usage, Shape)
{
    const std::string text = CUsage().GetText();
    std::size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    EXPECT_EQ(lines, 196u);
    EXPECT_EQ(text.rfind("usage:\n\ncreate a new archive:\nKOVZEF -c[vir][f archive] [-P] [-C directory]\n", 0), 0u);
    // Ends with an empty line of its own.
    EXPECT_EQ(text.substr(text.size() - 3), ".\n\n");
    // Blanks at line ends belong to the text.
    EXPECT_NE(text.find("\n-key FILE     : use FILE for signature operations (default: KOV) \n"), std::string::npos);
    EXPECT_NE(text.find("\n-pwd PASSWORD : Password of PSE (default: no password)  \n"), std::string::npos);
    EXPECT_NE(text.find("\nKOVZEF -m[v]f \"source target\"\n"), std::string::npos);
    EXPECT_NE(text.find("\n   KOVZEF -xvf \"ARCHIVE WITH BLANK.KOX,\"\n"), std::string::npos);
}

TEST(LogMan, WritingKeepsErrno)
{
    CConsoleLogMan log;
    testing::internal::CaptureStdout();
    errno = EACCES;
    log.Write("line");
    EXPECT_EQ(errno, EACCES);
    testing::internal::GetCapturedStdout();
}

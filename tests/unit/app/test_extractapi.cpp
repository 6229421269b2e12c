// The in-process extraction entry.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/application.h"
#include "app/extractapi.h"
#include "app/logman.h"
#include "tests/unit/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

void Put(std::string& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t Crc(const std::string& data)
{
    uint32_t reg = 0;
    for (unsigned char c : data) {
        reg ^= c;
        for (int k = 0; k < 8; ++k)
            reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
    }
    return reg;
}

// An archive with one file entry whose data is stored raw in one block.
std::string OneFileArchive(const std::string& name, const std::string& data)
{
    std::string a = "ZEF 2.01";
    const std::string stored = name + '\0';
    a += "RG";
    Put(a, 0100644, 4);
    Put(a, data.size(), 8);
    Put(a, 0, 4);
    Put(a, 1600000000, 8);
    Put(a, 0, 4);
    Put(a, 0, 2);
    Put(a, stored.size(), 2);
    a += stored;
    a += "UE";
    Put(a, data.size(), 4);
    a += data;
    Put(a, Crc(data), 4);
    return a;
}

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class ExtractApiTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::path(KovTestTmp()) / testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "target");
        m_oldCwd = fs::current_path();
        fs::current_path(m_dir);
        CApplication::Destroy();
        m_console = new CAPILogMan();
        CApplication::Instance().SetLogMan(m_console);
    }
    void TearDown() override
    {
        CApplication::Destroy();
        fs::current_path(m_oldCwd);
    }

    fs::path m_dir, m_oldCwd;
    CAPILogMan* m_console = nullptr;
};

}  // namespace

TEST_F(ExtractApiTest, MissingArchiveReportsIntoTheCollectedText)
{
    const int status = KovzefExtractArchive("missing.kox", "target");
    EXPECT_NE(status, 0);
    ASSERT_NE(KovzefExtractOutput(), nullptr);
    const std::string out = KovzefExtractOutput();
    EXPECT_EQ(out.rfind("KOVZEF: ", 0), 0u) << out;
    EXPECT_EQ(out.back(), '\n');
    // The caller's log manager is back in place and got nothing.
    EXPECT_EQ(&CApplication::Instance().GetLogMan(), m_console);
    EXPECT_EQ(m_console->Collected(), "");
}

TEST_F(ExtractApiTest, ExtractsIntoTheDirectory)
{
    {
        std::ofstream("one.kox", std::ios::binary) << OneFileArchive("hello.txt", "hello world\n");
    }
    EXPECT_EQ(KovzefExtractArchive("one.kox", "target"), 0) << KovzefExtractOutput();
    EXPECT_EQ(Slurp(m_dir / "target" / "hello.txt"), "hello world\n");
    EXPECT_FALSE(fs::exists(m_dir / "hello.txt"));
    // A second run on another archive builds its archive list anew.
    {
        std::ofstream("two.kox", std::ios::binary) << OneFileArchive("second.txt", "2");
    }
    EXPECT_EQ(KovzefExtractArchive("two.kox", "target"), 0) << KovzefExtractOutput();
    EXPECT_EQ(Slurp(m_dir / "target" / "second.txt"), "2");
}

// Fault caught: the collected lines held names raw, so a name with a line
// feed forged a line of its own for a caller that reads them line by line.
// The collected text is output, escaped as on the terminal; the file on
// disk keeps its name.
TEST_F(ExtractApiTest, CollectedLinesShowNamesEscapedFilesKeepTheirNames)
{
    {
        std::ofstream("refused.kox", std::ios::binary) << OneFileArchive("d/../x\nKOVZEF: forged\x1b[2J", "1");
    }
    EXPECT_NE(KovzefExtractArchive("refused.kox", "target"), 0);
    ASSERT_NE(KovzefExtractOutput(), nullptr);
    const std::string out = KovzefExtractOutput();
    EXPECT_NE(out.find("KOVZEF: d/../x\\x0aKOVZEF: forged\\x1b[2J not extracted: its name contains a \"..\" "
                       "component\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("\nKOVZEF: forged"), std::string::npos) << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;

    const std::string name = "e\x1b]0;title\x07\nf\r";
    {
        std::ofstream("odd.kox", std::ios::binary) << OneFileArchive(name, "2");
    }
    EXPECT_EQ(KovzefExtractArchive("odd.kox", "target"), 0) << KovzefExtractOutput();
    EXPECT_EQ(Slurp(m_dir / "target" / name), "2");
}

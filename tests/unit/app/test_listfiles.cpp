// List files (-A, -X, -T), the -f archive-name list and the file-list
// preparation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/except.h"
#include "app/listfiles.h"
#include "app/options.h"
#include "tests/unit/scratch_dir.h"

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

// Runs each test in a scratch directory of its own, with a fresh options object.
class ListFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        COptions::DestroyInstance();
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
        fs::remove_all(dir_);
        COptions::DestroyInstance();
    }

    static void WriteFile(const std::string& name, const std::string& content)
    {
        std::ofstream out(name, std::ios::binary);
        out << content;
    }

    static Names Archives(const char* value, bool ignoreCase = false)
    {
        COptions::DestroyInstance();
        COptions& o = COptions::Instance();
        o.archiveName = value;
        o.ignoreCase = ignoreCase;
        return o.GetArchiveList();
    }

    fs::path dir_, old_;
};

TEST(LineReader, SplitsOnLineFeedKeepsCarriageReturn)
{
    std::istringstream in("a\r\n\nlast");
    Names lines;
    for (CLineReader r(in), end; r != end; ++r)
        lines.push_back(*r);
    EXPECT_EQ(lines, Names({"a\r", "", "last"}));

    std::istringstream empty("");
    EXPECT_TRUE(CLineReader(empty) == CLineReader());
}

TEST(StringHelpers, TrimAndCombine)
{
    std::string s = " \t a b \r";
    EXPECT_EQ(Trim(s), 5u);
    EXPECT_EQ(s, "a b");
    std::string blank = "   ";
    EXPECT_EQ(Trim(blank), 3u);
    EXPECT_EQ(blank, "");
    std::string left = "  x ";
    EXPECT_EQ(TrimLeft(left), 2u);
    EXPECT_EQ(left, "x ");

    std::string out = "keep";
    CombinePath("d", "", out);
    EXPECT_EQ(out, "keep");
    CombinePath("", "n", out);
    EXPECT_EQ(out, "n");
    CombinePath("d", "n", out);
    EXPECT_EQ(out, "d/n");
    CombinePath("d/", "n", out);
    EXPECT_EQ(out, "d/n");
    CombinePath("/", "n", out);
    EXPECT_EQ(out, "/n");
    CombinePath("d", "/n", out);
    EXPECT_EQ(out, "d/n");

    std::string b = "a\\b\\c";
    BackslashToSlash(b);
    EXPECT_EQ(b, "a/b/c");
}

TEST_F(ListFilesTest, IncludeFileCommentsBlanksAndCrlf)
{
    WriteFile("inc.lst", "#comment\r\n"
                         "b\\x\r\n"
                         "\r\n"
                         "   \r\n"
                         "\t\n"
                         "\n"
                         "  #x  \n"
                         "  a  \n"
                         "c");
    COptions& o = COptions::Instance();
    o.fileList = {" z ", "dir\\y"};
    o.includeFile = "inc.lst";
    o.ReadListFiles();
    // Blank lines add nothing; a "#" after blanks is part of a name; command
    // line names are trimmed and sorted together with the list.
    EXPECT_EQ(o.fileList, Names({"#x", "a", "b/x", "c", "dir/y", "z"}));
}

TEST_F(ListFilesTest, ExcludeRemovesEqualNamesOnly)
{
    WriteFile("inc.lst", "a\nb\nc\nsub/d\n");
    WriteFile("ex.lst", "# none\n b \nsub\\d\nC\n\n");
    COptions& o = COptions::Instance();
    o.includeFile = "inc.lst";
    o.excludeFile = "ex.lst";
    o.ReadListFiles();
    EXPECT_EQ(o.fileList, Names({"a", "c"}));
    EXPECT_EQ(o.excludeList, Names({"C", "b", "sub/d"}));
}

TEST_F(ListFilesTest, CommandLineNamesUntouchedWithoutIncludeFile)
{
    WriteFile("ex.lst", "x\n");
    COptions& o = COptions::Instance();
    o.fileList = {" b", "x", "a\\c"};
    o.excludeFile = "ex.lst";
    o.ReadListFiles();
    EXPECT_EQ(o.fileList, Names({" b", "a\\c"}));
}

TEST_F(ListFilesTest, ListFileErrors)
{
    COptions& o = COptions::Instance();
    o.includeFile = "missing.lst";
    try {
        o.ReadListFiles();
        FAIL() << "no exception";
    } catch (const CExcept& e) {
        EXPECT_EQ(e.GetCode(), 6u);
        EXPECT_EQ(e.GetText().rfind("KOVZEF: error opening missing.lst (error 6). ", 0), 0u) << e.GetText();
    }

    // A directory opens but cannot be read.
    fs::create_directory("adir");
    COptions::DestroyInstance();
    COptions& d = COptions::Instance();
    d.excludeFile = "adir";
    try {
        d.ReadListFiles();
        FAIL() << "no exception";
    } catch (const CExcept& e) {
        EXPECT_EQ(e.GetCode(), 5u);
        EXPECT_EQ(e.GetText(), "KOVZEF: error reading from adir (error 5). ");
    }

    COptions::DestroyInstance();
    COptions& r = COptions::Instance();
    r.renameFile = "nothere";
    EXPECT_THROW(r.ReadRenameFile(), COpenExcept);
}

TEST_F(ListFilesTest, RenameFileLines)
{
    WriteFile("ren.lst", "  # comment\n"
                         "\n"
                         "   \r\n"
                         "old new\r\n"
                         "old name|new name \n"
                         "two  spaced\n"
                         "a\\b c\\d\n"
                         "|x\n"
                         "dup first\n"
                         "dup second\n");
    COptions& o = COptions::Instance();
    o.renameFile = "ren.lst";
    o.ReadRenameFile();
    const std::map<std::string, std::string> expected = {
        {"", "x"}, {"a/b", "c/d"}, {"dup", "second"}, {"old", "new"}, {"old name", "new name"}, {"two", "spaced"},
    };
    EXPECT_EQ(o.renameMap, expected);

    std::string out = "unchanged";
    o.GetNewName("nothing", out);
    EXPECT_EQ(out, "unchanged");
    o.GetNewName("old name", out);
    EXPECT_EQ(out, "new name");

    o.fileList = {"z"};
    o.AddRenamedFiles();
    EXPECT_EQ(o.fileList, Names({"z", "", "a/b", "dup", "old", "old name", "two"}));
}

TEST_F(ListFilesTest, MalformedRenameLines)
{
    for (const char* line : {"old\n", "old|\n", "old \n", "old\r\n"}) {
        WriteFile("bad.lst", std::string("fine line\n") + line);
        COptions::DestroyInstance();
        COptions& o = COptions::Instance();
        o.renameFile = "bad.lst";
        try {
            o.ReadRenameFile();
            ADD_FAILURE() << "accepted " << line;
        } catch (const CExcept& e) {
            EXPECT_EQ(e.GetCode(), 43u);
            EXPECT_EQ(e.GetText().rfind("KOVZEF: wrong format in file bad.lst (error 43). ", 0), 0u);
        }
    }
}

TEST_F(ListFilesTest, PrepareFileList)
{
    COptions& o = COptions::Instance();
    o.fileList = {"b/", "a", ".", "a", "c\\d\\", "b"};
    o.PrepareFileList();
    EXPECT_EQ(o.fileList, Names({"a", "b", "c/d", "*"}));

    o.fileList = {"/"};
    o.PrepareFileList();
    EXPECT_EQ(o.fileList, Names({""}));

    // Byte-wise order: upper case and high bytes sort as unsigned bytes.
    o.fileList = {"\xC3\xA4", "b", "B", "a//"};
    o.PrepareFileList();
    EXPECT_EQ(o.fileList, Names({"B", "a/", "b", "\xC3\xA4"}));
}

TEST_F(ListFilesTest, ArchiveNameSplitting)
{
    EXPECT_EQ(Archives(nullptr), Names({"DEFAULT.KOX"}));
    EXPECT_EQ(Archives("A.KOX B.KOX"), Names({"A.KOX", "B.KOX"}));
    EXPECT_EQ(Archives("A.KOX \t  B.KOX"), Names({"A.KOX", "B.KOX"}));
    EXPECT_EQ(Archives("ARCHIVE WITH BLANK.KOX,"), Names({"ARCHIVE WITH BLANK.KOX"}));
    EXPECT_EQ(Archives("A.KOX, B.KOX"), Names({"A.KOX", "B.KOX"}));
    EXPECT_EQ(Archives("A.KOX ,B.KOX"), Names({"A.KOX ", "B.KOX"}));
    EXPECT_EQ(Archives("A.KOX,,,  B.KOX,,"), Names({"A.KOX", "B.KOX"}));
    EXPECT_EQ(Archives("A.KOX "), Names({"A.KOX", ""}));
    EXPECT_EQ(Archives(" A.KOX"), Names({"", "A.KOX"}));
    EXPECT_EQ(Archives(",A.KOX"), Names({"", "A.KOX"}));
    EXPECT_EQ(Archives(""), Names({""}));

    // Built once: later calls return the same list.
    COptions& o = COptions::Instance();
    o.archiveName = "other";
    EXPECT_EQ(o.GetArchiveList(), Names({""}));
}

TEST_F(ListFilesTest, ArchiveNamePatterns)
{
    WriteFile("K1.kox", "");
    WriteFile("k2.kox", "");
    WriteFile("K3.txt", "");
    fs::create_directory("dir");
    WriteFile("dir/a.kox", "");

    EXPECT_EQ(Archives("K*.kox"), Names({"K1.kox"}));
    EXPECT_EQ(Archives("K?.kox,dir/*.kox"), Names({"K1.kox", "dir/a.kox"}));
    EXPECT_EQ(Archives("nomatch*.kox"), Names());

    Names both = Archives("K*.kox", true);
    std::sort(both.begin(), both.end());
    EXPECT_EQ(both, Names({"K1.kox", "k2.kox"}));
    EXPECT_EQ(Archives("k1.KOX", true), Names({"K1.kox"}));
    EXPECT_EQ(Archives("missing.kox", true), Names());
    EXPECT_EQ(Archives("DIR/A.KOX", true), Names());  // the directory part is used as written
    EXPECT_EQ(Archives("dir/A.KOX", true), Names({"dir/a.kox"}));
    EXPECT_EQ(Archives("", true), Names());

    Names rooted;
    ExpandWildcards(rooted, "/*", false);
    ASSERT_FALSE(rooted.empty());
    for (const std::string& n : rooted)
        EXPECT_EQ(n.compare(0, 1, "/"), 0) << n;
}

}  // namespace

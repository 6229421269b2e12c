// Header lines and the header section of old-format archives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "oldformat/ofinternal.h"
#include "tests/unit/scratch_dir.h"

namespace {

OfLineResult ParseLine(const std::string& line, OfEntry& e)
{
    return OfParseHeaderLine(line.c_str(), line.size(), e);
}

std::filesystem::path TempDir()
{
    std::filesystem::path dir = std::filesystem::path(KovTestTmp()) / "ofheader";
    std::filesystem::create_directories(dir);
    return dir;
}

std::string WriteFile(const std::string& name, const std::string& bytes)
{
    const std::string path = (TempDir() / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

}  // namespace

TEST(OfHeaderLine, SevenAndSixFields)
{
    OfEntry e;
    ASSERT_EQ(ParseLine("F dir/a.txt   644       1234        56 1600000000 3735928559", e), OfLineResult::Ok);
    EXPECT_EQ(e.type, 'F');
    EXPECT_EQ(e.name, "dir/a.txt");
    EXPECT_EQ(e.mode, 0644u);
    EXPECT_EQ(e.size, 1234u);
    EXPECT_EQ(e.csize, 56u);
    EXPECT_EQ(e.mtime, 1600000000);
    EXPECT_EQ(e.checksum, 3735928559u);

    OfEntry six;
    ASSERT_EQ(ParseLine("F b 600 10 20 5", six), OfLineResult::Ok);
    EXPECT_EQ(six.checksum, 0u);
    EXPECT_EQ(six.mtime, 5);

    OfEntry d;
    ASSERT_EQ(ParseLine("D sub   755          0         0 1600000000          0", d), OfLineResult::Ok);
    EXPECT_EQ(d.mode, 040755u);
    EXPECT_TRUE(d.IsDirectory());
}

TEST(OfHeaderLine, NamesWithBlanksLoseTheFieldPadding)
{
    OfEntry e;
    ASSERT_EQ(ParseLine("F my file.txt   644         12        20 1600000000      12345", e), OfLineResult::Ok);
    EXPECT_EQ(e.name, "my file.txt");
    EXPECT_EQ(e.mode, 0644u);
    EXPECT_EQ(e.size, 12u);
    EXPECT_EQ(e.csize, 20u);
    EXPECT_EQ(e.checksum, 12345u);

    // A second word that looks like a number must not shift the fields.
    OfEntry f;
    ASSERT_EQ(ParseLine("F a 1   644          3        11 1600000000         99", f), OfLineResult::Ok);
    EXPECT_EQ(f.name, "a 1");
    EXPECT_EQ(f.size, 3u);
    EXPECT_EQ(f.checksum, 99u);

    // A mode wider than its field is read whole.
    OfEntry g;
    ASSERT_EQ(ParseLine("F xy 100644 3 11 1600000000 99", g), OfLineResult::Ok);
    EXPECT_EQ(g.mode, 0100644u);
    EXPECT_EQ(g.size, 3u);
}

TEST(OfHeaderLine, FormatErrors)
{
    OfEntry e;
    EXPECT_EQ(ParseLine("", e), OfLineResult::Format);
    EXPECT_EQ(ParseLine("garbage", e), OfLineResult::Format);
    EXPECT_EQ(ParseLine("F a b 644 1 2 3", e), OfLineResult::Format);            // four numbers only
    EXPECT_EQ(ParseLine("F a 644 10 0 1600000000 1", e), OfLineResult::Format);  // data missing
    EXPECT_EQ(ParseLine("F a b 9 1 2 3 4", e), OfLineResult::Format);            // 9 is not octal
    EXPECT_EQ(ParseLine("F a b 644 1 2 99999999999999999999 4", e), OfLineResult::Time);
    OfEntry empty;
    EXPECT_EQ(ParseLine("F a 644 0 0 1600000000 0", empty), OfLineResult::Ok);
}

TEST(OfHeaderSection, OffsetsSelectionAndTargets)
{
    const std::string head = "# old archive\n"
                             "F dir/a   644          3        11 1600000000          0\n"
                             "D dir   755          0         0 1600000000          0\n"
                             "F dir\\b   600          4        12 1600000001          0\n"
                             "F dirx/d   644          5        13 1600000002          0\n"
                             "F ../evil   644          6        14 1600000003          0\n"
                             "#\n";
    const std::string path = WriteFile("section.zef", head + std::string(50, 'x'));
    OfHandle h;
    h.archive = path;
    h.targetDir = "out";
    OfAddName(h, "dir/", 0);
    OfError err;
    ASSERT_TRUE(OfReadHeaders(h, err)) << err.message;
    ASSERT_EQ(h.entries.size(), 5u);
    EXPECT_EQ(h.dataStart, head.size());
    EXPECT_EQ(h.entries[0].offset, head.size());
    EXPECT_EQ(h.entries[1].offset, head.size() + 11);
    EXPECT_EQ(h.entries[2].offset, head.size() + 11);
    EXPECT_EQ(h.entries[3].offset, head.size() + 23);
    EXPECT_TRUE(h.entries[0].selected);
    EXPECT_TRUE(h.entries[1].selected);
    EXPECT_TRUE(h.entries[2].selected);
    EXPECT_FALSE(h.entries[3].selected);
    EXPECT_EQ(h.entries[2].target, "out/dir/b");
    EXPECT_FALSE(h.entries[2].unsafe);
    // A leading "../" goes: the entry lands inside the target.
    EXPECT_EQ(h.entries[4].target, "out/evil");
    EXPECT_FALSE(h.entries[4].unsafe);
    EXPECT_TRUE(h.entries[4].leadingRemoved);
    EXPECT_EQ(h.entries[3].sequence, 3u);
}

TEST(OfHeaderSection, Failures)
{
    OfHandle h;
    OfError err;
    h.archive = (TempDir() / "missing.zef").string();
    EXPECT_FALSE(OfReadHeaders(h, err));
    EXPECT_EQ(err.number, 4u);
    EXPECT_EQ(err.message, "No such file or directory " + *h.archive);

    // Header lines that run into the end of the file.
    h.archive = WriteFile("cut.zef", "F a 644 0 0 1600000000 0\n");
    EXPECT_FALSE(OfReadHeaders(h, err));
    EXPECT_EQ(err.number, 12u);
    EXPECT_EQ(err.message, "format error in header");

    // A line longer than the line buffer.
    h.archive = WriteFile("long.zef", "F " + std::string(5000, 'n') + " 644 0 0 1 0\n#\n");
    EXPECT_FALSE(OfReadHeaders(h, err));
    EXPECT_EQ(err.number, 12u);

    // A NUL inside a header line.
    h.archive = WriteFile("nul.zef", std::string("F a\0b 644 0 0 1 0\n#\n", 20));
    EXPECT_FALSE(OfReadHeaders(h, err));
    EXPECT_EQ(err.number, 12u);

    // Comments only: an archive without entries.
    h.archive = WriteFile("empty.zef", "# nothing\n");
    EXPECT_TRUE(OfReadHeaders(h, err));
    EXPECT_TRUE(h.entries.empty());
}

TEST(OfIncludeFile, WordsCommentsAndErrors)
{
    OfHandle h;
    OfError err;
    h.includeFile = WriteFile("include.lst", "# names\nalpha\nbeta gamma\n");
    ASSERT_TRUE(OfReadIncludeFile(h, err));
    ASSERT_EQ(h.names.size(), 2u);
    EXPECT_EQ(h.names[0].given, "alpha");
    EXPECT_EQ(h.names[1].given, "beta");
    EXPECT_EQ(h.names[1].source, 'A');

    h.includeFile = WriteFile("include2.lst", "alpha\n\n");
    EXPECT_FALSE(OfReadIncludeFile(h, err));
    EXPECT_EQ(err.number, 9u);
    EXPECT_EQ(err.message, "format error in include-file (A-option) " + *h.includeFile);

    h.includeFile = (TempDir() / "nothere.lst").string();
    EXPECT_FALSE(OfReadIncludeFile(h, err));
    EXPECT_EQ(err.number, 4u);
}

TEST(OfListing, PermissionString)
{
    EXPECT_EQ(OfPermissionString(0644), "-rw-r--r--");
    EXPECT_EQ(OfPermissionString(040755), "drwxr-xr-x");
    EXPECT_EQ(OfPermissionString(07777), "-rwsrwsrws");
    EXPECT_EQ(OfPermissionString(01000), "---------s");
    EXPECT_EQ(OfPermissionString(0), "----------");
}

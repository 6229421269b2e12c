// The old archiver's command line as the library reads it.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "oldformat/ofinternal.h"

namespace {

struct Parsed {
    OfHandle handle;
    OfError error;
    bool ok = false;
};

Parsed Parse(std::initializer_list<const char*> words)
{
    std::vector<std::string> store{"kovzef"};
    store.insert(store.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& s : store)
        argv.push_back(s.data());
    Parsed p;
    p.handle.workDir = "/start";
    p.ok = OfParseOptions(p.handle, static_cast<int>(argv.size()), argv.data(), p.error);
    return p;
}

std::optional<std::string> ExtractList(std::initializer_list<const char*> words)
{
    std::vector<std::string> store{"kovzef"};
    store.insert(store.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& s : store)
        argv.push_back(s.data());
    return OfFindExtractList(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

TEST(OfOptions, ClusterWithArchiveNameAndNames)
{
    Parsed p = Parse({"-xvf", "old.zef", "a\\b", "c"});
    ASSERT_TRUE(p.ok) << p.error.message;
    EXPECT_EQ(p.handle.command, 'x');
    EXPECT_TRUE(p.handle.verbose);
    EXPECT_TRUE(p.handle.verify);
    EXPECT_EQ(p.handle.ArchiveName(), "old.zef");
    ASSERT_EQ(p.handle.names.size(), 2u);
    EXPECT_EQ(p.handle.names[0].normalised, "a/b");
    EXPECT_EQ(p.handle.names[0].joined, "/start/a/b");

    // Letters the old syntax does not know get one notice each.
    testing::internal::CaptureStdout();
    p = Parse({"-xnvef", "old.zef"});
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(p.ok) << p.error.message;
    EXPECT_EQ(p.handle.ArchiveName(), "old.zef");
    const std::string notice = "KOVZEF: the option -xnvef has no effect when working with old archives.\n";
    EXPECT_EQ(out, notice + notice);
}

TEST(OfOptions, DefaultsAndArchiveNameForms)
{
    Parsed p = Parse({"-t"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.handle.ArchiveName(), "DEFAULT.ZEF");
    p = Parse({"-t", "-f", "a,b\\c.zef"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.handle.ArchiveName(), "ab/c.zef");
    // A next word beginning with "-" leaves -f without a value.
    p = Parse({"-f", "-t"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.handle.command, 't');
    EXPECT_EQ(p.handle.ArchiveName(), "DEFAULT.ZEF");
}

TEST(OfOptions, NumberedErrors)
{
    struct Case {
        std::initializer_list<const char*> words;
        uint32_t number;
        const char* message;
    };
    const Case cases[] = {
        {{"-v"}, 23, "first specify the command"},
        {{"-f", "a", "-tf", "b"}, 20, "use option only once f-option"},
        {{"-t", "-A"}, 21, "option without filename specified A-option"},
        {{"-c", "-C", "d", "-P", "n"}, 24, "don't use C-option together with P-option"},
        {{"-x", "-C", "d"}, 25, "use C-option only with create"},
        {{"-x", "-T", "r"}, 26, "use T-option only with create"},
        {{"-x", "-X", "e"}, 27, "use X-option only with create"},
        {{"-t", "-R", "out"}, 33, "use R-option only with extract"},
        {{"-ds"}, 35, "use s-option only with extract or list content"},
        {{"-c"}, 30, "no filename(s) specified"},
        {{"-c", "-p", "9", "n"}, 28, "p-options needs an octal value"},
    };
    for (const Case& c : cases) {
        Parsed p = Parse(c.words);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.error.number, c.number);
        EXPECT_EQ(p.error.message, c.message);
    }
    Parsed ok = Parse({"-c", "-p", "644", "n"});
    EXPECT_TRUE(ok.ok);
    ok = Parse({"-xs", "-R", "out"});
    EXPECT_TRUE(ok.ok);
    ok = Parse({"-c", "-A", "list"});
    EXPECT_TRUE(ok.ok);
}

TEST(OfOptions, ForeignWordOptionsAreNotNamesOrCommands)
{
    Parsed p = Parse({"-xf", "a.zef", "-key", "store", "-manifest", "m.smf", "-H", "SHA1", "-crl", "list", "-tsaurl",
                      "http://t", "-proxy", "p:1", "-pwd", "secret"});
    ASSERT_TRUE(p.ok) << p.error.message;
    EXPECT_EQ(p.handle.command, 'x');
    EXPECT_TRUE(p.handle.names.empty());
    EXPECT_EQ(p.handle.ArchiveName(), "a.zef");
    EXPECT_FALSE(p.handle.sFlag);
    // "-backup" would otherwise switch to the create command.
    p = Parse({"-xf", "a.zef", "-backup", "-lower", "-flat"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.handle.command, 'x');
}

TEST(OfOptions, ExtractListOnlyForExtractionAndTest)
{
    EXPECT_EQ(ExtractList({"-dvf", "a?.zef"}), std::optional<std::string>("a?.zef"));
    EXPECT_EQ(ExtractList({"-xvf", "a.zef b.zef"}), std::optional<std::string>("a.zef b.zef"));
    EXPECT_EQ(ExtractList({"-x", "-f", "a*.zef"}), std::optional<std::string>("a*.zef"));
    EXPECT_EQ(ExtractList({"-tvf", "a.zef"}), std::nullopt);
    EXPECT_EQ(ExtractList({"-x", "-manifest", "m.smf", "-f", "b"}), std::optional<std::string>("b"));
    EXPECT_EQ(ExtractList({"-x", "-R", "fx", "-f", "b"}), std::optional<std::string>("b"));
    EXPECT_EQ(ExtractList({"-x"}), std::nullopt);
}

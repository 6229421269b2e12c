// Command-line parsing and the option consistency checks.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/except.h"
#include "app/logman.h"
#include "app/options.h"

namespace {

// Owns the words of one command line and parses them into a fresh options
// object.
class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override { COptions::DestroyInstance(); }
    void TearDown() override { COptions::DestroyInstance(); }

    COptions& Parse(std::initializer_list<const char*> words)
    {
        storage_.assign({"kovzef"});
        for (const char* w : words)
            storage_.emplace_back(w);
        argv_.clear();
        for (std::string& s : storage_)
            argv_.push_back(s.data());
        argv_.push_back(nullptr);
        COptions& o = COptions::Instance();
        o.Parse(static_cast<int>(storage_.size()), argv_.data());
        return o;
    }

    // Parses and expects a CExcept; returns it.
    CExcept ParseFails(std::initializer_list<const char*> words)
    {
        try {
            Parse(words);
        } catch (const CExcept& e) {
            return e;
        }
        ADD_FAILURE() << "no exception";
        return CExcept();
    }

    CExcept CheckFails(std::initializer_list<const char*> words)
    {
        try {
            Parse(words).Check();
        } catch (const CExcept& e) {
            return e;
        }
        ADD_FAILURE() << "no exception";
        return CExcept();
    }

    static bool StartsWith(const std::string& s, const std::string& prefix)
    {
        return s.compare(0, prefix.size(), prefix) == 0;
    }

    std::vector<std::string> storage_;
    std::vector<char*> argv_;
};

TEST_F(OptionsTest, DefaultsBeforeAnyWord)
{
    COptions& o = Parse({});
    EXPECT_EQ(o.commandCode, KOV_CMD_NONE);
    EXPECT_TRUE(o.resolveLinks);
    EXPECT_TRUE(o.changeDirPermissions);
    EXPECT_FALSE(o.verbose);
    EXPECT_EQ(o.archiveName, nullptr);
    EXPECT_EQ(o.permissions, 0u);
}

TEST_F(OptionsTest, ClusterWithArchiveAndFiles)
{
    COptions& o = Parse({"-xvf", "a.kox", "b"});
    EXPECT_EQ(o.commandCode, KOV_CMD_EXTRACT);
    EXPECT_TRUE(o.verbose);
    ASSERT_NE(o.archiveName, nullptr);
    EXPECT_STREQ(o.archiveName, "a.kox");
    EXPECT_EQ(o.fileList, std::vector<std::string>({"b"}));
}

TEST_F(OptionsTest, FEndsTheCluster)
{
    COptions& o = Parse({"-fx", "a.kox"});
    EXPECT_EQ(o.commandCode, KOV_CMD_NONE);
    EXPECT_STREQ(o.archiveName, "a.kox");
    EXPECT_TRUE(o.fileList.empty());
}

TEST_F(OptionsTest, LastCommandLetterWins)
{
    EXPECT_EQ(Parse({"-cx"}).commandCode, KOV_CMD_EXTRACT);
    COptions::DestroyInstance();
    EXPECT_EQ(Parse({"-c", "-x"}).commandCode, KOV_CMD_EXTRACT);
    COptions::DestroyInstance();
    EXPECT_EQ(Parse({"-l"}).commandCode, KOV_CMD_SCAN);
}

TEST_F(OptionsTest, SignLetterDependsOnCommandSoFar)
{
    COptions& a = Parse({"-cSf", "x.kox"});
    EXPECT_EQ(a.commandCode, KOV_CMD_CREATE);
    EXPECT_TRUE(a.sign);
    EXPECT_TRUE(a.verify);
    COptions::DestroyInstance();

    COptions& b = Parse({"-Scf", "x.kox"});
    EXPECT_EQ(b.commandCode, KOV_CMD_CREATE);
    EXPECT_TRUE(b.sign);
    EXPECT_FALSE(b.verify);
    COptions::DestroyInstance();

    COptions& c = Parse({"-Sf", "x.kox"});
    EXPECT_EQ(c.commandCode, KOV_CMD_SIGN);
    EXPECT_TRUE(c.sign);
    COptions::DestroyInstance();

    COptions& d = Parse({"-VS"});
    EXPECT_EQ(d.commandCode, KOV_CMD_SIGN);
    EXPECT_FALSE(d.verify);
    COptions::DestroyInstance();

    COptions& e = Parse({"-tS"});
    EXPECT_EQ(e.commandCode, KOV_CMD_LIST);
    EXPECT_TRUE(e.sign);
    EXPECT_FALSE(e.verify);
}

TEST_F(OptionsTest, ManifestLetterDependsOnCommandSoFar)
{
    COptions& a = Parse({"-tM"});
    EXPECT_EQ(a.commandCode, KOV_CMD_LIST);
    EXPECT_TRUE(a.verify);
    COptions::DestroyInstance();

    COptions& b = Parse({"-M"});
    EXPECT_EQ(b.commandCode, KOV_CMD_MANIFEST);
    EXPECT_TRUE(b.verify);
}

TEST_F(OptionsTest, LetterAndWordFlagsAgree)
{
    COptions& a = Parse({"-V", "-v", "-h", "-g", "-n"});
    EXPECT_TRUE(a.verify && a.verbose && a.ignoreCase && a.statistics);
    EXPECT_FALSE(a.changeDirPermissions);
    COptions::DestroyInstance();

    COptions& b = Parse({"-Vvhgn"});
    EXPECT_TRUE(b.verify && b.verbose && b.ignoreCase && b.statistics);
    EXPECT_FALSE(b.changeDirPermissions);
    COptions::DestroyInstance();

    COptions& c = Parse({"-j", "-ir"});
    EXPECT_TRUE(c.forceExtraction);
    EXPECT_FALSE(c.changeDirPermissions);
    EXPECT_TRUE(c.ignoreInaccessible);
    EXPECT_FALSE(c.resolveLinks);
}

TEST_F(OptionsTest, WordOnlyOptions)
{
    COptions& o = Parse({"-e",   "-P",     "-lower", "-flat",   "-x",        "-R",      "out",
                         "-X",   "ex.lst", "-T",     "ren.lst", "-A",        "inc.lst", "-C",
                         "dir",  "-H",     "SHA1",   "-key",    "k.pse",     "-L",      "lib.so",
                         "-pwd", "pw",     "-y",     "SHA512",  "-manifest", "m",       "-crl",
                         "c",    "-F",     "fmt",    "-tsaurl", "http://t",  "-proxy",  "p:1"});
    EXPECT_TRUE(o.redirectOutput && o.absolutePaths && o.lowerCase && o.flat);
    EXPECT_STREQ(o.extractDir, "out");
    EXPECT_STREQ(o.excludeFile, "ex.lst");
    EXPECT_STREQ(o.renameFile, "ren.lst");
    EXPECT_STREQ(o.includeFile, "inc.lst");
    EXPECT_STREQ(o.changeDir, "dir");
    EXPECT_STREQ(o.fileHashAlgorithm, "SHA1");
    EXPECT_STREQ(o.keyStore, "k.pse");
    EXPECT_STREQ(o.securityLibrary, "lib.so");
    EXPECT_STREQ(o.keyStorePassword, "pw");
    EXPECT_STREQ(o.signatureHashAlgorithm, "SHA512");
    EXPECT_STREQ(o.externalManifest, "m");
    EXPECT_STREQ(o.revocationList, "c");
    EXPECT_STREQ(o.signatureFormat, "fmt");
    EXPECT_STREQ(o.timestampServer, "http://t");
    EXPECT_STREQ(o.proxy, "p:1");
    EXPECT_TRUE(o.fileList.empty());
}

TEST_F(OptionsTest, EmptyWordsAndLoneDash)
{
    COptions& o = Parse({"-R", "", "", "-", "-c"});
    ASSERT_NE(o.extractDir, nullptr);
    EXPECT_STREQ(o.extractDir, "");
    EXPECT_EQ(o.fileList, std::vector<std::string>({""}));
    EXPECT_EQ(o.commandCode, KOV_CMD_CREATE);
}

TEST_F(OptionsTest, UnknownLetterNamesTheRestOfTheWord)
{
    CExcept e = ParseFails({"-cvPf", "a.kox"});
    EXPECT_EQ(e.GetCode(), 20u);
    EXPECT_TRUE(StartsWith(e.GetText(), "KOVZEF: unknown command option Pf (error 20). ")) << e.GetText();
    EXPECT_EQ(CApplication::Instance().GetExitStatus(), 20);

    COptions::DestroyInstance();
    CExcept e2 = ParseFails({"-cve"});
    EXPECT_TRUE(StartsWith(e2.GetText(), "KOVZEF: unknown command option e (error 20). "));

    // The words behind a bad one are read all the same (where messages go
    // depends on the archive named there); the first failure is the run's,
    // its status too.
    COptions::DestroyInstance();
    CExcept e3 = ParseFails({"-cXvf", "/dev/stdout", "d", "-f", "b.kox", "-p", "9"});
    EXPECT_TRUE(StartsWith(e3.GetText(), "KOVZEF: unknown command option Xvf (error 20). ")) << e3.GetText();
    EXPECT_EQ(CApplication::Instance().GetExitStatus(), 20);
    EXPECT_STREQ(COptions::Instance().archiveName, "/dev/stdout");
    EXPECT_TRUE(COptions::Instance().verbose);
    EXPECT_EQ(COptions::Instance().fileList, std::vector<std::string>({"d"}));
}

TEST_F(OptionsTest, MissingValue)
{
    CExcept a = ParseFails({"-cvf"});
    EXPECT_EQ(a.GetCode(), 19u);
    EXPECT_TRUE(StartsWith(a.GetText(), "KOVZEF: f-option specified without filename (error 19). ")) << a.GetText();
    COptions::DestroyInstance();

    CExcept b = ParseFails({"-cvf", "-x"});
    EXPECT_EQ(b.GetCode(), 19u);
    COptions::DestroyInstance();

    CExcept c = ParseFails({"-c", "-X"});
    EXPECT_TRUE(StartsWith(c.GetText(), "KOVZEF: X-option specified without filename"));
    COptions::DestroyInstance();

    CExcept d = ParseFails({"-key", "-pwd", "x"});
    EXPECT_TRUE(StartsWith(d.GetText(), "KOVZEF: key-option specified without filename"));
}

TEST_F(OptionsTest, SetOnce)
{
    CExcept a = ParseFails({"-cvf", "a.kox", "-f", "b.kox"});
    EXPECT_EQ(a.GetCode(), 18u);
    EXPECT_TRUE(StartsWith(a.GetText(), "KOVZEF: f: use option only once (error 18). ")) << a.GetText();
    COptions::DestroyInstance();

    CExcept b = ParseFails({"-p", "644", "-p", "600"});
    EXPECT_EQ(b.GetCode(), 18u);
    EXPECT_TRUE(StartsWith(b.GetText(), "KOVZEF: use p-option only once (error 18). "));
    COptions::DestroyInstance();

    CExcept c = ParseFails({"-manifest", "a", "-manifest", "b"});
    EXPECT_TRUE(StartsWith(c.GetText(), "KOVZEF: manifest: use option only once"));
}

TEST_F(OptionsTest, PermissionsAreOctalPermissionBitsOnly)
{
    EXPECT_EQ(Parse({"-p", "644"}).permissions, 0644u);
    COptions::DestroyInstance();
    EXPECT_EQ(Parse({"-p", "07777"}).permissions, 07777u);
    COptions::DestroyInstance();
    EXPECT_EQ(Parse({"-p", " +755"}).permissions, 0755u);
    COptions::DestroyInstance();
    COptions& zero = Parse({"-p", "0"});
    EXPECT_EQ(zero.permissions, 0u);
    EXPECT_STREQ(zero.permissionText, "0");
    COptions::DestroyInstance();
    COptions& last = Parse({"-c", "-p"});
    EXPECT_EQ(last.permissionText, nullptr);
    EXPECT_EQ(last.permissions, 0u);

    // Values that would reach into the file-type bits, negative values and
    // words without an octal digit are refused.
    for (const char* bad : {"9", "", "x", "40644", "10000", "-1", "-644", "77777777777"}) {
        COptions::DestroyInstance();
        CExcept e = ParseFails({"-p", bad});
        EXPECT_EQ(e.GetCode(), 27u) << bad;
        EXPECT_TRUE(StartsWith(e.GetText(), "KOVZEF: no octal value specified for p-option (error 27). ")) << bad;
        EXPECT_EQ(COptions::Instance().permissions, 0u) << bad;
    }
}

TEST_F(OptionsTest, BackupOnlyWritesItsMessage)
{
    CAPILogMan* log = new CAPILogMan;
    CLogMan* previous = CApplication::Instance().SwapLogMan(log);
    COptions& o = Parse({"-backup", "-t"});
    EXPECT_EQ(log->Collected(), "KOVZEF: option -backup not supported on non-Windows platforms (option ignored)\n");
    EXPECT_FALSE(o.backupMode);
    EXPECT_FALSE(o.backupPrivilege);
    EXPECT_EQ(o.commandCode, KOV_CMD_LIST);
    delete CApplication::Instance().SwapLogMan(previous);
}

// --- consistency checks ---------------------------------------------------

TEST_F(OptionsTest, CheckNeedsACommand)
{
    CExcept e = CheckFails({"-fx", "a.kox"});
    EXPECT_EQ(e.GetCode(), 21u);
    EXPECT_TRUE(StartsWith(e.GetText(), "KOVZEF: please specify a command (one of -c, -x, -t, "
                                        "-d, -a, -m, -l, -S, -M) (error 21). "));
}

TEST_F(OptionsTest, CheckCommandNeeds)
{
    struct Case {
        std::initializer_list<const char*> words;
        uint32_t code;
        const char* message;
    };
    const Case cases[] = {
        {{"-c", "-f", "a.kox"}, 29, "KOVZEF: no files given for archiving"},
        {{"-a", "-f", "a.kox"}, 29, "KOVZEF: no files specified for appending"},
        {{"-l", "-R", "dir"}, 29, "KOVZEF: no files specified for scanning"},
        {{"-mV", "x"}, 53, "KOVZEF: no signatures supported for merging (error 53). "},
        {{"-mS", "x"}, 53, "KOVZEF: no signatures supported for merging"},
        {{"-S", "file"}, 20, "KOVZEF: additionally files are not allowed for signing an archive (error 20). "},
    };
    for (const Case& c : cases) {
        COptions::DestroyInstance();
        CExcept e = CheckFails(c.words);
        EXPECT_EQ(e.GetCode(), c.code) << c.message;
        EXPECT_TRUE(StartsWith(e.GetText(), c.message)) << e.GetText();
    }
}

TEST_F(OptionsTest, CheckPassesWithoutArchiveName)
{
    // x, S and M fall back on DEFAULT.KOX; d and t need nothing at all.
    for (auto words : {std::initializer_list<const char*>{"-x", "-v"}, std::initializer_list<const char*>{"-M", "-v"},
                       std::initializer_list<const char*>{"-S", "-v"}, std::initializer_list<const char*>{"-d", "-v"},
                       std::initializer_list<const char*>{"-t", "-v"}}) {
        COptions::DestroyInstance();
        COptions& o = Parse(words);
        EXPECT_NO_THROW(o.Check());
    }
    EXPECT_EQ(COptions::Instance().archiveList, std::vector<std::string>());
    COptions::DestroyInstance();
    COptions& x = Parse({"-x", "-v"});
    x.Check();
    EXPECT_EQ(x.archiveList, std::vector<std::string>({"DEFAULT.KOX"}));
}

TEST_F(OptionsTest, CheckOptionCombinationsInOrder)
{
    struct Case {
        std::initializer_list<const char*> words;
        uint32_t code;
        const char* message;
    };
    const Case cases[] = {
        {{"-c", "-C", "d", "-P", "f"}, 22, "KOVZEF: don't use both P-option and C-option"},
        {{"-t", "-C", "d", "-P"}, 22, "KOVZEF: don't use both P-option and C-option"},
        {{"-x", "-C", "d"}, 23, "KOVZEF: use C-option only with create (-c)"},
        {{"-t", "-T", "f", "-C", "d"}, 23, "KOVZEF: use C-option only with create (-c)"},
        {{"-t", "-T", "f"}, 24, "KOVZEF: use T-option only with create (-c) or append (-a)"},
        {{"-t", "-X", "f"}, 25, "KOVZEF: use X-option only with create (-c), append (-a) or scan (-l)"},
        {{"-c", "-R", "d", "f"}, 26, "KOVZEF: use R-option only with extract (-x) or list content (-t)"},
        {{"-xs"}, 31, "KOVZEF: use s-option only with list content (-t)"},
        {{"-d", "-lower"}, 46, "KOVZEF: use -lower only with extract (-x)"},
    };
    for (const Case& c : cases) {
        COptions::DestroyInstance();
        CExcept e = CheckFails(c.words);
        EXPECT_EQ(e.GetCode(), c.code) << c.message;
        EXPECT_TRUE(StartsWith(e.GetText(), c.message)) << e.GetText();
        EXPECT_EQ(CApplication::Instance().GetExitStatus(), static_cast<int32_t>(c.code));
    }
    // Accepted combinations.
    for (auto words : {std::initializer_list<const char*>{"-t", "-R", "d", "-s"},
                       std::initializer_list<const char*>{"-x", "-lower", "-R", "d"},
                       std::initializer_list<const char*>{"-l", "-X", "f", "a"},
                       std::initializer_list<const char*>{"-a", "-T", "f", "a"},
                       std::initializer_list<const char*>{"-c", "-C", "d", "a"}}) {
        COptions::DestroyInstance();
        EXPECT_NO_THROW(Parse(words).Check());
    }
}

}  // namespace

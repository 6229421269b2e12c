// The command-line entry: assignments and their aliases, the limits, and
// the start-profile merge through a private file in /tmp.
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <sstream>
#include <string>

#include "flat/kovparam_int.h"
#include "tests/unit/flat/param_fixture.h"

namespace {

TEST_F(ParamTest, AssignmentsAliasesAndTheirLimits)
{
    std::vector<std::string> args = {"sysnr=07", "file.txt", "name\t=ABC", std::string(2100, 'a'), "SYSNR"};
    for (int i = 0; i < 18; ++i)
        args.push_back(Cat("WPBTC=", std::to_string(i)));
    args.push_back("TRACE=9");
    StderrCapture err;
    Start(args);
    EXPECT_EQ(err.Take(), "prog: kovparam: commandline argument too large\n"
                          "prog: kovparam: too many commandline arguments\n"
                          "prog: kovparam(1c): No Profile used.\n");
    EXPECT_EQ(Get("KOVSYSTEM"), "07");
    EXPECT_EQ(Get("INSTANCE_NAME"), "D07");
    EXPECT_EQ(Get("KOVSYSTEMNAME"), "ABC");
    EXPECT_EQ(Get("DIR_INSTALL"), "/usr/kov/ABC/SYS");
    EXPECT_EQ(Get("rdisp/wp_no_btc"), "17");
    EXPECT_EQ(Get("rdisp/TRACE"), "1");
    EXPECT_EQ(Get("KOVARGC"), "20");
    int argc = 0;
    char** argv = nullptr;
    kovparam_get_args(&argc, &argv);
    ASSERT_EQ(argc, 4);
    EXPECT_STREQ(argv[1], "file.txt");
    EXPECT_EQ(strlen(argv[2]), 2100u);
    EXPECT_STREQ(argv[3], "SYSNR");
    EXPECT_EQ(argv[4], nullptr);
    EXPECT_EQ(kovparam_set_program_defaults(nullptr, 0), -1);
}

TEST_F(ParamTest, RelativeProfileNameIsTakenFromTheWorkingDirectory)
{
    Write("rel.pfl", "KOVSYSTEMNAME = REL\n");
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(root_.c_str()), 0);
    StderrCapture err;
    Start({"PROFILE=rel.pfl"});
    EXPECT_EQ(chdir(here), 0);
    EXPECT_EQ(err.Take(), "");
    EXPECT_EQ(Get("KOVPROFILE_IN_EFFECT"), (root_ / "rel.pfl").string());
    EXPECT_EQ(Get("DIR_INSTALL"), "/usr/kov/REL/SYS");
}

// The merge file is checked while the initialisation reads it.
mode_t g_mergeMode;
bool g_mergeSeen;
KovParamRecord* WatchMergeFile(const char* name)
{
    struct stat st;
    if (g_kp.mergeFile[0] && lstat(g_kp.mergeFile, &st) == 0) {
        g_mergeSeen = true;
        g_mergeMode = st.st_mode;
    }
    return KovParamFind(name);
}

TEST_F(ParamTest, StartProfileIsMergedPrivatelyAndTheMergeFileRemoved)
{
    std::string start = Write("prof/START_DVEB00_host", "X = start\nONLY_START = s\n");
    Write("prof/KOV_DVEB00_host", "KOVSYSTEMNAME = MRG\nX = instance\nONLY_INST = i\n");
    Write("prof/KOV_OTHER_host", "X = other\n");
    g_mergeSeen = false;
    kovparam_set_lookup_hook(WatchMergeFile);
    StderrCapture err;
    Start({"pf=" + start});
    kovparam_set_lookup_hook(nullptr);
    EXPECT_EQ(err.Take(), "");
    EXPECT_EQ(Get("X"), "start");
    EXPECT_EQ(Get("ONLY_INST"), "i");
    EXPECT_EQ(Get("ONLY_START"), "s");
    EXPECT_EQ(Get("KOVPROFILE_IN_EFFECT"), start);
    ASSERT_TRUE(g_mergeSeen);
    EXPECT_TRUE(S_ISREG(g_mergeMode));
    EXPECT_EQ(g_mergeMode & 0777, 0600u);
    EXPECT_TRUE(std::filesystem::is_empty(root_ / "tmp"));
}

TEST_F(ParamTest, LinksPlantedAtTheMergeNamesAreNeverFollowed)
{
    std::string start = Write("prof/START_DVEB00_host", "KOVSYSTEMNAME = LNK\nX = start\n");
    Write("prof/KOV_DVEB00_host", "X = instance\nONLY_INST = i\n");
    std::string victim = Write("victim", "untouched");
    long now = static_cast<long>(time(nullptr));
    for (long t = now; t <= now + 2; ++t)
        for (int n = 0; n < 10; ++n)
            std::filesystem::create_symlink(
                victim,
                root_ / "tmp" / Cat(std::to_string(getpid()), "_", std::to_string(t), "_", std::to_string(n), ".pfl"));
    StderrCapture err;
    Start({"pf=" + start});
    EXPECT_EQ(err.Take(), "");
    std::ifstream in(victim);
    std::ostringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "untouched");
    // No merge: the start profile alone is the instance profile.
    EXPECT_EQ(Get("X"), "start");
    EXPECT_EQ(kovparam_get("ONLY_INST"), nullptr);
}

}  // namespace

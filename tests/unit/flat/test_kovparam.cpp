// Profile parameters: the clean start, the layers and their precedence,
// substitution and composition, numbers, booleans, paths, hostile profiles.
#include <cstring>
#include <string>

#include "flat/kovparam_int.h"
#include "tests/unit/flat/param_fixture.h"

namespace {

// The empty system name was also reported as an empty parameter, a fourth
// line, although the substitution takes it as a value.
TEST_F(ParamTest, CleanEnvironmentPrintsItsThreeLinesOnceAndKeepsTheDefaults)
{
    StderrCapture err;
    EXPECT_EQ(Get("KOVSYSTEM"), "00");
    EXPECT_EQ(Get("INSTANCE_NAME"), "D00");
    EXPECT_EQ(Get("DIR_PROFILE"), "/usr/kov//SYS/profile");
    EXPECT_EQ(Get("DIR_EXECUTABLE"), "/usr/kov//SYS/exe/run");
    EXPECT_EQ(Get("ssl/pse_provider"), "KOV");
    EXPECT_EQ(Get("install/codepage/appl_server"), "1100");
    EXPECT_EQ(Get("no/such/parameter"), "<null>");
    EXPECT_EQ(kovparam_get(nullptr), nullptr);
    EXPECT_EQ(err.Take(), "kovparam: kovargv(argc, argv) has not been called!\n"
                          "kovparam(1c): No Profile used.\n"
                          "kovparam: KOVSYSTEMNAME neither in Profile nor in Commandline\n");

    // The code page set-up tells a profile value from the sentinel default.
    const char *l11, *l34, *eff;
    unsigned char f2 = 9, f3 = 9;
    kovparam_get_all_levels("install/codepage/db/transp", &l11, nullptr, nullptr, nullptr, nullptr, &f2, nullptr,
                            nullptr, nullptr, &l34, &f3, &eff);
    EXPECT_STREQ(l11, "kovparam: Don't use");
    EXPECT_EQ(l11, l34);
    EXPECT_EQ(eff, l34);
    EXPECT_EQ(f2 + f3, 2);
    kovparam_get_all_levels("no/such", &l11, nullptr, nullptr, nullptr, nullptr, &f2, nullptr, nullptr, nullptr, &l34,
                            &f3, &eff);
    EXPECT_TRUE(!l11 && !l34 && !eff && !f2 && !f3);
}

TEST_F(ParamTest, SystemNumberFromTheEnvironmentMustBeTwoDigits)
{
    setenv("KOVSYSTEM", "5", 1);
    {
        StderrCapture err;
        EXPECT_EQ(Get("KOVSYSTEM"), "00");
        EXPECT_NE(err.Take().find("kovparam(9): environment variable $KOVSYSTEM format error.\n"), std::string::npos);
    }
    kovparam_seam_reset();
    setenv("KOVSYSTEM", "07", 1);
    StderrCapture err;
    EXPECT_EQ(Get("INSTANCE_NAME"), "D07");
    EXPECT_EQ(err.Take().find("(9)"), std::string::npos);
    unsetenv("KOVSYSTEM");
}

// Every source at once: built-in, program, default profile, instance
// profile and command line, each visible at its own level.
TEST_F(ParamTest, LayersTakePrecedenceInOrderAndStayVisible)
{
    std::string inst = Write("inst.pfl", "# instance\n"
                                         "KOVSYSTEMNAME = QAS\n"
                                         "  ONLY_INST   =   inst value  \n"
                                         "SHARED = from instance\n"
                                         "KOVSYSTEM = 42\n");
    WriteDefaultProfile("QAS", "SHARED = from default\n"
                               "# DIR_PROFILE = /elsewhere\n"
                               "rdisp/TRACE\t=\t2\n"
                               "DIR_INSTALL = /opt/qas\n"
                               "ONLY_DEFAULT = d-$(DIR_INSTALL)\n");
    KovParamPair pairs[] = {{"zcsa/system_language", "F"}, {"PROG_ONLY", "p"}, {nullptr, nullptr}};
    ASSERT_EQ(kovparam_set_program_defaults(pairs, 0), 0);
    EXPECT_EQ(kovparam_set_program_defaults(pairs, 0), -3);

    StderrCapture err;
    Start({"pf=" + inst, "TRACE=3", "file.txt"});
    EXPECT_EQ(err.Take(), "");
    EXPECT_EQ(kovparam_set_program_defaults(pairs, 0), -1);

    EXPECT_EQ(Get("SHARED"), "from instance");
    EXPECT_STREQ(kovparam_get_default_profile_value("SHARED"), "from default");
    EXPECT_EQ(Get("ONLY_INST"), "inst value");
    EXPECT_EQ(Get("KOVSYSTEM"), "42");
    EXPECT_EQ(Get("INSTANCE_NAME"), "D42");
    EXPECT_EQ(Get("zcsa/system_language"), "F");
    EXPECT_EQ(Get("PROG_ONLY"), "p");

    const char *l11, *l21, *l31, *l32, *eff;
    kovparam_get_all_levels("rdisp/TRACE", &l11, nullptr, &l21, nullptr, nullptr, nullptr, &l31, &l32, nullptr, nullptr,
                            nullptr, &eff);
    EXPECT_STREQ(l11, "1");
    EXPECT_STREQ(l21, "2");
    EXPECT_EQ(l31, l21);  // nothing of its own: follows the level below
    EXPECT_STREQ(l32, "3");
    EXPECT_STREQ(eff, "3");

    // The profile directory was found before the default profile was read;
    // what the default profile then changed still takes effect.
    EXPECT_EQ(Get("__KOVPROFILE_DEFAULT"), "/usr/kov/QAS/SYS/profile/DEFAULT.PFL");
    EXPECT_EQ(Get("__KOVPROFILE_n_DEFAULT"), "00004");
    EXPECT_EQ(Get("__KOVPROFILE_n_PF_FILE"), "00004");
    EXPECT_EQ(Get("KOVPROFILE_IN_EFFECT"), inst);
    EXPECT_EQ(Get("DIR_INSTALL"), "/opt/qas");
    EXPECT_EQ(Get("DIR_EXE_ROOT"), "/opt/qas/exe");
    EXPECT_EQ(Get("ONLY_DEFAULT"), "d-/opt/qas");

    int argc = 0;
    char** argv = nullptr;
    kovparam_get_args(&argc, &argv);
    ASSERT_EQ(argc, 2);
    EXPECT_STREQ(argv[0], "prog");
    EXPECT_STREQ(argv[1], "file.txt");
    EXPECT_EQ(Get("KOVARGV"), "pf=" + inst + " TRACE=3 ");
    EXPECT_EQ(Get("KOVARGC"), "2");
}

TEST_F(ParamTest, ProfileSettingItsOwnDirectoryIsReported)
{
    std::string inst = Write("inst.pfl", "KOVSYSTEMNAME = PRF\n");
    WriteDefaultProfile("PRF", "DIR_PROFILE = /elsewhere\n");
    StderrCapture err;
    Start({"pf=" + inst});
    EXPECT_EQ(err.Take(), "prog: kovparam: \"DIR_PROFILE\": must not be in \"/usr/kov/PRF/SYS/profile/DEFAULT.PFL\"\n");
}

TEST_F(ParamTest, EverySubstitutionFormWithLoopsAndMissingNames)
{
    setenv("KOVPARAM_TEST_HOME", "/home/t", 1);
    unsetenv("KOVPARAM_TEST_UNSET");
    std::string text = "KOVSYSTEMNAME = SUB\n"
                       "S_SYSNR = x$$y$$\n"
                       "S_ENV = %(KOVPARAM_TEST_HOME)/bin\n"
                       "S_ENV_UNSET = %(KOVPARAM_TEST_UNSET)/x\n"
                       "S_REF = <$(S_ENV)>\n"
                       "S_NESTED = $(ssl/pse_provider[$(S_KIND)])\n"
                       "S_KIND = JAVA\n"
                       "S_SELF = a$(S_SELF)b\n"
                       "S_MISSING = $(NO_SUCH_PARAM)-ok-$(S_KIND)\n"
                       "S_OPEN = x$(S_KIND\n"
                       "S_ENV_OPEN = y%(HOME\n"
                       "S_CYCLE_A = $(S_CYCLE_B)\n"
                       "S_CYCLE_B = $(S_CYCLE_A)\n";
    // A chain of fifty references resolves quietly; one of sixty passes the
    // nesting limit and is reported.
    for (int i = 1; i <= 50; ++i)
        text += Cat("D", std::to_string(100 + i), " = ", i < 50 ? Cat("$(D", std::to_string(101 + i), ")") : "end",
                    "\n");
    for (int i = 1; i <= 60; ++i)
        text += Cat("C", std::to_string(100 + i), " = ", i < 60 ? Cat("$(C", std::to_string(101 + i), ")") : "end",
                    "\n");
    std::string inst = Write("inst.pfl", text);
    StderrCapture err;
    Start({"pf=" + inst});
    std::string msgs = err.Take();

    EXPECT_EQ(Get("S_SYSNR"), "x00y00");
    EXPECT_EQ(Get("S_ENV"), "/home/t/bin");
    EXPECT_EQ(Get("S_ENV_UNSET"), "/x");
    EXPECT_EQ(Get("S_REF"), "</home/t/bin>");
    EXPECT_EQ(Get("S_NESTED"), "JAVA");
    EXPECT_EQ(Get("S_SELF"), "a$(S_SELF)b");
    EXPECT_EQ(Get("S_MISSING"), "$(NO_SUCH_PARAM)-ok-JAVA");
    EXPECT_EQ(Get("S_OPEN"), "x$(S_KIND");
    EXPECT_EQ(Get("S_ENV_OPEN"), "y%(HOME");
    EXPECT_EQ(Get("D101"), "end");

    EXPECT_EQ(CountOf(msgs, "prog: kovparam(13): S_SELF = a$(S_SELF)b recursive.\n"), 1u);
    EXPECT_EQ(CountOf(msgs, "prog: kovparam(14): NO_SUCH_PARAM (ref.by S_MISSING) missing.\n"), 1u);
    EXPECT_EQ(CountOf(msgs, "prog: kovparam(15): S_OPEN: ')' missing.\n"), 1u);
    EXPECT_EQ(CountOf(msgs, "prog: kovparam(15): S_ENV_OPEN: ')' missing.\n"), 1u);
    EXPECT_GE(CountOf(msgs, "kovparam(12): C1"), 1u);
    EXPECT_EQ(CountOf(msgs, "kovparam(12): D1"), 0u);
    EXPECT_GE(CountOf(msgs, "S_CYCLE_"), 1u);
    unsetenv("KOVPARAM_TEST_HOME");
}

TEST_F(ParamTest, CompositionFollowsThePlatformToken)
{
    struct Case {
        const char* token;
        const char* profileDir;
        const char* dataDir;
        bool targetMessage;
    };
    const Case cases[] = {
        {"KOVonNT", "/usr/kov/CMP/SYS\\profile", "/usr/kov/CMP/D00\\data", false},
        {"KOVonOS400", "/usr/kov/CMP/SYS/profile", "/usr/kov/CMP/D00/data", true},
        {"KOVonMARS", "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.token);
        kovparam_seam_reset();
        std::string inst = Write("inst.pfl", std::string("KOVSYSTEMNAME = CMP\nGetDsCtrl = ") + c.token + "\n");
        StderrCapture err;
        Start({"pf=" + inst});
        std::string msgs = err.Take();
        EXPECT_EQ(Get("DIR_PROFILE"), c.profileDir);
        EXPECT_EQ(Get("DIR_DATA"), c.dataDir);
        EXPECT_EQ(msgs.find("prog: kovparam: target not implemented in Function GetDsSpec\n") != std::string::npos,
                  c.targetMessage);
    }
    // The built-in level shows what a composed default is made of.
    const char* name;
    const char* cmd;
    const char* dflt;
    kovparam_iter_start("DIR_PROFILE");
    ASSERT_EQ(kovparam_iter_next(&name, &cmd, &dflt), 2);
    EXPECT_STREQ(dflt, "$(__1_DIR_PROFILE)/$(__2_DIR_PROFILE)");
    kovparam_iter_start("DIR_PROFILE");
    ASSERT_EQ(kovparam_iter_next_raw(&name, &cmd, &dflt), 2);
    EXPECT_STREQ(dflt, "(Default)");
}

TEST_F(ParamTest, NumbersWithEverySuffixAndOverflow)
{
    struct Case {
        const char* value;
        int rc;
        int64_t number;
    };
    const Case cases[] = {
        {"12K", 0, 12288},
        {"12 KB", 0, 12288},
        {"  12kb", 0, 12288},
        {"12kB", 0, 12},
        {"12Kb", 0, 12},
        {"12 K more", 0, 12},
        {"3m", 0, 3145728},
        {"-3MB", 0, -3145728},
        {"2g", 0, 2147483648LL},
        {"7GB", 0, 7516192768LL},
        {"abc", 0, 0},
        {"", 0, 0},
        {"9223372036854775807", 0, INT64_MAX},
        {"8589934591G", 0, 8589934591LL * 1073741824LL},
        {"8589934592G", -1, 0},
        {"9007199254740992K", -1, 0},
        {"-9007199254740993K", -1, 0},
        {"99999999999999999999", -1, 0},
    };
    std::vector<std::string> names;
    std::vector<KovParamPair> pairs;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        names.push_back(Cat("N", std::to_string(i)));
    for (size_t i = 0; i < names.size(); ++i)
        pairs.push_back({names[i].c_str(), cases[i].value});
    pairs.push_back({nullptr, nullptr});
    ASSERT_EQ(kovparam_set_program_defaults(pairs.data(), 0), 0);
    StderrCapture err;
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(cases[i].value);
        int64_t n = 0;
        EXPECT_EQ(kovparam_get_number(names[i].c_str(), &n), cases[i].rc);
        if (cases[i].rc == 0) {
            EXPECT_EQ(n, cases[i].number);
        }
    }
    int64_t n;
    EXPECT_EQ(kovparam_get_number("no/such", &n), -1);
}

TEST_F(ParamTest, BooleansAnyCase)
{
    const std::string longWord(200, 'Y');
    KovParamPair pairs[] = {{"B1", "yes"},     {"B2", "On"},    {"B3", "1"},
                            {"B4", "off"},     {"B5", "No"},    {"B6", "FALSE"},
                            {"B7", ""},        {"B8", "maybe"}, {"B9", longWord.c_str()},
                            {nullptr, nullptr}};
    ASSERT_EQ(kovparam_set_program_defaults(pairs, 0), 0);
    StderrCapture err;
    const int expected[] = {1, 1, 1, 0, 0, 0, 2, 2, 2};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(kovparam_get_bool(pairs[i].name), expected[i]) << pairs[i].value;
    EXPECT_EQ(kovparam_get_bool("no/such"), 2);
}

TEST_F(ParamTest, ComposedPathsFitOrFail)
{
    StderrCapture err;
    char out[64];
    EXPECT_EQ(kovparam_compose_path("/a/b", "c.pse", nullptr, out, sizeof out), 0);
    EXPECT_STREQ(out, "/a/b/c.pse");
    EXPECT_EQ(kovparam_compose_path("C:", "c.pse", "KOVonNT", out, sizeof out), 0);
    EXPECT_STREQ(out, "C:\\c.pse");
    EXPECT_EQ(kovparam_compose_path("/a/b", "", nullptr, out, sizeof out), 0);
    EXPECT_STREQ(out, "/a/b");
    EXPECT_EQ(kovparam_compose_path("/a/b", "c", "KOVonMARS", out, sizeof out), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(kovparam_compose_path(nullptr, "c", nullptr, out, sizeof out), -1);
    EXPECT_EQ(kovparam_compose_path("/a", "c", nullptr, out, 0), -1);

    // Too long for the destination, or for the work space: a failure, never
    // a cut or empty path reported as success.
    EXPECT_EQ(kovparam_compose_path("/a/b", "c.pse", nullptr, out, 10), -1);
    EXPECT_STREQ(out, "");
    std::string dir(790, 'd');
    std::vector<char> big(4091);
    EXPECT_EQ(kovparam_compose_path(dir.c_str(), "123456789", nullptr, big.data(), big.size()), -1);
    EXPECT_STREQ(big.data(), "");
    EXPECT_EQ(kovparam_compose_path(dir.c_str(), "12345678", nullptr, big.data(), big.size()), 0);
    EXPECT_EQ(strlen(big.data()), 799u);
}

// A value longer than the line space is reported and its whole line
// dropped; the rest of it is never read as a line of its own.
TEST_F(ParamTest, HostileInstanceProfileLines)
{
    std::string text = "KOVSYSTEMNAME=HST\n"
                       "A=1\n"
                       "B = " +
                       std::string(8300, 'x') +
                       "Z=evil\n"
                       "C=3\n"
                       "lonely name\n"
                       "GRANT=skipped\n"
                       "D=with cr\r\n"
                       "A=2\n"
                       "E=";
    std::string inst = Write("inst.pfl", text);
    WriteDefaultProfile("HST", "F = " + std::string(5000, 'y') + "Z=evil\nG = 7\n");
    StderrCapture err;
    Start({"pf=" + inst});
    EXPECT_EQ(err.Take(), "prog: kovparam(7): " + inst +
                              ": line 3 is too long\n"
                              "prog: kovparam(6): " +
                              inst +
                              ": missing '=' in line 5\n"
                              "prog: kovparam(7): " +
                              inst +
                              ": line 9 is too long\n"
                              "prog: kovparam(7): /usr/kov/HST/SYS/profile/DEFAULT.PFL: line 1 is too long\n");
    EXPECT_EQ(Get("A"), "2");
    EXPECT_EQ(Get("C"), "3");
    EXPECT_EQ(Get("D"), "with cr");
    EXPECT_EQ(Get("G"), "7");
    for (const char* gone : {"B", "Z", "E", "F", "GRANT", "lonely name"})
        EXPECT_EQ(kovparam_get(gone), nullptr) << gone;
    EXPECT_EQ(Get("__KOVPROFILE_n_PF_FILE"), "00005");
}

// Bytes that begin no valid UTF-8 sequence were taken silently: each is kept
// as "#" and reported by where it stands, valid sequences pass unchanged, and
// more than 100 of them end the reading.
TEST_F(ParamTest, IllegalBytesInTheInstanceProfileAreMarkedAndLimited)
{
    std::string text = "KOVSYSTEMNAME=HST\n"
                       "N\xffME = v\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\n"
                       "\xc3(=x\xed\xa0\x80y\xf4\x90\n"
                       "GR\xff=skipped\n"
                       "# \xc0 comment\n"
                       "M=" +
                       std::string(95, '\xff') +
                       "\n"
                       "AFTER=1\n";
    std::string inst = Write("inst.pfl", text);
    WriteDefaultProfile("HST", "");
    StderrCapture err;
    Start({"pf=" + inst});
    std::string want = "prog: kovparam(17): " + inst +
                       ": line 2 illegal byte sequence in name\n"
                       "prog: kovparam(18): " +
                       inst + ": line 3 starts with illegal byte sequence\n";
    for (int i = 0; i < 5; ++i)
        want += "prog: kovparam(16): " + inst + ": line 3 illegal byte sequence in value\n";
    for (int i = 0; i < 94; ++i)  // the 101st ends the reading
        want += "prog: kovparam(16): " + inst + ": line 6 illegal byte sequence in value\n";
    want += "prog: kovparam(18): " + inst + ": reading canceld after 101 illegal bytes\n";
    EXPECT_EQ(err.Take(), want);
    EXPECT_EQ(Get("N#ME"), "v\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_EQ(Get("#("), "x###y##");
    for (const char* gone : {"M", "AFTER", "GR#"})
        EXPECT_EQ(kovparam_get(gone), nullptr) << gone;
}

TEST_F(ParamTest, MissingInstanceProfileIsReportedAndDefaultsStay)
{
    std::string missing = (root_ / "nope.pfl").string();
    StderrCapture err;
    Start({"pf=" + missing});
    std::string msgs = err.Take();
    EXPECT_NE(msgs.find("prog: kovparam(2): fopenU(\"" + missing +
                        "\",\"r\"): No such file or directory\n"
                        "prog: No Profile used.\n"),
              std::string::npos);
    EXPECT_EQ(Get("KOVPROFILE_IN_EFFECT"), "");
    EXPECT_EQ(Get("INSTANCE_NAME"), "D00");
}

TEST_F(ParamTest, ReinitialisationReadsTheNewProfileAndOldStringsStayValid)
{
    std::string first = Write("first.pfl", "KOVSYSTEMNAME = ONE\nX = first\n");
    std::string second = Write("second.pfl", "KOVSYSTEMNAME = TWO\nX = second\n");
    StderrCapture err;
    Start({"pf=" + first});
    const char* old = kovparam_get("X");
    ASSERT_STREQ(old, "first");
    kovparam_reinit_with_profile(second.c_str());
    EXPECT_EQ(Get("X"), "second");
    EXPECT_EQ(Get("DIR_INSTALL"), "/usr/kov/TWO/SYS");
    EXPECT_STREQ(old, "first");
}

TEST_F(ParamTest, IterationOverAPrefix)
{
    std::string inst = Write("inst.pfl", "KOVSYSTEMNAME = ITR\nrdisp/NEW_ONE = n\nrdisp/wp_no_btc = 4\n");
    StderrCapture err;
    Start({"pf=" + inst, "WPDIA=7"});
    kovparam_iter_start("rdisp/wp_no_");
    const char* name;
    const char* cmd;
    const char* dflt;
    std::vector<std::pair<std::string, int>> seen;
    for (int rc; (rc = kovparam_iter_next(&name, &cmd, &dflt)) != 0;)
        seen.emplace_back(name, rc);
    EXPECT_EQ(name, nullptr);
    ASSERT_EQ(seen.size(), 7u);
    EXPECT_EQ(seen[0], std::make_pair(std::string("rdisp/wp_no_btc"), 3));
    EXPECT_EQ(seen[1], std::make_pair(std::string("rdisp/wp_no_dia"), 3));
    EXPECT_EQ(seen[2], std::make_pair(std::string("rdisp/wp_no_enq"), 2));
    kovparam_iter_start("rdisp/NEW");
    EXPECT_EQ(kovparam_iter_next_effective(&name, &cmd, &dflt), 1);
    EXPECT_STREQ(cmd, "n");
    EXPECT_EQ(kovparam_get_record_at(-1), nullptr);
    EXPECT_EQ(kovparam_get_record_at(kovparam_count()), nullptr);
    for (int i = 1; i < kovparam_count(); ++i)
        ASSERT_LT(strcmp(kovparam_get_record_at(i - 1)->name, kovparam_get_record_at(i)->name), 0);
}

TEST_F(ParamTest, MemoryCheckReportsOnRequestAndComputesMappedDefaults)
{
    setenv("LINCHECKOS", " 1", 1);
    {
        StderrCapture err;
        kovparam_get("KOVSYSTEM");
        std::string msgs = err.Take();
        EXPECT_NE(msgs.find("\n------------------------------------------------------------------\n"
                            "LINCheckMemorySettings() --> "),
                  std::string::npos);
        EXPECT_NE(msgs.find("**START Linux Memory Parameter Check\nvirtual memory: hard-limit = "), std::string::npos);
        EXPECT_NE(msgs.find("**END   Linux Memory Parameter Check\n"), std::string::npos);
    }
    // With a system name the report stays quiet, and the mapped
    // implementation gets its memory defaults from the machine.
    kovparam_seam_reset();
    std::string inst = Write("inst.pfl", "KOVSYSTEMNAME = MAP\nes/implementation = map\nPHYS_MEMSIZE = 50%\n"
                                         "INSTANCE_NAME = JC00\n");
    StderrCapture err;
    Start({"pf=" + inst});
    EXPECT_EQ(err.Take(), "");
    EXPECT_EQ(Get("rdisp/PG_SHM"), "64000");
    EXPECT_STREQ(kovparam_get_builtin("rdisp/ROLL_SHM"), "131072");
    EXPECT_EQ(Get("em/max_size_MB"), "8192");
    EXPECT_EQ(Get("j2ee/instance_properties"), "/usr/kov/MAP/SYS/exe/run/jinst.properties");
    unsetenv("LINCHECKOS");
}

TEST_F(ParamTest, InvalidLevelEndsTheProcess)
{
    kovparam_get("KOVSYSTEM");
    KovParamRecord* rec = const_cast<KovParamRecord*>(kovparam_get_record("KOVSYSTEM"));
    EXPECT_EXIT(kovparam_set_level(rec, rec->level11, 22), ::testing::ExitedWithCode(255), "");
}

}  // namespace

// The NLS layer's 16-bit arrays, command-line text and digit splitter, and
// the 16-bit wrappers of system calls: round trips through the file system
// with non-ASCII names, arguments over their limits (never read past them),
// the environment tables, XDR strings, exec argument limits and the cast check.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <rpc/xdr.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "i18n/kovu16/nlsui_u16.h"
#include "i18n/kovu16/u16_diag.h"
#include "u16_test_util.h"
#include "tests/unit/scratch_dir.h"

namespace {

std::string tmpdir()
{
    std::string d = KovTestTmp();
    mkdir(d.c_str(), 0755);
    return d;
}

U16 widen_utf8(const std::string& s)
{
    U16 v(s.size() + 1);
    // Only for the test's own valid texts.
    size_t n = 0;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        unsigned cp = c;
        int len = 1;
        if (c >= 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else if (c >= 0xC0) {
            cp = c & 0x1F;
            len = 2;
        }
        for (int k = 1; k < len; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        v[n++] = static_cast<KOV_UTF16>(cp);
        i += static_cast<size_t>(len);
    }
    v[n] = 0;
    v.resize(n + 1);
    return v;
}

TEST(NlsuiWrappers, FileSystemRoundTrip)
{
    u16_trace_level = 0;
    const std::string dir = tmpdir() + "/r\xC3\xA9pertoire";
    const U16 d16 = widen_utf8(dir), f16 = widen_utf8(dir + "/\xE2\x82\xAC.txt"), g16 = widen_utf8(dir + "/g.txt");
    rmdir(dir.c_str());
    unlink((dir + "/g.txt").c_str());
    ASSERT_EQ(mkdirU16(d16.data(), 0755), 0);
    EXPECT_EQ(accessU16(d16.data(), F_OK), 0);
    FILE* f = fopenU16(f16.data(), u16(u"w").data());
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_EQ(renameU16(f16.data(), g16.data()), 0);
    const int fd = openU16v(f16.data(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    DIR* dp = opendirU16(d16.data());
    ASSERT_NE(dp, nullptr);
    std::vector<std::u16string> names;
    for (direntU16* e; (e = readdirU16(dp)) != nullptr;)
        names.push_back(as_text(e->d_name));
    closedir(dp);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::u16string>{u".", u"..", u"g.txt", u"\u20ac.txt"}));
    EXPECT_EQ(removeU16(f16.data()), 0);
    EXPECT_EQ(removeU16(g16.data()), 0);

    // The working directory, into a caller's buffer and a heap one.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdirU16(d16.data()), 0);
    KOV_UTF16 buf[512];
    ASSERT_EQ(getcwdU16(buf, 512), buf);
    EXPECT_EQ(std::vector<KOV_UTF16>(buf, buf + strlenU16(buf) + 1), d16);
    KOV_UTF16* heap = getcwdU16(nullptr, 512);
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(strcmpU16(heap, buf), 0);
    free(heap);
    errno = 0;
    EXPECT_EQ(getcwdU16(buf, 4), nullptr);
    EXPECT_EQ(errno, ERANGE);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(removeU16(d16.data()), 0);
}

TEST(NlsuiWrappers, ArgumentsOverTheirLimitsAreRefused)
{
    u16_trace_level = 0;
    // 4,097 units without a terminator, ending at an inaccessible page.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    char* mem = static_cast<char*>(mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(mem + 3 * page, page, PROT_NONE);
    auto* path = reinterpret_cast<KOV_UTF16*>(mem + 3 * page) - MAX_PATH_LN;
    for (size_t i = 0; i < MAX_PATH_LN; ++i)
        path[i] = 'a';
    errno = 0;
    EXPECT_EQ(mkdirU16(path, 0755), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(fopenU16(path, u16(u"r").data()), nullptr);
    EXPECT_EQ(errno, ENAMETOOLONG);
    munmap(mem, 4 * page);
    // Terminated, but its UTF-8 form (3 bytes a unit) is longer than the limit.
    U16 wide(1366, 0x20AC);
    wide.push_back(0);
    errno = 0;
    EXPECT_EQ(accessU16(wide.data(), F_OK), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(mkdirU16(nullptr, 0755), -1);  // NULL goes to the system as NULL
    EXPECT_EQ(errno, EFAULT);
}

TEST(NlsuiWrappers, EnvironmentTables)
{
    u16_trace_level = 0;
    ASSERT_EQ(putenvU16(u16(u"KOV_U16_TEST=\u00e9t\u00e9").data()), 0);
    EXPECT_STREQ(getenv("KOV_U16_TEST"), "\xC3\xA9t\xC3\xA9");
    KOV_UTF16* v = getenvU16(u16(u"KOV_U16_TEST").data());
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(as_text(v), u"\u00e9t\u00e9");
    // Many replacements of one variable: the table sheds the strings the
    // environment no longer holds, and the value is always the last one.
    for (int i = 0; i < 300; ++i) {
        const std::string text = "KOV_U16_TEST=" + std::to_string(i);
        ASSERT_EQ(putenvU16(widen(text).data()), 0);
    }
    EXPECT_STREQ(getenv("KOV_U16_TEST"), "299");
    for (int i = 0; i < 300; ++i)
        ASSERT_NE(getenvU16(u16(u"KOV_U16_TEST").data()), nullptr);
    setenv("KOV_U16_EMPTY", "", 1);
    KOV_UTF16* e1 = getenvU16(u16(u"KOV_U16_EMPTY").data());
    ASSERT_NE(e1, nullptr);
    EXPECT_EQ(e1[0], 0);
    EXPECT_EQ(getenvU16(u16(u"KOV_U16_EMPTY").data()), e1);  // the static empty string
    EXPECT_EQ(getenvU16(u16(u"KOV_U16_UNSET_XYZ").data()), nullptr);
    setenv("KOV_U16_BAD", "\xC3(", 1);
    EXPECT_EQ(getenvU16(u16(u"KOV_U16_BAD").data()), nullptr);
}

TEST(NlsuiWrappers, TimeXdrAndNames)
{
    u16_trace_level = 0;
    struct tm tm = {};
    tm.tm_year = 115;
    tm.tm_mon = 3;
    tm.tm_mday = 10;
    KOV_UTF16 out[16];
    EXPECT_EQ(strfctimeU16(out, 16, u16(u"%Y-%m-%d").data(), &tm), 10u);
    EXPECT_EQ(as_text(out), u"2015-04-10");
    EXPECT_EQ(strfctimeU16(out, 10, u16(u"%Y-%m-%d").data(), &tm), 0u);  // exactly the maximum
    EXPECT_EQ(strfctimeU16(nullptr, 10, u16(u"%Y").data(), &tm), 0u);

    char mem[256];
    XDR enc, dec;
    xdrmem_create(&enc, mem, sizeof mem, XDR_ENCODE);
    U16 text = u16(u"gr\u00fc\u00df");
    KOV_UTF16* p = text.data();
    EXPECT_EQ(xdr_stringU16(&enc, &p, 100), 1);
    EXPECT_EQ(xdr_stringU16(&enc, &p, 5), 0);  // 3 × length above the maximum
    xdrmem_create(&dec, mem, sizeof mem, XDR_DECODE);
    KOV_UTF16* got = nullptr;
    EXPECT_EQ(xdr_stringU16(&dec, &got, 100), 1);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(as_text(got), u"gr\u00fc\u00df");
    free(got);

    // A user without an entry of its own (a bare uid) looks up root's.
    const struct passwd* pw = getpwuid(getuid());
    if (pw == nullptr)
        pw = getpwuid(0);
    ASSERT_NE(pw, nullptr);
    passwdU16* p16 = getpwnamU16(widen(pw->pw_name).data());
    ASSERT_NE(p16, nullptr);
    EXPECT_EQ(p16->pw_uid, pw->pw_uid);
    EXPECT_EQ(as_text(p16->pw_dir), as_text(widen(pw->pw_dir).data()));
    hostentU16* h = gethostbynameU16(u16(u"localhost").data());
    if (h != nullptr) {
        EXPECT_EQ(h->h_length, 4);
    }
}

TEST(NlsuiWrappers, ExecArgumentLimit)
{
    u16_trace_level = 0;
    std::vector<U16> args(64, u16(u"x"));
    auto a = [&](int i) { return args[static_cast<size_t>(i)].data(); };
    // 64 arguments: refused before anything runs.
    errno = 0;
    EXPECT_EQ(execlU16(u16(u"/bin/true").data(), a(0), a(1), a(2), a(3), a(4), a(5), a(6), a(7), a(8), a(9), a(10),
                       a(11), a(12), a(13), a(14), a(15), a(16), a(17), a(18), a(19), a(20), a(21), a(22), a(23), a(24),
                       a(25), a(26), a(27), a(28), a(29), a(30), a(31), a(32), a(33), a(34), a(35), a(36), a(37), a(38),
                       a(39), a(40), a(41), a(42), a(43), a(44), a(45), a(46), a(47), a(48), a(49), a(50), a(51), a(52),
                       a(53), a(54), a(55), a(56), a(57), a(58), a(59), a(60), a(61), a(62), a(63),
                       static_cast<KOV_UTF16*>(nullptr)),
              -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(execlU16(u16(u"/bin/true").data(), static_cast<KOV_UTF16*>(nullptr)), -1);
    EXPECT_EQ(errno, ENOENT);
    // 63 arguments run.
    const pid_t pid = fork();
    if (pid == 0) {
        execlU16(u16(u"/bin/true").data(), a(0), a(1), a(2), a(3), a(4), a(5), a(6), a(7), a(8), a(9), a(10), a(11),
                 a(12), a(13), a(14), a(15), a(16), a(17), a(18), a(19), a(20), a(21), a(22), a(23), a(24), a(25),
                 a(26), a(27), a(28), a(29), a(30), a(31), a(32), a(33), a(34), a(35), a(36), a(37), a(38), a(39),
                 a(40), a(41), a(42), a(43), a(44), a(45), a(46), a(47), a(48), a(49), a(50), a(51), a(52), a(53),
                 a(54), a(55), a(56), a(57), a(58), a(59), a(60), a(61), a(62), static_cast<KOV_UTF16*>(nullptr));
        _exit(99);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(NlsuiArrays, ArgumentsEnvironmentCommandLineDigits)
{
    u16_trace_level = 0;
    char arg0[] = "prog", arg1[] = "\xC3\xA9t\xC3\xA9", bad[] = "\xC3(";
    char* argv[] = {arg0, arg1, nullptr};
    KOV_UTF16** a = nlsui_argvU16(2, argv);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(as_text(a[1]), u"\u00e9t\u00e9");
    EXPECT_EQ(a[2], nullptr);
    EXPECT_EQ(nlsui_freeStrArray(a), 1);
    char* env[] = {arg0, bad, arg1};
    KOV_UTF16** e = nlsui_convArrayU16(3, env, 1);
    EXPECT_EQ(as_text(e[1]), u"\u00e9t\u00e9");  // the invalid entry is left out
    EXPECT_EQ(e[2], nullptr);
    nlsui_freeStrArray(e);
    char* badargv[] = {arg0, bad};
    EXPECT_EXIT(nlsui_argvU16(2, badargv), testing::ExitedWithCode(255), "");
    KOV_UTF16** all = nlsui_environU16();
    ASSERT_NE(all, nullptr);
    nlsui_freeStrArray(all);

    std::string longarg(300, 'x');
    char* l[] = {longarg.data()};
    EXPECT_EQ(std::string(nlsui_argv2cmdline(1, l)), std::string(256, 'x'));
    char a1[] = "a", b1[] = "b\xC3\xA9";
    char* ab[] = {a1, b1};
    EXPECT_STREQ(nlsui_argv2cmdline(2, ab), "a b##");

    int pos = -9, sign = -9;
    EXPECT_STREQ(nlsui_ecvt(5, &pos, &sign, 123.456), "12346");
    EXPECT_EQ(pos, 3);
    EXPECT_EQ(sign, 0);
    EXPECT_STREQ(nlsui_ecvt(1, &pos, &sign, -0.5), "5");
    EXPECT_EQ(pos, 0);
    EXPECT_EQ(sign, 1);
    nlsui_ecvt(3, &pos, &sign, 0.0);
    EXPECT_EQ(pos, 0);
    EXPECT_EQ(strlen(nlsui_ecvt(600, &pos, &sign, 1.0 / 3)), 502u);
    EXPECT_STREQ(nlsui_ecvt(0, &pos, &sign, 7.0), "");
}

TEST(NlsuiCast, OddAddresses)
{
    alignas(2) char raw[4] = {};
    EXPECT_EQ(nlsui_cast_raw2uc(raw, u16(u"f.c").data(), 1), reinterpret_cast<KOV_UTF16*>(raw));
    setenv("KOVCASTRAW2UCCHK", "0", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(static_cast<void*>(nlsui_cast_raw2uc(raw + 1, u16(u"f.c").data(), 7)), static_cast<void*>(raw + 1));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR: Casting an odd adress to KOV_UTF16* in file f.c, line 7\n");
    setenv("KOVCASTRAW2UCCHK", "00", 1);
    EXPECT_DEATH(nlsui_cast_raw2uc(raw + 1, u16(u"f.c").data(), 7), "Casting an odd adress");
    unsetenv("KOVCASTRAW2UCCHK");
}

}  // namespace

// Case-insensitive compares and case conversions in the POSIX locale, a
// single-byte Latin-1 locale and a double-byte (GBK) locale.  The two locales
// are compiled with localedef into the test's scratch directory and found
// through LOCPATH, so the test does not depend on what the machine has.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "nls/kovcase.h"
#include "tests/unit/scratch_dir.h"

namespace {

const char* const kLatin1 = "de_DE.ISO-8859-1";
const char* const kGbk = "zh_CN.GBK";

// Builds both locales once per process; any failure is fatal to the tests
// that need them, never a silent skip.
class LocaleEnv : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::filesystem::path dir = KovTestTmp();
        dir /= "locales";
        std::filesystem::create_directories(dir);
        ok_ = build(dir, "de_DE", "ISO-8859-1", kLatin1) && build(dir, "zh_CN", "GBK", kGbk);
        setenv("LOCPATH", dir.c_str(), 1);
    }
    static bool ok() { return ok_; }

private:
    static bool build(const std::filesystem::path& dir, const char* input, const char* charmap, const char* name)
    {
        const std::string cmd = std::string("localedef -i ") + input + " -f " + charmap + " '" + (dir / name).string() +
                                "' >/dev/null 2>&1";
        const int rc = std::system(cmd.c_str());
        if (rc != 0)
            ADD_FAILURE() << "localedef failed (" << rc << "): " << cmd;
        return rc == 0;
    }
    static inline bool ok_ = false;
};

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new LocaleEnv);

class CaseTest : public ::testing::Test {
protected:
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
    void use(const char* name)
    {
        ASSERT_TRUE(LocaleEnv::ok()) << "test locales could not be built";
        ASSERT_NE(std::setlocale(LC_ALL, name), nullptr) << "cannot load locale " << name;
    }
};

TEST_F(CaseTest, PosixCompares)
{
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(strcasecmpR("ABC", "abc"), 0);
    EXPECT_EQ(strcasecmpR("a", "b"), -1);
    EXPECT_EQ(strcasecmpR("b", "A"), 1);
    EXPECT_EQ(strcasecmpR("", "x"), -120);
    EXPECT_EQ(strcasecmpR("x", ""), 120);
    EXPECT_EQ(strcasecmpR("abc", "abcd"), -100);
    EXPECT_EQ(strcasecmpR("\xC4", "\xE4"), 0xC4 - 0xE4);  // no folding above ASCII
    EXPECT_EQ(strcasecmpR("Low", "LOW"), 0);
}

TEST_F(CaseTest, SamePointerIsNotRead)
{
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* p = mmap(nullptr, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    const char* s = static_cast<const char*>(p);
    EXPECT_EQ(strcasecmpR(s, s), 0);
    EXPECT_EQ(strncasecmpR(s, s, 10), 0);
    EXPECT_EQ(strncasecmpR(s, s + 1, 0), 0);
    munmap(p, page);
}

TEST_F(CaseTest, BoundedCompare)
{
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(strncasecmpR("abcX", "ABCy", 3), 0);
    EXPECT_EQ(strncasecmpR("abcX", "ABCy", 4), 'x' - 'y');
    EXPECT_EQ(strncasecmpR("ab", "AB", 100), 0);
    EXPECT_EQ(strncasecmpR("ab", "ABC", 100), -'c');
    // Hex digests compared without regard to case.
    EXPECT_EQ(strncasecmpR("9F86D081884C7D65", "9f86d081884c7d65", 16), 0);
}

TEST_F(CaseTest, Latin1LocaleFoldsThroughTable)
{
    use(kLatin1);
    EXPECT_EQ(strcasecmpR("\xC4rger", "\xE4RGER"), 0);
    EXPECT_EQ(strncasecmpR("x\xD6", "X\xF6y", 2), 0);
    char s[] = "ab\xE4";
    EXPECT_STREQ(struprR(s), "AB\xC4");
    char t[] = "\xC4\xD6\xDCX";
    EXPECT_STREQ(strlwrR(t), "\xE4\xF6\xFCx");
    // Sharp s has no single-byte upper case: it stays.
    char u[] = "\xDF";
    EXPECT_STREQ(struprR(u), "\xDF");
}

TEST_F(CaseTest, PosixConversions)
{
    std::setlocale(LC_ALL, "C");
    char s[] = "ab\xE4";
    EXPECT_STREQ(struprR(s), "AB\xE4");
    char t[] = "abcdef";
    EXPECT_STREQ(strnuprR(t, 3), "ABCdef");
    char v[] = "ABCDEF";
    EXPECT_STREQ(strnlwrR(v, 0), "ABCDEF");
    EXPECT_STREQ(strnlwrR(v, 100), "abcdef");
    char w[] = "@[`{Zz09";
    EXPECT_STREQ(struprR(w), "@[`{ZZ09");
    EXPECT_STREQ(strlwrR(w), "@[`{zz09");
    char d[16];
    EXPECT_STREQ(strcpyuprR(d, "mixed Case 1"), "MIXED CASE 1");
    EXPECT_STREQ(strcpylwrR(d, "MIXED Case 1"), "mixed case 1");
    EXPECT_STREQ(strcpylwrR(d, ""), "");
}

TEST_F(CaseTest, DoubleByteCompares)
{
    use(kGbk);
    ASSERT_GE(MB_CUR_MAX, 2u);
    // Second bytes 0x41 and 0x61 of one lead byte are different characters.
    EXPECT_EQ(strcasecmpR("\x81\x41", "\x81\x61"), 0x41 - 0x61);
    EXPECT_NE(strncasecmpR("\x81\x41", "\x81\x61", 2), 0);
    EXPECT_EQ(strncasecmpR("\x81\x41", "\x81\x61", 1), 0);
    // ASCII around double-byte characters is still folded.
    EXPECT_EQ(strcasecmpR("ABC\xB0\xA1z", "abc\xB0\xA1Z"), 0);
    // 0xFF cannot start a GBK character: it is a single byte, and the letter
    // after it is folded.
    EXPECT_EQ(strcasecmpR("\xFF"
                          "A",
                          "\xFF"
                          "a"),
              0);
    // A lead byte before the terminator is a single byte too.
    EXPECT_EQ(strcasecmpR("\x81", "\x81"), 0);
    EXPECT_EQ(strcasecmpR("\x81", "\x81x"), -'x');
    // The strings' cursors are independent: a double-byte character in one
    // against single bytes in the other.
    EXPECT_NE(strcasecmpR("\x81\x61", "\xFF"
                                      "A"),
              0);
}

TEST_F(CaseTest, DoubleByteConversionsKeepCharacters)
{
    use(kGbk);
    char s[] = "a\x81"
               "ab";
    EXPECT_STREQ(struprR(s), "A\x81"
                             "aB");
    char t[] = "A\x81"
               "AB";
    EXPECT_STREQ(strlwrR(t), "a\x81"
                             "Ab");
    // A lead byte at the last position inside the bound is converted alone and
    // its partner outside the bound is not touched.
    char u[] = "x\x81"
               "a";
    EXPECT_STREQ(strnuprR(u, 2), "X\x81"
                                 "a");
    char v[] = "x\x81"
               "a"
               "b";
    EXPECT_STREQ(strnuprR(v, 4), "X\x81"
                                 "aB");
    // Lead byte followed by the terminator.
    char w[] = "q\x81";
    EXPECT_STREQ(struprR(w), "Q\x81");
    char d[8];
    EXPECT_STREQ(strcpyuprR(d, "z\xB0"
                               "az"),
                 "Z\xB0"
                 "aZ");
    EXPECT_STREQ(strcpylwrR(d, "Z\xB0"
                               "AZ"),
                 "z\xB0"
                 "Az");

    // The same bytes in the POSIX locale are all single bytes.
    std::setlocale(LC_ALL, "C");
    char x[] = "a\x81"
               "ab";
    EXPECT_STREQ(struprR(x), "A\x81"
                             "AB");
}

}  // namespace

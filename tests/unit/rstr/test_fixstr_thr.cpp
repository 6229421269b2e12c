// Fixed-length fields against a string oracle, thread keys and the
// reentrant tokenizer, and the session record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "krn/rstr/fixstr.h"
#include "krn/rstr/thr.h"
#include "krn/rstr/tsstst.h"

namespace {

std::string Content(const std::string& f)
{
    const size_t e = f.find_last_not_of(' ');
    return e == std::string::npos ? "" : f.substr(0, e + 1);
}

int Sign(int v)
{
    return (v > 0) - (v < 0);
}

}  // namespace

TEST(FixStr, CompareAndEqualAgainstStringOracle)
{
    // Every pair of fields over a small alphabet including blanks and high
    // bytes: compare and equal must agree with the contents as strings.
    const char alphabet[] = {' ', 'a', 'b', '\xE4'};
    std::vector<std::string> fields;
    for (int len = 0; len <= 3; ++len) {
        int total = 1;
        for (int i = 0; i < len; ++i)
            total *= 4;
        for (int v = 0; v < total; ++v) {
            std::string f;
            for (int i = 0, x = v; i < len; ++i, x /= 4)
                f += alphabet[x % 4];
            fields.push_back(f);
        }
    }
    for (const std::string& a : fields) {
        for (const std::string& b : fields) {
            const std::string ca = Content(a), cb = Content(b);
            // unsigned byte order for the oracle
            int oracle = 0;
            for (size_t i = 0; i < std::min(ca.size(), cb.size()) && !oracle; ++i)
                if (ca[i] != cb[i])
                    oracle = static_cast<unsigned char>(ca[i]) < static_cast<unsigned char>(cb[i]) ? -1 : 1;
            if (!oracle)
                oracle = Sign(static_cast<int>(ca.size()) - static_cast<int>(cb.size()));
            ASSERT_EQ(Sign(fixstr_compare(a.data(), static_cast<int32_t>(a.size()), b.data(),
                                          static_cast<int32_t>(b.size()))),
                      oracle)
                << "[" << a << "] [" << b << "]";
            ASSERT_EQ(fixstr_equal(a.data(), static_cast<int32_t>(a.size()), b.data(), static_cast<int32_t>(b.size())),
                      ca == cb ? 1 : 0);
            ASSERT_EQ(Sign(fixstr_compare_str(a.data(), cb.c_str(), static_cast<int32_t>(a.size()))), oracle)
                << "[" << a << "] [" << b << "]";
        }
    }
    // Null and empty fields are never read through.
    EXPECT_EQ(fixstr_compare(nullptr, 5, "    ", 4), 0);
    EXPECT_EQ(fixstr_compare("ab", 2, nullptr, 0), 'a');
    EXPECT_EQ(fixstr_compare(nullptr, 0, "b ", 2), -'b');
    EXPECT_EQ(fixstr_equal(nullptr, 0, nullptr, 0), 1);
    EXPECT_EQ(fixstr_equal(nullptr, 0, "", 0), 0);
    EXPECT_EQ(fixstr_equal_str("abc  ", "abc", 5), 1);
    EXPECT_EQ(fixstr_equal_str("abc  ", "abc ", 5), 0);
}

TEST(FixStr, CopiesSearchesAndTranslation)
{
    char f[9] = "xxxxxxxx";
    fixstr_copy_pad(f, 8, "abc", 3);
    EXPECT_EQ(std::string(f, 8), "abc     ");
    fixstr_copy_pad(f, 3, "defghijk", 8);
    EXPECT_EQ(std::string(f, 8), "def     ");
    fixstr_copy_str_pad(f, nullptr, 8);
    EXPECT_EQ(std::string(f, 8), "        ");
    fixstr_copy_str_pad(f, "toolongtext", 8);
    EXPECT_EQ(std::string(f, 8), "toolongt");
    char s[16];
    fixstr_copy_trim(s, "ab  c   ", 8);
    EXPECT_STREQ(s, "ab  c");
    int complete = -1;
    fixstr_copy_trim_bounded(s, 3, "abc     ", 8, &complete);
    EXPECT_STREQ(s, "ab");
    EXPECT_EQ(complete, 0);
    EXPECT_EQ(fixstr_copy_token(s, "tok en", 6), 3);
    EXPECT_STREQ(s, "tok");
    EXPECT_EQ(fixstr_copy_token(s, " x", 2), 0);
    EXPECT_EQ(fixstr_trimmed_len("        ", 8), 0);
    EXPECT_EQ(fixstr_trimmed_len("abc     ", 8), 3);
    EXPECT_EQ(fixstr_is_blank("", 0), 1);
    const char* hay = "abcabcab";
    EXPECT_EQ(fixstr_find(hay, 8, "ca", 2), hay + 2);
    EXPECT_EQ(fixstr_find_last(hay, 8, "ca", 2), hay + 5);
    EXPECT_EQ(fixstr_find_last(hay, 8, "", 0), hay + 8);
    EXPECT_EQ(fixstr_find(hay, 2, "abc", 3), nullptr);
    const char* dots = "a.b.c";
    EXPECT_EQ(fixstr_find_last_str(dots, "."), dots + 3);
    char u[] = "a_b__";
    EXPECT_STREQ(fixstr_trailing_underscores_to_blanks(u), "a_b  ");
    EXPECT_STREQ(fixstr_underscores_to_blanks(u), "a b  ");
    unsigned char upper[256];
    for (int i = 0; i < 256; ++i)
        upper[i] = static_cast<unsigned char>(i >= 'a' && i <= 'z' ? i - 32 : i);
    char t[4];
    fixstr_translate(t, "ab!", 3, upper);
    EXPECT_EQ(std::string(t, 3), "AB!");
}

TEST(Thr, KeysTokenizerAndTexts)
{
    ThrKey key = THR_KEY_UNSET;
    EXPECT_EQ(ThrKeyGetValue(&key), nullptr);  // created on first use
    EXPECT_NE(key, THR_KEY_UNSET);
    EXPECT_EQ(ThrKeyCreate(&key, nullptr), THR_ERR_EXISTS);
    int v = 0;
    EXPECT_EQ(ThrKeySetValue(&key, &v), 0);
    EXPECT_EQ(ThrKeyGetValue(&key), &v);
    EXPECT_EQ(ThrKeyDelete(&key), 0);
    EXPECT_EQ(key, THR_KEY_UNSET);
    EXPECT_EQ(ThrKeyGetValue(&key), nullptr);
    ThrKeyDelete(&key);
    EXPECT_EQ(ThrKeyDelete(&key), 0);

    // Two tokenizations interleaved: each keeps its own position.
    char a[] = "one two three";
    char b[] = "x,y";
    char *sa = nullptr, *sb = nullptr;
    EXPECT_STREQ(ThrStrtokR(a, " ", &sa), "one");
    EXPECT_STREQ(ThrStrtokR(b, ",", &sb), "x");
    EXPECT_STREQ(ThrStrtokR(nullptr, " ", &sa), "two");
    EXPECT_STREQ(ThrStrtokR(nullptr, ",", &sb), "y");
    EXPECT_STREQ(ThrStrtokR(nullptr, " ", &sa), "three");
    EXPECT_EQ(ThrStrtokR(nullptr, ",", &sb), nullptr);

    char buf[5];
    EXPECT_STREQ(ThrStrerrorR(2, buf, sizeof buf), "(2) ");
    EXPECT_EQ(ThrStrerrorR(2, buf, 0), nullptr);
    EXPECT_STREQ(ThrErrorText(3), "Attempt was made to initialize an item which already exists.");
    EXPECT_STREQ(ThrErrorText(16), "Error code not defined by the thread library.");
    char* dup = ThrStrdup("copy");
    EXPECT_STREQ(dup, "copy");
    ThrFree(dup);
}

TEST(SessionRecord, FillAndSwitch)
{
    EXPECT_EQ(tsstst.state, 1);
    EXPECT_EQ(tsstst.kind, 'D');
    EXPECT_EQ(std::string(tsstst.longProgram, 9), std::string(8, ' ') + '\0');
    setenv("KOVUSER", "123:someone", 1);
    setenv("DISPLAY", "host:0.0", 1);
    tsstst_fill("PROG");
    EXPECT_EQ(tsstst.state, 2);
    EXPECT_EQ(std::string(tsstst.client, 3), "123");
    EXPECT_EQ(std::string(tsstst.user, 12), "someone     ");
    EXPECT_EQ(std::string(tsstst.program, 8), "PROG    ");
    EXPECT_EQ(std::string(tsstst.terminal, 20), "noTC" + std::string(16, ' '));
    EXPECT_EQ(std::string(tsstst.display, 8), "host:0.0");
    EXPECT_EQ(std::string(tsstst.termKind, 2), "TT");
    tsstst_switch();
    EXPECT_EQ(tsstst.state, 3);
    EXPECT_EQ(std::string(tsstst.longProgram, 40), "PROG" + std::string(36, ' '));
    EXPECT_EQ(std::string(tsstst.termKind, 2), "sa");
    unsetenv("KOVUSER");
    unsetenv("DISPLAY");
}

// The temporary-buffer pool, 7-bit conversions, fixed fields, the guarded
// copies and the EBCDIC tables.  The EBCDIC tables are checked against
// Python's cp500 codec, run at test time as an independent source.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "nls/nlsui.h"

namespace {

// ---- pool -------------------------------------------------------------------

TEST(TmpBuf, FortyFirstRequestReusesFirstBuffer)
{
    char* first = nlsui_tmpbuf(16);
    std::vector<char*> seen{first};
    for (int i = 1; i < 40; ++i)
        seen.push_back(nlsui_tmpbuf(16));
    for (int i = 1; i < 40; ++i)
        EXPECT_NE(seen[i], first);
    EXPECT_EQ(nlsui_tmpbuf(16), first);
}

TEST(TmpBuf, SlotGrowsOnlyWhenAskedForMore)
{
    char* a = nlsui_tmpbuf(100);
    std::memset(a, 'k', 100);
    for (int i = 1; i < 40; ++i)
        nlsui_tmpbuf(1);
    char* b = nlsui_tmpbuf(10);
    EXPECT_EQ(b, a);
    EXPECT_EQ(b[99], 'k');  // old contents, old size
    for (int i = 1; i < 40; ++i)
        nlsui_tmpbuf(1);
    char* c = nlsui_tmpbuf(5000);
    std::memset(c, 0, 5000);  // the grown buffer is writable over its full size
}

TEST(TmpBuf, ZeroAndNegativeSizesGiveUsableBuffer)
{
    for (int i = 0; i < 40; ++i) {
        char* p = nlsui_tmpbuf(i % 2 ? 0 : -5);
        ASSERT_NE(p, nullptr);
        p[0] = 'z';
    }
}

TEST(TmpBuf, Copies)
{
    EXPECT_STREQ(nlsui_tmpbuf_str("hello"), "hello");
    EXPECT_STREQ(nlsui_tmpbuf_str2(""), "");
    EXPECT_EQ(std::memcmp(nlsui_tmpbuf_mem("a\0b", 3), "a\0b", 3), 0);
    EXPECT_NE(nlsui_tmpbuf_mem(nullptr, 0), nullptr);
    EXPECT_STREQ(nlsui_tmpbuf_str2a7("a\xE4z"), "a#z");
    EXPECT_EQ(std::memcmp(nlsui_tmpbuf_mem2a7("\xFF\0x", 3), "#\0x", 3), 0);
    EXPECT_STREQ(nlsui_tmpbuf_l12e_str("AZ09"), "\xC1\xE9\xF0\xF9");
    EXPECT_STREQ(nlsui_tmpbuf_e2l1_str("\xC1\xE9\xF0\xF9"), "AZ09");
    EXPECT_STREQ(nlsui_tmpbuf_a72e_str("A\xC4"), "\xC1\x7B");
    EXPECT_STREQ(nlsui_tmpbuf_e2a7_str("\xC1\x63"), "A#");  // 0x63 is A-umlaut
    EXPECT_EQ(std::memcmp(nlsui_tmpbuf_l12e_mem("a\0", 2), "\x81\0", 2), 0);
    EXPECT_EQ(std::memcmp(nlsui_tmpbuf_e2l1_mem("\x81\x40", 2), "a ", 2), 0);
    EXPECT_EQ(std::memcmp(nlsui_tmpbuf_a72e_mem("#\x80", 2), "\x7B\x7B", 2), 0);
    EXPECT_EQ(std::memcmp(nlsui_tmpbuf_e2a7_mem("\x7B\x43", 2), "##", 2), 0);
}

// ---- 7-bit conversions --------------------------------------------------------

TEST(SevenBit, StringCutAndFit)
{
    char d[8];
    std::memset(d, 'X', sizeof d);
    size_t len = 99;
    EXPECT_EQ(nlsui_str2a7(d, 3, &len,
                           "a\xE4"
                           "b"),
              NLSUI_CUT);
    EXPECT_EQ(len, 2u);
    EXPECT_STREQ(d, "a#");
    EXPECT_EQ(d[3], 'X');
    EXPECT_EQ(nlsui_str2a7(d, 4, &len,
                           "a\xE4"
                           "b"),
              0);
    EXPECT_EQ(len, 3u);
    EXPECT_STREQ(d, "a#b");
    EXPECT_EQ(nlsui_str2a7(d, 1, nullptr, ""), 0);
    EXPECT_STREQ(d, "");
    EXPECT_EQ(nlsui_str2a7(d, 1, &len, "a"), NLSUI_CUT);
    EXPECT_EQ(len, 0u);
    EXPECT_STREQ(d, "");
    // No room even for the terminator: nothing written, reported as cut.
    d[0] = 'X';
    EXPECT_EQ(nlsui_str2a7(d, 0, &len, ""), NLSUI_CUT);
    EXPECT_EQ(d[0], 'X');
}

TEST(SevenBit, MemoryAndRanges)
{
    char d[4];
    size_t len = 0;
    EXPECT_EQ(nlsui_mem2a7(d, 4, &len, "ab\x80\0", 4), 0);
    EXPECT_EQ(len, 4u);
    EXPECT_EQ(std::memcmp(d, "ab#\0", 4), 0);
    EXPECT_EQ(nlsui_mem2a7(d, 2, &len, "xyz", 3), NLSUI_CUT);
    EXPECT_EQ(len, 2u);
    EXPECT_EQ(nlsui_mem2a7(d, 2, nullptr, "", 0), 0);

    char out[3];
    const char* src = "q\xC0rs";
    char* dp = out;
    const char* sp = src;
    EXPECT_EQ(nlsui_cvt2a7(&dp, out + 3, &sp, src + 4), NLSUI_CUT);
    EXPECT_EQ(dp, out + 3);
    EXPECT_EQ(sp, src + 3);
    EXPECT_EQ(std::memcmp(out, "q#r", 3), 0);
    dp = out;
    EXPECT_EQ(nlsui_cvt2a7(&dp, out + 3, &sp, src + 4), 0);
    EXPECT_EQ(dp, out + 1);
    EXPECT_EQ(sp, src + 4);
}

TEST(SevenBit, CountingForms)
{
    nlsui_a7ReplReset();
    char d[8];
    nlsui_mem2a7(d, 8, nullptr, "\x80\x81z", 3);  // not counted
    EXPECT_EQ(nlsui_a7ReplCount(), 0u);
    nlsui_mem2a7cnt(d, 8, nullptr, "\x80\x81z", 3);
    EXPECT_EQ(nlsui_a7ReplCount(), 2u);
    nlsui_str2a7cnt(d, 8, nullptr, "\xFFq");
    EXPECT_EQ(nlsui_a7ReplCount(), 3u);
    char* dp = d;
    const char* s = "\x90";
    nlsui_cvt2a7cnt(&dp, d + 8, &s, s + 1);
    EXPECT_EQ(nlsui_a7ReplCount(), 4u);
    EXPECT_EQ(nlsui_char2a7cnt('A'), 'A');
    EXPECT_EQ(nlsui_char2a7cnt(0xE9), '#');
    EXPECT_EQ(nlsui_a7ReplCount(), 5u);
    nlsui_a7ReplReset();
    EXPECT_EQ(nlsui_a7ReplCount(), 0u);
}

TEST(SevenBit, InPlaceFormsShareBuffer)
{
    char s[8] = "a\xE4"
                "bcd";
    size_t len = 0;
    EXPECT_EQ(nlsui_str2a7inplace(s, sizeof s, &len, s), 0);
    EXPECT_STREQ(s, "a#bcd");
    EXPECT_EQ(len, 5u);
    // Cut in place: the destination is still terminated within its size.
    char t[8] = "\xE4"
                "bcdef";
    EXPECT_EQ(nlsui_str2a7inplace(t, 3, &len, t), NLSUI_CUT);
    EXPECT_EQ(len, 2u);
    EXPECT_STREQ(t, "#b");
    nlsui_a7ReplReset();
    char u[8] = "x\xF0y";
    EXPECT_EQ(nlsui_str2a7cntInplace(u, sizeof u, &len, u), 0);
    EXPECT_STREQ(u, "x#y");
    EXPECT_EQ(nlsui_a7ReplCount(), 1u);
    // Overlapping but shifted source.
    char v[8] = "_ab\xC0";
    EXPECT_EQ(nlsui_str2a7inplace(v, sizeof v, &len, v + 1), 0);
    EXPECT_STREQ(v, "ab#");
}

TEST(SevenBit, SubstituteAndCheck)
{
    char d[8];
    EXPECT_STREQ(nlsui_str2a7subst(d, "a\xE9z", '@'), "a@z");
    EXPECT_STREQ(nlsui_str2a7subst(d, "a\xE9z", 0xE9), "a#z");
    std::memset(d, 'X', sizeof d);
    nlsui_mem2a7subst(d, "\x80q\0", 3, '?');
    EXPECT_EQ(std::memcmp(d, "?q\0X", 4), 0);
    nlsui_mem2a7hash(d, "\xA0\xA1", 2);
    EXPECT_EQ(std::memcmp(d, "##", 2), 0);
    nlsui_mem2a7subst(d, "zz", 0, '?');
    nlsui_mem2a7subst(d, "zz", -1, '?');
    EXPECT_EQ(d[0], '#');

    EXPECT_EQ(nlsui_str2a7chk(d, "abc"), 0);
    EXPECT_STREQ(d, "abc");
    EXPECT_EQ(nlsui_str2a7chk(d, "ab\xC3\xA4z"), 1);
    EXPECT_STREQ(d, "ab");
    std::memset(d, 'X', sizeof d);
    EXPECT_EQ(nlsui_mem2a7chk(d, "a\0b\x80", 4), 1);
    EXPECT_EQ(std::memcmp(d, "a\0bX", 4), 0);
    EXPECT_EQ(nlsui_mem2a7chk(d, "a\0b", 3), 0);
    EXPECT_EQ(nlsui_mem2a7chk(d, "\x80", 0), 0);
}

// ---- casts and fixed fields -------------------------------------------------

TEST(Casts, CopiesAndRanges)
{
    char d[8];
    EXPECT_STREQ(nlsui_strcpy(d, "abc"), "abc");
    EXPECT_STREQ(nlsui_strcpy2(d, ""), "");
    std::memset(d, 'X', sizeof d);
    nlsui_memcpy(d, "abc", 0);
    nlsui_memcpy2(d, "abc", -3);
    EXPECT_EQ(d[0], 'X');
    nlsui_memcpy2(d, "abcd", 4);
    EXPECT_EQ(std::memcmp(d, "abcdX", 5), 0);
    nlsui_memcpyNe(d, d, 4);  // same address: nothing
    nlsui_memcpyNe(d + 1, d, 3);
    EXPECT_EQ(std::memcmp(d, "aabcX", 5), 0);
    nlsui_memcpyNe2(d, "zz", 2);
    EXPECT_EQ(std::memcmp(d, "zzbcX", 5), 0);

    char out[4];
    const char* src = "123456";
    char* dp = out;
    const char* sp = src;
    EXPECT_EQ(nlsui_cvtmem(&dp, out + 4, &sp, src + 6), NLSUI_CUT);
    EXPECT_EQ(sp, src + 4);
    dp = out;
    EXPECT_EQ(nlsui_cvtmem2(&dp, out + 4, &sp, src + 6), 0);
    EXPECT_EQ(dp, out + 2);
    EXPECT_EQ(std::memcmp(out, "56", 2), 0);

    uint16_t w[4];
    nlsui_str2u16(w, "a\xE4");
    EXPECT_EQ(w[0], 'a');
    EXPECT_EQ(w[1], 0xE4);  // widened unsigned, not sign-extended
    EXPECT_EQ(w[2], 0);
    nlsui_mem2u16(w, "\xFF\0", 2);
    EXPECT_EQ(w[0], 0xFF);
    EXPECT_EQ(w[1], 0);
    EXPECT_EQ(nlsui_mblen("a", 1), 1);
}

TEST(FixedFields, StringToField)
{
    char f[8];
    std::memset(f, 'X', sizeof f);
    nlsui_str2fix(f, "abc", 5);
    EXPECT_EQ(std::memcmp(f, "abc  X", 6), 0);
    nlsui_str2fix(f, "abc", 2);
    EXPECT_EQ(std::memcmp(f, "abc  X", 6), 0);  // "ab" over "ab"
    std::memset(f, 'X', sizeof f);
    nlsui_str2fix(f, "abc", 2);
    EXPECT_EQ(std::memcmp(f, "abX", 3), 0);
    nlsui_str2fix(f, nullptr, 5);
    EXPECT_EQ(std::memcmp(f, "     X", 6), 0);
    std::memset(f, 'X', sizeof f);
    nlsui_str2fix(f, "abc", 0);
    nlsui_str2fix(f, "abc", -1);
    EXPECT_EQ(f[0], 'X');
    nlsui_str2fix(f, "", 3);
    EXPECT_EQ(std::memcmp(f, "   X", 4), 0);
}

TEST(FixedFields, MemoryToField)
{
    char f[8];
    std::memset(f, 'X', sizeof f);
    nlsui_mem2fix(f, 5, "ab\0cd", 3);  // counted: the NUL is data
    EXPECT_EQ(std::memcmp(f, "ab\0  X", 6), 0);
    std::memset(f, 'X', sizeof f);
    nlsui_mem2fix(f, 3, "abcdef", 6);
    EXPECT_EQ(std::memcmp(f, "abcX", 4), 0);
    nlsui_mem2fix(f, 3, nullptr, 4);
    EXPECT_EQ(std::memcmp(f, "   X", 4), 0);
    std::memset(f, 'X', sizeof f);
    nlsui_mem2fix(f, 3, nullptr, 0);
    EXPECT_EQ(f[0], 'X');
    nlsui_mem2fix(f, 3, "abc", 0);
    EXPECT_EQ(std::memcmp(f, "   X", 4), 0);
    std::memset(f, 'X', sizeof f);
    nlsui_mem2fix(f, 3, "abc", -2);
    EXPECT_EQ(std::memcmp(f, "   X", 4), 0);
    std::memset(f, 'X', sizeof f);
    nlsui_mem2fix(f, 0, "abc", 3);
    EXPECT_EQ(f[0], 'X');
}

// ---- guarded copies -----------------------------------------------------------

TEST(GuardedCopyDeathTest, OverlapAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    unsetenv("KOVMEMCPYCHK");
    char b[8] = "abcdefg";
    EXPECT_DEATH(memcpyU(b, b, 1, "caller.c", 12),
                 "memcpyU overlapping - from: 0x[0-9a-f]+ to: 0x[0-9a-f]+ len: 1 \\(caller.c:12\\)");
    EXPECT_DEATH(memcpyR(b + 1, b, 4, "x.c", 7), "memcpyR overlapping .* len: 4 \\(x.c:7\\)");
    setenv("KOVMEMCPYCHK", "00", 1);  // only exactly "0" disables the abort
    EXPECT_DEATH(memcpyR(b + 1, b, 4, "x.c", 7), "memcpyR overlapping");
    unsetenv("KOVMEMCPYCHK");
}

TEST(GuardedCopy, DisjointAndEmptyCopiesQuietly)
{
    unsetenv("KOVMEMCPYCHK");
    char b[8] = "abcdefg";
    testing::internal::CaptureStderr();
    EXPECT_EQ(memcpyU(b, b, 0, "f.c", 1), b);
    EXPECT_EQ(memcpyU(b, b + 4, 3, "f.c", 1), b);  // adjacent, not overlapping
    EXPECT_EQ(memcpyR(b + 4, b, 4, "f.c", 1), b + 4);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(std::memcmp(b, "efgdefgd", 8), 0);
}

TEST(GuardedCopy, OverlapReportedButAllowed)
{
    setenv("KOVMEMCPYCHK", "0", 1);
    char b[8] = "abcdefg";
    testing::internal::CaptureStderr();
    memcpyU(b + 2, b, 4, "g.c", 9);
    const std::string err = testing::internal::GetCapturedStderr();
    unsetenv("KOVMEMCPYCHK");
    EXPECT_NE(err.find("memcpyU overlapping - from: "), std::string::npos);
    EXPECT_NE(err.find(" len: 4 (g.c:9)\n"), std::string::npos);
    EXPECT_STREQ(b, "ababcdg");  // the intended bytes, not a smeared copy
}

// ---- EBCDIC -------------------------------------------------------------------

// Reads the cp500 decode and encode of all 256 values from Python.
bool pythonCp500(std::vector<int>* dec, std::vector<int>* enc)
{
    const char* cmd = "python3 -c \"print(' '.join(str(ord(bytes([b]).decode('cp500'))) for b in range(256)));"
                      "print(' '.join(str(chr(c).encode('cp500')[0]) for c in range(256)))\"";
    FILE* p = popen(cmd, "r");
    if (!p)
        return false;
    for (int i = 0; i < 512; ++i) {
        int v;
        if (std::fscanf(p, "%d", &v) != 1) {
            pclose(p);
            return false;
        }
        (i < 256 ? dec : enc)->push_back(v);
    }
    return pclose(p) == 0;
}

TEST(Ebcdic, TablesMatchCodePage500WithBlankedControls)
{
    std::vector<int> dec, enc;
    ASSERT_TRUE(pythonCp500(&dec, &enc)) << "python3 with the cp500 codec is needed";
    for (int b = 0; b < 256; ++b) {
        int want = dec[b];
        if ((want >= 0x80 && want <= 0x9F) || want == 0xAD || (want >= 0x1D && want <= 0x1F))
            want = 0x20;
        EXPECT_EQ(nlsui_e2l1_char(static_cast<unsigned char>(b)), want) << "EBCDIC " << b;
        EXPECT_EQ(nlsui_e2l1_isMapped(static_cast<unsigned char>(b)), b == 0 ? 0 : 1);
    }
    for (int c = 0; c < 256; ++c) {
        int want = enc[c];
        if ((c >= 0x80 && c <= 0x9F) || c == 0xAD || (c >= 0x1D && c <= 0x1F))
            want = 0x40;
        EXPECT_EQ(nlsui_l12e_char(static_cast<unsigned char>(c)), want) << "Latin-1 " << c;
        EXPECT_EQ(nlsui_l12e_char2(static_cast<unsigned char>(c)), want);
        // 7-bit casts: '#' is 0x7B in code page 500.
        EXPECT_EQ(nlsui_a72e_char(static_cast<unsigned char>(c)), c >= 0x80 ? 0x7B : want);
    }
    for (int b = 0; b < 256; ++b) {
        int l1 = dec[b];
        if ((l1 >= 0x80 && l1 <= 0x9F) || l1 == 0xAD || (l1 >= 0x1D && l1 <= 0x1F))
            l1 = 0x20;
        EXPECT_EQ(nlsui_e2a7_char(static_cast<unsigned char>(b)), l1 >= 0x80 ? '#' : l1) << b;
    }
}

TEST(Ebcdic, KnownValues)
{
    EXPECT_EQ(nlsui_e2l1_char(0xC1), 0x41);
    EXPECT_EQ(nlsui_e2l1_char(0x04), 0x20);
    EXPECT_EQ(nlsui_e2l1_char(0xCA), 0x20);  // soft hyphen
    EXPECT_EQ(nlsui_l12e_char(0x85), 0x40);
    for (int d = 0; d < 10; ++d)
        EXPECT_EQ(nlsui_e2l1_char(0xF0 + d), '0' + d);
    EXPECT_EQ(nlsui_a72e_char(0x80), 0x7B);
    EXPECT_EQ(nlsui_a72e_char('#'), 0x7B);
    EXPECT_EQ(nlsui_a72e_char('a'), 0x81);
    EXPECT_EQ(nlsui_e2a7_char(0x81), 'a');
    EXPECT_EQ(nlsui_e2a7_char(0x41), '#');  // no-break space
    // Passing a plain (signed) char works for bytes above 0x7F.
    const char digit = '\xF5';
    EXPECT_EQ(nlsui_e2l1_char(digit), '5');
}

TEST(Ebcdic, StringAndBlockForms)
{
    char d[8];
    std::memset(d, 'X', sizeof d);
    EXPECT_STREQ(nlsui_l12e_str(d, "Ab1"), "\xC1\x82\xF1");
    EXPECT_STREQ(nlsui_e2l1_str(d, "\xC1\x82\xF1"), "Ab1");
    EXPECT_STREQ(nlsui_l12e_str2(d, ""), "");
    std::memset(d, 'X', sizeof d);
    nlsui_e2l1_mem(d, "\xC1\0\xF1", 3);
    EXPECT_EQ(std::memcmp(d,
                          "A\0"
                          "1X",
                          4),
              0);
    nlsui_e2l1_mem(d, "\xC2", 0);
    nlsui_e2l1_mem(d, "\xC2", -1);
    EXPECT_EQ(d[0], 'A');
    nlsui_l12e_mem(d, "a", 1);
    EXPECT_EQ(d[0], '\x81');
    nlsui_l12e_mem2(d, "b", 1);
    EXPECT_EQ(d[0], '\x82');
    nlsui_l12e_mem3(d, "c", 1);
    EXPECT_EQ(d[0], '\x83');

    nlsui_ebcReplReset();
    char s[] = "a\xE4#";
    nlsui_a72e_inplace(s, 3);
    EXPECT_EQ(std::memcmp(s, "\x81\x7B\x7B", 3), 0);
    EXPECT_EQ(nlsui_ebcReplCount(), 1u);
    char e[] = "\x81\x43\x7B";
    nlsui_e2a7_inplace(e, 3);
    EXPECT_EQ(std::memcmp(e, "a##", 3), 0);
    EXPECT_EQ(nlsui_ebcReplCount(), 2u);
    nlsui_ebcReplReset();
    EXPECT_EQ(nlsui_ebcReplCount(), 0u);
}

}  // namespace

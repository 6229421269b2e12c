// Bounded formatting: results at the exact fit, one past it, sizes 0 and 1,
// formatting failures, and that the buffer is always terminated.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "nls/kovstr.h"

namespace {

TEST(SnprintfTruncR, SizeZeroAndOne)
{
    char b[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(snprintfTruncR(b, 0, "%s", "abc"), 0);
    EXPECT_EQ(b[0], 'X');
    EXPECT_EQ(snprintfTruncR(b, 1, "%s", ""), 0);
    EXPECT_EQ(b[0], '\0');
    b[0] = 'X';
    EXPECT_EQ(snprintfTruncR(b, 1, "%c", 'a'), 1);
    EXPECT_EQ(b[0], '\0');
    EXPECT_EQ(b[1], 'X');
}

TEST(SnprintfTruncR, FitAndCut)
{
    char b[8];
    std::memset(b, 'X', sizeof b);
    EXPECT_EQ(snprintfTruncR(b, 5, "%d", 1234), 4);
    EXPECT_STREQ(b, "1234");
    std::memset(b, 'X', sizeof b);
    EXPECT_EQ(snprintfTruncR(b, 5, "%d", 12345), 5);
    EXPECT_STREQ(b, "1234");
    EXPECT_EQ(b[5], 'X');
    EXPECT_EQ(snprintfTruncR(b, 5, "%s-%s", "abcdef", "gh"), 5);
    EXPECT_STREQ(b, "abcd");
}

TEST(SnprintfR, SizeZeroAndOne)
{
    char b[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(snprintfR(b, 0, "%s", "abc"), -1);
    EXPECT_EQ(b[0], 'X');
    EXPECT_EQ(snprintfR(b, 1, "%s", ""), 0);
    EXPECT_EQ(b[0], '\0');
    b[0] = 'X';
    EXPECT_EQ(snprintfR(b, 1, "%c", 'a'), -1);
    EXPECT_EQ(b[0], '\0');
}

TEST(SnprintfR, FitAndCut)
{
    char b[8];
    EXPECT_EQ(snprintfR(b, 5, "%s", "abcd"), 4);
    EXPECT_STREQ(b, "abcd");
    EXPECT_EQ(snprintfR(b, 5, "%s", "abcde"), -1);
    EXPECT_STREQ(b, "abcd");
    EXPECT_EQ(snprintfR(b, sizeof b, "[%05lx]", 0xABCUL), 7);
    EXPECT_STREQ(b, "[00abc]");
    EXPECT_EQ(snprintfR(b, sizeof b, "[%06lx]", 0xABCUL), -1);  // 8 characters
    EXPECT_STREQ(b, "[000abc");
}

TEST(BoundedFormat, FormattingFailure)
{
    // A wide character that the C locale cannot encode makes vsnprintf fail.
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    std::setlocale(LC_ALL, "C");
    const wchar_t wide[] = {0x4E2D, 0};
    char b[8];
    std::memset(b, 'X', sizeof b);
    EXPECT_EQ(snprintfTruncR(b, sizeof b, "%ls", wide), 8);
    EXPECT_EQ(b[7], '\0');
    std::memset(b, 'X', sizeof b);
    EXPECT_EQ(snprintfR(b, sizeof b, "%ls", wide), -1);
    EXPECT_EQ(b[7], '\0');
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(SnprintfTruncR, SizeBeyond32Bits)
{
    // A size wider than 32 bits is passed through whole, not cut to its low bits.
    char big[16];
    EXPECT_EQ(snprintfTruncR(big, (uint64_t{1} << 32) + 16, "%s", "xy"), 2);
    EXPECT_STREQ(big, "xy");
}

// The va_list forms are what callers with their own variadic wrappers use.
int32_t wrapTrunc(char* b, size_t n, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int32_t r = vsnprintfTruncR(b, n, fmt, ap);
    va_end(ap);
    return r;
}

int32_t wrapCheck(char* b, size_t n, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int32_t r = vsnprintfR(b, n, fmt, ap);
    va_end(ap);
    return r;
}

TEST(BoundedFormat, VaForms)
{
    char b[6];
    EXPECT_EQ(wrapTrunc(b, sizeof b, "%s=%d", "ab", 12), 5);
    EXPECT_STREQ(b, "ab=12");
    EXPECT_EQ(wrapTrunc(b, sizeof b, "%s=%d", "ab", 123), 6);
    EXPECT_STREQ(b, "ab=12");
    EXPECT_EQ(wrapCheck(b, sizeof b, "%s=%d", "ab", 12), 5);
    EXPECT_EQ(wrapCheck(b, sizeof b, "%s=%d", "ab", 123), -1);
    EXPECT_STREQ(b, "ab=12");
}

}  // namespace

// Name conversion between UTF-8 and the local code page (ISO-8859-1).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "krn/rscp/rscp.h"

namespace {

std::string ToLocal(const std::string& utf8, int* rc = nullptr, std::size_t size = 256)
{
    std::string buf(size, 'Z');
    std::size_t len = 999;
    const int r = Utf8nToUcnCPInPlace(buf.data(), size, &len, utf8.c_str());
    if (rc)
        *rc = r;
    if (r == 0) {
        EXPECT_EQ(len, std::strlen(buf.c_str()));
    }
    return std::string(buf.c_str());
}

std::string ToUtf8(const std::string& local, int* rc = nullptr, std::size_t size = 256)
{
    std::string buf(size, 'Z');
    std::size_t len = 999;
    const int r = UcnToUtf8nCPStr(buf.data(), size, &len, local.c_str());
    if (rc)
        *rc = r;
    if (r == 0) {
        EXPECT_EQ(len, std::strlen(buf.c_str()));
    }
    return std::string(buf.c_str());
}

}  // namespace

TEST(Rscp, Utf8ToLocalMapsLatin1AndSubstitutesTheRest)
{
    EXPECT_EQ(ToLocal("plain/name.txt"), "plain/name.txt");
    EXPECT_EQ(ToLocal(""), "");
    // U+00E4, U+00FF map to single bytes.
    EXPECT_EQ(ToLocal("\xC3\xA4x\xC3\xBF"), "\xE4x\xFF");
    // U+20AC (three bytes) and U+1F600 (four bytes) have no byte: one "#" each.
    EXPECT_EQ(ToLocal("a\xE2\x82\xAC" "b\xF0\x9F\x98\x80" "c"), "a#b#c");
}

TEST(Rscp, BrokenUtf8BecomesSubstitutesWithoutReadingPastTheEnd)
{
    // Stray continuation byte, overlong lead, truncated sequence at the end.
    EXPECT_EQ(ToLocal("\x80z"), "#z");
    EXPECT_EQ(ToLocal("\xC0\xAFz"), "##z");
    EXPECT_EQ(ToLocal("ab\xE2\x82"), "ab#");
    EXPECT_EQ(ToLocal("\xF4\x90\x80\x80"), "####");  // above U+10FFFF
    EXPECT_EQ(ToLocal("\xED\xA0\x80"), "###");        // surrogate half
    // A lead byte right before the terminator in an exactly sized heap buffer
    // (AddressSanitizer catches a read past it).
    char* src = new char[2];
    src[0] = '\xE2';
    src[1] = '\0';
    char out[4];
    EXPECT_EQ(Utf8nToUcnCPInPlace(out, sizeof out, nullptr, src), 0);
    EXPECT_STREQ(out, "#");
    delete[] src;
}

TEST(Rscp, Utf8ToLocalWorksInPlace)
{
    char buf[4352] = "dir/\xC3\xA9t\xC3\xA9/\xE2\x82\xAC.txt";
    std::size_t len = 0;
    ASSERT_EQ(Utf8nToUcnCPInPlace(buf, sizeof buf, &len, buf), 0);
    EXPECT_STREQ(buf, "dir/\xE9t\xE9/#.txt");
    EXPECT_EQ(len, 13u);
}

TEST(Rscp, Utf8ToLocalIntoAShiftedOverlappingBufferKeepsTheInput)
{
    char buf[32] = "\xC3\xA4" "bcdef";
    ASSERT_EQ(Utf8nToUcnCPInPlace(buf + 1, sizeof buf - 1, nullptr, buf), 0);
    EXPECT_STREQ(buf + 1, "\xE4" "bcdef");
}

TEST(Rscp, Utf8ToLocalSizeRules)
{
    int rc = -1;
    // "abc" needs 4 bytes with its NUL.
    EXPECT_EQ(ToLocal("abc", &rc, 4), "abc");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ToLocal("abcd", &rc, 4), "");
    EXPECT_EQ(rc, RSCPETOOLONG);
    char one[1] = {'x'};
    EXPECT_EQ(Utf8nToUcnCPInPlace(one, 1, nullptr, ""), 0);
    EXPECT_EQ(one[0], '\0');
    EXPECT_EQ(Utf8nToUcnCPInPlace(one, 0, nullptr, "a"), RSCPETOOLONG);
    EXPECT_EQ(Utf8nToUcnCPInPlace(nullptr, 4, nullptr, "a"), RSCPEINVAL);
}

TEST(Rscp, LocalToUtf8)
{
    EXPECT_EQ(ToUtf8("name"), "name");
    EXPECT_EQ(ToUtf8("\xE4\xFF\x7F\x80"), "\xC3\xA4\xC3\xBF\x7F\xC2\x80");
    // Every byte of the local code page survives the round trip.
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    EXPECT_EQ(ToLocal(ToUtf8(all, nullptr, 6 * all.size() + 1), nullptr, all.size() + 1), all);
}

TEST(Rscp, LocalToUtf8SizeRules)
{
    int rc = -1;
    // "\xE4" takes two bytes: a buffer of 3 holds it, a buffer of 2 does not.
    EXPECT_EQ(ToUtf8("\xE4", &rc, 3), "\xC3\xA4");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ToUtf8("\xE4", &rc, 2), "");
    EXPECT_EQ(rc, RSCPETOOLONG);
    EXPECT_EQ(ToUtf8("ab\xE4", &rc, 4), "");
    EXPECT_EQ(rc, RSCPETOOLONG);
    // The size the entry writer passes (6 x length + 1) always suffices.
    const std::string name(100, '\xFF');
    EXPECT_EQ(ToUtf8(name, &rc, 6 * name.size() + 1).size(), 200u);
    EXPECT_EQ(rc, 0);
}

TEST(Rscp, LocalToUtf8OverItsOwnInput)
{
    char buf[16] = "\xE4\xE4";
    std::size_t len = 0;
    ASSERT_EQ(UcnToUtf8nCPStr(buf, sizeof buf, &len, buf), 0);
    EXPECT_STREQ(buf, "\xC3\xA4\xC3\xA4");
    EXPECT_EQ(len, 4u);
}

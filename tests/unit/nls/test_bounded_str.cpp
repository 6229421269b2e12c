// Bounded string and memory functions: the 0/34 contract at the exact
// boundaries, what is left in the destination, overlap, and that no byte past
// a terminator or a bound is ever read.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "nls/kovstr.h"

namespace {

// A buffer filled with a marker so that untouched bytes are visible.
struct Buf {
    char b[16];
    Buf() { std::memset(b, 'X', sizeof b); }
};

// Places text at the very end of a readable page followed by an inaccessible
// one: any read beyond the text faults.
class GuardedText {
public:
    explicit GuardedText(const std::string& text, bool terminate = true)
    {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        mem_ = static_cast<char*>(mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        EXPECT_NE(mem_, MAP_FAILED);
        mprotect(mem_ + page_, page_, PROT_NONE);
        const size_t n = text.size() + (terminate ? 1 : 0);
        p_ = mem_ + page_ - n;
        std::memcpy(p_, text.c_str(), n);
    }
    ~GuardedText() { munmap(mem_, 2 * page_); }
    char* get() { return p_; }

private:
    size_t page_;
    char* mem_;
    char* p_;
};

TEST(StrnlenR, BoundAndTerminator)
{
    EXPECT_EQ(strnlenR("abc", 0), 0u);
    EXPECT_EQ(strnlenR("abc", 2), 2u);
    EXPECT_EQ(strnlenR("abc", 3), 3u);
    EXPECT_EQ(strnlenR("abc", 100), 3u);
    EXPECT_EQ(strnlenR("", 5), 0u);
}

TEST(StrnlenR, NeverReadsPastBoundOrTerminator)
{
    // Every length and alignment up to a few words, ending at a page edge.
    for (size_t len = 0; len < 40; ++len) {
        GuardedText t(std::string(len, 'a'));
        EXPECT_EQ(strnlenR(t.get(), SIZE_MAX), len);
        GuardedText u(std::string(len, 'a'), false);
        EXPECT_EQ(strnlenR(u.get(), len), len);
    }
}

TEST(StrcpySR, Boundaries)
{
    Buf d;
    EXPECT_EQ(strcpy_sR(d.b, 0, "abc"), 0);
    EXPECT_EQ(d.b[0], 'X');  // size 0 writes nothing

    EXPECT_EQ(strcpy_sR(d.b, 4, "abc"), 0);
    EXPECT_STREQ(d.b, "abc");
    EXPECT_EQ(d.b[4], 'X');  // nothing beyond the terminator

    Buf e;
    EXPECT_EQ(strcpy_sR(e.b, 3, "abc"), KOV_ERANGE);
    EXPECT_EQ(e.b[0], '\0');
    EXPECT_EQ(e.b[3], 'X');  // nothing written at or past dstsize

    Buf f;
    EXPECT_EQ(strcpy_sR(f.b, 1, ""), 0);
    EXPECT_EQ(f.b[0], '\0');
    EXPECT_EQ(strcpy_sR(f.b, 1, "a"), KOV_ERANGE);
    EXPECT_EQ(f.b[0], '\0');
    EXPECT_EQ(f.b[1], 'X');
}

TEST(StrcpySR, SourceAtPageEdge)
{
    for (size_t len = 0; len < 24; ++len) {
        GuardedText t(std::string(len, 'q'));
        char d[32];
        EXPECT_EQ(strcpy_sR(d, sizeof d, t.get()), 0);
        EXPECT_EQ(std::strlen(d), len);
        // Exactly dstsize bytes without a terminator: no read past them.
        GuardedText u(std::string(len + 1, 'q'), false);
        EXPECT_EQ(strcpy_sR(d, len + 1, u.get()), KOV_ERANGE);
        EXPECT_EQ(d[0], '\0');
    }
}

TEST(StrcatSR, Boundaries)
{
    char d[8];
    std::strcpy(d, "ab");
    EXPECT_EQ(strcat_sR(d, 4, "c"), 0);
    EXPECT_STREQ(d, "abc");

    std::strcpy(d, "ab");
    EXPECT_EQ(strcat_sR(d, 4, "cd"), KOV_ERANGE);
    EXPECT_EQ(d[0], '\0');

    // No terminator within dstsize: untouched.
    std::memcpy(d, "wxyz", 4);
    EXPECT_EQ(strcat_sR(d, 4, ""), KOV_ERANGE);
    EXPECT_EQ(std::memcmp(d, "wxyz", 4), 0);

    EXPECT_EQ(strcat_sR(d, 0, "a"), KOV_ERANGE);
    EXPECT_EQ(d[0], 'w');

    d[0] = '\0';
    EXPECT_EQ(strcat_sR(d, 1, ""), 0);
    EXPECT_EQ(strcat_sR(d, 1, "a"), KOV_ERANGE);
    EXPECT_EQ(d[0], '\0');
}

TEST(StrncpySR, TruncatesSilently)
{
    Buf d;
    EXPECT_EQ(strncpy_sR(d.b, 4, "abcdef", 10), 0);
    EXPECT_STREQ(d.b, "abc");
    Buf e;
    EXPECT_EQ(strncpy_sR(e.b, 10, "abcdef", 2), 0);
    EXPECT_STREQ(e.b, "ab");
    EXPECT_EQ(e.b[3], 'X');
    Buf f;
    EXPECT_EQ(strncpy_sR(f.b, 0, "abc", 2), 0);
    EXPECT_EQ(f.b[0], 'X');
    EXPECT_EQ(strncpy_sR(f.b, 1, "abc", 2), 0);
    EXPECT_EQ(f.b[0], '\0');
    EXPECT_EQ(strncpy_sR(f.b, 8, "abc", 0), 0);
    EXPECT_EQ(f.b[0], '\0');
}

TEST(StrncpySR, LargestCountStillTerminates)
{
    Buf d;
    EXPECT_EQ(strncpy_sR(d.b, 4, "abcdef", SIZE_MAX), 0);
    EXPECT_STREQ(d.b, "abc");
    EXPECT_EQ(d.b[4], 'X');
    Buf e;
    EXPECT_EQ(strncpy_sR(e.b, 8, "ab", SIZE_MAX), 0);
    EXPECT_STREQ(e.b, "ab");
}

TEST(StrncpySR, CountedSourceWithoutTerminator)
{
    GuardedText t("abcd", false);
    char d[16];
    EXPECT_EQ(strncpy_sR(d, sizeof d, t.get(), 4), 0);
    EXPECT_STREQ(d, "abcd");
}

TEST(StrncatSR, Boundaries)
{
    char d[8];
    std::strcpy(d, "ab");
    EXPECT_EQ(strncat_sR(d, 5, "cdef", 2), 0);
    EXPECT_STREQ(d, "abcd");

    std::strcpy(d, "ab");
    EXPECT_EQ(strncat_sR(d, 5, "cdef", 3), KOV_ERANGE);
    EXPECT_EQ(d[0], '\0');

    std::strcpy(d, "ab");
    EXPECT_EQ(strncat_sR(d, 5, "c", 3), 0);
    EXPECT_STREQ(d, "abc");

    std::strcpy(d, "ab");
    EXPECT_EQ(strncat_sR(d, 5, "cdef", 0), 0);
    EXPECT_STREQ(d, "ab");

    // Source fills the room exactly (with terminator) and count is larger.
    std::strcpy(d, "ab");
    EXPECT_EQ(strncat_sR(d, 5, "cd", SIZE_MAX), 0);
    EXPECT_STREQ(d, "abcd");

    std::memcpy(d, "wxyz", 4);
    EXPECT_EQ(strncat_sR(d, 4, "a", 1), KOV_ERANGE);
    EXPECT_EQ(std::memcmp(d, "wxyz", 4), 0);
}

TEST(StrncatSR, CountedSourceAtPageEdge)
{
    GuardedText t("cdef", false);
    char d[16] = "ab";
    EXPECT_EQ(strncat_sR(d, sizeof d, t.get(), 4), 0);
    EXPECT_STREQ(d, "abcdef");
}

TEST(StrtokSR, TokensAndContext)
{
    char s[] = "  a,b";
    char* ctx = reinterpret_cast<char*>(1);
    errno = 0;
    char* t = strtok_sR(s, " ,", &ctx);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "a");
    t = strtok_sR(nullptr, " ,", &ctx);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "b");
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(strtok_sR(nullptr, " ,", &ctx), nullptr);
    EXPECT_EQ(errno, KOV_EINVAL);  // the context was null by then

    char* nctx = nullptr;
    errno = 0;
    EXPECT_EQ(strtok_sR(nullptr, ",", &nctx), nullptr);
    EXPECT_EQ(errno, KOV_EINVAL);

    char only[] = ", ,";
    errno = 0;
    EXPECT_EQ(strtok_sR(only, " ,", &ctx), nullptr);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(errno, 0);

    char whole[] = "a b";
    EXPECT_STREQ(strtok_sR(whole, "", &ctx), "a b");
    EXPECT_EQ(ctx, nullptr);
}

TEST(StrtokSR, TrailingDelimiterEndsCleanly)
{
    char s[] = "x,";
    char* ctx = nullptr;
    EXPECT_STREQ(strtok_sR(s, ",", &ctx), "x");
    ASSERT_NE(ctx, nullptr);
    errno = 0;
    EXPECT_EQ(strtok_sR(nullptr, ",", &ctx), nullptr);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(errno, 0);
}

TEST(MemcpySR, Boundaries)
{
    Buf d;
    EXPECT_EQ(memcpy_sR(d.b, 4, "abcde", 5), KOV_ERANGE);
    EXPECT_EQ(std::memcmp(d.b, "\0\0\0\0X", 5), 0);
    EXPECT_EQ(memcpy_sR(d.b, 4, "abcd", 4), 0);
    EXPECT_EQ(std::memcmp(d.b, "abcdX", 5), 0);
    EXPECT_EQ(memcpy_sR(d.b, 4, nullptr, 0), 0);
    EXPECT_EQ(memcpy_sR(nullptr, 0, "a", 1), KOV_ERANGE);
    EXPECT_EQ(memmove_sR(nullptr, 0, "a", 1), KOV_ERANGE);
    EXPECT_EQ(memmove_sR(d.b, 3, "abcd", 4), KOV_ERANGE);
    EXPECT_EQ(std::memcmp(d.b, "\0\0\0dX", 5), 0);
}

TEST(MemmoveSR, OverlapBothDirections)
{
    char s[] = "0123456789";
    EXPECT_EQ(memmove_sR(s + 2, 8, s, 6), 0);
    EXPECT_STREQ(s, "0101234589");
    char t[] = "0123456789";
    EXPECT_EQ(memmove_sR(t, 10, t + 3, 7), 0);
    EXPECT_STREQ(t, "3456789789");
}

}  // namespace

// 16-bit string functions: the word scanners against a unit-by-unit count at
// every alignment and next to an inaccessible page; the bounded twins against
// their 8-bit models in nls/ on the same texts; the plain functions against
// the C library's wide-character functions.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string>

#include "i18n/kovu16/u16_str.h"
#include "nls/kovstr.h"
#include "u16_test_util.h"

namespace {

// Units placed so that the last one ends a readable page followed by an
// inaccessible one.
class GuardedUnits {
public:
    explicit GuardedUnits(const U16& units)
    {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        mem_ = static_cast<char*>(mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(mem_ + page_, page_, PROT_NONE);
        p_ = reinterpret_cast<KOV_UTF16*>(mem_ + page_) - units.size();
        if (!units.empty())
            std::memcpy(p_, units.data(), units.size() * 2);
    }
    ~GuardedUnits() { munmap(mem_, 2 * page_); }
    KOV_UTF16* get() { return p_; }

private:
    size_t page_;
    char* mem_;
    KOV_UTF16* p_;
};

TEST(U16Scan, LengthsAtEveryAlignmentAndValue)
{
    std::mt19937 rng(7);
    for (size_t len = 0; len < 40; ++len) {
        for (int round = 0; round < 8; ++round) {
            U16 text;
            for (size_t i = 0; i < len; ++i)
                text.push_back(random_unit(rng));
            // Ending at the page edge (the start then takes every alignment mod 8
            // through the lengths), once terminated and once cut by the bound.
            U16 terminated = text;
            terminated.push_back(0);
            GuardedUnits t(terminated), u(text);
            ASSERT_EQ(strlenU16(t.get()), len);
            ASSERT_EQ(strnlenU16(t.get(), SIZE_MAX), len);
            ASSERT_EQ(strnlenU16(u.get(), len), len);
            for (size_t max = 0; max <= len; ++max)
                ASSERT_EQ(strnlenU16(t.get(), max), max);
            // A copy lands whole with its terminator and nothing after it.
            U16 dst(len + 3, 0xABCD);
            strcpyU16(dst.data(), t.get());
            ASSERT_EQ(0, std::memcmp(dst.data(), terminated.data(), (len + 1) * 2));
            ASSERT_EQ(dst[len + 1], 0xABCD);
        }
    }
}

// Runs the same bounded call on 8-bit text and on its 16-bit widening and
// compares result and destination.
TEST(U16Bounded, SameResultsAsTheEightBitTwins)
{
    std::mt19937 rng(11);
    const size_t kCounts[] = {0, 1, 2, 3, 4, 5, 7, 9, 15, SIZE_MAX};
    for (int round = 0; round < 3000; ++round) {
        std::string src(rng() % 12, 'x'), init(rng() % 12, 'y');
        for (char& c : src)
            c = static_cast<char>('a' + rng() % 26);
        const size_t dstsize = rng() % 16;
        const size_t count = kCounts[rng() % 10];
        // Destinations start with a text (terminated within 16 or not), then marks.
        char d8[16];
        std::memset(d8, '#', sizeof d8);
        std::memcpy(d8, init.c_str(), std::min<size_t>(init.size() + 1, 16));
        if (rng() % 8 == 0)
            std::memset(d8, 'z', sizeof d8);
        KOV_UTF16 d16[16];
        for (int i = 0; i < 16; ++i)
            d16[i] = static_cast<unsigned char>(d8[i]);
        const U16 s16 = widen(src);
        int r8 = 0, r16 = 0;
        switch (round % 6) {
        case 0:
            r8 = strcpy_sR(d8, dstsize, src.c_str());
            r16 = strcpy_sU16(d16, dstsize, s16.data());
            break;
        case 1:
            r8 = strcat_sR(d8, dstsize, src.c_str());
            r16 = strcat_sU16(d16, dstsize, s16.data());
            break;
        case 2:
            r8 = strncpy_sR(d8, dstsize, src.c_str(), count);
            r16 = strncpy_sU16(d16, dstsize, s16.data(), count);
            break;
        case 3:
            r8 = strncat_sR(d8, dstsize, src.c_str(), count);
            r16 = strncat_sU16(d16, dstsize, s16.data(), count);
            break;
        case 4: {
            const size_t n = std::min<size_t>(count, src.size() + 1);
            r8 = memcpy_sR(d8, dstsize, src.c_str(), n);
            r16 = memcpy_sU16(d16, dstsize, s16.data(), n);
            break;
        }
        case 5: {  // overlapping move within the destination
            const size_t n = std::min<size_t>(count, 8);
            r8 = memmove_sR(d8 + 1, dstsize, d8, n);
            r16 = memmove_sU16(d16 + 1, dstsize, d16, n);
            break;
        }
        }
        ASSERT_EQ(r8, r16) << "case " << round % 6 << " src " << src << " size " << dstsize;
        for (int i = 0; i < 16; ++i)
            ASSERT_EQ(static_cast<unsigned char>(d8[i]), d16[i]) << "case " << round % 6 << " index " << i;
    }
}

TEST(U16Bounded, TokenisersAgree)
{
    const char* texts[] = {"  a,b", ",,,", "", "abc", "a,,b, c ,", " x"};
    for (const char* t : texts) {
        char b8[32];
        std::strcpy(b8, t);
        U16 b16 = widen(t), delim = widen(" ,");
        char* ctx8 = nullptr;
        KOV_UTF16* ctx16 = nullptr;
        char* p8 = strtok_sR(b8, " ,", &ctx8);
        KOV_UTF16* p16 = strtok_sU16(b16.data(), delim.data(), &ctx16);
        for (;;) {
            ASSERT_EQ(p8 == nullptr, p16 == nullptr) << t;
            ASSERT_EQ(ctx8 == nullptr, ctx16 == nullptr) << t;
            if (p8 == nullptr)
                break;
            ASSERT_EQ(p8 - b8, p16 - b16.data());
            p8 = strtok_sR(nullptr, " ,", &ctx8);
            p16 = strtok_sU16(nullptr, delim.data(), &ctx16);
        }
    }
    errno = 0;
    KOV_UTF16* none = nullptr;
    EXPECT_EQ(strtok_sU16(nullptr, u16(u",").data(), &none), nullptr);
    EXPECT_EQ(errno, 22);
}

std::wstring wide(const U16& v)
{
    return std::wstring(v.begin(), v.end() - 1);
}

// Random texts over a small alphabet (so that searches hit) of units on both
// sides of 0x8000, to catch signed compares.
U16 random_text(std::mt19937& rng, size_t maxlen)
{
    static const KOV_UTF16 alphabet[] = {'a', 'b', 0x00E9, 0x8000, 0xFFFF};
    U16 v(rng() % (maxlen + 1));
    for (auto& u : v)
        u = alphabet[rng() % 5];
    v.push_back(0);
    return v;
}

int sign(int v)
{
    return (v > 0) - (v < 0);
}

TEST(U16Plain, AgreeWithWideCharacterFunctions)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 4000; ++round) {
        const U16 a = random_text(rng, 12), b = random_text(rng, 12);
        const U16 set = random_text(rng, round % 3 == 0 ? 40 : 3);  // long sets use the bit map
        const std::wstring wa = wide(a), wb = wide(b), wset = wide(set);
        const size_t n = rng() % 14;
        ASSERT_EQ(sign(strcmpU16(a.data(), b.data())), sign(std::wcscmp(wa.c_str(), wb.c_str())));
        ASSERT_EQ(sign(strncmpU16(a.data(), b.data(), n)), sign(std::wcsncmp(wa.c_str(), wb.c_str(), n)));
        const size_t m = std::min(a.size(), b.size());
        ASSERT_EQ(sign(memcmpU16(a.data(), b.data(), m)), sign(std::wmemcmp(wa.c_str(), wb.c_str(), m)));
        // The compares return the difference of the first differing units.
        size_t k = 0;
        while (k + 1 < m && a[k] == b[k])
            ++k;
        ASSERT_EQ(strcmpU16(a.data(), b.data()), int(a[k]) - int(b[k]));
        ASSERT_EQ(memcmpU16(a.data(), b.data(), m), a[k] == b[k] ? 0 : int(a[k]) - int(b[k]));

        ASSERT_EQ(strspnU16(a.data(), set.data()), std::wcsspn(wa.c_str(), wset.c_str()));
        ASSERT_EQ(strcspnU16(a.data(), set.data()), std::wcscspn(wa.c_str(), wset.c_str()));
        const wchar_t* wp = std::wcspbrk(wa.c_str(), wset.c_str());
        KOV_UTF16* up = strpbrkU16(a.data(), set.data());
        ASSERT_EQ(up ? up - a.data() : -1, wp ? wp - wa.c_str() : -1);
        const KOV_UTF16 unit = set[0];
        wp = std::wcschr(wa.c_str(), unit);
        up = strchrU16(a.data(), unit);
        ASSERT_EQ(up ? up - a.data() : -1, wp ? wp - wa.c_str() : -1);
        wp = std::wcsrchr(wa.c_str(), unit);
        up = strrchrU16(a.data(), unit);
        ASSERT_EQ(up ? up - a.data() : -1, wp ? wp - wa.c_str() : -1);
        wp = std::wmemchr(wa.c_str(), unit, std::min(n, wa.size()));
        up = memchrU16(a.data(), unit, std::min(n, wa.size()));
        ASSERT_EQ(up ? up - a.data() : -1, wp ? wp - wa.c_str() : -1);
        const U16 needle = random_text(rng, 3);
        wp = std::wcsstr(wa.c_str(), wide(needle).c_str());
        up = strstrU16(a.data(), needle.data());
        ASSERT_EQ(up ? up - a.data() : -1, wp ? wp - wa.c_str() : -1);

        // Counted copies and appends leave what the wide functions leave.
        U16 d(40, 0x5555);
        std::wstring wd(40, 0x5555);
        strncpyU16(d.data(), a.data(), n);
        std::wcsncpy(wd.data(), wa.c_str(), n);
        ASSERT_EQ(std::wstring(d.begin(), d.end()), wd);
        strcpyU16(d.data(), b.data());
        std::wcscpy(wd.data(), wb.c_str());
        strncatU16(d.data(), a.data(), n);
        std::wcsncat(wd.data(), wa.c_str(), n);
        ASSERT_EQ(std::wstring(d.begin(), d.end()), wd);
        strcatU16(d.data(), b.data());
        std::wcscat(wd.data(), wb.c_str());
        ASSERT_EQ(std::wstring(d.begin(), d.end()), wd);
    }
    U16 ab = u16(u"ab");
    EXPECT_EQ(strchrU16(ab.data(), 0), ab.data() + 2);
}

TEST(U16Plain, LongNeedlesStayLinearAndExact)
{
    // A haystack of a's with a needle of a's ending in b: the plain search would
    // compare every position in full.
    U16 hay(200000, 'a'), needle(5000, 'a');
    hay.back() = 0;
    needle.back() = 0;
    needle[needle.size() - 2] = 'b';
    EXPECT_EQ(strstrU16(hay.data(), needle.data()), nullptr);
    hay[150000] = 'b';
    EXPECT_EQ(strstrU16(hay.data(), needle.data()), hay.data() + 150000 - 4998);
    EXPECT_EQ(strstrU16(hay.data(), u16(u"").data()), hay.data());
}

TEST(U16Plain, TokeniserSavesOnePosition)
{
    U16 s = u16(u",ab,,c");
    const U16 d = u16(u",");
    EXPECT_EQ(as_text(strtokU16(s.data(), d.data())), u"ab");
    EXPECT_EQ(as_text(strtokU16(nullptr, d.data())), u"c");
    EXPECT_EQ(strtokU16(nullptr, d.data()), nullptr);
    EXPECT_EQ(strtokU16(nullptr, d.data()), nullptr);

    KOV_UTF16* copy = strdupU16(u16(u"\u00e9t\u00e9").data());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(as_text(copy), u"\u00e9t\u00e9");
    free(copy);
    KOV_UTF16 fill[7] = {};
    memsetU16(fill + 1, 0xFEFF, 5);
    EXPECT_EQ(fill[0], 0);
    EXPECT_EQ(fill[5], 0xFEFF);
    EXPECT_EQ(fill[6], 0);
}

}  // namespace

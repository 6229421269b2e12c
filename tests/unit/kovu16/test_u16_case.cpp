// Case-insensitive compares and conversions of 16-bit strings: every BMP unit
// against its case maps, surrogates as themselves, and the bounded forms.
#include <gtest/gtest.h>

#include "i18n/kovu16/u16_case.h"
#include "i18n/kovu16/u16_ctype.h"
#include "u16_test_util.h"

namespace {

TEST(U16Case, EveryUnitFoldsThroughTheLowerCaseMap)
{
    for (unsigned c = 1; c < 0x10000; ++c) {
        const auto u = static_cast<KOV_UTF16>(c);
        KOV_UTF16 a[3] = {'x', u, 0}, b[3] = {'X', toupperU16(u), 0};
        const int want = tolowerU16(u) == tolowerU16(toupperU16(u))
                             ? 0
                             : int(tolowerU16(u)) - int(tolowerU16(toupperU16(u)));
        ASSERT_EQ(strcasecmpU16(a, b), want) << c;
        KOV_UTF16 up[2] = {u, 0}, copy[2];
        struprU16(up);
        ASSERT_EQ(up[0], toupperU16(u));
        strcpylwrU16(copy, up);
        ASSERT_EQ(copy[0], tolowerU16(toupperU16(u)));
        if (c >= 0xD800 && c < 0xE000) {
            ASSERT_EQ(up[0], u);
        }
    }
    // Differences are of unsigned units; the shorter string compares low.
    EXPECT_EQ(strcasecmpU16(u16(u"ab").data(), u16(u"AB\uffff").data()), -0xFFFF);
    EXPECT_EQ(strcasecmpU16(u16(u"").data(), u16(u"x").data()), -'x');
    EXPECT_EQ(strncasecmpU16(u16(u"abcX").data(), u16(u"ABCy").data(), 3), 0);
    EXPECT_EQ(strncasecmpU16(u16(u"a").data(), u16(u"b").data(), 0), 0);
    U16 s = u16(u"abc\u00e9def");
    strnuprU16(s.data(), 4);
    EXPECT_EQ(as_text(s.data()), u"ABC\u00c9def");
    strnlwrU16(s.data(), 2);
    EXPECT_EQ(as_text(s.data()), u"abC\u00c9def");
}

}  // namespace

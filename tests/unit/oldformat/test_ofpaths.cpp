// Path normalisation, the refusal of names that leave the extraction
// directory, and the pattern matcher of archive names.
#include <gtest/gtest.h>

#include <string>

#include "oldformat/ofinternal.h"

TEST(OfNormalise, SeparatorsDotsAndDrivePrefix) {
    EXPECT_EQ(OfNormalisePath("a\\b\\c"), "a/b/c");
    EXPECT_EQ(OfNormalisePath("a//b/./c/"), "a/b/c");
    EXPECT_EQ(OfNormalisePath("./a"), "a");
    EXPECT_EQ(OfNormalisePath("a/b/../c"), "a/c");
    EXPECT_EQ(OfNormalisePath("/a/../b"), "/b");
    EXPECT_EQ(OfNormalisePath("//a"), "/a");
    EXPECT_EQ(OfNormalisePath("C:\\x\\..\\y"), "C:/y");
    EXPECT_EQ(OfNormalisePath("a/.."), "");
}

TEST(OfNormalise, DotDotThatCannotBeResolvedStays) {
    EXPECT_EQ(OfNormalisePath("../x"), "../x");
    EXPECT_EQ(OfNormalisePath("a/../../x"), "../x");
    EXPECT_EQ(OfNormalisePath("../../x"), "../../x");
}

TEST(OfSafeName, RefusesEscapesKeepsStoredAbsoluteNames) {
    auto safe = [](const std::string& s) { return OfIsSafeName(s, OfNormalisePath(s)); };
    EXPECT_TRUE(safe("a/b"));
    EXPECT_TRUE(safe("a/../b"));
    EXPECT_TRUE(safe("/etc/passwd"));  // stored absolute: stays as it is
    EXPECT_FALSE(safe("../x"));
    EXPECT_FALSE(safe("a/../../x"));
    EXPECT_FALSE(safe("a\\..\\..\\x"));
    EXPECT_FALSE(safe("\\etc\\passwd"));  // absolute only after the backslashes turned
    EXPECT_FALSE(safe("C:..\\x"));
    EXPECT_FALSE(safe("/../x"));
}

TEST(OfPattern, StarsQuestionMarksAndEscapes) {
    EXPECT_TRUE(OfMatchPattern("*", ""));
    EXPECT_TRUE(OfMatchPattern("*.zef", "a.zef"));
    EXPECT_FALSE(OfMatchPattern("*.zef", "a.zefx"));
    EXPECT_TRUE(OfMatchPattern("a*b*c", "axxbyyc"));
    EXPECT_FALSE(OfMatchPattern("a*b*c", "axxbyy"));
    EXPECT_TRUE(OfMatchPattern("a?c", "abc"));
    EXPECT_FALSE(OfMatchPattern("a?c", "ac"));
    EXPECT_TRUE(OfMatchPattern("\\*", "*"));
    EXPECT_FALSE(OfMatchPattern("\\*", "a"));
    EXPECT_TRUE(OfMatchPattern("a\\?", "a?"));
    EXPECT_FALSE(OfMatchPattern("abc", "ab"));
    EXPECT_FALSE(OfMatchPattern("ab", "abc"));
}

TEST(OfPattern, SetsAndRanges) {
    EXPECT_TRUE(OfMatchPattern("[z-a]", "m"));
    EXPECT_TRUE(OfMatchPattern("[a-z]", "m"));
    EXPECT_FALSE(OfMatchPattern("[a-c]", "d"));
    EXPECT_TRUE(OfMatchPattern("x[0-9][0-9].zef", "x17.zef"));
    EXPECT_FALSE(OfMatchPattern("x[0-9].zef", "xa.zef"));
    EXPECT_TRUE(OfMatchPattern("[abc]", "b"));
    EXPECT_TRUE(OfMatchPattern("[a-]", "-"));
    EXPECT_FALSE(OfMatchPattern("[abc", "a"));  // unclosed
    EXPECT_FALSE(OfMatchPattern("[]", "]"));    // empty
    EXPECT_FALSE(OfMatchPattern("*[", "a["));
    EXPECT_TRUE(OfMatchPattern("*[0-9]", "abc7"));
}

TEST(OfPattern, ManyStarsStayFast) {
    const std::string name(4000, 'a');
    EXPECT_FALSE(OfMatchPattern("*a*a*a*a*a*a*a*a*a*a*a*b", name.c_str()));
    EXPECT_TRUE(OfMatchPattern("*a*a*a*a*a*a*a*a*a*a*a*", name.c_str()));
}

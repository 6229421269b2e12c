// How names are shown on a line: control bytes escaped, everything else,
// UTF-8 letters and the letters of 8-bit code pages, unchanged.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "oldformat/shownname.h"

namespace {

std::string Utf8(uint32_t cp)
{
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (cp >> 18));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

std::string Hex(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02x", c);
        out += buf;
    }
    return out;
}

}  // namespace

// Faults caught: a name's control characters (C0, DEL, C1) reaching a line
// raw, or an ordinary character of a name being changed on its way out.
TEST(KovShown, EveryCharacterAndEveryLoneByte)
{
    for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        const std::string c = Utf8(cp);
        const bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
        ASSERT_EQ(KovShown("a" + c + "b"), "a" + (control ? Hex(c) : c) + "b") << cp;
    }
    // Bytes outside UTF-8: the letters of an 8-bit code page stay, its C1
    // controls do not.
    for (int b = 0x80; b <= 0xFF; ++b) {
        const std::string c(1, static_cast<char>(b));
        ASSERT_EQ(KovShown("a" + c + "b"), "a" + (b <= 0x9F ? Hex(c) : c) + "b") << b;
    }
    // Surrogates, overlong forms and cut characters are no UTF-8: their
    // bytes 0x80-0x9F are escaped.
    EXPECT_EQ(KovShown("\xed\xa0\x80"), "\xed\xa0\\x80");
    EXPECT_EQ(KovShown("\xe0\x82\x9b"), "\xe0\\x82\\x9b");
    EXPECT_EQ(KovShown("\xe2\x82"), "\xe2\\x82");
    EXPECT_EQ(KovShown(std::string("a\0b", 3)), "a\\x00b");
    // A name is no message: its backslashes stay as they are.
    EXPECT_EQ(KovShown("dir\\file"), "dir\\file");
    EXPECT_EQ(KovEscapedBytes("2\\\x1b\xc3\xa9"), "2\\x5c\\x1b\\xc3\\xa9");
}

TEST(KovShown, HostileBytesLeaveNoControlAndShowingTwiceChangesNothing)
{
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string text(random() % 12, '\0');
        for (char& c : text)
            c = static_cast<char>(random() % 4 ? random() % 0x100 : 0x80 + random() % 0x20);
        const std::string shown = KovShown(text);
        for (unsigned char c : shown)
            ASSERT_TRUE(c >= 0x20 && c != 0x7F) << Hex(text);
        ASSERT_EQ(KovShown(shown), shown) << Hex(text);
    }
}

TEST(KovShownLines, KeepsTheLinesOfALibraryReport)
{
    EXPECT_EQ(KovShownLines("first >a\x1b[2J<\nsecond >b\r<\n"), "first >a\\x1b[2J<\nsecond >b\\x0d<\n");
    EXPECT_EQ(KovShownLines(""), "");
}

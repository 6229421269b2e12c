// Formatted input and number parsing of 16-bit text: a grid of conversions ×
// widths × modifiers × inputs against the C library's sscanf (the same text
// read from a string and from a UTF-8 stream), the library's own rules, and
// strtolU16 / strtodU16 against strtol / strtod.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "i18n/kovu16/u16_scanf.h"
#include "i18n/kovu16/u16_strto.h"
#include "i18n/kovu16/u16_utf8.h"
#include "trace_capture.h"
#include "u16_test_util.h"

// The C library is the oracle: the grid hands it formats built at run time.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

namespace {

// One conversion followed by %n; the value, the result and the units
// consumed, by the C library, the 16-bit string engine and the stream engine.
template <class T>
void expect_same_scan(const std::string& input, const std::string& conv)
{
    std::string fmt;
    fmt.reserve(24);
    (fmt += conv) += "%n";
    T want{}, got{}, got_stream{};
    int want_n = -1, got_n = -1, stream_n = -1;
    const int r = sscanf(input.c_str(), fmt.c_str(), &want, &want_n);
    const U16 in16 = widen(input), f16 = widen(fmt);
    const int32_t g = sscanfU16(in16.data(), f16.data(), &got, &got_n);
    FILE* f = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    const int32_t gs = f != nullptr ? fscanfU16(f, f16.data(), &got_stream, &stream_n) : r;
    if (f != nullptr)
        fclose(f);
    std::string what;
    what.reserve(64);
    ((what += input) += " with ") += conv;
    ASSERT_EQ(g, r) << what;
    ASSERT_EQ(want_n, got_n) << what;
    if (input.empty())
        return;
    ASSERT_EQ(gs, r) << what;
    ASSERT_EQ(stream_n, got_n) << what;
    if (r == 1) {
        if constexpr (std::is_floating_point_v<T>) {
            ASSERT_TRUE((std::isnan(want) && std::isnan(got)) || want == got) << what;
        } else {
            ASSERT_EQ(want, got) << what;
            ASSERT_EQ(want, got_stream) << what;
        }
    }
}

// "%" width modifier conversion, built by appending (the optimiser misreads
// chains of + on short strings).
std::string spec_of(const char* width, const char* mod, const char* conv)
{
    std::string s;
    s.reserve(16);
    (((s += '%') += width) += mod) += conv;
    return s;
}

TEST(U16Scanf, GridAgainstTheCLibrary)
{
    const char* ints[] = {"42",          "-17",  "+5",      "0x1F", "0X1f",    "017", "08",
                          "  123abc",    "abc",  "",        "   ",  "+x",      "0x",  "99999999999",
                          "-2147483649", "ffff", "7777777", "0",    "  -0x10 "};
    const char* floats[] = {"3.5", "-2.25e2", "1e", "1e+", ".5", "5.", "  -0.001x", "abc", "", "1.5.5", "12e3e4",
                            "1e-400", "123456789012345678901234567890", "0.1",
                            // the words keep to the width (they once read on past it)
                            "inf", "-inf", "nan", "-NaN", "Inf rest", "nAn5"};
    const char* widths[] = {"", "1", "2", "3", "5"};
    size_t n = 0;
    for (const char* w : widths) {
        for (const char* in : ints) {
            for (const char* c : {"d", "i", "u", "o", "x", "X"}) {
                expect_same_scan<int>(in, spec_of(w, "", c));
                expect_same_scan<long>(in, spec_of(w, "l", c));
                expect_same_scan<short>(in, spec_of(w, "h", c));
                expect_same_scan<signed char>(in, spec_of(w, "hh", c));
                n += 4;
            }
        }
        for (const char* in : floats) {
            if (w[0] != '\0' && in[0] == '+')
                continue;  // a plus sign does not count toward the width
            for (const char* c : {"f", "e", "g", "E", "a"}) {
                expect_same_scan<float>(in, spec_of(w, "", c));
                expect_same_scan<double>(in, spec_of(w, "l", c));
                expect_same_scan<long double>(in, spec_of(w, "L", c));
                n += 3;
            }
        }
    }
    EXPECT_GT(n, 2000u);
}

TEST(U16Scanf, TextConversionsAndRules)
{
    int d = 0;
    KOV_UTF16 s[16], c[4] = {9, 9, 9, 9};
    EXPECT_EQ(sscanfU16(u16(u"12 abc").data(), u16(u"%d%s").data(), &d, s), 2);
    EXPECT_EQ(d, 12);
    EXPECT_EQ(as_text(s), u"abc");
    EXPECT_EQ(sscanfU16(u16(u"").data(), u16(u"%d").data(), &d), -1);
    EXPECT_EQ(sscanfU16(u16(u"x").data(), u16(u"%d").data(), &d), 0);
    EXPECT_EQ(sscanfU16(u16(u"abc").data(), u16(u"%2c").data(), c), 1);
    EXPECT_EQ(c[0], 'a');
    EXPECT_EQ(c[1], 'b');
    EXPECT_EQ(c[2], 9);  // no terminator
    float f = 0;
    errno = 0;
    EXPECT_EQ(sscanfU16(u16(u"inf").data(), u16(u"%f").data(), &f), 1);
    EXPECT_TRUE(std::isinf(f));
    EXPECT_EQ(errno, ERANGE);
    int n = -1;
    EXPECT_EQ(sscanfU16(u16(u"ab").data(), u16(u"ab%n").data(), &n), 0);
    EXPECT_EQ(n, 2);
    // Sets: ranges, a leading ] or -, negation, non-ASCII units.
    EXPECT_EQ(sscanfU16(u16(u"]-a-c\u00e9d").data(), u16(u"%[]a-c-]%[^d]").data(), s, c), 2);
    EXPECT_EQ(as_text(s), u"]-a-c");
    EXPECT_EQ(c[0], 0xE9);
    EXPECT_EQ(sscanfU16(u16(u"\u3000\u00e9t\u00e9 x").data(), u16(u"%s").data(), s), 1);
    EXPECT_EQ(as_text(s), u"\u00e9t\u00e9");
    void* p = &n;
    EXPECT_EQ(sscanfU16(u16(u"(NIL)").data(), u16(u"%p").data(), &p), 1);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(sscanfU16(u16(u"1f").data(), u16(u"%*d%x").data(), &d), 1);
    EXPECT_EQ(d, 0xf);

    TraceCapture cap(U16_TRACE_MEDIUM);
    EXPECT_EQ(sscanfU16(u16(u"5 6").data(), u16(u"%d %q").data(), &d, &d), 1);
    ASSERT_FALSE(traced().empty());
    EXPECT_NE(traced().back().find("[u16_InCon.c line 104]"), std::string::npos);
    EXPECT_NE(traced().back().find("at or near 'q':\nq"), std::string::npos);

    // On a stream an ASCII unit after a conversion goes back to the stream.
    std::string text = "7;\xC3\xA9";
    FILE* st = fmemopen(text.data(), text.size(), "r");
    EXPECT_EQ(fscanfU16(st, u16(u"%d").data(), &d), 1);
    EXPECT_EQ(fgetc(st), ';');
    fclose(st);
    errno = 0;
    EXPECT_EQ(fscanfU16(nullptr, u16(u"%d").data(), &d), -1);
    EXPECT_EQ(errno, EBADF);
}

// The same call on a 16-bit string and on a UTF-8 stream of text.
template <class... A>
int32_t scan_source(bool stream, std::string text, const char16_t* format, A... args)
{
    const U16 f16 = u16(format);
    if (!stream) {
        KOV_UTF16 in[64];
        Utf8ToU16Str(in, text.c_str(), 64);
        return sscanfU16(in, f16.data(), args...);
    }
    FILE* f = fmemopen(text.data(), text.size(), "r");
    const int32_t r = fscanfU16(f, f16.data(), args...);
    fclose(f);
    return r;
}

// A width cuts the word "infinity" short, and what follows "inf" in a partial
// one stays to be read (it was consumed and lost); * is a width that sets no
// limit (it was a format error).
TEST(U16Scanf, PartialInfinityAndStarWidth)
{
    for (bool stream : {false, true}) {
        float f = 0;
        int n = -1;
        KOV_UTF16 s[16];
        EXPECT_EQ(scan_source(stream, "infinity rest", u"%3f%n%s", &f, &n, s), 2) << stream;
        EXPECT_TRUE(std::isinf(f));
        EXPECT_EQ(n, 3);
        EXPECT_EQ(as_text(s), u"inity");
        EXPECT_EQ(scan_source(stream, "-INFIN\xE2\x82\xAC", u"%f%n%s", &f, &n, s), 2) << stream;
        EXPECT_TRUE(std::isinf(f) && f < 0);
        EXPECT_EQ(n, 4);
        EXPECT_EQ(as_text(s), u"IN\u20ac");
        EXPECT_EQ(scan_source(stream, "infinx", u"%f%s", &f, s), 2) << stream;
        EXPECT_EQ(as_text(s), u"inx");
        // ... also when the partial word ends the input (its letters were lost
        // with the end: 1 and n = 5).
        EXPECT_EQ(scan_source(stream, "infin", u"%f%n%s", &f, &n, s), 2) << stream;
        EXPECT_EQ(n, 3);
        EXPECT_EQ(as_text(s), u"in");
        // "(nil)" keeps to the width like the words (%3p took all five units).
        void* p = &n;
        EXPECT_EQ(scan_source(stream, "(nil)", u"%3p%n", &p, &n), 0) << stream;
        EXPECT_EQ(p, &n);
        EXPECT_EQ(scan_source(stream, "(nil)", u"%5p%n", &p, &n), 1) << stream;
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(n, 5);
        KOV_UTF16 c = 0;
        EXPECT_EQ(scan_source(stream, "123456 x", u"%**d%n %c", &n, &c), 1) << stream;
        EXPECT_EQ(n, 6);
        EXPECT_EQ(c, 'x');
    }
    // On a stream the ASCII units still held when the call returns go back to
    // the stream in order (all were lost, leaving "z"); the non-ASCII unit
    // that ended the conversion is dropped as always.  A width of 3 leaves
    // what follows "(ni" in the stream.
    std::string text = "infi\xC3\xA9z";
    FILE* st = fmemopen(text.data(), text.size(), "r");
    float f = 0;
    EXPECT_EQ(fscanfU16(st, u16(u"%f").data(), &f), 1);
    EXPECT_TRUE(std::isinf(f));
    EXPECT_EQ(fgetc(st), 'i');
    EXPECT_EQ(fgetc(st), 'z');
    EXPECT_EQ(fgetc(st), EOF);
    fclose(st);
    text = "-INFIN";
    st = fmemopen(text.data(), text.size(), "r");
    EXPECT_EQ(fscanfU16(st, u16(u"%f").data(), &f), 1);
    EXPECT_TRUE(std::isinf(f) && f < 0);
    EXPECT_EQ(fgetc(st), 'I');
    EXPECT_EQ(fgetc(st), 'N');
    EXPECT_EQ(fgetc(st), EOF);
    fclose(st);
    text = "(nil)";
    st = fmemopen(text.data(), text.size(), "r");
    void* p = &f;
    EXPECT_EQ(fscanfU16(st, u16(u"%3p").data(), &p), 0);
    EXPECT_EQ(fgetc(st), 'l');
    fclose(st);
}

TEST(U16Strto, IntegersAgainstStrtol)
{
    std::mt19937 rng(9);
    const char* pieces[] = {" ",
                            "-",
                            "+",
                            "0",
                            "x",
                            "X",
                            "1",
                            "7",
                            "9",
                            "a",
                            "f",
                            "z",
                            "Z",
                            "g",
                            "99999999999",
                            "18446744073709551615",
                            "9223372036854775808"};
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (int k = rng() % 5; k >= 0; --k)
            text += pieces[rng() % 17];
        const int base = static_cast<int>(rng() % 37);
        if (base == 1)
            continue;  // a bad base: see the end of DoublesAgainstStrtod
        const U16 t16 = widen(text);
        char* e8;
        KOV_UTF16* e16;
        errno = 0;
        const long a = strtol(text.c_str(), &e8, base);
        const int ea = errno;
        errno = 0;
        const long b = strtolU16(t16.data(), &e16, base);
        ASSERT_EQ(a, b) << text << " base " << base;
        ASSERT_EQ(ea, errno) << text << " base " << base;
        ASSERT_EQ(e8 - text.c_str(), e16 - t16.data()) << text << " base " << base;
        errno = 0;
        const unsigned long ua = strtoul(text.c_str(), &e8, base);
        const int eua = errno;
        errno = 0;
        const unsigned long ub = strtoulU16(t16.data(), &e16, base);
        ASSERT_EQ(ua, ub) << text << " base " << base;
        ASSERT_EQ(eua, errno) << text;
        ASSERT_EQ(e8 - text.c_str(), e16 - t16.data()) << text;
    }
    KOV_UTF16* e;
    const U16 ox = u16(u"0x");
    EXPECT_EQ(strtolU16(ox.data(), &e, 16), 0);
    EXPECT_EQ(e, ox.data() + 1);
}

TEST(U16Strto, DoublesAgainstStrtod)
{
    std::mt19937 rng(4);
    for (int round = 0; round < 20000; ++round) {
        std::string text = rng() % 4 == 0 ? " -" : "";
        for (int k = rng() % 10; k >= 0; --k)
            text += static_cast<char>('0' + (k == 3 ? 0 : rng() % 10));
        if (rng() % 2) {
            text += '.';
            for (int k = rng() % 12; k >= 0; --k)
                text += static_cast<char>('0' + rng() % 10);
        }
        if (rng() % 2) {
            text += 'e';
            text += std::to_string(static_cast<int>(rng() % 700) - 350);
        }
        text += "z";
        const U16 t16 = widen(text);
        char* e8;
        KOV_UTF16* e16;
        errno = 0;
        const double a = strtod(text.c_str(), &e8);
        const int ea = errno;
        errno = 0;
        const double b = strtodU16(t16.data(), &e16);
        ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << text << " " << a << " " << b;
        ASSERT_EQ(ea, errno) << text;
        ASSERT_EQ(e8 - text.c_str(), e16 - t16.data()) << text;
    }
    KOV_UTF16* e;
    const U16 inf = u16(u"INFinity"), inf2 = u16(u"-Infinity"), nan = u16(u"nAN");
    EXPECT_EQ(strtodU16(inf.data(), &e), HUGE_VAL);
    EXPECT_EQ(e, inf.data() + 3);
    EXPECT_EQ(strtodU16(inf2.data(), &e), -HUGE_VAL);
    EXPECT_EQ(e, inf2.data() + 9);
    EXPECT_TRUE(std::isnan(strtodU16(nan.data(), &e)));
    EXPECT_EQ(strtodU16(widen(std::string(30, '9')).data(), nullptr),
              strtodU16(widen(std::string(24, '9') + "e6").data(), nullptr));
    errno = 0;
    EXPECT_EQ(strtodU16(u16(u"1e99999").data(), nullptr), HUGE_VAL);
    EXPECT_EQ(errno, ERANGE);
    errno = 0;
    EXPECT_EQ(strtodU16(u16(u"1e-99999").data(), nullptr), 0.0);
    EXPECT_EQ(errno, ERANGE);
    errno = 0;
    EXPECT_EQ(strtodU16(u16(u"0e99999").data(), nullptr), 0.0);
    EXPECT_EQ(errno, 0);
    errno = 0;
    const U16 five = u16(u" 5");
    EXPECT_EQ(strtolU16(five.data(), &e, 1), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(e, five.data());
}

}  // namespace

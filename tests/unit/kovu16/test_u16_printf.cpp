// Formatted output of 16-bit text: a grid of conversions × flags × widths ×
// precisions × values against the C library's snprintf (where the library's
// rules differ from C's, the C format is adjusted or the case is left to the
// cases after the grid), the bounded forms, the stream form and format errors.
#include <gtest/gtest.h>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <string>
#include <vector>

#include "i18n/kovu16/u16_printf.h"
#include "trace_capture.h"
#include "u16_test_util.h"

// The C library is the oracle: the grid hands it formats built at run time.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

namespace {

std::u16string wide_text(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

// Formats with both engines; fmt16 differs from fmt only for %s arguments.
template <class... A>
void expect_same(const std::string& fmt, const std::string& cfmt, A... args)
{
    char want[8192];
    const int n = snprintf(want, sizeof want, cfmt.c_str(), args...);
    const U16 f16 = widen(fmt);
    static KOV_UTF16 got[8192];
    const int32_t r = snprintfCountU16(got, 8192, f16.data(), args...);
    ASSERT_EQ(r, n) << fmt;
    ASSERT_EQ(as_text(got), wide_text(want)) << fmt;
}

TEST(U16Printf, GridAgainstTheCLibrary)
{
    TraceCapture quiet(0);
    const char* flag_chars = "-+ #0";
    const int widths[] = {-1, 1, 6, 14, -2};        // -2: taken from the arguments
    const int precisions[] = {-1, 0, 1, 4, 9, -2};  // -2: taken from the arguments
    const int ints[] = {0, 1, -1, 42, -42, 255, INT_MAX, INT_MIN};
    const long longs[] = {0, -1, LONG_MAX, LONG_MIN, 1234567890123L};
    // The NaNs carry their sign once, whatever the flags (-NaN with + gave "+-nan").
    const double doubles[] = {0.0, 1.0, -1.5, 3.14159, 1e-7, 123456789.125, 1e300, DBL_MIN, -INFINITY, NAN, -NAN};
    const long double ldoubles[] = {0.0L, -2.5L, 1e4000L, -static_cast<long double>(NAN)};
    const std::string convs = "diuxXoeEfgGaAcs";
    size_t cases = 0;
    for (char conv : convs) {
        for (int fl = 0; fl < 32; ++fl) {
            std::string flags;
            for (int b = 0; b < 5; ++b)
                if (fl & (1 << b))
                    flags += flag_chars[b];
            if (fl == 31)
                continue;  // five flags are a format error (see BoundedOutputAndErrors)
            const bool is_o = conv == 'o', is_text = conv == 'c' || conv == 's';
            if (is_o && (fl & 6))
                continue;  // a sign on octal: see OctalRules
            if (is_text && (fl & ~1))
                continue;  // only - means something to c and s
            for (int w : widths) {
                for (int p : precisions) {
                    if (is_o && p != -1 && !(fl & 8))
                        continue;  // octal precision needs #
                    // Built by appending: the optimiser misreads chains of + on short strings.
                    std::string spec;
                    spec.reserve(32);
                    spec += '%';
                    spec += flags;
                    if (w == -2)
                        spec += '*';
                    else if (w >= 0)
                        spec += std::to_string(w);
                    if (p == -2)
                        spec += ".*";
                    else if (p >= 0)
                        (spec += '.') += std::to_string(p);
                    // Zero fill gives way to a precision below the width (C zero-fills floats).
                    const int pv = p == -2 ? 3 : p, wv = w == -2 ? 9 : w;
                    std::string cspec = spec;
                    if ((fl & 16) && pv >= 0 && wv >= 0 && pv < wv)
                        cspec.erase(cspec.find('0', 1), 1);
                    // Without a precision, floating conversions take 6 (C prints %a exactly).
                    if (p == -1 && (conv == 'a' || conv == 'A'))
                        cspec += ".6";
                    auto run = [&](auto value, const char* mod) {
                        // C gives zeros of a precision no 0x (see RulesOfTheirOwn).
                        if ((conv == 'x' || conv == 'X') && (fl & 8) && pv >= 2 && value == 0)
                            return;
                        std::string f, cf;
                        f.reserve(40);
                        cf.reserve(40);
                        ((((f += '<') += spec) += mod) += conv) += '>';
                        ((((cf += '<') += cspec) += mod) += conv) += '>';
                        if (w == -2 && p == -2)
                            expect_same(f, cf, 9, 3, value);
                        else if (w == -2)
                            expect_same(f, cf, 9, value);
                        else if (p == -2)
                            expect_same(f, cf, 3, value);
                        else
                            expect_same(f, cf, value);
                        ++cases;
                    };
                    switch (conv) {
                    case 'd':
                    case 'i':
                        for (int v : ints)
                            run(v, "");
                        for (long v : longs)
                            run(v, "l");
                        break;
                    case 'u':
                    case 'x':
                    case 'X':
                    case 'o':
                        for (int v : ints)
                            run(static_cast<unsigned>(v), "");
                        for (long v : longs)
                            run(static_cast<unsigned long>(v), "l");
                        break;
                    case 'c':
                        run(static_cast<int>('Q'), "");
                        break;
                    case 's':
                        break;
                    default:
                        for (double v : doubles)
                            run(v, "");
                        for (long double v : ldoubles)
                            run(v, "L");
                    }
                    if (conv == 's') {
                        std::string f;
                        f.reserve(40);
                        ((f += '<') += spec) += "s>";
                        const U16 f16 = widen(f), arg16 = widen("hello");
                        char want[256];
                        KOV_UTF16 got[256];
                        int n, r;
                        if (w == -2 && p == -2) {
                            n = snprintf(want, sizeof want, f.c_str(), 9, 3, "hello");
                            r = snprintfCountU16(got, 256, f16.data(), 9, 3, arg16.data());
                        } else if (w == -2) {
                            n = snprintf(want, sizeof want, f.c_str(), 9, "hello");
                            r = snprintfCountU16(got, 256, f16.data(), 9, arg16.data());
                        } else if (p == -2) {
                            n = snprintf(want, sizeof want, f.c_str(), 3, "hello");
                            r = snprintfCountU16(got, 256, f16.data(), 3, arg16.data());
                        } else {
                            n = snprintf(want, sizeof want, f.c_str(), "hello");
                            r = snprintfCountU16(got, 256, f16.data(), arg16.data());
                        }
                        ASSERT_EQ(r, n) << f;
                        ASSERT_EQ(as_text(got), wide_text(want)) << f;
                        ++cases;
                    }
                }
            }
        }
    }
    EXPECT_GT(cases, 20000u);
}

std::u16string fmt16(size_t size, const char* fmt, ...)
{
    U16 f = widen(fmt);
    std::vector<KOV_UTF16> out(size + 1, 0x5555);
    va_list ap;
    va_start(ap, fmt);
    vsnprintfCountU16(out.data(), size, f.data(), ap);
    va_end(ap);
    return as_text(out.data());
}

TEST(U16Printf, RulesOfTheirOwn)
{
    TraceCapture quiet(0);
    EXPECT_EQ(fmt16(64, "%+o|% o|%.5o|%#.5o|%#o|%#.0o|%.0o", 8, 8, 8, 8, 0, 0, 0), u"+10| 10|10|00010|0|0|");
    EXPECT_EQ(fmt16(64, "%+u|%#x|%#x|%.0d|", 8u, 255u, 0u, 0), u"8|0xff|0||");
    // The zeros of a precision are marked as hexadecimal even for the value 0
    // (once "000", as C prints it).
    EXPECT_EQ(fmt16(64, "%#.3x|%#.3X|%#6.2x|%#.1x|%#.0x|", 0u, 0u, 0u, 0u, 0u), u"0x000|0X000|  0x00|0||");
    EXPECT_EQ(fmt16(64, "%p|%s|%.2s|%s|", nullptr, nullptr, u16(u"hello").data(), u16(u"").data()),
              u"(nil)|(null)|he||");
    EXPECT_EQ(fmt16(64, "%p", reinterpret_cast<void*>(0xBEEF)), u"beef");
    EXPECT_EQ(fmt16(64, "[%*d]", -5, 42), u"[42]");  // a negative width from the arguments: no fill
    EXPECT_EQ(fmt16(64, "%f|%+f", -0.0, -0.0), u"0.000000|+0.000000");
    EXPECT_EQ(fmt16(64, "%08.3f|%05f|%-05d|", 3.14159, INFINITY, 7), u"   3.142|  inf|7    |");
    EXPECT_EQ(fmt16(64, "%016a", 1.0), u"0x0001.000000p+0");
    EXPECT_EQ(fmt16(64, "%zu|%lu", 7, 1UL << 40), u"7|1099511627776");
    EXPECT_EQ(fmt16(64, "%c%c", 0x20AC, 0x10041), u"\u20acA");
    int at = -1;
    EXPECT_EQ(fmt16(64, "ab%ncd", &at), u"abcd");
    EXPECT_EQ(at, 2);
}

TEST(U16Printf, BoundedOutputAndErrors)
{
    KOV_UTF16 b[8];
    std::fill(b, b + 8, 0x5555);
    EXPECT_EQ(snprintfCountU16(b, 4, u16(u"abcdef").data()), 4);
    EXPECT_EQ(as_text(b), u"abc");
    EXPECT_EQ(b[4], 0x5555);
    EXPECT_EQ(snprintfCountU16(b, 2, u16(u"%3c").data(), 'z'), -1);  // two blanks, no room for z
    EXPECT_EQ(as_text(b), u" ");
    EXPECT_EQ(snprintfCountU16(nullptr, 0, u16(u"x").data()), 0);
    // No format is an error even where nothing could be stored (once 0).
    errno = 0;
    EXPECT_EQ(snprintfCountU16(nullptr, 0, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    const size_t one = 1;
    EXPECT_EQ(vvfprintfU16x(nullptr, nullptr, &one, u16(u"x").data(), nullptr, nullptr), -1);
    EXPECT_EQ(errno, EBADF);

    // The bounded rules: a cut, a failure, size 0.
    EXPECT_EQ(snprintfTruncU16(b, 4, u16(u"abcdef").data()), 4);
    EXPECT_EQ(snprintfU16(b, 4, u16(u"abcdef").data()), -1);
    EXPECT_EQ(as_text(b), u"abc");
    EXPECT_EQ(snprintfU16(b, 4, u16(u"abc").data()), 3);
    b[0] = 'q';
    EXPECT_EQ(snprintfTruncU16(b, 0, u16(u"abc").data()), 0);
    EXPECT_EQ(snprintfU16(b, 0, u16(u"abc").data()), -1);
    EXPECT_EQ(b[0], 'q');

    TraceCapture cap(U16_TRACE_MEDIUM);
    for (const char16_t* bad : {u"%++d", u"% +-#0d", u"50%", u"%k", u"%99999999999d"}) {
        traced().clear();
        EXPECT_EQ(snprintfTruncU16(b, 8, u16(bad).data(), 1), -1) << std::string(bad, bad + 3);
        EXPECT_EQ(snprintfU16(b, 8, u16(bad).data(), 1), -1);
        ASSERT_FALSE(traced().empty());
        EXPECT_NE(traced().back().find("[u16_OutCon.c line 120]"), std::string::npos);
        EXPECT_NE(traced().back().find("Error in format string at or near '"), std::string::npos);
    }
    EXPECT_EQ(snprintfU16(b, 8, u16(u"%--5d|").data(), 1), 6);  // a repeated minus is fine
    EXPECT_EQ(as_text(b), u"1    |");
}

TEST(U16Printf, HugeLongDoubleAndStreams)
{
    // Thousands of digits: formatted whole, never into a buffer too small.
    std::vector<KOV_UTF16> big(6000);
    const int32_t n = snprintfCountU16(big.data(), big.size(), u16(u"%.30Lf").data(), 1e4000L);
    char want[6000];
    EXPECT_EQ(n, snprintf(want, sizeof want, "%.30Lf", 1e4000L));
    EXPECT_EQ(as_text(big.data()), wide_text(want));

    char* out = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&out, &len);
    EXPECT_EQ(fprintfU16(f, u16(u"%s=%5.1f%c").data(), u16(u"\u00e9t\u00e9").data(), 2.25, 0x20AC), 10);
    fclose(f);
    EXPECT_EQ(std::string(out, len), "\xC3\xA9t\xC3\xA9=  2.2\xE2\x82\xAC");
    free(out);
}

}  // namespace

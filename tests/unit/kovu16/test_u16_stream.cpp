// UTF-8 string converters at the edges of their destinations, and the stream
// readers and writers on memory streams: lines, tokens, numbers, invalid input
// and short writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "i18n/kovu16/u16_stream.h"
#include "i18n/kovu16/u16_utf8.h"
#include "trace_capture.h"
#include "u16_test_util.h"

namespace {

// A read stream over a copy of text.
struct MemIn {
    explicit MemIn(const std::string& text)
        : data(text)
    {
        f = fmemopen(data.data(), data.size(), "r");
    }
    ~MemIn() { fclose(f); }
    std::string data;
    FILE* f;
};

TEST(U16Convert, EveryDestinationBoundsTheOutput)
{
    const U16 text = u16(u"a\u00e9\u20ac");  // 1 + 2 + 3 bytes
    char out[8];
    for (size_t size = 0; size <= 7; ++size) {
        std::memset(out, 'X', sizeof out);
        const size_t n = U16ToUtf8Str(out, text.data(), size);
        const size_t want = size >= 6 ? 6 : size >= 3 ? 3 : size >= 1 ? 1 : 0;
        ASSERT_EQ(n, want) << size;
        ASSERT_EQ(out[size], 'X') << size;  // nothing beyond the destination
        if (n < size) {
            ASSERT_EQ(out[n], '\0') << size;  // terminated when there was room
        }
    }
    EXPECT_EQ(U16ToUtf8Str(nullptr, text.data(), 0), 6u);

    errno = 0;
    EXPECT_EQ(U16nToUtf8n(out, 5, text.data(), U16_TO_TERMINATOR), 0u);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(U16nToUtf8n(out, 7, text.data(), U16_TO_TERMINATOR), 7u);
    EXPECT_EQ(U16nToUtf8(nullptr, text.data(), 1), -1);

    // Decoding stops at max units; a pair at the edge leaves its high half.
    KOV_UTF16 u[4] = {9, 9, 9, 9};
    EXPECT_EQ(Utf8ToU16Str(u, "ab\xF0\x9F\x98\x80", 3), 3);
    EXPECT_EQ(u[2], 0xD83D);
    EXPECT_EQ(u[3], 9);
    EXPECT_EQ(Utf8ToU16Str(u, "ab", 3), 2);
    EXPECT_EQ(u[2], 0);
    errno = 0;
    EXPECT_EQ(Utf8ToU16Str(u, "a\xC3(", 4), -1);
    EXPECT_EQ(errno, EILSEQ);

    // Counted decoding: no room, invalid without and with an error count.
    errno = 0;
    EXPECT_EQ(Utf8nToU16nRepl(u, 2, "abc", 3, nullptr, '?'), 0u);
    EXPECT_EQ(errno, ERANGE);
    errno = 0;
    u[1] = 9;
    EXPECT_EQ(Utf8nToU16nRepl(u, 4, "a\x80z", 3, nullptr, '?'), 0u);
    EXPECT_EQ(errno, EILSEQ);
    EXPECT_EQ(u[1], 0);
    size_t errors = 0;
    EXPECT_EQ(Utf8nToU16nRepl(u, 4, "\xE2\x82(", U16_TO_TERMINATOR, &errors, '?'), 4u);
    EXPECT_EQ(errors, 2u);  // the lead byte, then the orphan continuation byte
    EXPECT_EQ(as_text(u), u"?"
                          "?(");
}

TEST(U16Streams, LinesAndBlocks)
{
    TraceCapture cap(0);
    KOV_UTF16 buf[8];
    MemIn in("x\xF0\x9F\x98\x80yz\nnext");
    EXPECT_EQ(fgetsU16(buf, 1, in.f), buf);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(fgetsU16(buf, 3, in.f), buf);  // room for x and the high half only
    EXPECT_EQ(as_text(buf), u"x\xD83D");
    EXPECT_EQ(fgetsU16(buf, 8, in.f), buf);
    EXPECT_EQ(as_text(buf), u"yz\n");
    EXPECT_EQ(freadU16(buf, 2, 3, in.f), 2u);  // four units read, two whole items
    EXPECT_EQ(fgetsU16(buf, 8, in.f), nullptr);

    MemIn bad("ok\xC3(\n");
    TraceCapture loud(U16_TRACE_LOW);
    EXPECT_EQ(fgetsU16(buf, 8, bad.f), buf);
    EXPECT_EQ(as_text(buf), u"ok#(\n");
    EXPECT_TRUE(traced().empty());  // the last character read was valid
    MemIn bad2("ok\xC3");
    EXPECT_EQ(fgetsU16(buf, 8, bad2.f), buf);
    ASSERT_GE(traced().size(), 4u);
    EXPECT_NE(traced()[0].find("Invalid UTF-8 encountered by fgetsU16"), std::string::npos);
    EXPECT_EQ(traced()[2], "Characters previously read:");
}

// The line reader of standard input exists only with a size: an unbounded
// overload beside it would make this name ambiguous.
static_assert(std::is_same_v<decltype(&getsU16), KOV_UTF16* (*)(KOV_UTF16*, int)>);

TEST(U16Streams, TokenAndLineReadersWithReplacement)
{
    KOV_UTF16 buf[16];
    MemIn in("  one\xE2\x82 two\n\xFFthree\nlast");
    EXPECT_EQ(fgettokenU16(buf, 16, in.f, '?'), -2);
    EXPECT_EQ(as_text(buf), u"one??");  // the blank ending the bad sequence ends the token
    EXPECT_EQ(fgettokenU16(buf, 16, in.f, '?'), 3);
    EXPECT_EQ(as_text(buf), u"two");
    // The newline after two ended that token.
    EXPECT_EQ(fgetlineU16(buf, 16, in.f, '?'), -2);
    EXPECT_EQ(as_text(buf), u"?three");
    EXPECT_EQ(fgetlineU16(buf, 3, in.f, '?'), 2);
    EXPECT_EQ(as_text(buf), u"la");
    EXPECT_EQ(fgetlineU16(buf, 16, in.f, '?'), 2);
    EXPECT_EQ(fgetlineU16(buf, 16, in.f, '?'), -1);

    char b8[8];
    MemIn plain(" \tword  second line\nend");
    EXPECT_EQ(fgettokenR(b8, 8, plain.f), 4);
    EXPECT_STREQ(b8, "word");
    EXPECT_EQ(fgetlineR(b8, 8, plain.f), 7);
    EXPECT_STREQ(b8, " second");
    EXPECT_EQ(fgetlineR(b8, 8, plain.f), 5);
    EXPECT_STREQ(b8, " line");
    EXPECT_EQ(fgettokenR(b8, 8, plain.f), 3);
    EXPECT_EQ(fgettokenR(b8, 8, plain.f), -1);
}

TEST(U16Streams, NumberReaders)
{
    MemIn in(" 99999999999 -99999999999\n\t-42x 7 \xC2\xA0 8 \xE2\x82\xAC  abc");
    int32_t v = 0;
    errno = 0;
    EXPECT_EQ(fgetint32U16(in.f, &v), 1);
    EXPECT_EQ(v, INT32_MAX);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(fgetint32U16(in.f, &v), 1);
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_EQ(fgetint32U16(in.f, &v), 0);
    EXPECT_EQ(v, -42);
    // The character that keeps a number from starting stays in the stream, a
    // whole UTF-8 sequence included (it was consumed).
    EXPECT_EQ(fgetint32U16(in.f, &v), -2);
    EXPECT_EQ(v, 'x');
    EXPECT_EQ(fgetc(in.f), 'x');
    int64_t w = 0;
    EXPECT_EQ(fgetint64U16(in.f, &w), 0);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(fgetint64U16(in.f, &w), 0);  // a no-break space is white space in UTF-8
    EXPECT_EQ(w, 8);
    EXPECT_EQ(fgetint64U16(in.f, &w), -2);
    EXPECT_EQ(w, 0x20AC);
    EXPECT_EQ(fgetint64R(in.f, &w), -2);
    EXPECT_EQ(w, 0xE2);
    EXPECT_EQ(fgetcU16(in.f), 0x20AC);
    EXPECT_EQ(fgetint64R(in.f, &w), -2);
    EXPECT_EQ(w, 'a');
    EXPECT_EQ(fgetc(in.f), 'a');

    MemIn big("99999999999999999999 12");
    EXPECT_EQ(fgetint64R(big.f, &w), 1);
    EXPECT_EQ(w, INT64_MAX);
    EXPECT_EQ(fgetint32R(big.f, &v), 0);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(fgetint32R(big.f, &v), -1);
}

// A write stream that takes at most cap bytes in all and then refuses.
struct ShortSink {
    explicit ShortSink(size_t limit)
        : cap(limit)
    {
        cookie_io_functions_t io{};
        io.write = [](void* c, const char* p, size_t n) -> ssize_t {
            auto* self = static_cast<ShortSink*>(c);
            n = std::min(n, self->cap - self->got.size());
            self->got.append(p, n);
            return static_cast<ssize_t>(n);
        };
        f = fopencookie(this, "w", io);
        setvbuf(f, nullptr, _IONBF, 0);
    }
    ~ShortSink() { fclose(f); }
    size_t cap;
    std::string got;
    FILE* f;
};

// A short write once read past the caller's units (the index of the count of
// whole units grew with the count) and so miscounted the items: the units sit
// in an array of exactly their size, and the stream stops at every byte
// offset, across the encoder's block boundary.
TEST(U16Streams, WritersCountWholeItems)
{
    {
        const U16 text = u16(u"ab\u20ac\u20ac");  // 1 + 1 + 3 + 3 bytes
        ShortSink sink(7);
        size_t bytes = 0;
        // Seven bytes take a, b and one euro sign: three whole units, one item of two.
        EXPECT_EQ(fwriteU16(text.data(), 2, 2, sink.f, &bytes), 1u);
        EXPECT_EQ(bytes, 7u);
    }
    static const KOV_UTF16 kPattern[] = {'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 'b', 0x7FF, 0x800, 'c'};
    static const size_t kLength[] = {1, 2, 3, 3, 3, 1, 2, 3, 1};
    static const std::string kUtf8 = "a\xC3\xA9\xE2\x82\xAC\xED\xA0\xBD\xED\xB8\x80"
                                     "b\xDF\xBF\xE0\xA0\x80"
                                     "c";
    constexpr size_t kUnits = 612, kPeriod = sizeof kPattern / sizeof kPattern[0];
    std::unique_ptr<KOV_UTF16[]> units(new KOV_UTF16[kUnits]);
    std::string utf8;
    for (size_t i = 0; i < kUnits; ++i)
        units[i] = kPattern[i % kPeriod];
    for (size_t i = 0; i < kUnits / kPeriod; ++i)
        utf8 += kUtf8;
    for (size_t size = 1; size <= 3; ++size) {
        size_t whole = 0, end_of_whole = 0;  // units, and bytes, that fit whole in cap
        for (size_t cap = 0; cap <= utf8.size() + 1; ++cap) {
            while (whole < kUnits && end_of_whole + kLength[whole % kPeriod] <= cap)
                end_of_whole += kLength[whole++ % kPeriod];
            ShortSink sink(cap);
            size_t bytes = 0;
            const size_t items = fwriteU16(units.get(), size, kUnits / size, sink.f, &bytes);
            ASSERT_EQ(items, whole / size) << "size " << size << " cap " << cap;
            ASSERT_EQ(bytes, std::min(cap, utf8.size())) << "size " << size << " cap " << cap;
            ASSERT_EQ(sink.got, utf8.substr(0, bytes));
        }
    }
    size_t bytes = 1;
    const U16 text = u16(u"ab\u20ac\u20ac");
    EXPECT_EQ(fwriteU16(text.data(), 1, 0, stdout, &bytes), 0u);
    EXPECT_EQ(bytes, 0u);

    char* out = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&out, &len);
    EXPECT_EQ(fputsU16(text.data(), f), 8);
    EXPECT_EQ(fputcU16(0xE9, f), 0xE9);
    fclose(f);
    EXPECT_EQ(std::string(out, len), "ab\xE2\x82\xAC\xE2\x82\xAC\xC3\xA9");
    free(out);
}

}  // namespace

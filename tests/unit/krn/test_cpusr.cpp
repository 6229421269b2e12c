// The user-level wrappers (reports, the converter pair, explained
// conversions, the hex dump, Thai cells) and the conversions for EBCDIC
// conversation partners, against Python's cp037 and through round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <string>
#include <vector>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cpcpic.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpusr.h"
#include "tests/unit/krn/cp_oracle.h"
#include "tests/unit/krn/cpcache_fixture.h"

using cpcache_test::CacheTest;

namespace {

std::vector<std::string> g_lines;

int32_t Line(const char* text, int32_t length)
{
    g_lines.emplace_back(text, size_t(length));
    return int32_t(g_lines.size());
}

void Sink(const char* text, int32_t length, rscpeOutputFunc out)
{
    g_lines.emplace_back(text, size_t(length));
    if (out != nullptr)
        out(text, length);
}

std::vector<std::string> g_context;
void Context(const char* text, int32_t length)
{
    g_context.emplace_back(text, size_t(length));
}

bool Has(const std::string& part)
{
    for (const std::string& l : g_lines)
        if (l.find(part) != std::string::npos)
            return true;
    return false;
}

class Usr : public CacheTest {
protected:
    void SetUp() override
    {
        CacheTest::SetUp();
        ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
        g_lines.clear();
        g_context.clear();
    }
};

}  // namespace

TEST_F(Usr, HexDumpsLayTheBytesOutInSixteenColumnsAndNeverReadStrangeBuffers)
{
    const char* letters = "ABCDEFGHIJKLMNOPQRST";
    EXPECT_EQ(rscpHexDump(letters, 20, nullptr, nullptr, 0, 8, Line), 2);
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_EQ(g_lines[0], "00000000 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50 |ABCDEFGHIJKLMNOP|");
    EXPECT_EQ(g_lines[1], "00000010 51 52 53 54" + std::string(36, ' ') + " |QRST" + std::string(12, ' ') + "|");
    g_lines.clear();
    rscpHexDump("\x01x", 2, "pre ", "cont", 0x1234567890ull + 14, 16, Line);
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0], "pre 0000001234567890" + std::string(42, ' ') + " 01 78 |" + std::string(14, ' ') + ".x|");
    g_lines.clear();
    rscpHexDump(letters, 20, "a", "b", 5, 0, Line);
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_EQ(g_lines[0].substr(0, 17), "a" + std::string(15, ' ') + " ");
    EXPECT_EQ(g_lines[1].substr(0, 13), "b 4c 4d 4e 4f");
    g_lines.clear();
    rscpHexDump(letters, 0, "p", nullptr, 0, 8, Line);
    EXPECT_EQ(g_lines.back().rfind("p ? ?  addr=", 0), 0u);

    // The used bytes before the cursor (at most about the limit) and the
    // unused ones up to a 16-byte boundary of the whole buffer.
    std::string buffer(140, '\0');
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = char('0' + i % 64);
    const auto* b = reinterpret_cast<const uint8_t*>(buffer.data());
    g_lines.clear();
    rscpDumpInputBuffer(b, b + 40, b + 140, 32, 32, Line);
    ASSERT_EQ(g_lines.size(), 4u);
    EXPECT_EQ(g_lines[0].rfind("used  00000010 40 41", 0), 0u) << g_lines[0];
    EXPECT_EQ(g_lines[1].rfind("(40)  00000020", 0), 0u) << g_lines[1];
    EXPECT_EQ(g_lines[2].rfind("unused00000020" + std::string(24, ' ') + " 58", 0), 0u) << g_lines[2];
    EXPECT_EQ(g_lines[3].rfind("(100)00000030 60", 0), 0u) << g_lines[3];
    EXPECT_NE(g_lines[3].find("6f |"), std::string::npos);  // ends at offset 64
    g_lines.clear();
    rscpDumpInputBuffer(b, b, b + 140, 0, 0, Line);
    EXPECT_EQ(g_lines, std::vector<std::string>{"  nothing used."});
    // Pointers that make no sense are shown, not followed.
    for (auto [s, c, e] : {std::tuple{(const uint8_t*)nullptr, b, b + 4}, std::tuple{b, b + 5, b + 4},
                           std::tuple{b + 4, b + 4, b + 4}}) {
        g_lines.clear();
        rscpDumpInputBuffer(s, c, e, 32, 32, Line);
        ASSERT_EQ(g_lines.size(), 4u);
        EXPECT_EQ(g_lines[0], "? stange buffer");
    }

    // Thai display cells.
    EXPECT_EQ(rscpThaiCellLen(reinterpret_cast<const uint8_t*>("\xa1\xd4\xe8\x41")), 3);
    EXPECT_EQ(rscpThaiCellLen(reinterpret_cast<const uint8_t*>("\x41\xd4")), 1);
}

TEST_F(Usr, ExplainedConversionsSayWhatWentWrongAndShowTheInput)
{
    rscpCObj_t o;
    ASSERT_EQ(rscpCInitReport(&o, "1100", "1101", RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY, RSCPFILL_NEVER, '#', 0,
                              RSCPF1_NOT, RSCPCTRL_TRY, RSCPOWN_IGNORE, RSCPDROP_LIKE_MISS, "set-up: ", Sink, Context),
              0u);
    ASSERT_EQ(rscpCActivateReport(&o, "activate: ", Sink, Context), 0u);
    EXPECT_TRUE(g_lines.empty());

    std::string text(50, 'a');
    text[45] = '\xe9';
    uint8_t out[64];
    uint8_t* d = out;
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_EQ(rscpCConvertExplain(&o, &d, out + 64, &s, s + text.size(), "Names:", Line), 2048u);
    ASSERT_GE(g_lines.size(), 5u);
    EXPECT_EQ(g_lines[0], "Names:");
    EXPECT_EQ(g_lines[1], "RSCPENOCONV: Conversion error");
    EXPECT_TRUE(Has("character not convertable"));
    EXPECT_TRUE(Has("Input data:"));
    EXPECT_TRUE(Has("used  00000010"));
    EXPECT_TRUE(Has("(45)  00000020"));
    EXPECT_TRUE(Has("unused00000020"));

    g_lines.clear();
    d = out;
    s = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_EQ(rscpCConvertExplain(&o, &d, out + 10, &s, s + 40, "Short:", Line), 32u);
    EXPECT_TRUE(Has("RSCPETOOLONG: The output buffer was too short."));
    EXPECT_TRUE(Has("  Size of output buffer was       10 bytes"));
    EXPECT_TRUE(Has("  Size of input buffer was        40 bytes"));
    EXPECT_TRUE(Has("  But only 10 bytes could be consumed"));

    // The neutral twins; an odd 16-bit source is neither of the above.
    rscpCObj_t wide;
    ASSERT_EQ(rscpCInit(&wide, "4103", "1100", RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY, RSCPFILL_NEVER), 0u);
    ASSERT_EQ(rscpCActivate(&wide), 0u);
    g_lines.clear();
    d = out;
    s = reinterpret_cast<const uint8_t*>("\0a\0");
    EXPECT_EQ(rscpCConvertNeutralExplain(&wide, &d, out + 64, &s, s + 3, "Odd:", Line), 16u);
    EXPECT_TRUE(Has("Unicode and odd bytes"));
    EXPECT_TRUE(Has("Input data:"));
    g_lines.clear();
    s = reinterpret_cast<const uint8_t*>("\0a\0b");
    EXPECT_EQ(rscpCConvertNeutralAExplain(&wide, &d, out + 64, &s, s + 4, "Fine:", Line), 0u);
    EXPECT_TRUE(g_lines.empty());
    EXPECT_EQ(std::memcmp(out, "ab", 2), 0);

    // Failing set-ups report the text, the failing call and the error box.
    g_lines.clear();
    EXPECT_EQ(rscpCInitReport(nullptr, "1100", "1101", 0, 0, 0, '#', 0, 1, 1, 0, 1, "set-up: ", Sink, Context), 16u);
    ASSERT_GE(g_lines.size(), 3u);
    EXPECT_EQ(g_lines[0], "set-up: ");
    EXPECT_EQ(g_lines[1], "rscpCInit.");
    EXPECT_TRUE(Has("RSCP - Error"));
    EXPECT_EQ(g_context.size(), g_lines.size());  // the context reaches the writer
    g_lines.clear();
    rscpCObj_t unknown;
    rscpCInit(&unknown, "9999", "1100", 0, 0, 0);
    EXPECT_EQ(rscpCActivateReport(&unknown, "activate: ", Sink, nullptr), 2048u);
    EXPECT_EQ(g_lines[1], "rscpCActivate.");
    EXPECT_TRUE(Has("9999"));
}

TEST_F(Usr, ConverterPairsSetUpOnceDumpAndRelease)
{
    rscpCPair pair{};
    EXPECT_EQ(rscpCPairInitActivate(&pair, 2), 16u);
    char text[80];
    rscpe_get_last_text(rscpe_get_error_record(), text, sizeof text);
    EXPECT_STREQ(text, "rscpCPairInitActivate: unknown par.val.");
    const rscpErrRecord* record = rscpe_get_error_record();
    ASSERT_GT(record->count, 0);
    EXPECT_EQ(record->entries[record->count < 5 ? record->count - 1 : 4].line, 864);
    ASSERT_EQ(rscpCPairInitActivate(&pair, 1), 0u);
    EXPECT_EQ(pair.private1, 1);
    EXPECT_EQ(std::string(pair.fromUtf16.incode, 4) + std::string(pair.fromUtf16.outcode, 4), "41031100");
    EXPECT_EQ(std::string(pair.toUtf16.incode, 4) + std::string(pair.toUtf16.outcode, 4), "11004103");
    // Both converters work: a round trip of every Latin-1 character.
    std::string latin(256, '\0');
    for (int i = 0; i < 256; ++i)
        latin[size_t(i)] = char(i);
    std::vector<uint8_t> wide(512), back(256);
    uint8_t* d = wide.data();
    const auto* s = reinterpret_cast<const uint8_t*>(latin.data());
    ASSERT_EQ(rscpCConvert(&pair.toUtf16, &d, d + 512, &s, s + 256), 0u);
    uint8_t* b = back.data();
    const uint8_t* w = wide.data();
    ASSERT_EQ(rscpCConvert(&pair.fromUtf16, &b, b + 256, &w, w + 512), 0u);
    EXPECT_EQ(std::memcmp(back.data(), latin.data(), 256), 0);
    // A pair set up is left alone, whatever the mode.
    pair.fromUtf16.noof_subst = 7;
    EXPECT_EQ(rscpCPairInitActivate(&pair, 2), 0u);
    EXPECT_EQ(pair.fromUtf16.noof_subst, 7u);

    // The dump: both converters' lines behind "| ", the writer's last result.
    const int32_t last = rscpCPairDump(&pair, Line, 1);
    EXPECT_EQ(last, int32_t(g_lines.size()));
    EXPECT_TRUE(Has("| |"));

    EXPECT_EQ(rscpCPairRelease(&pair), 0u);
    EXPECT_EQ(pair.private1, 0);
    EXPECT_EQ(pair.fromUtf16.method, RSCPMETH_DEACTIVATED);
    EXPECT_EQ(pair.toUtf16.method, RSCPMETH_DEACTIVATED);
}

TEST_F(Usr, CpicDataConvertsBetweenEbcdicTheLocalPageAndUtf16LikePython)
{
    // Every byte of the partner's code page (cp037) as Latin-1 and as UTF-16.
    const std::string python = cporacle::RunPython("import sys\nt = bytes(range(256)).decode('cp037')\n"
                                                   "l, w = t.encode('latin_1'), t.encode('utf-16-le')\n"
                                                   "sys.stdout.buffer.write(b'%d\\n' % len(l) + l + w)\n");
    const size_t nl = python.find('\n');
    ASSERT_NE(nl, std::string::npos);
    const std::string latin = python.substr(nl + 1, 256), utf16 = python.substr(nl + 1 + 256);
    ASSERT_EQ(utf16.size(), 512u);
    std::string ebcdic(256, '\0');
    for (int i = 0; i < 256; ++i)
        ebcdic[size_t(i)] = char(i);

    // The single-byte step through the filter's table, both ways, in pieces.
    std::vector<uint8_t> out(256), again(256);
    const auto* s = reinterpret_cast<const uint8_t*>(ebcdic.data());
    uint8_t* d = out.data();
    EXPECT_EQ(rscpCpicFromEbcdic(&d, d + 100, &s, s + 256, "1100"), 32u);
    EXPECT_EQ(d - out.data(), 100);
    EXPECT_EQ(rscpCpicFromEbcdic(&d, out.data() + 256, &s, s + 156, "1100"), 0u);
    EXPECT_EQ(std::memcmp(out.data(), latin.data(), 256), 0);
    s = out.data();
    d = again.data();
    EXPECT_EQ(rscpCpicToEbcdic(&d, d + 256, &s, s + 256, "1100"), 0u);
    EXPECT_EQ(std::memcmp(again.data(), ebcdic.data(), 256), 0);
    // The same code page is a copy; one the filter does not know is copied
    // with an error.
    s = reinterpret_cast<const uint8_t*>(ebcdic.data());
    d = out.data();
    EXPECT_EQ(rscpCpicFromEbcdic(&d, d + 256, &s, s + 256, "0100"), 0u);
    EXPECT_EQ(std::memcmp(out.data(), ebcdic.data(), 256), 0);
    s = reinterpret_cast<const uint8_t*>(ebcdic.data());
    d = out.data();
    EXPECT_EQ(rscpCpicToEbcdic(&d, d + 256, &s, s + 256, "9999"), 1u);
    EXPECT_EQ(std::memcmp(out.data(), ebcdic.data(), 256), 0);
    char arg1[64], arg2[8];
    rscpe_get_last_args(rscpe_get_error_record(), arg1, sizeof arg1, arg2, sizeof arg2);
    EXPECT_STREQ(arg1, "9999&0100&F1&F1&");

    // Through UTF-16: 1,024 characters a call at most.
    std::string big;
    while (big.size() < 3000)
        big += ebcdic;
    big.resize(3000);
    std::vector<uint16_t> units(2048, 0xEEEE);
    s = reinterpret_cast<const uint8_t*>(big.data());
    uint16_t* u = units.data();
    EXPECT_EQ(rscpCpicEbcdicToUc(&u, u + 2048, &s, s + 3000, "1100"), 32u);
    EXPECT_EQ(u - units.data(), 1024);
    EXPECT_EQ(s - reinterpret_cast<const uint8_t*>(big.data()), 1024);
    EXPECT_EQ(std::memcmp(units.data(), utf16.data(), 512), 0);
    EXPECT_EQ(units[1024], 0xEEEE);
    // ... and back, in the pieces a small destination allows.
    std::vector<uint8_t> round(1024);
    const uint16_t* w = units.data();
    d = round.data();
    while (w < units.data() + 1024) {
        uint8_t* limit = std::min(d + 100, round.data() + 1024);
        const uint32_t rc = rscpCpicUcToEbcdic(&d, limit, &w, units.data() + 1024, "1100");
        ASSERT_TRUE(rc == 0 || rc == 32) << rc;
    }
    EXPECT_EQ(std::memcmp(round.data(), big.data(), 1024), 0);
    // A local code page without a converter: 7-bit characters pass, the rest
    // becomes '#'.
    const uint16_t mixed[] = {'A', 0x20AC, 'b'};
    w = mixed;
    d = out.data();
    EXPECT_EQ(rscpCpicUcToEbcdic(&d, d + 8, &w, mixed + 3, "9999"), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), size_t(d - out.data())), "A#b");

    // Plain copies report what they copied and a source left over.
    uint8_t copy[10];
    uint64_t in = 0, outUsed = 0;
    EXPECT_EQ(rscpCpicCopyA(copy, 10, reinterpret_cast<const uint8_t*>("abcdefghijkl"), 12, &in, &outUsed), 32u);
    EXPECT_EQ(in, 10u);
    EXPECT_EQ(outUsed, 10u);
    EXPECT_EQ(std::memcmp(copy, "abcdefghij", 10), 0);
    rscpe_get_last_args(rscpe_get_error_record(), arg1, sizeof arg1, arg2, sizeof arg2);
    EXPECT_STREQ(arg1, "i-len&12&o-len&10&&");
    EXPECT_EQ(rscpCpicCopyB(copy, 10, reinterpret_cast<const uint8_t*>("xyz"), 3, &in, &outUsed), 0u);
    EXPECT_EQ(in, 3u);
    EXPECT_EQ(rscpCpicCopyB(nullptr, 10, nullptr, 3, &in, &outUsed), 32u);
    EXPECT_EQ(in, 0u);
}

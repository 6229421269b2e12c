// The compiled-in code page store: its structure, its accessors, its
// single-byte pages against glibc's iconv, and the locale-table dump reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "krn/rscp/cpstore.h"
#include "nls/nlsui.h"
#include "tests/unit/scratch_dir.h"

namespace {

std::string Cp(const char* row)
{
    return std::string(row, 4);
}
std::string SegId(const char* p)
{
    return std::string(p, 5);
}

struct Pair {
    uint32_t ch;
    std::string code;
};

// Every mapping pair that a page's build reaches, in loader order: build rows
// by order number, nested builds depth first; rule segments are noted.
struct PageData {
    std::vector<Pair> pairs;
    bool hasRule = false;
    bool multiByte = false;
};

void Collect(const rscpSegDirRow* d, PageData* out, int depth)
{
    ASSERT_NE(d, nullptr);
    ASSERT_LT(depth, 10) << "build nesting too deep at " << SegId(d->id);
    switch (d->kind & 3u) {
    case RSCP_SEG_MAPPING: {
        const auto* m = static_cast<const rscpMapSeg*>(d->desc);
        for (uint32_t i = 0; i < m->n1; ++i)
            out->pairs.push_back({m->e1[i] & 0xFFFFFFu, std::string(1, static_cast<char>(m->e1[i] >> 24))});
        for (uint32_t i = 0; i < m->n2; ++i) {
            const char code[2] = {static_cast<char>(m->e2[2 * i] >> 24), static_cast<char>(m->e2[2 * i + 1])};
            out->pairs.push_back({m->e2[2 * i] & 0xFFFFFFu, std::string(code, 2)});
        }
        for (uint32_t i = 0; i < m->n34; ++i) {
            const uint32_t len = (m->e34[2 * i] >> 24) & 31u;
            ASSERT_TRUE(len == 3 || len == 4) << SegId(d->id);
            std::string code;
            for (uint32_t k = 0; k < len; ++k)
                code += static_cast<char>(m->e34[2 * i + 1] >> (8 * k));
            out->pairs.push_back({m->e34[2 * i] & 0xFFFFFFu, code});
        }
        out->multiByte |= m->n2 + m->n34 + m->nlong > 0;
        break;
    }
    case RSCP_SEG_RULE:
        out->hasRule = true;
        break;
    case RSCP_SEG_BUILD: {
        const auto* rows = static_cast<const rscpBuildRow*>(d->desc);
        unsigned lastOrder = 0;
        int n = 0;
        for (; rows[n].id[0] != ' ' && rows[n].id[0] != '\0'; ++n) {
            ASSERT_LT(n, RSCP_BUILD_MAXROWS) << SegId(d->id);
            ASSERT_GT(rscpBuildOrder(&rows[n]), lastOrder) << "stored out of order in " << SegId(d->id);
            lastOrder = rscpBuildOrder(&rows[n]);
            const rscpSegDirRow* inc = rscplsd__lookup_segment_dir(rows[n].id);
            ASSERT_NE(inc, nullptr) << SegId(rows[n].id) << " included by " << SegId(d->id);
            Collect(inc, out, depth + 1);
        }
        break;
    }
    default:
        FAIL() << "illegal kind in " << SegId(d->id);
    }
}

PageData PageOf(const char* cp)
{
    PageData data;
    const char* row = rscplt0__lookup_tcp00(cp);
    EXPECT_NE(row, nullptr) << cp;
    if (row != nullptr)
        Collect(rscplsd__lookup_segment_dir(row + 92), &data, 0);
    return data;
}

uint32_t MapRowNumber(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}
uint32_t MapRowChar(const uint8_t* p)
{
    return static_cast<uint32_t>(p[2]) << 16 | p[3] << 8 | p[4];
}

// One iconv conversion of a whole buffer; false when iconv refuses it.
bool Iconv(iconv_t cd, const std::string& in, std::string* out)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char buf[16];
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = buf;
    std::size_t dstLeft = sizeof buf;
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1))
        return false;
    out->assign(buf, dst);
    return srcLeft == 0;
}

std::string Utf32(uint32_t ch)
{
    const char b[4] = {static_cast<char>(ch), static_cast<char>(ch >> 8), static_cast<char>(ch >> 16),
                       static_cast<char>(ch >> 24)};
    return std::string(b, 4);
}

}  // namespace

TEST(CpStore, CatalogueAndDirectoryAreSortedAndConsistent)
{
    EXPECT_EQ(rscpF5Head.buildDate, 20120905);
    EXPECT_EQ(rscpF5Head.fieldCount, 24u);
    std::string last;
    for (uint32_t i = 0; i < rscpF5Tcp00Count; ++i) {
        const char* row = rscpF5Tcp00 + i * RSCP_TCP00_ROWLEN;
        const std::string cp = Cp(row);
        EXPECT_GT(cp, last) << "catalogue not ascending at " << cp;
        last = cp;
        for (int k = 0; k < RSCP_TCP00_ROWLEN; ++k)
            ASSERT_TRUE(row[k] >= 0x20 && row[k] < 0x7F) << cp << " byte " << k;
        for (int k = 0; k < 4; ++k)
            EXPECT_TRUE(row[k] >= '0' && row[k] <= '9') << cp;
        // The lookup finds exactly the rows whose top segment exists.
        const bool blank = SegId(row + 92) == "     ";
        EXPECT_EQ(rscplt0__lookup_tcp00(row), blank ? nullptr : row) << cp;
        if (!blank) {
            EXPECT_EQ(SegId(row + 92), cp + "T");
        }
    }
    const char* end = rscpF5Tcp00 + rscpF5Tcp00Count * RSCP_TCP00_ROWLEN;
    EXPECT_EQ(std::string(end, RSCP_TCP00_ROWLEN), std::string(RSCP_TCP00_ROWLEN, ' '));
    // Code pages before, between and after the rows are not found.
    for (const char* cp : {"0000", "0119", "1099", "4106", "9999", "    "})
        EXPECT_EQ(rscplt0__lookup_tcp00(cp), nullptr) << cp;
    EXPECT_EQ(rscplt0__lookup_tcp00(nullptr), nullptr);

    last.clear();
    int kinds[4] = {};
    for (uint32_t i = 0; i < rscpF5SegDirCount; ++i) {
        const rscpSegDirRow& d = rscpF5SegDir[i];
        const std::string id = SegId(d.id);
        EXPECT_GT(id, last) << "directory not sorted at " << id;
        last = id;
        EXPECT_NE(d.desc, nullptr) << id;
        EXPECT_EQ(d.zero, 0);
        ++kinds[d.kind & 3u];
        EXPECT_EQ(rscplsd__lookup_segment_dir(d.id), &d) << id;
        const char* info = rscpgsd__get_segment_info(d.id);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(std::string(info, 6), id + " MRS"[d.kind & 3u]);
        EXPECT_EQ(std::string(info + 6, RSCP_SEGINFO_LEN - 6), std::string(RSCP_SEGINFO_LEN - 6, ' '));
        if ((d.kind & 3u) == RSCP_SEG_MAPPING) {
            const auto* m = static_cast<const rscpMapSeg*>(d.desc);
            EXPECT_EQ(m->n1 > 0, m->e1 != nullptr) << id;
            EXPECT_EQ(m->n2 > 0, m->e2 != nullptr) << id;
            EXPECT_EQ(m->n34 > 0, m->e34 != nullptr) << id;
            EXPECT_EQ(m->nlong > 0, m->elong != nullptr) << id;
        }
    }
    EXPECT_EQ(kinds[0], 0);
    EXPECT_GT(kinds[RSCP_SEG_MAPPING] * kinds[RSCP_SEG_RULE] * kinds[RSCP_SEG_BUILD], 0);
    EXPECT_EQ(rscpF5SegDir[rscpF5SegDirCount].id[0], ' ');
    EXPECT_EQ(rscplsd__lookup_segment_dir("ZZZZZ"), nullptr);
    EXPECT_EQ(rscpgsd__get_segment_info("1100 "), nullptr);

    // Every catalogued page with segments resolves without dangling ids.
    for (uint32_t i = 0; i < rscpF5Tcp00Count; ++i) {
        const char* row = rscpF5Tcp00 + i * RSCP_TCP00_ROWLEN;
        if (row[92] != ' ') {
            const PageData data = PageOf(row);
            EXPECT_FALSE(data.pairs.empty() && !data.hasRule) << Cp(row);
        }
    }
}

TEST(CpStore, WalksSeeEveryRowAndTheFirstTwice)
{
    std::vector<std::string> codes;
    ASSERT_NE(rscpft0__first_tcp00_code(), nullptr);
    codes.push_back(rscpft0__first_tcp00_code());
    for (const char* c; (c = rscpnt0__next_tcp00_code()) != nullptr;)
        codes.push_back(c);
    ASSERT_EQ(codes.size(), rscpF5Tcp00Count + 1);
    EXPECT_EQ(codes[0], codes[1]);
    EXPECT_EQ(codes.back(), Cp(rscpF5Tcp00 + (rscpF5Tcp00Count - 1) * RSCP_TCP00_ROWLEN));
    EXPECT_EQ(rscpnt0__next_tcp00_code(), nullptr);  // stays at the end

    std::size_t segs = 0;
    ASSERT_NE(rscpfsd__first_segment(), nullptr);
    while (rscpnsd__next_segment() != nullptr)
        ++segs;
    EXPECT_EQ(segs, rscpF5SegDirCount);
}

TEST(CpStore, WidenedRowAndCharacterMapTextRows)
{
    const char* row = rscplt0__lookup_tcp00("1100");
    ASSERT_NE(row, nullptr);
    const char* wide = rscpgt0__get_tcp00_row("1100");
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::string(wide, 86), std::string(row, 86));
    EXPECT_EQ(std::string(wide + 86, 16), std::string(16, '0'));
    EXPECT_EQ(std::string(wide + 102, 6), std::string(row + 86, 6));
    EXPECT_EQ(std::string(wide + 108, 5), "1100T");
    EXPECT_EQ(rscpgt0__get_tcp00_row("6200"), nullptr);  // catalogued, no segments

    // The map ascends; 1 is the first own character, 35 is "#", 2404 is
    // U+0000; the highest number stands behind the zero row.
    const uint8_t* cur = rscpF5Tcp01;
    char text[RSCP_TCP01_TEXTLEN];
    uint32_t lastNo = 0, rows = 0;
    std::map<uint32_t, uint32_t> map;
    std::map<uint32_t, int> seen;
    while (rscpnt1__next_tcp01_row(text, &cur) == 1) {
        const uint8_t* p = cur - RSCP_TCP01_ROWLEN;
        const uint32_t no = MapRowNumber(p), ch = MapRowChar(p);
        EXPECT_GT(no, lastNo);
        lastNo = no;
        EXPECT_EQ(++seen[ch], 1) << "character " << std::hex << ch << " numbered twice";
        map[no] = ch;
        char expect[64];
        std::snprintf(expect, sizeof expect, "%05u%30s%06X", no, "", ch);
        EXPECT_EQ(std::string(text, RSCP_TCP01_TEXTLEN), expect);
        ++rows;
    }
    EXPECT_EQ(rows, rscpF5Tcp01Count);
    EXPECT_EQ(std::string(text, RSCP_TCP01_TEXTLEN), std::string(RSCP_TCP01_TEXTLEN, ' '));
    EXPECT_EQ(map[1], 0x110000u);
    EXPECT_EQ(map[35], 0x23u);
    EXPECT_EQ(map.count(2404), 1u);
    EXPECT_EQ(map[2404], 0u);
    EXPECT_EQ(rscpF5Tcp01Max(), 0xFEFEu);
    char first[RSCP_TCP01_TEXTLEN];
    const uint8_t* c0 = rscpF5Tcp01;
    ASSERT_EQ(rscpnt1__next_tcp01_row(first, &c0), 1);
    EXPECT_EQ(std::string(first, 5), "00001");
    EXPECT_EQ(std::string(first + 35, 6), "110000");
}

TEST(CpStore, RuleWordLengthsAreClampedToTwenty)
{
    const rscpSegDirRow* d = rscplsd__lookup_segment_dir("NJ1  ");
    ASSERT_NE(d, nullptr);
    const auto* nj1 = static_cast<const rscpRuleSeg*>(d->desc);
    EXPECT_EQ(rscpRuleType(nj1), 2u);
    EXPECT_EQ(std::string(nj1->word1, rscpRuleLen1(nj1)), "SJ1,unsj,");
    EXPECT_EQ(std::string(nj1->word2, rscpRuleLen2(nj1)), "1B2442,1B2842");
    rscpRuleSeg longer = {};
    const uint32_t head = 68u | 31u << 7 | 25u << 12;
    longer.head[0] = static_cast<uint8_t>(head);
    longer.head[1] = static_cast<uint8_t>(head >> 8);
    longer.head[2] = static_cast<uint8_t>(head >> 16);
    EXPECT_EQ(rscpRuleType(&longer), 68u);
    EXPECT_EQ(rscpRuleLen1(&longer), 20u);
    EXPECT_EQ(rscpRuleLen2(&longer), 20u);
}

// Every single-byte page of the store, in both directions, against glibc.
TEST(CpStore, SingleBytePagesAgreeWithIconv)
{
    const std::map<std::string, const char*> iconvName = {
        {"0120", "IBM500"},     {"1100", "ISO-8859-1"}, {"1101", "ANSI_X3.4-1968"}, {"1160", "CP1252"},
        {"1401", "ISO-8859-2"}, {"1500", "ISO-8859-5"}, {"1610", "ISO-8859-9"},     {"1700", "ISO-8859-7"},
        {"1800", "ISO-8859-8"}, {"1103", "IBM850"},     {"1140", "ISO-8859-1"},     {"1164", "ISO-8859-15"},
        {"1180", "ISO-8859-1"}, {"1403", "IBM852"},     {"1404", "CP1250"},         {"1503", "IBM866"},
        {"1504", "CP1251"},     {"1509", "KOI8-U"},     {"1510", "KOI8-R"},         {"1614", "CP1254"},
        {"1704", "CP1253"},     {"1804", nullptr},      {"1900", "ISO-8859-4"},     {"1904", "CP1257"},
        {"8600", "TIS-620"},    {"8604", "CP874"},      {"8700", "ISO-8859-6"},     {"8704", "CP1256"},
        {"8805", nullptr},
    };
    int pages = 0;
    for (uint32_t i = 0; i < rscpF5Tcp00Count; ++i) {
        const char* row = rscpF5Tcp00 + i * RSCP_TCP00_ROWLEN;
        if (row[92] == ' ')
            continue;
        const PageData data = PageOf(row);
        if (data.hasRule || data.multiByte)
            continue;
        const std::string cp = Cp(row);
        ++pages;
        ASSERT_EQ(iconvName.count(cp), 1u) << "single-byte page " << cp << " has no iconv oracle";
        // iconv composes letters with their points and marks in these two;
        // the engine's sweep checks them against Python's tables.
        if (iconvName.at(cp) == nullptr)
            continue;
        std::map<unsigned char, uint32_t> in;   // first pair of a code wins
        std::map<uint32_t, unsigned char> out;  // first pair of a character wins
        for (const Pair& p : data.pairs) {
            in.emplace(static_cast<unsigned char>(p.code[0]), p.ch);
            out.emplace(p.ch, static_cast<unsigned char>(p.code[0]));
        }
        iconv_t dec = iconv_open("UTF-32LE", iconvName.at(cp));
        iconv_t enc = iconv_open(iconvName.at(cp), "UTF-32LE");
        ASSERT_NE(dec, reinterpret_cast<iconv_t>(-1)) << cp;
        ASSERT_NE(enc, reinterpret_cast<iconv_t>(-1)) << cp;
        for (int b = 0; b < 256; ++b) {
            std::string got;
            const bool ok = Iconv(dec, std::string(1, static_cast<char>(b)), &got);
            if (cp == "8600" && b >= 0x80 && b < 0xA0)
                continue;  // C1 controls: Python's table has them, iconv's not
            const auto it = in.find(static_cast<unsigned char>(b));
            if (it == in.end()) {
                EXPECT_FALSE(ok) << cp << " byte " << b << ": iconv decodes what the store lacks";
            } else {
                ASSERT_TRUE(ok && got.size() == 4) << cp << " byte " << b;
                EXPECT_EQ(got, Utf32(it->second)) << cp << " byte " << b;
            }
        }
        for (uint32_t ch = 0; ch < 0x10000; ++ch) {
            if (ch >= 0xD800 && ch <= 0xDFFF)
                continue;
            std::string got;
            const bool ok = Iconv(enc, Utf32(ch), &got);
            if (cp == "8600" && ch >= 0x80 && ch < 0xA0)  // the C1 controls, as above
                continue;
            const auto it = out.find(ch);
            if (it == out.end()) {
                EXPECT_FALSE(ok) << cp << " U+" << std::hex << ch << ": iconv encodes what the store lacks";
            } else {
                ASSERT_TRUE(ok) << cp << " U+" << std::hex << ch;
                EXPECT_EQ(got, std::string(1, static_cast<char>(it->second))) << cp << " U+" << std::hex << ch;
            }
        }
        iconv_close(dec);
        iconv_close(enc);
    }
    EXPECT_EQ(pages, static_cast<int>(iconvName.size()));
}

// The EBCDIC page and the string helpers' code page 500 tables agree on every
// graphic character (the helpers fold controls and the soft hyphen to blanks).
TEST(CpStore, EbcdicPageAgreesWithTheStringHelpers)
{
    const PageData data = PageOf("0120");
    int graphics = 0;
    for (const Pair& p : data.pairs) {
        if (p.ch < 0x20 || (p.ch >= 0x7F && p.ch <= 0x9F) || p.ch == 0xAD)
            continue;
        ASSERT_LT(p.ch, 0x100u);
        const auto code = static_cast<unsigned char>(p.code[0]);
        EXPECT_EQ(nlsui_e2l1_char(code), p.ch) << std::hex << int(code);
        EXPECT_EQ(nlsui_l12e_char(static_cast<unsigned char>(p.ch)), code) << std::hex << p.ch;
        ++graphics;
    }
    EXPECT_EQ(graphics, 95 + 95);
    const char* space = nullptr;
    for (const Pair& p : data.pairs)
        if (p.ch == 0x20)
            space = p.code.c_str();
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(static_cast<unsigned char>(space[0]), 0x40);
}

// ---- locale-table dump reader ---------------------------------------------

namespace {

std::string WriteFile(const std::string& name, const std::string& text)
{
    std::filesystem::path dir = KovTestTmp();
    std::filesystem::create_directories(dir);
    const std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

struct Rec {
    std::string lang, country, mod, cp, locale;
};

// Reads records until the end; returns them and the end result.
std::vector<Rec> ReadAll(int* endResult)
{
    std::vector<Rec> recs;
    const char *l, *c, *m, *cp, *loc;
    int rc;
    while ((rc = rscprtr__read_tcp0c_record(&l, &c, &m, &cp, &loc)) == 0)
        recs.push_back({l, c, m, cp, loc});
    *endResult = rc;
    return recs;
}

void PlatformName(char*, char*, int32_t, char* platform, int32_t size, int32_t, int32_t, int32_t, int32_t)
{
    std::snprintf(platform, static_cast<std::size_t>(size), "%s", "LINUX");
}

}  // namespace

TEST(CpStore, BlankPaddedCompare)
{
    EXPECT_EQ(rscpBlankPaddedCmp("EN", "EN   "), 0);
    EXPECT_EQ(rscpBlankPaddedCmp("EN   ", "EN"), 0);
    EXPECT_EQ(rscpBlankPaddedCmp("EN", "EM"), 1);
    EXPECT_EQ(rscpBlankPaddedCmp("EM", "EN  "), -1);
    EXPECT_EQ(rscpBlankPaddedCmp("EN", "EN x"), -1);
    const std::string pad26 = "EN" + std::string(26, ' '), pad30 = "EN" + std::string(30, ' ');
    EXPECT_EQ(rscpBlankPaddedCmp("EN", pad26.c_str()), 0);
    EXPECT_NE(rscpBlankPaddedCmp("EN", pad30.c_str()), 0);
    EXPECT_EQ(rscpBlankPaddedCmp("", ""), 0);
}

TEST(CpStore, Tcp0cDumpFiltersRecordsAndReportsFormatErrors)
{
    const std::string dump = WriteFile("tcp0c.dat",
                                       ";TCP0C\n"
                                       "# comment\n"
                                       "LINUX;DE;DE ;;1100;x;de_DE.ISO-8859-1\n"  // empty modifier: six fields
                                       "LINUX;E;US;m;1100;x;en_US\n"
                                       "LINUX;Ja;JP;m;8000;x;ja_JP.SJIS\n"
                                       "OTHER;E;GB;m;1100;x;en_GB\n"
                                       "LINUX;E;GB;m;1100;x;en_GB;extra\n");
    const std::string err = WriteFile("err.txt", "");
    std::fflush(stderr);
    const int savedErr = dup(2);
    const int errFd = open(err.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(errFd, 0);
    dup2(errFd, 2);
    close(errFd);
    ASSERT_EQ(rscpotd__open_tcp0c_dump(dump.c_str(), ".", "DE", nullptr, nullptr, PlatformName), 0);
    int end = 0;
    const std::vector<Rec> recs = ReadAll(&end);
    ASSERT_EQ(recs.size(), 3u);
    // The short line's fields shift one place: its modifier field holds the
    // code page and it has no locale.
    EXPECT_EQ(recs[0].lang, "DE");
    EXPECT_EQ(recs[0].mod, "1100");
    EXPECT_EQ(recs[0].locale, "");
    EXPECT_EQ(recs[1].locale, "en_US");
    EXPECT_EQ(recs[2].country, "GB");
    EXPECT_EQ(end, 3);
    EXPECT_EQ(rscprtr__read_tcp0c_record(nullptr, nullptr, nullptr, nullptr, nullptr), -1);

    ASSERT_EQ(rscpotd__open_tcp0c_dump(dump.c_str(), "LINUX", "J", "JP ", "m", nullptr), 0);
    std::vector<Rec> jp = ReadAll(&end);
    ASSERT_EQ(jp.size(), 1u);
    EXPECT_EQ(jp[0].cp, "8000");
    ASSERT_EQ(rscpotd__open_tcp0c_dump(dump.c_str(), "NONE", nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(ReadAll(&end).empty());
    EXPECT_EQ(end, -1);

    // Over-long filters, missing, empty and headerless files.
    EXPECT_EQ(rscpotd__open_tcp0c_dump(dump.c_str(), nullptr, nullptr, "DEUX", nullptr, nullptr), 3);
    EXPECT_EQ(rscpotd__open_tcp0c_dump(dump.c_str(), std::string(17, 'P').c_str(), nullptr, nullptr, nullptr, nullptr),
              3);
    EXPECT_EQ(rscpotd__open_tcp0c_dump(WriteFile("none.dat", "x").append("-missing").c_str(), nullptr, nullptr, nullptr,
                                       nullptr, nullptr),
              1);
    EXPECT_EQ(rscpotd__open_tcp0c_dump(WriteFile("empty.dat", "").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr),
              2);
    EXPECT_EQ(rscpotd__open_tcp0c_dump(WriteFile("bad.dat", ";TCP0CX\nLINUX;E;US;m;1100;x;en\n").c_str(), nullptr,
                                       nullptr, nullptr, nullptr, nullptr),
              2);
    EXPECT_EQ(rscprtr__read_tcp0c_record(nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    // A header at the very end of the text, and a line longer than the buffer.
    const std::string longLine = "LINUX;E;US;m;1100;x;" + std::string(600, 'L') + "\n";
    ASSERT_EQ(rscpotd__open_tcp0c_dump(WriteFile("long.dat", "|TCP0C\n" + longLine).c_str(), nullptr, nullptr, nullptr,
                                       nullptr, nullptr),
              0);
    ReadAll(&end);
    ASSERT_EQ(
        rscpotd__open_tcp0c_dump(WriteFile("hdr.dat", ",TCP0C").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr),
        0);
    rscpctd__close_tcp0c_dump();
    std::fflush(stderr);
    dup2(savedErr, 2);
    close(savedErr);

    std::ifstream in(err);
    std::ostringstream s;
    s << in.rdbuf();
    const std::string text = s.str();
    EXPECT_NE(text.find("format error in line 3:\nLINUX;DE;DE ;;1100;x;de_DE.ISO-8859-1\n"), std::string::npos);
    EXPECT_NE(text.find("format error in line 7:\nLINUX;E;GB;m;1100;x;en_GB;extra\n"), std::string::npos);
    EXPECT_NE(text.find("empty.dat is empty\n"), std::string::npos);
    EXPECT_NE(text.find("bad.dat is not a TCP0C dump\n"), std::string::npos);
}

// Cache queries and the status dump: answers with and without a cache, the
// allowed-code-page list filled to its 50 entries, the ISO-2022 table, the
// section layout of the dump, and a dump of a cache whose counts and offsets
// are garbage.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cpcache_fixture.h"
#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpinfo.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cpobject.h"
#include "krn/rscp/cpstore.h"
#include "krn/rscp/cputf8local.h"

namespace {

using cpcache_test::CacheTest;
using cpcache_test::g_out2;
using cpcache_test::g_params;
using cpcache_test::Stderr;

std::vector<std::string> g_lines;
void Collect(const char* text, int32_t length)
{
    g_lines.emplace_back(text, size_t(length));
}

std::vector<std::string> Dump(int32_t mask)
{
    g_lines.clear();
    EXPECT_EQ(rscpcs_cache_status(mask, Collect, 0xFFFFFFFFu), 0);
    return g_lines;
}

std::string Cp(const rscpCodePageV& v)
{
    return std::string(v.cp, 4);
}

void SetDbList(const std::vector<std::string>& cps)
{
    rscpmp->dbCpCount = uint16_t(cps.size());
    for (size_t i = 0; i < cps.size() && i < size_t(RSCP_TCPDB_MAX); ++i)
        std::memcpy(rscpmp->dbCp[i], cps[i].data(), 4);
}

TEST_F(CacheTest, QueriesWithoutACacheGiveTheirFallbacks)
{
    uint32_t v = 7;
    EXPECT_EQ(rscpGetUtf8GuiAllow(&v), RSCPETOOLONG);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(rscpGetCFontCacheVersion(&v), RSCPETOOLONG);
    EXPECT_EQ(LastText(), "Still no shm for CCC");
    EXPECT_EQ(Cp(rscpGetLegacyCodePage()), "1100");
    ASSERT_EQ(g_out2.size(), 1u);
    EXPECT_EQ(g_out2[0].size(), 72u);
    EXPECT_EQ(Cp(rscpGetUnicodeCodePage()), "4000");
    EXPECT_EQ(rscpIsMultiCodePageDB(), 0);
    char list[RSCP_ALLOWED_LIST_SIZE];
    EXPECT_EQ(rscpcpa_codepage_allowed("1100", list, RSCP_ALL_ERRORS), RSCPEBUSY);
    EXPECT_STREQ(list, ".");
    uint64_t address = 1;
    uint32_t length = 1;
    char kind[12];
    EXPECT_EQ(rscpGetCacheInfo(&address, kind, sizeof kind, &length), h_ccc_state);
    EXPECT_EQ(std::string(kind, 12), "no memory   ");
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(rscpgi2__get_iso2022_entry(0, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(Dump(0xFFFF), (std::vector<std::string>{"-----------------RSCPCCCC---", "| Char code cache", "| ",
                                                      "| <not allocated>", "-----------------"}));
}

TEST_F(CacheTest, QueriesReadTheCache)
{
    ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    g_out2.clear();
    EXPECT_EQ(Cp(rscpGetLegacyCodePage()), "1100");
    EXPECT_TRUE(g_out2.empty());
    std::memcpy(rscpmp->legacyCp, "8000", 4);
    EXPECT_EQ(Cp(rscpGetLegacyCodePage()), "8000");
    EXPECT_EQ(Cp(rscpGetUnicodeCodePage()), "4102");
    rscpmp->utf8guiAllow = 3;
    uint32_t v = 0;
    EXPECT_EQ(rscpGetUtf8GuiAllow(&v), 0u);
    EXPECT_EQ(v, 3u);

    // The allowed list: found after two others, not found, empty, and full.
    char list[RSCP_ALLOWED_LIST_SIZE];
    SetDbList({"1100", "4103", "8000"});
    EXPECT_EQ(rscpIsMultiCodePageDB(), 1);
    EXPECT_EQ(rscpcpa_codepage_allowed("8000", list, RSCP_ALL_ERRORS), 0u);
    EXPECT_STREQ(list, "1100.4103.");
    EXPECT_EQ(rscpcpa_codepage_allowed("1401", list, RSCP_ALL_ERRORS), RSCPENOOBJ);
    EXPECT_STREQ(list, "1100.4103.8000.");
    EXPECT_EQ(LastText(), "code page not allowed");
    SetDbList({});
    EXPECT_EQ(rscpcpa_codepage_allowed("1100", list, RSCP_ALL_ERRORS), RSCPEBADO);
    EXPECT_STREQ(list, ".");
    std::vector<std::string> many;
    for (int i = 0; i < 60; ++i)
        many.push_back(std::to_string(1000 + i));
    SetDbList(many);
    rscpmp->dbCpCount = 60;                           // more than the cache holds: read as 50
    std::vector<char> exact(RSCP_ALLOWED_LIST_SIZE);  // ASan sees a byte too many
    EXPECT_EQ(rscpcpa_codepage_allowed("9999", exact.data(), RSCP_ALL_ERRORS), RSCPENOOBJ);
    EXPECT_EQ(std::strlen(exact.data()), size_t(RSCP_ALLOWED_LIST_SIZE - 1));
    char cps[4 * 50];
    uint32_t count = 0;
    EXPECT_EQ(rscpGetDBCodePages(cps, 50, &count), 0u);
    EXPECT_EQ(count, 50u);
    EXPECT_EQ(rscpGetDBCodePages(cps, 0, &count), RSCPETOOLONG);
    EXPECT_EQ(count, 0u);

    // ISO-2022 sequences.
    const uint8_t start[] = {0x1B, 0x24, 0x42}, back[] = {0x1B, 0x28, 0x42}, other[] = {0x1B, 0x28, 0x4A};
    ASSERT_EQ(rscpss__store_so_si(3, start, 3, back), 0u);
    ASSERT_EQ(rscpss__store_so_si(3, start, 3, other), 0u);
    const uint32_t last = rscpmp->soSiCount - 1u;
    EXPECT_EQ(rscpfi2__find_iso2022_entry(3, start, 3, other), last);
    EXPECT_EQ(rscpfb2__find_iso2022_back(3, back), last - 1);
    EXPECT_EQ(rscpfi2__find_iso2022_entry(3, back, 3, start), 0xFFFFFFFFu);
    uint32_t sl = 0, bl = 0;
    const uint8_t *s = nullptr, *b = nullptr;
    EXPECT_EQ(rscpgi2__get_iso2022_entry(int32_t(last), &sl, &s, &bl, &b), 1);
    EXPECT_EQ(std::memcmp(b, other, 3), 0);
    rscpmp->soSiCount = 12;
    EXPECT_EQ(rscpgi2__get_iso2022_entry(10, &sl, &s, &bl, &b), 0);

    uint64_t address = 0;
    char kind[14];
    EXPECT_EQ(rscpGetCacheInfo(&address, kind, sizeof kind, nullptr), 2u);
    EXPECT_EQ(address, reinterpret_cast<uint64_t>(rscpmp));
    EXPECT_EQ(std::string(kind, 14).substr(12), "  ");
}

// ---- the status dump ----------------------------------------------------------------------

class StatusTest : public CacheTest {
protected:
    void SetUp() override
    {
        CacheTest::SetUp();
        ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    }
    static size_t Index(const std::vector<std::string>& lines, const std::string& begin, size_t from = 0)
    {
        for (size_t i = from; i < lines.size(); ++i)
            if (lines[i].rfind(begin, 0) == 0)
                return i;
        return std::string::npos;
    }
};

TEST_F(StatusTest, SectionsAndSeparatorsFollowTheMask)
{
    EXPECT_EQ(Dump(0), std::vector<std::string>{":"});

    const uint32_t state = h_ccc_state;
    h_ccc_state = 0;
    std::vector<std::string> lines = Dump(0x001);
    h_ccc_state = state;
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "----------------->>RSCPCCC<< ---");
    EXPECT_EQ(lines[3].substr(0, 36), "| state of process             fresh");
    EXPECT_EQ(lines[4], ":");

    // Sections 4, 5 and 6, then ":", 7, ":", 8, ":", 9 and a last ":".
    lines = Dump(0x008);
    std::vector<size_t> colons;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == ":")
            colons.push_back(i);
    ASSERT_EQ(colons.size(), 4u);
    EXPECT_EQ(lines[0], "-----------------");
    EXPECT_LT(Index(lines, "| layout version"), Index(lines, "| lookups"));
    EXPECT_LT(Index(lines, "| lookups"), Index(lines, "| conv.bytes (in)"));
    EXPECT_LT(Index(lines, "| processed_languages"), colons[0]);
    EXPECT_EQ(lines[colons[0] + 1], "| language to MB code page mapping");
    EXPECT_EQ(lines[colons[1] + 1], "| RFC condensed list [CodePage-Languages]");
    EXPECT_EQ(lines[colons[2] + 1].substr(0, 17), "| TCPDB_count    ");
    EXPECT_EQ(colons[3], lines.size() - 1);

    // Reads since the last statistic show once.
    rscpCountEvent(6);
    lines = Dump(0x004);
    const size_t row = Index(lines, "| TCPDB  ");
    ASSERT_NE(row, std::string::npos);
    EXPECT_NE(lines[row].substr(lines[row].size() - 10), std::string(10, ' '));
    lines = Dump(0x004);
    EXPECT_EQ(lines[Index(lines, "| TCPDB  ")].substr(lines[row].size() - 10), std::string(10, ' '));
}

TEST_F(StatusTest, AFullDumpOfALoadedCacheAndOfAGarbledOne)
{
    rscpCObj_t o;
    ASSERT_EQ(rscpCInit(&o, "4110", "1100", RSCPMISS_SUBSTITUTE, 0, 0), 0u);
    ASSERT_EQ(rscpCActivate(&o), 0u);
    ASSERT_EQ(rscpCInit(&o, "0120", "1100", RSCPMISS_SUBSTITUTE, 0, 0), 0u);
    rscpCSetUseF1(&o, RSCPF1_ENFORCE);
    ASSERT_EQ(rscpCActivate(&o), 0u);
    std::vector<std::string> lines = Dump(0xFFFF);
    for (const std::string& l : lines) {
        EXPECT_LE(l.size(), 99u) << l;
        EXPECT_EQ(l.find('\0'), std::string::npos) << l;
    }
    EXPECT_NE(Index(lines, "| 4110    "), std::string::npos);
    EXPECT_NE(Index(lines, "| 1100 |F5-mem|"), std::string::npos);
    EXPECT_NE(Index(lines, "| loaded_f1_count 1"), std::string::npos);
    EXPECT_NE(Index(lines, "|    instance          <not initialized>"), std::string::npos);
    EXPECT_NE(Index(lines, "|            after "), std::string::npos);

    // Every count and offset garbage: the dump stays inside the cache.
    rscpCcc_t& c = *rscpmp;
    c.cpCount = 0xFFFF;
    c.soSiCount = 0xFFFF;
    c.dbCpCount = 0xFFFF;
    c.loadedF1Count = 0xFFFFFFFF;
    c.ruleInfoCount = 0xFFFFFFFF;
    c.mbCpCount = 0xFFFF;
    c.procLangState = 2;
    c.procLangOffset = c.length - 3;
    c.procLangLength = 0xFFFFFFFF;
    c.lang.state = 2;
    c.lang.instState = 2;
    c.lang.instOffset = 0xFFFFFFF0;
    c.lang.instLength = 100;
    c.lang.listOffset = c.length - 8;
    c.lang.listLength = 16;
    for (rscpLangSlot_t& s : c.lang.slots) {
        s.cpIndex = 0xFF;
        s.localeOffset = c.length - 1;
    }
    c.lang.slots[0].cpIndex = 1;
    for (rscpDbMcpl_t& l : c.lang.dbmcpl) {
        l.present = 1;
        l.pageCount = l.langCount = 0x7FFFFFFF;
        l.pagesOffset = l.langsOffset = c.length - 4;
    }
    rscpCpInfo_t* rows = const_cast<rscpCpInfo_t*>(rscpCccCpList(&c));
    rows[0].scCount[0] = rows[0].scCount[1] = 255;
    rows[0].scHead[0] = c.length - 16;
    rows[0].scHead[1] = 0xFFFFFFFF;
    rows[0].spaceLen = 0xFFFFFFFF;
    lines = Dump(0xFFFF);
    for (const std::string& l : lines)
        EXPECT_LE(l.size(), 99u) << l;
    EXPECT_NE(Index(lines, "|    <not available> length=16"), std::string::npos);
    rscpf_finish(RSCP_ALL_ERRORS);
}

// The counters of the dump after known operations.  Catches the lines that
// printed a fixed 0 (create object, the UTF-16 converters, fill and
// truncation), the prepared converters counting into their core twins, the
// dictionary counter printed as the count of its synchronisations, the
// missing "Unused TCP00 entries" and the invalidating process written into
// the reorganiser's fields.
TEST_F(StatusTest, CountersShowWhatWasDone)
{
    // Each counter line's two numbers (the cache's and this process's), added.
    auto counts = [](const char* head) {
        std::vector<long> n;
        for (const std::string& l : Dump(0x240)) {
            long cache = 0, own = 0;
            if (l.rfind(std::string("| ") + head, 0) == 0 && l.size() > 18)
                n.push_back(std::sscanf(l.c_str() + 18, "%ld +%ld", &cache, &own) >= 1 ? cache + own : -1);
        }
        return n;
    };
    auto text = [](const std::vector<std::string>& lines, const std::string& head) {
        const size_t i = Index(lines, head);
        return i == std::string::npos ? std::string("(none)") : lines[i];
    };
    char out[64];
    const char* hello = "hello";
    const char16_t wide[] = u"hi";
    auto call = [&](uint32_t (*fn)(const char*, char**, char*, const char**, const char*), const char* src, size_t n) {
        char* d = out;
        const char* s = src;
        EXPECT_EQ(fn(nullptr, &d, out + sizeof out, &s, src + n), 0u);
    };
    auto calls = [&](int times) {
        for (int i = 0; i < times; ++i) {
            call(Utf8nToUcnCP, hello, 5);
            call(UcnToUtf8nCP, hello, 5);
            call(Utf16nToUcnCP2, reinterpret_cast<const char*>(wide), 4);
            call(UcnToUtf16nCP, hello, 5);
            EXPECT_EQ(Utf8nToUcnCPInit(), 0u);
        }
    };
    calls(1);  // sets every converter up
    const std::vector<long> fromUtf8 = counts("clone UTF-8 to"), toUtf8 = counts("clone to UTF-8"),
                            fromUtf16 = counts("clone UTF-16 to"), toUtf16 = counts("clone to UTF-16"),
                            created = counts("create object");
    ASSERT_EQ(fromUtf8.size(), 5u);
    ASSERT_EQ(toUtf16.size(), 2u);
    calls(3);
    rscpCObj_t o;
    for (int32_t fill : {RSCPFILL_SPACES, RSCPFILL_NULLS, RSCPFILL_AND_TRUNC_SPACES}) {
        ASSERT_EQ(rscpCInit(&o, "4110", "1100", RSCPMISS_SUBSTITUTE, 0, fill), 0u);
        ASSERT_EQ(rscpCActivate(&o), 0u);
        uint8_t dst[8];
        uint8_t* d = dst;
        const uint8_t src[] = "ab   ";
        const uint8_t* s = src;
        // Fill 6 - 2 bytes, or (trunc) cut the 3 spaces that do not fit.
        EXPECT_EQ(rscpCConvert(&o, &d, dst + (fill == RSCPFILL_AND_TRUNC_SPACES ? 2 : 6), &s,
                               src + (fill == RSCPFILL_AND_TRUNC_SPACES ? 5 : 2)),
                  0u);
    }
    EXPECT_EQ(counts("clone UTF-8 to"),
              (std::vector<long>{fromUtf8[0] + 3, fromUtf8[1], fromUtf8[2], fromUtf8[3] + 3, fromUtf8[4]}));
    EXPECT_EQ(counts("clone to UTF-8")[0], toUtf8[0] + 3);
    EXPECT_EQ(counts("clone UTF-16 to"), (std::vector<long>{fromUtf16[0], fromUtf16[1] + 3}));
    EXPECT_EQ(counts("clone to UTF-16"), (std::vector<long>{toUtf16[0] + 3, toUtf16[1]}));
    EXPECT_EQ(counts("create object"), (std::vector<long>{created[0] + 3}));
    std::vector<std::string> lines = Dump(0x041);
    EXPECT_EQ(text(lines, "| fill.space(out)"), "| fill.space(out)         4");
    EXPECT_EQ(text(lines, "| fill.bytes(out)"), "| fill.bytes(out)         4");
    EXPECT_EQ(text(lines, "| trunc.bytes(in)"), "| trunc.bytes(in)         3");
    // Catalogue rows whose data the store lacks.
    long unused = 0;
    for (uint32_t i = 0; i < rscpmp->cpCount; ++i)
        unused += rscplsd__lookup_segment_dir(rscpCccCpList(rscpmp)[i].segId) == nullptr;
    char line[64];
    std::snprintf(line, sizeof line, "| Unused TCP00 entries     %9ld", unused);
    EXPECT_EQ(text(lines, "| Unused TCP00 entries"), unused != 0 ? std::string(line) : "(none)");

    // An invalidation of the dictionary, then the reorganisation that takes it
    // over: each process is named in its own line.
    EXPECT_EQ(text(lines, "| invalidated by"), "(none)");
    ASSERT_EQ(rscpict4_invalidate_convert_tables("DD*", 3, 0, 0, nullptr, 0, RSCP_ALL_ERRORS), 0u);
    lines = Dump(0x040);
    std::snprintf(line, sizeof line, "| invalidated by  %9ld (parent PId %ld)", long(getpid()), long(getppid()));
    EXPECT_EQ(text(lines, "| invalidated by"), line);
    EXPECT_EQ(text(lines, "| reorganized by"), "(none)");
    EXPECT_EQ(text(lines, "| dd_reorg_version"), "| dd_reorg_version        1");
    EXPECT_EQ(text(lines, "| noof_dd_reorgs"), "| noof_dd_reorgs          0");
    rscpCcc_t* c = rscpmp;
    uint32_t generation = 0;
    rscph_SetWaitBeforeClearingFunc([](uint32_t) { return 0u; });
    Stderr([&] { EXPECT_EQ(rscprc__reorg_check(&c, &generation), 0u); });
    rscph_SetWaitBeforeClearingFunc(nullptr);
    lines = Dump(0x040);
    EXPECT_EQ(text(lines, "| invalidated by"), line);
    EXPECT_NE(text(lines, "| reorganized by"), "(none)");
    EXPECT_EQ(text(lines, "| noof_dd_reorgs"), "| noof_dd_reorgs          1");
    // The statistics outlive the reorganisation.
    EXPECT_EQ(text(Dump(0x041), "| fill.space(out)"), "| fill.space(out)         4");
}

TEST_F(StatusTest, AReorganisationDumpsTheStateBeforeIt)
{
    g_params["rscp/ccc/dump"] = "1";
    rscph_SetWaitBeforeClearingFunc([](uint32_t) { return 0u; });
    ASSERT_EQ(rscpict3_invalidate_convert_tables(0, 0, "test", 4, RSCP_ALL_ERRORS), 0u);
    const std::string text = Stderr([] {
        rscpCcc_t* c = rscpmp;
        uint32_t generation = 0;
        EXPECT_EQ(rscprc__reorg_check(&c, &generation), 0u);
    });
    const size_t head = text.find("rscpmc:rscpnr__need_reorg()\n      : Last state before reorganizing:\n");
    ASSERT_NE(head, std::string::npos) << text;
    EXPECT_NE(text.find("| reorg_done          FALSE\r\n", head), std::string::npos);
    EXPECT_NE(text.find("| reorg_reason    test", head), std::string::npos);
    rscph_SetWaitBeforeClearingFunc(nullptr);
}

}  // namespace

// Converter cache start-up: the clean start against the store, "TCPDB.DAT"
// good, malformed and empty, sizes and private-use parameters, the impromptu
// start, options, invalidation and reorganisation, and the quality check.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "cpcache_fixture.h"
#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cpinfo.h"
#include "krn/rscp/cpload.h"
#include "krn/rscp/cpnodb.h"
#include "krn/rscp/cpstore.h"
#include "krn/rscp/cputf.h"

using namespace cpcache_test;

namespace {

// Pages of [p, p + n) that the kernel populated; -1 when it cannot say.
long PopulatedPages(const void* p, size_t n)
{
    const long page = sysconf(_SC_PAGESIZE);
    const int fd = open("/proc/self/pagemap", O_RDONLY);
    if (fd < 0)
        return -1;
    long populated = 0;
    const uintptr_t first = reinterpret_cast<uintptr_t>(p) / page;
    const uintptr_t last = (reinterpret_cast<uintptr_t>(p) + n - 1) / page;
    for (uintptr_t k = first; k <= last; ++k) {
        uint64_t entry = 0;
        if (pread(fd, &entry, 8, static_cast<off_t>(k * 8)) != 8) {
            close(fd);
            return -1;
        }
        populated += (entry >> 62) != 0;
    }
    close(fd);
    return populated;
}

std::vector<std::string> g_errLines, g_warnLines;
void ErrSink(const char* text, int32_t length, rscpeOutputFunc)
{
    g_errLines.emplace_back(text, static_cast<size_t>(length));
}
void WarnSink(const char* text, int32_t length, rscpeOutputFunc)
{
    g_warnLines.emplace_back(text, static_cast<size_t>(length));
}

// Quality check of the attached cache: errors and warnings.
std::pair<uint32_t, uint32_t> Check()
{
    g_errLines.clear();
    g_warnLines.clear();
    uint32_t errors = 99, warnings = 99;
    rscpqc_quality_check(ErrSink, Out1, WarnSink, Out2, 3, &errors, &warnings);
    return {errors, warnings};
}

uint32_t MapEntry(const rscpCcc_t* c, uint32_t no)
{
    const uint8_t* e = rscpCccTcp01(c) + 3 * no;
    return static_cast<uint32_t>(e[0]) << 16 | e[1] << 8 | e[2];
}

uint32_t Asleep(uint32_t)
{
    return 0;
}

}  // namespace

TEST_F(CacheTest, CleanStartBuildsTheCatalogueFromTheStoreSilentlyAndTouchesFewPages)
{
    std::string err = Stderr([] { EXPECT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u); });
    EXPECT_EQ(err, "");
    EXPECT_TRUE(g_out1.empty()) << g_out1.at(0);
    ASSERT_EQ(h_ccc_state, 2u);
    const rscpCcc_t* c = rscpmp;
    ASSERT_NE(c, nullptr);

    // Only the pages the build wrote are populated: header, list and map.
    const long pages = PopulatedPages(c, c->length);
    if (pages >= 0) {
        EXPECT_LT(pages, 24) << "of " << c->length / sysconf(_SC_PAGESIZE);
    }

    EXPECT_EQ(c->layoutVersion, 77u);
    EXPECT_EQ(c->cccVersion, RSCP_CCC_COMPLETE);
    EXPECT_EQ(std::string(c->ident, 12), ">>RSCPCCC<< ");
    EXPECT_EQ(std::string(c->memoryKind, 12), "malloc      ");
    EXPECT_EQ(c->length, 6000000u);
    EXPECT_EQ(c->cache07, 600000u);
    EXPECT_EQ(c->endT2, 5400000u);
    EXPECT_EQ(c->endT7, 6000000u);
    EXPECT_EQ(c->reorgDone, 1);
    EXPECT_EQ(c->attachCount, 1u);
    EXPECT_EQ(c->attach[0], reinterpret_cast<uintptr_t>(c));
    EXPECT_TRUE(rscpcd__check_date(c->createDate));

    // The catalogue: every store row, sorted, widened into its record.
    ASSERT_EQ(c->cpCount, rscpF5Tcp00Count);
    const rscpCpInfo_t* list = rscpCccCpList(c);
    std::map<std::string, const char*> rows;
    for (uint32_t i = 0; i < rscpF5Tcp00Count; ++i)
        rows[std::string(rscpF5Tcp00 + 97 * i, 4)] = rscpF5Tcp00 + 97 * i;
    for (uint32_t i = 0; i < c->cpCount; ++i) {
        const char* row = rows.at(std::string(list[i].cp, 4));
        if (i > 0) {
            EXPECT_LT(std::memcmp(list[i - 1].cp, list[i].cp, 4), 0);
        }
        EXPECT_EQ(list[i].major, (row[81] - '0') * 10 + (row[82] - '0'));
        EXPECT_EQ(std::string(list[i].segId, 5), std::string(row + 92, 5));
        EXPECT_EQ(list[i].sourceTag, '2');
    }
    const rscpCpInfo_t* cp4000 = std::find_if(list, list + c->cpCount,
                                              [](const rscpCpInfo_t& r) { return std::memcmp(r.cp, "4000", 4) == 0; });
    ASSERT_NE(cp4000, list + c->cpCount);
    EXPECT_EQ(cp4000->major, 19);
    EXPECT_EQ(cp4000->spaceLen, 2u);
    EXPECT_EQ(cp4000->space[1], 0x20);

    // The map holds every row of the store and lies below the tables.
    uint32_t top = 0;
    for (uint32_t i = 0; i < rscpF5Tcp01Count; ++i) {
        const uint8_t* p = rscpF5Tcp01 + 5 * i;
        const uint32_t no = p[0] << 8 | p[1];
        top = std::max(top, no);
        ASSERT_EQ(MapEntry(c, no), static_cast<uint32_t>(p[2] << 16 | p[3] << 8 | p[4])) << no;
    }
    EXPECT_EQ(c->tcp01MapMax, top);
    EXPECT_EQ(c->tcp01SeenMax, rscpF5Tcp01Max());
    EXPECT_GE(c->tcp01Offset, c->cpListOffset + c->cpCount * sizeof(rscpCpInfo_t));
    EXPECT_GE(c->firstT1, c->tcp01Offset + 3 * (top + 1));
    EXPECT_EQ(c->firstT1 % 1032, 0u);

    EXPECT_EQ(rscpu_error_hook, &rscpe__error) << "the encoding forms report through the recorder";
    EXPECT_EQ(DbCodePages(), "1100");
    EXPECT_EQ(c->tcpdbCount, 0);
    EXPECT_EQ(std::string(c->defCountryText, 3), "   ");
    EXPECT_EQ(Check(), std::make_pair(0u, 0u));

    // State history, then a second start-up that does nothing.
    EXPECT_EQ(rscpCCCStateHistory[0].state, 2);
    EXPECT_EQ(rscpCCCStateHistory[1].state, 1);
    EXPECT_EQ(rscpCCCStateHistory[2].state, 0);
    EXPECT_EQ(std::string(rscpStartOrigin(), 30), std::string(30, ' '));
    EXPECT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpCCCStateHistory[1].state, 1);
    EXPECT_EQ(rscpmp, c);

    char cps[8];
    uint32_t count = 0;
    ASSERT_NE(kovlcpGetDBCodePageFunc(), nullptr);
    EXPECT_EQ(kovlcpGetDBCodePageFunc()(cps, 2, &count), 0u);
    EXPECT_EQ(std::string(cps, 4 * count), "1100");
}

TEST_F(CacheTest, TcpdbFileGoodMalformedEmptyAndBlended)
{
    WriteFile("TCPDB.DAT", "TCPDB\n1100\n4103\r\n");
    EXPECT_EQ(Stderr([&] { EXPECT_EQ(Restart(), 0u); }), "");
    EXPECT_EQ(DbCodePages(), "11004103");
    EXPECT_TRUE(g_out1.empty());

    // A 10-character line is read in pieces of 7 and 3; the run goes on.
    WriteFile("TCPDB.DAT", "TCPDB\n0123456789\n1100\nxyz\n");
    EXPECT_EQ(Stderr([&] { EXPECT_EQ(Restart(), 0u); }), "TCPDB.DAT line 2: format error: \"0123456\".\n"
                                                         "TCPDB.DAT line 3: format error: \"789\".\n"
                                                         "TCPDB.DAT line 5: format error: \"xyz\".\n");
    EXPECT_EQ(DbCodePages(), "1100");
    EXPECT_EQ(h_ccc_state, 2u);

    WriteFile("TCPDB.DAT", "");
    EXPECT_EQ(Stderr([&] { EXPECT_EQ(Restart(), 0u); }), "");
    EXPECT_EQ(DbCodePages(), "1100");
    EXPECT_EQ(rscpmp->tcpdbCount, 0);

    // Binary junk is only ever reported, never read past a line.
    WriteFile("TCPDB.DAT", std::string("\0\0\0\0\n\xff\xfe\x01", 8));
    EXPECT_NE(Stderr([&] { EXPECT_EQ(Restart(), 0u); }).find("format error"), std::string::npos);

    // Blended code pages stay in the list with a published warning each.
    WriteFile("TCPDB.DAT", "6500\n6300\n");
    EXPECT_EQ(Restart(), 0u);
    EXPECT_EQ(DbCodePages(), "65006300");
    EXPECT_TRUE(Contains(g_out1, "Syslog: k CP6 : TCPDB&"));
    EXPECT_EQ(LastText(), "Still using unambiguous blended code page?");

    // The override parameter wins over the file; a short remainder is ignored.
    g_params["rscp/operride/TCPDB"] = "11004103abc";
    EXPECT_EQ(Restart(), 0u);
    EXPECT_EQ(DbCodePages(), "11004103");
}

// Every recorded error, and the system-log line of a published one, names the
// source unit it comes from.  Catches the names of this tree's files that the
// records carried ("cpfill", "cpinfo", "cpnodb" ...).
TEST_F(CacheTest, ErrorsNameTheSourceUnitTheyComeFrom)
{
    auto module = [] { return std::string(rscpe_get_error_record()->entries[0].module, 8); };
    uint32_t value = 0;
    EXPECT_EQ(rscpGetUtf8GuiAllow(&value), RSCPETOOLONG);
    EXPECT_EQ(module(), "rscpmi  ");
    EXPECT_EQ(rscpGetIndicDigits(&value), RSCPETOOLONG);
    EXPECT_EQ(module(), "rscpmi2 ");
    EXPECT_EQ(rscpmc4_init(2), RSCPENOOBJ);
    EXPECT_EQ(module(), "rscpmm  ");
    EXPECT_EQ(rscpReadTCP09(nullptr, RSCP_ALL_ERRORS), RSCPENOOBJ);
    EXPECT_EQ(module(), "rscploca");

    WriteFile("TCPDB.DAT", "6100\n");
    EXPECT_EQ(Restart(), 0u);
    EXPECT_EQ(module(), "rscpdl  ");
    // "Syslog: k", the message id, then the argument block with the unit at
    // its positions 53-60.
    const auto line = std::find_if(g_out1.begin(), g_out1.end(),
                                   [](const std::string& l) { return l.rfind("Syslog: k CP6 : TCPDB&", 0) == 0; });
    ASSERT_NE(line, g_out1.end());
    EXPECT_EQ(line->substr(16 + 53, 8), "rscpdl  ");
    EXPECT_EQ(rscplcc__load_control_codes(7, nullptr), RSCPEINVAL);
    EXPECT_EQ(module(), "rscpdl  ");
    rscpCObj_t o;
    ASSERT_EQ(rscpCInit(&o, "1100", "4110", RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY, 0), 0u);
    ASSERT_EQ(rscpCActivate(&o), 0u);
    uint8_t out[8];
    uint8_t* d = out;
    const uint8_t in[] = {0x80};
    const uint8_t* s = in;
    EXPECT_EQ(rscpCConvert(&o, &d, out + sizeof out, &s, in + 1), RSCPENOCONV);
    EXPECT_EQ(module(), "rscpc   ");
    EXPECT_EQ(rscpso_set_option(99, 0, 0), RSCPEINTERN);
    EXPECT_EQ(module(), "rscpmc  ");
}

TEST_F(CacheTest, TcpdbCountsSaturateAndKeepFifty)
{
    std::string rows;
    for (int i = 0; i < 70000; ++i)
        rows += "1100\n";
    WriteFile("TCPDB.DAT", rows);
    const std::string err = Stderr([&] { EXPECT_EQ(Restart(), 0u); });
    EXPECT_EQ(rscpmp->tcpdbCount, 65535) << "the count of rows seen must not wrap";
    EXPECT_EQ(rscpmp->dbCpCount, 50);
    // The quality check of the start-up reports the strange counts.
    EXPECT_EQ(err, "");
    EXPECT_TRUE(Contains(g_out1, "CCC: TCPDB_count strange value:     65535"));
    EXPECT_TRUE(Contains(g_out2, "rscpmc:reinit:         2 warnings"));
}

TEST_F(CacheTest, CacheSizesAndPrivateUseCharactersFromParameters)
{
    struct Case {
        const char* cachesize;
        const char* cache07;
        uint32_t rc;
        uint32_t length, cache07Out;
        const char* msgid;
    } cases[] = {
        {nullptr, nullptr, 0, 6000000, 600000, nullptr},
        {"170000", nullptr, 0, 170000, 17008, nullptr},
        {"170001", nullptr, 0, 170016, 17008, nullptr},
        {"169999", nullptr, 1, 0, 0, "F24"},
        {"20000000", nullptr, 0, 16776192, 1677632, "CQH"},
        {"1000000", "199", 1, 0, 0, "F24"},
        {"1000000", "200", 0, 1000000, 208, nullptr},
        {"1000000", "500000", 0, 1000000, 500000, nullptr},
        {"1000000", "500001", 1, 0, 0, "F24"},   // more than half the cache
        {"1000000", "2000000", 1, 0, 0, "F24"},  // larger than the cache
        {"junk", nullptr, 1, 0, 0, "F24"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.cachesize ? k.cachesize : "-") + "/" + (k.cache07 ? k.cache07 : "-"));
        g_params.clear();
        if (k.cachesize)
            g_params["rsts/ccc/cachesize"] = k.cachesize;
        if (k.cache07)
            g_params["rsts/ccc/cache07"] = k.cache07;
        rscpe_clear_errors();
        const std::string origin(rscpStartOrigin(), 30);
        EXPECT_EQ(Restart(), k.rc);
        if (k.msgid != nullptr) {
            EXPECT_EQ(std::string(rscpe_get_error_record()->entries[0].msgId, 3), k.msgid);
        }
        if (k.rc != 0) {
            EXPECT_EQ(h_ccc_state, 1u);  // a parameter failure leaves the start-up where it stopped
            EXPECT_EQ(rscpi_init(RSCP_ALL_ERRORS), 1u);
            EXPECT_EQ(LastText(), "char code converter init loop");
            EXPECT_EQ(std::string(rscpStartOrigin(), 30), origin) << "a failed start-up keeps the origin";
            continue;
        }
        ASSERT_EQ(h_ccc_state, 2u);
        EXPECT_EQ(rscpmp->length, k.length);
        EXPECT_EQ(rscpmp->cache07, k.cache07Out);
        EXPECT_EQ(Check(), std::make_pair(0u, k.length < 400000 ? 1u : 0u))
            << (g_warnLines.empty() ? "" : g_warnLines[0]);
    }

    g_params.clear();
    g_params["rscp/pua/icon2intro"] = "E000";
    g_params["rscp/pua/frame1intro"] = "F900";
    g_params["rscp/pua/DBC_replacement"] = "E00";
    g_params["rscp/ccc/max_intern_code"] = "70000";
    EXPECT_EQ(Restart(), 0u);
    EXPECT_EQ(rscpPua.icon2intro, 0xE000u);
    EXPECT_EQ(rscpPua.icon2Utf8[0], 0xEE);
    EXPECT_EQ(rscpPua.icon2Utf8[1], 0x80);
    EXPECT_EQ(rscpPua.icon2Utf8[2], 0x80);
    EXPECT_EQ(rscpPua.frame1intro, 0xF8FCu);
    EXPECT_EQ(rscpPua.dbcReplacement, 0xF8FEu);
    EXPECT_TRUE(Contains(g_out1, "E16 : rscp/pua/frame1intro&range:E000..F8FF&"));
    EXPECT_TRUE(Contains(g_out1, "E16 : rscp/pua/DBC_replacement&length != 4&"));
    EXPECT_EQ(rscpmp->maxKovCode, 65535) << "kept in 16 bits: saturates";
    g_params.clear();
    EXPECT_EQ(Restart(), 0u);
    EXPECT_EQ(rscpPua.icon2intro, 0xE000u) << "a refused parameter keeps the value";
    rscpPua.icon2intro = 0xF8FD;
}

TEST_F(CacheTest, ImpromptuStartAndTheMarkerFile)
{
    unsetenv("RSCP_CATCH_INIT");
    WriteFile("RSCP_CATCH_INIT", "user data");
    EXPECT_EQ(rscpi_init_just_in_case("unit test"), 0u);
    EXPECT_EQ(h_ccc_state, 2u);
    ASSERT_EQ(g_out1.size(), 2u);
    EXPECT_EQ(g_out1[0], "Impromptu CCC initialization by 'unit test'.");
    EXPECT_EQ(g_out1[1], "  See KOV note 4817206.");
    EXPECT_EQ(access("RSCP_CATCH_INIT", F_OK), 0) << "a stray file of that name is left alone";
    EXPECT_EQ(std::string(rscpStartOrigin(), 30), "unit test" + std::string(21, ' '));
    EXPECT_EQ(rscpRegularStart(), 0);
    // Errors carry who started the cache on the spot, and the box says so.
    rscpe__error(RSCPEINVAL, 'C', RSCP_ALL_ERRORS, "x", 1, 2, "t", "F00", nullptr, 0, nullptr, 0);
    EXPECT_EQ(std::string(rscpe_get_error_record()->initiator, 9), "unit test");
    g_out1.clear();
    rscpe_print_errors(rscpe_get_error_record(), Out1);
    EXPECT_TRUE(Contains(g_out1, "| Impromptu CCC initialization by unit test"));

    rscpf_finish(RSCP_ALL_ERRORS);
    g_out1.clear();
    setenv("RSCP_CATCH_INIT", "0", 1);
    EXPECT_EQ(rscpi_init_just_in_case("quiet"), 0u);
    EXPECT_TRUE(g_out1.empty());

    rscpf_finish(RSCP_ALL_ERRORS);
    setenv("RSCP_CATCH_INIT", "1", 1);
    EXPECT_DEATH(rscpi_init_just_in_case("with file"), "Abort in rscpi_init_just_in_case");
    rscpf_finish(RSCP_ALL_ERRORS);
    setenv("RSCP_CATCH_INIT", "A", 1);
    unlink("RSCP_CATCH_INIT");
    EXPECT_DEATH(rscpi_init_just_in_case("asked"), "See KOV note 4817206.\nAbort in rscpi_init_just_in_case.");
    unsetenv("RSCP_CATCH_INIT");
}

TEST_F(CacheTest, OptionsBeforeAndAfterTheStartUp)
{
    uint32_t v = 77;
    EXPECT_EQ(rscpgo_get_option(1, &v), 0u);
    EXPECT_EQ(v, 77u) << "no cache: nothing to read";
    EXPECT_EQ(rscpso_set_option(28, 1, 0), 0u);
    EXPECT_EQ(rscpso_set_option(8, 0, 0), 0u);
    EXPECT_EQ(rscpgo_get_option(8, &v), 0u);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(rscpso_set_option(8, 1, 0), 0u);

    ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpgo_get_option(4, &v), 0u);
    EXPECT_EQ(v, 2u);
    EXPECT_EQ(rscpso_set_option(28, 1, 0), 1u);
    EXPECT_EQ(LastText(), "rscpso: illegal option");
    EXPECT_EQ(rscpso_set_option(8, 0, 0), 0u);
    EXPECT_EQ(LastText(), "(Warning) disconnecting TCP00,.. from database");
    EXPECT_EQ(rscpso_set_option(25, 0, 0), 64u);
    EXPECT_EQ(rscpso_set_option(24, 1100, 0), 0u);
    EXPECT_EQ(std::string(rscpmp->option24Cp, 4), "1100");
    EXPECT_EQ(rscpso_set_option(5, 2, 0), 0u);
    EXPECT_EQ(rscpgo_get_option(19, &v), 0u);
    EXPECT_EQ(v, 1u);
    rscpso_set_option(5, 0, 0);
    rscpso_set_option(8, 1, 0);
}

TEST_F(CacheTest, InvalidationAndReorganisationRebuildTheCache)
{
    rscph_SetWaitBeforeClearingFunc(Asleep);
    EXPECT_EQ(rscpict3_invalidate_convert_tables(0, 0, nullptr, 0, RSCP_ALL_ERRORS), 0u) << "state 0";
    ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    rscpmp->statBytesIn = 1234;
    const uint32_t generation = rscpmp->reorgVersion;
    const std::string reason = "unit test reason";
    EXPECT_EQ(rscpict_invalidate_convert_tables_locked(0, 0, reason.data(), static_cast<int32_t>(reason.size()),
                                                       RSCP_ALL_ERRORS),
              0u);
    EXPECT_EQ(rscpmp->reorgDone, 0);
    EXPECT_EQ(rscpmp->reorgVersion, generation + 1);
    EXPECT_EQ(std::string(rscpmp->reorgReason, 36), reason + std::string(36 - reason.size(), ' '));
    EXPECT_EQ(Check().second, 1u) << "the pending reorganisation is a warning";

    // A reader finds the generation changed and has the cache rebuilt.
    rscpCcc_t* seen = nullptr;
    uint32_t seenGeneration = generation;
    EXPECT_EQ(rscprc__reorg_check(&seen, &seenGeneration), 0u);
    EXPECT_EQ(seen, rscpmp);
    EXPECT_EQ(h_ccc_state, 2u);
    EXPECT_EQ(rscpmp->reorgDone, 1);
    EXPECT_EQ(rscpmp->reorgCount, 1u);
    EXPECT_EQ(rscpmp->statBytesIn, 1234u) << "statistics survive the rebuild";
    EXPECT_EQ(rscpmp->cpCount, rscpF5Tcp00Count);
    EXPECT_EQ(Check(), std::make_pair(0u, 0u));

    // Two leading 'D' name a dictionary change: no flush, a new generation.
    const uint32_t g = rscpmp->reorgVersion;
    EXPECT_EQ(rscpict4_invalidate_convert_tables("DDTAB*", 6, 0, 0, nullptr, 0, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpmp->reorgVersion, g + 1);
    EXPECT_EQ(rscpmp->dictChanges, 1u);
    EXPECT_EQ(rscpnr__need_reorg(0, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpmp->dictSynced, 1);

    // After a finish the next cache is of a later generation.
    const uint32_t before = rscpmp->reorgVersion;
    EXPECT_EQ(Restart(), 0u);
    EXPECT_GT(rscpmp->reorgVersion, before);
    rscph_SetWaitBeforeClearingFunc(nullptr);
}

TEST_F(CacheTest, QualityCheckFindsDamage)
{
    ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    rscpCcc_t* c = rscpmp;

    // A stray byte in a free area is found, also in pages never touched before.
    uint8_t* p = reinterpret_cast<uint8_t*>(c);
    const uint32_t at = c->endT1 + (c->firstT2 - c->endT1) / 2;
    p[at] = 1;
    EXPECT_EQ(Check(), std::make_pair(1u, 0u));
    EXPECT_EQ(g_errLines.at(0), "CCC: free area 1 only " + std::to_string(c->firstT2 - c->endT1 - 1) + " nulls in " +
                                    std::to_string(c->firstT2 - c->endT1) + " bytes");
    p[at] = 0;
    p[c->endT2 + 5] = 7;
    EXPECT_EQ(Check().first, 1u);
    EXPECT_NE(g_errLines.at(0).find("free area 2"), std::string::npos);
    p[c->endT2 + 5] = 0;

    struct Damage {
        std::function<void()> apply;
        uint32_t errors, warnings;
        const char* first;
    };
    const rscpCcc_t saved = *c;
    const Damage damage[] = {
        {[c] { c->cccVersion = RSCP_CCC_HALF; }, 0, 1, "CCC version is in half cooked state: 11311161"},
        {[c] { c->cccVersion = 7; }, 1, 0, "CCC version is bad: 7 = 0x7"},
        {[c] { std::memcpy(c->createDate, "20241231x0000000", 16); }, 1, 0, "CCC createdate damaged: 20241231x0000000"},
        {[c] { c->reorgReason[0] = ' '; }, 0, 1, "CCC reorg_reason empty?"},
        {[c] { c->reorgReason[0] = '\x07'; }, 1, 0, "CCC reorg_reason damaged:"},
        {[c] { c->cache07 = c->length / 2; }, 0, 0, nullptr},
        {[c] { c->cache07 = c->length / 2 + 1; }, 0, 1, "CCC cache07 too large: 3000001"},
        {[c] { c->endT1 += 1; }, 1, 0, "CCC: end_t1 not alligned for T1:   "},
        {[c] { c->fragT3 = 1; }, 0, 1, "CCC: frag_t3 not in T1 area:"},
        {[c] { c->noofT1 = static_cast<uint16_t>(c->length / 1032 + 1); }, 1, 0, "CCC: noof_t1 too large: "},
        {[c] { c->tcpdbCount = 30; }, 0, 0, nullptr},
        {[c] { c->tcpdbCount = 31; }, 0, 1, "CCC: TCPDB_count strange value:        31 (0x1F)"},
        {[c] { c->loadedF1Count = 71; }, 0, 1, "CCC: loaded_f1_count strange value:"},
        {[c] { c->mbcCopy = -1; }, 0, 1, "CCC: mbc_copy strange value:"},
        {[c] { c->overflow = 1; }, 0, 1, "CCC overflow not 'no': Still waiting for re-org."},
    };
    for (const Damage& d : damage) {
        *c = saved;
        d.apply();
        const auto counts = Check();
        EXPECT_EQ(counts, std::make_pair(d.errors, d.warnings)) << (d.first ? d.first : "clean");
        if (d.first != nullptr) {
            const std::string line = d.errors ? g_errLines.at(0) : g_warnLines.at(0);
            EXPECT_EQ(line.rfind(d.first, 0), 0u) << line;
        }
    }
    *c = saved;

    // An unaligned or missing cache stops the check at once.
    rscpmp = reinterpret_cast<rscpCcc_t*>(p + 4);
    EXPECT_EQ(rscpqc_quality_check(ErrSink, Out1, WarnSink, Out2, 3, nullptr, nullptr), 1);
    rscpmp = nullptr;
    uint32_t errors = 0, warnings = 7;
    EXPECT_EQ(rscpqc_quality_check(ErrSink, Out1, WarnSink, Out2, 3, &errors, &warnings), 1);
    EXPECT_EQ(errors, 1u);
    EXPECT_EQ(warnings, 0u);
    rscpmp = c;
}

TEST_F(CacheTest, FailedStartUpRestoresTheOriginAndReportsItsState)
{
    // An allocation that fails leaves the start-up in state 1 with the
    // recorder's message; the origin is what it was.
    static auto failing = [](void** a, uint8_t* s, uint8_t* r, char*, int32_t, uint32_t, int32_t) -> int32_t {
        *a = nullptr;
        *s = *r = 0;
        return 1;
    };
    rscph_SetAllocateCCCCFunc(failing);
    const std::string origin(rscpStartOrigin(), 30);
    const int regular = rscpRegularStart();
    EXPECT_EQ(rscpi_init(RSCP_ALL_ERRORS), 1u);
    EXPECT_EQ(std::string(rscpStartOrigin(), 30), origin);
    EXPECT_EQ(rscpRegularStart(), regular);
    EXPECT_EQ(rscpmp, nullptr);
    rscph_SetAllocateCCCCFunc(nullptr);
    rscpf_finish(RSCP_ALL_ERRORS);
    EXPECT_EQ(h_ccc_state, 0u);
    EXPECT_EQ(rscpst__state_text(3), std::string("not good"));
    EXPECT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
}

TEST_F(CacheTest, StartUpWithoutMemoryForItsCacheIsToldSoAndTriedAgain)
{
    // A cache that could not be had for memory leaves no start-up behind
    // that a later one would take for a loop, and nothing on the outputs.
    static auto noMemory = [](void** a, uint8_t* s, uint8_t* r, char*, int32_t, uint32_t, int32_t) -> int32_t {
        *a = nullptr;
        *s = *r = 0;
        return static_cast<int32_t>(RSCPENOMEM);
    };
    rscph_SetAllocateCCCCFunc(noMemory);
    EXPECT_EQ(rscpi_init(RSCP_ALL_ERRORS), RSCPENOMEM);
    EXPECT_EQ(rscpi_init_just_in_case("again"), RSCPENOMEM);
    EXPECT_EQ(h_ccc_state, 0u);
    EXPECT_EQ(rscpmp, nullptr);
    rscph_SetAllocateCCCCFunc(nullptr);
    EXPECT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(h_ccc_state, 2u);
}

TEST_F(CacheTest, LanguageCountryAndLegacyTextsAreCopiedWithinTheirFields)
{
    const std::string longText(5000, 'L');
    setenv("SNC_LEGACY_KOV_CP", ("8000" + longText).c_str(), 1);
    g_params["zcsa/system_language"] = "DE" + longText;
    g_params["rscp/override/TCP0D"] = "3CN" + longText;
    EXPECT_EQ(Restart(), 0u);
    unsetenv("SNC_LEGACY_KOV_CP");
    EXPECT_EQ(std::string(rscpmp->legacyCp, 4), "8000");
    EXPECT_EQ(std::string(rscpmp->defCountryText, 3), "CN ") << "the override, then the 3CN rule";
    EXPECT_EQ(rscpmp->defLanguage, 'D');
    EXPECT_EQ(Check(), std::make_pair(0u, 0u));
    // The cut override text is recorded; its syslog line has the fixed width.
    EXPECT_TRUE(Contains(g_out1, "Syslog: k CP6 : 3CNLLLL"));
    for (const std::string& line : g_out1)
        if (line.rfind("Syslog: k", 0) == 0) {
            EXPECT_EQ(line.size(), 80u);
        }
}

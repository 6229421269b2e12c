// Activation and single characters over a started converter cache and the
// tables its loader builds from the store (1100 ISO-8859-1, 4110 UTF-8 by
// rules, 8200 ISO-2022-JP with its designated double-byte set).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpencode.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpkeys.h"
#include "krn/rscp/cpload.h"
#include "krn/rscp/cptab.h"
#include "krn/rscp/cptable.h"
#include "tests/unit/krn/cpcache_fixture.h"

using cpcache_test::CacheTest;

namespace {

using Bytes = std::vector<uint8_t>;

// Store segments read by the code page loader so far: unchanged when an
// activation found every table in the cache.
uint32_t SegmentsRead()
{
    return rscph_HookTable.ctl->segmentsRead;
}

}  // namespace

namespace {

struct Conv : CacheTest {
    void SetUp() override
    {
        CacheTest::SetUp();
        ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
        rscph_SetWaitBeforeClearingFunc([](uint32_t) { return 0u; });
        rscpActivationCacheReset();
    }
    void TearDown() override
    {
        rscpActivationCacheReset();
        rscph_SetWaitBeforeClearingFunc(nullptr);
        CacheTest::TearDown();
    }
    static rscpCObj_t Make(const char* in, const char* out, int32_t miss = 1)
    {
        rscpCObj_t o;
        rscpCInit(&o, in, out, miss, 1, 0);
        rscpCSetCtrlCodes(&o, 1);
        return o;
    }
    // Activation-cache hits of this process, also those folded into the cache.
    static uint32_t Hits() { return rscpmp->stat32[1] + rscph_HookTable.ctl->activateHits; }
    std::string LastId() const
    {
        char text[200];
        rscpe_get_last_text(rscpe_get_error_record(), text, sizeof text);
        return text;
    }
    // Encodes with room for cap bytes; the result's bytes, or the code.
    static std::pair<uint32_t, Bytes> Encode(rscpCObj_t& o, uint32_t cp, size_t cap = 16)
    {
        std::vector<uint8_t> buf(cap + 1, 0xEE);
        uint8_t* p = buf.data();
        const uint32_t rc = rscpCEncodeU4(&o, &p, buf.data() + cap, cp);
        EXPECT_EQ(buf[cap], 0xEE);
        return {rc, Bytes(buf.data(), p)};
    }
};

TEST_F(Conv, ActivationLoadsMissingTablesOnceAndServesRepeatsFromItsCache)
{
    const uint32_t read = SegmentsRead();
    rscpCObj_t o = Make("4110", "1100");
    ASSERT_EQ(rscpCActivate(&o), 0u) << LastId();
    EXPECT_EQ(o.method, 4);  // UTF-8 towards a plain code page: through the tables
    EXPECT_TRUE(o.in_set && o.out_set);
    EXPECT_EQ(o.in_major, uint32_t(RSCPK_UTF8));
    EXPECT_EQ(o.in_no, rscpFindCodePage("4110")->in[3].root);
    EXPECT_EQ(o.out_no, rscpFindCodePage("1100")->out[3].t2);
    EXPECT_EQ(o.timestamp, rscpmp->reorgVersion);
    EXPECT_GT(SegmentsRead(), read);
    const uint32_t loaded = SegmentsRead();

    const uint32_t hits = Hits();
    rscpCObj_t again = Make("4110", "1100");
    ASSERT_EQ(rscpCActivate(&again), 0u);
    EXPECT_EQ(Hits(), hits + 1);
    EXPECT_EQ(std::memcmp(&again, &o, sizeof o), 0);
    EXPECT_EQ(SegmentsRead(), loaded);
    // Another variant loads its own tables; the same page to itself copies.
    rscpCObj_t strict = Make("4110", "1100");
    rscpCSetCtrlCodes(&strict, 0);
    ASSERT_EQ(rscpCActivate(&strict), 0u);
    EXPECT_NE(strict.in_no, o.in_no);
    EXPECT_EQ(strict.in_no, rscpFindCodePage("4110")->in[2].root);
    rscpCObj_t same = Make("1100", "1100");
    ASSERT_EQ(rscpCActivate(&same), 0u);
    EXPECT_EQ(same.method, RSCPMETH_DIRECT);

    // A new generation: nothing from the activation cache, tables loaded anew.
    ASSERT_EQ(rscpict3_invalidate_convert_tables(0, 0, "test", 4, RSCP_ALL_ERRORS), 0u);
    const uint32_t before = SegmentsRead();
    ASSERT_EQ(rscpCReactivateIfNeeded(&o), 0u);
    EXPECT_EQ(o.timestamp, rscpmp->reorgVersion);
    EXPECT_GT(SegmentsRead(), before);
    EXPECT_EQ(o.in_no, rscpFindCodePage("4110")->in[3].root);
    EXPECT_EQ(Hits(), hits + 1);

    rscpCObj_t unknown = Make("4110", "9999");
    EXPECT_EQ(rscpCActivate(&unknown), RSCPENOCONV);
    EXPECT_EQ(LastId(), "out character code \"9999\" unknown");
    EXPECT_EQ(lookup_convert_tables(nullptr, 1, 1, 1, RSCP_ALL_ERRORS), RSCPEINVAL);
    EXPECT_EQ(lookup_convert_tables(&o, 1, 0, 0, RSCP_ALL_ERRORS), RSCPEINVAL);
    EXPECT_EQ(LastId(), "use rscpcpe_code_page_exists");
    const std::string err = cpcache_test::Stderr([&] { lookup_convert_tables(&o, 1, 1, 1, 0xFFFFu); });
    EXPECT_EQ(err, "rscpc(16173): p_errmask = ffff / h_errmask = ffffffff ?\n");
}

TEST_F(Conv, EncodingThroughTablesAndRulesWithMissingAndDroppedCharacters)
{
    rscpCObj_t u8 = Make("1100", "4110");
    ASSERT_EQ(rscpCActivate(&u8), 0u);
    EXPECT_EQ(Encode(u8, 'A').second, Bytes{'A'});
    EXPECT_EQ(Encode(u8, 0xE9).second, (Bytes{0xC3, 0xA9}));
    EXPECT_EQ(Encode(u8, 0x20AC).second, (Bytes{0xE2, 0x82, 0xAC}));
    EXPECT_EQ(Encode(u8, 0x1F600).second, (Bytes{0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(Encode(u8, 0x85).second, (Bytes{0xC2, 0x85}));
    // A surrogate has no UTF-8 form, however the page's rule reads.
    EXPECT_EQ(Encode(u8, 0xD800).first, RSCPENOCONV);
    EXPECT_EQ(LastId(), "character not possible");
    auto full = Encode(u8, 0x20AC, 2);
    EXPECT_EQ(full.first, RSCPETOOLONG);
    EXPECT_TRUE(full.second.empty());
    EXPECT_EQ(LastId(), "char code longer than output buffer");
    EXPECT_EQ(Encode(u8, rscpmp->maxKovChar + 1).first, RSCPENOCONV);
    EXPECT_EQ(LastId(), "character number out of range");
    auto calls = [] { return rscpmp->statEncodeCalls + rscph_HookTable.ctl->encodeCalls; };
    const uint32_t before = calls();
    uint8_t buf[8];
    int32_t len = 0;
    EXPECT_EQ(rscpCEncodeCharNoLen(buf, &len, sizeof buf, 35, &u8), 0u);
    EXPECT_EQ(len, 1);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(calls(), before + 1);

    // A table number from a damaged object is never read past the cache.
    rscpCObj_t bad = u8;
    bad.out_no = rscpmp->length - 1;
    EXPECT_EQ(Encode(bad, 'A').first, RSCPENOCONV);

    // Missing characters: substitute, copy, or not handled.
    rscpCObj_t lat = Make("4110", "1100");
    ASSERT_EQ(rscpCActivate(&lat), 0u);
    EXPECT_EQ(Encode(lat, 0x20AC).first, RSCPENOCONV);
    const uint8_t euro[] = {0xE2, 0x82, 0xAC};
    uint8_t out[8];
    uint8_t* p = out;
    int32_t st = -1;
    EXPECT_EQ(rscpCOnMissing(&lat, &p, out + 8, euro, euro + 3, &st), 0u);
    EXPECT_EQ(st, RSCP_ST_DONE);
    EXPECT_EQ(p - out, 1);
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(lat.noof_subst, 1u);
    p = out;
    EXPECT_EQ(rscpCOnMissing(&lat, &p, out, euro, euro + 3, &st), RSCPETOOLONG);
    EXPECT_EQ(st, RSCP_ST_NO_ROOM);
    EXPECT_EQ(p, out);
    rscpCSetMiss(&lat, RSCPMISS_COPY);
    EXPECT_EQ(rscpCOnMissing(&lat, &p, out + 8, euro, euro + 3, &st), 0u);
    EXPECT_EQ(Bytes(out, p), Bytes(euro, euro + 3));
    EXPECT_EQ(lat.noof_subst, 2u);
    p = out;
    EXPECT_EQ(rscpCOnMissing(&lat, &p, out + 2, euro, euro + 3, &st), 0u);
    EXPECT_EQ(st, RSCP_ST_NO_ROOM);
    rscpCSetMiss(&lat, RSCPMISS_STOP);
    rscpCOnMissing(&lat, &p, out + 8, euro, euro + 3, &st);
    EXPECT_EQ(st, RSCP_ST_NOT_HANDLED);

    // Dropped characters.
    for (auto [drop, status, bytes, count] :
         {std::tuple{RSCPDROP_REMOVE, RSCP_ST_DONE, 0, 0u}, std::tuple{RSCPDROP_SPACE, RSCP_ST_DONE, 1, 1u},
          std::tuple{RSCPDROP_LIKE_MISS, RSCP_ST_DONE, 1, 1u}, std::tuple{RSCPDROP_STOP, RSCP_ST_STOP, 0, 0u}}) {
        rscpCResetNoOfSubst(&lat);
        rscpCSetOnDrop(&lat, drop);
        p = out;
        rscpCOnDrop(&lat, &p, out + 8, &st);
        EXPECT_EQ(st, status) << drop;
        EXPECT_EQ(p - out, bytes) << drop;
        EXPECT_EQ(lat.noof_subst, count) << drop;
    }
    EXPECT_EQ(out[0], '#');
}

TEST_F(Conv, DecodingAndInputRulesTakeOnlyWellFormedCharacters)
{
    rscpCObj_t o = Make("4110", "1100");
    ASSERT_EQ(rscpCActivate(&o), 0u);
    uint32_t no = 0;
    const uint8_t e[] = {0xC3, 0xA9, 'x'};
    ASSERT_EQ(rscpCDecodeChar(e, 3, &o, &no, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpCharNoToUnicode(no), 0xE9u);
    ASSERT_EQ(rscpCDecodeChar(e + 2, 1, &o, &no, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpCharNoToUnicode(no), uint32_t('x'));
    EXPECT_EQ(rscpCDecodeChar(e, 1, &o, &no, RSCP_ALL_ERRORS), RSCPEUNIQ);
    EXPECT_EQ(LastId(), "input character broken");
    const uint8_t slash[] = {0xC0, 0xAF};
    EXPECT_EQ(rscpCDecodeChar(slash, 2, &o, &no, RSCP_ALL_ERRORS), RSCPENOCONV);
    EXPECT_EQ(LastId(), "character unknown");

    // One character through its input rule and the output tables.
    uint32_t entry = 0;
    ASSERT_TRUE(rscpT1Word(rscpmp, o.in_no, 0xC3, &entry));
    auto run = [&](Bytes in, size_t cap, int32_t* status) {
        const uint8_t* s = in.data();
        std::vector<uint8_t> out(cap + 1);
        uint8_t* d = out.data();
        uint32_t rc = 0;
        *status = rscpCConvertByRules(&o, &s, in.data() + in.size(), out.data(), &d, out.data() + cap, entry, &rc);
        return std::pair{size_t(s - in.data()), Bytes(out.data(), d)};
    };
    int32_t st = -1;
    EXPECT_EQ(run({0xC3, 0xA9}, 4, &st), (std::pair{size_t(2), Bytes{0xE9}}));
    EXPECT_EQ(st, 0);
    EXPECT_EQ(run({0xC3}, 4, &st).first, 0u);
    EXPECT_EQ(st, 2);
    EXPECT_EQ(run({0xC3, 0xA9}, 0, &st).first, 0u);
    EXPECT_EQ(st, 1);
    EXPECT_EQ(run({0xC3, 0x2F}, 4, &st).first, 0u);  // not a continuation byte
    EXPECT_EQ(st, 4);
    // A character the target lacks, and an overlong "/", are not convertible.
    ASSERT_TRUE(rscpT1Word(rscpmp, o.in_no, 0xE2, &entry));
    EXPECT_EQ(run({0xE2, 0x82, 0xAC}, 4, &st).first, 0u);
    EXPECT_EQ(st, 4);
    ASSERT_TRUE(rscpT1Word(rscpmp, o.in_no, 0xE0, &entry));
    EXPECT_EQ(run({0xE0, 0x80, 0xAF}, 4, &st).first, 0u);
    EXPECT_EQ(st, 4);
    rscpCObj_t latin = Make("1100", "4110");
    ASSERT_EQ(rscpCActivate(&latin), 0u);
    const uint8_t ae = 0xE4;
    ASSERT_EQ(rscpCDecodeChar(&ae, 1, &latin, &no, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpCharNoToUnicode(no), 0xE4u);
}

TEST_F(Conv, DesignatedCharactersShareTheirDesignationAndKeepTheShiftState)
{
    rscpCObj_t o = Make("4110", "8200");
    ASSERT_EQ(rscpCActivate(&o), 0u);
    uint8_t buf[32];
    uint8_t* p = buf;
    for (uint32_t cp : {0x3042u, 0x3044u})
        ASSERT_EQ(rscpCEncodeOneAt(&o, buf, &p, buf + sizeof buf, cp), 0u);
    EXPECT_EQ(Bytes(buf, p), (Bytes{0x1B, '$', 'B', 0x24, 0x22, 0x24, 0x24, 0x1B, '(', 'B'}));
    EXPECT_EQ(o.iso2022 >> 24 & 0xF, 1u);
    ASSERT_EQ(rscpCEncodeOneAt(&o, buf, &p, buf + sizeof buf, 'a'), 0u);
    ASSERT_EQ(rscpCEncodeOneAt(&o, buf, &p, buf + sizeof buf, 0x3042), 0u);
    EXPECT_EQ(Bytes(buf + 10, p), (Bytes{'a', 0x1B, '$', 'B', 0x24, 0x22, 0x1B, '(', 'B'}));
    // Without room nothing is written, not even over the return sequence.
    uint8_t* before = p;
    EXPECT_EQ(rscpCEncodeOneAt(&o, buf, &p, p + 1, 0x3044), RSCPETOOLONG);
    EXPECT_EQ(p, before);
    EXPECT_EQ(Bytes(buf + 16, p), (Bytes{0x1B, '(', 'B'}));
    // The output written so far is never looked at before its start.
    uint8_t other[8];
    uint8_t* q = other;
    ASSERT_EQ(rscpCEncodeOneAt(&o, other, &q, other + 8, 0x3044), 0u);
    EXPECT_EQ(q - other, 8);

    // A re-activation served from the activation cache keeps the shift state
    // and the substitution count; one that must reload in a shifted state is
    // refused instead of losing it.
    o.iso2022 |= 3u << 10;
    o.noof_subst = 4;
    rscpCObj_t copy = o;
    ASSERT_EQ(rscpCActivateSides(&o, 0, 1, 1, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(o.iso2022 >> 10 & 0xF, 3u);
    EXPECT_EQ(o.iso2022 >> 24 & 0xF, 1u);
    EXPECT_EQ(o.noof_subst, 4u);
    ASSERT_EQ(rscpict3_invalidate_convert_tables(0, 0, "test", 4, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpCReactivateIfNeeded(&copy), RSCPENOCONV);
    EXPECT_EQ(LastId(), "Cannot re-org during shifted ISO-2022 input state");
    EXPECT_EQ(copy.iso2022 >> 10 & 0xF, 3u);
    // The ISO-2022 input side rules out the copying methods.
    rscpCObj_t fromJis = Make("8200", "1100");
    EXPECT_EQ(rscpCActivate(&fromJis), RSCPENOCONV);
    EXPECT_EQ(LastId().rfind("'8200'->'1100': NLS_JIS->NLS_not cannot combine", 0), 0u) << LastId();
}

TEST_F(Conv, ShortcutTablesWriteTargetBytesAndAreFoundAgain)
{
    // 1252 to 7-bit ASCII: both pages can be shortcut.
    rscpCObj_t o = Make("1160", "1101");
    rscpCSetOwnCh(&o, RSCPOWN_IGNORE);
    ASSERT_EQ(rscpCActivate(&o), 0u) << LastId();
    ASSERT_EQ(o.method, 4);
    const rscpCpInfo_t* in = rscpFindCodePage("1160");
    EXPECT_NE(o.in_no, in->in[1].root);
    EXPECT_EQ(in->scCount[0], 1);
    EXPECT_EQ(rscpFindCodePage("1101")->scCount[1], 1);
    uint32_t w = 0;
    ASSERT_TRUE(rscpT1Word(rscpmp, o.in_no, 'A', &w));
    EXPECT_EQ(w & 0xE00000FFu, 0x80000041u);  // writes 0x41 itself
    ASSERT_TRUE(rscpT1Word(rscpmp, o.in_no, 0xE9, &w));
    EXPECT_EQ(rscpT1Kind(w), RSCP_T1_CHAR);  // no ASCII code: left to the tables
    ASSERT_TRUE(rscpT1Word(rscpmp, in->in[1].root, 'A', &w));
    EXPECT_EQ(rscpT1Kind(w), RSCP_T1_CHAR);  // the code page's own table is unchanged
    // Decoding still reads the code page's own table.
    const uint8_t e = 0xE9;
    uint32_t no = 0;
    ASSERT_EQ(rscpCDecodeChar(&e, 1, &o, &no, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpCharNoToUnicode(no), 0xE9u);

    // The next activation finds the record and copies nothing.
    rscpActivationCacheReset();
    const uint32_t top = rscpmp->firstT7, low = rscpmp->endT1;
    rscpCObj_t again = Make("1160", "1101");
    rscpCSetOwnCh(&again, RSCPOWN_IGNORE);
    ASSERT_EQ(rscpCActivate(&again), 0u);
    EXPECT_EQ(again.in_no, o.in_no);
    EXPECT_EQ(rscpmp->firstT7, top);
    EXPECT_EQ(rscpmp->endT1, low);

    // No room for the copy (the tables themselves are there): the cache is
    // reorganised and tried again; when that fails too the activation says
    // so and the cache stays sound.
    ASSERT_EQ(rscplcc__load_control_codes(6, rscpFindCodePage("1101")), 0u);
    ASSERT_EQ(rscplcc__load_control_codes(22, rscpFindCodePage("1160")), 0u);
    rscpCObj_t back = Make("1101", "1160");
    rscpCSetOwnCh(&back, RSCPOWN_IGNORE);
    rscpmlSetAllocationBudget(0);
    EXPECT_EQ(rscpCActivate(&back), RSCPETOOLONG);
    rscpmlSetAllocationBudget(-1);
    // (the cache keeps 36 characters of the reason)
    EXPECT_TRUE(cpcache_test::Contains(cpcache_test::g_out2, "because of Overflow. Enter T1shortcut 1101->116"));
    EXPECT_TRUE(cpcache_test::Contains(cpcache_test::g_out2, "because of Overflow. Loading 1101 for input."));
    uint32_t errors = 0, warnings = 0;
    const rscpeSinkFunc quiet = [](const char*, int32_t, rscpeOutputFunc) {};
    rscpqc_quality_check(quiet, nullptr, quiet, nullptr, 3, &errors, &warnings);
    EXPECT_EQ(errors, 0u);
    rscpCObj_t later = Make("1101", "1160");
    rscpCSetOwnCh(&later, RSCPOWN_IGNORE);
    ASSERT_EQ(rscpCActivate(&later), 0u);
    EXPECT_NE(later.in_no, rscpFindCodePage("1101")->in[1].root);
}

TEST_F(Conv, RangeRulesMapCharactersOntoByteSequencesBothWays)
{
    // A four-byte range of the GB 18030 kind: U+10000 is 90 30 81 30.
    const uint8_t start[4] = {0x90, 0x30, 0x81, 0x30}, low[4] = {0x81, 0x30, 0x81, 0x30},
                  high[4] = {0xFE, 0x39, 0xFE, 0x39};
    const int32_t got = prepareXMLRule("10000,10FFFF90308130", 20, "81308130,FE39FE39", 17, 0x10000, 0x10FFFF, 4, start,
                                       low, high);
    ASSERT_GE(got, 0);
    const uint32_t slot = uint32_t(got);

    rscpCObj_t o = Make("4110", "1100");
    ASSERT_EQ(rscpCActivate(&o), 0u);
    const uint16_t page = uint16_t(0x4000 | slot << 7 | 68);
    std::memcpy(reinterpret_cast<uint8_t*>(rscpmp) + o.out_no + 2 * (0x10000 >> 7), &page, 2);
    EXPECT_EQ(Encode(o, 0x10000).second, (Bytes{0x90, 0x30, 0x81, 0x30}));
    EXPECT_EQ(Encode(o, 0x1007F).second, (Bytes{0x90, 0x30, 0x8D, 0x37}));

    rscpCObj_t u8 = Make("1100", "4110");
    ASSERT_EQ(rscpCActivate(&u8), 0u);
    const uint32_t entry = 3u << 29 | 4u << 24 | slot << 13 | 68;
    for (auto [in, want, status] : {std::tuple{Bytes{0x90, 0x30, 0x81, 0x30}, Bytes{0xF0, 0x90, 0x80, 0x80}, 0},
                                    std::tuple{Bytes{0xE3, 0x32, 0x9A, 0x35}, Bytes{0xF4, 0x8F, 0xBF, 0xBF}, 0},
                                    std::tuple{Bytes{0x90, 0x3A, 0x81, 0x30}, Bytes{}, 4},     // byte out of range
                                    std::tuple{Bytes{0xFE, 0x39, 0xFE, 0x39}, Bytes{}, 4}}) {  // past the last
        const uint8_t* s = in.data();
        uint8_t out[8];
        uint8_t* d = out;
        uint32_t rc = 0;
        EXPECT_EQ(rscpCConvertByRules(&u8, &s, in.data() + 4, out, &d, out + 8, entry, &rc), status);
        EXPECT_EQ(Bytes(out, d), want);
    }
    // A slot not in use is no character at all.
    const uint32_t unused = 3u << 29 | 4u << 24 | (slot + 1) << 13 | 68;
    const Bytes in{0x90, 0x30, 0x81, 0x30};
    const uint8_t* s = in.data();
    uint8_t out[8];
    uint8_t* d = out;
    uint32_t rc = 0;
    EXPECT_EQ(rscpCConvertByRules(&u8, &s, in.data() + 4, out, &d, out + 8, unused, &rc), 4);
}

std::vector<std::string> g_lines;
void Collect(const char* text, int32_t length)
{
    g_lines.emplace_back(text, size_t(length));
}

TEST_F(Conv, TableInspectionPrintsEntriesTheDumpAndTheActivationCache)
{
    rscpCObj_t o = Make("4110", "1100");
    ASSERT_EQ(rscpCActivate(&o), 0u);
    auto look = [](int32_t what, std::vector<uint8_t> key) {
        g_lines.clear();
        const uint32_t rc = rscpls__look_single(what, key.data(), Collect, RSCP_ALL_ERRORS);
        return rc;
    };
    auto key32 = [](uint32_t v, std::vector<uint8_t> rest) {
        uint8_t b[4];
        std::memcpy(b, &v, 4);
        std::vector<uint8_t> k(b, b + 4);
        for (uint8_t r : rest)
            k.push_back(r);
        return k;
    };
    ASSERT_EQ(look(1, key32(o.in_no, {0xC3})), 0u);
    EXPECT_EQ(g_lines.at(0).rfind("T1[" + std::to_string(o.in_no) + "][c3]= rule", 0), 0u) << g_lines[0];
    ASSERT_EQ(look(4, key32(o.in_no, {1, 1})), 0u);
    EXPECT_NE(g_lines.at(0).find("[tr]= empty"), std::string::npos) << g_lines[0];
    rscpCObj_t back = Make("1100", "4110");
    ASSERT_EQ(rscpCActivate(&back), 0u);
    ASSERT_EQ(look(2, key32(back.out_no, {0x00, 0x08, 0x00})), 0u);
    EXPECT_NE(g_lines.at(0).find("= out_rule_U8_3   ( 51)"), std::string::npos) << g_lines[0];
    ASSERT_EQ(look(3, {}), 0u);
    EXPECT_EQ(g_lines, (std::vector<std::string>{"max.KOV char.no=" + std::to_string(rscpmp->maxKovCode),
                                                 "max.  U char.no=" + std::to_string(rscpmp->maxKovChar)}));
    uint16_t e = 0;
    ASSERT_TRUE(rscpT2Entry(rscpmp, o.out_no, 0, &e));
    ASSERT_EQ(look(5, key32(e & 0x7FFF, {0, 0, 0x41})), 0u);
    EXPECT_EQ(g_lines.at(0), "T3[" + std::to_string(e & 0x7FFF) + "][x+ 65]=           41");
    std::vector<uint8_t> range = key32(o.out_no, {});
    for (uint32_t v : {0u, 5u})
        for (uint8_t b : key32(v, {}))
            range.push_back(b);
    ASSERT_EQ(look(6, range), 0u);
    ASSERT_EQ(g_lines.size(), 4u);
    EXPECT_NE(g_lines[2].find("= *sorry' "), std::string::npos) << g_lines[2];
    EXPECT_NE(g_lines[3].find("][ ...  "), std::string::npos) << g_lines[3];
    ASSERT_EQ(look(8, {}), 0u);
    ASSERT_GT(g_lines.size(), 2u);
    EXPECT_EQ(g_lines[0].size(), 72u);
    EXPECT_NE(std::find(g_lines.begin(), g_lines.end(), "..."), g_lines.end());
    ASSERT_EQ(look(9, {}), 0u);
    EXPECT_EQ(g_lines.at(0), "| rscpCActivate's cache:");
    EXPECT_EQ(g_lines.at(1).rfind("|  1 cnt=         1 key=", 0), 0u) << g_lines[1];
    rscpActivationCacheReset();
    ASSERT_EQ(look(9, {}), 0u);
    EXPECT_EQ(g_lines.at(0), "| rscpCActivate's cache is empty.");
    EXPECT_EQ(look(10, {}), RSCPEINTERN);
    EXPECT_EQ(LastId(), "illegal parameter");
}

TEST_F(Conv, IconFormsOfOwnCharacters)
{
    const uint32_t cp = rscpKey2ToNumber('A', 'z');
    const std::pair<int32_t, Bytes> forms[] = {
        {53, {0xF8, 0xFD, 0x00, 'A', 0x00, 'z'}},
        {54, {0xFD, 0xF8, 'A', 0x00, 'z', 0x00}},
        {55, {0xEF, 0xA3, 0xBD, 'A', 'z'}},
        {56, {0, 0, 0xF8, 0xFD, 0, 0, 0, 'A', 0, 0, 0, 'z'}},
        {57, {0xFD, 0xF8, 0, 0, 'A', 0, 0, 0, 'z', 0, 0, 0}},
    };
    for (const auto& [rule, bytes] : forms) {
        uint8_t out[12];
        uint8_t* p = out;
        int32_t st = -1;
        rscpCWriteIcon(cp, rule, &p, out + bytes.size(), &st);
        EXPECT_EQ(st, 0);
        EXPECT_EQ(Bytes(out, p), bytes) << rule;
        p = out;
        rscpCWriteIcon(cp, rule, &p, out + bytes.size() - 1, &st);
        EXPECT_EQ(st, 1);
        EXPECT_EQ(p, out);
    }
}

}  // namespace

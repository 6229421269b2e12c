// Converter objects and the activation cache across invalidations and
// reorganisations of the converter cache: whatever a reorganisation throws
// away must never be used again, neither by an object a caller holds nor by
// a copy the activation cache hands out.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cpccc.h"
#include "krn/rscp/cphook.h"
#include "tests/unit/krn/cpengine_fixture.h"

using cpengine_test::Out;

namespace {

class Stale : public cpengine_test::EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        rscph_SetWaitBeforeClearingFunc([](uint32_t) { return 0u; });
        rscpActivationCacheReset();
    }
    void TearDown() override
    {
        rscpActivationCacheReset();
        rscph_SetWaitBeforeClearingFunc(nullptr);
        EngineTest::TearDown();
    }
    static uint32_t Invalidate() { return rscpict3_invalidate_convert_tables(0, 0, "unit test", 9, RSCP_ALL_ERRORS); }
    static std::pair<uint32_t, std::string> Conv(rscpCObj_t& o, const std::string& text)
    {
        const Out r = Run(o, text, 4 * text.size() + 16);
        return {r.rc, r.bytes};
    }
};

// Fault: an object activated between an invalidation and the reorganisation
// that followed it kept the generation of the rebuilt cache, so its table
// numbers (and the activation cache's copy of it) then named whatever pair
// was loaded next: a new 4110->1401 object converted Cyrillic as 1251 with
// status 0 and refused Latin-2.
TEST_F(Stale, AnObjectFromBeforeAReorganisationNeverUsesAnotherPairsTable)
{
    rscpCObj_t a = Make("4110", "1160");
    EXPECT_EQ(Conv(a, "x\xC3\xA9"), std::make_pair(0u, std::string("x\xE9")));
    ASSERT_EQ(Invalidate(), 0u);
    rscpCObj_t b = Make("4110", "1401");
    EXPECT_EQ(Conv(a, "x\xC3\xA9").second, "x\xE9");  // reorganises the cache
    rscpCObj_t d = Make("4110", "1504");
    EXPECT_EQ(Conv(d, "\xD0\x96\xD0\xB6"), std::make_pair(0u, std::string("\xC6\xE6")));
    rscpCObj_t c = Make("4110", "1401");
    for (rscpCObj_t* o : {&c, &b}) {
        EXPECT_EQ(Conv(*o, "\xC5\xA0\xC5\xBD"), std::make_pair(0u, std::string("\xA9\xAE")));
        EXPECT_EQ(Conv(*o, "\xD0\x96\xD0\xB6"), std::make_pair(0u, std::string("##")))
            << "Cyrillic has no place in Latin-2";
    }
}

// A seeded random mix of activations, invalidations, reorganisations and
// conversions; every conversion, by a held object or a new one, must give
// what a fresh object gave on the clean cache.
TEST_F(Stale, RandomMixAgreesWithFreshObjects)
{
    const std::vector<const char*> pages = {"1100", "1160", "1401", "1500", "1504", "1610", "1700", "1800", "1404"};
    const std::vector<std::string> texts = {"plain",
                                            "\xC3\xA9t\xC3\xA9",
                                            "\xD0\x96\xD0\xB6",
                                            "\xC5\xA0\xC5\xBD",
                                            "\xCE\xB1\xCE\xB2",
                                            "\xC4\x9F\xC5\x9F",
                                            "\xD7\xA9\xD7\x9C",
                                            "\xE2\x82\xAC"};
    std::map<std::pair<size_t, size_t>, std::pair<uint32_t, std::string>> expected;
    for (size_t p = 0; p < pages.size(); ++p) {
        rscpCObj_t fresh = Make("4110", pages[p]);
        for (size_t t = 0; t < texts.size(); ++t)
            expected[{p, t}] = Conv(fresh, texts[t]);
    }

    std::mt19937 rng(4711);
    struct Held {
        rscpCObj_t obj;
        size_t page;
    };
    std::vector<Held> held;
    int conversions = 0;
    for (int step = 0; step < 600; ++step) {
        const unsigned op = rng() % 10;
        const size_t page = rng() % pages.size();
        const size_t text = rng() % texts.size();
        if (op == 0) {
            ASSERT_EQ(Invalidate(), 0u) << "step " << step;
        } else if (op == 1) {
            ASSERT_EQ(rscpnr__need_reorg(0, RSCP_ALL_ERRORS), 0u) << "step " << step;
        } else if (op <= 4 || held.empty()) {
            if (held.size() < 6)
                held.push_back({Make("4110", pages[page]), page});
            else
                held[rng() % held.size()] = {Make("4110", pages[page]), page};
            rscpCObj_t fresh = Make("4110", pages[page]);
            EXPECT_EQ(Conv(fresh, texts[text]), expected[std::make_pair(page, text)])
                << "step " << step << " new 4110->" << pages[page] << " text " << text;
            ++conversions;
        } else {
            Held& h = held[rng() % held.size()];
            EXPECT_EQ(Conv(h.obj, texts[text]), expected[std::make_pair(h.page, text)])
                << "step " << step << " held 4110->" << pages[h.page] << " text " << text;
            ++conversions;
        }
        if (HasFailure())
            break;
    }
    EXPECT_GT(conversions, 300);
}

}  // namespace

// Shared set-up of the conversion engine tests: a started cache, converter
// objects activated for a pair, and one buffer converted into a destination
// of a given size and alignment.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpconvert.h"
#include "tests/unit/krn/cpcache_fixture.h"

namespace cpengine_test {

struct Out {
    uint32_t rc;
    std::string bytes;
    size_t consumed;
};

class EngineTest : public cpcache_test::CacheTest {
protected:
    void SetUp() override
    {
        CacheTest::SetUp();
        ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    }
    static rscpCObj_t Make(const char* in, const char* out, int32_t miss = RSCPMISS_SUBSTITUTE,
                           int32_t broken = RSCPBROKEN_LIKE_MISS, int32_t fill = RSCPFILL_NEVER)
    {
        rscpCObj_t o;
        EXPECT_EQ(rscpCInit(&o, in, out, miss, broken, fill), 0u);
        rscpCSetCtrlCodeCv(&o, RSCPCTRL_TRY);
        EXPECT_EQ(rscpCActivate(&o), 0u) << in << "->" << out;
        return o;
    }
    // Converts into a destination of room bytes (pre-filled with 'Z') that
    // starts offset bytes into an aligned buffer.
    static Out Run(rscpCObj_t& o, const std::string& in, size_t room, size_t offset = 0)
    {
        std::vector<uint64_t> buf((room + offset) / 8 + 1);
        auto* d0 = reinterpret_cast<uint8_t*>(buf.data()) + offset;
        std::fill(d0, d0 + room, uint8_t('Z'));
        uint8_t* d = d0;
        const auto* s = reinterpret_cast<const uint8_t*>(in.data());
        const uint32_t rc = rscpCConvert(&o, &d, d0 + room, &s, s + in.size());
        return {rc, std::string(reinterpret_cast<char*>(d0), size_t(d - d0)),
                size_t(s - reinterpret_cast<const uint8_t*>(in.data()))};
    }
    // The whole text converted (by the given method instead of the
    // activated one when not 0).
    static std::string Convert(const char* in, const char* out, const std::string& text, int32_t method = 0)
    {
        rscpCObj_t o = Make(in, out);
        if (method != 0)
            o.method = method;
        const Out r = Run(o, text, 4 * text.size() + 16);
        EXPECT_EQ(r.rc, 0u) << in << "->" << out;
        EXPECT_EQ(r.consumed, text.size()) << in << "->" << out;
        return r.bytes;
    }
};

}  // namespace cpengine_test

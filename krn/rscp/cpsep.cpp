// Word separators and the characters common to all code pages, with the
// life-cycle entries that the cache start-up, fill, reorganisation and finish
// call, and the order of segment build rows.
#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: nlsvocia#1 $";

struct Separators {
    char chars[255];
    uint32_t count;
    uint8_t flags[256];
    char common[256];
    uint32_t commonCount;
    uint8_t loaded;
    uint32_t state;
    uint64_t words[2];
};
Separators g_sep = {};

}  // namespace

uint32_t rscpli__load_init(uint32_t)
{
    if (rscphTracing()) {
        rscph_HookTable.TraceEnter("rscpli__load_init", -1, nullptr, 0, nullptr);
        rscph_HookTable.TraceExit(0, nullptr, 0, nullptr);
    }
    return 0;
}

uint32_t rscpli__reset(uint32_t)
{
    g_sep.words[0] = g_sep.words[1] = 0;
    return 0;
}

uint32_t rscpli__reorg(uint32_t)
{
    return 0;
}
uint32_t rscpli__finish(uint32_t)
{
    return 0;
}

void rscpSetWordSeparators(const char* text, uint32_t length, rscpeOutputFunc out)
{
    std::memset(g_sep.chars, 0, sizeof g_sep.chars);
    if (text == nullptr) {
        for (int i = 0; i < 32; ++i)
            g_sep.chars[i] = static_cast<char>(0x20 + i);
        g_sep.count = 32;
    } else {
        size_t n = length == 0xFFFFFFFFu ? std::strlen(text) : length;
        if (n > sizeof g_sep.chars)
            n = sizeof g_sep.chars;
        std::memcpy(g_sep.chars, text, n);
        g_sep.count = static_cast<uint32_t>(n);
    }
    std::memset(g_sep.flags, 0, sizeof g_sep.flags);
    for (uint32_t i = 0; i < g_sep.count; ++i)
        g_sep.flags[static_cast<uint8_t>(g_sep.chars[i])] = 1;
    if (out != nullptr) {
        char line[64];
        snprintfR(line, sizeof line, "The number of word separators is %d", static_cast<int>(g_sep.count));
        out(line, static_cast<int32_t>(std::strlen(line)));
        if (g_sep.count <= 99)
            out(g_sep.chars, static_cast<int32_t>(g_sep.count));
    }
    std::memset(g_sep.common, ' ', sizeof g_sep.common);
    for (int i = 0; i < 128; ++i)
        g_sep.common[i] = static_cast<char>(i);
    g_sep.commonCount = 128;
    g_sep.loaded = 1;
    g_sep.state = 2;
}

uint32_t rscpReportNoCommonChars(const char* list, uint64_t* out)
{
    if (out != nullptr)
        *out = 0;
    uint32_t n = 0;
    if (list != nullptr)
        std::memcpy(&n, list, sizeof n);
    const int32_t length = list != nullptr ? static_cast<int32_t>(n > 16 ? 64 : 4 * n) : 0;
    return rscpe__error(RSCPENOOBJ, 'C', RSCP_ALL_ERRORS, kModule, 3, 188, "No common chars for code pages", "???",
                        length > 0 ? list + 4 : nullptr, length, nullptr, 0);
}

uint32_t rscpReportNoSepcpAccess()
{
    return rscpe__error(RSCPENOOBJ, 'C', RSCP_ALL_ERRORS, kModule, 2, 169, "No access to database table UMGSEPCP",
                        "???", nullptr, 0, nullptr, 0);
}

int32_t rscpli__cmp_order(const void* a, const void* b)
{
    return (static_cast<const uint8_t*>(a)[5] & 0x7F) - (static_cast<const uint8_t*>(b)[5] & 0x7F);
}

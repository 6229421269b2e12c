// Accessors of the compiled-in code page store: lookups by binary search over
// the sorted catalogue and directory, walks with process-wide cursors, and
// the text forms that the cache start-up hands on.
#include "krn/rscp/cpstore.h"

#include <cstdio>
#include <cstring>

namespace {

const char* Tcp00Row(uint32_t i)
{
    return rscpF5Tcp00 + static_cast<std::size_t>(i) * RSCP_TCP00_ROWLEN;
}

// Index of the first of count sorted records whose first n bytes are not
// below key; keyOf(i) gives record i.
template <typename KeyOf>
uint32_t LowerBound(uint32_t count, const char* key, std::size_t n, KeyOf keyOf)
{
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (std::memcmp(keyOf(mid), key, n) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

uint32_t g_tcp00Walk = 0;
char g_tcp00Code[5];
uint32_t g_segWalk = 0;
char g_segCode[6];
char g_wideRow[RSCP_TCP00_WIDELEN];
char g_segInfo[RSCP_SEGINFO_LEN];

}  // namespace

unsigned rscpRuleLen1(const rscpRuleSeg* r)
{
    const unsigned n = (r->head[0] >> 7) | ((r->head[1] & 0x0Fu) << 1);
    return n > 20 ? 20 : n;
}

unsigned rscpRuleLen2(const rscpRuleSeg* r)
{
    const unsigned n = (r->head[1] >> 4) | ((r->head[2] & 0x01u) << 4);
    return n > 20 ? 20 : n;
}

uint32_t rscpF5Tcp01Max()
{
    const uint8_t* p = rscpF5Tcp01 + static_cast<std::size_t>(rscpF5Tcp01Count + 1) * RSCP_TCP01_ROWLEN;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

const rscpSegDirRow* rscplsd__lookup_segment_dir(const char* segId)
{
    if (segId == nullptr)
        return nullptr;
    const uint32_t i = LowerBound(rscpF5SegDirCount, segId, 5, [](uint32_t k) { return rscpF5SegDir[k].id; });
    if (i < rscpF5SegDirCount && std::memcmp(rscpF5SegDir[i].id, segId, 5) == 0)
        return &rscpF5SegDir[i];
    return nullptr;
}

const char* rscplt0__lookup_tcp00(const char* codePage)
{
    if (codePage == nullptr)
        return nullptr;
    const uint32_t i = LowerBound(rscpF5Tcp00Count, codePage, 4, Tcp00Row);
    if (i >= rscpF5Tcp00Count || std::memcmp(Tcp00Row(i), codePage, 4) != 0)
        return nullptr;
    const char* row = Tcp00Row(i);
    return rscplsd__lookup_segment_dir(row + 92) != nullptr ? row : nullptr;
}

void rscpct0__copy_tcp00_row(char* out113, const char* row97)
{
    std::memcpy(out113, row97, 86);
    std::memset(out113 + 86, '0', 16);
    std::memcpy(out113 + 102, row97 + 86, 6);
    std::memcpy(out113 + 108, row97 + 92, 5);
}

const char* rscpgt0__get_tcp00_row(const char* codePage)
{
    const char* row = rscplt0__lookup_tcp00(codePage);
    if (row == nullptr)
        return nullptr;
    rscpct0__copy_tcp00_row(g_wideRow, row);
    return g_wideRow;
}

const char* rscpgsd__get_segment_info(const char* segId)
{
    const rscpSegDirRow* d = rscplsd__lookup_segment_dir(segId);
    if (d == nullptr)
        return nullptr;
    static const char kLetters[4] = {' ', 'M', 'R', 'S'};
    std::memset(g_segInfo, ' ', sizeof g_segInfo);
    std::memcpy(g_segInfo, d->id, 5);
    g_segInfo[5] = kLetters[d->kind & 3u];
    return g_segInfo;
}

int rscpnt1__next_tcp01_row(char* row41, const uint8_t** cursor)
{
    std::memset(row41, ' ', RSCP_TCP01_TEXTLEN);
    const uint8_t* p = *cursor;
    if ((p[0] | p[1] | p[2] | p[3] | p[4]) == 0)
        return 0;
    // "%05u" of the 16-bit number and "%06lX" of the 24-bit character,
    // written digit by digit: the cache build reads every row at start-up.
    unsigned number = static_cast<unsigned>(p[0]) << 8 | p[1];
    for (int i = 4; i >= 0; --i, number /= 10)
        row41[i] = static_cast<char>('0' + number % 10);
    const uint32_t ch = static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 8 | p[4];
    for (int i = 0; i < 6; ++i)
        row41[35 + i] = "0123456789ABCDEF"[ch >> (20 - 4 * i) & 0xFu];
    *cursor = p + RSCP_TCP01_ROWLEN;
    return 1;
}

const char* rscpft0__first_tcp00_code()
{
    g_tcp00Walk = 0;
    if (Tcp00Row(0)[0] == ' ')
        return nullptr;
    std::memcpy(g_tcp00Code, Tcp00Row(0), 4);
    g_tcp00Code[4] = '\0';
    return g_tcp00Code;
}

const char* rscpnt0__next_tcp00_code()
{
    // The blank row at index rscpF5Tcp00Count ends the walk; the cursor never
    // moves past it.
    const char* row = Tcp00Row(g_tcp00Walk);
    if (row[0] == ' ')
        return nullptr;
    std::memcpy(g_tcp00Code, row, 4);
    g_tcp00Code[4] = '\0';
    ++g_tcp00Walk;
    return g_tcp00Code;
}

const char* rscpfsd__first_segment()
{
    g_segWalk = 0;
    if (rscpF5SegDir[0].id[0] == ' ')
        return nullptr;
    std::memcpy(g_segCode, rscpF5SegDir[0].id, 5);
    g_segCode[5] = '\0';
    return g_segCode;
}

const char* rscpnsd__next_segment()
{
    const rscpSegDirRow& d = rscpF5SegDir[g_segWalk];
    if (d.id[0] == ' ')
        return nullptr;
    std::memcpy(g_segCode, d.id, 5);
    g_segCode[5] = '\0';
    ++g_segWalk;
    return g_segCode;
}

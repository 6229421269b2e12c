// Segment index mapping of multi-byte characters: a segment maps a range of
// consecutive indexes onto every byte sequence whose bytes lie in fixed
// per-position ranges, the last byte varying fastest.  A descriptor is table
// data, so neither direction trusts it: a zero or negative weight, or an
// index that would give a byte outside its position's range, is refused
// instead of dividing by zero or producing bytes the segment does not hold.
#include "krn/rscp/cpobject.h"
#include "nls/kovstr.h"

int32_t rscpSegIndexToBytes(const rscpSegDesc_t* seg, uint32_t index, uint8_t* bytes, int32_t* length, int32_t room)
{
    const int32_t n = seg->byteCount;
    if (n > room)
        return 1;
    const int32_t rel = static_cast<int32_t>(index - seg->baseIndex);
    if (rel < 0)
        return 2;
    if (index > seg->highIndex)
        return 3;
    if (n < 1 || n > 4)
        return 4;
    uint8_t out[4];
    uint32_t rest = static_cast<uint32_t>(rel);
    for (int32_t i = 0; i < n; ++i) {
        uint32_t step = rest;
        if (i < n - 1) {
            if (seg->pos[i].weight <= 0)
                return 4;
            const uint32_t w = static_cast<uint32_t>(seg->pos[i].weight);
            step = rest / w;
            rest %= w;
        }
        if (seg->pos[i].high < seg->pos[i].low || step > static_cast<uint32_t>(seg->pos[i].high - seg->pos[i].low))
            return 3;
        out[i] = static_cast<uint8_t>(seg->pos[i].low + step);
    }
    for (int32_t i = 0; i < n; ++i)
        bytes[i] = out[i];
    *length = n;
    return 0;
}

int32_t rscpSegBytesToIndex(const rscpSegDesc_t* seg, uint32_t* index, const uint8_t* bytes, int32_t length)
{
    const int32_t n = seg->byteCount;
    if (n > length)
        return 1;
    if (n < 1 || n > 4)
        return 5;
    uint64_t sum = seg->baseIndex;
    for (int32_t i = 0; i < n; ++i) {
        if (bytes[i] < seg->pos[i].low || bytes[i] > seg->pos[i].high)
            return 1;
        if (seg->pos[i].weight < 0)
            return 5;
        sum += static_cast<uint64_t>(bytes[i] - seg->pos[i].low) * static_cast<uint32_t>(seg->pos[i].weight);
    }
    if (sum > UINT32_MAX)
        return 4;
    const uint32_t ix = static_cast<uint32_t>(sum);
    if (ix < seg->lowIndex)
        return 3;
    if (ix > seg->highIndex)
        return 4;
    *index = ix;
    return 0;
}

const char* rscpBlockRangeText(uint32_t block)
{
    static char text[30];
    const unsigned long first = static_cast<unsigned long>(block) * 128;
    snprintfR(text, sizeof text, "[%06lx..%06lx]", first, first + 127);
    return text;
}

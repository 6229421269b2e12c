// fuzz-libs: kov_kovu16
// The 16-bit formatted-input engine on hostile formats and text: the input is
// split at its first NUL byte into a format and a source, both widened byte by
// byte (high bytes become non-ASCII units).  Every conversion gets a target
// large enough for the whole source, so any write beyond it is the engine's.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "i18n/kovu16/u16_diag.h"
#include "i18n/kovu16/u16_scanf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    u16_trace_level = 0;
    size_t split = 0;
    while (split < size && data[split] != 0)
        ++split;
    std::vector<KOV_UTF16> format(data, data + split), source;
    format.push_back(0);
    if (split < size)
        source.assign(data + split + 1, data + size);
    source.push_back(0);
    size_t conversions = 0;
    for (KOV_UTF16 u : format)
        conversions += u == '%';
    if (conversions > 8)
        return 0;
    // Text targets need the source's length and a terminator; numbers 16 bytes.
    const size_t units = source.size() + 8;
    std::vector<std::vector<KOV_UTF16>> t(8, std::vector<KOV_UTF16>(units));
    sscanfU16(source.data(), format.data(), t[0].data(), t[1].data(), t[2].data(), t[3].data(), t[4].data(),
              t[5].data(), t[6].data(), t[7].data());
    // The same through a stream of the source's bytes.
    FILE* f = fmemopen(const_cast<uint8_t*>(data + (split < size ? split + 1 : size)),
                       split < size ? size - split - 1 : 0, "r");
    if (f != nullptr) {
        fscanfU16(f, format.data(), t[0].data(), t[1].data(), t[2].data(), t[3].data(), t[4].data(), t[5].data(),
                  t[6].data(), t[7].data());
        fclose(f);
    }
    return 0;
}

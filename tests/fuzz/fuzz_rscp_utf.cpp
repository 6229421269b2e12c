// fuzz-libs: kov_krn_rscp
// Arbitrary bytes through every UTF-8 decoder, every encoder into UTF-8 and
// every Japanese buffer transform, into outputs of a size the input picks
// (each on the heap, exactly as large as offered): nothing is read or written
// out of bounds, cursors and lengths stay within their buffers, and a decoder
// never produces "/", "." or NUL that was not that byte in its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "krn/rscp/cpjis.h"
#include "krn/rscp/cputf.h"

namespace {

size_t Count(const uint8_t* p, size_t n, uint8_t b)
{
    size_t k = 0;
    for (size_t i = 0; i < n; ++i)
        k += p[i] == b;
    return k;
}

// Runs one decoder (a callable over the four cursors) and checks its result.
template <typename Fn>
void Decode(Fn fn, const std::vector<uint8_t>& in, size_t cap, int width)
{
    std::vector<uint8_t> out(cap);
    const uint8_t* s = in.data();
    uint8_t* d = out.data();
    const uint32_t rc = fn(&s, in.data() + in.size(), &d, out.data() + cap);
    if (rc != 0 && rc != 32 && rc != 512 && rc != 2048)
        std::abort();
    if (s < in.data() || s > in.data() + in.size() || d < out.data() || d > out.data() + cap)
        std::abort();
    if ((d - out.data()) % width != 0)
        std::abort();
    // Only machine-order members come here: units read back as numbers.
    size_t slash = 0, dot = 0, nul = 0;
    for (const uint8_t* p = out.data(); p < d; p += width) {
        uint32_t v = 0;
        std::memcpy(&v, p, size_t(width));
        slash += v == '/';
        dot += v == '.';
        nul += v == 0;
    }
    const size_t seen = size_t(s - in.data());
    if (slash > Count(in.data(), seen, '/') || dot > Count(in.data(), seen, '.') || nul > Count(in.data(), seen, 0))
        std::abort();
}

void Decode(rscpuSubstConv_t fn, const std::vector<uint8_t>& in, size_t cap, int width, const uint32_t* subst)
{
    uint32_t count = 0;
    Decode(
        [&](const uint8_t** s, const uint8_t* se, uint8_t** d, uint8_t* de) { return fn(s, se, d, de, subst, &count); },
        in, cap, width);
}

void Plain(rscpuConv_t fn, const std::vector<uint8_t>& in, size_t cap)
{
    std::vector<uint8_t> out(cap);
    const uint8_t* s = in.data();
    uint8_t* d = out.data();
    const uint32_t rc = fn(&s, in.data() + in.size(), &d, out.data() + cap);
    if (rc != 0 && rc != 32 && rc != 512 && rc != 2048)
        std::abort();
    if (s < in.data() || s > in.data() + in.size() || d < out.data() || d > out.data() + cap)
        std::abort();
}

void Transform(uint32_t (*fn)(uint8_t*, int32_t*, const uint8_t*, int32_t*), const std::vector<uint8_t>& in, size_t cap)
{
    std::vector<uint8_t> out(cap);
    int32_t outLen = int32_t(cap), inLen = int32_t(in.size());
    const uint32_t rc = fn(out.data(), &outLen, in.data(), &inLen);
    if (rc != 0 && rc != 32 && rc != 512 && rc != 2048)
        std::abort();
    if (outLen < 0 || size_t(outLen) > cap || inLen < 0 || size_t(inLen) > in.size())
        std::abort();
    if (rc == 0 && size_t(inLen) != in.size())
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t cap = data[0];
    const uint32_t subst = data[1] & 1 ? 0x23 : 0x10FFFF + (data[1] >> 1);
    // Exactly sized copies, so that reading one byte too far is caught.
    const std::vector<uint8_t> in(data + 2, data + size);

    for (const uint32_t* sub : {static_cast<const uint32_t*>(nullptr), &subst}) {
        Decode(rscpu82r_utf8_to_ucs2, in, cap, 2, sub);
        Decode(rscpu82r_utf8_to_ucs2_nocc, in, cap, 2, sub);
        Decode(rscpu84r_utf8_to_ucs4, in, cap, 4, sub);
        Decode(rscpu84r_utf8_to_ucs4_nocc, in, cap, 4, sub);
        Decode(rscpu86r_utf8_to_utf16, in, cap, 2, sub);
        Decode(rscpu86r_utf8_to_utf16_nocc, in, cap, 2, sub);
        Decode(rscpu86r_utf8_to_utf16_subst, in, cap, 2, sub);
    }
    for (rscpuSubstConv_t fn : {rscpu82w_utf8_to_ucs2, rscpu84w_utf8_to_ucs4_nocc, rscpu86w_utf8_to_utf16}) {
        std::vector<uint8_t> out(cap);
        const uint8_t* s = in.data();
        uint8_t* d = out.data();
        fn(&s, in.data() + in.size(), &d, out.data() + cap, &subst, nullptr);
    }
    for (rscpuConv_t fn : {rscpu82w_utf8_to_ucs2_fast, rscpu84w_utf8_to_ucs4_fast, rscpu86w_utf8_to_utf16_fast})
        Plain(fn, in, cap);
    Decode(rscpu82r_utf8_to_ucs2_fast, in, cap, 2);
    Decode(rscpu84r_utf8_to_ucs4_fast, in, cap, 4);
    Decode(rscpu86r_utf8_to_utf16_fast, in, cap, 2);
    for (rscpuConv_t fn : {rscpu46r_ucs4_to_utf16, rscpu46r_utf16_to_ucs4, rscpu66r_check_utf16, rscpu82r_ucs2_to_utf8,
                           rscpu82w_ucs2_to_utf8_nocc, rscpu84r_ucs4_to_utf8, rscpu84w_ucs4_to_utf8_nocc,
                           rscpu84w_ucs4_to_utf8_subst, rscpu86r_utf16_to_utf8, rscpu86w_utf16_to_utf8_nocc,
                           rscpu86r_utf16_to_utf8_loose, rscpu86r_utf16_to_utf8_subst})
        Plain(fn, in, cap);

    for (auto fn : {rscpSjisRunToEuc, rscpEucToSjisBuf, rscpEucToSjisL1Buf, rscpIso2022ToSjisBuf,
                    rscpIso2022ToSjisL1Buf, rscpIso2022ToEucBuf, rscpEucToIso2022Buf, rscpSjisToIso2022Buf,
                    rscpSjisToIso2022L1Buf, rscpSjisToFsShiftBuf, rscpSjisToFsShiftL1Buf, rscpSjisToGsShiftBuf,
                    rscpSjisToGsShiftL1Buf, rscpSjisToCellsBuf, rscpSjisToCellsL1Buf, rscpSjisToEucBuf})
        Transform(fn, in, cap);
    int32_t left = int32_t(in.size());
    for (size_t i = 0; i < in.size(); ++i, --left)
        if (rscpEucCharLen(in.data() + i, left) > left)
            std::abort();
    return 0;
}

// fuzz-libs: kov_cslib kov_nls
// Decompresses arbitrary bytes on a fresh handle, in input and output pieces
// chosen by the first two bytes.  Any input must end in result 1 or an error:
// no crash, no out-of-bounds access, no endless sequence of empty steps.
// Flag bits of the third byte: 1 patch in the magic, 2 detailed mode,
// 4 decode the stream a second time on the same work area, which must give
// the same result and bytes (no state of the earlier stream may leak in),
// 8 compress the bytes on the handle first, leaving coder state in the area.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cslib/cslib.h"

namespace {

struct Outcome {
    int rc = 0;
    size_t produced = 0;
    uint64_t hash = 1469598103934665603ull;  // FNV-1a over the bytes produced
};

Outcome Decode(int handle, const std::vector<uint8_t>& stream, size_t inPiece, size_t outPiece)
{
    Outcome res;
    std::vector<uint8_t> out(outPiece);
    size_t pos = 0;
    int option = CS_INIT_DECOMPRESS;
    int idle = 0;
    for (int calls = 0; calls < 200000; ++calls) {
        size_t piece = option ? std::max<size_t>(inPiece, 8) : inPiece;
        const int32_t inLen = static_cast<int32_t>(std::min(piece, stream.size() - pos));
        int32_t r = -1;
        int32_t w = -1;
        res.rc = CsRDecompress(handle, stream.data() + pos, inLen, out.data(), static_cast<int32_t>(out.size()), option,
                               &r, &w);
        option = 0;
        if (res.rc < 0)
            break;
        if (r < 0 || w < 0 || r > inLen || w > static_cast<int32_t>(out.size()))
            std::abort();
        for (int32_t i = 0; i < w; ++i)
            res.hash = (res.hash ^ out[static_cast<size_t>(i)]) * 1099511628211ull;
        pos += static_cast<size_t>(r);
        res.produced += static_cast<size_t>(w);
        if (res.rc == CS_END_OF_STREAM)
            break;
        idle = (r == 0 && w == 0) ? idle + 1 : 0;
        if (idle > 3)
            std::abort();  // the library must refuse, not idle
        if (res.produced > (4u << 20))
            break;
    }
    return res;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const size_t inPiece = 1 + (data[0] % 64) * (data[0] >= 192 ? 64 : 1);
    const size_t outPiece = 1 + (data[1] % 128) * (data[1] >= 128 ? 128 : 1);
    const uint8_t flags = data[2];
    std::vector<uint8_t> stream(data + 3, data + size);
    if ((flags & 1) && stream.size() >= 8) {
        // Help the search past the magic check.
        stream[5] = 0x1F;
        stream[6] = 0x9D;
    }
    CsSetTraceLevel((flags & 2) ? 1 : 0);

    int handle = 0;
    if (CsGetHandle(&handle) != 0)
        std::abort();
    if ((flags & 8) && !stream.empty()) {
        std::vector<uint8_t> z(stream.size() * 2 + 64);
        int32_t r = 0;
        int32_t w = 0;
        CsRCompress(handle, static_cast<int32_t>(stream.size()), stream.data(), static_cast<int32_t>(stream.size()),
                    z.data(), static_cast<int32_t>(z.size()), CS_INIT_COMPRESS | CS_LZC, &r, &w);
    }
    const Outcome first = Decode(handle, stream, inPiece, outPiece);
    if (flags & 4) {
        const Outcome again = Decode(handle, stream, inPiece, outPiece);
        if (again.rc != first.rc || again.produced != first.produced || again.hash != first.hash)
            std::abort();
    }
    CsReleaseHandle(handle);
    CsSetTraceLevel(0);
    return 0;
}

// fuzz-libs: kov_cslib kov_nls
// Compress-then-decompress with fuzzer-chosen level and piece sizes: the
// data must come back unchanged, and the deterministic coder's output must
// not depend on the piece sizes.
#include "cslib/cslib.h"
#include "cslib/huff.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Compress(void* area, const uint8_t* data, size_t size, int level, bool det, size_t inPiece, size_t outPiece)
{
    Bytes z, out(outPiece);
    size_t pos = 0;
    bool first = true;
    for (;;) {
        const size_t n = std::min(inPiece, size - pos);
        int32_t rd, wr;
        const int rc = CsHuffCompress(area, first, level, false, static_cast<int32_t>(size), data + pos,
                                      static_cast<int32_t>(n), out.data(), static_cast<int32_t>(out.size()), &rd, &wr,
                                      det);
        first = false;
        pos += static_cast<size_t>(rd);
        z.insert(z.end(), out.begin(), out.begin() + wr);
        if (rc == CS_END_OF_STREAM)
            return z;
        if (rc < 0)
            std::abort();
    }
}

Bytes Decompress(void* area, const Bytes& z, size_t inPiece, size_t outPiece)
{
    Bytes u, out(outPiece);
    size_t pos = 0;
    bool first = true;
    for (;;) {
        const size_t n = std::min(first ? std::max<size_t>(inPiece, 8) : inPiece, z.size() - pos);
        int32_t rd, wr;
        const int rc = CsHuffDecompress(area, first, z.data() + pos, static_cast<int32_t>(n), out.data(),
                                        static_cast<int32_t>(out.size()), &rd, &wr);
        first = false;
        pos += static_cast<size_t>(rd);
        u.insert(u.end(), out.begin(), out.begin() + wr);
        if (rc == CS_END_OF_STREAM)
            return u;
        if (rc < 0 || (rc == CS_END_INBUFFER && pos >= z.size()))
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const int level = data[0] % 11;  // 0 and 10 fall back to 2
    const bool det = (data[0] & 0x80) == 0;
    const size_t inPiece = 1 + static_cast<size_t>(data[1]) * 37;
    const size_t outPiece = 8 + static_cast<size_t>(data[2]) * 29;
    data += 3;
    size -= 3;
    static void* carea = std::malloc(CsHuffComprStateSize());
    static void* darea = std::malloc(CsHuffDecomprStateSize());
    const Bytes z = Compress(carea, data, size, level, det, inPiece, outPiece);
    if (det && Compress(carea, data, size, level, det, size + 1, 1 << 18) != z)
        std::abort();
    const Bytes u = Decompress(darea, z, outPiece, inPiece);
    if (u != Bytes(data, data + size))
        std::abort();
    return 0;
}

// fuzz-libs: kov_cslib kov_nls
// Decoder on arbitrary bit streams behind a valid header, fed in pieces of
// fuzzer-chosen sizes: it must end with a result code, never crash, read or
// write out of bounds, or write more than the header's length.
#include "cslib/csheader.h"
#include "cslib/cslib.h"
#include "cslib/huff.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const size_t inPiece = 1 + data[0] % 64 * (data[0] & 0x40 ? 97 : 1);
    const size_t outPiece = 1 + static_cast<size_t>(data[1]) * (data[1] & 0x80 ? 257 : 3);
    const int32_t length = static_cast<int32_t>(data[2] | (data[3] << 8)) * 2;  // up to 128 KiB
    std::vector<uint8_t> stream(8);
    CsWriteHeader(stream.data(), length, CS_ALG_LZH, 0, 2);
    stream.insert(stream.end(), data + 4, data + size);

    static void* area = std::malloc(CsHuffDecomprStateSize());
    std::vector<uint8_t> out(outPiece);
    size_t pos = 0, produced = 0;
    bool first = true;
    for (;;) {
        const size_t n = std::min(first ? std::max<size_t>(inPiece, 8) : inPiece, stream.size() - pos);
        int32_t rd = -1, wr = -1;
        const int rc = CsHuffDecompress(area, first, stream.data() + pos, static_cast<int32_t>(n), out.data(),
                                        static_cast<int32_t>(out.size()), &rd, &wr);
        first = false;
        if (rd < 0 || wr < 0 || static_cast<size_t>(rd) > n || static_cast<size_t>(wr) > out.size())
            std::abort();
        pos += static_cast<size_t>(rd);
        produced += static_cast<size_t>(wr);
        if (produced > static_cast<size_t>(length))
            std::abort();
        if (rc == CS_END_OF_STREAM) {
            if (produced != static_cast<size_t>(length))
                std::abort();
            break;
        }
        if (rc < 0)
            break;
        if (rc == CS_END_INBUFFER && pos >= stream.size())
            break;
        if (rc != CS_END_INBUFFER && rc != CS_END_OUTBUFFER)
            std::abort();
    }
    return 0;
}

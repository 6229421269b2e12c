// Helpers of the codec tests: drive the coder and the decoder over a whole
// stream with chosen input and output piece sizes, and make test data.
#pragma once

#include "cslib/cslib.h"
#include "cslib/huff.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace hufftest {

using Bytes = std::vector<uint8_t>;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using WorkArea = std::unique_ptr<void, FreeDeleter>;

inline WorkArea NewCompressArea()
{
    return WorkArea(std::malloc(CsHuffComprStateSize()));
}
inline WorkArea NewDecompressArea()
{
    return WorkArea(std::malloc(CsHuffDecomprStateSize()));
}

struct Result {
    int rc = 0;
    Bytes data;
};

// Compresses data as one stream, offering at most inPiece input and outPiece
// output bytes per step (outPiece >= 8).
inline Result Compress(void* area, const Bytes& data, int level, bool deterministic = true, size_t inPiece = 1 << 30,
                       size_t outPiece = 1 << 20)
{
    Result r;
    Bytes buf(outPiece);
    size_t pos = 0;
    bool first = true;
    for (int guard = 0; guard < 10000000; ++guard) {
        const size_t n = std::min(inPiece, data.size() - pos);
        int32_t rd = 0, wr = 0;
        const int rc = CsHuffCompress(area, first, level, false, static_cast<int32_t>(data.size()), data.data() + pos,
                                      static_cast<int32_t>(n), buf.data(), static_cast<int32_t>(buf.size()), &rd, &wr,
                                      deterministic);
        first = false;
        pos += static_cast<size_t>(rd);
        r.data.insert(r.data.end(), buf.begin(), buf.begin() + wr);
        r.rc = rc;
        if (rc == CS_END_OF_STREAM || rc < 0)
            return r;
    }
    r.rc = -9999;  // no progress
    return r;
}

// Decompresses a stream offering at most inPiece input and outPiece output
// bytes per step; the first step always gets at least the 8-byte header.
inline Result Decompress(void* area, const Bytes& stream, size_t inPiece = 1 << 30, size_t outPiece = 1 << 20)
{
    Result r;
    Bytes buf(outPiece);
    size_t pos = 0;
    bool first = true;
    for (int guard = 0; guard < 10000000; ++guard) {
        size_t n = std::min(first ? std::max<size_t>(inPiece, 8) : inPiece, stream.size() - pos);
        int32_t rd = 0, wr = 0;
        const int rc = CsHuffDecompress(area, first, stream.data() + pos, static_cast<int32_t>(n), buf.data(),
                                        static_cast<int32_t>(buf.size()), &rd, &wr);
        first = false;
        pos += static_cast<size_t>(rd);
        r.data.insert(r.data.end(), buf.begin(), buf.begin() + wr);
        r.rc = rc;
        if (rc == CS_END_OF_STREAM || rc < 0)
            return r;
        if (rc == CS_END_INBUFFER && pos >= stream.size())
            return r;  // input truly exhausted
    }
    r.rc = -9999;
    return r;
}

inline Bytes RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    Bytes v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(gen());
    return v;
}

// English-like text with repeats at all distances.
inline Bytes TextBytes(size_t n, unsigned seed)
{
    static const char* words[] = {"the ",    "archive ", "stream ", "of ",       "compressed ", "data ",    "window ",
                                  "header ", "block ",   "and ",    "a ",        "to ",         "is ",      "with ",
                                  "file ",   "entry ",   "\n",      "checksum ", "length ",     "distance "};
    std::mt19937 gen(seed);
    Bytes v;
    v.reserve(n);
    while (v.size() < n) {
        const std::string w = words[gen() % (sizeof words / sizeof *words)];
        for (char c : w) {
            if (v.size() < n)
                v.push_back(static_cast<uint8_t>(c));
        }
    }
    return v;
}

// Structured binary: little-endian counters, small floats, runs.
inline Bytes BinaryBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    Bytes v;
    v.reserve(n);
    uint32_t counter = 0;
    while (v.size() < n) {
        const uint32_t kind = gen() % 4;
        if (kind == 0) {
            for (int i = 0; i < 4; ++i)
                v.push_back(static_cast<uint8_t>(counter >> (8 * i)));
            counter += gen() % 3;
        } else if (kind == 1) {
            v.insert(v.end(), gen() % 40, static_cast<uint8_t>(gen()));
        } else if (kind == 2) {
            v.push_back(static_cast<uint8_t>(gen() % 16));
        } else if (v.size() > 300) {
            const size_t back = 1 + gen() % std::min<size_t>(v.size(), 20000);
            const size_t len = 3 + gen() % 300;
            for (size_t i = 0; i < len; ++i)
                v.push_back(v[v.size() - back]);
        }
    }
    v.resize(n);
    return v;
}

}  // namespace hufftest

// Helpers shared by the compression library tests: test data, temp paths and
// whole-stream drivers that feed a handle in pieces of chosen sizes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "cslib/cslib.h"
#include "tests/unit/scratch_dir.h"

namespace cstest {

using Bytes = std::vector<uint8_t>;

// English-like text: words drawn from a small vocabulary, deterministic.
inline Bytes Text(size_t n, unsigned seed = 1)
{
    static const char* words[] = {"the",   "archive", "stream", "of",     "compressed", "data",   "and",
                                  "a",     "header",  "block",  "with",   "code",       "table",  "is",
                                  "to",    "window",  "for",    "each",   "file",       "in",     "directory",
                                  "which", "length",  "bytes",  "reader", "writer",     "checks", "CRC"};
    std::mt19937 rng(seed);
    Bytes out;
    out.reserve(n);
    while (out.size() < n) {
        std::string w = words[rng() % (sizeof words / sizeof *words)];
        w += (rng() % 11 == 0) ? ".\n" : " ";
        for (char c : w) {
            if (out.size() == n)
                break;
            out.push_back(static_cast<uint8_t>(c));
        }
    }
    return out;
}

inline Bytes Random(size_t n, unsigned seed = 7)
{
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<uint8_t>(rng());
    return out;
}

inline std::string TmpDir()
{
    std::string dir = KovTestTmp();
    std::filesystem::create_directories(dir);
    return dir;
}

inline void WriteFile(const std::string& path, const Bytes& data)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!data.empty())
        std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

inline Bytes ReadFile(const std::string& path)
{
    Bytes out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

// Output of a shell command, read as bytes.
inline Bytes Run(const std::string& cmd)
{
    Bytes out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.insert(out.end(), buf, buf + n);
    pclose(p);
    return out;
}

struct Result {
    int rc = 0;
    Bytes data;
};

// Compresses data on a handle, feeding at most inPiece input bytes and
// offering at most outPiece output bytes per call.
inline Result Compress(int handle, const Bytes& data, int option, size_t inPiece = 1 << 30, size_t outPiece = 1 << 20)
{
    Result res;
    Bytes buf(outPiece + 16);
    size_t pos = 0;
    int opt = option | CS_INIT_COMPRESS;
    for (int guard = 0; guard < 50000000; ++guard) {
        const int32_t inLen = static_cast<int32_t>(std::min(inPiece, data.size() - pos));
        int32_t r = 0;
        int32_t w = 0;
        const uint8_t* in = data.empty() ? nullptr : data.data() + pos;
        // The first call needs room for the 8-byte header.
        const size_t room = (opt & CS_INIT_COMPRESS) ? std::max<size_t>(outPiece, 8) : outPiece;
        res.rc = CsRCompress(handle, static_cast<int32_t>(data.size()), in, inLen, buf.data(),
                             static_cast<int32_t>(room), opt, &r, &w);
        opt = option & ~CS_INIT_COMPRESS;
        if (res.rc < 0)
            return res;
        pos += static_cast<size_t>(r);
        res.data.insert(res.data.end(), buf.begin(), buf.begin() + w);
        if (res.rc == CS_END_OF_STREAM)
            return res;
    }
    res.rc = -9999;
    return res;
}

// Decompresses a whole stream on a handle in pieces (the first call gets at
// least the 8-byte header).
inline Result Decompress(int handle, const Bytes& stream, size_t inPiece = 1 << 30, size_t outPiece = 1 << 20)
{
    Result res;
    Bytes buf(outPiece + 16);
    size_t pos = 0;
    int opt = CS_INIT_DECOMPRESS;
    for (int guard = 0; guard < 50000000; ++guard) {
        size_t piece = opt ? std::max<size_t>(inPiece, 8) : inPiece;
        const int32_t inLen = static_cast<int32_t>(std::min(piece, stream.size() - pos));
        int32_t r = 0;
        int32_t w = 0;
        res.rc = CsRDecompress(handle, stream.data() + pos, inLen, buf.data(), static_cast<int32_t>(outPiece), opt, &r,
                               &w);
        opt = 0;
        if (res.rc < 0)
            return res;
        pos += static_cast<size_t>(r);
        res.data.insert(res.data.end(), buf.begin(), buf.begin() + w);
        if (res.rc == CS_END_OF_STREAM)
            return res;
    }
    res.rc = -9999;
    return res;
}

// Takes a handle for one test and gives it back afterwards.
struct Handle {
    int h = 0;
    Handle() { CsGetHandle(&h); }
    ~Handle() { CsReleaseHandle(h); }
    operator int() const { return h; }
};

}  // namespace cstest

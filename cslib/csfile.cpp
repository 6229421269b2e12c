// File-to-file drivers: compress or decompress a whole file through a handle
// of their own, and a byte-wise file compare.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cslib/csheader.h"
#include "cslib/cslib.h"

namespace {

constexpr int32_t kDefaultBuf = 8096;
constexpr int32_t kMinBuf = 50;

// Owns what a driver opens, so every exit path releases it.
struct DriverRes {
    FILE* in = nullptr;
    FILE* out = nullptr;
    int handle = 0;
    uint8_t* inBuf = nullptr;
    uint8_t* outBuf = nullptr;
    ~DriverRes()
    {
        if (handle != 0)
            CsReleaseHandle(handle);
        std::free(inBuf);
        std::free(outBuf);
        if (in != nullptr)
            std::fclose(in);
        if (out != nullptr)
            std::fclose(out);
    }
};

int32_t Millis(clock_t from, clock_t to)
{
    return static_cast<int32_t>((to - from) * 1000 / CLOCKS_PER_SEC);
}

// Opens both files, takes a handle and allocates the buffers.
int OpenAll(DriverRes& res, const char* inPath, const char* outPath, int32_t inSize, int32_t outSize)
{
    res.in = std::fopen(inPath, "rb");
    if (res.in == nullptr)
        return CS_E_FILE_OPEN_IN;
    res.out = std::fopen(outPath, "wb+");
    if (res.out == nullptr)
        return CS_E_FILE_OPEN_OUT;
    int h = 0;
    if (CsGetHandle(&h) != 0)
        return CS_E_FILE_NO_HANDLE;
    res.handle = h;
    res.inBuf = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(inSize)));
    res.outBuf = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(outSize)));
    if (res.inBuf == nullptr || res.outBuf == nullptr)
        return CS_E_NO_MEMORY;
    return 0;
}

bool WriteAll(FILE* f, const uint8_t* data, int32_t n)
{
    return n <= 0 || std::fwrite(data, 1, static_cast<size_t>(n), f) == static_cast<size_t>(n);
}

// What the two drivers share: the buffer sizes taken from the parameter
// block, its results, and the loop over the stream.
template <class Params>
class Driver {
public:
    explicit Driver(Params* params)
        : params_(params),
          inSize_(params && params->inBufSize > kMinBuf ? params->inBufSize : kDefaultBuf),
          outSize_(params && params->outBufSize > kMinBuf ? params->outBufSize : kDefaultBuf)
    {
        if (params_ != nullptr) {
            params_->bytesWritten = 0;
            params_->bytesRead = 0;
            params_->cpuMillis = 0;
        }
    }

    int Prepare(const char* inPath, const char* outPath) { return OpenAll(res_, inPath, outPath, inSize_, outSize_); }

    // Steps the stream to its end: a new input buffer when the last step
    // asked for input, else the rest of the last one; the output buffer is
    // written when it is full, when the step filled the space it was given,
    // or at the end of the stream.  step(in, inLen, out, outLen, read,
    // written) is one step on the driver's handle.  Returns 0 or a negative
    // code, and fills the parameter block.
    template <class Step>
    int Run(Step step)
    {
        int32_t inAvail = 0;
        int32_t inPos = 0;
        int32_t outFill = 0;
        int last = CS_END_INBUFFER;
        clock_t cpu = 0;
        int rc;
        for (;;) {
            if (last == CS_END_INBUFFER) {
                inAvail = static_cast<int32_t>(std::fread(res_.inBuf, 1, static_cast<size_t>(inSize_), res_.in));
                inPos = 0;
            }
            int32_t r = 0;
            int32_t w = 0;
            const clock_t t0 = std::clock();
            rc = step(res_.inBuf + inPos, inAvail - inPos, res_.outBuf + outFill, outSize_ - outFill, &r, &w);
            cpu = std::clock() - t0;
            if (rc < 0)
                break;
            inPos += r;
            outFill += w;
            totalRead += r;
            if (outFill == outSize_ || rc == CS_END_OF_STREAM || rc == CS_END_OUTBUFFER) {
                if (!WriteAll(res_.out, res_.outBuf, outFill)) {
                    rc = CS_E_FILE_WRITE;
                    break;
                }
                totalWritten += outFill;
                outFill = 0;
            }
            last = rc;
            if (rc == CS_END_OF_STREAM)
                break;
        }
        if (rc == CS_END_OF_STREAM)
            rc = std::fflush(res_.out) == 0 ? 0 : CS_E_FILE_WRITE;
        if (params_ != nullptr) {
            params_->bytesWritten = static_cast<int32_t>(totalWritten);
            params_->bytesRead = static_cast<int32_t>(totalRead);
            params_->cpuMillis = Millis(0, cpu);
        }
        return rc;
    }

    DriverRes& Res() { return res_; }
    int64_t totalRead = 0;     // the stream header included when decompressing
    int64_t totalWritten = 0;  // the stream header included when compressing

private:
    Params* params_;
    const int32_t inSize_;
    const int32_t outSize_;
    DriverRes res_;
};

}  // namespace

int CsFileCompress(const char* inPath, const char* outPath, CsFileComprParams* params)
{
    int option = 35;
    if (params != nullptr)
        option = params->option < 0 ? 35 : (params->option | CS_INIT_COMPRESS);
    Driver<CsFileComprParams> driver(params);
    int rc = driver.Prepare(inPath, outPath);
    if (rc != 0)
        return rc;
    DriverRes& res = driver.Res();

    if (std::fseek(res.in, 0, SEEK_END) != 0)
        return CS_E_FILE_OPEN_IN;
    const long size = std::ftell(res.in);
    if (size < 0 || std::fseek(res.in, 0, SEEK_SET) != 0)
        return CS_E_FILE_OPEN_IN;
    if (size == 0)
        return CS_E_FILE_EMPTY;
    if (size > INT32_MAX)
        return CS_E_STREAM_LEN;
    const int32_t streamLen = static_cast<int32_t>(size);

    rc = CsRInitCompress(res.handle, res.outBuf, streamLen, option);
    if (rc < 0)
        return rc;
    if (!WriteAll(res.out, res.outBuf, CS_HEAD_SIZE))
        return CS_E_FILE_WRITE;
    driver.totalWritten = CS_HEAD_SIZE;
    return driver.Run([&](const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen, int32_t* r, int32_t* w) {
        return CsRCompress(res.handle, streamLen, in, inLen, out, outLen, 0, r, w);
    });
}

int CsFileDecompress(const char* inPath, const char* outPath, CsFileDecomprParams* params)
{
    Driver<CsFileDecomprParams> driver(params);
    const int rc = driver.Prepare(inPath, outPath);
    if (rc != 0)
        return rc;
    DriverRes& res = driver.Res();

    uint8_t header[CS_HEAD_SIZE];
    if (std::fread(header, 1, CS_HEAD_SIZE, res.in) != CS_HEAD_SIZE)
        return CS_E_FILE_HEADER;
    if (CsRInitDecompress(res.handle, header) < 0)
        return CS_E_FILE_HEADER;
    driver.totalRead = CS_HEAD_SIZE;
    return driver.Run([&](const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen, int32_t* r, int32_t* w) {
        return CsRDecompress(res.handle, in, inLen, out, outLen, 0, r, w);
    });
}

int CsCompareFiles(const char* path1, const char* path2)
{
    FILE* a = std::fopen(path1, "rb");
    if (a == nullptr)
        return CS_E_FILE_OPEN_IN;
    FILE* b = std::fopen(path2, "rb");
    if (b == nullptr) {
        std::fclose(a);
        return CS_E_FILE_OPEN_OUT;
    }
    static constexpr size_t kChunk = 65536;
    auto* bufA = static_cast<uint8_t*>(std::malloc(kChunk));
    auto* bufB = static_cast<uint8_t*>(std::malloc(kChunk));
    int rc = 0;
    if (bufA == nullptr || bufB == nullptr) {
        rc = CS_E_NO_MEMORY;
    } else {
        for (;;) {
            const size_t na = std::fread(bufA, 1, kChunk, a);
            const size_t nb = std::fread(bufB, 1, kChunk, b);
            if (na != nb || std::memcmp(bufA, bufB, na) != 0) {
                rc = CS_E_FILE_DIFFER;
                break;
            }
            if (na < kChunk)
                break;
        }
    }
    std::free(bufA);
    std::free(bufB);
    std::fclose(a);
    std::fclose(b);
    return rc;
}

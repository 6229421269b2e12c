// Handle table, entry points and the step result rules shared by both codecs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cs_test_util.h"
#include "cslib/csheader.h"
#include "cslib/cslib.h"
#include "cslib/cswork.h"

using namespace cstest;

namespace {

std::string g_log;

int CapturePrinter(const char* fmt, ...)
{
    char buf[4096];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    g_log += buf;
    return n;
}

struct CaptureTrace {
    explicit CaptureTrace(int level)
    {
        g_log.clear();
        CsSetPrinter(CapturePrinter);
        CsSetTraceLevel(level);
    }
    ~CaptureTrace()
    {
        CsSetTraceLevel(0);
        CsSetPrinter(nullptr);
    }
};

Bytes Header(uint32_t len, uint8_t desc, uint8_t m0 = 0x1F, uint8_t m1 = 0x9D, uint8_t p = 0x8D)
{
    Bytes h(8);
    CsPutLe32(h.data(), len);
    h[4] = desc;
    h[5] = m0;
    h[6] = m1;
    h[7] = p;
    return h;
}

int FirstDecompress(int handle, const Bytes& in)
{
    uint8_t out[64];
    int32_t r = 0;
    int32_t w = 0;
    return CsRDecompress(handle, in.data(), static_cast<int32_t>(in.size()), out, sizeof out, CS_INIT_DECOMPRESS, &r,
                         &w);
}

}  // namespace

TEST(HandleTable, HandsOut498HandlesThenRefuses)
{
    std::vector<int> got;
    int h = 0;
    while (CsGetHandle(&h) == 0)
        got.push_back(h);
    EXPECT_EQ(h, CS_E_NO_HANDLE);
    int h2 = 0;
    EXPECT_EQ(CsGetHandle(&h2), CS_E_NO_HANDLE);
    ASSERT_EQ(got.size(), 498u);
    EXPECT_EQ(got.front(), 302);
    EXPECT_EQ(got.back(), 799);
    for (int x : got)
        EXPECT_EQ(CsIsValidHandle(x), 1);
    // The first free slot is found again after a release.
    CsReleaseHandle(450);
    EXPECT_EQ(CsIsValidHandle(450), 0);
    ASSERT_EQ(CsGetHandle(&h), 0);
    EXPECT_EQ(h, 450);
    CsReleaseAll();
    for (int x : got)
        EXPECT_EQ(CsIsValidHandle(x), 0);
    EXPECT_EQ(CsIsValidHandle(299), 0);
    EXPECT_EQ(CsIsValidHandle(800), 0);
}

TEST(HandleTable, ReleaseKeepsTheAreaOfABusySlotOnly)
{
    CsReleaseAll();
    // Slot 2 (handle 302) has no neighbour below with an area unless 301 was
    // opened; make sure it is.
    uint8_t hdr[8];
    ASSERT_EQ(CsInitComprUntraced(hdr, 10, CS_LZC), 0);
    ASSERT_EQ(CsInitDecomprUntraced(hdr), 0);

    int a = 0;
    int b = 0;
    ASSERT_EQ(CsGetHandle(&a), 0);
    ASSERT_EQ(CsGetHandle(&b), 0);
    ASSERT_EQ(b, a + 1);
    // b has been used few times: its area goes on release.
    CsReleaseHandle(b);
    EXPECT_EQ(CsSlotArea(b), nullptr);
    // Use b more than 9 times: then its area stays (a below it has one).
    for (int i = 0; i < 12; ++i) {
        int x = 0;
        ASSERT_EQ(CsGetHandle(&x), 0);
        ASSERT_EQ(x, b);
        if (i < 11)
            CsReleaseHandle(x);
    }
    CsWorkArea* kept = CsSlotArea(b);
    CsReleaseHandle(b);
    EXPECT_NE(CsSlotArea(b), nullptr);
    int again = 0;
    ASSERT_EQ(CsGetHandle(&again), 0);
    EXPECT_EQ(again, b);
    EXPECT_EQ(CsSlotArea(b), kept);
    // Without an area in the slot below, even a busy slot loses its area.
    CsReleaseHandle(a);
    CsReleaseAll();
    EXPECT_EQ(CsSlotArea(a), nullptr);
    EXPECT_EQ(CsSlotArea(b), nullptr);
}

TEST(HandleTable, FixedHandlesOpenOnFirstCallsAndInits)
{
    const Bytes data = Text(3000);
    Bytes out(8192);
    int32_t r = 0;
    int32_t w = 0;
    ASSERT_EQ(CsComprUntraced(3000, data.data(), 3000, out.data(), 8192, 35, &r, &w), CS_END_OF_STREAM);
    CsWorkArea* area = CsSlotArea(CS_HANDLE_COMPR);
    ASSERT_NE(area, nullptr);
    // A second first call reuses the open handle and its area.
    ASSERT_EQ(CsComprUntraced(3000, data.data(), 3000, out.data(), 8192, 35, &r, &w), CS_END_OF_STREAM);
    EXPECT_EQ(CsSlotArea(CS_HANDLE_COMPR), area);
    out.resize(static_cast<size_t>(w));

    // Releasing 301 marks it free; the init call must open it again.
    CsReleaseHandle(CS_HANDLE_DECOMPR);
    EXPECT_EQ(CsIsValidHandle(CS_HANDLE_DECOMPR), 0);
    ASSERT_EQ(CsInitDecompr(out.data(), "test", 1), 0);
    EXPECT_EQ(CsIsValidHandle(CS_HANDLE_DECOMPR), 1);
    Bytes back(3000);
    ASSERT_EQ(CsDecompr(out.data() + 8, static_cast<int32_t>(out.size() - 8), back.data(), 3000, 0, &r, &w, "test", 2),
              CS_END_OF_STREAM);
    EXPECT_TRUE(back == data);

    CsReleaseHandle(CS_HANDLE_COMPR);
    uint8_t hdr[8];
    ASSERT_EQ(CsInitCompr(hdr, 3000, CS_LZH, "test", 3), 0);
    EXPECT_EQ(CsIsValidHandle(CS_HANDLE_COMPR), 1);
    EXPECT_EQ(hdr[4], 0x12);
    EXPECT_EQ(hdr[7], 2);
}

TEST(StepRules, HeaderAndHandleErrors)
{
    Handle h;
    uint8_t out[64];
    int32_t r = 0;
    int32_t w = 0;
    const Bytes good = Header(5, 0x11);
    EXPECT_EQ(CsRDecompress(h, good.data(), 7, out, 64, CS_INIT_DECOMPRESS, &r, &w), CS_E_IN_TOO_SMALL);
    EXPECT_EQ(FirstDecompress(h, Header(5, 0x11, 0x9D, 0x1F)), CS_E_HEADER);
    EXPECT_EQ(FirstDecompress(h, Header(0x80000000u, 0x11)), CS_E_HEADER);
    EXPECT_EQ(FirstDecompress(h, Header(5, 0x13)), CS_E_UNKNOWN_ALG);
    EXPECT_EQ(FirstDecompress(h, Header(5, 0x10)), CS_E_UNKNOWN_ALG);
    // The codec is chosen first: an unknown one wins over a wrong magic.
    EXPECT_EQ(FirstDecompress(h, Header(5, 0x13, 0x9D, 0x1F)), CS_E_UNKNOWN_ALG);
    EXPECT_EQ(FirstDecompress(h, Header(0x80000000u, 0x14)), CS_E_UNKNOWN_ALG);
    EXPECT_EQ(FirstDecompress(h, Header(5, 0x11, 0x1F, 0x9D, 0x8F)), CS_E_MAX_BITS);
    for (int bad : {299, 800, 0, -1}) {
        EXPECT_EQ(CsRDecompress(bad, good.data(), 8, out, 64, 1, &r, &w), CS_E_INVALID_HANDLE);
        EXPECT_EQ(CsRCompress(bad, 5, good.data(), 5, out, 64, 1, &r, &w), CS_E_INVALID_HANDLE);
    }
    int spare = 0;
    ASSERT_EQ(CsGetHandle(&spare), 0);
    CsReleaseHandle(spare);
    EXPECT_EQ(CsRCompress(spare, 5, good.data(), 5, out, 64, 1, &r, &w), CS_E_INVALID_HANDLE);
    // The header helpers agree with the checks.
    EXPECT_EQ(CsHeaderLength(Header(1234, 0x1A).data()), 1234);
    EXPECT_EQ(CsHeaderAlgorithm(Header(1234, 0x1A).data()), 0x0A);
    EXPECT_EQ(CsHeaderVersion(Header(1234, 0x1A).data()), 1);
    uint8_t hdr[8];
    EXPECT_EQ(CsWriteHeader(hdr, -1, CS_ALG_LZC, 0, 0x8D), CS_E_STREAM_LEN);
}

TEST(StepRules, ContinuingWithoutAFirstCallIsRefused)
{
    Handle h;
    uint8_t buf[64] = {};
    uint8_t out[64];
    int32_t r = 0;
    int32_t w = 0;
    EXPECT_EQ(CsRCompress(h, 10, buf, 10, out, 64, 0, &r, &w), CS_E_NOT_INIT);
    EXPECT_EQ(CsRDecompress(h, buf, 10, out, 64, 0, &r, &w), CS_E_NOT_INIT);
    EXPECT_EQ(CsRCompress(h, 10, buf, 10, out, 64, CS_SEGMENTED, &r, &w), CS_E_NOT_INIT);
    // A failed stream cannot be continued either.
    EXPECT_EQ(FirstDecompress(h, Header(5, 0x11, 0x9D, 0x1F)), CS_E_HEADER);
    EXPECT_EQ(CsRDecompress(h, buf, 10, out, 64, 0, &r, &w), CS_E_NOT_INIT);
}

TEST(StepRules, MissingInputOrOutputEndsInAnErrorNotALoop)
{
    for (int algo : {CS_LZC, CS_LZH}) {
        Handle h;
        const Bytes data = Text(20000);
        const Result c = Compress(h, data, algo);
        ASSERT_EQ(c.rc, CS_END_OF_STREAM);

        // Decompression: input expected but not given, twice.
        uint8_t out[100000];
        int32_t r = 0;
        int32_t w = 0;
        ASSERT_EQ(CsRDecompress(h, c.data.data(), 8, out, 0, CS_INIT_DECOMPRESS, &r, &w) >= 0, true);
        int rc = CsRDecompress(h, c.data.data() + 8, 20, out, sizeof out, 0, &r, &w);
        ASSERT_EQ(rc, CS_END_INBUFFER) << algo;
        rc = CsRDecompress(h, nullptr, 0, out, sizeof out, 0, &r, &w);
        EXPECT_EQ(rc, CS_E_IN_EXPECTED) << algo;

        // Decompression: output expected but not given after result 2.
        ASSERT_EQ(
            CsRDecompress(h, c.data.data(), static_cast<int32_t>(c.data.size()), out, 100, CS_INIT_DECOMPRESS, &r, &w),
            CS_END_OUTBUFFER);
        const int32_t used = r;
        EXPECT_EQ(CsRDecompress(h, c.data.data() + used, static_cast<int32_t>(c.data.size()) - used, out, 0, 0, &r, &w),
                  CS_E_OUT_EXPECTED)
            << algo;

        // Compression: input expected but not given, twice.
        ASSERT_EQ(CsRCompress(h, 20000, data.data(), 100, out, sizeof out, CS_INIT_COMPRESS | algo, &r, &w),
                  CS_END_INBUFFER);
        EXPECT_EQ(CsRCompress(h, 20000, nullptr, 0, out, sizeof out, algo, &r, &w), CS_E_IN_EXPECTED);

        // Compression: output expected but not given after result 2.
        ASSERT_EQ(CsRCompress(h, 20000, data.data(), 20000, out, 8, CS_INIT_COMPRESS | algo, &r, &w), CS_END_OUTBUFFER);
        const int32_t consumed = r;
        EXPECT_EQ(CsRCompress(h, 20000, data.data() + consumed, 20000 - consumed, out, 0, algo, &r, &w),
                  CS_E_OUT_EXPECTED);
    }
}

TEST(StepRules, BothCodecsSelectedByTheAlgorithmNibble)
{
    Handle h;
    const Bytes data = Text(40000, 11);
    for (int option :
         {CS_LZC, CS_LZH, CS_LZH | (9 << 4), CS_LZH | (1 << 4), CS_LZH | CS_SEGMENTED, CS_LZC | CS_SEGMENTED}) {
        const Result c = Compress(h, data, option);
        ASSERT_EQ(c.rc, CS_END_OF_STREAM) << option;
        const uint8_t expect = static_cast<uint8_t>(0x10 | (option & CS_SEGMENTED) |
                                                    ((option & CS_ALGO_MASK) == CS_LZH ? 2 : 1));
        EXPECT_EQ(c.data[4], expect);
        const Result d = Decompress(h, c.data);
        ASSERT_EQ(d.rc, CS_END_OF_STREAM) << option;
        EXPECT_TRUE(d.data == data) << option;
    }
}

TEST(Trace, EntryLinesAndErrorsGoToThePrinter)
{
    CaptureTrace t(16);
    const Bytes data = Text(500);
    uint8_t out[2048];
    int32_t r = 0;
    int32_t w = 0;
    ASSERT_EQ(CsCompr(500, data.data(), 500, out, sizeof out, 35, &r, &w, "iaxxcmpmn", 153), CS_END_OF_STREAM);
    EXPECT_NE(g_log.find("CS: iaxxcmpmn(153): CsCompr:  option = 35  rc = 1\n"), std::string::npos) << g_log;
    g_log.clear();
    CsSetTraceLevel(0);
    EXPECT_EQ(CsRDecompress(299, out, 8, out, 8, 1, &r, &w), CS_E_INVALID_HANDLE);
    EXPECT_NE(g_log.find("CsRDecompress: invalid handle"), std::string::npos);
}

TEST(Trace, DetailedModeChecksEveryStepAndIsDeterministic)
{
    const Bytes data = Text(70000, 21);
    for (int level : {1, 2, 4, 7}) {
        CaptureTrace t(level);
        int before = 0;
        for (int algo : {CS_LZC, CS_LZH, CS_LZH | CS_SEGMENTED}) {
            Handle h;
            const Result a = Compress(h, data, algo, 5000, 3000);
            ASSERT_EQ(a.rc, CS_END_OF_STREAM) << level << "/" << algo;
            // Small output pieces: the coder's last bytes come after the check's
            // decoder has already seen the whole data.
            const Bytes head(data.begin(), data.begin() + 2000);
            ASSERT_EQ(Compress(h, head, algo, 70000, 1).rc, CS_END_OF_STREAM) << level << "/" << algo;
            const Result b = Compress(h, data, algo, 5000, 3000);
            ASSERT_EQ(b.rc, CS_END_OF_STREAM);
            // The preamble is fixed while tracing: both runs agree.
            EXPECT_TRUE(a.data == b.data) << level << "/" << algo;
            const Result d = Decompress(h, a.data, 777, 4096);
            ASSERT_EQ(d.rc, CS_END_OF_STREAM);
            EXPECT_TRUE(d.data == data);
            if (before == 0)
                before = h;
        }
        // The early-decompress check gave its handles back.
        int next = 0;
        ASSERT_EQ(CsGetHandle(&next), 0);
        EXPECT_EQ(next, before) << level;
        CsReleaseHandle(next);
        if (level & 1) {
            EXPECT_NE(g_log.find("    compress: read = "), std::string::npos);
        }
        if (level & 4) {
            EXPECT_NE(g_log.find(" | "), std::string::npos);
        }
    }
}

namespace {

// Runs in a fresh process (threadsafe death-test style), where no printer
// has been installed yet: a traced entry installs the default printer, and
// the step's error goes to "cstrace.trc" in dir.
void TraceFileChild(const std::string& dir)
{
    if (chdir(dir.c_str()) != 0)
        std::exit(2);
    uint8_t buf[8] = {};
    int32_t r = 0;
    int32_t w = 0;
    std::exit(CsDecompr(buf, 7, buf, 8, 1, &r, &w, "here", 9) == CS_E_IN_TOO_SMALL ? 0 : 3);
}

std::string ReadText(const std::string& path)
{
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

const char* const kInitError = "\nERROR: CsRDecompress(init): inlen = 7\n";

// An empty directory for one test; the child process of a death test runs
// the test's code up to its statement again, so this is done twice.
std::string FreshTraceDir(const char* name)
{
    const std::string dir = TmpDir() + "/" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace

TEST(Trace, DefaultPrinterWritesTheTraceFile)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string dir = FreshTraceDir("trace-new");
    EXPECT_EXIT(TraceFileChild(dir), testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadText(dir + "/cstrace.trc"), kInitError);
}

// Fault caught: the trace file was opened with truncation and through a
// link, so a link planted under its name had the file it leads to cut and
// overwritten.
TEST(Trace, DefaultPrinterNeitherCutsNorFollows)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string dir = FreshTraceDir("trace-old");
    WriteFile(dir + "/cstrace.trc", Bytes{'o', 'l', 'd'});
    WriteFile(dir + "/victim", Bytes{'k', 'e', 'e', 'p'});
    std::filesystem::create_directory(dir + "/link");
    std::filesystem::create_symlink("../victim", dir + "/link/cstrace.trc");
    EXPECT_EXIT(TraceFileChild(dir), testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadText(dir + "/cstrace.trc"), std::string("old") + kInitError);
    EXPECT_EXIT(TraceFileChild(dir + "/link"), testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadText(dir + "/victim"), "keep");
}

TEST(Trace, SwitchingTraceOnDuringAStreamKeepsItGoing)
{
    Handle h;
    const Bytes data = Text(30000, 40);
    for (int algo : {CS_LZC, CS_LZH}) {
        Bytes out(70000);
        int32_t r = 0;
        int32_t w = 0;
        ASSERT_EQ(CsRCompress(h, 30000, data.data(), 10000, out.data(), 70000, CS_INIT_COMPRESS | algo, &r, &w),
                  CS_END_INBUFFER);
        size_t fill = static_cast<size_t>(w);
        {
            CaptureTrace t(1);
            ASSERT_EQ(CsRCompress(h, 30000, data.data() + 10000, 20000, out.data() + fill,
                                  static_cast<int32_t>(out.size() - fill), algo, &r, &w),
                      CS_END_OF_STREAM);
            fill += static_cast<size_t>(w);
            EXPECT_NE(g_log.find("    compress: read =  20000"), std::string::npos) << g_log;
        }
        out.resize(fill);
        const Result d = Decompress(h, out);
        ASSERT_EQ(d.rc, CS_END_OF_STREAM);
        EXPECT_TRUE(d.data == data);
    }
}

TEST(Threads, HandlesTakenAndStreamsRunOnSeveralThreadsAtOnce)
{
    // Each thread takes handles, runs both codecs through them and gives them
    // back, all at once: no handle is ever held twice and every stream comes
    // back whole.
    std::atomic<int> holders[CS_HANDLE_COUNT] = {};
    std::atomic<int> failures{0};
    auto work = [&](unsigned seed) {
        const Bytes data = Text(20000, seed);
        for (int round = 0; round < 40; ++round) {
            int h = 0;
            if (CsGetHandle(&h) != 0) {
                ++failures;
                continue;
            }
            if (holders[h - CS_HANDLE_BASE].fetch_add(1) != 0)
                ++failures;
            const int algo = round % 2 ? CS_LZH : CS_LZC;
            const Result c = Compress(h, data, algo);
            const Result d = Decompress(h, c.data);
            if (c.rc != CS_END_OF_STREAM || d.rc != CS_END_OF_STREAM || !(d.data == data))
                ++failures;
            holders[h - CS_HANDLE_BASE].fetch_sub(1);
            CsReleaseHandle(h);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t)
        threads.emplace_back(work, t + 1);
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}

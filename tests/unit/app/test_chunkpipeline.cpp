#include <sys/resource.h>
#include <sys/wait.h>

#include <random>

#include "app/chunkpipeline.h"
#include "archive_fixture.h"

namespace {

class PipelineTest : public ArchiveTest {
protected:
    void SetUp() override
    {
        ArchiveTest::SetUp();
        std::mt19937 gen(7);
        Bytes text;
        while (text.size() < 300000)
            text += "line " + std::to_string(gen() % 1000) + " of text\n";
        Bytes noise(150000, '\0');
        for (char& c : noise)
            c = char(gen());
        Put("text", text);                             // several compressed chunks
        Put("noise", noise);                           // chunks stored raw
        Put("exact", text.substr(0, KOX_CHUNK_SIZE));  // one chunk to the byte
        Put("tail", text.substr(0, KOX_CHUNK_SIZE + 1));
        Put("small", "a small file\n");
        Put("empty", "");
        Put("mixed", text.substr(0, 70000) + noise.substr(0, 70000) + text.substr(0, 5));
        ASSERT_EQ(mkdir("sub", 0755), 0);
        // Many small files: batches of hundreds of chunks, whose entry
        // headers and checksums go between the blocks.
        for (int i = 0; i < kSmallFiles; ++i)
            Put(SmallName(i), text.substr(static_cast<size_t>(i) * 37 % 5000, static_cast<size_t>(i) * 13 % 900));
    }

    // Built by appending: the optimiser misreads a literal plus a number as
    // overlapping copies.
    static std::string SmallName(int i)
    {
        std::string name(1, 'f');
        name += std::to_string(i);
        return name;
    }

    static constexpr int kSmallFiles = 1500;

    // Writes every entry of the fixture to name, through a pipeline with the
    // given number of workers (0: chunk by chunk).
    void WriteArchive(const std::string& name, unsigned workers)
    {
        CNormalCompress strategy;
        ICompressStrategy::Publish(&strategy);
        {
            CArchiveFile archive(name, KOV_OPEN_CREATE);
            archive.Stream().SetBufferSize(2 * KOX_CHUNK_SIZE);
            std::unique_ptr<CChunkPipeline> pipeline;
            if (workers > 0) {
                pipeline = CChunkPipeline::Attach(archive.Stream(), workers);
                ASSERT_NE(pipeline, nullptr);
            }
            strategy.SetPipeline(pipeline.get());
            archive.WriteArchiveHeader();
            std::vector<std::string> files = {"small", "text", "sub", "empty", "noise"};
            for (int i = 0; i < kSmallFiles; ++i)
                files.push_back(SmallName(i));
            for (const char* file : {"exact", "tail", "mixed", "small"})
                files.push_back(file);
            for (const std::string& file : files) {
                std::unique_ptr<CDirEntry> entry;
                if (file == "sub")
                    entry = std::make_unique<CDirectory>(file);
                else
                    entry = std::make_unique<CFile>(file);
                entry->AddToArchive(archive);
            }
            archive.Close();
            strategy.SetPipeline(nullptr);
        }
        ICompressStrategy::Publish(nullptr);
    }

    // Runs WriteArchive in a child, so that every variant starts from the
    // same state of the process (the codec's preamble generator included).
    void WriteInChild(const std::string& name, unsigned workers)
    {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            WriteArchive(name, workers);
            _exit(::testing::Test::HasFailure() ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child for " << name;
    }
};

// Catches blocks written out of order, headers or checksums overtaken by the
// blocks of the next file, raw chunks with the wrong type, and preambles drawn
// in the order the workers happen to run: the archive must equal the one
// written chunk by chunk, byte for byte.
TEST_F(PipelineTest, ArchiveEqualsTheOneWrittenChunkByChunk)
{
    WriteInChild("serial.kox", 0);
    WriteInChild("one.kox", 1);
    WriteInChild("three.kox", 3);
    WriteInChild("eight.kox", 8);
    const Bytes serial = Get("serial.kox");
    ASSERT_GT(serial.size(), 200000u);
    EXPECT_TRUE(Get("one.kox") == serial);
    EXPECT_TRUE(Get("three.kox") == serial);
    EXPECT_TRUE(Get("eight.kox") == serial);
}

// Catches positions asked for while blocks are still in flight: a Tell must
// count them, and bytes written behind them must land after them.
TEST_F(PipelineTest, TellAndLaterWritesSeeEverythingQueued)
{
    CFileStream sink("out.bin", KOV_OPEN_CREATE);
    auto pipeline = CChunkPipeline::Attach(sink, 2);
    ASSERT_NE(pipeline, nullptr);
    size_t put = 0;
    ASSERT_TRUE(sink.Write("AB", 2, &put));
    uint8_t* in = pipeline->NextInput();
    ASSERT_NE(in, nullptr);
    memset(in, 'x', 5000);
    pipeline->Submit(5000, true, "x");
    ASSERT_TRUE(sink.Write("CD", 2, &put));
    uint64_t pos = 0;
    ASSERT_TRUE(sink.Tell(&pos));
    ASSERT_TRUE(sink.Close());
    const Bytes out = Get("out.bin");
    EXPECT_EQ(pos, out.size());
    ASSERT_GT(out.size(), 4 + 6u);
    EXPECT_EQ(out.substr(0, 4), "ABED");
    EXPECT_EQ(out.substr(out.size() - 2), "CD");
    Bytes plain;
    EXPECT_TRUE(OracleInflate(out.substr(8, out.size() - 10), plain));
    EXPECT_EQ(plain, Bytes(5000, 'x'));
}

// Catches a write error of queued blocks that goes unreported: closing the
// archive must fail when the device is full.
TEST_F(PipelineTest, WriteErrorOfQueuedBlocksFailsTheClose)
{
    CFileStream sink("/dev/full", KOV_OPEN_CREATE);
    ASSERT_TRUE(sink.IsOpen());
    auto pipeline = CChunkPipeline::Attach(sink, 1);
    ASSERT_NE(pipeline, nullptr);
    for (int i = 0; i < 8; ++i) {
        uint8_t* in = pipeline->NextInput();
        if (in == nullptr)
            break;  // the error may show before the close
        memset(in, 'a' + i, KOX_CHUNK_SIZE);
        pipeline->Submit(KOX_CHUNK_SIZE, i == 7, "full");
    }
    EXPECT_FALSE(sink.Close());
}

// Catches a hang or a use of freed buffers when a run ends with chunks still
// in flight, and a stream left pointing at a destroyed pipeline.
TEST_F(PipelineTest, DroppingAPipelineWithWorkInFlightDetachesIt)
{
    CFileStream sink("out.bin", KOV_OPEN_CREATE);
    {
        auto pipeline = CChunkPipeline::Attach(sink, 3);
        ASSERT_NE(pipeline, nullptr);
        for (int i = 0; i < 6; ++i) {
            uint8_t* in = pipeline->NextInput();
            ASSERT_NE(in, nullptr);
            memset(in, 'q', KOX_CHUNK_SIZE);
            pipeline->Submit(KOX_CHUNK_SIZE, false, "q");
        }
        size_t put = 0;
        ASSERT_TRUE(sink.Write("behind", 6, &put));
    }
    size_t put = 0;
    ASSERT_TRUE(sink.Write("after", 5, &put));
    ASSERT_TRUE(sink.Close());
    EXPECT_EQ(Get("out.bin").substr(Get("out.bin").size() - 5), "after");
}

// Catches blocks lost when a run ends early: a create run stopped by an error
// other than a write or read error keeps its archive, which must hold every
// block submitted before the stop (as a run writing chunk by chunk has), not
// an entry cut off where the queue was dropped.
TEST_F(PipelineTest, DroppingAPipelineWritesWhatWasSubmitted)
{
    CFileStream sink("out.bin", KOV_OPEN_CREATE);
    {
        auto pipeline = CChunkPipeline::Attach(sink, 2);
        ASSERT_NE(pipeline, nullptr);
        size_t put = 0;
        ASSERT_TRUE(sink.Write("AB", 2, &put));
        std::mt19937 gen(3);
        for (int i = 0; i < 10; ++i) {
            uint8_t* in = pipeline->NextInput();
            ASSERT_NE(in, nullptr);
            // Odd chunks are noise and stay raw, even ones compress.
            for (size_t k = 0; k < KOX_CHUNK_SIZE; ++k)
                in[k] = i % 2 ? uint8_t(gen()) : uint8_t('a' + k % 7);
            pipeline->Submit(KOX_CHUNK_SIZE, i == 9, "q");
            ASSERT_TRUE(sink.Write("-", 1, &put));
        }
    }
    ASSERT_TRUE(sink.Close());
    const Bytes out = Get("out.bin");
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out.substr(0, 2), "AB");
    size_t pos = 2;
    for (int i = 0; i < 10; ++i) {
        ASSERT_LE(pos + KOX_BLOCK_HEADER_SIZE, out.size()) << "block " << i << " missing";
        const Bytes type = out.substr(pos, 2);
        const char* want = i == 9 ? KOX_BLOCK_UE : i % 2 ? KOX_BLOCK_UD : KOX_BLOCK_DA;
        EXPECT_EQ(type, Bytes(want, 2)) << "block " << i;
        pos += KOX_BLOCK_HEADER_SIZE + KoxGetU32(reinterpret_cast<const uint8_t*>(out.data()) + pos + 2);
        ASSERT_LT(pos, out.size()) << "block " << i << " cut short";
        EXPECT_EQ(out[pos], '-') << "bytes behind block " << i;
        ++pos;
    }
    EXPECT_EQ(pos, out.size());
}

// Catches a run that fails when no thread can be started (a limit on
// processes, a full thread table): the thread library's error must not
// escape, and the caller's thread then compresses every chunk itself.
TEST_F(PipelineTest, NoThreadsToBeHadStillWritesEveryBlock)
{
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        CFileStream sink("nothreads.bin", KOV_OPEN_CREATE);
        if (!sink.IsOpen())
            _exit(4);
        // The limit binds no privileged user: the child gives up its
        // privileges first, and is then the only process of its user.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        const rlimit one{1, 1};
        if (setrlimit(RLIMIT_NPROC, &one) != 0)
            _exit(2);
        int rc = 0;
        try {
            auto pipeline = CChunkPipeline::Attach(sink, 3);
            if (pipeline == nullptr)
                _exit(5);
            for (int i = 0; i < 20; ++i) {
                uint8_t* in = pipeline->NextInput();
                if (in == nullptr)
                    _exit(6);
                memset(in, 'a' + i, KOX_CHUNK_SIZE);
                pipeline->Submit(KOX_CHUNK_SIZE, i == 19, "limited");
            }
            rc = sink.Close() ? 0 : 7;
        } catch (...) {
            rc = 3;
        }
        _exit(rc);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "no way to limit the processes here";
    ASSERT_NE(WEXITSTATUS(status), 3) << "thread error escaped";
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const Bytes out = Get("nothreads.bin");
    size_t pos = 0;
    for (int i = 0; i < 20; ++i) {
        ASSERT_LE(pos + 6, out.size());
        EXPECT_EQ(out.substr(pos, 2), i == 19 ? "ED" : "DA");
        const uint32_t n = KoxGetU32(reinterpret_cast<const uint8_t*>(out.data()) + pos + 2);
        Bytes plain;
        EXPECT_TRUE(OracleInflate(out.substr(pos + 6, n), plain));
        EXPECT_EQ(plain, Bytes(KOX_CHUNK_SIZE, char('a' + i))) << "block " << i;
        pos += 6 + n;
    }
    EXPECT_EQ(pos, out.size());
}

}  // namespace

#include "app/chunkpipeline.h"

#include "app/compressstrategy.h"
#include "app/except.h"
#include "app/koxformat.h"
#include "cslib/cslib.h"

namespace {

// Chunks in one batch at most: a batch of many tiny files is one job too,
// but its records stay small.
constexpr size_t kBatchChunks = 4096;
// Room a chunk's block may take in a batch's output: its header and a whole
// chunk, compressed or raw.
constexpr size_t kBlockRoom = KOX_BLOCK_HEADER_SIZE + KOX_CHUNK_SIZE;
// A batch's input: it is handed over once it holds kBatchBytes, so the
// chunk that gets it there fits behind them.
constexpr size_t kBatchInput = CChunkPipeline::kBatchBytes + KOX_CHUNK_SIZE;
// Its output at most: each block is its chunk and a header, and room for
// one more block is asked before each is made.
constexpr size_t kBatchOutput = kBatchInput + kBatchChunks * KOX_BLOCK_HEADER_SIZE + kBlockRoom;

}  // namespace

struct CChunkPipeline::Batch : CHandleWorkers::Job {
    // One chunk, with the bytes that go to the archive ahead of its block.
    struct Chunk {
        size_t sideBegin, sideEnd;  // in side
        size_t input;               // offset in input
        size_t length;
        size_t output = 0;  // offset of the block in output
        size_t blockBytes = 0;
        uint32_t preamble;
        bool last;
        std::string name;
    };

    // Input and output are had in full when the batch is made, so that a
    // worker allocates nothing while it compresses.
    Batch() { output.Reserve(kBatchOutput); }

    std::unique_ptr<uint8_t[]> input{new uint8_t[kBatchInput]};
    size_t inputUsed = 0;
    std::vector<uint8_t> side;
    std::vector<Chunk> chunks;
    CJobOutput output;
    size_t failedAt = SIZE_MAX;  // the chunk whose compression failed
    int failure = 0;
    size_t written = 0;  // chunks the caller wrote out

    bool Empty() const { return chunks.empty(); }
    size_t Bytes() const { return inputUsed + side.size(); }
    bool Full() const { return Bytes() >= kBatchBytes || chunks.size() >= kBatchChunks; }
    void Clear()
    {
        inputUsed = 0;
        side.clear();
        chunks.clear();
        output.used = 0;
        failedAt = SIZE_MAX;
        failure = 0;
        written = 0;
    }
    // Compresses the chunks in order; the first that fails ends the batch.
    void Run(int handle) override;
};

std::unique_ptr<CChunkPipeline> CChunkPipeline::Attach(CFileStream& sink, unsigned workers)
{
    // Two batches per worker (and two more in all) are what a worker costs
    // besides its thread; with no worker the caller compresses each chunk
    // itself.
    unsigned fitting = 0;
    std::unique_ptr<CChunkPipeline> pipeline = CHandleWorkers::MakeFitting(
        workers, 2 * (kBatchInput + kBatchOutput), fitting,
        [&sink](unsigned n) { return std::unique_ptr<CChunkPipeline>(new CChunkPipeline(sink, n)); });
    if (!pipeline || !pipeline->m_workers->TakeHandles(fitting))
        return nullptr;
    sink.SetWriteBehind(pipeline.get());
    return pipeline;
}

CChunkPipeline::CChunkPipeline(CFileStream& sink, unsigned workers)
    : m_sink(sink)
{
    // Two batches per worker keep every worker busy while the caller fills
    // the next and writes the oldest.
    m_batches.resize(2 * static_cast<size_t>(workers) + 2);
    for (auto& batch : m_batches)
        batch = std::make_unique<Batch>();
    m_workers = std::make_unique<CHandleWorkers>(m_batches.size());
}

CChunkPipeline::~CChunkPipeline()
{
    // A run that ends early may keep its archive (a create run stopped by a
    // name or stat error does): it must hold every block submitted so far,
    // as when each chunk was written at once.  After a failed write nothing
    // more is tried; a chunk that failed to compress ends the writing there.
    if (!m_writeFailed) {
        try {
            Flush();
        } catch (...) {
        }
    }
    m_sink.SetWriteBehind(nullptr);
    m_workers.reset();
}

void CChunkPipeline::Batch::Run(int handle)
{
    for (size_t i = 0; i < chunks.size(); ++i) {
        Chunk& chunk = chunks[i];
        uint8_t* block = output.Reserve(kBlockRoom);
        CsRPresetPreamble(handle, chunk.preamble);
        const int64_t size = CompressChunkBlock(handle, input.get() + chunk.input, chunk.length, chunk.last, block);
        if (size < 0) {
            failedAt = i;
            failure = static_cast<int>(size);
            return;
        }
        chunk.output = output.used;
        chunk.blockBytes = static_cast<size_t>(size);
        output.used += chunk.blockBytes;
    }
}

CChunkPipeline::Batch* CChunkPipeline::Filling()
{
    if (m_filling != nullptr)
        return m_filling;
    // The slot behind the newest batch in flight; when every slot is in
    // flight the oldest is written first.
    if (m_inFlight == m_batches.size() && !WriteFinished(m_batches.size() - 1))
        return nullptr;
    m_filling = m_batches[(m_head + m_inFlight) % m_batches.size()].get();
    m_filling->Clear();
    return m_filling;
}

void CChunkPipeline::HandOver()
{
    Batch* batch = m_filling;
    if (batch == nullptr || batch->Empty())
        return;
    m_filling = nullptr;
    ++m_inFlight;
    m_workers->HandOver(*batch);
}

uint8_t* CChunkPipeline::NextInput()
{
    // Batches done meanwhile leave now, so the file grows as the run goes.
    if (!WriteFinished(m_batches.size()))
        return nullptr;
    Batch* batch = Filling();
    if (batch == nullptr)
        return nullptr;
    return batch->input.get() + batch->inputUsed;
}

void CChunkPipeline::Submit(size_t length, bool last, const std::string& name)
{
    Batch& batch = *m_filling;
    Batch::Chunk chunk;
    chunk.sideBegin = batch.side.size();
    batch.side.insert(batch.side.end(), m_after.begin(), m_after.end());
    chunk.sideEnd = batch.side.size();
    m_after.clear();
    chunk.input = batch.inputUsed;
    chunk.length = length;
    chunk.last = last;
    chunk.name = name;
    // Drawn here, in the order of the chunks, as a run without workers would.
    chunk.preamble = CsDrawPreamble();
    batch.chunks.push_back(std::move(chunk));
    batch.inputUsed += length;
    // A batch is handed over once it is large enough; until then the next
    // chunk always fits its input.
    if (batch.Full())
        HandOver();
}

bool CChunkPipeline::Append(const void* buffer, size_t length)
{
    if (m_inFlight == 0 && (m_filling == nullptr || m_filling->Empty()))
        return WriteBytes(buffer, length);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    m_after.insert(m_after.end(), bytes, bytes + length);
    return true;
}

bool CChunkPipeline::Flush()
{
    HandOver();
    return WriteFinished(0);
}

bool CChunkPipeline::WriteFinished(size_t keep)
{
    while (m_inFlight > 0) {
        Batch& batch = *m_batches[m_head];
        if (!batch.Done()) {
            if (m_inFlight <= keep)
                break;
            m_workers->Wait(batch);
        }
        if (!WriteBatch(batch))
            return false;
        m_head = (m_head + 1) % m_batches.size();
        --m_inFlight;
    }
    if (m_inFlight == 0 && (m_filling == nullptr || m_filling->Empty()) && !m_after.empty()) {
        if (!WriteBytes(m_after.data(), m_after.size()))
            return false;
        m_after.clear();
    }
    return true;
}

bool CChunkPipeline::WriteBatch(Batch& batch)
{
    // A batch whose worker failed (for memory) ends the writing before its
    // bytes, and a chunk whose compression failed before its own: for good,
    // the batch stays the oldest in flight.
    if (batch.Failure())
        std::rethrow_exception(batch.Failure());
    for (; batch.written < batch.chunks.size(); ++batch.written) {
        const Batch::Chunk& chunk = batch.chunks[batch.written];
        if (batch.written == batch.failedAt)
            ThrowCompressionFailure(chunk.name, batch.failure);
        if (chunk.sideEnd > chunk.sideBegin &&
            !WriteBytes(batch.side.data() + chunk.sideBegin, chunk.sideEnd - chunk.sideBegin))
            return false;
        if (!WriteBytes(batch.output.bytes.get() + chunk.output, chunk.blockBytes))
            return false;
    }
    return true;
}

bool CChunkPipeline::WriteBytes(const void* buffer, size_t length)
{
    size_t put = 0;
    if (m_sink.WriteThrough(buffer, length, &put) && put == length)
        return true;
    m_writeFailed = true;
    return false;
}

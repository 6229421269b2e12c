#include "app/chunkpipeline.h"

#include <algorithm>
#include <cstring>

#include <sched.h>

#include "app/compressstrategy.h"
#include "app/except.h"
#include "app/koxformat.h"
#include "cslib/cslib.h"

namespace {

// More workers than this find no more work in one archive's stream of
// chunks than fewer would.
constexpr unsigned kMaxWorkers = 64;
// Chunks in one batch at most: a batch of many tiny files is one job too,
// but its records stay small.
constexpr size_t kBatchChunks = 4096;
// Room a chunk's block may take in a batch's output: its header and a whole
// chunk, compressed or raw.
constexpr size_t kBlockRoom = KOX_BLOCK_HEADER_SIZE + KOX_CHUNK_SIZE;

}  // namespace

struct CChunkPipeline::Batch {
    // One chunk, with the bytes that go to the archive ahead of its block.
    struct Chunk {
        size_t sideBegin, sideEnd;  // in side
        size_t input;               // offset in input
        size_t length;
        size_t output = 0;          // offset of the block in output
        size_t blockBytes = 0;
        uint32_t preamble;
        bool last;
        std::string name;
    };

    std::unique_ptr<uint8_t[]> input{new uint8_t[kBatchBytes + KOX_CHUNK_SIZE]};
    size_t inputUsed = 0;
    std::vector<uint8_t> side;
    std::vector<Chunk> chunks;
    std::unique_ptr<uint8_t[]> output;
    size_t outputSize = 0;
    size_t outputUsed = 0;
    size_t failedAt = SIZE_MAX;  // the chunk whose compression failed
    int failure = 0;
    size_t written = 0;  // chunks the caller wrote out
    std::atomic<bool> done{false};

    bool Empty() const { return chunks.empty(); }
    size_t Bytes() const { return inputUsed + side.size(); }
    bool Full() const { return Bytes() >= kBatchBytes || chunks.size() >= kBatchChunks; }
    void Clear() {
        inputUsed = 0;
        side.clear();
        chunks.clear();
        outputUsed = 0;
        failedAt = SIZE_MAX;
        failure = 0;
        written = 0;
        done.store(false, std::memory_order_relaxed);
    }
    // Output room for one more block.
    uint8_t* ReserveBlock() {
        if (outputUsed + kBlockRoom > outputSize) {
            const size_t size = std::max(2 * outputSize, outputUsed + kBlockRoom);
            std::unique_ptr<uint8_t[]> grown(new uint8_t[size]);
            if (outputUsed) std::memcpy(grown.get(), output.get(), outputUsed);
            output = std::move(grown);
            outputSize = size;
        }
        return output.get() + outputUsed;
    }
};

std::unique_ptr<CChunkPipeline> CChunkPipeline::Attach(CFileStream& sink, unsigned workers) {
    if (workers == 0) return nullptr;
    std::unique_ptr<CChunkPipeline> pipeline(new CChunkPipeline(sink, workers));
    if (!pipeline->TakeHandles()) return nullptr;
    sink.SetWriteBehind(pipeline.get());
    return pipeline;
}

unsigned CChunkPipeline::WorkersForThisMachine() {
    // A traced run keeps its trace lines in the order of the chunks.
    if (CsGetTraceLevel() != 0) return 0;
    // The processors this process may run on, which can be fewer than the
    // machine has (a CPU set or a container's share).
    unsigned cpus = std::thread::hardware_concurrency();
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) cpus = static_cast<unsigned>(CPU_COUNT(&set));
    return cpus > 1 ? std::min(cpus, kMaxWorkers) : 0;
}

CChunkPipeline::CChunkPipeline(CFileStream& sink, unsigned workers) : m_sink(sink) {
    // Two batches per worker keep every worker busy while the caller fills
    // the next and writes the oldest.
    m_batches.resize(2 * static_cast<size_t>(workers) + 2);
    for (auto& batch : m_batches) batch = std::make_unique<Batch>();
    m_jobs.resize(m_batches.size());
    m_handles.assign(workers, 0);
}

CChunkPipeline::~CChunkPipeline() {
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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_workReady.notify_all();
    for (std::thread& worker : m_workers) worker.join();
    for (int handle : m_handles)
        if (handle > 0) CsReleaseHandle(handle);
}

bool CChunkPipeline::TakeHandles() {
    for (int& handle : m_handles)
        if (CsGetHandle(&handle) != 0) return false;
    return true;
}

void CChunkPipeline::StartWorkers() {
    // Started with the first batch handed over, so that a run that writes
    // no data costs no threads.  A process that may not start threads (a
    // limit on processes, a full thread table) goes on with those it has;
    // with none the caller's thread runs every job itself.
    m_workersStarted = true;
    try {
        while (m_workers.size() < m_handles.size())
            m_workers.emplace_back(&CChunkPipeline::WorkerLoop, this, m_handles[m_workers.size()]);
    } catch (...) {
    }
}

void CChunkPipeline::WorkerLoop(int handle) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        while (!m_stop && m_queued == 0) {
            ++m_idle;
            m_workReady.wait(lock);
            --m_idle;
        }
        if (m_stop) return;
        Batch& batch = *m_jobs[m_nextJob];
        m_nextJob = (m_nextJob + 1) % m_jobs.size();
        --m_queued;
        lock.unlock();
        CompressBatch(batch, handle);
        lock.lock();
        batch.done.store(true, std::memory_order_release);
        // Only the caller's thread waits for a batch; a wake-up costs a
        // system call, so it is sent only when somebody waits.
        if (m_callerWaits) m_jobDone.notify_one();
    }
}

void CChunkPipeline::CompressBatch(Batch& batch, int handle) {
    for (size_t i = 0; i < batch.chunks.size(); ++i) {
        Batch::Chunk& chunk = batch.chunks[i];
        uint8_t* block = batch.ReserveBlock();
        CsRPresetPreamble(handle, chunk.preamble);
        const int64_t size =
            CompressChunkBlock(handle, batch.input.get() + chunk.input, chunk.length, chunk.last, block);
        if (size < 0) {
            batch.failedAt = i;
            batch.failure = static_cast<int>(size);
            return;
        }
        chunk.output = batch.outputUsed;
        chunk.blockBytes = static_cast<size_t>(size);
        batch.outputUsed += chunk.blockBytes;
    }
}

CChunkPipeline::Batch* CChunkPipeline::Filling() {
    if (m_filling != nullptr) return m_filling;
    // The slot behind the newest batch in flight; when every slot is in
    // flight the oldest is written first.
    if (m_inFlight == m_batches.size() && !WriteFinished(m_batches.size() - 1)) return nullptr;
    m_filling = m_batches[(m_head + m_inFlight) % m_batches.size()].get();
    m_filling->Clear();
    return m_filling;
}

void CChunkPipeline::HandOver() {
    Batch* batch = m_filling;
    if (batch == nullptr || batch->Empty()) return;
    m_filling = nullptr;
    ++m_inFlight;
    if (!m_workersStarted) StartWorkers();
    if (m_workers.empty()) {
        // No thread could be started: the caller compresses.
        CompressBatch(*batch, m_handles[0]);
        batch->done.store(true, std::memory_order_relaxed);
        return;
    }
    bool wake;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs[(m_nextJob + m_queued) % m_jobs.size()] = batch;
        ++m_queued;
        wake = m_idle > 0;
    }
    if (wake) m_workReady.notify_one();
}

uint8_t* CChunkPipeline::NextInput() {
    // Batches done meanwhile leave now, so the file grows as the run goes.
    if (!WriteFinished(m_batches.size())) return nullptr;
    Batch* batch = Filling();
    if (batch == nullptr) return nullptr;
    return batch->input.get() + batch->inputUsed;
}

void CChunkPipeline::Submit(size_t length, bool last, const std::string& name) {
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
    if (batch.Full()) HandOver();
}

bool CChunkPipeline::Append(const void* buffer, size_t length) {
    if (m_inFlight == 0 && (m_filling == nullptr || m_filling->Empty()))
        return WriteBytes(buffer, length);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    m_after.insert(m_after.end(), bytes, bytes + length);
    return true;
}

bool CChunkPipeline::Flush() {
    HandOver();
    return WriteFinished(0);
}

bool CChunkPipeline::WriteFinished(size_t keep) {
    while (m_inFlight > 0) {
        Batch& batch = *m_batches[m_head];
        if (!batch.done.load(std::memory_order_acquire)) {
            if (m_inFlight <= keep) break;
            std::unique_lock<std::mutex> lock(m_mutex);
            m_callerWaits = true;
            m_jobDone.wait(lock, [&] { return batch.done.load(std::memory_order_acquire); });
            m_callerWaits = false;
        }
        if (!WriteBatch(batch)) return false;
        m_head = (m_head + 1) % m_batches.size();
        --m_inFlight;
    }
    if (m_inFlight == 0 && (m_filling == nullptr || m_filling->Empty()) && !m_after.empty()) {
        if (!WriteBytes(m_after.data(), m_after.size())) return false;
        m_after.clear();
    }
    return true;
}

bool CChunkPipeline::WriteBatch(Batch& batch) {
    // A chunk whose compression failed ends the writing before its bytes,
    // for good: the batch stays the oldest in flight.
    for (; batch.written < batch.chunks.size(); ++batch.written) {
        const Batch::Chunk& chunk = batch.chunks[batch.written];
        if (batch.written == batch.failedAt)
            throw CCompExcept(chunk.name + " (cslib error " + std::to_string(batch.failure) + ")");
        if (chunk.sideEnd > chunk.sideBegin &&
            !WriteBytes(batch.side.data() + chunk.sideBegin, chunk.sideEnd - chunk.sideBegin))
            return false;
        if (!WriteBytes(batch.output.get() + chunk.output, chunk.blockBytes)) return false;
    }
    return true;
}

bool CChunkPipeline::WriteBytes(const void* buffer, size_t length) {
    size_t put = 0;
    if (m_sink.WriteThrough(buffer, length, &put) && put == length) return true;
    m_writeFailed = true;
    return false;
}

#include "app/chunkpipeline.h"

#include <algorithm>
#include <cstring>

#include <sched.h>

#include "app/compressstrategy.h"
#include "app/except.h"
#include "app/koxformat.h"
#include "cslib/csheader.h"
#include "cslib/cslib.h"

namespace {

// At most this many threads compress at once, the caller's included: an
// archiver shares the machine with whatever it is archiving for.
constexpr unsigned kMaxThreads = 4;
// Chunks smaller than this are compressed at once by the caller's thread:
// handing them over would cost more than compressing them.
constexpr size_t kInlineBelow = 4096;
// Chunks being compressed or waiting to be written, at least: 16 x 128 KiB
// of buffers plus a compression handle each.
constexpr size_t kChunksInFlight = 16;

}  // namespace

struct CChunkPipeline::Chunk {
    std::unique_ptr<uint8_t[]> input{new uint8_t[KOX_CHUNK_SIZE]};
    std::unique_ptr<uint8_t[]> output{new uint8_t[KOX_BLOCK_HEADER_SIZE + KOX_CHUNK_SIZE]};
    std::vector<uint8_t> before;  // bytes that go to the archive ahead of this block
    std::string name;
    int handle = 0;
    size_t length = 0;
    bool last = false;
    int rc = 0;
    size_t blockBytes = 0;
    std::atomic<bool> done{false};
};

std::unique_ptr<CChunkPipeline> CChunkPipeline::Attach(CFileStream& sink, unsigned workers) {
    if (workers == 0) return nullptr;
    std::unique_ptr<CChunkPipeline> pipeline(new CChunkPipeline(sink, workers));
    if (!pipeline->TakeHandles()) return nullptr;
    sink.SetWriteBehind(pipeline.get());
    return pipeline;
}

void CChunkPipeline::StartWorkers() {
    // Started with the first chunk worth handing over, so that a run of
    // small files costs no threads.  A process that may not start threads
    // (a limit on processes, a full thread table) goes on with those it
    // has, or none: the caller's thread then runs every job itself.
    m_workersStarted = true;
    try {
        while (m_workers.size() < m_workerCount)
            m_workers.emplace_back(&CChunkPipeline::WorkerLoop, this);
    } catch (...) {
    }
}

unsigned CChunkPipeline::WorkersForThisMachine() {
    // A traced run keeps its trace lines in the order of the chunks.
    if (CsGetTraceLevel() != 0) return 0;
    // The processors this process may run on, which can be fewer than the
    // machine has (a CPU set or a container's share).
    unsigned cpus = std::thread::hardware_concurrency();
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) cpus = static_cast<unsigned>(CPU_COUNT(&set));
    const unsigned threads = std::min(cpus, kMaxThreads);
    return threads > 1 ? threads - 1 : 0;
}

CChunkPipeline::CChunkPipeline(CFileStream& sink, unsigned workers)
    : m_sink(sink), m_workerCount(workers) {
    // Enough chunks in flight that the caller keeps reading while a worker
    // is busy with a large one: measured on 2 and 4 threads, 16 beat 4 and 8.
    m_chunks.resize(std::max<size_t>(kChunksInFlight, 2 * static_cast<size_t>(workers) + 2));
    for (auto& chunk : m_chunks) chunk = std::make_unique<Chunk>();
    m_jobs.resize(m_chunks.size());
}

CChunkPipeline::~CChunkPipeline() {
    // A run that ends early may keep its archive (a create run stopped by a
    // name or stat error does): it must hold every block submitted so far,
    // as when each chunk was written at once.  After a failed write nothing
    // more is tried; a chunk that failed to compress ends the writing there.
    if (!m_writeFailed) {
        try {
            WriteFinished(0);
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
    for (auto& chunk : m_chunks)
        if (chunk->handle > 0) CsReleaseHandle(chunk->handle);
}

bool CChunkPipeline::TakeHandles() {
    for (auto& chunk : m_chunks) {
        int handle = 0;
        if (CsGetHandle(&handle) != 0) return false;
        chunk->handle = handle;
    }
    return true;
}

void CChunkPipeline::WorkerLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        while (!m_stop && m_queued == 0) {
            ++m_idle;
            m_workReady.wait(lock);
            --m_idle;
        }
        if (m_stop) return;
        RunQueuedJob(lock);
    }
}

void CChunkPipeline::RunQueuedJob(std::unique_lock<std::mutex>& lock) {
    Chunk& chunk = *m_chunks[m_jobs[m_nextJob]];
    m_nextJob = (m_nextJob + 1) % m_jobs.size();
    --m_queued;
    lock.unlock();
    CompressChunk(chunk);
    lock.lock();
    chunk.done.store(true, std::memory_order_release);
    // Only the caller's thread waits for a chunk; a wake-up costs a system
    // call, so it is sent only when somebody waits.
    if (m_callerWaits) m_jobDone.notify_one();
}

void CChunkPipeline::CompressChunk(Chunk& chunk) {
    // The stream's header was written when the chunk was submitted.
    uint8_t* data = chunk.output.get() + KOX_BLOCK_HEADER_SIZE;
    const auto n = static_cast<int32_t>(chunk.length);
    int32_t read = 0, written = 0;
    const int rc = CsRCompress(chunk.handle, n, chunk.input.get(), n, data + CS_HEAD_SIZE,
                               static_cast<int32_t>(KOX_CHUNK_SIZE) - CS_HEAD_SIZE,
                               KOX_CHUNK_COMPRESS_OPTION & ~CS_INIT_COMPRESS, &read, &written);
    chunk.rc = rc < 0 ? rc : 0;
    if (rc < 0) return;
    chunk.blockBytes =
        FinishChunkBlock(chunk.output.get(), rc == CS_END_OF_STREAM,
                         CS_HEAD_SIZE + static_cast<size_t>(written), chunk.input.get(),
                         chunk.length, chunk.last);
}

uint8_t* CChunkPipeline::NextInput() {
    if (!WriteFinished(m_chunks.size() - 1)) return nullptr;
    return m_chunks[(m_head + m_count) % m_chunks.size()]->input.get();
}

void CChunkPipeline::Submit(size_t length, bool last, const std::string& name) {
    const size_t index = (m_head + m_count) % m_chunks.size();
    Chunk& chunk = *m_chunks[index];
    if (length >= kInlineBelow && !m_workersStarted) StartWorkers();
    // Starting the stream here draws its preamble in the order of the
    // chunks, as a run without workers would.
    const int rc = CsRInitCompress(chunk.handle, chunk.output.get() + KOX_BLOCK_HEADER_SIZE,
                                   static_cast<int32_t>(length), KOX_CHUNK_COMPRESS_OPTION);
    if (rc < 0) throw CCompExcept(name + " (cslib error " + std::to_string(rc) + ")");
    chunk.length = length;
    chunk.last = last;
    chunk.name = name;
    chunk.before.swap(m_after);
    m_after.clear();
    ++m_count;
    if (length < kInlineBelow) {
        CompressChunk(chunk);
        chunk.done.store(true, std::memory_order_relaxed);
        return;
    }
    chunk.done.store(false, std::memory_order_relaxed);
    bool wake;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs[(m_nextJob + m_queued) % m_jobs.size()] = index;
        ++m_queued;
        wake = m_idle > 0;
    }
    if (wake) m_workReady.notify_one();
}

bool CChunkPipeline::Append(const void* buffer, size_t length) {
    if (m_count == 0) return WriteBytes(buffer, length);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    m_after.insert(m_after.end(), bytes, bytes + length);
    return true;
}

bool CChunkPipeline::Flush() { return WriteFinished(0); }

bool CChunkPipeline::WriteFinished(size_t keep) {
    while (m_count > 0) {
        Chunk& chunk = *m_chunks[m_head];
        if (!chunk.done.load(std::memory_order_acquire)) {
            if (m_count <= keep) break;
            // Rather than wait, the caller's thread takes on work itself.
            std::unique_lock<std::mutex> lock(m_mutex);
            while (!chunk.done.load(std::memory_order_acquire)) {
                if (m_queued > 0) {
                    RunQueuedJob(lock);
                } else {
                    m_callerWaits = true;
                    m_jobDone.wait(lock);
                    m_callerWaits = false;
                }
            }
        }
        if (chunk.rc < 0)
            throw CCompExcept(chunk.name + " (cslib error " + std::to_string(chunk.rc) + ")");
        if (!chunk.before.empty()) {
            if (!WriteBytes(chunk.before.data(), chunk.before.size())) return false;
            chunk.before.clear();
        }
        if (!WriteBytes(chunk.output.get(), chunk.blockBytes)) return false;
        m_head = (m_head + 1) % m_chunks.size();
        --m_count;
    }
    if (m_count == 0 && !m_after.empty()) {
        if (!WriteBytes(m_after.data(), m_after.size())) return false;
        m_after.clear();
    }
    return true;
}

bool CChunkPipeline::WriteBytes(const void* buffer, size_t length) {
    size_t put = 0;
    if (m_sink.WriteThrough(buffer, length, &put) && put == length) return true;
    m_writeFailed = true;
    return false;
}

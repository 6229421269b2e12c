// Compresses the chunks of the files being archived on worker threads while
// the caller goes on reading, and writes blocks and every other byte of the
// archive in the order they were produced, so the archive is the same byte
// for byte as one written chunk after chunk.
//
// Only the caller's thread uses the pipeline.  Each chunk in flight has a
// compression handle of its own; its stream is started on the caller's thread
// (which fixes the stream's preamble in submission order) and finished by
// whichever thread takes the job.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/filestream.h"

class CChunkPipeline : public IWriteBehind {
public:
    // A pipeline with up to the given number of worker threads (at least
    // one; started with the first chunk handed over) attached to sink, or
    // nullptr when its handles cannot be had.
    static std::unique_ptr<CChunkPipeline> Attach(CFileStream& sink, unsigned workers);
    // Workers worth starting on this machine: 0 when the caller's thread is
    // all there is (or the compression library is tracing, which it does
    // from one thread only).
    static unsigned WorkersForThisMachine();

    // Writes what is still queued (unless a write failed), then detaches
    // from the stream.
    ~CChunkPipeline() override;
    CChunkPipeline(const CChunkPipeline&) = delete;
    CChunkPipeline& operator=(const CChunkPipeline&) = delete;

    // Buffer of KOX_CHUNK_SIZE bytes for the next chunk's data.  Writes the
    // blocks that are done and, when every chunk is in flight, waits for the
    // oldest.  nullptr on a write error (errno kept); a chunk whose
    // compression failed throws CCompExcept naming its file.
    uint8_t* NextInput();
    // Starts compressing the first length bytes of the buffer NextInput gave
    // into the entry's next block ("DA"/"ED", or "UD"/"UE" when the chunk does
    // not shrink into one block); last marks the entry's final block.
    void Submit(size_t length, bool last, const std::string& name);

    bool Append(const void* buffer, size_t length) override;
    bool Flush() override;

private:
    struct Chunk;

    CChunkPipeline(CFileStream& sink, unsigned workers);
    bool TakeHandles();
    void StartWorkers();
    void WorkerLoop();
    // Runs the oldest job nobody has started; called with the lock held,
    // which is released while the job runs.
    void RunQueuedJob(std::unique_lock<std::mutex>& lock);
    static void CompressChunk(Chunk& chunk);
    // Writes finished chunks from the oldest on, waiting while more than
    // keep chunks are in flight; then the bytes queued behind the last one
    // when none is left.
    bool WriteFinished(size_t keep);
    bool WriteBytes(const void* buffer, size_t length);

    CFileStream& m_sink;
    std::vector<std::unique_ptr<Chunk>> m_chunks;  // a ring, oldest at m_head
    size_t m_head = 0;
    size_t m_count = 0;            // chunks in flight (caller's thread only)
    std::vector<uint8_t> m_after;  // bytes queued behind the newest chunk
    bool m_writeFailed = false;    // a write to the stream failed

    std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_jobDone;
    std::vector<size_t> m_jobs;  // a ring of chunk indices, oldest job at m_nextJob
    size_t m_nextJob = 0;
    size_t m_queued = 0;  // jobs nobody took
    unsigned m_idle = 0;  // workers waiting for a job
    bool m_callerWaits = false;
    bool m_stop = false;
    unsigned m_workerCount;
    bool m_workersStarted = false;
    std::vector<std::thread> m_workers;
};

// Compresses the chunks of the files being archived on worker threads while
// the caller goes on reading, and writes blocks and every other byte of the
// archive in the order they were produced, so the archive is the same byte
// for byte as one written chunk after chunk.
//
// Only the caller's thread uses the pipeline.  The caller collects chunks,
// and the bytes written between them (entry headers, checksums), into
// batches of at least kBatchBytes; each batch is one job for one worker,
// which compresses its chunks in order on a compression handle of its own.
// The caller draws every chunk's preamble when the chunk is handed in, so
// the preambles follow the order of the chunks, as on one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/filestream.h"
#include "app/handleworkers.h"

class CChunkPipeline : public IWriteBehind {
public:
    // A pipeline with the given number of worker threads (at least one;
    // started with the first batch handed over) attached to sink, or nullptr
    // when its compression handles cannot be had.
    static std::unique_ptr<CChunkPipeline> Attach(CFileStream& sink, unsigned workers);

    // Input and side bytes of a batch before it is handed over.
    static constexpr size_t kBatchBytes = 256 * 1024;

    // Writes what is still queued (unless a write failed), then detaches
    // from the stream.
    ~CChunkPipeline() override;
    CChunkPipeline(const CChunkPipeline&) = delete;
    CChunkPipeline& operator=(const CChunkPipeline&) = delete;

    // Buffer of KOX_CHUNK_SIZE bytes for the next chunk's data.  Writes the
    // batches that are done and, when every batch is in use, waits for the
    // oldest.  nullptr on a write error (errno kept); a chunk whose
    // compression failed throws CCompExcept naming its file.
    uint8_t* NextInput();
    // Queues the first length bytes of the buffer NextInput gave as the
    // entry's next block ("DA"/"ED", or "UD"/"UE" when the chunk does not
    // shrink into one block); last marks the entry's final block.
    void Submit(size_t length, bool last, const std::string& name);

    bool Append(const void* buffer, size_t length) override;
    bool Flush() override;

private:
    struct Batch;

    CChunkPipeline(CFileStream& sink, unsigned workers);
    // The batch being filled, taking the next free one when there is none.
    Batch* Filling();
    // Hands the batch being filled to the workers.
    void HandOver();
    // Writes finished batches from the oldest on, waiting while more than
    // keep are in flight; then the bytes queued behind the last chunk when
    // none is left.
    bool WriteFinished(size_t keep);
    bool WriteBatch(Batch& batch);
    bool WriteBytes(const void* buffer, size_t length);

    CFileStream& m_sink;
    std::vector<std::unique_ptr<Batch>> m_batches;  // a ring, oldest in flight at m_head
    size_t m_head = 0;
    size_t m_inFlight = 0;         // batches handed over and not yet written
    Batch* m_filling = nullptr;    // the batch chunks go into, not handed over yet
    std::vector<uint8_t> m_after;  // bytes queued behind the newest chunk
    bool m_writeFailed = false;    // a write to the stream failed
    // Last: the workers stop before the batches they work on are freed.
    std::unique_ptr<CHandleWorkers> m_workers;
};

// The data blocks of an entry being extracted or tested, decoded on worker
// threads while the caller reads the blocks that follow; the caller takes
// the blocks back in their order and does with them exactly what it does
// with blocks it decodes itself (checksum, digest, file, messages).
//
// Every compressed block of an archive this program writes is one stream of
// its own, so a worker decodes a block as the start of a new stream.  When
// the caller finds that a stream was still open at that block (another
// writer's archive may let a stream run on over several blocks), or that the
// worker could not finish the block, it decodes the block itself: the
// worker's result is a guess that is used only where it cannot differ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/handleworkers.h"
#include "app/koxformat.h"
#include "cslib/cslib.h"

class CArchiveFile;

// How one compressed block ended, decoded as the data pass does it.
enum class BlockEnd {
    kClosed,  // its stream ended inside it
    kOpen,    // its input ran out with the stream still open
    kFailed,  // the decoder failed; the text says how
};

// Whether the compressed block of length bytes at data starts a stream that
// decodes to more than one chunk, which one block of a "2.01" archive never
// holds.
bool StartsStreamLongerThanChunk(const uint8_t* data, uint32_t length);

// Decodes one compressed block of length bytes at p: step(p, left, out,
// first, &read, &written) is one decompression step into out, which takes
// KOX_CHUNK_SIZE bytes; outAt() gives out for each step, and emit(n) takes
// the n bytes each step wrote there.  first: the block starts a stream.
// The one loop of every decoding of entry data, on any thread.  A decoder
// without memory throws std::bad_alloc: the data is not at fault.
template <class Step, class OutAt, class Emit>
BlockEnd DecodeBlock(const uint8_t* p, int32_t left, bool first, Step step, OutAt outAt, Emit emit,
                     std::string& failure)
{
    for (;;) {
        int32_t read = 0, written = 0;
        const int rc = step(p, left, outAt(), first, &read, &written);
        if (rc == CS_E_NO_MEMORY)
            throw std::bad_alloc();
        if (rc < 0) {
            failure = "cslib error " + std::to_string(rc);
            return BlockEnd::kFailed;
        }
        emit(static_cast<size_t>(written));
        p += read;
        left -= read;
        first = false;
        if (rc == CS_END_OF_STREAM)
            return BlockEnd::kClosed;
        if (read == 0 && written == 0) {
            if (rc == CS_END_OUTBUFFER) {  // output full, yet nothing moved
                failure = "cslib made no progress";
                return BlockEnd::kFailed;
            }
            return BlockEnd::kOpen;
        }
        if (rc != CS_END_OUTBUFFER && left <= 0)
            return BlockEnd::kOpen;
    }
}

// A compressed block a worker decoded as the start of a stream.
struct DecodedBlock {
    const uint8_t* data;  // what its steps wrote, in order
    size_t length;
    BlockEnd end;
    std::string failure;
};

// The side of an entry's data pass that takes its blocks in order.
class IBlockConsumer {
public:
    virtual ~IBlockConsumer() = default;
    // One block: raw ("UD"/"UE") or compressed; decoded is what a worker
    // made of a compressed block, or null.
    virtual void Block(const uint8_t* data, uint32_t length, bool compressed, const DecodedBlock* decoded) = 0;
};

class CBlockDecoder {
public:
    // A decoder with the given number of worker threads (started with the
    // first batch), or nullptr for none or when its handles cannot be had.
    static std::unique_ptr<CBlockDecoder> Create(unsigned workers);
    // The decoder of the run, published by the command that reads entries.
    static void Publish(CBlockDecoder* decoder);
    static CBlockDecoder* Current();

    // Entries with at least this many bytes of data are worth the workers.
    static constexpr uint64_t kMinEntrySize = 3 * KOX_CHUNK_SIZE;

    ~CBlockDecoder();
    CBlockDecoder(const CBlockDecoder&) = delete;
    CBlockDecoder& operator=(const CBlockDecoder&) = delete;

    // Reads the current entry's data blocks from archive up to its last one
    // and hands them to consumer in order; checkLength refuses a compressed
    // block that starts a stream longer than a chunk without decoding it.
    // Returns the checksum stored behind the last block.  A read error is
    // thrown when its block's turn comes, after the blocks before it.
    uint32_t Run(CArchiveFile& archive, bool checkLength, IBlockConsumer& consumer);

private:
    struct Batch;

    explicit CBlockDecoder(unsigned workers);

    std::vector<std::unique_ptr<Batch>> m_batches;
    // Last: the workers stop before the batches they work on are freed.
    std::unique_ptr<CHandleWorkers> m_workers;
};

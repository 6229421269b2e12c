#include "app/blockdecoder.h"

#include <algorithm>
#include <new>

#include "app/archivefile.h"
#include "app/compressstrategy.h"
#include "cslib/cslib.h"

namespace {

CBlockDecoder* g_published = nullptr;

// Bytes of data (decoded) a batch of blocks stands for before it is handed
// over, and blocks in one batch at most.
constexpr size_t kBatchBytes = 256 * 1024;
constexpr size_t kBatchBlocks = 64;
// A block that decodes to more than this is left to the caller (only an
// archive of another writer has such streams).
constexpr size_t kMaxDecoded = 1024 * 1024;
// The steps of a worker stop here when the block decodes to too much.
constexpr int kTooMuch = -1000000;

}  // namespace

struct CBlockDecoder::Batch : CHandleWorkers::Job {
    struct Block {
        size_t input = 0;  // offset in input
        uint32_t length = 0;
        bool compressed = false;
        bool last = false;
        uint32_t checksum = 0;
        std::exception_ptr readFailure;  // reading this block failed
        bool decoded = false;            // a worker decoded it
        size_t output = 0;               // offset in output
        size_t outputLength = 0;
        BlockEnd end = BlockEnd::kOpen;
        std::string failure;
    };

    std::unique_ptr<uint8_t[]> input{new uint8_t[kBatchBytes + CTransferBuffers::kInputSize]};
    size_t inputUsed = 0;
    size_t dataBytes = 0;
    std::vector<Block> blocks;
    CJobOutput output;
    bool checkLength = true;  // refuse streams longer than a chunk

    void Clear()
    {
        inputUsed = 0;
        dataBytes = 0;
        blocks.clear();
        output.used = 0;
    }
    // Decodes each compressed block as the start of a stream.
    void Run(int handle) override;
    // Decodes one compressed block at data into output.
    void Decode(int handle, Block& block, const uint8_t* data);
    bool Full() const
    {
        return dataBytes >= kBatchBytes || blocks.size() >= kBatchBlocks ||
               inputUsed + CTransferBuffers::kInputSize > kBatchBytes + CTransferBuffers::kInputSize;
    }
};

bool StartsStreamLongerThanChunk(const uint8_t* data, uint32_t length)
{
    return length >= static_cast<uint32_t>(CS_HEAD_SIZE) && CsHeaderLength(data) > static_cast<int32_t>(KOX_CHUNK_SIZE);
}

std::unique_ptr<CBlockDecoder> CBlockDecoder::Create(unsigned workers)
{
    // Two batches per worker, and their output, are what a worker costs
    // besides its thread; with no worker the caller decodes every block
    // itself.
    constexpr size_t kBatchMemory = kBatchBytes + CTransferBuffers::kInputSize + kBatchBytes;
    unsigned fitting = 0;
    std::unique_ptr<CBlockDecoder> decoder = CHandleWorkers::MakeFitting(
        workers, 2 * kBatchMemory, fitting,
        [](unsigned n) { return std::unique_ptr<CBlockDecoder>(new CBlockDecoder(n)); });
    if (!decoder || !decoder->m_workers->TakeHandles(fitting))
        return nullptr;
    return decoder;
}

void CBlockDecoder::Publish(CBlockDecoder* decoder)
{
    g_published = decoder;
}

CBlockDecoder* CBlockDecoder::Current()
{
    return g_published;
}

CBlockDecoder::CBlockDecoder(unsigned workers)
{
    m_batches.resize(2 * static_cast<size_t>(workers) + 2);
    for (auto& batch : m_batches)
        batch = std::make_unique<Batch>();
    m_workers = std::make_unique<CHandleWorkers>(m_batches.size());
}

CBlockDecoder::~CBlockDecoder() = default;

void CBlockDecoder::Batch::Run(int handle)
{
    for (Block& block : blocks) {
        if (!block.compressed || block.readFailure)
            continue;
        const uint8_t* data = input.get() + block.input;
        // A stream the caller refuses is not decoded.
        if (checkLength && StartsStreamLongerThanChunk(data, block.length))
            continue;
        const size_t start = output.used;
        try {
            Decode(handle, block, data);
        } catch (const std::bad_alloc&) {
            // No memory for its output: this block and those behind it are
            // left to the caller, who decodes them in buffers of its own.
            output.used = start;
            block.decoded = false;
            return;
        }
    }
}

void CBlockDecoder::Batch::Decode(int handle, Block& block, const uint8_t* data)
{
    const size_t start = output.used;
    auto step = [&](const uint8_t* p, int32_t left, uint8_t* out, bool first, int32_t* read, int32_t* written) {
        if (output.used - start > kMaxDecoded)
            return kTooMuch;
        return CsRDecompress(handle, p, left, out, static_cast<int32_t>(KOX_CHUNK_SIZE), first ? CS_INIT_DECOMPRESS : 0,
                             read, written);
    };
    auto outAt = [&] { return output.Reserve(KOX_CHUNK_SIZE); };  // room for one step
    auto emit = [&](size_t n) { output.used += n; };
    block.end = DecodeBlock(data, static_cast<int32_t>(block.length), true, step, outAt, emit, block.failure);
    block.output = start;
    block.outputLength = output.used - start;
    // An open stream, or one that decodes to too much, is the caller's.
    block.decoded = block.end == BlockEnd::kClosed ||
                    (block.end == BlockEnd::kFailed && output.used - start <= kMaxDecoded);
    if (!block.decoded)
        output.used = start;
}

uint32_t CBlockDecoder::Run(CArchiveFile& archive, bool checkLength, IBlockConsumer& consumer)
{
    // Whatever ends the pass, no worker is left with one of its batches.
    struct Settled {
        CHandleWorkers& workers;
        ~Settled() { workers.WaitAll(); }
    } settled{*m_workers};
    const size_t ring = m_batches.size();
    size_t head = 0;
    size_t inFlight = 0;  // batches handed over, oldest at head
    Batch* filling = nullptr;
    bool more = true;
    uint32_t stored = 0;
    while (more || inFlight > 0) {
        // Read ahead while a batch is free.
        while (more && (filling != nullptr || inFlight < ring)) {
            if (filling == nullptr) {
                filling = m_batches[(head + inFlight) % ring].get();
                filling->Clear();
                filling->checkLength = checkLength;
            }
            Batch::Block block;
            block.input = filling->inputUsed;
            uint8_t* dest = filling->input.get() + filling->inputUsed;
            try {
                bool compressed = false;
                more = archive.GetEntryData(dest, CTransferBuffers::kInputSize, &block.length, &block.checksum,
                                            &compressed);
                block.compressed = compressed;
                block.last = !more;
            } catch (...) {
                block.readFailure = std::current_exception();
                more = false;
            }
            filling->inputUsed += block.length;
            filling->dataBytes += block.compressed && block.length >= static_cast<uint32_t>(CS_HEAD_SIZE)
                                      ? static_cast<size_t>(std::max(CsHeaderLength(dest), 0))
                                      : block.length;
            filling->blocks.push_back(std::move(block));
            if (!more || filling->Full()) {
                m_workers->HandOver(*filling);
                filling = nullptr;
                ++inFlight;
            }
        }
        if (inFlight == 0)
            break;
        // Then take the oldest batch back, block by block in order.
        Batch& batch = *m_batches[head];
        m_workers->Wait(batch);
        if (batch.Failure())
            std::rethrow_exception(batch.Failure());
        for (const Batch::Block& block : batch.blocks) {
            if (block.readFailure)
                std::rethrow_exception(block.readFailure);
            DecodedBlock decoded;
            if (block.decoded)
                decoded = DecodedBlock{batch.output.bytes.get() + block.output, block.outputLength, block.end,
                                       block.failure};
            consumer.Block(batch.input.get() + block.input, block.length, block.compressed,
                           block.decoded ? &decoded : nullptr);
            if (block.last)
                stored = block.checksum;
        }
        head = (head + 1) % ring;
        --inFlight;
    }
    return stored;
}

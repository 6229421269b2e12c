// Compression strategies turn one file entry's contents into the data blocks
// and checksum of a KOX archive, and the process-wide transfer buffers that
// carry every block (no allocation per block).
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/koxformat.h"

#include <string>

class CArchiveFile;
class CChunkPipeline;
class CDirEntry;
class CFileStream;

// One process-wide set of buffers shared by the writers and the readers of
// entry data: the input buffer (twice the block size) and the output buffer
// (block size plus the 6-byte block header in front).
class CTransferBuffers {
public:
    static constexpr size_t kBlockSize = KOX_CHUNK_SIZE;
    static constexpr size_t kInputSize = 2 * kBlockSize;                       // 131,072
    static constexpr size_t kOutputSize = kBlockSize + KOX_BLOCK_HEADER_SIZE;  // 65,542

    // Created on first use; lives until the process ends.
    static CTransferBuffers& Instance();
    uint8_t* Input() { return m_input; }
    uint8_t* Output() { return m_output; }

private:
    CTransferBuffers() = default;
    alignas(64) uint8_t m_input[kInputSize];
    alignas(64) uint8_t m_output[kOutputSize];
};

class ICompressStrategy {
public:
    ICompressStrategy() = default;
    virtual ~ICompressStrategy() = default;
    ICompressStrategy(const ICompressStrategy&) = delete;
    ICompressStrategy& operator=(const ICompressStrategy&) = delete;

    // Writes the current entry's data blocks and checksum to the archive;
    // the entry's stream is open for reading.  Exactly the entry's header
    // size is stored: a file that grew is cut at it, one that shrank is padded
    // with zero bytes; either gets a warning line.  True; failures throw.
    virtual bool Compress(CArchiveFile& archive) = 0;
    virtual void SetEntry(CDirEntry* entry) { m_entry = entry; }
    CDirEntry* GetEntry() const { return m_entry; }

    // The strategy of the run, published by the command that writes entries;
    // when none was published a CNormalCompress of the process is returned.
    static void Publish(ICompressStrategy* strategy);
    static ICompressStrategy& Current();

protected:
    CDirEntry* m_entry = nullptr;
};

// The option of every chunk's compression: first call, Huffman-style codec,
// level 2 (the archive's only setting).
inline constexpr int KOX_CHUNK_COMPRESS_OPTION = 35;

// Compresses the n bytes at in (one chunk, at most KOX_CHUNK_SIZE) as one
// stream on handle and completes its block in out, which has room for the
// 6-byte block header and a whole chunk: "DA" ("ED" when last) when the
// stream fits a chunk, otherwise the raw bytes as "UD" ("UE").  Returns the
// block's size, header included, or the negative code of the compression
// library.  Every chunk of an archive goes through here, on whichever thread.
int64_t CompressChunkBlock(int handle, const uint8_t* in, size_t n, bool last, uint8_t* out);
// The failure of a chunk of the file name whose compression returned the
// negative code rc: std::bad_alloc when the library had no memory (the run
// ends as any run out of memory does), otherwise CCompExcept.
[[noreturn]] void ThrowCompressionFailure(const std::string& name, int64_t rc);

// Warns about name when source still yields a byte after the stored bytes
// were read: the file grew while it was archived.
void ReportIfFileGrew(CFileStream& source, const std::string& name, uint64_t stored);

// Chunks of 65,536 bytes, each compressed as its own stream ("DA"/"ED") or
// stored raw ("UD"/"UE") when it does not shrink into one block.
class CNormalCompress : public ICompressStrategy {
public:
    CNormalCompress() = default;
    ~CNormalCompress() override;
    bool Compress(CArchiveFile& archive) override;
    // Chunks then go through pipeline, which is attached to the archive's
    // stream (nullptr: each chunk is compressed and written in turn).
    void SetPipeline(CChunkPipeline* pipeline) { m_pipeline = pipeline; }

private:
    CChunkPipeline* m_pipeline = nullptr;
    int m_handle = 0;  // compression handle of the chunks compressed here
};

// The other platform's backup archives; its read operation fails here, so
// Compress ends at once with CReadExcept naming the entry.
class CBackupCompress : public ICompressStrategy {
public:
    bool Compress(CArchiveFile& archive) override;
};

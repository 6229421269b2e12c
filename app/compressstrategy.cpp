#include "app/compressstrategy.h"

#include <cstring>
#include <new>
#include <string>

#include "app/application.h"
#include "app/archivefile.h"
#include "app/chunkpipeline.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/logman.h"
#include "app/stopsignal.h"
#include "cslib/cslib.h"
#include "cslib/crc32.h"
#include "krn/snt/manifest.h"

namespace {

ICompressStrategy* g_published = nullptr;

}  // namespace

CTransferBuffers& CTransferBuffers::Instance()
{
    static CTransferBuffers buffers;
    return buffers;
}

void ICompressStrategy::Publish(ICompressStrategy* strategy)
{
    g_published = strategy;
}

ICompressStrategy& ICompressStrategy::Current()
{
    static CNormalCompress fallback;
    return g_published ? *g_published : fallback;
}

namespace {

// Reads the next n stored bytes of the entry into in: once the file has ended
// the rest is zeros, counted in padded.
void ReadChunk(CFileStream& source, const std::string& name, uint8_t* in, size_t n, bool& atEnd, uint64_t& padded)
{
    size_t got = 0;
    if (!atEnd) {
        if (!source.Read(in, n, &got))
            throw CReadExcept(name);
        atEnd = got < n;
    }
    if (got < n) {
        memset(in + got, 0, n - got);
        padded += n - got;
    }
}

}  // namespace

bool CNormalCompress::Compress(CArchiveFile& archive)
{
    CDirEntry* entry = m_entry;
    if (!entry)
        throw CExcept("KOVZEF: no entry given to the compression strategy", 100, false);
    const std::string& name = entry->GetName();
    CTransferBuffers& tb = CTransferBuffers::Instance();
    uint8_t* out = tb.Output();
    CFileStream* source = entry->GetStream();
    CFileStream& sink = archive.Stream();
    ManifestFile* digest = entry->IsDigestEnabled() ? entry->GetDigestContext() : nullptr;

    // Exactly the size of the header is stored, whatever the file does
    // meanwhile: the reader relies on the blocks, the lister on the header.
    const uint64_t total = entry->GetHeaderInfo().TotalSize();
    if (total == 0)
        return true;
    uint64_t remaining = total;
    uint64_t padded = 0;
    bool atEnd = false;
    uint32_t crc = 0;
    bool last = false;
    do {
        StopIfRequested();
        const size_t n = remaining < KOX_CHUNK_SIZE ? static_cast<size_t>(remaining) : KOX_CHUNK_SIZE;
        uint8_t* in = m_pipeline ? m_pipeline->NextInput() : tb.Input();
        if (in == nullptr)
            throw CWriteExcept(archive.GetPath());
        ReadChunk(*source, name, in, n, atEnd, padded);
        remaining -= n;
        last = remaining == 0;

        crc = CsCrc32Update(crc, in, n);
        if (digest)
            ManifestUpdateFile(digest, in, n);
        if (m_pipeline) {
            m_pipeline->Submit(n, last, name);
            continue;
        }

        if (m_handle == 0) {
            // The code is what the call returns: the handle is set only
            // when it succeeds or no slot is free, not when its memory
            // could not be had.
            if (const int rc = CsGetHandle(&m_handle); rc != 0) {
                m_handle = 0;
                ThrowCompressionFailure(name, rc);
            }
        }
        const int64_t block = CompressChunkBlock(m_handle, in, n, last, out);
        if (block < 0)
            ThrowCompressionFailure(name, block);
        const auto blockBytes = static_cast<size_t>(block);
        size_t put = 0;
        if (!sink.Write(out, blockBytes, &put) || put != blockBytes)
            throw CWriteExcept(archive.GetPath());
    } while (!last);

    uint8_t sum[KOX_CHECKSUM_SIZE];
    KoxPutU32(sum, crc);
    size_t put = 0;
    if (!sink.Write(sum, sizeof sum, &put) || put != sizeof sum)
        throw CWriteExcept(archive.GetPath());

    // A file that changed size while it was read is stored at its header
    // size with a warning: the copy is not the file, but a growing log must
    // not fail a backup.
    if (padded) {
        CApplication::Instance().GetLogMan().Write("KOVZEF: warning: file '" + KovShown(name) + "' shrank by " +
                                                   std::to_string(padded) + " bytes while being archived; " +
                                                   std::to_string(total) + " bytes were stored, the last " +
                                                   std::to_string(padded) + " of them zero bytes");
    } else if (!atEnd) {
        ReportIfFileGrew(*source, name, total);
    }
    return true;
}

CNormalCompress::~CNormalCompress()
{
    if (m_handle > 0)
        CsReleaseHandle(m_handle);
}

int64_t CompressChunkBlock(int handle, const uint8_t* in, size_t n, bool last, uint8_t* out)
{
    int32_t read = 0, written = 0;
    const int rc = CsRCompress(handle, static_cast<int32_t>(n), in, static_cast<int32_t>(n),
                               out + KOX_BLOCK_HEADER_SIZE, static_cast<int32_t>(KOX_CHUNK_SIZE),
                               KOX_CHUNK_COMPRESS_OPTION, &read, &written);
    if (rc < 0)
        return rc;
    size_t length = static_cast<size_t>(written);
    const char* type = last ? KOX_BLOCK_ED : KOX_BLOCK_DA;
    if (rc != CS_END_OF_STREAM) {
        memcpy(out + KOX_BLOCK_HEADER_SIZE, in, n);
        length = n;
        type = last ? KOX_BLOCK_UE : KOX_BLOCK_UD;
    }
    out[0] = static_cast<uint8_t>(type[0]);
    out[1] = static_cast<uint8_t>(type[1]);
    KoxPutU32(out + 2, static_cast<uint32_t>(length));
    return static_cast<int64_t>(length + KOX_BLOCK_HEADER_SIZE);
}

void ThrowCompressionFailure(const std::string& name, int64_t rc)
{
    if (rc == CS_E_NO_MEMORY)
        throw std::bad_alloc();
    throw CCompExcept(name + " (cslib error " + std::to_string(rc) + ")");
}

void ReportIfFileGrew(CFileStream& source, const std::string& name, uint64_t stored)
{
    uint8_t probe;
    size_t got = 0;
    if (source.Read(&probe, 1, &got) && got == 1)
        CApplication::Instance().GetLogMan().Write("KOVZEF: warning: file '" + KovShown(name) +
                                                   "' grew while being archived; only the first " +
                                                   std::to_string(stored) + " bytes were stored");
}

bool CBackupCompress::Compress(CArchiveFile&)
{
    CDirEntry* entry = m_entry;
    if (!entry)
        throw CExcept("KOVZEF: no entry given to the compression strategy", 100, false);
    // The backup read of this platform always fails, so no block is written.
    size_t got = 0;
    if (!entry->GetStream()->BackupRead(CTransferBuffers::Instance().Input(), KOX_CHUNK_SIZE, &got))
        throw CReadExcept(entry->GetName());
    throw CReadExcept(entry->GetName());
}

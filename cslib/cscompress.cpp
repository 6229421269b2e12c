// One compression step on a handle: codec dispatch, the result rules shared by
// both codecs, the detailed mode with its CRC states and trace, the segmented
// framing with block headers and trailer, and the early-decompress check.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cslib/csheader.h"
#include "cslib/cslib.h"
#include "cslib/cstrace.h"
#include "cslib/cswork.h"
#include "cslib/huff.h"
#include "cslib/lzw.h"

namespace {

constexpr int32_t kBlockHead = 8;
constexpr int32_t kBlockBufSize = 1032;
constexpr int32_t kBlockRoom = 1016;  // codec space of the block buffer
constexpr int32_t kDirectBlockMin = 1024;
constexpr int32_t kCheckScratch = 100000;
constexpr int32_t kCheckDone = -1;  // check handle value once the check saw result 1

int RunCodec(CsWorkArea* wa, int32_t desc, int option, bool first, int32_t streamLen, const uint8_t* in, int32_t inLen,
             uint8_t* out, int32_t outLen, int32_t* read, int32_t* written)
{
    const bool segmented = (desc & CS_SEGMENTED) != 0;
    if ((desc & CS_ALGO_MASK) == CS_LZC)
        return CsLzwCompress(static_cast<LzwComprState*>(wa->codec), first, segmented, streamLen, in, inLen, out,
                             outLen, read, written);
    // A preamble given for the stream is used once, by its first call.
    const int64_t preset = first ? wa->presetPreamble : -1;
    if (first)
        wa->presetPreamble = -1;
    return CsHuffCompress(wa->codec, first, option >> CS_LEVEL_SHIFT, segmented, streamLen, in, inLen, out, outLen,
                          read, written, cs_trace_level != 0, static_cast<int32_t>(preset));
}

// Hands out the block waiting in the block buffer as far as the output allows.
int HandOutBlock(CsWorkArea* wa, uint8_t* out, int32_t outLen, int32_t* written)
{
    const int32_t n = std::min(wa->blockFill - wa->blockOff, std::max(outLen - *written, 0));
    if (n > 0)
        std::memcpy(out + *written, wa->blockBuf + wa->blockOff, static_cast<size_t>(n));
    *written += n;
    wa->blockOff += n;
    if (wa->blockOff < wa->blockFill)
        return CS_END_OUTBUFFER;
    wa->blockFill = 0;
    wa->blockOff = 0;
    if (wa->pending == CS_END_OF_STREAM)
        return CS_END_OF_STREAM;
    if (wa->pending == CS_END_INBUFFER)
        return CS_END_INBUFFER;
    return *written == outLen ? CS_END_OUTBUFFER : CS_END_OK;
}

// Later step of a segmented stream: the codec output becomes one block.
int SegmentedStep(CsWorkArea* wa, int32_t desc, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen,
                  int32_t* read, int32_t* written)
{
    if (wa->blockFill > 0)
        return HandOutBlock(wa, out, outLen, written);
    const bool direct = outLen >= kDirectBlockMin;
    uint8_t* head = direct ? out : wa->blockBuf;
    uint8_t* body = head + kBlockHead;
    const int32_t room = direct ? outLen - kBlockHead : kBlockRoom;
    if (!direct && (cs_trace_level & 1))
        CS_PRINT("    using temporary buffer... \n");

    int32_t r = 0;
    int32_t w = 0;
    const int rc = RunCodec(wa, desc, 0, false, 0, in, inLen, body, room, &r, &w);
    if (rc < 0)
        return rc;
    *read = r;
    CsCrcUpdate(wa->crcU, in, static_cast<size_t>(r));
    int32_t total = 0;
    if (w > 0) {  // empty blocks are not written
        CsCrcUpdate(wa->crcC, body, static_cast<size_t>(w));
        CsPutLe32(head, static_cast<uint32_t>(w));
        CsPutLe32(head + 4, wa->crcC->reg);
        total = w + kBlockHead;
    }
    bool trailerWaits = false;
    if (rc == CS_END_OF_STREAM) {
        uint8_t* trailer;
        if (!direct || total + kBlockHead <= outLen) {
            trailer = head + total;
            total += kBlockHead;
        } else {
            trailer = wa->blockBuf;
            trailerWaits = true;
        }
        CsPutLe32(trailer, wa->crcU->total);
        CsPutLe32(trailer + 4, wa->crcU->reg);
    }
    if (direct) {
        *written = total;
        if (!trailerWaits)
            return rc;
        wa->blockFill = kBlockHead;
        wa->blockOff = 0;
        wa->pending = CS_END_OF_STREAM;
        return CS_END_OUTBUFFER;
    }
    wa->blockFill = total;
    wa->blockOff = 0;
    wa->pending = rc;
    if (total == 0) {
        wa->blockFill = 0;
        return rc;
    }
    return HandOutBlock(wa, out, outLen, written);
}

// Decompresses the step's output at once on a handle of its own.
int EarlyCheck(CsWorkArea* wa, bool first, const uint8_t* data, int32_t len)
{
    // Each thread checks its own streams in its own scratch room.
    static thread_local uint8_t scratch[kCheckScratch];
    if (first) {
        if (wa->checkHandle > 0)
            CsReleaseHandle(wa->checkHandle);
        wa->checkHandle = 0;
        int h = 0;
        if (CsGetHandle(&h) != 0)
            return CS_E_INVALID_HANDLE;
        wa->checkHandle = h;
    }
    // The check may end before the coder's last bytes (a decoder stops at the
    // length): what follows is not decoded again.
    if (wa->checkHandle == kCheckDone)
        return 0;
    if (wa->checkHandle == 0)
        return CS_E_INVALID_HANDLE;
    const int saved = cs_trace_level;
    cs_trace_level = 0;
    int rc = CS_END_OK;
    int32_t pos = 0;
    bool firstCall = first;
    // Feed the whole output; each pass has the scratch buffer as fresh room.
    do {
        int32_t r = 0;
        int32_t w = 0;
        rc = CsRDecompress(wa->checkHandle, data + pos, len - pos, scratch, kCheckScratch,
                           firstCall ? CS_INIT_DECOMPRESS : 0, &r, &w);
        firstCall = false;
        pos += r;
        if (rc < 0 || rc == CS_END_OF_STREAM)
            break;
    } while (rc == CS_END_OUTBUFFER || (pos < len && rc == CS_END_OK));
    cs_trace_level = saved;
    if (rc == CS_END_OF_STREAM) {
        CsReleaseHandle(wa->checkHandle);
        wa->checkHandle = kCheckDone;
    }
    return rc < 0 ? rc : 0;
}

int DetailedStep(CsWorkArea* wa, int32_t desc, int option, bool first, int32_t streamLen, const uint8_t* in,
                 int32_t inLen, uint8_t* out, int32_t outLen, int32_t* read, int32_t* written)
{
    const bool segmented = (desc & CS_SEGMENTED) != 0;
    if (first) {
        wa->crcU = CsCrcNew(65536);
        wa->crcC = CsCrcNew(segmented ? 8 : 1024);
        if (wa->crcU == nullptr || wa->crcC == nullptr)
            return CS_E_NO_MEMORY;
        if (segmented) {
            wa->blockBuf = static_cast<uint8_t*>(std::malloc(kBlockBufSize));
            if (wa->blockBuf == nullptr)
                return CS_E_NO_MEMORY;
            wa->blockFill = 0;
            wa->blockOff = 0;
            wa->pending = 0;
        }
        wa->dumpPosIn = 0;
        wa->dumpPosOut = 0;
    } else if (const int rc = CsContinueDetailed(wa, "CsRCompress", segmented); rc != 0) {
        return rc;
    }

    int rc;
    if (segmented && first) {
        // The first output of a segmented stream is the stream header alone, so a
        // reader finds the first block header right after it.
        rc = RunCodec(wa, desc, option, true, streamLen, in, 0, out, std::min(outLen, CS_HEAD_SIZE), read, written);
        if (rc < 0)
            return rc;
        CsCrcUpdate(wa->crcC, out, static_cast<size_t>(*written));
        if (rc == CS_END_OF_STREAM) {
            // Unreachable with either codec (nothing is read yet); kept complete.
            wa->blockFill = kBlockHead;
            wa->blockOff = 0;
            wa->pending = CS_END_OF_STREAM;
            CsPutLe32(wa->blockBuf, 0);
            CsPutLe32(wa->blockBuf + 4, wa->crcU->reg);
            rc = HandOutBlock(wa, out, outLen, written);
        } else {
            rc = (inLen > 0 || rc == CS_END_OUTBUFFER) ? CS_END_OK : CS_END_INBUFFER;
        }
    } else if (segmented) {
        rc = SegmentedStep(wa, desc, in, inLen, out, outLen, read, written);
    } else {
        rc = RunCodec(wa, desc, option, first, streamLen, in, inLen, out, outLen, read, written);
        if (rc >= 0) {
            CsCrcUpdate(wa->crcU, in, static_cast<size_t>(*read));
            CsCrcUpdate(wa->crcC, out, static_cast<size_t>(*written));
        }
    }
    if (rc < 0)
        return rc;

    if (cs_trace_level & 4) {
        CsHexDump(in, *read, wa->dumpPosIn);
        CsHexDump(out, *written, wa->dumpPosOut);
    }
    wa->dumpPosIn += *read;
    wa->dumpPosOut += *written;
    if (cs_trace_level & 1) {
        CS_PRINT("    compress: read = %6d     written = %6d\n", *read, *written);
        CS_PRINT("    CRC uncompressed = %08x     CRC compressed = %08x\n", wa->crcU->reg, wa->crcC->reg);
    }
    if ((cs_trace_level & 2) && (first || *written > 0)) {
        const int crc = EarlyCheck(wa, first, out, *written);
        if (crc < 0)
            return crc;
    }
    return rc;
}

}  // namespace

int CsRCompress(int handle, int32_t streamLen, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen,
                int option, int32_t* read, int32_t* written)
{
    const bool first = (option & CS_INIT_COMPRESS) != 0;
    int32_t spare[2];
    int entryResult = 0;
    CsWorkArea* wa = CsEnterStep(handle, "CsRCompress", CS_STREAM_COMPR, first, read, written, spare, &entryResult);
    if (wa == nullptr)
        return entryResult;
    if (first)
        CsStartStream(wa, handle, option & 14, CS_STREAM_COMPR);
    const int32_t desc = CsDescriptorOf(handle);

    int rc;
    if ((desc & CS_ALGO_MASK) != CS_LZC && (desc & CS_ALGO_MASK) != CS_LZH) {
        CS_PRINT("\n>>ERROR: CsRCompress: Unknow Algorithmus.\n");
        rc = CS_E_UNKNOWN_ALG;
    } else if (!first && wa->lastRc == CS_END_OUTBUFFER && outLen == 0) {
        CS_PRINT("\nERROR: CsRCompress: Expect out buffer but not provided.");
        rc = CS_E_OUT_EXPECTED;
    } else if (cs_trace_level == 0 && (desc & CS_SEGMENTED) == 0) {
        rc = RunCodec(wa, desc, option, first, streamLen, in, inLen, out, outLen, read, written);
    } else {
        rc = DetailedStep(wa, desc, option, first, streamLen, in, inLen, out, outLen, read, written);
    }

    // A step that neither reads nor writes while more is needed must not be
    // repeated forever by the caller.
    return CsFinishStep(wa, "CsRCompress", first, rc, *read, *written, wa->blockFill != 0);
}

uint32_t CsDrawPreamble()
{
    return CsHuffDrawPreamble();
}

int CsRPresetPreamble(int handle, uint32_t preamble)
{
    CsWorkArea* wa = CsAreaOf(handle);
    if (wa == nullptr)
        return CS_E_INVALID_HANDLE;
    wa->presetPreamble = preamble & 0x3F;
    return 0;
}

int CsRInitCompress(int handle, uint8_t* out, int32_t streamLen, int option)
{
    int32_t read = 0;
    int32_t written = 0;
    const int rc = CsRCompress(handle, streamLen, nullptr, 0, out, CS_HEAD_SIZE, option | CS_INIT_COMPRESS, &read,
                               &written);
    return rc <= 0 ? rc : 0;
}

// One decompression step on a handle: header checks, codec dispatch, the
// result rules shared by both codecs, the detailed mode with its CRC states,
// and the reader of segmented streams (block headers, block CRCs, trailer).
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

int RunCodec(CsWorkArea* wa, int32_t desc, bool first, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen,
             int32_t* read, int32_t* written)
{
    if ((desc & 7) == CS_ALG_LZC)
        return CsLzwDecompress(static_cast<LzwDecomprState*>(wa->codec), first, in, inLen, out, outLen, read, written);
    return CsHuffDecompress(wa->codec, first, in, inLen, out, outLen, read, written);
}

// Collects up to 8 bytes into the block buffer; true when complete.
bool Collect8(CsWorkArea* wa, const uint8_t* in, int32_t inLen, int32_t& ip)
{
    const int32_t n = std::min(kBlockHead - wa->blockFill, inLen - ip);
    if (n > 0) {
        std::memcpy(wa->blockBuf + wa->blockFill, in + ip, static_cast<size_t>(n));
        wa->blockFill += n;
        ip += n;
    }
    if (wa->blockFill < kBlockHead)
        return false;
    wa->blockFill = 0;
    return true;
}

// Block end reached: the CRC over all compressed bytes so far must match.
bool BlockCrcOk(CsWorkArea* wa)
{
    if (wa->crcC->reg == wa->expected)
        return true;
    CS_PRINT("\n>>ERROR: CsRDecompress: CRC check failed: segment CRC = %8x\n", wa->crcC->reg);
    return false;
}

void StartBlock(CsWorkArea* wa)
{
    wa->segLen = CsGetLe32(wa->blockBuf);
    wa->expected = CsGetLe32(wa->blockBuf + 4);
    wa->segPos = 0;
    wa->crcC->segLen = wa->segLen == 0 ? 1 : wa->segLen;
    wa->crcC->pos = 0;
}

int SegmentedRead(CsWorkArea* wa, int32_t desc, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen,
                  int32_t* read, int32_t* written)
{
    int32_t ip = 0;
    int32_t op = 0;
    int rc = CS_END_INBUFFER;
    for (;;) {
        if (wa->segState == CS_SEG_PREFIX) {
            // The stream header stands alone before the first block.
            int32_t r = 0;
            int32_t w = 0;
            rc = RunCodec(wa, desc, true, in, CS_HEAD_SIZE, out, outLen, &r, &w);
            if (rc < 0)
                break;
            CsCrcUpdate(wa->crcC, in, static_cast<size_t>(r));
            CsCrcUpdate(wa->crcU, out, static_cast<size_t>(w));
            ip += r;
            op += w;
            wa->codecLast = rc;
            wa->codecDone = rc == CS_END_OF_STREAM;
            wa->segState = wa->codecDone ? CS_SEG_TRAILER : CS_SEG_HEADER;
            wa->blockFill = 0;
            continue;
        }
        if (wa->segState == CS_SEG_HEADER) {
            if (wa->codecLast == CS_END_OUTBUFFER) {
                // Output left over from the last block needs no input.
                if (op == outLen) {
                    rc = CS_END_OUTBUFFER;
                    break;
                }
                int32_t r = 0;
                int32_t w = 0;
                rc = RunCodec(wa, desc, false, nullptr, 0, out + op, outLen - op, &r, &w);
                if (rc < 0)
                    break;
                CsCrcUpdate(wa->crcU, out + op, static_cast<size_t>(w));
                op += w;
                wa->codecLast = rc;
                if (rc == CS_END_OF_STREAM) {
                    wa->codecDone = 1;
                    wa->segState = CS_SEG_TRAILER;
                    continue;
                }
                if (rc == CS_END_OUTBUFFER)
                    break;
            }
            if (!Collect8(wa, in, inLen, ip)) {
                rc = CS_END_INBUFFER;
                break;
            }
            StartBlock(wa);
            wa->segState = CS_SEG_BLOCK;
            if (wa->segLen == 0) {
                if (!BlockCrcOk(wa)) {
                    rc = CS_E_CRC;
                    break;
                }
                wa->segState = CS_SEG_HEADER;
            }
            continue;
        }
        if (wa->segState == CS_SEG_BLOCK) {
            const int32_t n = static_cast<int32_t>(
                std::min<int64_t>(static_cast<int64_t>(wa->segLen) - wa->segPos, inLen - ip));
            if (op == outLen) {
                rc = CS_END_OUTBUFFER;
                break;
            }
            if (n == 0 && wa->codecLast != CS_END_OUTBUFFER) {
                rc = CS_END_INBUFFER;
                break;
            }
            int32_t r = 0;
            int32_t w = 0;
            rc = RunCodec(wa, desc, false, in + ip, n, out + op, outLen - op, &r, &w);
            if (rc < 0)
                break;
            CsCrcUpdate(wa->crcC, in + ip, static_cast<size_t>(r));
            CsCrcUpdate(wa->crcU, out + op, static_cast<size_t>(w));
            ip += r;
            op += w;
            wa->segPos += static_cast<uint32_t>(r);
            wa->codecLast = rc;
            const bool blockEnd = wa->segPos == wa->segLen;
            if (blockEnd) {
                if (!BlockCrcOk(wa)) {
                    rc = CS_E_CRC;
                    break;
                }
                wa->segState = CS_SEG_HEADER;
            }
            if (rc == CS_END_OF_STREAM) {
                wa->codecDone = 1;
                wa->segState = blockEnd ? CS_SEG_TRAILER : CS_SEG_SKIP;
                continue;
            }
            if (rc == CS_END_OUTBUFFER)
                break;
            if (r == 0 && w == 0 && !blockEnd) {
                rc = ip == inLen ? CS_END_INBUFFER : CS_END_OK;
                break;
            }
            continue;
        }
        if (wa->segState == CS_SEG_SKIP) {
            // The data is complete; the rest of the block is only counted.
            const int32_t n = static_cast<int32_t>(
                std::min<int64_t>(static_cast<int64_t>(wa->segLen) - wa->segPos, inLen - ip));
            CsCrcUpdate(wa->crcC, in + ip, static_cast<size_t>(n));
            ip += n;
            wa->segPos += static_cast<uint32_t>(n);
            if (wa->segPos < wa->segLen) {
                rc = CS_END_INBUFFER;
                break;
            }
            if (!BlockCrcOk(wa)) {
                rc = CS_E_CRC;
                break;
            }
            wa->segState = CS_SEG_TRAILER;
            continue;
        }
        if (wa->segState == CS_SEG_TRAILER) {
            if (!Collect8(wa, in, inLen, ip)) {
                rc = CS_END_INBUFFER;
                break;
            }
            // The codec has ended the stream: these 8 bytes are the trailer, whose
            // length word is not judged; its CRC must be the data's.
            const uint32_t crc = CsGetLe32(wa->blockBuf + 4);
            if (crc != wa->crcU->reg) {
                CS_PRINT("\n>>ERROR: CsRDecompress: CRC check for original data failed: data CRC = %8x\n",
                         wa->crcU->reg);
                rc = CS_E_CRC;
                break;
            }
            wa->segState = CS_SEG_DONE;
            rc = CS_END_OF_STREAM;
            break;
        }
        rc = CS_END_OF_STREAM;  // CS_SEG_DONE
        break;
    }
    *read = ip;
    *written = op;
    return rc;
}

int DetailedStep(CsWorkArea* wa, int32_t desc, bool first, const uint8_t* in, int32_t inLen, uint8_t* out,
                 int32_t outLen, int32_t* read, int32_t* written)
{
    const bool segmented = (desc & CS_HEAD_SEGMENTED) != 0;
    if (first) {
        wa->crcU = CsCrcNew(65536);
        wa->crcC = CsCrcNew(segmented ? 8 : 1024);
        if (wa->crcU == nullptr || wa->crcC == nullptr)
            return CS_E_NO_MEMORY;
        if (segmented) {
            wa->blockBuf = static_cast<uint8_t*>(std::malloc(kBlockHead));
            if (wa->blockBuf == nullptr) {
                CS_PRINT("\nERROR: CsRDecompress: Could not allocate memory");
                return CS_E_NO_MEMORY;
            }
            wa->blockFill = 0;
            wa->segState = CS_SEG_PREFIX;
            wa->codecDone = 0;
            wa->codecLast = 0;
        }
        wa->dumpPosIn = 0;
        wa->dumpPosOut = 0;
    } else if (const int rc = CsContinueDetailed(wa, "CsRDecompress", segmented); rc != 0) {
        return rc;
    }

    int rc;
    if (segmented) {
        rc = SegmentedRead(wa, desc, in, inLen, out, outLen, read, written);
    } else {
        rc = RunCodec(wa, desc, first, in, inLen, out, outLen, read, written);
        if (rc >= 0) {
            CsCrcUpdate(wa->crcC, in, static_cast<size_t>(*read));
            CsCrcUpdate(wa->crcU, out, static_cast<size_t>(*written));
        }
    }
    if (rc < 0) {
        CS_PRINT("ERROR: CsRDecompress: return value = %d\n", rc);
        return rc;
    }
    if (cs_trace_level & 4) {
        CsHexDump(in, *read, wa->dumpPosIn);
        CsHexDump(out, *written, wa->dumpPosOut);
    }
    wa->dumpPosIn += *read;
    wa->dumpPosOut += *written;
    if (cs_trace_level & 1) {
        CS_PRINT("    decompress: read = %6d     written = %6d\n", *read, *written);
        CS_PRINT("    CRC uncompressed = %08x     CRC compressed = %08x\n", wa->crcU->reg, wa->crcC->reg);
    }
    return rc;
}

}  // namespace

int CsRDecompress(int handle, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen, int option, int32_t* read,
                  int32_t* written)
{
    const bool first = (option & CS_INIT_DECOMPRESS) != 0;
    int32_t spare[2];
    int entryResult = 0;
    CsWorkArea* wa = CsEnterStep(handle, "CsRDecompress", CS_STREAM_DECOMPR, first, read, written, spare, &entryResult);
    if (wa == nullptr)
        return entryResult;
    if (first) {
        if (inLen < CS_HEAD_SIZE) {
            CS_PRINT("\nERROR: CsRDecompress(init): inlen = %d\n", inLen);
            return CS_E_IN_TOO_SMALL;
        }
        if (in == nullptr)
            return CS_E_NULL_BUFFER;
        // The codec is chosen before its header checks run: an unknown algorithm
        // is reported as such even when the magic is wrong too.
        const int32_t desc = CsHeaderAlgorithm(in);
        if ((desc & 7) != CS_ALG_LZC && (desc & 7) != CS_ALG_LZH)
            return CS_E_UNKNOWN_ALG;
        if (CsHeaderLength(in) < 0)
            return CS_E_HEADER;
        CsStartStream(wa, handle, desc, CS_STREAM_DECOMPR);
    }
    const int32_t desc = CsDescriptorOf(handle);

    int rc;
    if (!first && wa->lastRc == CS_END_OUTBUFFER && outLen == 0) {
        CS_PRINT("\nERROR: CsRDecompress: Expect out buffer but not provided.");
        rc = CS_E_OUT_EXPECTED;
    } else if (cs_trace_level == 0 && (desc & CS_HEAD_SEGMENTED) == 0) {
        rc = RunCodec(wa, desc, first, in, inLen, out, outLen, read, written);
    } else {
        rc = DetailedStep(wa, desc, first, in, inLen, out, outLen, read, written);
    }

    // A step that neither reads nor writes while more is needed must not be
    // repeated forever by the caller.
    return CsFinishStep(wa, "CsRDecompress", first, rc, *read, *written, false);
}

int CsRInitDecompress(int handle, const uint8_t* in)
{
    int32_t read = 0;
    int32_t written = 0;
    const int rc = CsRDecompress(handle, in, CS_HEAD_SIZE, nullptr, 0, CS_INIT_DECOMPRESS, &read, &written);
    return rc <= 0 ? rc : 0;
}

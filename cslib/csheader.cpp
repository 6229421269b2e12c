#include "cslib/csheader.h"

#include "cslib/cslib.h"

int CsWriteHeader(uint8_t* out, int32_t streamLen, int algorithm, int segmented, int param)
{
    if (streamLen < 0)
        return CS_E_STREAM_LEN;
    CsPutLe32(out, static_cast<uint32_t>(streamLen));
    out[4] = static_cast<uint8_t>(CS_HEAD_VERSION | (segmented ? CS_HEAD_SEGMENTED : 0) | (algorithm & 7));
    out[5] = CS_MAGIC0;
    out[6] = CS_MAGIC1;
    out[7] = static_cast<uint8_t>(param);
    return 0;
}

int32_t CsHeaderLength(const uint8_t* hdr)
{
    if (hdr[5] != CS_MAGIC0 || hdr[6] != CS_MAGIC1)
        return CS_E_HEADER;
    return static_cast<int32_t>(CsGetLe32(hdr));
}

int CsHeaderAlgorithm(const uint8_t* hdr)
{
    return hdr[4] & 0x0F;
}

int CsHeaderVersion(const uint8_t* hdr)
{
    return hdr[4] >> 4;
}

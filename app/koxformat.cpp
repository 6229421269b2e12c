#include "app/koxformat.h"

void KoxEncodeEntryHeader(const KoxHeaderInfo& info, uint8_t out[KOX_ENTRY_HEADER_SIZE])
{
    out[0] = static_cast<uint8_t>(info.type[0]);
    out[1] = static_cast<uint8_t>(info.type[1]);
    KoxPutU32(out + 2, info.mode);
    KoxPutU64(out + 6, info.size);
    KoxPutU32(out + 14, info.sizeHigh);
    KoxPutU64(out + 18, info.mtime);
    KoxPutU32(out + 26, info.reserved);
    KoxPutU16(out + 30, info.userInfoLength);
    KoxPutU16(out + 32, info.nameLength);
}

KoxHeaderInfo KoxDecodeEntryHeader(const uint8_t in[KOX_ENTRY_HEADER_SIZE])
{
    KoxHeaderInfo info;
    info.type[0] = static_cast<char>(in[0]);
    info.type[1] = static_cast<char>(in[1]);
    info.mode = KoxGetU32(in + 2);
    info.size = KoxGetU64(in + 6);
    info.sizeHigh = KoxGetU32(in + 14);
    info.mtime = KoxGetU64(in + 18);
    info.reserved = KoxGetU32(in + 26);
    info.userInfoLength = KoxGetU16(in + 30);
    info.nameLength = KoxGetU16(in + 32);
    return info;
}

bool KoxIsEntryType(const uint8_t t[2])
{
    switch (t[0]) {
    case 'R':
        return t[1] == 'G';
    case 'D':
        return t[1] == 'R';
    case 'L':
        return t[1] == 'K';
    case 'S':
        return t[1] == 'C' || t[1] == 'V' || t[1] == 'M';
    default:
        return false;
    }
}

bool KoxIsBlockType(const uint8_t t[2])
{
    switch (t[0]) {
    case 'D':
        return t[1] == 'A';
    case 'E':
        return t[1] == 'D';
    case 'U':
        return t[1] == 'D' || t[1] == 'E';
    default:
        return false;
    }
}

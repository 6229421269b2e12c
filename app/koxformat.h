// Byte layout of a KOX archive: the 8-byte archive header, the 34-byte entry
// header, the data blocks and the little-endian helpers that read and write
// them.  Everything here is plain data; the archive file class, the entries
// and the compression strategies build on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// ---- archive header (offset 0) --------------------------------------------
inline constexpr size_t KOX_ARCHIVE_HEADER_SIZE = 8;
inline constexpr char KOX_MAGIC[4] = {'Z', 'E', 'F', ' '};
inline constexpr char KOX_BACKUP_MAGIC[4] = {'Z', 'E', 'F', '\0'};
inline constexpr char KOX_VERSION_201[4] = {'2', '.', '0', '1'};
inline constexpr char KOX_VERSION_200[4] = {'2', '.', '0', '0'};

// ---- entry header ----------------------------------------------------------
inline constexpr size_t KOX_ENTRY_HEADER_SIZE = 34;
// Name buffer of a reader: the stored name with its NUL must fit.
inline constexpr size_t KOX_NAME_BUFFER_SIZE = 4352;

// Entry types (two ASCII letters).
inline constexpr char KOX_TYPE_FILE[2] = {'R', 'G'};
inline constexpr char KOX_TYPE_DIRECTORY[2] = {'D', 'R'};
inline constexpr char KOX_TYPE_LINK[2] = {'L', 'K'};
inline constexpr char KOX_TYPE_SHORTCUT[2] = {'S', 'C'};
inline constexpr char KOX_TYPE_MANIFEST[2] = {'S', 'M'};
inline constexpr char KOX_TYPE_SV[2] = {'S', 'V'};

// Separator of a link's own name and its target inside the stored name.
inline constexpr char KOX_LINK_SEPARATOR = '|';

// The signed manifest written as an "RG" entry: this mode and this name.
inline constexpr uint32_t KOX_MANIFEST_MODE = 0x4180;
inline constexpr const char* KOX_MANIFEST_NAME = "SIGNATURE.SMF";

// File-type bits of a mode.
inline constexpr uint32_t KOX_MODE_TYPE_MASK = 0xF000;
inline constexpr uint32_t KOX_MODE_DIRECTORY = 0x4000;
inline constexpr uint32_t KOX_MODE_SYMLINK = 0xA000;
inline constexpr uint32_t KOX_MODE_REGULAR = 0x8000;
inline constexpr uint32_t KOX_MODE_FIFO = 0x1000;
inline constexpr uint32_t KOX_MODE_SOCKET = 0xC000;

// ---- data blocks -----------------------------------------------------------
inline constexpr size_t KOX_BLOCK_HEADER_SIZE = 6;       // type + u32 length
inline constexpr size_t KOX_CHECKSUM_SIZE = 4;           // after "ED" and "UE"
inline constexpr size_t KOX_CHUNK_SIZE = 65536;          // uncompressed bytes per "2.01" block
inline constexpr size_t KOX_BLOCK_BUFFER_SIZE = 131072;  // longest block a reader takes
inline constexpr uint64_t KOX_UNIT_200 = 0x40000000;     // data unit of "2.00" archives

inline constexpr char KOX_BLOCK_DA[2] = {'D', 'A'};  // compressed, more follow
inline constexpr char KOX_BLOCK_ED[2] = {'E', 'D'};  // compressed, last
inline constexpr char KOX_BLOCK_UD[2] = {'U', 'D'};  // raw, more follow
inline constexpr char KOX_BLOCK_UE[2] = {'U', 'E'};  // raw, last

// Header information of one entry, decoded.  Entries carry a copy of it.
struct KoxHeaderInfo {
    char type[2] = {0, 0};
    uint32_t mode = 0;
    uint64_t size = 0;
    uint32_t sizeHigh = 0;
    uint64_t mtime = 0;
    uint32_t unused = 0;  // filled by the stat wrapper, never stored
    uint32_t reserved = 0;
    uint16_t userInfoLength = 0;
    uint16_t nameLength = 0;

    // size + sizeHigh * 2^32 (wraps only for values no file can have).
    uint64_t TotalSize() const { return size + (static_cast<uint64_t>(sizeHigh) << 32); }
    bool IsType(const char t[2]) const { return type[0] == t[0] && type[1] == t[1]; }
    void SetType(const char t[2])
    {
        type[0] = t[0];
        type[1] = t[1];
    }
    bool IsDirectoryMode() const { return (mode & KOX_MODE_TYPE_MASK) == KOX_MODE_DIRECTORY; }
};

// ---- little-endian helpers (unaligned) -------------------------------------
inline uint16_t KoxGetU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t KoxGetU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t KoxGetU64(const uint8_t* p)
{
    return static_cast<uint64_t>(KoxGetU32(p)) | (static_cast<uint64_t>(KoxGetU32(p + 4)) << 32);
}
inline void KoxPutU16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void KoxPutU32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
inline void KoxPutU64(uint8_t* p, uint64_t v)
{
    KoxPutU32(p, static_cast<uint32_t>(v));
    KoxPutU32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Writes the 34-byte entry header of info into out.
void KoxEncodeEntryHeader(const KoxHeaderInfo& info, uint8_t out[KOX_ENTRY_HEADER_SIZE]);
// Decodes a 34-byte entry header.
KoxHeaderInfo KoxDecodeEntryHeader(const uint8_t in[KOX_ENTRY_HEADER_SIZE]);

// True for "RG", "DR", "SC", "LK", "SV", "SM": the types a first header may carry.
bool KoxIsEntryType(const uint8_t t[2]);
// True for "DA", "ED", "UD", "UE".
bool KoxIsBlockType(const uint8_t t[2]);
// True for "ED" and "UE" (a checksum follows the data).
inline bool KoxIsLastBlockType(const uint8_t t[2])
{
    return (t[0] == 'E' && t[1] == 'D') || (t[0] == 'U' && t[1] == 'E');
}

#include "app/undorecordformat.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

#include "cslib/crc32.h"

namespace {

// Layout of a record, little endian: magic; the archive's device and inode;
// the writing process and its start time; the archive's old length, the
// offset of the run's first write and the time the record was written; the
// length of the bytes written over; the CRC-32s of the archive's head, of
// the window before that offset and (from version 3 on) of the pieces spread
// between; the lengths of the archive's name and of the run's first bytes;
// the name, the bytes written over, the first bytes; a CRC-32 of all that.
// The magic ends in the layout's version.  A record of a layout this
// program does not know (a later release's, say) is none it reads.
constexpr char kMagicStem[7] = {'K', 'O', 'V', 'U', 'N', 'D', 'O'};
constexpr size_t kMagicSize = sizeof kMagicStem + 1;
constexpr size_t kCrcSize = 4;

// The layouts records were written in, oldest first: a change of layout
// adds a row, and the records of the earlier ones stay readable.
struct Layout {
    unsigned version;
    size_t checksums;  // the archive's CRC-32s it holds: head, window, spread
    constexpr size_t FixedSize() const { return kMagicSize + 8 * 8 + checksums * 4 + 2 * 2; }
};
constexpr Layout kLayouts[] = {{2, 2}, {3, 3}};
static_assert(kLayouts[std::size(kLayouts) - 1].version == kUndoRecordVersion);
static_assert(kLayouts[std::size(kLayouts) - 1].FixedSize() + kCrcSize == kUndoRecordFieldBytes);

// The layout of the record whose bytes begin with lead, nullptr for none.
const Layout* LayoutOf(const std::string& lead)
{
    if (lead.size() < kMagicSize || std::memcmp(lead.data(), kMagicStem, sizeof kMagicStem) != 0)
        return nullptr;
    for (const Layout& layout : kLayouts)
        if (lead[sizeof kMagicStem] == static_cast<char>('0' + layout.version))
            return &layout;
    return nullptr;
}

const Layout& LayoutFor(unsigned version)
{
    for (const Layout& layout : kLayouts)
        if (layout.version == version)
            return layout;
    return kLayouts[std::size(kLayouts) - 1];
}

void Put(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint64_t Get(const std::string& in, size_t at, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(in[at + static_cast<size_t>(i)]);
    return value;
}

}  // namespace

uint32_t UndoChecksum(const char* data, size_t n)
{
    return CsCrc32Update(0xFFFFFFFFu, data, n) ^ 0xFFFFFFFFu;
}

bool UndoRecordHoldsSpread(unsigned version)
{
    return LayoutFor(version).checksums == 3;
}

std::string EncodeUndoRecord(const UndoRecordFields& r)
{
    const Layout& layout = LayoutFor(r.version);
    std::string out(kMagicStem, sizeof kMagicStem);
    out.reserve(layout.FixedSize() + r.base.size() + r.tail.size() + r.first.size() + kCrcSize);
    out += static_cast<char>('0' + layout.version);
    for (uint64_t v : {r.dev, r.ino, r.pid, r.start, r.oldLength, r.writeAt, r.time, uint64_t{r.tail.size()}})
        Put(out, v, 8);
    const uint32_t checksums[] = {r.headCrc, r.windowCrc, r.spreadCrc};
    for (size_t i = 0; i < layout.checksums; ++i)
        Put(out, checksums[i], 4);
    Put(out, r.base.size(), 2);
    Put(out, r.first.size(), 2);
    out += r.base;
    out += r.tail;
    out += r.first;
    Put(out, UndoChecksum(out.data(), out.size()), 4);
    return out;
}

uint64_t UndoRecordLength(const std::string& lead)
{
    const Layout* layout = LayoutOf(lead);
    if (layout == nullptr || lead.size() < layout->FixedSize())
        return 0;
    const size_t fields = kMagicSize;
    const size_t lengths = fields + 8 * 8 + layout->checksums * 4;
    const uint64_t oldLength = Get(lead, fields + 4 * 8, 8);
    const uint64_t writeAt = Get(lead, fields + 5 * 8, 8);
    const uint64_t tailLength = Get(lead, fields + 7 * 8, 8);
    const uint64_t nameLength = Get(lead, lengths, 2);
    const uint64_t firstLength = Get(lead, lengths + 2, 2);
    // The bytes written over reach from the first write to the old end.
    if (nameLength == 0 || nameLength > kUndoLongestBase || firstLength > kUndoFirstBytes ||
        oldLength > static_cast<uint64_t>(INT64_MAX) || writeAt > oldLength || tailLength != oldLength - writeAt)
        return 0;
    return layout->FixedSize() + nameLength + tailLength + firstLength + kCrcSize;
}

bool DecodeUndoRecordFrom(const UndoRecordReader& read, uint64_t size, UndoRecordFields& r, uint64_t& tailAt)
{
    // The fields' own checks, and a length that is the record's.
    std::string lead;
    if (size < kUndoRecordLeadBytes || !read(0, kUndoRecordLeadBytes, lead))
        return false;
    const Layout* layout = LayoutOf(lead);
    const uint64_t length = UndoRecordLength(lead);
    if (layout == nullptr || length == 0 || length != size)
        return false;
    // The checksum covers all before it, read piece by piece.
    const uint64_t body = length - kCrcSize;
    uint32_t reg = 0xFFFFFFFFu;
    std::string piece;
    for (uint64_t at = 0; at < body; at += piece.size()) {
        if (!read(at, static_cast<size_t>(std::min<uint64_t>(kUndoRecordPiece, body - at)), piece))
            return false;
        reg = CsCrc32Update(reg, piece.data(), piece.size());
    }
    if (!read(body, kCrcSize, piece) || Get(piece, 0, 4) != (reg ^ 0xFFFFFFFFu))
        return false;
    r.version = layout->version;
    uint64_t tailLength = 0;
    uint64_t* fields[] = {&r.dev, &r.ino, &r.pid, &r.start, &r.oldLength, &r.writeAt, &r.time, &tailLength};
    size_t at = kMagicSize;
    for (uint64_t* field : fields) {
        *field = Get(lead, at, 8);
        at += 8;
    }
    uint32_t* checksums[] = {&r.headCrc, &r.windowCrc, &r.spreadCrc};
    r.spreadCrc = 0;
    for (size_t i = 0; i < layout->checksums; ++i, at += 4)
        *checksums[i] = static_cast<uint32_t>(Get(lead, at, 4));
    const size_t nameLength = static_cast<size_t>(Get(lead, at, 2));
    const size_t firstLength = static_cast<size_t>(Get(lead, at + 2, 2));
    tailAt = layout->FixedSize() + nameLength;
    r.tail.clear();
    return read(layout->FixedSize(), nameLength, r.base) && read(tailAt + tailLength, firstLength, r.first);
}

bool DecodeUndoRecord(const std::string& in, UndoRecordFields& r)
{
    const auto fromMemory = [&in](uint64_t offset, size_t n, std::string& out) {
        if (offset > in.size() || n > in.size() - offset)
            return false;
        out.assign(in, static_cast<size_t>(offset), n);
        return true;
    };
    uint64_t tailAt = 0;
    if (!DecodeUndoRecordFrom(fromMemory, in.size(), r, tailAt))
        return false;
    r.tail.assign(in, static_cast<size_t>(tailAt), static_cast<size_t>(r.oldLength - r.writeAt));
    return true;
}

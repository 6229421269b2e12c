// fuzz-libs: kov_app
// Feeds arbitrary bytes to the decoder of undo records, as they are and with
// their checksum made right (so that the fields behind it are reached too):
// whatever it takes must be one whole record that encodes back to the very
// same bytes, its lengths within what a record can hold, and the length its
// fixed fields tell must be its own.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/undorecordformat.h"

namespace {

void Check(const std::string& bytes)
{
    const uint64_t told = UndoRecordLength(bytes.substr(0, kUndoRecordLeadBytes));
    UndoRecordFields fields;
    if (!DecodeUndoRecord(bytes, fields))
        return;
    if (EncodeUndoRecord(fields) != bytes || told != bytes.size() || fields.base.empty() ||
        fields.base.size() > kUndoLongestBase || fields.first.size() > kUndoFirstBytes ||
        fields.writeAt > fields.oldLength || fields.tail.size() != fields.oldLength - fields.writeAt)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes = size != 0 ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    Check(bytes);
    if (bytes.size() >= 4) {
        const size_t body = bytes.size() - 4;
        const uint32_t crc = UndoChecksum(bytes.data(), body);
        for (int i = 0; i < 4; ++i)
            bytes[body + static_cast<size_t>(i)] = static_cast<char>((crc >> (8 * i)) & 0xFF);
        Check(bytes);
    }
    return 0;
}

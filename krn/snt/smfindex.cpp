// The name index of a manifest: its entry lines in an open-addressing hash
// table keyed by name, so that looking up each file of a large archive costs
// the same however many files the manifest lists.  Slots hold offsets into
// the text, which stay valid when the text buffer moves; the index is
// rebuilt when the text has changed since it was built.  A slot is 8 bytes
// (the name is read from its line), so that the index of a manifest of
// many short lines stays well below the size of the text itself.
#include <cstdlib>
#include <cstring>

#include "krn/snt/smfint.h"

struct ManifestIndexSlot {
    uint32_t lineOffset;  // offset of the entry line + 1; 0 marks a free slot
    uint32_t hash;
};

struct ManifestIndex {
    // What the index was built from.
    uint64_t contentLength;
    uint64_t bodyOffset;
    uint32_t entryCount;
    uint32_t digestLength;
    std::size_t mask;
    ManifestIndexSlot* slots;
    // Read mode: which entry lines a file was opened against (one byte per
    // slot, allocated on the first mark) and how many.
    uint8_t* matched;
    uint32_t matchedCount;
};

namespace {

uint64_t HashName(const char* name, uint32_t length)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint32_t i = 0; i < length; ++i) {
        h ^= static_cast<uint8_t>(name[i]);
        h *= 0x100000001b3ull;
    }
    return h ^ (h >> 29);
}

bool Current(const ManifestIndex* index, const ManifestContext* ctx)
{
    return index->contentLength == ctx->contentLength &&
           index->bodyOffset == static_cast<uint64_t>(ctx->bodyStart - ctx->contentStart) &&
           index->entryCount == ctx->entryCount && index->digestLength == ctx->digestLength;
}

ManifestIndex* Build(const ManifestContext* ctx)
{
    // Line offsets are kept in 32 bits; a verified text never comes near.
    if (ctx->contentLength >= UINT32_MAX)
        return nullptr;
    std::size_t slots = 16;
    while (slots < 2 * std::size_t{ctx->entryCount})
        slots *= 2;
    auto* index = static_cast<ManifestIndex*>(std::malloc(sizeof(ManifestIndex)));
    auto* table = static_cast<ManifestIndexSlot*>(std::calloc(slots, sizeof(ManifestIndexSlot)));
    if (index == nullptr || table == nullptr) {
        std::free(index);
        std::free(table);
        return nullptr;
    }
    index->contentLength = ctx->contentLength;
    index->bodyOffset = static_cast<uint64_t>(ctx->bodyStart - ctx->contentStart);
    index->entryCount = ctx->entryCount;
    index->digestLength = ctx->digestLength;
    index->mask = slots - 1;
    index->slots = table;
    index->matched = nullptr;
    index->matchedCount = 0;

    const char* text = ctx->contentStart;
    const char* end = text + ctx->contentLength;
    const char* p = ctx->bodyStart;
    for (uint32_t n = 0; n < ctx->entryCount; ++n) {
        ManifestEntry entry;
        if (ManifestParseEntryLine(ctx, p, end, nullptr, &entry) != 0)
            break;
        const uint64_t h = HashName(entry.name, entry.nameLength);
        std::size_t at = static_cast<std::size_t>(h) & index->mask;
        while (table[at].lineOffset != 0)
            at = (at + 1) & index->mask;
        table[at].lineOffset = static_cast<uint32_t>(entry.line - text) + 1;
        table[at].hash = static_cast<uint32_t>(h);
        p += entry.lineLength;
    }
    return index;
}

}  // namespace

ManifestIndex* SmfIndex(ManifestContext* ctx)
{
    if (ctx->entryCount == 0 || ctx->contentStart == nullptr || ctx->bodyStart == nullptr)
        return nullptr;
    if (ctx->nameIndex != nullptr && Current(ctx->nameIndex, ctx))
        return ctx->nameIndex;
    SmfIndexFree(ctx);
    ctx->nameIndex = Build(ctx);
    return ctx->nameIndex;
}

void SmfIndexFree(ManifestContext* ctx)
{
    if (ctx->nameIndex != nullptr) {
        std::free(ctx->nameIndex->matched);
        std::free(ctx->nameIndex->slots);
        std::free(ctx->nameIndex);
        ctx->nameIndex = nullptr;
    }
}

const char* SmfIndexNext(const ManifestIndex* index, const ManifestContext* ctx, const char* name, uint32_t nameLength,
                         std::size_t* cursor, std::size_t* slot)
{
    const uint64_t h = HashName(name, nameLength);
    const std::size_t home = static_cast<std::size_t>(h) & index->mask;
    for (std::size_t step = *cursor; step <= index->mask; ++step) {
        const std::size_t at = (home + step) & index->mask;
        const ManifestIndexSlot& s = index->slots[at];
        if (s.lineOffset == 0)
            break;
        if (s.hash != static_cast<uint32_t>(h))
            continue;
        const char* line = ctx->contentStart + (s.lineOffset - 1);
        ManifestEntry entry;
        if (ManifestParseEntryLine(ctx, line, ctx->contentStart + ctx->contentLength, nullptr, &entry) == 0 &&
            entry.nameLength == nameLength && std::memcmp(entry.name, name, nameLength) == 0) {
            *cursor = step + 1;
            *slot = at;
            return line;
        }
    }
    *cursor = index->mask + 1;
    return nullptr;
}

std::size_t SmfIndexSlots(const ManifestIndex* index)
{
    return index->mask + 1;
}

int SmfIndexMark(ManifestIndex* index, std::size_t slot)
{
    if (index->matched == nullptr) {
        index->matched = static_cast<uint8_t*>(std::calloc(index->mask + 1, 1));
        if (index->matched == nullptr)
            return -1;
    }
    if (index->matched[slot] != 0)
        return 0;
    index->matched[slot] = 1;
    index->matchedCount += 1;
    return 1;
}

bool SmfIndexMarked(const ManifestIndex* index, std::size_t slot)
{
    return index->matched != nullptr && index->matched[slot] != 0;
}

uint32_t SmfIndexMatchedCount(const ManifestIndex* index)
{
    return index->matchedCount;
}

const char* SmfIndexFirstUnmarked(const ManifestIndex* index, const ManifestContext* ctx)
{
    uint32_t first = 0;
    for (std::size_t at = 0; at <= index->mask; ++at) {
        const uint32_t line = index->slots[at].lineOffset;
        if (line != 0 && !SmfIndexMarked(index, at) && (first == 0 || line < first))
            first = line;
    }
    return first != 0 ? ctx->contentStart + (first - 1) : nullptr;
}

#include "app/writtennames.h"

#include <algorithm>

#include "app/except.h"
#include "app/signedplaces.h"
#include "app/slottable.h"
#include "oldformat/entrypath.h"

namespace {

// Whether path has the form NormalPath gives: no empty component but a
// leading one (an absolute path), no "." component.
bool IsNormalPath(std::string_view path)
{
    if (path.empty() || path == "/")
        return true;
    for (size_t start = path.front() == '/' ? 1 : 0;;) {
        const size_t slash = path.find('/', start);
        const std::string_view part = path.substr(start, slash == std::string_view::npos ? slash : slash - start);
        if (part.empty() || part == ".")
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

}  // namespace

bool CWrittenNames::Take(std::string_view place, std::string_view source)
{
    const Kind kind = source == place ? kOwn
                      : source.size() == place.size() + 1 && source.front() == '/' && source.substr(1) == place
                          ? kRooted
                          : kOther;
    const uint64_t hash = KeyedHash(m_key, place);
    if (m_tableUsed != 0) {
        if (const Slot* slot = FindInTable(place, hash))
            return std::string_view(m_text).substr(slot->offset - 1 + slot->placeLength, slot->sourceLength) == source;
    }
    // Places of one kind among the fingerprints came from their places, or
    // from their places below "/", each: only another source may have taken
    // them.
    if (m_kinds & ~(kind == kOther ? 0U : 1U << kind)) {
        const Kind taken = FindPrint(hash);
        if (taken != kOther)
            return taken == kind;
    }
    if (kind == kOther)
        AddToTable(place, source, hash);
    else
        AppendPrint((hash & ~uint64_t{1}) | kind);
    return true;
}

void CWrittenNames::AppendPrint(uint64_t print)
{
    if (m_chunks.empty() || m_lastUsed == kChunk) {
        m_chunks.push_back(std::make_unique_for_overwrite<uint64_t[]>(kChunk));
        m_lastUsed = 0;
    }
    uint64_t* const chunk = m_chunks.back().get();
    if (m_sorted) {
        uint64_t* const at = std::upper_bound(chunk, chunk + m_lastUsed, print);
        std::copy_backward(at, chunk + m_lastUsed, chunk + m_lastUsed + 1);
        *at = print;
    } else {
        chunk[m_lastUsed] = print;
    }
    m_kinds |= 1U << (print & 1);
    if (++m_lastUsed == kChunk && m_sorted)
        AddRun(m_chunks.size());
}

CWrittenNames::Kind CWrittenNames::FindPrint(uint64_t hash)
{
    if (!m_sorted)
        SortPrints();
    // The place's fingerprint of kind kOwn; that of kRooted follows it.
    const uint64_t own = hash & ~uint64_t{1};
    const auto found = [own](const uint64_t* at, const uint64_t* end) {
        return at != end && (*at | 1) == (own | 1) ? static_cast<Kind>(*at & 1) : kOther;
    };
    size_t start = 0;
    for (const size_t end : m_runEnds) {
        // The first chunk of the run whose last fingerprint is not below
        // own.
        size_t low = start, high = end;
        while (low < high) {
            const size_t middle = low + (high - low) / 2;
            if (m_chunks[middle][kChunk - 1] < own)
                low = middle + 1;
            else
                high = middle;
        }
        if (low != end) {
            const uint64_t* const first = m_chunks[low].get();
            const Kind kind = found(std::lower_bound(first, first + kChunk, own), first + kChunk);
            if (kind != kOther)
                return kind;
        }
        start = end;
    }
    if (start == m_chunks.size())
        return kOther;
    // The last chunk, not full.
    const uint64_t* const first = m_chunks.back().get();
    return found(std::lower_bound(first, first + m_lastUsed, own), first + m_lastUsed);
}

void CWrittenNames::SortPrints()
{
    for (size_t chunk = 0; chunk < m_chunks.size(); ++chunk) {
        const bool full = chunk + 1 < m_chunks.size() || m_lastUsed == kChunk;
        std::sort(m_chunks[chunk].get(), m_chunks[chunk].get() + (full ? kChunk : m_lastUsed));
        if (full)
            AddRun(chunk + 1);
    }
    m_sorted = true;
}

void CWrittenNames::AddRun(size_t end)
{
    m_runEnds.push_back(end);
    // A run is merged into the one before while it is as long: there are
    // never more runs than bits in the count of chunks.
    while (m_runEnds.size() >= 2) {
        const size_t middle = m_runEnds[m_runEnds.size() - 2];
        const size_t start = m_runEnds.size() >= 3 ? m_runEnds[m_runEnds.size() - 3] : 0;
        if (end - middle < middle - start)
            break;
        MergeRuns(start, middle, end);
        m_runEnds.pop_back();
        m_runEnds.back() = end;
    }
}

void CWrittenNames::MergeRuns(size_t start, size_t middle, size_t end)
{
    std::vector<Chunk> merged;
    merged.reserve(end - start);
    size_t a = start * kChunk, b = middle * kChunk;
    const size_t aEnd = b, bEnd = end * kChunk;
    const auto print = [this](size_t i) { return m_chunks[i / kChunk][i % kChunk]; };
    for (size_t out = 0; a < aEnd || b < bEnd; ++out) {
        if (out % kChunk == 0)
            merged.push_back(std::make_unique_for_overwrite<uint64_t[]>(kChunk));
        size_t& from = b == bEnd || (a < aEnd && print(a) <= print(b)) ? a : b;
        merged.back()[out % kChunk] = print(from);
        if (++from % kChunk == 0)
            m_chunks[from / kChunk - 1].reset();
    }
    std::move(merged.begin(), merged.end(), m_chunks.begin() + static_cast<std::ptrdiff_t>(start));
}

const CWrittenNames::Slot* CWrittenNames::FindInTable(std::string_view place, uint64_t hash) const
{
    const size_t mask = m_table.size() - 1;
    for (size_t i = hash;; ++i) {
        const Slot& slot = m_table[i & mask];
        if (slot.offset == 0)
            return nullptr;
        if (slot.hash == static_cast<uint32_t>(hash) && slot.placeLength == place.size() &&
            std::string_view(m_text).substr(slot.offset - 1, slot.placeLength) == place)
            return &slot;
    }
}

void CWrittenNames::AddToTable(std::string_view place, std::string_view source, uint64_t hash)
{
    if (2 * (m_tableUsed + 1) > m_table.size())
        GrowSlotTable(m_table);
    const size_t mask = m_table.size() - 1;
    size_t i = hash;
    while (m_table[i & mask].offset != 0)
        ++i;
    Slot& slot = m_table[i & mask];
    slot.offset = m_text.size() + 1;
    slot.hash = static_cast<uint32_t>(hash);
    slot.placeLength = static_cast<uint32_t>(place.size());
    slot.sourceLength = static_cast<uint32_t>(source.size());
    m_text.append(place);
    m_text.append(source);
    ++m_tableUsed;
}

std::string_view LandingPlace(std::string_view name, bool keepAbsolute, std::string& buffer)
{
    if (IsOwnPlace(name))
        return name;
    if (!keepAbsolute) {
        buffer = EntryPlace(name);
        return buffer;
    }
    // Kept as it is, the name lands where it says, or nowhere with a ".."
    // in it.
    if (PlanEntryPath(name, {}, true).path.empty())
        return {};
    return NormalPath(name, buffer);
}

std::string_view NormalPath(std::string_view path, std::string& buffer)
{
    if (IsOwnPlace(path) || IsNormalPath(path))
        return path;
    buffer.clear();
    if (path.front() == '/')
        buffer += '/';
    for (size_t start = 0; start <= path.size();) {
        const size_t slash = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || part == ".")
            continue;
        if (!buffer.empty() && buffer.back() != '/')
            buffer += '/';
        buffer += part;
    }
    if (buffer.empty())
        buffer += '.';
    return buffer;
}

std::string ChangedNameNotice(const std::string& name, const std::string& storedUtf8)
{
    return "KOVZEF: " + KovShown(name) + ": name changed, the local code page cannot hold the stored name \"" +
           KovEscapedBytes(storedUtf8) + "\"";
}

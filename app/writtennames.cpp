#include "app/writtennames.h"

#include <algorithm>
#include <cstring>
#include <functional>

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

namespace {

void PutNumber(char*& at, size_t value)
{
    for (; value >= 0x80; value >>= 7)
        *at++ = static_cast<char>(0x80 | (value & 0x7F));
    *at++ = static_cast<char>(value);
}

size_t NumberSize(size_t value)
{
    size_t size = 1;
    for (; value >= 0x80; value >>= 7)
        ++size;
    return size;
}

size_t GetNumber(const char*& at)
{
    size_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
        const auto byte = static_cast<uint8_t>(*at++);
        value |= static_cast<size_t>(byte & 0x7F) << shift;
        if (byte < 0x80)
            return value;
    }
}

}  // namespace

bool CWrittenNames::Take(std::string_view place, std::string_view source)
{
    const Kind kind = source == place ? kOwn
                      : source.size() == place.size() + 1 && source.front() == '/' && source.substr(1) == place
                          ? kRooted
                          : kOther;
    // Places of one kind in m_log came from their places, or from their
    // places below "/", each: only another source may have taken them.
    const unsigned others = m_kinds & ~(kind == kOther ? 0U : 1U << kind);
    if (m_tableUsed == 0 && others == 0 && kind != kOther && !m_indexed) {
        AppendToLog(place, kind, 0);  // nearly every entry: no hash is needed
        return true;
    }
    const uint64_t hash = std::hash<std::string_view>{}(place);
    if (m_tableUsed != 0) {
        if (const Slot* slot = FindInTable(place, hash))
            return std::string_view(m_text).substr(slot->offset - 1 + slot->placeLength, slot->sourceLength) == source;
    }
    if (others != 0) {
        const Kind taken = FindInLog(place, hash);
        if (taken != kOther)
            return taken == kind;
    }
    if (kind == kOther)
        AddToTable(place, source, hash);
    else
        AppendToLog(place, kind, hash);
    return true;
}

void CWrittenNames::AppendToLog(std::string_view place, Kind kind, uint64_t hash)
{
    bool first = m_groups.empty() || m_inGroup == kGroup;
    size_t shared = 0;
    if (!first) {
        const size_t most = std::min(place.size(), m_last.size());
        for (uint64_t a = 0, b = 0; shared + 8 <= most; shared += 8) {
            std::memcpy(&a, place.data() + shared, 8);
            std::memcpy(&b, m_last.data() + shared, 8);
            if (a != b)
                break;
        }
        while (shared < most && place[shared] == m_last[shared])
            ++shared;
    }
    size_t need = NumberSize(shared << 1 | kind) + NumberSize(place.size() - shared) + place.size() - shared;
    if (m_chunks.empty() || m_used + need > m_chunkSize) {
        // A group lies in one chunk.
        if (!first) {
            first = true;
            shared = 0;
            need = NumberSize(kind) + NumberSize(place.size()) + place.size();
        }
        if (!m_chunks.empty())
            m_chunkFill.push_back(m_used);
        m_chunkSize = std::max(kChunk, need);
        m_chunks.push_back(std::make_unique<char[]>(m_chunkSize));
        m_used = 0;
    }
    if (first) {
        m_groups.push_back((m_chunks.size() - 1) << 32 | m_used);
        m_inGroup = 0;
    }
    char* at = m_chunks.back().get() + m_used;
    PutNumber(at, shared << 1 | kind);
    PutNumber(at, place.size() - shared);
    std::memcpy(at, place.data() + shared, place.size() - shared);
    m_used += need;
    ++m_inGroup;
    m_last.assign(place);
    m_kinds |= 1U << kind;
    if (m_indexed)
        m_index.push_back((hash >> 32) << 32 | (m_groups.size() - 1));
}

template <typename Visit>
void CWrittenNames::ForEachInGroup(size_t group, Visit visit) const
{
    const size_t chunk = m_groups[group] >> 32;
    const char* at = m_chunks[chunk].get() + (m_groups[group] & 0xFFFFFFFF);
    const char* const end = m_chunks[chunk].get() + (chunk + 1 == m_chunks.size() ? m_used : m_chunkFill[chunk]);
    std::string place;
    for (size_t i = 0; i < kGroup && at < end; ++i) {
        const size_t head = GetNumber(at);
        const size_t length = GetNumber(at);
        place.resize(head >> 1);
        place.append(at, length);
        at += length;
        if (!visit(std::string_view(place), static_cast<Kind>(head & 1)))
            return;
    }
}

CWrittenNames::Kind CWrittenNames::FindInLog(std::string_view place, uint64_t hash)
{
    if (!m_indexed)
        BuildIndex();
    SortIndex();
    const uint64_t key = hash >> 32;
    Kind found = kOther;
    size_t start = 0;
    for (const size_t end : m_runEnds) {
        auto at = std::lower_bound(m_index.begin() + static_cast<std::ptrdiff_t>(start),
                                   m_index.begin() + static_cast<std::ptrdiff_t>(end), key << 32);
        for (; at != m_index.begin() + static_cast<std::ptrdiff_t>(end) && *at >> 32 == key; ++at) {
            ForEachInGroup(*at & 0xFFFFFFFF, [&](std::string_view taken, Kind kind) {
                if (taken != place)
                    return true;
                found = kind;
                return false;
            });
            if (found != kOther)
                return found;
        }
        start = end;
    }
    return kOther;
}

void CWrittenNames::BuildIndex()
{
    m_index.reserve(m_groups.size() * kGroup);
    for (size_t group = 0; group < m_groups.size(); ++group)
        ForEachInGroup(group, [&](std::string_view place, Kind) {
            m_index.push_back((std::hash<std::string_view>{}(place) >> 32) << 32 | group);
            return true;
        });
    m_indexed = true;
}

void CWrittenNames::SortIndex()
{
    const size_t sorted = m_runEnds.empty() ? 0 : m_runEnds.back();
    if (sorted == m_index.size())
        return;
    const auto at = [this](size_t i) { return m_index.begin() + static_cast<std::ptrdiff_t>(i); };
    std::sort(at(sorted), m_index.end());
    m_runEnds.push_back(m_index.size());
    // A run is merged into the one before while it is as long: there are
    // never more runs than bits in the count of places.
    while (m_runEnds.size() >= 2) {
        const size_t end = m_runEnds.back();
        const size_t middle = m_runEnds[m_runEnds.size() - 2];
        const size_t start = m_runEnds.size() >= 3 ? m_runEnds[m_runEnds.size() - 3] : 0;
        if (end - middle < middle - start)
            break;
        std::inplace_merge(at(start), at(middle), at(end));
        m_runEnds.pop_back();
        m_runEnds.back() = end;
    }
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

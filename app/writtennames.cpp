#include "app/writtennames.h"

#include <algorithm>
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

bool CWrittenNames::Take(std::string_view place, std::string_view source)
{
    const uint64_t hash = std::hash<std::string_view>{}(place);
    const bool own = source == place;
    if (!m_indexed) {
        if (own) {
            m_early.push_back({hash, m_text.size(), static_cast<uint32_t>(place.size())});
            m_text.append(place);
            return true;
        }
        std::sort(m_early.begin(), m_early.end(), [](const Early& a, const Early& b) { return a.hash < b.hash; });
        m_indexed = true;
    }
    // An early entry came from its place.
    if (TakenEarly(place, hash))
        return own;
    return TakeInTable(place, source, hash);
}

bool CWrittenNames::TakenEarly(std::string_view place, uint64_t hash) const
{
    auto at = std::lower_bound(m_early.begin(), m_early.end(), hash,
                               [](const Early& e, uint64_t h) { return e.hash < h; });
    for (; at != m_early.end() && at->hash == hash; ++at)
        if (std::string_view(m_text).substr(at->offset, at->length) == place)
            return true;
    return false;
}

bool CWrittenNames::TakeInTable(std::string_view place, std::string_view source, uint64_t hash)
{
    if (2 * (m_used + 1) > m_table.size())
        GrowSlotTable(m_table);
    const size_t mask = m_table.size() - 1;
    for (size_t i = hash;; ++i) {
        Slot& slot = m_table[i & mask];
        if (slot.offset == 0) {
            slot.offset = m_text.size() + 1;
            slot.hash = static_cast<uint32_t>(hash);
            slot.placeLength = static_cast<uint32_t>(place.size());
            m_text.append(place);
            if (source == place) {
                slot.sourceLength = kSameAsPlace;
            } else {
                slot.sourceLength = static_cast<uint32_t>(source.size());
                m_text.append(source);
            }
            ++m_used;
            return true;
        }
        const std::string_view text(m_text);
        if (slot.hash != static_cast<uint32_t>(hash) || slot.placeLength != place.size() ||
            text.substr(slot.offset - 1, slot.placeLength) != place)
            continue;
        const std::string_view taker = slot.sourceLength == kSameAsPlace
                                           ? place
                                           : text.substr(slot.offset - 1 + slot.placeLength, slot.sourceLength);
        return taker == source;
    }
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

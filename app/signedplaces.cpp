#include "app/signedplaces.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "app/koxformat.h"
#include "app/slottable.h"
#include "oldformat/entrypath.h"
#include "oldformat/shownname.h"

namespace {

// The state of a place in CSigningPlaces: the kinds noted there (bits 0-3),
// the bit number of the first (bits 4-5), the first link or directory is a
// link (bit 6), a file lies below (bit 7), a link came before the first file
// below (bit 8).
constexpr uint16_t kFileBit = 1;
constexpr uint16_t kLinkBit = 2;
constexpr uint16_t kDirectoryBit = 4;
constexpr uint16_t kBelowBit = 8;  // an entry lies below the place: extraction makes a directory there
constexpr uint16_t kKinds = 15;
constexpr uint16_t kTakers = kLinkBit | kDirectoryBit | kBelowBit;
constexpr unsigned kFirstShift = 4;
constexpr uint16_t kFirstTakerIsLink = 64;
constexpr uint16_t kFileBelowBit = 128;  // noted together with kBelowBit
constexpr uint16_t kLinkBeforeFileBelow = 256;

uint16_t Bit(PlaceKind kind)
{
    return kind == PlaceKind::kFile ? kFileBit : kind == PlaceKind::kLink ? kLinkBit : kDirectoryBit;
}

const char* KindWord(PlaceKind kind)
{
    return kind == PlaceKind::kLink ? "a link" : kind == PlaceKind::kDirectory ? "a directory" : "a file";
}

}  // namespace

PlaceKind PlaceKindOf(const KoxHeaderInfo& info)
{
    if (info.IsType(KOX_TYPE_DIRECTORY))
        return PlaceKind::kDirectory;
    if (info.IsType(KOX_TYPE_LINK) || info.IsType(KOX_TYPE_SHORTCUT))
        return PlaceKind::kLink;
    return PlaceKind::kFile;
}

bool IsOwnPlace(std::string_view name)
{
    // Only the bytes at the start of each component tell: it is asked of
    // every name a run stores or extracts.
    const char* part = name.data();
    const char* const end = part + name.size();
    for (;;) {
        const size_t left = static_cast<size_t>(end - part);
        if (left == 0 || *part == '/')
            return false;
        if (*part == '.' && (left == 1 || part[1] == '/' || (part[1] == '.' && (left == 2 || part[2] == '/'))))
            return false;
        const void* slash = std::memchr(part, '/', left);
        if (slash == nullptr)
            return true;
        part = static_cast<const char*>(slash) + 1;
    }
}

std::string EntryPlace(std::string_view name)
{
    if (IsOwnPlace(name))
        return std::string(name);
    const EntryPath plan = PlanEntryPath(name, {}, false);
    std::string place;
    std::string_view rest(plan.path);
    while (!rest.empty()) {
        const size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (!place.empty())
            place += '/';
        place += part;
    }
    return place;
}

std::string_view PlaceNameOf(std::string_view stored, PlaceKind kind, size_t linkNameLength)
{
    if (kind == PlaceKind::kLink)
        return stored.substr(0, linkNameLength != std::string_view::npos ? linkNameLength
                                                                         : stored.find(KOX_LINK_SEPARATOR));
    if (kind == PlaceKind::kDirectory)
        while (!stored.empty() && stored.back() == '/')
            stored.remove_suffix(1);
    return stored;
}

void ForEachPlaceAbove(std::string_view place, const std::function<bool(std::string_view)>& up)
{
    for (size_t slash = place.rfind('/'); slash != std::string_view::npos && slash != 0;
         slash = place.rfind('/', slash - 1))
        if (!up(place.substr(0, slash)))
            return;
}

std::string UnplacedEntryRefusal(std::string_view name, std::string_view place, PlaceKind kind)
{
    const std::string_view manifest(KOX_MANIFEST_NAME);
    if (place.empty()) {
        if (PlanEntryPath(name, {}, false).parentComponent)
            return "Entry >" + KovShown(name) + "< contains a \"..\" component in its name, which extraction refuses";
        return {};
    }
    if (place.size() > manifest.size() && place.starts_with(manifest) && place[manifest.size()] == '/')
        return "Entry >" + KovShown(name) + "< lies below " + KOX_MANIFEST_NAME +
               ", but the signed manifest is extracted under that name";
    if (place == manifest)
        return "Entry >" + KovShown(name) + "< is " + KindWord(kind) + ", but the signed manifest " +
               KOX_MANIFEST_NAME + " is extracted under that name";
    return {};
}

namespace {

// What a run that signs an archive holding no manifest it verified is told
// of the same conflicts: no reader's order applies to it, only what its
// signature would list.
std::string WouldListRefusal(std::string_view name, const std::string& what, const char* where)
{
    return "Entry >" + KovShown(name) + "< " + what + ", but signing the archive would list a file " + where;
}

}  // namespace

std::string PlaceTakenRefusal(std::string_view name, PlaceKind taker, bool fileFirst)
{
    return "Entry >" + KovShown(name) + "< is " + KindWord(taker) + ", but the manifest lists a file of that name " +
           (fileFirst ? "that comes before it" : "that was not verified before it");
}

std::string BelowSignedFileRefusal(std::string_view name, std::string_view place)
{
    return "Entry >" + KovShown(name) + "< lies below " + KovShown(place) +
           ", but the manifest lists a file of that name that was not verified before it";
}

std::string LinkAboveSignedFileRefusal(std::string_view link, bool fileFirst)
{
    return "Entry >" + KovShown(link) + "< is a link, but the manifest lists a file below it " +
           (fileFirst ? "that comes before it" : "that was not verified before it");
}

CSigningPlaces::Slot& CSigningPlaces::Find(std::string_view place)
{
    if (2 * (m_used + 1) > m_table.size())
        GrowSlotTable(m_table);
    const size_t hash = std::hash<std::string_view>{}(place);
    const size_t mask = m_table.size() - 1;
    for (size_t i = hash;; ++i) {
        Slot& slot = m_table[i & mask];
        if (slot.offset == 0) {
            slot.offset = m_names.size() + 1;
            slot.hash = static_cast<uint32_t>(hash);
            slot.length = static_cast<uint16_t>(place.size());
            m_names.append(place);
            ++m_used;
            return slot;
        }
        if (slot.hash == static_cast<uint32_t>(hash) && slot.length == place.size() &&
            std::string_view(m_names).substr(slot.offset - 1, slot.length) == place)
            return slot;
    }
}

std::string CSigningPlaces::Mark(std::string_view place, uint16_t& state, uint16_t bits, std::string_view name)
{
    const uint16_t kinds = state & kKinds;
    if (kinds == 0) {
        state = static_cast<uint16_t>(std::countr_zero(bits) << kFirstShift);
        if (name != place)
            m_firstNames.emplace(place, name);
    }
    if (bits == kLinkBit) {
        if ((kinds & kTakers) == 0)
            state |= kFirstTakerIsLink;
        if ((state & kLinkBit) == 0 && name != place)
            m_firstLinkNames.emplace(place, name);
    }
    if ((bits & kFileBelowBit) != 0 && (state & (kLinkBit | kFileBelowBit)) == kLinkBit)
        state |= kLinkBeforeFileBelow;
    state |= bits;
    if ((state & kFileBit) != 0 && (state & kTakers) != 0) {
        // A verified reader refuses the first of the two it meets.
        const auto named = m_firstNames.find(std::string(place));
        const std::string_view first = named == m_firstNames.end() ? place : std::string_view(named->second);
        const auto firstBit = static_cast<uint16_t>(1U << (state >> kFirstShift & 3));
        if (firstBit == kBelowBit)
            return m_noManifest ? WouldListRefusal(first, "lies below " + KovShown(place), "of that name")
                                : BelowSignedFileRefusal(first, place);
        // The file first, then the first that took its place; or that one first.
        const bool fileFirst = firstBit == kFileBit;
        const bool link = fileFirst ? (state & kFirstTakerIsLink) != 0 : firstBit == kLinkBit;
        const PlaceKind taker = link ? PlaceKind::kLink : PlaceKind::kDirectory;
        return m_noManifest ? WouldListRefusal(first, std::string("is ") + KindWord(taker), "of that name")
                            : PlaceTakenRefusal(first, taker, fileFirst);
    }
    if ((state & kLinkBit) == 0 || (state & kFileBelowBit) == 0)
        return {};
    // The reader meets the link first, or the first file below, whose
    // refusal names the place.
    const bool fileFirst = (state & kLinkBeforeFileBelow) == 0;
    const auto named = fileFirst ? m_firstLinkNames.end() : m_firstLinkNames.find(std::string(place));
    const std::string_view link = named == m_firstLinkNames.end() ? place : std::string_view(named->second);
    return m_noManifest ? WouldListRefusal(link, "is a link", "below it") : LinkAboveSignedFileRefusal(link, fileFirst);
}

std::string CSigningPlaces::Note(std::string_view stored, PlaceKind kind, size_t linkNameLength)
{
    const std::string_view name = PlaceNameOf(stored, kind, linkNameLength);
    const bool own = IsOwnPlace(name);
    const std::string respelled = own ? std::string() : EntryPlace(name);
    const std::string_view place = own ? name : std::string_view(respelled);
    if (std::string refusal = UnplacedEntryRefusal(name, place, kind); !refusal.empty())
        return refusal;
    if (place.empty())
        return {};  // no name is left: extraction refuses it, signed or not
    std::string refusal = Mark(place, Find(place).state, Bit(kind), name);
    // The directories extraction makes for the entry; those above one that
    // an earlier entry made were noted with it, as places above a file too
    // when a file made them.
    const size_t slash = place.rfind('/');
    if (slash == std::string_view::npos)
        return refusal;
    const std::string_view above = place.substr(0, slash);
    const bool file = kind == PlaceKind::kFile;
    if (above == m_lastAbove && (m_lastAboveFile || !file))
        return refusal;
    m_lastAboveFile = file || (above == m_lastAbove && m_lastAboveFile);
    m_lastAbove = above;
    const uint16_t below = file ? kBelowBit | kFileBelowBit : kBelowBit;
    ForEachPlaceAbove(place, [&](std::string_view up) {
        uint16_t& state = Find(up).state;
        if ((state & below) == below)
            return false;
        std::string marked = Mark(up, state, below, name);
        if (refusal.empty())
            refusal = std::move(marked);
        return true;
    });
    return refusal;
}

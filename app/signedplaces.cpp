#include "app/signedplaces.h"

#include "app/koxformat.h"
#include "oldformat/entrypath.h"
#include "oldformat/shownname.h"

namespace {

uint8_t Bit(PlaceKind kind)
{
    return static_cast<uint8_t>(1U << static_cast<unsigned>(kind));
}

const char* KindWord(PlaceKind kind)
{
    return kind == PlaceKind::kLink ? "a link" : "a directory";
}

constexpr uint8_t kTakers = 1U << static_cast<unsigned>(PlaceKind::kLink) |
                            1U << static_cast<unsigned>(PlaceKind::kDirectory);

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
    if (name.empty() || name.front() == '/')
        return false;
    for (size_t start = 0;;) {
        const size_t slash = name.find('/', start);
        const std::string_view part = name.substr(start, slash == std::string_view::npos ? slash : slash - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
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

std::string_view PlaceNameOf(std::string_view stored, PlaceKind kind)
{
    if (kind == PlaceKind::kLink)
        return stored.substr(0, stored.find(KOX_LINK_SEPARATOR));
    if (kind == PlaceKind::kDirectory)
        while (!stored.empty() && stored.back() == '/')
            stored.remove_suffix(1);
    return stored;
}

std::string UnplacedEntryRefusal(std::string_view name, PlaceKind kind)
{
    if (IsOwnPlace(name) && (kind == PlaceKind::kFile || name != KOX_MANIFEST_NAME))
        return {};
    if (PlanEntryPath(name, {}, false).parentComponent)
        return "Entry >" + KovShown(name) + "< contains a \"..\" component in its name, which extraction refuses";
    if (kind != PlaceKind::kFile && EntryPlace(name) == KOX_MANIFEST_NAME)
        return "Entry >" + KovShown(name) + "< is " + KindWord(kind) + ", but the signed manifest " +
               KOX_MANIFEST_NAME + " is extracted under that name";
    return {};
}

std::string PlaceTakenRefusal(std::string_view name, PlaceKind taker, bool fileFirst)
{
    return "Entry >" + KovShown(name) + "< is " + KindWord(taker) + ", but the manifest lists a file of that name " +
           (fileFirst ? "that comes before it" : "that was not verified before it");
}

std::string CSigningPlaces::Note(std::string_view stored, PlaceKind kind)
{
    const std::string_view name = PlaceNameOf(stored, kind);
    if (std::string refusal = UnplacedEntryRefusal(name, kind); !refusal.empty())
        return refusal;
    std::string place = EntryPlace(name);
    if (place.empty())
        return {};  // no name is left: extraction refuses it, signed or not
    const bool respelled = place != name;
    auto [found, fresh] = m_slots.try_emplace(std::move(place));
    Slot& slot = found->second;
    if (fresh) {
        slot.first = kind;
        if (respelled)
            slot.firstName = name;
    }
    if (kind != PlaceKind::kFile && (slot.kinds & kTakers) == 0)
        slot.firstTaker = kind;
    slot.kinds |= Bit(kind);
    if ((slot.kinds & Bit(PlaceKind::kFile)) == 0 || (slot.kinds & kTakers) == 0)
        return {};
    // A verified reader refuses the first of the two it meets.
    const std::string_view firstName = slot.firstName.empty() ? std::string_view(found->first) : slot.firstName;
    return slot.first == PlaceKind::kFile ? PlaceTakenRefusal(firstName, slot.firstTaker, true)
                                          : PlaceTakenRefusal(firstName, slot.first, false);
}

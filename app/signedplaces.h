// Where the entries of a signed archive land on extraction, and the rules
// that keep each place to one kind of entry: no link or directory lands
// where a file the manifest lists lands, none lands where the manifest
// itself does, and no name holds a ".." that extraction would refuse.  The
// verified readers and the runs that sign an archive anew judge by the same
// rules, so that no run signs what a verified reader of its archive refuses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

struct KoxHeaderInfo;

// What an entry is on disk, by the type in its header.
enum class PlaceKind : uint8_t { kFile, kLink, kDirectory };
PlaceKind PlaceKindOf(const KoxHeaderInfo& info);

// Whether a name is its own place: not empty, no leading "/", and no empty,
// "." or ".." component (so no trailing "/" either).  Nearly every name is.
bool IsOwnPlace(std::string_view name);
// The place of an entry named name: the name as extraction puts it below the
// target, without its leading "/" and "../", without empty and "."
// components and a trailing "/" (as without -P: the place does not depend on
// where a run would write); empty when extraction refuses the name.
std::string EntryPlace(std::string_view name);
// The name on disk of an entry stored as stored: a link's without its target
// ("name|target"), a directory's without the "/" stored behind it.
std::string_view PlaceNameOf(std::string_view stored, PlaceKind kind);

// Why no verified reader passes an archive holding the entry of that name
// (see PlaceNameOf) and kind, whatever else it holds: the detail of that
// failure (status 58), or empty.  A ".." component left in the name
// (extraction refuses it), and a link or directory at the place of the
// signed manifest "SIGNATURE.SMF".
std::string UnplacedEntryRefusal(std::string_view name, PlaceKind kind);
// The detail of the failure (status 58) of a reader that meets an entry
// named name of a place that a file the manifest lists and a link or
// directory (taker) share: at the file when it comes first (fileFirst), else
// at the link or directory itself.
std::string PlaceTakenRefusal(std::string_view name, PlaceKind taker, bool fileFirst);

// The places of the entries of an archive that a run signs anew, those it
// holds and those it adds, noted in archive order.  Once signed, the
// manifest lists every file of the archive, so a file and a link or
// directory of one place, or an entry UnplacedEntryRefusal refuses, is what
// a verified reader would refuse; Note tells so in the reader's words.
class CSigningPlaces {
public:
    // Notes the entry stored as stored; the detail of the failure (status
    // 58) when it takes a place as above, else empty.
    std::string Note(std::string_view stored, PlaceKind kind);

private:
    struct Slot {
        uint8_t kinds = 0;  // a bit for each PlaceKind noted here
        PlaceKind first = PlaceKind::kFile;
        PlaceKind firstTaker = PlaceKind::kFile;  // the first link or directory, once kinds holds one
        std::string firstName;                    // the first entry's name when it is not the place
    };
    std::unordered_map<std::string, Slot> m_slots;
};

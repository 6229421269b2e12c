// Where the entries of a signed archive land on extraction, and the rules
// that keep each place to one kind of entry: no link or directory lands
// where a file the manifest lists lands, nor does the directory that
// extraction makes for an entry below that place; no link lands where
// extraction makes a directory for a file the manifest lists below it;
// nothing but the manifest lands where the manifest does, and nothing below
// it; and no name holds a ".." that extraction would refuse.  The verified
// readers and the runs that sign an archive anew judge by the same rules, so
// that no run signs what a verified reader of its archive refuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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
// ("name|target": its name of linkNameLength bytes where the entry knows it,
// for in the local code page a byte "|" may be part of a character, else up
// to the first "|"), a directory's without the "/" stored behind it.
std::string_view PlaceNameOf(std::string_view stored, PlaceKind kind, size_t linkNameLength = std::string_view::npos);
// Calls up with each place above place ("a/b" and "a" above "a/b/c"), the
// nearest first, until it returns false: the directories extraction makes
// for an entry at place.
void ForEachPlaceAbove(std::string_view place, const std::function<bool(std::string_view)>& up);

// Why no verified reader passes an archive holding the entry of that name
// (see PlaceNameOf), place (EntryPlace of name) and kind, whatever else it
// holds: the detail of that failure (status 58), or empty.  A ".." component
// left in the name (extraction refuses it), and an entry other than the
// manifest itself at the place of the signed manifest "SIGNATURE.SMF" (a
// file there would be written to the manifest's path too), or an entry
// below it.
std::string UnplacedEntryRefusal(std::string_view name, std::string_view place, PlaceKind kind);
// The detail of the failure (status 58) of a reader that meets an entry
// named name of a place that a file the manifest lists and a link or
// directory (taker) share: at the file when it comes first (fileFirst), else
// at the link or directory itself.
std::string PlaceTakenRefusal(std::string_view name, PlaceKind taker, bool fileFirst);
// The same for an entry named name that lies below the place of a file the
// manifest lists (extraction would make a directory there), met before it.
std::string BelowSignedFileRefusal(std::string_view name, std::string_view place);
// The same for a link at the place where extraction makes a directory for a
// file the manifest lists below it: at a file below when it comes first
// (fileFirst; link is then the place), else at the link itself (link: its
// name).
std::string LinkAboveSignedFileRefusal(std::string_view link, bool fileFirst);

// The places of the entries of an archive that a run signs anew, those it
// holds and those it adds, noted in archive order.  Once signed, the
// manifest lists every file of the archive, so a file and a link or
// directory of one place (or an entry below it), a link and a file below it,
// or an entry UnplacedEntryRefusal refuses, is what a verified reader would
// refuse; Note tells so in the reader's words.
class CSigningPlaces {
public:
    // Notes the entry stored as stored (linkNameLength: see PlaceNameOf);
    // the detail of the failure (status 58) when it takes a place as above,
    // else empty.
    std::string Note(std::string_view stored, PlaceKind kind, size_t linkNameLength = std::string_view::npos);
    // The archive holds no manifest that the run verified (it has none, or
    // the run does not verify): the details say what signing it would list
    // instead of what a verified reader meets.
    void TellAsUnverified() { m_noManifest = true; }

private:
    // A place noted: where its name lies in m_names (offset and length),
    // the low bits of its hash, and its state: a bit for each kind of entry
    // noted there, one for an entry below it and one for a file below it,
    // which kind came first, whether the first link or directory there is a
    // link, and whether a link came before the first file below.
    struct Slot {
        uint64_t offset = 0;  // in m_names, plus one: 0 is a free slot
        uint32_t hash = 0;
        uint16_t length = 0;  // no stored name is longer
        uint16_t state = 0;
    };
    // The slot of place, a new one when it was not noted yet.  The places
    // are held in one table and one text, not one allocation each: an
    // archive may hold millions of entries.
    Slot& Find(std::string_view place);
    // Notes an entry (bits, of that name) at place, whose state is state.
    std::string Mark(std::string_view place, uint16_t& state, uint16_t bits, std::string_view name);

    std::vector<Slot> m_table;  // open addressing, at most half full
    size_t m_used = 0;
    std::string m_names;
    // The first entry's name where it is not the place ("./d/a.txt"), and
    // the first link's.
    std::unordered_map<std::string, std::string> m_firstNames;
    std::unordered_map<std::string, std::string> m_firstLinkNames;
    // The place above the entry noted last: it and the places above it are
    // noted as such already, as places above a file too when
    // m_lastAboveFile.
    std::string m_lastAbove;
    bool m_lastAboveFile = false;
    bool m_noManifest = false;
};

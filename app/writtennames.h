// The places a run wrote files and links at, with the names they came from.
// Two entries of different names must not silently take one place: the
// conversion into the local code page (or out of it) put substitutes for
// characters the other side cannot hold, a redundant shift of a stateful
// page spelled a name a second way, -lower or -flat gave an entry another
// path, or a rename list (-T) gave two files one name.  Places are compared
// as places, not as spellings: "./a.txt", "d//a.txt" and "d/./a.txt" land
// where "a.txt", "d/a.txt" and "d/a.txt" do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CWrittenNames {
public:
    // Takes place for an entry that came from source, both given as places
    // (see LandingPlace, NormalPath), source in a form that tells the names
    // apart that a run writes from (see the callers): true when no earlier
    // entry took the place, or only entries from the same source (a name
    // given or stored twice is the same name again, which takes its own
    // place); false, taking nothing, when an entry from another source took
    // it.
    bool Take(std::string_view place, std::string_view source);

private:
    // An entry whose source is its place, taken before any other: where its
    // place lies in m_text, and its hash.  Such entries (nearly every entry
    // of a run: every one until a name is renamed, changed or moved) are
    // only noted one after another; they cannot take each other's place.
    struct Early {
        uint64_t hash = 0;
        uint64_t offset = 0;
        uint32_t length = 0;
    };
    // A place taken once an entry of another source came: where its text
    // lies in m_text (the place, then the source unless it is the place
    // itself), and the low bits of its hash.
    struct Slot {
        uint64_t offset = 0;  // in m_text, plus one: 0 is a free slot
        uint32_t hash = 0;
        uint32_t placeLength = 0;
        uint32_t sourceLength = 0;  // kSameAsPlace: the source is the place
    };
    static constexpr uint32_t kSameAsPlace = UINT32_MAX;
    // Whether an early entry took place.
    bool TakenEarly(std::string_view place, uint64_t hash) const;
    // Take in m_table.
    bool TakeInTable(std::string_view place, std::string_view source, uint64_t hash);

    std::vector<Early> m_early;  // sorted by hash once m_indexed
    bool m_indexed = false;
    // Open addressing, at most half full; the places in one text, not one
    // allocation each: an archive may hold millions of entries.
    std::vector<Slot> m_table;
    size_t m_used = 0;
    std::string m_text;
};

// The place an entry named name lands on below the target of an extraction
// (as EntryPlace gives it; with keepAbsolute, -P, an absolute name keeps its
// leading "/"): name itself where it is its own place (nearly every name),
// else the place made in buffer; empty when extraction refuses the name.
std::string_view LandingPlace(std::string_view name, bool keepAbsolute, std::string& buffer);
// The form of a path on disk without empty and "." components and without
// a trailing "/" (a leading "/" and ".." components stay): path itself where
// it has that form, else the form made in buffer.  Two spellings of one
// file's path have one such form.
std::string_view NormalPath(std::string_view path, std::string& buffer);

// "KOVZEF: <name>: name changed, ..." with the stored UTF-8 name, whose
// bytes outside printable ASCII are written as \xNN.
std::string ChangedNameNotice(const std::string& name, const std::string& storedUtf8);

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
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/keyedhash.h"

class CWrittenNames {
public:
    CWrittenNames()
        : m_key(UnforeseenHashKey())
    {
    }

    // Takes place for an entry that came from source, both given as places
    // (see LandingPlace, NormalPath), source in a form that tells the names
    // apart that a run writes from (see the callers): true when no earlier
    // entry took the place, or only entries from the same source (a name
    // given or stored twice is the same name again, which takes its own
    // place); false, taking nothing, when an entry from another source took
    // it.
    bool Take(std::string_view place, std::string_view source);

private:
    // Nearly every entry of a run comes from its place, or from its place
    // below "/" (an absolute name stored as it is): of such a place only
    // its fingerprint is kept, in m_chunks: its keyed hash (m_key is drawn
    // at random, so that no archive or tree can make two places share one
    // on purpose) with the kind of its source in the lowest bit.  Two
    // places of one fingerprint would be taken for one place: a lookup
    // meets that with a chance of one in 2^63 for each place kept.  Only
    // once an entry of another source comes, or of the
    // other of the two, are they looked up: from then on the chunks are
    // kept sorted, in runs merged as a binary counter merges.  Every other
    // entry is kept in m_table with its place and its source.
    enum Kind : uint8_t { kOwn = 0, kRooted = 1, kOther = 2 };
    // A place taken in m_table: where its text lies in m_text (the place,
    // then the source), and the low bits of its hash.
    struct Slot {
        uint64_t offset = 0;  // in m_text, plus one: 0 is a free slot
        uint32_t hash = 0;
        uint32_t placeLength = 0;
        uint32_t sourceLength = 0;
    };
    using Chunk = std::unique_ptr<uint64_t[]>;
    static constexpr size_t kChunk = 1024;  // fingerprints a chunk holds

    // The kind of the source taken at the place of hash (kOther: none),
    // found among the fingerprints, which it sorts first where they are not.
    Kind FindPrint(uint64_t hash);
    void AppendPrint(uint64_t print);
    // Sorts every chunk and makes runs of the full ones.
    void SortPrints();
    // Adds the sorted chunks up to end (in m_chunks) as a run and merges
    // the runs before it that are no longer than it.
    void AddRun(size_t end);
    // Merges the runs of chunks [start, middle) and [middle, end) into
    // new chunks, releasing each old one once read.
    void MergeRuns(size_t start, size_t middle, size_t end);
    // In m_table: the source taken at place, or nullptr.
    const Slot* FindInTable(std::string_view place, uint64_t hash) const;
    void AddToTable(std::string_view place, std::string_view source, uint64_t hash);

    HashKey m_key;
    // The fingerprints; the last chunk holds m_lastUsed.
    std::vector<Chunk> m_chunks;
    size_t m_lastUsed = 0;
    uint8_t m_kinds = 0;  // a bit for each kind among them
    bool m_sorted = false;
    std::vector<size_t> m_runEnds;  // in chunks, once m_sorted
    // Open addressing, at most half full; the places in one text, not one
    // allocation each.
    std::vector<Slot> m_table;
    size_t m_tableUsed = 0;
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

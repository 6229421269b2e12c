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
    // Nearly every entry of a run comes from its place, or from its place
    // below "/" (an absolute name stored as it is): such places are kept
    // in m_log, each as the bytes it shares with the one before and the
    // bytes that follow (names of one directory come one after another), in
    // groups whose first place is kept whole.  Only once an entry of
    // another source comes, or of the other of the two, are they looked up:
    // through m_index, the high half of each one's hash beside its group,
    // whose places are read again to tell whether the place is among them
    // (a hash alone would take two places of one hash for one place).
    // Every other entry is kept in m_table with its place and its source.
    enum Kind : uint8_t { kOwn = 0, kRooted = 1, kOther = 2 };
    // A place taken in m_table: where its text lies in m_text (the place,
    // then the source), and the low bits of its hash.
    struct Slot {
        uint64_t offset = 0;  // in m_text, plus one: 0 is a free slot
        uint32_t hash = 0;
        uint32_t placeLength = 0;
        uint32_t sourceLength = 0;
    };
    static constexpr size_t kGroup = 32;  // places of a group in m_log
    static constexpr size_t kChunk = 64 * 1024;

    // The kind of the source taken at place in m_log (kOther: none), found
    // through m_index, which it builds first where it is missing.
    Kind FindInLog(std::string_view place, uint64_t hash);
    // Calls visit(place, kind) for the places of the group of m_log, in
    // order, until it returns false.
    template <typename Visit>
    void ForEachInGroup(size_t group, Visit visit) const;
    // Appends place, of kind, to m_log (and to m_index once it is built).
    void AppendToLog(std::string_view place, Kind kind, uint64_t hash);
    // The index of m_log: every place's word, the sorted runs of it merged
    // as a binary counter merges, so that a lookup searches few of them.
    void BuildIndex();
    void SortIndex();
    // In m_table: the source taken at place, or nullptr.
    const Slot* FindInTable(std::string_view place, uint64_t hash) const;
    void AddToTable(std::string_view place, std::string_view source, uint64_t hash);

    // m_log: chunks of kChunk bytes (or as many as one place takes), the
    // bytes used of each but the last; where each group's first place lies
    // (its chunk << 32 | its offset there).
    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::vector<size_t> m_chunkFill;
    size_t m_chunkSize = 0;  // of the last chunk
    size_t m_used = 0;       // bytes used of the last chunk
    std::vector<uint64_t> m_groups;
    size_t m_inGroup = 0;  // places in the last group
    std::string m_last;    // the last place appended
    uint8_t m_kinds = 0;   // a bit for each kind in m_log
    bool m_indexed = false;
    std::vector<uint64_t> m_index;  // (high half of the hash) << 32 | group
    std::vector<size_t> m_runEnds;  // of the sorted runs of m_index
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

// Names that a run changed: the conversion into the local code page (or out
// of it) put substitutes for characters the other side cannot hold, or -lower
// or -flat gave an entry another path.  Two entries of different names whose
// changed names become one name must not silently take each other's place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class CWrittenNames {
public:
    // Whether writing path would take the place of a file or link this run
    // wrote before under another name, where either of the two has a
    // changed name.  source: the entry's name before it was changed (the
    // same source at one path is the same name again, which takes its own
    // place as an unchanged name does).
    bool Collides(std::string_view path, bool changed, std::string_view source);
    // A file or link this run wrote at path, with the name it came from.
    void Note(std::string_view path, bool changed, std::string_view source);

private:
    static uint64_t Key(std::string_view path);

    // Every path written, as keys; looked up (through the set, built on the
    // first need) only once a changed name appears, which is rare.
    std::vector<uint64_t> m_keys;
    std::unordered_set<uint64_t> m_keySet;
    bool m_indexed = false;
    // The paths of changed names, with the names they came from.
    std::unordered_map<std::string, std::string> m_changed;
};

// "KOVZEF: <name>: name changed, ..." with the stored UTF-8 name, whose
// bytes outside printable ASCII are written as \xNN.
std::string ChangedNameNotice(const std::string& name, const std::string& storedUtf8);

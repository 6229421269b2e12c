// Names that the conversion into the local code page changed (characters
// the code page cannot hold became substitutes): two entries whose names
// become the same name on disk must not silently write over each other.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

class CWrittenNames {
public:
    // Whether writing path would take the place of a file or link this run
    // wrote before, where either of the two has a changed name.
    bool Collides(const std::string& path, bool changed);
    // A file or link this run wrote at path.
    void Note(const std::string& path, bool changed);

private:
    static uint64_t Key(const std::string& path);

    // Every path written, as keys; looked up (through the set, built on the
    // first need) only once a changed name appears, which is rare.
    std::vector<uint64_t> m_keys;
    std::unordered_set<uint64_t> m_keySet;
    bool m_indexed = false;
    std::unordered_set<std::string> m_changed;
};

// "KOVZEF: <name>: name changed, ..." with the stored UTF-8 name, whose
// bytes outside printable ASCII are written as \xNN.
std::string ChangedNameNotice(const std::string& name, const std::string& storedUtf8);

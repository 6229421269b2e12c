// What the list and the extract command share when they walk archives: the
// start of each archive, the damage an entry shows before its data, and the
// rules that select its entries.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CApplication;
class CArchiveFile;
class CDirEntry;

// Reads the archive header (CInvalExcept when the file is no KOX archive, for
// the old-format fallback; with checkSignature it fails as an unsigned
// archive, status 59), says which archive is processed and, when asked,
// checks its signature before the entries.
void StartArchiveWalk(CArchiveFile& archive, const std::string& archiveName, CApplication& application,
                      bool checkSignature);

// The damage the entry just read shows before its data, as every reader
// reports it (status 12), or empty: a stored name that does not end with its
// terminator (the entry is then not to be processed at all), or data blocks
// behind a link, a directory or an empty file, whose header announces none.
std::string DamageBeforeData(CArchiveFile& archive, const CDirEntry& entry);

// The entries a run works on: all of them without names, else those named
// and those below the last named directory met (in archive order, across the
// run's archives).
class CEntrySelection {
public:
    static constexpr size_t kNotListed = static_cast<size_t>(-1);

    explicit CEntrySelection(const std::vector<std::string>& names);

    // Whether the entry is selected; *listed receives the index of the name
    // that named it, or kNotListed.  A named directory (directoryMode)
    // selects what follows below it.
    bool Select(const std::string& name, bool directoryMode, size_t* listed = nullptr);
    // The index of name in the list, or kNotListed.
    size_t IndexOf(std::string_view name) const;
    bool Empty() const { return m_count == 0; }

private:
    std::unordered_map<std::string_view, size_t> m_index;  // first index of each name
    size_t m_count = 0;
    std::string m_directory;  // the last named directory
};

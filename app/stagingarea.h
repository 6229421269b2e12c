// A hidden directory of a verified extraction in a directory where it puts
// files in place of others (".staged.PID-N.part", N chosen at random): a
// staged file that replaces what is at its path needs a name before it can
// take the path, and gets it there, under its own name, instead of a hidden
// name beside its path.  The directory carries the mark of a run's own
// leftover once (see MarkTransient), where a hidden file beside the path
// would need the mark set and taken off for each file; a run killed while a
// file is there leaves it marked, for the next extraction's clean-up.  While
// the area is made, before it carries the mark itself, a marked file stands
// for it (see StagingAreaPledgeName).
#pragma once

#include <string>

class CStagingArea {
public:
    CStagingArea() = default;
    ~CStagingArea() { Remove(); }
    CStagingArea(const CStagingArea&) = delete;
    CStagingArea& operator=(const CStagingArea&) = delete;

    // The area in the directory of path, made (marked and locked) when this
    // run has none there yet: its descriptor, or -1 when none can be made
    // (then not tried again until another directory's turn).  An area
    // elsewhere is removed first.
    int For(const std::string& path);
    // Removes the area, which holds nothing between files.  One that holds
    // something all the same (an entry of a hostile archive that found its
    // name) stays, without the mark: nothing in it is lost.
    void Remove() noexcept;

private:
    bool m_chosen = false;    // m_directory is set
    std::string m_directory;  // the directory part of the paths it serves (or could not)
    std::string m_hidden;     // its path
    int m_fd = -1;
};

// Where an archive entry is written on extraction.  Both archive readers (the
// KOX reader of the application and the old-format library) decide it here,
// once per entry, so the path that is checked is the path that is written.
#pragma once

#include <string>
#include <string_view>

struct EntryPath {
    std::string path;              // the path to create; empty when refused
    bool leadingRemoved = false;   // leading "/" or "../" components were dropped
    bool parentComponent = false;  // refused: a ".." component is left
};

// Without keepAbsolute (-P) leading "/" and "../" components are removed, so
// every entry lands inside the target; the name then goes below targetDir
// (when one is given) as JoinTargetDirectory joins them.  With keepAbsolute the
// name is used as stored, and an absolute name ignores targetDir.  A ".."
// component anywhere else refuses the entry.
EntryPath PlanEntryPath(std::string_view name, std::string_view targetDir, bool keepAbsolute);

// The path of name below a target directory (-R), as every reader and the
// space estimate join them: the directory with each backslash that is a
// character of the local code page made "/" (a byte 0x5C inside a double-
// byte character is part of the directory's name and stays), a "/" unless
// it ends with one, and the name; the name alone without a directory.
std::string JoinTargetDirectory(std::string_view directory, std::string_view name);

// What is at the path of a file entry about to be written.
enum class EntryPathState {
    kFree,    // nothing: the file is made new there
    kDevice,  // a device, written as it is
    kFailed,  // errno says why (EISDIR for a directory)
};
// Removes whatever else is at path (a symbolic link, a second name of a file
// elsewhere, a fifo, an earlier file), so that the entry's file is made new
// there instead of being written through it: what it leads to is not the
// entry's.  A device or a directory stays.
EntryPathState ClearEntryPath(const std::string& path);

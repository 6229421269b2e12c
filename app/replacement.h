// The new files that runs write beside an archive, ".<name>.<pid>-<n>.new":
// a create's new archive, and the archive an append starts where there was
// none.  Such a file takes the archive's name only once it is whole; a run
// killed before that leaves it behind, and the next run that writes the
// archive removes it.
#pragma once

#include <string>

#include "app/stalefiles.h"

// Names a run tries for its new file, one after another.
inline constexpr unsigned kReplacementAttempts = 100;

// Where the new file of the archive name (relative to dirFd) goes: the
// name it will replace (with followLink the file a link at name leads to,
// else name), that name's directory, and the base its new file is named
// after.  False when a link at name leads nowhere that can be resolved.
bool ReplacementPlace(int dirFd, const char* name, bool followLink, std::string& finalName, std::string& directory,
                      std::string& base);

// Removes the new files that runs of the archive base in directory left
// behind when they were killed: those of processes that no longer run, which
// nobody holds locked, which belong to this user and which have no other
// name (a file with a second link is someone's file, not a lost new file),
// and which carry the mark of the run that made them.  keep, when given,
// spares those it answers true for.
void RemoveStaleReplacements(int dirFd, const std::string& directory, const std::string& base,
                             const LostFileKeeper& keep = nullptr);
// The same for the archive name (relative to dirFd): beside the file a link
// there leads to, or beside the name when it leads nowhere.
void RemoveStaleReplacementsOf(int dirFd, const char* name, const LostFileKeeper& keep = nullptr);

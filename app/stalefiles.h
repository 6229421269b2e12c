// The files runs killed outright leave behind: a create's new archive beside
// the old one (".NAME.PID-N.new") and a verified extraction's file staged
// beside its path, or directory filled under a hidden name, with the files
// in it (".NAME.PID-N.part").  Such a file goes only once it is
// sure to be a lost one: it carries the mark of the run that made it (see
// MarkTransient), the process its name gives no longer runs, nobody holds it
// locked (whole or any record of it, nor a file in such a directory), it
// belongs to this user and it has no other name.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

// The process that made name when name is head + ".<pid>-<n>" + suffix,
// both numbers written as "%u" writes them and n at most maxN; head is set
// to the part before.  0 for any other name.
pid_t StaleFileOwner(std::string_view name, std::string_view suffix, unsigned long maxN, std::string_view& head);
// Whether a file or directory found lost is to stay all the same (one this
// run made or reads itself, which only looks like a lost one).
using LostFileKeeper = std::function<bool(const struct stat&)>;
// Removes the files of directory (relative to dirFd) that are lost ones,
// of those that owner names a process for (0 for any other name).  Nothing
// when the directory can not be read.  keep, when given, spares those it
// answers true for.
void RemoveLostFiles(int dirFd, const std::string& directory, const std::function<pid_t(std::string_view)>& owner,
                     const LostFileKeeper& keep = nullptr);
// Removes the lost staged files (".NAME.PID-N.part") of directory (relative
// to dirFd), and the lost staging directories of that name with the files
// they hold; nothing when it can not be read.  keep, when given, spares
// those it answers true for, and a directory holding one.
void RemoveLostStagedFiles(int dirFd, const std::string& directory, const LostFileKeeper& keep = nullptr);
// The process that made name when it has the form of a staged file's or
// staging directory's name, else 0.
pid_t StagedFileOwner(std::string_view name);
// The name of a staging area of this process in the directory that
// directoryPrefix names ("" or ending in "/"): ".staged.PID-N.part"; and that
// of the file that stands for the area while it is made, before it carries
// the mark itself: ".staged-area.PID-N.part".  A lost file of the second
// kind takes the empty directory of the first with it.
std::string StagingAreaName(const std::string& directoryPrefix, unsigned n);
std::string StagingAreaPledgeName(const std::string& directoryPrefix, unsigned n);
// The n-th hidden name this process gives a file staged beside path:
// ".NAME.PID-N.part", NAME being path's last component, cut to keep the
// name within the limit of one component.
std::string StagedFileName(const std::string& path, unsigned n);

// The mark of a hidden file or directory a run makes for a moment (a new
// archive, a staged file, a staging directory): an extended attribute of the
// file itself that holds its inode number and the name it is made under
// (the last component of path).  Only a file that carries the mark fitting its
// inode and its present name is taken for one a killed run left (or an
// empty one a run was killed with as MakeNamedTransient made it).  No archive
// entry carries it (extraction sets no extended attributes), nor a file a
// user made or copied (a copy is another inode), nor a file that this
// program put at a name of that form (that name is not the one it was made
// under).  Where the file system keeps no such attribute the mark is not
// set, and what a killed run left there stays.  False when it is not set.
bool MarkTransient(int fd, std::string_view path);
// Makes the regular file path (relative to dirFd) with mode (less the
// creation mask), where no file can be made without a name (O_TMPFILE) to
// bear the mark before it has one: it carries the sticky bit from its
// creation until it bears the mark, so that a run killed in between leaves
// an empty file that the clean-ups can tell for a lost one (still only
// where the file system keeps the mark).  Its descriptor, open for
// writing, or -1 with errno set (EEXIST when the name is taken).
int MakeNamedTransient(int dirFd, const char* path, mode_t mode);
// Whether the file open as fd is one a killed run left under the last
// component of path: it bears that mark, or it is an empty file that
// MakeNamedTransient made and the run was killed with before it bore it.
bool LeftByKilledRun(int fd, std::string_view path);
// Takes the mark off the file open as fd, or at path (not following a
// link), once it has the name it was made for.
void UnmarkTransient(int fd);
void UnmarkTransient(const char* path);

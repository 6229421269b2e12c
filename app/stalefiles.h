// The files runs killed outright leave behind: a create's new archive beside
// the old one (".NAME.PID-N.new") and a verified extraction's file staged
// beside its path, or directory filled under a hidden name, with the files
// in it (".NAME.PID-N.part").  Such a file goes only once it is
// sure to be a lost one: the process its name gives no longer runs, nobody
// holds the file locked (whole or any record of it), it belongs to this user
// and it has no other name.
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
// Removes the files of directory (relative to dirFd) that are lost ones,
// of those that owner names a process for (0 for any other name).  Nothing
// when the directory can not be read.
void RemoveLostFiles(int dirFd, const std::string& directory, const std::function<pid_t(std::string_view)>& owner);
// Whether a file or directory found lost is to stay all the same (one this
// run made itself, which only looks like a lost one).
using LostFileKeeper = std::function<bool(const struct stat&)>;
// Removes the lost staged files (".NAME.PID-N.part") of directory (relative
// to dirFd), and the lost staging directories of that name with the files
// they hold; nothing when it can not be read.  keep, when given, spares
// those it answers true for.
void RemoveLostStagedFiles(int dirFd, const std::string& directory, const LostFileKeeper& keep = nullptr);
// The process that made name when it has the form of a staged file's or
// staging directory's name, else 0.
pid_t StagedFileOwner(std::string_view name);
// The n-th hidden name this process gives a file staged beside path:
// ".NAME.PID-N.part", NAME being path's last component, cut to keep the
// name within the limit of one component.
std::string StagedFileName(const std::string& path, unsigned n);

// The files runs killed outright leave behind: a create's new archive beside
// the old one (".NAME.PID-N.new") and a verified extraction's file staged
// beside its path (".NAME.PID-N.part").  Such a file goes only once it is
// sure to be a lost one: the process its name gives no longer runs, nobody
// holds the file locked, it belongs to this user and it has no other name.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

// The process that made name when name is head + ".<pid>-<n>" + suffix,
// both numbers written as "%u" writes them and n at most maxN; head is set
// to the part before.  0 for any other name.
pid_t StaleFileOwner(std::string_view name, std::string_view suffix, unsigned long maxN, std::string_view& head);
// Removes the files of directory (relative to dirFd) that are lost ones,
// of those that owner names a process for (0 for any other name).  Nothing
// when the directory can not be read.
void RemoveLostFiles(int dirFd, const std::string& directory, const std::function<pid_t(std::string_view)>& owner);
// Removes the lost staged files (".NAME.PID-N.part") of directory (relative
// to dirFd); nothing when it can not be read.
void RemoveLostStagedFiles(int dirFd, const std::string& directory);
// The n-th hidden name this process gives a file staged beside path:
// ".NAME.PID-N.part", NAME being path's last component, cut to keep the
// name within the limit of one component.
std::string StagedFileName(const std::string& path, unsigned n);

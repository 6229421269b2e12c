// Small process helpers: a temporary-file creator, a fork that starts
// profiling in the child, CPU affinity and process priority.  Their messages
// go to standard error.
#pragma once

#include <sys/types.h>

// Creates a new file from template (six "X" before a suffix of suffixLen
// characters, replaced by letters and digits) with O_EXCL and mode 0600 and
// returns its descriptor; -1 with errno EINVAL for a bad template, or EEXIST
// (and an empty template) when every name is taken.
int LINMkstemps(char* tmpl, int suffixLen);

// 1 when the running process has the symbol "_Unwind_GetIPInfo", else 0.
int LINHasUnwindIPInfo();

// fork(); in the child, when GMON_OUT_PREFIX is set and the program's text
// range can be found, GMON_OUT_PREFIX becomes "<old>-<name>" and profiling
// starts.  Returns fork's result.
pid_t LINForkProfiled(const char* name);

// Without a list: the number of online CPUs.  Otherwise binds process pid to
// the CPUs of the comma-separated list and returns sched_setaffinity's result.
int LINSetAffinity(pid_t pid, const char* list);

// Sets the nice value of process pid from "Low" (5), "Normal" (0), "High"
// (-5) or a number; returns setpriority's result.
int LINSetPriority(pid_t pid, const char* text);

// Test seams of the profile-parameter library.  Not for use by the program.
#pragma once

// Directory that stands for "/" where the library opens files in the system
// directories (the default profile below the install directory, the merge
// file in /tmp); null or "" for the real root.
void kovparam_seam_set_root(const char* dir);

// Returns the library to the state of process start (tables, flags, counters,
// hooks, command line); every string handed out before becomes invalid.
void kovparam_seam_reset();

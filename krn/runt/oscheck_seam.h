// Test seams of the machine checks: the checks read the real machine unless
// a test points them elsewhere.  Not for use by the program itself.
#pragma once

// Path statfs looks at for the tmpfs check (null: "/dev/shm/").
void LINSeamSetShmPath(const char* path);

// Presets the cached memory sizes in MB, as if they had been measured.
void LINSeamSetMemorySizes(long physMB, long swapMB, long tmpfsMB);

// Forgets every cached size, the calculated memory size and every slot text.
void LINSeamReset();

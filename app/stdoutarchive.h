// An archive written to the program's own standard output: the names that
// lead to it, the descriptor such an archive goes to, and the end of such an
// archive when its run fails.  Such a run writes the archive to descriptor 1
// as it stands (its offset and flags kept, no file made beside it) and sends
// every message to standard error instead.
#pragma once

// Run first thing: a closed descriptor 1 or 2 gets the read end of a pipe
// without a writer in its place.  Writes to it fail with EBADF as they would
// on the closed descriptor, and no file the program opens later takes its
// number (a message meant for standard error would be written into it, an
// archive opened there would be taken for standard output).
void HoldClosedStandardDescriptors();
// True when name leads to the file open as descriptor 1, whatever its
// spelling ("/dev/stdout", "/dev/fd//1", "/proc/thread-self/fd/1", a name
// of the file that standard output is redirected to); null and a name that
// leads nowhere are not.  Such a run's messages go to standard error.
// errno is left as it was.
bool IsStandardOutput(const char* name);
// True when name reaches descriptor 1 itself through this process's
// descriptor links ("/dev/stdout", "/dev/fd/1", "/proc/self/fd/1",
// "/proc/thread-self/fd/1", "/proc/PID/fd/1", in any spelling, or a link
// that leads to one of them): the archive is then written where descriptor
// 1 stands.  A plain name of the file standard output is redirected to is
// not: that file is the archive named, made or replaced as any other.
// errno is left as it was.
bool NamesStandardOutput(const char* name);
// True while descriptor 1 is open, other than by HoldClosedStandardDescriptors.
bool StandardOutputOpen();
// A new descriptor (closed on exec) of the file open as descriptor 1,
// sharing its offset and flags; -1 with errno set when there is none or
// descriptor 1 is open for reading only (EBADF).
int DuplicateStandardOutput();
// Ends what a failed run wrote of its archive to standard output with an
// entry header of zeros.  Every reader refuses it as a torn archive (status
// 5), whether it comes where the next entry would start or where the next
// data block of a file cut short would: so the stream can not pass for a
// whole archive with its failed parts missing.  Errors are not reported:
// the run has failed already.
void EndFailedStandardOutputArchive();

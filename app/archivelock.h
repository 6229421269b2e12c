// The exclusive lock that every run writing into an existing archive holds
// (append, merge, signing, and a create while it puts its new archive in
// place), so that two runs never write one archive at once.
#pragma once

#include <string>

#include "app/except.h"

// "KOVZEF: archive <path> is being written by another run; nothing was
// changed", status 6.
CExcept ArchiveBusyExcept(const std::string& path);

class CArchiveLock {
public:
    CArchiveLock() = default;
    ~CArchiveLock() { Release(); }
    CArchiveLock(const CArchiveLock&) = delete;
    CArchiveLock& operator=(const CArchiveLock&) = delete;

    // Locks the regular file path (relative to dirFd, AT_FDCWD for the
    // working directory); with create a missing file is created empty first
    // (the caller then owns it).  Anything but a regular file is left
    // unlocked: a device or pipe has no contents to guard.  When another run
    // holds the lock, throws CExcept at once (status 6) and changes nothing;
    // a failed open throws COpenExcept.  Returns whether the file was created.
    bool Acquire(int dirFd, const std::string& path, bool create);
    void Release();
    bool Held() const { return m_fd >= 0; }
    // The locked file, -1 when none is held.
    int Fd() const { return m_fd; }

private:
    bool LockOnce(int dirFd, const std::string& path, bool create);

    int m_fd = -1;
};

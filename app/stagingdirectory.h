// A directory that a verified extraction makes, made and filled under a
// hidden name (".NAME.PID-N.part" beside its path) and given its name once
// the run is done with it: its files are written there directly under their
// own names, so that one rename puts them all in place instead of a step per
// file, and a run killed meanwhile leaves none of them at its path.  What a
// killed run left goes with the next extraction into the directory beside
// it (see RemoveLostStagedFiles).
#pragma once

#include <string>
#include <sys/types.h>

class CStagingDirectory {
public:
    CStagingDirectory() = default;
    ~CStagingDirectory() { FinishQuietly(); }
    CStagingDirectory(const CStagingDirectory&) = delete;
    CStagingDirectory& operator=(const CStagingDirectory&) = delete;

    bool Active() const { return m_fd >= 0; }
    // The directory being filled (its path), empty when none is.
    const std::string& Directory() const { return m_directory; }
    // The hidden directory, open and locked while it is filled; -1 when
    // none is.
    int Descriptor() const { return m_fd; }
    // Whether path names something directly in the directory being filled
    // (its last component then follows Directory() and a "/").
    bool Holds(const std::string& path) const;
    // Makes the directory for the path directory under a hidden name, to
    // be filled there and named by Finish.  mode, when not 0, is the mode
    // it gets once it has its name.  writeBits: the write bits (of 0222) a
    // directory that takes its name meanwhile may have and still take the
    // files (see Finish).  False, nothing made, when it can not be made.
    bool Begin(std::string directory, mode_t mode, mode_t writeBits);
    // Gives the directory being filled its name.  Where something took the
    // name meanwhile, a directory of this user there whose write bits are
    // among writeBits (those this run gives the directory itself, or its
    // user's creation mask allows: another run of the user made it) takes
    // the files one by one, as a staged file takes a path that was not
    // free; one that another run holds locked (it moves its own files in)
    // is waited for, two seconds at most.  CExcept (28) when they can not
    // all go there: the message says where those left were left, and they
    // stay there for the user (the next run's clean-up leaves them).
    void Finish();
    // The same without an exception: the message of the failure, or empty.
    std::string FinishQuietly() noexcept;

private:
    // Moves the files of the hidden directory into the directory that took
    // its name; false (errno set, failed naming the file) for the first
    // that can not go there, or (reason set) when that directory is not
    // this user's, or others may write it beyond writeBits; false with
    // errno EWOULDBLOCK when another run holds it locked.
    bool MoveFilesIntoTaken(std::string& failed, std::string& reason) const;
    void Close() noexcept;

    std::string m_directory;
    std::string m_hidden;
    int m_fd = -1;
    mode_t m_mode = 0;
    mode_t m_writeBits = 0;
};

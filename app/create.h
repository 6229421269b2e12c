// The create, append and sign command (c, a, S): opens the archive, turns
// every name of the file list into archive entries, walks directories
// recursively and, when asked, checks an existing signature first and signs
// the archive at the end.
#pragma once

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

#include "app/command.h"

class CApplication;
class CArchiveFile;
class CDirEntry;
class CFile;
class CDirectory;
class CLink;
class ICompressStrategy;
struct FindData;

class CCreate : public CCommand {
public:
    explicit CCreate(CApplication& application);
    ~CCreate() override;

    void Execute() override;

    // Walks the entries of path's directory that match its last component
    // (a pattern) and adds them, recursing into subdirectories.
    void ProcessDirectory(const std::string& path, CArchiveFile& archive);
    // The entry for a symbolic link that is followed (links resolved): a
    // directory entry (contents not walked) or a file entry; null, with
    // errno set, when the link is gone.
    CDirEntry* CreateFileObject(const std::string& path, const FindData& data);

private:
    // Constructs, writes and destroys one entry of each kind in its storage.
    void WriteDirectory(const std::string& path, CArchiveFile& archive);
    // seen: a stat (seenFollowedLinks) or lstat of path made just before, or null.
    // seen: a stat of path made a moment before; fd: path already open for
    // reading (the entry takes it over).
    void WriteFile(const std::string& path, CArchiveFile& archive, bool countDigest, const struct stat* seen = nullptr,
                   bool seenFollowedLinks = true, int fd = -1);
    // Writes path as a file unless it is the archive itself.
    void WriteFileUnlessArchive(const std::string& path, CArchiveFile& archive, bool countDigest);
    void WriteLink(const std::string& path, CArchiveFile& archive);
    void WriteResolvedLink(const std::string& path, const FindData& data, CArchiveFile& archive, bool countDigest);
    void WriteEntry(CDirEntry* entry, CArchiveFile& archive);
    // Counts a file named on the command line that went into the archive
    // without its digest: the signing then fails.
    void CountMissingDigest(const CDirEntry& entry);
    // True when path is the archive being written (same device and inode).
    bool IsArchiveItself(const std::string& path) const;
    bool IsArchiveItself(const struct stat& st) const;
    // Acts on one walked child by its attribute word.
    void AddChild(const std::string& path, uint32_t attributes, const FindData& data, CArchiveFile& archive);

    CApplication& m_application;
    unsigned char* m_directoryStorage = nullptr;
    unsigned char* m_fileStorage = nullptr;
    unsigned char* m_linkStorage = nullptr;
    ICompressStrategy* m_strategy = nullptr;

    bool m_digestEnabled = false;
    uint32_t m_failedDigests = 0;
    bool m_haveArchiveId = false;
    dev_t m_archiveDev = 0;
    ino_t m_archiveIno = 0;
};

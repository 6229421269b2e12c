// The disk-space estimate of "-ts": the space that extracting the listed
// entries would newly take, summed per file system of the target directories
// and compared with the space available there.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "app/userinfo.h"

class CSpaceInfo : public CUserInfo {
public:
    // One file system that extracted entries would land on.
    struct FileSystemNeed {
        std::string directory;  // an existing directory on that file system
        double needed = 0.0;    // bytes; after HasEnoughSpace: the shortfall
        uint64_t device = 0;    // st_dev of the directory
        bool haveDevice = false;
    };

    // Bytes available to an unprivileged user on the file system of a path,
    // -1.0 when the query fails.  Replaceable so tests can simulate a full disk.
    using FreeSpaceFn = double (*)(const char* path);
    static FreeSpaceFn freeSpaceQuery;
    // The default query: f_bavail blocks of f_frsize bytes (f_bsize when 0).
    static double QueryFreeSpace(const char* path);

    CSpaceInfo() = default;

    // Adds one entry as listed (name) with its uncompressed size in bytes.
    void AddEntry(const std::string& name, double size);
    // The nearest existing directory above path; "" for an empty path.
    static std::string FindExistingParent(const std::string& path);
    // The item that stands for the file system of directory, or null.
    FileSystemNeed* FindFileSystem(const std::string& directory, uint64_t device, bool haveDevice);
    // True when every item has room; items without room get their shortfall.
    static bool HasEnoughSpace(std::vector<FileSystemNeed>& items);
    static void WriteNeed(std::ostream& out, const FileSystemNeed& item);

    // The whole report; sets exit status 30 when space is missing.
    std::string GetText() const override;

    const std::vector<FileSystemNeed>& Items() const { return m_items; }

private:
    std::vector<FileSystemNeed> m_items;
    // The nearest existing parent found for the last directory part.
    bool m_haveLastParent = false;
    std::string m_lastParentKey;
    std::string m_lastParent;
};

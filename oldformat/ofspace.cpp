// Free-space check before listing or extracting an old-format archive (-s).
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "oldformat/ofinternal.h"
#include "oldformat/shownname.h"

namespace {

struct Group {
    std::string dir;
    uint64_t bytes = 0;
};

std::string ParentDir(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Directories that do not exist yet are counted on the file system of their
// nearest existing parent.
std::string NearestExisting(std::string dir)
{
    struct stat st;
    while (stat(dir.c_str(), &st) != 0) {
        if (dir == "." || dir == "/")
            break;
        dir = ParentDir(dir);
    }
    return dir;
}

std::string Line(uint64_t kbytes, const char* middle, const std::string& dir)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "    %ld KBytes", static_cast<long>(kbytes));
    return std::string(buf) + middle + " on " + KovShown(dir) + "\n";
}

}  // namespace

bool OfCheckDiskSpace(const OfHandle& h, OfError& error)
{
    std::vector<Group> groups(1);
    groups[0].dir.assign(1, '.');
    for (const OfEntry& e : h.entries) {
        if (!e.selected)
            continue;
        const std::string dir = NearestExisting(ParentDir(e.target));
        uint64_t bytes = e.size;
        struct stat st;
        if (stat(e.target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            const uint64_t have = static_cast<uint64_t>(st.st_size);
            bytes = bytes > have ? bytes - have : 0;
        }
        // Without the caller's file-system test every target counts on one.
        Group* group = h.services && h.services->sameFileSystem ? nullptr : &groups[0];
        for (size_t i = 0; group == nullptr && i < groups.size(); ++i) {
            errno = 0;
            const int same = h.services->sameFileSystem(dir.c_str(), groups[i].dir.c_str());
            if (same < 0) {
                OfSetError(error, OF_E_SYSTEM, dir.c_str(), errno ? errno : EIO);
                return false;
            }
            if (same)
                group = &groups[i];
        }
        if (!group) {
            groups.push_back(Group{dir, 0});
            group = &groups.back();
        }
        // Sizes from a header may be anything: the sum stops at the largest value.
        group->bytes = bytes > UINT64_MAX - group->bytes ? UINT64_MAX : group->bytes + bytes;
    }

    if (h.command == 't') {
        std::string text = "The extraction requires the following free space:\n";
        for (const Group& g : groups)
            text += Line(g.bytes / 1024, "", g.dir);
        std::fputs(text.c_str(), stdout);
    }

    std::string missing;
    for (const Group& g : groups) {
        errno = 0;
        const double avail = h.services && h.services->availableSpace ? h.services->availableSpace(g.dir.c_str()) : 0.0;
        if (avail == 0.0)
            return true;  // nothing known about this file system
        if (avail < 0.0) {
            OfSetError(error, OF_E_SYSTEM, g.dir.c_str(), errno ? errno : EIO);
            return false;
        }
        const double kb = avail / 1024.0;
        const uint64_t availKb = kb >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(kb);
        const uint64_t neededKb = g.bytes / 1024;
        if (availKb < neededKb)
            missing += Line(neededKb - availKb, " missing", g.dir);
    }
    if (!missing.empty()) {
        OfSetErrorText(error, OF_E_NO_SPACE, "The extraction failed due to missing free space:\n" + missing);
        return false;
    }
    return true;
}

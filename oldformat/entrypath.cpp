#include "oldformat/entrypath.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "krn/rscp/cputf8local.h"

namespace {

bool HasParentComponent(std::string_view name)
{
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string_view::npos)
            end = name.size();
        if (name.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

EntryPath PlanEntryPath(std::string_view name, std::string_view targetDir, bool keepAbsolute)
{
    EntryPath plan;
    if (!keepAbsolute) {
        for (;;) {
            if (name.starts_with("/")) {
                name.remove_prefix(1);
            } else if (name == ".." || name.starts_with("../")) {
                name.remove_prefix(name.size() == 2 ? 2 : 3);
            } else {
                break;
            }
            plan.leadingRemoved = true;
        }
    }
    plan.parentComponent = HasParentComponent(name);
    if (name.empty() || plan.parentComponent)
        return plan;
    if (targetDir.empty() || name.front() == '/') {
        plan.path = name;
        return plan;
    }
    plan.path = JoinTargetDirectory(targetDir, name);
    return plan;
}

std::string JoinTargetDirectory(std::string_view directory, std::string_view name)
{
    std::string path;
    path.reserve(directory.size() + 1 + name.size());
    path = directory;
    BackslashToSlashCP(path.data(), path.size());
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += name;
    return path;
}

EntryPathState ClearEntryPath(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? EntryPathState::kFree : EntryPathState::kFailed;
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return EntryPathState::kDevice;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return EntryPathState::kFailed;
    }
    return unlink(path.c_str()) == 0 || errno == ENOENT ? EntryPathState::kFree : EntryPathState::kFailed;
}

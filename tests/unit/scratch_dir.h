// The scratch directory of a test program: the one the build names in
// KOV_TEST_TMP, or else a fresh directory of this process's own below the
// system's temporary directory, removed when the process ends.  Never a fixed
// name that another run or another user may already hold.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

inline std::string KovTestTmp()
{
    if (const char* named = std::getenv("KOV_TEST_TMP"); named != nullptr && *named != '\0') {
        std::error_code ec;
        std::filesystem::create_directories(named, ec);
        return named;
    }
    struct Fresh {
        std::string path = (std::filesystem::temp_directory_path() / "kovtest-XXXXXX").string();
        pid_t owner = getpid();
        Fresh()
        {
            if (mkdtemp(path.data()) == nullptr) {
                std::perror("mkdtemp");
                std::abort();
            }
        }
        // A forked child that exits leaves the directory to its parent.
        ~Fresh()
        {
            std::error_code ec;
            if (getpid() == owner)
                std::filesystem::remove_all(path, ec);
        }
    };
    static const Fresh fresh;
    return fresh.path;
}

// Shared set-up of the converter cache tests: every test runs in a fresh
// temporary working directory with no cache attached, the error-output
// functions captured and standard error capturable.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "krn/rscp/cpcache.h"

namespace cpcache_test {

inline std::vector<std::string> g_out1, g_out2;
inline std::map<std::string, std::string> g_params;

inline void Out1(const char* text, int32_t length)
{
    g_out1.emplace_back(text, static_cast<size_t>(length));
}
inline void Out2(const char* text, int32_t length)
{
    g_out2.emplace_back(text, static_cast<size_t>(length));
}
inline const char* Param(const char* name)
{
    auto it = g_params.find(name);
    return it == g_params.end() ? nullptr : it->second.c_str();
}

// What fn writes to file descriptor 2.
inline std::string Stderr(const std::function<void()>& fn)
{
    std::fflush(stderr);
    char path[] = "/tmp/cpcache_stderrXXXXXX";
    const int fd = mkstemp(path);
    const int saved = dup(2);
    dup2(fd, 2);
    fn();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(fd);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::remove(path);
    return text.str();
}

inline void WriteFile(const char* name, const std::string& content)
{
    std::ofstream(name, std::ios::binary) << content;
}

inline bool Contains(const std::vector<std::string>& lines, const std::string& part)
{
    for (const std::string& l : lines)
        if (l.find(part) != std::string::npos)
            return true;
    return false;
}

class CacheTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        rscpf_finish(RSCP_ALL_ERRORS);
        char dir[] = "/tmp/cpcache_testXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        ASSERT_EQ(getcwd(home_, sizeof home_), home_);
        ASSERT_EQ(chdir(dir), 0);
        g_out1.clear();
        g_out2.clear();
        g_params.clear();
        rscpe_set_output_func(Out1, 1);
        rscpe_set_output_func(Out2, 2);
        rscph_SetGetParameterFunc(Param);
        rscpe_clear_errors();
    }
    void TearDown() override
    {
        rscpf_finish(RSCP_ALL_ERRORS);
        rscph_SetGetParameterFunc(nullptr);
        rscpe_set_output_func(nullptr, 1);
        rscpe_set_output_func(nullptr, 2);
        ASSERT_EQ(chdir(home_), 0);
        std::system(("rm -rf " + dir_).c_str());
    }
    // A new start-up (the old cache finished first).
    uint32_t Restart()
    {
        rscpf_finish(RSCP_ALL_ERRORS);
        g_out1.clear();
        g_out2.clear();
        return rscpi_init(RSCP_ALL_ERRORS);
    }
    std::string DbCodePages() const
    {
        return rscpmp == nullptr ? "" : std::string(rscpmp->dbCp[0], 4 * static_cast<size_t>(rscpmp->dbCpCount));
    }
    std::string LastText() const
    {
        char text[80];
        rscpe_get_last_text(rscpe_get_error_record(), text, sizeof text);
        return text;
    }

    std::string dir_;
    char home_[4096] = {};
};

}  // namespace cpcache_test

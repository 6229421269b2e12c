// Fixture of the profile-parameter tests: a library back at process start,
// the system directories below a scratch folder, a fixed machine, and
// standard error captured as text.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "flat/kovparam.h"
#include "flat/kovparam_seam.h"
#include "krn/runt/oscheck_seam.h"
#include "tests/unit/scratch_dir.h"

class StderrCapture {
public:
    StderrCapture()
    {
        fflush(stderr);
        file_ = tmpfile();
        saved_ = dup(2);
        dup2(fileno(file_), 2);
    }
    ~StderrCapture() { Take(); }
    std::string Take()
    {
        if (saved_ < 0)
            return text_;
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
        rewind(file_);
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, file_)) > 0;)
            text_.append(buf, n);
        fclose(file_);
        return text_;
    }

private:
    FILE* file_ = nullptr;
    int saved_ = -1;
    std::string text_;
};

// Joins texts by appending (the optimiser misreads some "literal" + string
// expressions as overlapping copies).
template <typename... T>
std::string Cat(const T&... parts)
{
    std::string s;
    (s += ... += parts);
    return s;
}

inline size_t CountOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class ParamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* v : {"KOVSYSTEM", "KOVPARAM700", "KOVPARAMMSID", "LINCHECKOS"})
            unsetenv(v);
        root_ = std::filesystem::path(KovTestTmp()) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "tmp");
        kovparam_seam_reset();
        kovparam_seam_set_root(root_.c_str());
        LINSeamReset();
        LINSeamSetMemorySizes(16384, 32768, 16384);
    }
    void TearDown() override
    {
        kovparam_seam_reset();
        kovparam_seam_set_root(nullptr);
        LINSeamReset();
    }

    std::string Write(const std::string& rel, const std::string& text)
    {
        std::filesystem::path p = root_ / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }

    // The default profile of system sid in its system directory.
    std::string WriteDefaultProfile(const std::string& sid, const std::string& text)
    {
        return Write("usr/kov/" + sid + "/SYS/profile/DEFAULT.PFL", text);
    }

    // Runs the command-line entry with the given arguments after argv[0] "prog".
    void Start(std::vector<std::string> args)
    {
        args_ = {"prog"};
        args_.insert(args_.end(), args.begin(), args.end());
        argv_.clear();
        for (std::string& a : args_)
            argv_.push_back(a.data());
        argv_.push_back(nullptr);
        kovargv(static_cast<int>(args_.size()), argv_.data());
    }

    static std::string Get(const char* name)
    {
        const char* v = kovparam_get(name);
        return v ? v : "<null>";
    }

    std::filesystem::path root_;
    std::vector<std::string> args_;
    std::vector<char*> argv_;
};

// Servers of tsa_server.py for the timestamp client's tests, and the test
// PKI of the crypto library's tests.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/unit/kovcrypto/test_pki.h"
#include "tests/unit/scratch_dir.h"

namespace tsatest {

namespace fs = std::filesystem;

std::string Env(const char* name, const char* fallback)
{
    const char* v = std::getenv(name);
    return v ? v : fallback;
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// One server process of tsa_server.py; stops when destroyed.
class Server {
public:
    explicit Server(const std::vector<std::string>& args)
    {
        static int serial = 0;
        dir_ = KovTestTmp() + "/srv" + std::to_string(++serial);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        int in[2], out[2];
        // Closed on exec: a server started later must not hold this one's
        // standard input open, or this one would never see its end.
        EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
#ifdef KOV_TSA_SERVER
            std::vector<std::string> all = {"python3", KOV_TSA_SERVER};
#else
            std::vector<std::string> all = {"python3", Env("KOV_TEST_DATA", ".") + "/tsa_server.py"};
#endif
            all.insert(all.end(), args.begin(), args.begin() + 1);
            all.push_back(dir_);
            all.insert(all.end(), args.begin() + 1, args.end());
            std::vector<char*> argv;
            for (std::string& a : all)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp("python3", argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        char buf[16] = {};
        size_t n = 0;
        while (n < sizeof buf - 1 && read(out[0], buf + n, 1) == 1 && buf[n] != '\n')
            ++n;
        close(out[0]);
        port_ = std::string(buf, n);
        EXPECT_FALSE(port_.empty());
    }
    ~Server()
    {
        close(stdin_);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    const std::string& Port() const
    {
        return port_;
    }
    std::string File(const std::string& name) const
    {
        return Slurp(dir_ + "/" + name);
    }
    bool Has(const std::string& name) const
    {
        return fs::exists(dir_ + "/" + name);
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    std::string dir_;
    std::string port_;
};

}  // namespace tsatest

// `openssl s_server` on the loopback address for one connection, with a
// certificate of the test PKI, for the tests of TLS clients.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/kovcrypto/test_pki.h"

extern char** environ;

namespace kctest {

inline int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    close(s);
    return ntohs(a.sin_port);
}

inline int Connect(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    return s;
}

// The server runs with the PKI's certificate <name>.pem and key <name>.key
// (root/server by default) and the extra options given.
struct Server {
    pid_t pid = -1;
    int port = FreePort();
    explicit Server(const std::vector<std::string>& extra, const std::string& name = "root/server")
    {
        std::vector<std::string> args = {
            "openssl", "s_server",       "-quiet", "-naccept",      "1", "-accept", "127.0.0.1:" + std::to_string(port),
            "-cert",   P(name + ".pem"), "-key",   P(name + ".key")};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        EXPECT_EQ(posix_spawnp(&pid, "openssl", &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    // A connected socket once the server listens, or -1 once it has ended
    // (or two minutes passed: a busy machine may take seconds to start it).
    int Socket() const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (std::chrono::steady_clock::now() < deadline && Running()) {
            const int s = Connect(port);
            if (s >= 0)
                return s;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    // Whether the server process has not ended yet.
    bool Running() const
    {
        if (pid <= 0)
            return false;
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
    }
    ~Server()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

}  // namespace kctest

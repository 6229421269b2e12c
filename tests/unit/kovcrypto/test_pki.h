// The test PKI made by the openssl command line (make_test_pki.sh), files and
// shell commands, for the tests of the crypto library and of its loader.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include "tests/unit/scratch_dir.h"

namespace kctest {

inline std::string TmpDir()
{
    return KovTestTmp();
}

// Runs a shell command quietly; its exit status.
inline int Shell(const std::string& cmd)
{
    const int s = std::system((cmd + " >/dev/null 2>&1").c_str());
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
}

inline std::string Read(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// The test PKI (see make_test_pki.sh), built once per test program; the
// directory of named PSEs is TELMIRDIR.
inline const std::string& Pki()
{
    static const std::string dir = [] {
        const std::string d = TmpDir() + "/pki";
#ifdef KOV_PKI_SCRIPT
        const std::string script = KOV_PKI_SCRIPT;
#else
        const char* src = std::getenv("KOV_TEST_DATA");
        const std::string script = std::string(src != nullptr ? src : ".") + "/make_test_pki.sh";
#endif
        EXPECT_EQ(Shell("mkdir -p '" + TmpDir() + "' && bash '" + script + "' '" + d + "'"), 0);
        setenv("TELMIRDIR", (d + "/psedir").c_str(), 1);
        return d;
    }();
    return dir;
}
inline std::string P(const std::string& name)
{
    return Pki() + "/" + name;
}

inline const unsigned char* U(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}
inline uint32_t L(const std::string& s)
{
    return static_cast<uint32_t>(s.size());
}

// A reply of `openssl ts -reply` (with extra options, such as another signer).
inline std::string OpensslReply(const std::string& req, const std::string& options = "")
{
    Write(TmpDir() + "/req.tsq", req);
    EXPECT_EQ(Shell("openssl ts -reply -config " + P("ts.cnf") + " -queryfile " + TmpDir() + "/req.tsq -out " +
                    TmpDir() + "/resp.tsr " + options),
              0);
    return Read(TmpDir() + "/resp.tsr");
}

}  // namespace kctest

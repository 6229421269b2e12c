// Helpers of the crypto tests: hex text of bytes, and Python as an oracle.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>
#include "tests/unit/scratch_dir.h"

namespace cryptotest {

inline std::string Hex(const void* p, size_t n)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    const auto* b = static_cast<const unsigned char*>(p);
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += {kDigits[b[i] >> 4], kDigits[b[i] & 15]};
    return s;
}

inline std::string RandomBytes(std::mt19937& gen, size_t n)
{
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen());
    return s;
}

// Runs a Python script with the path of a file holding the input lines as its
// argument and returns its output split into lines.  An empty result means
// Python could not be run.
inline std::vector<std::string> PythonLines(const std::string& script, const std::vector<std::string>& inputs)
{
    const std::string dir = KovTestTmp();
    if (std::system(("mkdir -p '" + dir + "'").c_str()) != 0)
        return {};
    const std::string inPath = dir + "/oracle_input.txt", scriptPath = dir + "/oracle.py";
    FILE* f = std::fopen(inPath.c_str(), "w");
    if (!f)
        return {};
    for (const auto& line : inputs)
        std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
    f = std::fopen(scriptPath.c_str(), "w");
    if (!f)
        return {};
    std::fputs(script.c_str(), f);
    std::fclose(f);
    FILE* p = popen(("python3 '" + scriptPath + "' '" + inPath + "'").c_str(), "r");
    if (!p)
        return {};
    std::vector<std::string> lines;
    std::string cur;
    for (int c; (c = std::fgetc(p)) != EOF;) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else {
            cur += static_cast<char>(c);
        }
    }
    pclose(p);
    return lines;
}

}  // namespace cryptotest

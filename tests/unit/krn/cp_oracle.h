// Runs a Python script as the oracle of a code page test: the script gets a
// file with the test's input as its argument and its standard output comes
// back as bytes.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "tests/unit/scratch_dir.h"

namespace cporacle {

inline std::string RunPython(const std::string& script, const std::string& input = std::string())
{
    const std::string dir = KovTestTmp();
    if (std::system(("mkdir -p '" + dir + "'").c_str()) != 0)
        return {};
    const std::string stem = dir + "/cporacle_" + std::to_string(getpid());
    const std::string scriptPath = stem + ".py", inputPath = stem + ".in";
    for (const auto& [path, text] : {std::pair{scriptPath, script}, std::pair{inputPath, input}}) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr)
            return {};
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    std::string out;
    FILE* p = popen(("python3 '" + scriptPath + "' '" + inputPath + "'").c_str(), "r");
    if (p == nullptr)
        return {};
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    pclose(p);
    std::remove(scriptPath.c_str());
    std::remove(inputPath.c_str());
    return out;
}

// A Python function emit(b) that writes one result for Parts: its length on
// a line of its own, then its bytes.
inline const char kEmit[] = "def emit(b):\n    sys.stdout.buffer.write(b'%d\\n' % len(b) + b)\n";

// The results a script wrote with emit, in order.
inline std::vector<std::string> Parts(const std::string& python)
{
    std::vector<std::string> parts;
    size_t at = 0;
    while (at < python.size()) {
        const size_t nl = python.find('\n', at);
        if (nl == std::string::npos)
            break;
        const size_t n = std::stoul(python.substr(at, nl - at));
        parts.push_back(python.substr(nl + 1, n));
        at = nl + 1 + n;
    }
    return parts;
}

// Runs a script body with sys imported and emit defined; the results it
// emitted, in order.
inline std::vector<std::string> EmittedByPython(const std::string& body, const std::string& input = std::string())
{
    return Parts(RunPython(std::string("import sys\n") + kEmit + body, input));
}

}  // namespace cporacle

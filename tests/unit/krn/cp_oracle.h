// Runs a Python script as the oracle of a code page test: the script gets a
// file with the test's input as its argument and its standard output comes
// back as bytes.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace cporacle {

inline std::string RunPython(const std::string& script, const std::string& input = std::string())
{
    const char* tmp = std::getenv("KOV_TEST_TMP");
    const std::string dir = tmp != nullptr ? tmp : "/tmp";
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

}  // namespace cporacle

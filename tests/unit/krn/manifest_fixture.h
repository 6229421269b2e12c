// Helpers of the manifest tests: owned contexts, packing files into a
// write-mode manifest and loading a text into a context for reading.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "krn/snt/manifest.h"

namespace smftest {

// A zero-filled context released at the end of the test.
struct Ctx {
    std::unique_ptr<ManifestContext> c{new ManifestContext()};
    ~Ctx() { ManifestClearContext(c.get()); }
    ManifestContext* operator->() const { return c.get(); }
    ManifestContext* get() const { return c.get(); }
};

using Files = std::vector<std::pair<std::string, std::string>>;  // name, content

inline std::string Text(ManifestContext* c)
{
    return std::string(c->contentStart, c->contentLength);
}

// Feeds each file in blocks of up to 7 bytes; returns the first failure.
inline int Pack(ManifestContext* c, const Files& files)
{
    for (const auto& [name, data] : files) {
        ManifestFile f{};
        int rc = ManifestOpenFile(c, &f, name.data(), name.size(), 0);
        if (rc != SMF_OK)
            return rc;
        for (std::size_t at = 0; at < data.size(); at += 7)
            ManifestUpdateFile(&f, data.data() + at, std::min<std::size_t>(7, data.size() - at));
        if (data.empty())
            ManifestUpdateFile(&f, nullptr, 0);
        rc = ManifestCloseFile(&f);
        if (rc != SMF_OK)
            return rc;
    }
    return SMF_OK;
}

// Digest check of one file against a read-mode context.
inline int Check(ManifestContext* c, const std::string& name, const std::string& data, int partial = 0)
{
    ManifestFile f{};
    int rc = ManifestOpenFile(c, &f, name.data(), name.size(), partial);
    if (rc != SMF_OK)
        return rc;
    ManifestUpdateFile(&f, data.data(), data.size());
    return ManifestCloseFile(&f);
}

// Puts the text into the context as a text handed in for reading and parses
// it; the text must outlive the context's use.
inline int Load(ManifestContext* c, std::string& text, uint32_t* state = nullptr)
{
    c->contentStart = text.data();
    c->contentLength = text.size();
    c->mode = SMF_MODE_READ;
    uint32_t s = SMF_PARSE_MAGIC;
    const int rc = ManifestParse(c, &s, 0);
    if (state != nullptr)
        *state = s;
    return rc;
}

inline const char* Header(const char* hash = "SHA256", const char* signature = "PKCS7-TSTAMP")
{
    static std::string h;
    h = std::string("KOV-MANIFEST\nVersion: 1.0\nHash: ") + hash + "\nSignature: " + signature +
        "\nBody: Digest | Name-Length | Name\n\n";
    return h.c_str();
}

// An entry line; the length field is the name's unless one is given.
inline std::string Line(const char* digest, const std::string& name, const char* length = nullptr)
{
    char field[24];
    std::snprintf(field, sizeof field, "%04zx", name.size());
    return std::string(digest) + " " + (length != nullptr ? length : field) + " " + name + "\n";
}

inline constexpr const char kSha256Abc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
inline constexpr const char kSha256Empty[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
inline constexpr const char kSha1Abc[] = "a9993e364706816aba3e25717850c26c9cd0d89d";

}  // namespace smftest

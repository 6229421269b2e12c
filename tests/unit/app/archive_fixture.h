// Shared helpers of the archive tests: a scratch directory, archives built
// byte by byte, the reference checksum, and a decoder of single compressed
// blocks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/application.h"
#include "app/archivefile.h"
#include "app/compressstrategy.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/koxformat.h"
#include "app/logman.h"
#include "app/options.h"
#include "cslib/cslib.h"

using Bytes = std::string;

inline uint32_t RefCrc(const Bytes& data, uint32_t crc = 0)
{
    for (unsigned char b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

inline Bytes U16(uint16_t v)
{
    return Bytes{char(v), char(v >> 8)};
}
inline Bytes U32(uint32_t v)
{
    return U16(uint16_t(v)) + U16(uint16_t(v >> 16));
}
inline Bytes U64(uint64_t v)
{
    return U32(uint32_t(v)) + U32(uint32_t(v >> 32));
}

inline Bytes ArchiveHeader(const char* version = "2.01")
{
    return Bytes("ZEF ") + version;
}

// An entry header with its name (NUL added) and user information.
inline Bytes Entry(const char* type, uint32_t mode, uint64_t size, const Bytes& name, const Bytes& userInfo = Bytes(),
                   uint64_t mtime = 1700000000, uint32_t sizeHigh = 0)
{
    Bytes h(type, 2);
    h += U32(mode) + U64(size) + U32(sizeHigh) + U64(mtime) + U32(0);
    h += U16(uint16_t(userInfo.size())) + U16(uint16_t(name.size() + 1));
    return h + name + Bytes(1, '\0') + userInfo;
}

// A data block; the last ones ("ED", "UE") carry the checksum.
inline Bytes Block(const char* type, const Bytes& data, uint32_t checksum = 0)
{
    Bytes b = Bytes(type, 2) + U32(uint32_t(data.size())) + data;
    if (type[0] == 'E' || (type[0] == 'U' && type[1] == 'E'))
        b += U32(checksum);
    return b;
}

// One compressed stream decoded by the compression library; true when the
// stream ends exactly and decodes to the length its header announces.
inline bool OracleInflate(const Bytes& stream, Bytes& out)
{
    if (stream.size() < 8)
        return false;
    const uint32_t length = KoxGetU32(reinterpret_cast<const uint8_t*>(stream.data()));
    std::vector<uint8_t> buffer(length + 1);
    int32_t read = 0, written = 0;
    const int rc = CsDecomprUntraced(reinterpret_cast<const uint8_t*>(stream.data()), int32_t(stream.size()),
                                     buffer.data(), int32_t(buffer.size()), 1, &read, &written);
    out.assign(reinterpret_cast<char*>(buffer.data()), size_t(written));
    return rc == CS_END_OF_STREAM && out.size() == length;
}

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/kov_arc_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ASSERT_EQ(chdir(tmpl), 0);
        log = new CAPILogMan;
        CApplication::Instance().SetLogMan(log);
        CApplication::Instance().SetExitStatus(0);
        g_abandonArchive = false;
        COptions& o = COptions::Instance();
        saved = {o.resolveLinks, o.lowerCase, o.flat, o.verbose, o.ignoreInaccessible};
        savedCommand = o.commandCode;
        savedExtractDir = o.extractDir;
        o.ignoreInaccessible = true;  // keep writing after a reported file
    }
    void TearDown() override
    {
        COptions& o = COptions::Instance();
        o.resolveLinks = saved[0];
        o.lowerCase = saved[1];
        o.flat = saved[2];
        o.verbose = saved[3];
        o.ignoreInaccessible = saved[4];
        o.commandCode = savedCommand;
        o.extractDir = savedExtractDir;
        EXPECT_EQ(chdir("/"), 0);
        std::system(("rm -rf '" + dir + "'").c_str());
    }

    std::string Path(const std::string& name) const { return dir + "/" + name; }
    void Put(const std::string& path, const Bytes& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    Bytes Get(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    // Writes bytes as an archive file and returns its path.
    std::string Archive(const Bytes& bytes, const char* name = "t.kox")
    {
        Put(Path(name), bytes);
        return Path(name);
    }

    std::string dir;
    CAPILogMan* log = nullptr;
    std::vector<bool> saved;
    int32_t savedCommand = 0;
    const char* savedExtractDir = nullptr;
};

// Base64 and hex coders: the RFC 4648 vectors, line breaking, a sweep of
// random inputs against Python's base64 module with round trips, the decoder
// rules, and output that would not fit (nothing written).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/coding.h"
#include "tests/unit/crypto/crypto_test_util.h"

namespace {

std::string Encode(const std::string& in, uint32_t mode, size_t lineLen = 0, const char* sep = nullptr)
{
    std::string out(coBase64EncodedLength(in.size(), lineLen, sep ? std::strlen(sep) : 0), '\0');
    size_t n = 99;
    const int rc = mode <= 4 ? coBase64Encode(in.data(), in.size(), mode, lineLen, sep, out.data(), out.size(), &n)
                             : coBase64Encode56(in.data(), in.size(), mode, lineLen, sep, out.data(), out.size(), &n);
    EXPECT_EQ(rc, CO_OK);
    EXPECT_EQ(n, out.size());
    return out;
}

struct Decoded {
    int rc;
    std::string out;
    size_t end;
};

Decoded Decode(const std::string& in, uint32_t mode, uint32_t flags, size_t cap = 1000)
{
    std::string out(cap, '\0');
    size_t n = 99;
    const char* end = nullptr;
    int rc;
    if (mode <= 4)
        rc = coBase64Decode(in.data(), in.size(), mode, flags, out.data(), cap, &n, &end);
    else if (mode <= 6)
        rc = coBase64Decode56(in.data(), in.size(), mode, flags, out.data(), cap, &n, &end);
    else if (mode <= 8)
        rc = coHexDecode(in.data(), in.size(), mode, flags, out.data(), cap, &n, &end);
    else
        rc = coHexDecode9(in.data(), in.size(), mode, flags, out.data(), cap, &n, &end);
    out.resize(n);
    return {rc, out, static_cast<size_t>(end - in.data())};
}

TEST(Coding, VectorsAndLineBreaks)
{
    const char* rfc[][2] = {{"", ""},
                            {"f", "Zg=="},
                            {"fo", "Zm8="},
                            {"foo", "Zm9v"},
                            {"foob", "Zm9vYg=="},
                            {"fooba", "Zm9vYmE="},
                            {"foobar", "Zm9vYmFy"}};
    for (auto& v : rfc) {
        EXPECT_EQ(Encode(v[0], 1), v[1]);
        EXPECT_EQ(Encode(v[0], 5), v[1]);
        const Decoded d = Decode(v[1], 3, 0);
        EXPECT_EQ(d.rc, CO_OK);
        EXPECT_EQ(d.out, v[0]);
        EXPECT_EQ(d.end, std::strlen(v[1]));
    }
    EXPECT_EQ(Encode("abc", 3), "YWJj");
    EXPECT_EQ(Encode("\xfb", 1), "+w==");
    EXPECT_EQ(Encode("\xfb", 2), "-w==");
    EXPECT_EQ(Encode("\xfb", 6), "-w==");
    EXPECT_EQ(Decode("-w==", 4, 0).out, "\xfb");
    EXPECT_EQ(Decode("+w==", 4, 0).rc, CO_EINVALID);
    EXPECT_EQ(Decode("666F6f626172", 7, 0).out, "foobar");
    EXPECT_EQ(Decode("666F6f626172", 9, 0).out, "foobar");

    // 48 bytes make one line of 64 and its separator; 49 bytes a second line.
    const std::string a48(48, 'x'), a49(49, 'x');
    const std::string one = Encode(a48, 3, 64, "\n"), two = Encode(a49, 3, 64, "\n");
    EXPECT_EQ(one.size(), 65u);
    EXPECT_EQ(one.back(), '\n');
    EXPECT_EQ(two.size(), 70u);
    EXPECT_EQ(two.substr(64), "\neA==\n");
    // A line length that is not a multiple of 4 gives lines of the next one.
    EXPECT_EQ(Encode("abcdefgh", 1, 6, "\r\n"), "YWJjZGVm\r\nZ2g=\r\n");
    EXPECT_EQ(Encode("", 1, 64, "\n"), "");

    // Each entry takes only its own modes.
    char out[8];
    size_t n = 5;
    EXPECT_EQ(coBase64Encode("a", 1, 5, 0, nullptr, out, 8, &n), CO_EMODE);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(coBase64Encode56("a", 1, 1, 0, nullptr, out, 8, &n), CO_EMODE);
    EXPECT_EQ(Decode("YQ==", 5, 0).rc, CO_OK);
    EXPECT_EQ(coBase64Decode("YQ==", 4, 0, 0, out, 8, &n, nullptr), CO_EMODE);
    EXPECT_EQ(coBase64Decode56("YQ==", 4, 3, 0, out, 8, &n, nullptr), CO_EMODE);
    EXPECT_EQ(coHexDecode("41", 2, 9, 0, out, 8, &n, nullptr), CO_EMODE);
    EXPECT_EQ(coHexDecode9("41", 2, 7, 0, out, 8, &n, nullptr), CO_EMODE);

    // NULL input: fine when empty, else -1; a line length needs a separator.
    EXPECT_EQ(coBase64Encode(nullptr, 0, 1, 0, nullptr, nullptr, 0, &n), CO_OK);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(coBase64Encode(nullptr, 1, 1, 0, nullptr, out, 8, &n), CO_ENULL);
    EXPECT_EQ(coBase64Encode("a", 1, 1, 64, nullptr, out, 8, &n), CO_ENULL);
    EXPECT_EQ(coBase64Decode(nullptr, 1, 1, 0, out, 8, &n, nullptr), CO_ENULL);
}

TEST(Coding, DecoderRules)
{
    EXPECT_EQ(Decode("YWJj\n", 3, CO_SKIP_INVALID).out, "abc");
    EXPECT_EQ(Decode("YWJj\n", 3, 0).rc, CO_EINVALID);
    EXPECT_EQ(Decode("YW Jj", 3, CO_SKIP_SPACE).out, "abc");
    EXPECT_EQ(Decode("YW Jj", 3, 2).rc, CO_EINVALID);  // bit 1 alone skips nothing
    EXPECT_EQ(Decode("YW*Jj", 3, CO_SKIP_SPACE).rc, CO_EINVALID);
    EXPECT_EQ(Decode("YW*Jj", 3, CO_SKIP_INVALID).out, "abc");
    EXPECT_EQ(Decode("YWJ", 3, 0).rc, CO_EINCOMPLETE);
    EXPECT_EQ(Decode("YQ=", 3, 0).rc, CO_EINCOMPLETE);
    EXPECT_EQ(Decode("YQ=a", 3, 0).rc, CO_EINCOMPLETE);
    EXPECT_EQ(Decode("YQ==", 3, 0).out, "a");
    EXPECT_EQ(Decode("YWI=", 3, 0).out, "ab");
    // A lone symbol before "=" holds no whole byte: refused, not dropped.
    EXPECT_EQ(Decode("Y=", 3, 0).rc, CO_EINCOMPLETE);
    EXPECT_EQ(Decode("YWJjY===", 3, 0).rc, CO_EINCOMPLETE);
    // Data after the padding: an error unless whitespace is skipped, when the
    // rest is left unread and the end position says so.
    const Decoded tail = Decode("YQ==YWJj", 3, 0);
    EXPECT_EQ(tail.rc, CO_EINVALID);
    const Decoded skipped = Decode("YQ==\nYWJj", 3, CO_SKIP_SPACE);
    EXPECT_EQ(skipped.rc, CO_OK);
    EXPECT_EQ(skipped.out, "a");
    EXPECT_EQ(skipped.end, 4u);
    // After a failure the end position is behind the last complete group.
    const Decoded bad = Decode("YWJjYWJjYW*j", 3, 0);
    EXPECT_EQ(bad.rc, CO_EINVALID);
    EXPECT_EQ(bad.end, 8u);
    EXPECT_TRUE(bad.out.empty());

    EXPECT_EQ(Decode("4A4", 7, 0).rc, CO_EINCOMPLETE);
    EXPECT_EQ(Decode("4a 4B", 8, CO_SKIP_SPACE).out, "\x4a\x4b");
    EXPECT_EQ(Decode("4a=4B", 8, CO_SKIP_SPACE).rc, CO_EINVALID);  // "=" is not padding in hex
    const Decoded hexBad = Decode("4a4b4g", 7, 0);
    EXPECT_EQ(hexBad.rc, CO_EINVALID);
    EXPECT_EQ(hexBad.end, 4u);
}

// Output that would not fit is refused before anything is written.
TEST(Coding, TooSmallOutputIsLeftUntouched)
{
    const std::string text = "YWJjZGVmZ2g=";  // 8 bytes
    for (uint32_t mode : {3u, 7u}) {
        const std::string in = mode == 3 ? text : "6162636465666768";
        for (size_t cap = 0; cap < 8; ++cap) {
            std::string out(16, '\xee');
            size_t n = 99;
            const char* end = nullptr;
            const int rc = mode == 3 ? coBase64Decode(in.data(), in.size(), mode, 0, out.data(), cap, &n, &end)
                                     : coHexDecode(in.data(), in.size(), mode, 0, out.data(), cap, &n, &end);
            EXPECT_EQ(rc, CO_ESPACE);
            EXPECT_EQ(n, 0u);
            EXPECT_EQ(out, std::string(16, '\xee')) << "mode " << mode << " capacity " << cap;
        }
        EXPECT_EQ(Decode(in, mode, 0, 8).out, "abcdefgh");
    }
    std::mt19937 gen(9);
    for (int i = 0; i < 200; ++i) {
        const std::string data = cryptotest::RandomBytes(gen, gen() % 100);
        const size_t line = gen() % 3 == 0 ? 0 : 1 + gen() % 80;
        const char* sep = gen() % 2 ? "\r\n" : "|";
        const size_t needed = coBase64EncodedLength(data.size(), line, std::strlen(sep));
        std::string out(needed + 4, '\xee');
        size_t n = 0;
        if (needed > 0) {
            ASSERT_EQ(coBase64Encode(data.data(), data.size(), 1, line, sep, out.data(), needed - 1, &n), CO_ESPACE);
            ASSERT_EQ(out, std::string(needed + 4, '\xee'));
        }
        ASSERT_EQ(coBase64Encode(data.data(), data.size(), 1, line, sep, out.data(), needed, &n), CO_OK);
        ASSERT_EQ(n, needed);
        ASSERT_EQ(out.substr(needed), "\xee\xee\xee\xee");
        const Decoded back = Decode(out.substr(0, n), 1, CO_SKIP_INVALID, data.size());
        ASSERT_EQ(back.rc, CO_OK);
        ASSERT_EQ(back.out, data);
    }
}

// Every length from 0 to 300 against Python: standard and URL-safe alphabets,
// 64-character lines, upper-case hex; and each text decoded back.
TEST(Coding, RandomInputsMatchPython)
{
    std::mt19937 gen(77);
    std::vector<std::string> data, inputs;
    for (size_t n = 0; n <= 300; ++n) {
        data.push_back(cryptotest::RandomBytes(gen, n));
        inputs.push_back(cryptotest::Hex(data.back().data(), n));
    }
    const auto lines = cryptotest::PythonLines(
        "import sys,base64\n"
        "for line in open(sys.argv[1]):\n"
        "  m=bytes.fromhex(line.strip())\n"
        "  s=base64.b64encode(m).decode()\n"
        "  wrapped=''.join(s[i:i+64]+'|' for i in range(0,len(s),64))\n"
        "  print(s, base64.urlsafe_b64encode(m).decode(), wrapped, base64.b16encode(m).decode(), sep=',')\n",
        inputs);
    ASSERT_EQ(lines.size(), data.size()) << "python3 is needed";
    for (size_t i = 0; i < data.size(); ++i) {
        const std::string got = Encode(data[i], 1) + "," + Encode(data[i], 2) + "," + Encode(data[i], 3, 64, "|") +
                                "," + cryptotest::Hex(data[i].data(), data[i].size());
        std::string expect = lines[i];
        for (size_t k = expect.rfind(',') + 1; k < expect.size(); ++k)
            expect[k] = static_cast<char>(std::tolower(expect[k]));
        ASSERT_EQ(got, expect) << "length " << i;
        const std::string upperHex = lines[i].substr(lines[i].rfind(',') + 1);
        ASSERT_EQ(Decode(Encode(data[i], 6), 6, 0, i).out, data[i]);
        ASSERT_EQ(Decode(Encode(data[i], 3, 64, "\n"), 3, CO_SKIP_SPACE, i).out, data[i]);
        ASSERT_EQ(Decode(upperHex, 7, 0, i).out, data[i]);
    }
}

}  // namespace

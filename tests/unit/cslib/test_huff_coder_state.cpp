// The coder's tables are reused from stream to stream and only partly reset:
// the hash heads are cleared, the chain links and symbol buffers are not.
// These tests make sure nothing left in a work area reaches the output, and
// pin the output where hash chains are long and cross window slides.
#include "cslib/crc32.h"
#include "cslib/csheader.h"
#include "huff_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

#include <sys/wait.h>
#include <unistd.h>

using namespace hufftest;

namespace {

// Periodic text with sparse noise: most positions share their hash with many
// others, so chains stay long and end by the chain limit or the distance.
Bytes PeriodicBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    static const char pattern[] = "struct a_b { int x; };\n";
    Bytes v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(pattern[i % (sizeof pattern - 1)]);
    for (size_t i = 0; i < n; i += 1 + gen() % 97)
        v[i] = static_cast<uint8_t>('a' + gen() % 26);
    return v;
}

WorkArea GarbageArea(uint8_t fill)
{
    WorkArea a = NewCompressArea();
    std::memset(a.get(), fill, CsHuffComprStateSize());
    return a;
}

}  // namespace

// A stream compressed on a work area that held other streams (of every
// size, and of another level) equals the same stream on a fresh area, whatever
// that area held before.
TEST(HuffCoderState, ReusedAreaGivesTheOutputOfAFreshOne)
{
    const Bytes inputs[] = {
        PeriodicBytes(120000, 3), TextBytes(70000, 4), Bytes(50000, 0),       BinaryBytes(90000, 5),    TextBytes(1, 6),
        TextBytes(3, 7),          TextBytes(300, 8),   RandomBytes(40000, 9), PeriodicBytes(33000, 10), Bytes(),
    };
    auto shared = GarbageArea(0xA5);
    for (int level = 1; level <= 9; ++level) {
        for (size_t i = 0; i < std::size(inputs); ++i) {
            const Bytes& in = inputs[i];
            const Result used = Compress(shared.get(), in, level);
            auto fresh = GarbageArea(static_cast<uint8_t>(0x11 * i));
            const Result clean = Compress(fresh.get(), in, level);
            ASSERT_EQ(used.rc, CS_END_OF_STREAM);
            ASSERT_EQ(used.data, clean.data) << "level " << level << " input " << i;
            auto d = NewDecompressArea();
            const Result back = Decompress(d.get(), used.data);
            ASSERT_EQ(back.rc, CS_END_OF_STREAM) << "level " << level << " input " << i;
            ASSERT_EQ(back.data, in) << "level " << level << " input " << i;
        }
    }
}

// CRC-32 of the deterministic output of each level on data whose chains are
// long (up to the 4096 candidates of level 9) and span several window slides.
TEST(HuffCoderState, LongChainOutputIsPinned)
{
    static const uint32_t kPinned[9] = {0x0E1F669EU, 0xC1FD7365U, 0x9FDAAA99U, 0x3558DFC7U, 0x0FF9F747U,
                                        0x482C7E91U, 0x4E1553D1U, 0x8819D023U, 0x79DEC7C0U};
    auto c = NewCompressArea();
    const Bytes data = PeriodicBytes(150000, 7);
    for (int level = 1; level <= 9; ++level) {
        const Bytes z = Compress(c.get(), data, level).data;
        EXPECT_EQ(~CsCrc32Update(0xFFFFFFFFu, z.data(), z.size()), kPinned[level - 1]) << "level " << level;
    }
}

namespace {

// Records of 48 bytes that copy one of a few patterns up to a byte between
// 28 and 36 and differ after it, with every eighth one a whole copy: many
// candidates agree with each other for about 32 bytes and then part.
Bytes RecordBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    Bytes patterns[4];
    for (Bytes& p : patterns)
        p = RandomBytes(48, static_cast<unsigned>(gen()));
    Bytes v;
    while (v.size() < n) {
        Bytes r = patterns[gen() % 4];
        if (gen() % 8 != 0)
            for (size_t i = 28 + gen() % 9; i < r.size(); ++i)
                r[i] = static_cast<uint8_t>(gen());
        v.insert(v.end(), r.begin(), r.end());
    }
    v.resize(n);
    return v;
}

}  // namespace

// CRC-32 of the deterministic output of each level over such records, as one
// long stream and as streams ending at every length from 4000 to 4040, so
// that the last positions of a stream meet every short lookahead.
TEST(HuffCoderState, RecordOutputIsPinnedAtEveryEnd)
{
    static const uint32_t kPinned[9] = {0x4CCEEF40U, 0xAB855F15U, 0x95B5E20CU, 0x005F8549U, 0x69775CC7U,
                                        0xFCA4EFD6U, 0x336C801CU, 0x91E9EB94U, 0x1C29D140U};
    auto c = NewCompressArea();
    const Bytes data = RecordBytes(100000, 11);
    for (int level = 1; level <= 9; ++level) {
        const Bytes whole = Compress(c.get(), data, level).data;
        uint32_t crc = CsCrc32Update(0xFFFFFFFFu, whole.data(), whole.size());
        for (size_t n = 4000; n <= 4040; ++n) {
            const Bytes z =
                Compress(c.get(), Bytes(data.begin(), data.begin() + static_cast<ptrdiff_t>(n)), level).data;
            crc = CsCrc32Update(crc, z.data(), z.size());
        }
        EXPECT_EQ(~crc, kPinned[level - 1]) << "level " << level;
    }
}

namespace {

// Runs make in a child process and returns what it made: every child starts
// from the parent's preamble generator, so two children draw the same
// preambles for their streams.
Bytes MadeInChild(Bytes (*make)())
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const Bytes made = make();
        size_t done = 0;
        while (done < made.size()) {
            const ssize_t n = write(fds[1], made.data() + done, made.size() - done);
            if (n <= 0)
                _exit(1);
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    Bytes got;
    uint8_t buf[65536];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        got.insert(got.end(), buf, buf + n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? got : Bytes();
}

// All-zero streams of several lengths and levels with random preambles,
// each given to the coder whole (in one piece) or in pieces of 5000 bytes;
// each stream behind its 4-byte size.
Bytes ZeroStreams(size_t piece)
{
    Bytes all;
    auto area = NewCompressArea();
    for (int round = 0; round < 3; ++round)
        for (size_t length : {4096, 4097, 65536, 65535, 300000})
            for (int level : {2, 1, 9}) {
                const Result r = Compress(area.get(), Bytes(length, 0), level, false, piece);
                if (r.rc != CS_END_OF_STREAM)
                    return {};
                const uint32_t size = static_cast<uint32_t>(r.data.size());
                all.insert(all.end(), reinterpret_cast<const uint8_t*>(&size),
                           reinterpret_cast<const uint8_t*>(&size) + 4);
                all.insert(all.end(), r.data.begin(), r.data.end());
            }
    return all;
}

}  // namespace

// A whole all-zero stream takes a shortcut past the matcher; it must come
// out exactly as the matcher writes it, whatever preamble the stream draws
// (the pieces keep the matcher on its usual path).
TEST(HuffCoderState, AllZeroStreamsComeOutAsTheMatcherWritesThem)
{
    const Bytes whole = MadeInChild([] { return ZeroStreams(size_t{1} << 30); });
    const Bytes pieces = MadeInChild([] { return ZeroStreams(5000); });
    ASSERT_FALSE(pieces.empty());
    ASSERT_EQ(whole, pieces);
    // Each stream decodes to its zeros; the preambles drawn vary.
    auto d = NewDecompressArea();
    bool counts[4] = {};
    for (size_t at = 0; at + 4 <= whole.size();) {
        uint32_t size;
        std::memcpy(&size, whole.data() + at, 4);
        const Bytes stream(whole.begin() + static_cast<long>(at + 4), whole.begin() + static_cast<long>(at + 4 + size));
        at += 4 + size;
        counts[stream[8] & 3] = true;
        const Result back = Decompress(d.get(), stream);
        ASSERT_EQ(back.rc, CS_END_OF_STREAM);
        ASSERT_EQ(back.data, Bytes(static_cast<size_t>(CsHeaderLength(stream.data())), 0));
    }
    EXPECT_EQ(counts[0] + counts[1] + counts[2] + counts[3], 4);
}

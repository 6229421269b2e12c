// The judgement of an undo record over every state a run, or a put-back of
// it, can leave its archive in -- killed after any step, or cut short by a
// power loss that kept any sectors of a write it had not synced -- each in
// the run's own file and as a copy put at the name on another inode: each
// ends as the old archive or, once all the run wrote is there, as the new
// one, and the record goes only then.  Files that are none of these (other
// archives, backups, copies changed before the run's first write) are left
// as they are.  Records of the earlier layout (no spread checksum) are
// judged so too, but for the bytes only the spread checksum covers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/logman.h"
#include "app/undorecord.h"
#include "tests/unit/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kSector = 512;

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Random(std::mt19937& rnd, size_t n)
{
    std::string bytes(n, '\0');
    for (char& c : bytes)
        c = static_cast<char>(1 + rnd() % 255);  // no zero byte: zeros tell of a run
    return bytes;
}

// base with bytes written at offset, as pwrite would (a gap reads as zeros).
std::string Overlay(std::string base, size_t offset, const std::string& bytes)
{
    if (base.size() < offset + bytes.size())
        base.resize(offset + bytes.size(), '\0');
    base.replace(offset, bytes.size(), bytes);
    return base;
}

std::string Resized(std::string bytes, size_t n)
{
    bytes.resize(n, '\0');
    return bytes;
}

// The sectors of the file from offset on (split where the file's sectors
// are) taken from one or the other of two runs of bytes, as mask says: what
// a power loss keeps of a write of b over a.
std::string Mixed(const std::string& a, const std::string& b, size_t offset, unsigned mask)
{
    std::string out = a;
    unsigned sector = 0;
    for (size_t from = 0; from < a.size(); ++sector) {
        const size_t to = std::min(a.size(), from + kSector - (offset + from) % kSector);
        if ((mask >> sector) & 1u)
            out.replace(from, to - from, b, from, to - from);
        from = to;
    }
    return out;
}

unsigned SectorsOf(size_t offset, size_t n)
{
    return n == 0 ? 0 : static_cast<unsigned>((offset + n - 1) / kSector - offset / kSector + 1);
}

// Which sectors of n a power loss kept, short of none and all: each one
// alone, all but each one, every other one, and those up to or from each.
std::vector<unsigned> KeptSectors(unsigned n)
{
    const unsigned all = (1u << n) - 1;
    std::vector<unsigned> masks = {0x55555555u & all, 0xAAAAAAAAu & all};
    for (unsigned i = 0; i < n; ++i)
        for (unsigned mask : {1u << i, all & ~(1u << i), (1u << i) - 1, all & ~((1u << i) - 1)})
            masks.push_back(mask);
    std::erase_if(masks, [all](unsigned mask) { return mask == 0 || mask == all; });
    return masks;
}

enum class Ends { kOld, kNew, kLeft };

struct State {
    std::string label;
    std::string bytes;
    Ends ends;
};

// A run of one kind: old archive of O bytes, first write at W, the archive
// it leaves once whole.
struct WritingRun {
    const char* kind;
    std::string old;
    size_t writeAt;
    std::string whole;
    size_t First() const { return std::min(CUndoRecord::kFirstBytes, whole.size() - writeAt); }
};

// spread: the record holds the checksum of the pieces between the head and
// the window, which alone tells bytes changed there.
std::vector<State> StatesOf(const WritingRun& run, bool spread, std::mt19937& rnd)
{
    const std::string& a = run.old;
    const size_t w = run.writeAt, o = a.size(), f = run.First();
    const std::string& n = run.whole;
    const std::string first = n.substr(w, f), zeros(f, '\0');
    const std::string tail = a.substr(w), rest = n.substr(w + f);
    std::vector<State> states;
    const auto add = [&states](std::string label, std::string bytes, Ends ends) {
        states.push_back({std::move(label), std::move(bytes), ends});
    };

    // The run: zeros where its first bytes go (synced before the rest when
    // they lie inside the old length), its other bytes as far as they got,
    // its first bytes last.
    add("nothing written", a, Ends::kOld);
    const std::string zeroed = Overlay(a, w, zeros);
    add("zeros written", zeroed, Ends::kOld);
    for (size_t k : {kSector, rest.size() / 2, rest.size()})
        add("zeros and " + std::to_string(k) + " more bytes", Overlay(zeroed, w + f, rest.substr(0, k)), Ends::kOld);
    const std::string allButFirst = Resized(Overlay(zeroed, w + f, rest), n.size());
    add("all but its first bytes, cut to its length", allButFirst, Ends::kOld);
    // Behind the old end, sectors a power loss dropped read as zeros.
    if (w == o) {
        std::string dropped = allButFirst;
        for (size_t at = (w + f) / kSector * kSector + kSector; at < dropped.size(); at += 2 * kSector)
            dropped.replace(at, std::min(kSector, dropped.size() - at), std::min(kSector, dropped.size() - at), '\0');
        add("appended sectors dropped", dropped, Ends::kOld);
    }
    // Sectors of the first bytes, or of zeros over them, that a power loss
    // kept or dropped: while the run put them in, or a put-back put zeros
    // back over them.
    const unsigned sectors = SectorsOf(w, f);
    for (unsigned mask : KeptSectors(sectors))
        add("first bytes' sectors " + std::to_string(mask), Overlay(n, w, Mixed(zeros, first, w, mask)), Ends::kOld);
    add("whole", n, Ends::kNew);

    // The put-back: zeros over the first bytes, the cut, the old bytes.
    const std::string cut = Resized(Overlay(n, w, zeros), o);
    add("put back: cut", cut, Ends::kOld);
    if (!tail.empty()) {
        const std::string oldFirst = tail.substr(0, std::min(f, tail.size()));
        for (unsigned mask : KeptSectors(SectorsOf(w, oldFirst.size())))
            add("put back: old sectors " + std::to_string(mask),
                Overlay(cut, w, Mixed(zeros.substr(0, oldFirst.size()), oldFirst, w, mask)), Ends::kOld);
        for (size_t k : {oldFirst.size(), tail.size() / 2 + 1})
            add("put back: " + std::to_string(k) + " old bytes", Overlay(cut, w, tail.substr(0, k)), Ends::kOld);
    }

    // Files that hold nothing of the run's: another archive, the old one
    // cut short or with more behind its end (a backup), other bytes at the
    // write offset, a sector there with zeros and the run's bytes mixed in
    // it, the bytes before the offset changed (head, spread pieces, window).
    add("another archive", Random(rnd, o + 5000), Ends::kLeft);
    add("shorter than the write offset", a.substr(0, w - 1), Ends::kLeft);
    add("a backup with more behind", a + Random(rnd, 6000), Ends::kLeft);
    if (w < o)
        add("the old archive and zeros behind", a + std::string(700, '\0'), Ends::kLeft);
    add("other bytes at the offset", Overlay(allButFirst, w, Random(rnd, f)), Ends::kLeft);
    std::string halfZeroed = first;
    std::fill(halfZeroed.begin() + 8, halfZeroed.begin() + 40, '\0');
    add("zeros and first bytes in one sector", Overlay(n, w, halfZeroed), Ends::kLeft);
    std::vector<size_t> changedAt = {10, w - 10};
    if (spread)
        changedAt.push_back(64 * 1024 + 10);
    for (size_t at : changedAt)
        add("changed at " + std::to_string(at), Overlay(zeroed, at, "x"), Ends::kLeft);
    return states;
}

class UndoRecordStates : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::path(KovTestTmp()) / "undo-states";
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_archive = m_dir / "a.kox";
        m_record = m_dir / ".a.kox.undo";
    }
    void TearDown() override
    {
        CApplication::Destroy();
        fs::remove_all(m_dir);
    }

    void Place(const std::string& bytes, bool newInode)
    {
        const fs::path to = newInode ? m_dir / "copy" : m_archive;
        const int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
        if (newInode)
            fs::rename(to, m_archive);
    }

    // The record of a run of kind run killed right after it was written,
    // made by a process that is gone.
    std::string RecordOf(const WritingRun& run)
    {
        Place(run.old, true);
        const pid_t child = fork();
        if (child == 0) {
            const int lockFd = open(m_archive.c_str(), O_RDONLY | O_CLOEXEC);
            CUndoRecord record;
            record.Begin(lockFd, AT_FDCWD, m_archive.string(), "a.kox", run.old.size());
            if (run.writeAt < run.old.size())
                record.KeepTail(run.writeAt, run.old.substr(run.writeAt));
            _exit(record.BeforeFirstWrite(run.whole.data() + run.writeAt, run.First()) ? 0 : 1);
        }
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        return Slurp(m_record);
    }

    fs::path m_dir, m_archive, m_record;
};

TEST_F(UndoRecordStates, EveryStateARunOrItsPutBackLeavesEndsOldOrWholeAndOnlyThenTheRecordGoes)
{
    std::mt19937 rnd(20240611);
    const std::string old = Random(rnd, 200000);
    // An append; signing runs whose new manifest is longer or shorter than
    // the old one, and old bytes shorter or longer than the first bytes.
    const std::vector<WritingRun> runs = {
        {"append", old, old.size(), old + Random(rnd, 9000)},
        {"signing, short old tail", old, old.size() - 3000, old.substr(0, old.size() - 3000) + Random(rnd, 9000)},
        {"signing, shorter", old, old.size() - 10000, old.substr(0, old.size() - 10000) + Random(rnd, 2500)},
        {"signing, long old tail", old, old.size() - 10000, old.substr(0, old.size() - 10000) + Random(rnd, 20000)},
    };
    size_t judged = 0;
    for (const WritingRun& run : runs) {
        for (unsigned version : {kUndoRecordVersion, 2u}) {
            std::string record = RecordOf(run);
            ASSERT_FALSE(record.empty()) << run.kind;
            if (version != kUndoRecordVersion) {
                // The same record as the releases before the spread checksum wrote it.
                UndoRecordFields fields;
                ASSERT_TRUE(DecodeUndoRecord(record, fields));
                fields.version = version;
                record = EncodeUndoRecord(fields);
                ASSERT_TRUE(record.starts_with("KOVUNDO2"));
            }
            for (const State& state : StatesOf(run, UndoRecordHoldsSpread(version), rnd)) {
                for (bool newInode : {false, true}) {
                    const std::string note = std::string(run.kind) + ", version " + std::to_string(version) + ": " +
                                             state.label + (newInode ? ", a copy" : "");
                    Place(state.bytes, newInode);
                    {
                        std::ofstream(m_record, std::ios::binary | std::ios::trunc) << record;
                    }
                    fs::permissions(m_record, fs::perms::owner_read | fs::perms::owner_write);
                    auto* log = new CAPILogMan();
                    CApplication::Instance().SetLogMan(log);
                    const int lockFd = open(m_archive.c_str(), O_RDONLY | O_CLOEXEC);
                    ASSERT_GE(lockFd, 0);
                    CUndoRecord::Restored restored = CUndoRecord::Restored::kNothing;
                    EXPECT_NO_THROW(
                        restored = CUndoRecord::PutBackKilledRun(lockFd, AT_FDCWD, m_archive.string(), "a.kox", *log))
                        << note;
                    close(lockFd);
                    const std::string now = Slurp(m_archive);
                    switch (state.ends) {
                    case Ends::kOld:
                        EXPECT_EQ(restored, CUndoRecord::Restored::kPutBack) << note << "\n" << log->Collected();
                        EXPECT_TRUE(now == run.old) << note;
                        break;
                    case Ends::kNew:
                        EXPECT_EQ(restored, CUndoRecord::Restored::kKept) << note;
                        EXPECT_TRUE(now == run.whole) << note;
                        break;
                    case Ends::kLeft:
                        EXPECT_EQ(restored, CUndoRecord::Restored::kDropped) << note << "\n" << log->Collected();
                        EXPECT_TRUE(now == state.bytes) << note;
                        break;
                    }
                    EXPECT_FALSE(fs::exists(m_record)) << note;
                    ++judged;
                }
            }
        }
    }
    EXPECT_GT(judged, 1000u);
}

}  // namespace

// The undo record of a run that writes into an archive: the record a killed
// run left puts the archive back, bytes written over included, and no
// damaged record, record of a running process or record of bytes the run
// did not leave is ever used.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "app/application.h"
#include "app/except.h"
#include "app/logman.h"
#include "app/undorecord.h"
#include "tests/unit/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Put(const fs::path& p, const std::string& bytes)
{
    fs::remove(p);
    std::ofstream(p, std::ios::binary) << bytes;
    fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write);
}

class UndoRecordTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::path(KovTestTmp()) /
                ("undo-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_archive = m_dir / "a.kox";
        for (int i = 0; i < 3000; ++i)
            m_original += static_cast<char>('a' + i % 23);
        Put(m_archive, m_original);
        m_lockFd = open(m_archive.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(m_lockFd, 0);
        m_log = new CAPILogMan();
        CApplication::Instance().SetLogMan(m_log);
    }
    void TearDown() override
    {
        close(m_lockFd);
        CApplication::Destroy();
        fs::remove_all(m_dir);
    }

    // As a signing run does: records the archive, keeps the bytes from 2000
    // on, writes zeros where its first bytes go and its other bytes over
    // the rest and far behind the old end, and is killed before it writes
    // its first bytes.
    void KilledRun()
    {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CUndoRecord record;
            record.Begin(m_lockFd, AT_FDCWD, m_archive.string(), "a.kox", m_original.size());
            record.KeepTail(2000, m_original.substr(2000));
            const int out = open(m_archive.c_str(), O_WRONLY);
            const std::string junk(9000, 'Z');
            const std::string zeros(CUndoRecord::kFirstBytes, '\0');
            const size_t rest = junk.size() - zeros.size();
            const bool wrote = record.BeforeFirstWrite(junk.data(), zeros.size()) && out >= 0 &&
                               pwrite(out, zeros.data(), zeros.size(), 2000) == static_cast<ssize_t>(zeros.size()) &&
                               pwrite(out, junk.data() + zeros.size(), rest, static_cast<off_t>(2000 + zeros.size())) ==
                                   static_cast<ssize_t>(rest);
            _exit(wrote ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    uint32_t PutBackCode()
    {
        try {
            CUndoRecord::PutBackKilledRun(m_lockFd, AT_FDCWD, m_archive.string(), "a.kox", *m_log);
        } catch (const CExcept& e) {
            return e.GetCode();
        }
        return 0;
    }

    fs::path m_dir, m_archive;
    std::string m_original;
    int m_lockFd = -1;
    CAPILogMan* m_log = nullptr;
};

TEST_F(UndoRecordTest, EveryDamagedOrShortRecordIsRefusedAndTheGenuineOnePutsTheArchiveBack)
{
    // The record as this release writes it, and as the earlier layout
    // (no spread checksum) holds it: either puts the archive back.
    for (unsigned version : {kUndoRecordVersion, 2u}) {
        KilledRun();
        const fs::path recordPath = m_dir / ".a.kox.undo";
        std::string record = Slurp(recordPath);
        if (version != kUndoRecordVersion) {
            UndoRecordFields fields;
            ASSERT_TRUE(DecodeUndoRecord(record, fields));
            ASSERT_EQ(fields.version, kUndoRecordVersion);
            fields.version = version;
            record = EncodeUndoRecord(fields);
            ASSERT_EQ(record.size(), Slurp(recordPath).size() - 4);
            ASSERT_TRUE(DecodeUndoRecord(record, fields));
            ASSERT_EQ(fields.version, version);
        }
        const std::string torn = Slurp(m_archive);
        ASSERT_NE(torn, m_original);
        ASSERT_GT(record.size(), 1000u);  // the kept bytes are in it
        Put(recordPath, record);
        EXPECT_NE(CUndoRecord::TornArchiveNote(m_lockFd, ""), "");

        // Each byte changed, and the record cut at each length: refused, and
        // nothing of the archive or the record is touched.
        for (size_t i = 0; i < record.size(); ++i) {
            std::string damaged = record;
            damaged[i] = static_cast<char>(damaged[i] ^ 0x10);
            Put(recordPath, damaged);
            ASSERT_EQ(PutBackCode(), 100u) << "byte " << i;
            ASSERT_EQ(Slurp(m_archive), torn);
            ASSERT_EQ(Slurp(recordPath), damaged);
        }
        for (size_t n = 0; n < record.size(); n += 7) {
            Put(recordPath, record.substr(0, n));
            ASSERT_EQ(PutBackCode(), 100u) << "length " << n;
            ASSERT_EQ(Slurp(m_archive), torn);
        }
        // Writable by others: not trusted either.
        Put(recordPath, record);
        fs::permissions(recordPath, fs::perms::others_write, fs::perm_options::add);
        EXPECT_EQ(PutBackCode(), 100u);
        EXPECT_EQ(Slurp(m_archive), torn);
        EXPECT_EQ(m_log->Collected(), "");

        Put(recordPath, record);
        EXPECT_EQ(PutBackCode(), 0u);
        EXPECT_EQ(Slurp(m_archive), m_original);
        EXPECT_FALSE(fs::exists(recordPath));
        EXPECT_EQ(CUndoRecord::TornArchiveNote(m_lockFd, ""), "");
        EXPECT_EQ(m_log->Collected(), "KOVZEF: archive a.kox was restored as it was before a run that was killed\n");
        m_log = new CAPILogMan();
        CApplication::Instance().SetLogMan(m_log);
    }
}

TEST_F(UndoRecordTest, TheRecordOfARunningProcessIsNeverUsedAndGoesWhenTheRunEnds)
{
    CUndoRecord record;
    record.Begin(m_lockFd, AT_FDCWD, m_archive.string(), "a.kox", m_original.size());
    ASSERT_TRUE(record.Active());
    EXPECT_FALSE(fs::exists(m_dir / ".a.kox.undo"));  // not before the first write
    ASSERT_TRUE(record.BeforeFirstWrite("appended", 8));
    std::ofstream(m_archive, std::ios::app) << "appended";
    EXPECT_EQ(PutBackCode(), 6u);
    EXPECT_EQ(CUndoRecord::TornArchiveNote(m_lockFd, ""), "");
    EXPECT_EQ(Slurp(m_archive), m_original + "appended");
    EXPECT_TRUE(record.End(true));
    EXPECT_FALSE(fs::exists(m_dir / ".a.kox.undo"));
    EXPECT_EQ(PutBackCode(), 0u);
    EXPECT_EQ(Slurp(m_archive), m_original + "appended");
    EXPECT_EQ(m_log->Collected(), "");
}

TEST_F(UndoRecordTest, ARunKilledWhileItPutTheArchiveBackIsPutBackByTheNext)
{
    // The archive is cut to its old length, then the bytes written over
    // are put back from the front: a kill in between, after any part of
    // those bytes, leaves an archive the record still fits.
    const std::string tail = m_original.substr(2000);
    for (size_t put : {size_t{0}, size_t{1}, tail.size() / 2, tail.size()}) {
        KilledRun();
        const int out = open(m_archive.c_str(), O_WRONLY);
        ASSERT_GE(out, 0);
        ASSERT_EQ(ftruncate(out, static_cast<off_t>(m_original.size())), 0);
        ASSERT_EQ(pwrite(out, tail.data(), put, 2000), static_cast<ssize_t>(put));
        close(out);
        EXPECT_EQ(PutBackCode(), 0u) << put;
        EXPECT_EQ(Slurp(m_archive), m_original) << put;
        EXPECT_FALSE(fs::exists(m_dir / ".a.kox.undo")) << put;
    }
}

TEST_F(UndoRecordTest, APutBackThatAPowerLossCutShortAfterItsFirstPagesIsFinished)
{
    // Old bytes longer than the first bytes a record keeps: the put-back,
    // its cut on storage, got the old bytes back where the run began, and a
    // power loss dropped the rest of them.
    m_original.clear();
    for (int i = 0; i < 10000; ++i)
        m_original += static_cast<char>('A' + i % 19);
    const int in = open(m_archive.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(in, 0);
    ASSERT_EQ(write(in, m_original.data(), m_original.size()), static_cast<ssize_t>(m_original.size()));
    close(in);
    KilledRun();
    const int out = open(m_archive.c_str(), O_WRONLY);
    ASSERT_GE(out, 0);
    ASSERT_EQ(ftruncate(out, static_cast<off_t>(m_original.size())), 0);
    const size_t put = CUndoRecord::kFirstBytes + 10;
    ASSERT_EQ(pwrite(out, m_original.data() + 2000, put, 2000), static_cast<ssize_t>(put));
    close(out);
    ASSERT_NE(Slurp(m_archive), m_original);
    EXPECT_EQ(PutBackCode(), 0u);
    EXPECT_EQ(Slurp(m_archive), m_original);
    EXPECT_FALSE(fs::exists(m_dir / ".a.kox.undo"));
    EXPECT_EQ(m_log->Collected(), "KOVZEF: archive a.kox was restored as it was before a run that was killed\n");
}

TEST_F(UndoRecordTest, ARecordOfOtherBytesIsDroppedAndTheArchiveLeftAsItIs)
{
    // The same inode, bytes written over in place as a copy does: the
    // record no longer fits, whatever the length.
    const fs::path recordPath = m_dir / ".a.kox.undo";
    // The old archive whole with more behind its end (a backup copied back)
    // whose first bytes there are zeros or happen to be the run's: cut back
    // to the old length before, what stood behind it lost.
    for (const std::string& copy :
         {m_original.substr(0, 1000) + std::string(6000, 'C'), std::string(2500, 'c'),
          m_original.substr(0, 2000) + std::string(9000, 'Y'), m_original + "Z", m_original + std::string(700, '\0')}) {
        KilledRun();
        ASSERT_TRUE(fs::exists(recordPath));
        {
            std::ofstream out(m_archive, std::ios::binary | std::ios::in | std::ios::out);
            out << copy;
        }
        fs::resize_file(m_archive, copy.size());
        EXPECT_EQ(CUndoRecord::TornArchiveNote(m_lockFd, ""), "");
        EXPECT_EQ(PutBackCode(), 0u);
        EXPECT_EQ(Slurp(m_archive), copy);
        EXPECT_FALSE(fs::exists(recordPath));
        EXPECT_EQ(m_log->Collected(), "KOVZEF: the undo record " + recordPath.string() +
                                          " of archive a.kox no longer matched the archive and was removed; the "
                                          "archive was left as it is\n");
        m_log = new CAPILogMan();
        CApplication::Instance().SetLogMan(m_log);
        std::ofstream(m_archive, std::ios::binary | std::ios::trunc) << m_original;
    }
}

}  // namespace

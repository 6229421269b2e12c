"""Runs that write archives and fail, are stopped or meet each other: the
archive that was there before is never lost or damaged."""

import fcntl
import os
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

from cmd_helpers import (KOVZEF, NOBODY, SCRATCH, ScratchCase, archive_bytes, drop_privileges, entry_bytes,
                         kox_entries, mark_as_killed_runs, reachable_program)

RESTORED = "KOVZEF: archive a.kox was restored as it was before a run that was killed\n"
AS_BEFORE = ("KOVZEF: archive a.kox is as it was before a run that was killed; its undo record .a.kox.undo was "
             "removed\n")
HINT = "A run writing it was killed; the next run that writes to it restores it."
DROPPED = ("KOVZEF: the undo record .a.kox.undo of archive a.kox no longer matched the archive and was removed; "
           "the archive was left as it is\n")
KEPT = ("KOVZEF: archive a.kox holds all that a run that was killed wrote into it; its undo record .a.kox.undo "
        "was removed\n")


def kill_when(args, cwd, ready, program=KOVZEF, preexec_fn=None):
    """Starts the program with args and kills it outright (SIGKILL) as soon
    as ready() holds; False when the run ended before that."""
    proc = subprocess.Popen([program] + list(args), cwd=cwd, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, env=dict(os.environ, TZ="UTC"), preexec_fn=preexec_fn)
    deadline = time.time() + 120
    while not ready() and proc.poll() is None and time.time() < deadline:
        time.sleep(0.001)
    alive = proc.poll() is None
    proc.kill()
    proc.wait()
    return alive


# Starts the program (as user argv[2] when that is not -1) from a fresh
# interpreter and tells its status, and on descriptor argv[1] the most
# memory it held: a process
# keeps as its peak the memory of the process it was forked from, which for
# a test that has read large files is large.
PEAK = """if True:
    import os, signal, sys
    pid = os.fork()
    if pid == 0:
        os.close(int(sys.argv[1]))
        uid = int(sys.argv[2])
        if uid >= 0:
            os.setgid(uid)
            os.setuid(uid)
        os.execv(sys.argv[3], sys.argv[3:])
    _, status, usage = os.wait4(pid, 0)
    os.write(int(sys.argv[1]), str(usage.ru_maxrss * 1024).encode())
    if os.WIFSIGNALED(status):
        signal.signal(os.WTERMSIG(status), signal.SIG_DFL)
        os.kill(os.getpid(), os.WTERMSIG(status))
    sys.exit(os.WEXITSTATUS(status))
"""


def measured(args, cwd, program=KOVZEF, uid=-1):
    """Runs the program, as uid when that is not -1; (status, output, the
    most memory it held in bytes)."""
    peak_in, peak_out = os.pipe()
    proc = subprocess.Popen([sys.executable, "-c", PEAK, str(peak_out), str(uid), program] + list(args), cwd=cwd,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=dict(os.environ, TZ="UTC"),
                            pass_fds=(peak_out,))
    os.close(peak_out)
    out = proc.stdout.read().decode("latin-1")
    proc.stdout.close()
    proc.wait()
    with os.fdopen(peak_in, "rb") as f:
        peak = int(f.read())
    return proc.returncode, out, peak


class InterruptedWrites(ScratchCase):

    def read(self, rel):
        with open(self.path(rel), "rb") as f:
            return f.read()

    def leftovers(self):
        return [n for n in os.listdir(self.dir) if n.startswith(".")]

    def make_archive(self, name="a.kox"):
        self.write("small.txt", b"small file\n" * 100)
        rc, out = self.run_kov("-cf", name, "small.txt")
        self.assertEqual(rc, 0, out)
        return self.read(name)

    def test_a_create_replaces_the_archive_only_when_it_succeeds(self):
        before = self.make_archive()
        os.chmod(self.path("a.kox"), 0o640)
        self.write("big.bin", os.urandom(300000))
        failures = [(("-cf", "a.kox", "-C", "nothere", "big.bin"), None),
                    (("-cf", "a.kox", "big.bin"), 100000),
                    (("-cf", "a.kox", "big.bin", "missing"), None)]
        for args, limit in failures:
            rc, out = self.run_kov(*args, max_file_size=limit)
            self.assertNotEqual(rc, 0, out)
            self.assertEqual(self.read("a.kox"), before, args)
            self.assertEqual(self.leftovers(), [], args)
        # Creates of one name at once: each succeeds, or fails (status 6)
        # when another one is putting its archive in place just then; the
        # archive is one of theirs, whole.
        env = dict(os.environ, TZ="UTC")
        procs = [subprocess.Popen([KOVZEF, "-cf", "a.kox", "big.bin", "small.txt"], cwd=self.dir,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
                 for _ in range(3)]
        statuses = []
        for p in procs:
            out = p.communicate(timeout=120)[0]
            self.assertIn(p.returncode, (0, 6), out)
            statuses.append(p.returncode)
        self.assertIn(0, statuses)
        rc, out = self.run_kov("-dvf", "a.kox")
        self.assertEqual(rc, 0, out)
        self.assertIn("KOVZEF: 2 file(s) tested", out)
        self.assertEqual(os.stat(self.path("a.kox")).st_mode & 0o777, 0o640)
        self.assertEqual(self.leftovers(), [])

    def traced(self, *args, inject=None):
        """Runs the program under strace; (status, output, [(call, path
        synced or new name)]) for its fsync and rename calls.  inject makes
        the given fsync call (1 = the first) fail with EIO."""
        fd, log = tempfile.mkstemp(dir=SCRATCH)
        os.close(fd)
        strace = ["strace", "-qq", "-y", "-o", log, "-e", "trace=fsync,fdatasync,rename,renameat,renameat2"]
        if inject:
            strace += ["-e", "inject=fsync:error=EIO:when=%d" % inject]
        env = dict(os.environ, TZ="UTC")
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"  # no leak check under ptrace
        proc = subprocess.run(strace + [KOVZEF] + list(args), cwd=self.dir, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=300)
        with open(log) as f:
            lines = f.read().splitlines()
        os.unlink(log)
        calls = []
        for line in lines:
            m = (re.match(r'(f(?:data)?sync)\(\d+<(.*)>(?:\(deleted\))?\)', line)
                 or re.match(r'(rename\w*)\(.*"(.*)"(?:, RENAME_\w+)?\)', line))
            if m:
                calls.append((m.group(1), m.group(2)))
        return proc.returncode, proc.stdout.decode("latin-1"), calls

    @unittest.skipUnless(shutil.which("strace"), "strace is missing")
    def test_a_run_reports_success_only_once_its_archive_is_on_storage(self):
        before = self.make_archive()
        self.write("big.bin", os.urandom(200000))
        here = os.path.realpath(self.dir)
        # Create: the new file is synced before it takes the archive's name,
        # then the directory that holds the name.
        rc, out, calls = self.traced("-cf", "a.kox", "big.bin")
        self.assertEqual(rc, 0, out)
        self.assertEqual(len(calls), 3, calls)
        self.assertEqual(calls[0][0], "fsync")
        self.assertTrue(re.fullmatch(re.escape(here) + r"/\.a\.kox\.\d+-\d+\.new", calls[0][1]), calls)
        self.assertEqual(calls[1:], [("renameat", "a.kox"), ("fsync", here)])
        created = self.read("a.kox")
        # Append, signing-free, and merge write into the archive: their undo
        # record (a file without a name until then), then its directory, are
        # synced before the first write, the archive before the run ends,
        # and the directory again once the record is gone.  An append that
        # starts an archive writes it as a create does.
        rc, out, calls = self.traced("-af", "new.kox", "small.txt")
        self.assertEqual(rc, 0, out)
        self.assertTrue(re.fullmatch(re.escape(here) + r"/\.new\.kox\.\d+-\d+\.new", calls[0][1]), calls)
        self.assertEqual(calls[1:], [("renameat2", "new.kox"), ("fsync", here)])
        for args, synced in ((("-af", "a.kox", "small.txt"), ["", "a.kox", ""]),
                             (("-mf", "new.kox a.kox"), ["", "a.kox", ""])):
            rc, out, calls = self.traced(*args)
            self.assertEqual(rc, 0, out)
            self.assertEqual(calls[0][0], "fsync")
            self.assertTrue(calls[0][1].startswith(here), calls)  # the record's name shows as it can
            self.assertEqual(calls[1:], [("fsync", os.path.join(here, name).rstrip("/")) for name in synced],
                             args)
        # A failed sync (of the new file, the undo record, the archive, the
        # record's removal) fails the run and leaves the archive as it was.
        grown = self.read("a.kox")
        for args, failing in ((("-cf", "a.kox", "big.bin"), 1), (("-af", "a.kox", "big.bin"), 1),
                              (("-af", "a.kox", "big.bin"), 3), (("-af", "a.kox", "big.bin"), 4),
                              (("-mf", "new.kox a.kox"), 1), (("-mf", "new.kox a.kox"), 3),
                              (("-cf", "b.kox", "big.bin"), 1)):
            rc, out, _ = self.traced(*args, inject=failing)
            self.assertEqual(rc, 4, out)
            self.assertIn("error writing to", out)
            self.assertEqual(self.read("a.kox"), grown, args)
            self.assertFalse(os.path.exists(self.path("b.kox")), args)
            self.assertEqual(self.leftovers(), [], args)
        # Once the new archive has its name a failed sync of the directory is
        # reported, and the archive, whole, stays.
        rc, out, _ = self.traced("-cf", "b.kox", "big.bin", inject=2)
        self.assertEqual(rc, 4, out)
        self.assertIn("error writing to b.kox", out)
        self.assertEqual(self.read("b.kox"), created)
        self.assertNotEqual(created, before)

    def test_a_run_never_writes_into_an_archive_another_run_holds(self):
        before = self.make_archive()
        self.make_archive("other.kox")
        with open(self.path("a.kox"), "ab") as holder:
            fcntl.flock(holder, fcntl.LOCK_EX)
            # The holder is writing: what it wrote is not cut off by the
            # runs that give up.
            holder.write(b"written by the holder")
            holder.flush()
            # Fault caught: a create did not take the lock, and its new
            # archive took the place of the one the holder was writing.
            for args in (("-af", "a.kox", "small.txt"), ("-mf", "other.kox,a.kox"),
                         ("-cf", "a.kox", "small.txt")):
                rc, out = self.run_kov(*args)
                self.assertEqual(rc, 6, out)
                self.assertIn("KOVZEF: archive a.kox is being written by another run", out)
                self.assertEqual(self.read("a.kox"), before + b"written by the holder")
                self.assertEqual(self.leftovers(), [], args)

    def test_a_file_size_limit_fails_the_run_like_a_full_disk(self):
        # Fault caught: under a file-size limit append and merge were killed
        # by SIGXFSZ in the middle of a write, leaving the archive longer
        # than before: -d failed on it and further appends were refused.
        before = self.make_archive()
        self.write("big.bin", os.urandom(300000))
        rc, out = self.run_kov("-cf", "big.kox", "big.bin")
        self.assertEqual(rc, 0, out)
        for args in (("-af", "a.kox", "big.bin"), ("-mf", "big.kox,a.kox")):
            rc, out = self.run_kov(*args, max_file_size=100000, xfsz_ignored=False)
            self.assertEqual(rc, 4, (args, out))
            self.assertIn("error writing to", out)
            self.assertEqual(self.read("a.kox"), before, args)
            self.assertEqual(self.leftovers(), [], args)  # nor its undo record

    def test_a_create_removes_the_new_files_of_killed_creates(self):
        # Fault caught: a create killed outright left its new file, as large
        # as its input, beside the archive for good.
        before = self.make_archive()
        self.write("huge.bin", os.urandom(32 << 20))
        # On a busy machine the kill can come once the run has put its
        # archive in place: the old one is put back and the kill tried again.
        for _ in range(3):
            kill_when(["-cf", "a.kox", "huge.bin"], self.dir,
                      lambda: any(os.path.getsize(self.path(n)) > 0 for n in self.leftovers()))
            if self.leftovers():
                break
            self.write("a.kox", before)
        self.assertEqual(len(self.leftovers()), 1)
        self.assertEqual(self.read("a.kox"), before)
        killed_pid = int(re.fullmatch(r"\.a\.kox\.(\d+)-\d+\.new", self.leftovers()[0]).group(1))
        # The new file of a run that still goes on, and those of another
        # archive, are not this create's to remove.
        keep = [".a.kox.%d-0.new" % os.getpid(), ".b.kox.%d-0.new" % killed_pid]
        for name in keep:
            mark_as_killed_runs(self.write(name, b""))
        if os.geteuid() == 0:
            # Fault caught: run by the superuser, the clean-up removed
            # another user's file of that name as well.
            keep.append(".a.kox.%d-1.new" % killed_pid)
            mark_as_killed_runs(self.write(keep[-1], b"another user's"))
            os.chown(self.path(keep[-1]), 4242, 4242)
        rc, out = self.run_kov("-cf", "a.kox", "small.txt")
        self.assertEqual(rc, 0, out)
        self.assertEqual(sorted(self.leftovers()), sorted(keep))

    def test_the_clean_up_removes_only_names_the_program_makes(self):
        # Faults caught: the clean-up of killed creates also removed names
        # that only looked like a new file (a number with leading zeros,
        # which the program never writes), and a name that is one of several
        # links of a file, so a name the user had given a file went away.
        self.make_archive()
        gone = subprocess.Popen(["true"])
        gone.wait()
        dead = gone.pid
        self.write("kept.txt", b"the user's data\n")
        keep = [".a.kox.0%d-0.new" % dead, ".a.kox.%d-00.new" % dead,
                ".a.kox.%d-100.new" % dead, ".a.kox.%d-1.new" % dead]
        for name in keep[:-1]:
            mark_as_killed_runs(self.write(name, b"look-alike"))
        os.link(self.path("kept.txt"), self.path(keep[-1]))
        mark_as_killed_runs(self.path(keep[-1]))
        removed = ".a.kox.%d-0.new" % dead
        mark_as_killed_runs(self.write(removed, b"left by a killed create"))
        rc, out = self.run_kov("-cf", "a.kox", "small.txt")
        self.assertEqual(rc, 0, out)
        self.assertEqual(sorted(self.leftovers()), sorted(keep))
        self.assertEqual(self.read(keep[-1]), b"the user's data\n")

    def test_the_clean_up_of_staged_files_leaves_what_this_run_made(self):
        # Fault caught: an entry named like a staged file of a killed run,
        # the first file a plain extraction wrote into a directory (the top
        # level, or one that was there), was created and then removed by
        # that directory's clean-up, and the run said it was extracted with
        # status 0.  Also: another spelling of a directory the run already
        # wrote into ("./sub"), cleaned apart, removed the look-alike files
        # and the directory of files the run had made there.
        gone = subprocess.Popen(["true"])
        gone.wait()
        dead = gone.pid
        names = {".report.txt.%d-1.part" % dead: b"top level\n",
                 "sub/.report.txt.%d-1.part" % dead: b"in a directory that was there\n",
                 "sub/.made.%d-2.part/f.txt" % dead: b"in a directory this run made\n",
                 "./sub/g.txt": b"another spelling\n"}
        self.write("a.kox", archive_bytes(
            [entry_bytes("DR", "sub/.made.%d-2.part" % dead, 0o40755)] +
            [entry_bytes("RG", name, 0o100644, data) for name, data in names.items()]))
        lost = mark_as_killed_runs(self.write("x/sub/.old.txt.%d-0.part" % dead, b"left by a killed run"))
        rc, out = self.run_kov("-xf", "../a.kox", cwd=self.path("x"))
        self.assertEqual((rc, out.splitlines()[-1]), (0, "KOVZEF: 5 file(s) extracted"), out)
        for name, data in names.items():
            with open(self.path("x", name), "rb") as f:
                self.assertEqual(f.read(), data, name)
        self.assertFalse(os.path.exists(lost))  # what a killed run left still goes

    def test_the_clean_ups_take_only_what_a_killed_run_marked_as_its_own(self):
        # Faults caught: the clean-ups took a name's form and a dead process
        # number for proof of a killed run's file.  The next extraction into
        # a directory removed, with status 0 and no word, a file and a
        # directory with a file in it that an earlier extraction had made
        # there with status 0, a user's own file of that form, a killed
        # run's directory holding a file that a running program held locked
        # (only the directory's lock was asked about) and the very archive it
        # read; a create removed a user's own file named like its new file,
        # and a merge the source it read.  And a killed run's hidden
        # directory stayed when a later run made a subdirectory beside it.
        gone = subprocess.Popen(["true"])
        gone.wait()
        dead = gone.pid
        made = {".notes.txt.%d-0.part" % dead: b"extracted with status 0\n",
                ".report.txt.%d-1.part/f.txt" % dead: b"in a directory extracted with status 0\n"}
        self.write("made.kox", archive_bytes([entry_bytes("DR", ".report.txt.%d-1.part" % dead, 0o40755)] +
                                             [entry_bytes("RG", n, 0o100644, d) for n, d in made.items()]))
        os.mkdir(self.path("x"))
        rc, out = self.run_kov("-xf", "../made.kox", cwd=self.path("x"))
        self.assertEqual(rc, 0, out)
        kept = {"x/" + name: data for name, data in made.items()}
        kept.update({"x/.mine.%d-2.part" % dead: b"the user's own\n", ".a.kox.%d-0.new" % dead: b"the user's own\n"})
        for name, data in kept.items():
            if not name.startswith("x/.report"):
                self.write(name, data)
        self.make_archive()
        # What killed runs left, marked as theirs: a directory holding a file
        # held locked, one beside a directory the next run makes, and two
        # that runs read as their archives.
        held = mark_as_killed_runs(os.path.dirname(self.write("x/.held.%d-3.part/f.txt" % dead, b"held\n")))
        # A run killed while it made a staging area, before the area carried
        # the mark: the marked file that stands for it takes the empty area
        # with it; an empty directory of that form without it stays.
        pledge = mark_as_killed_runs(self.write("x/.staged-area.%d-77.part" % dead))
        for name in (".staged.%d-77.part" % dead, ".staged.%d-78.part" % dead):
            os.mkdir(self.path("x", name))
        beside = mark_as_killed_runs(os.path.dirname(self.write("x/d/.sub.%d-4.part/f.txt" % dead, b"lost\n")))
        self.write("b.kox", archive_bytes([entry_bytes("RG", n, 0o100644, b"new\n") for n in ("d/new/f.txt", "top")]))
        for name in ("x/.b.kox.%d-5.part" % dead, ".a.kox.%d-6.new" % dead):
            kept[name] = self.read("b.kox")
            mark_as_killed_runs(self.write(name, kept[name]))
        with open(os.path.join(held, "f.txt"), "r+b") as f:
            fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, 2)
            rc, out = self.run_kov("-xf", ".b.kox.%d-5.part" % dead, cwd=self.path("x"))
            self.assertEqual(rc, 0, out)
            self.assertTrue(os.path.exists(os.path.join(held, "f.txt")))
        self.assertFalse(os.path.exists(beside))
        self.assertFalse(os.path.exists(pledge) or os.path.exists(self.path("x", ".staged.%d-77.part" % dead)))
        self.assertTrue(os.path.isdir(self.path("x", ".staged.%d-78.part" % dead)))
        rc, out = self.run_kov("-mf", ".a.kox.%d-6.new,a.kox" % dead)
        self.assertEqual(rc, 0, out)
        for name, data in kept.items():
            self.assertEqual(self.read(name), data, name)
        # Once nobody holds the file, the directory goes with the next run.
        rc, out = self.run_kov("-xf", "../b.kox", cwd=self.path("x"))
        self.assertEqual(rc, 0, out)
        self.assertFalse(os.path.exists(held))

    def test_a_lost_directory_that_holds_the_archive_read_stays(self):
        # Fault caught: an extraction of an archive inside a killed run's
        # hidden directory (".NAME.PID-N.part", marked as the run's own) took
        # that directory, archive and all, for a lost one and removed it as
        # it cleaned the directory it extracts into, with status 0.  Only a
        # lost directory that holds nothing the run reads goes.
        gone = subprocess.Popen(["true"])
        gone.wait()
        dead = gone.pid
        archive = archive_bytes([entry_bytes("RG", name, 0o100644, name.encode()) for name in ("top.txt", "d/f.txt")])
        holders = [".pkg.%d-0.part" % dead, "d/.pkg.%d-1.part" % dead]
        for n, holder in enumerate(holders):
            self.write(holder + "/inner.kox", archive)
            self.write(holder + "/other.txt", b"beside it\n")
            mark_as_killed_runs(self.path(holder))
            lost = mark_as_killed_runs(os.path.dirname(self.write(".lost.%d-%d.part/f.txt" % (dead, n), b"lost")))
            # Named as the run is given it, and in another spelling.
            for name in (holder + "/inner.kox", "./" + holder.replace("/", "//") + "/./inner.kox"):
                rc, out = self.run_kov("-xf", name)
                self.assertEqual((rc, out.splitlines()[-1]), (0, "KOVZEF: 2 file(s) extracted"), out)
                self.assertEqual(self.read(holder + "/inner.kox"), archive, name)
                self.assertEqual(self.read(holder + "/other.txt"), b"beside it\n", name)
                self.assertFalse(os.path.exists(lost), name)
        # Once no run reads them, they go as any lost one.
        self.write("a.kox", archive)
        rc, out = self.run_kov("-xf", "a.kox")
        self.assertEqual(rc, 0, out)
        for holder in holders:
            self.assertFalse(os.path.exists(self.path(holder)), holder)

    def test_files_locked_in_any_way_are_not_lost_ones(self):
        # Fault caught: the clean-ups saw only whole-file locks (flock), so a
        # ".part" or ".new" file that a running program held with a record
        # lock (fcntl, lockf) was removed under it.
        gone = subprocess.Popen(["true"])
        gone.wait()
        dead = gone.pid
        self.make_archive()
        self.write("x/small.txt", b"x")
        held = {"x/.a.%d-%d.part" % (dead, n): how for n, how in enumerate(("lockf", "range", "flock", "read"))}
        held.update({".a.kox.%d-%d.new" % (dead, n): how for n, how in enumerate(("lockf", "range", "flock"))})
        free = ["x/.a.%d-9.part" % dead, ".a.kox.%d-9.new" % dead]
        for name in list(held) + free:
            mark_as_killed_runs(self.write(name, b"staged by a run that goes on" * 10))
        # A live program of its own holds the locks, as another process
        # would; the clean-ups only ask about them.
        holder = subprocess.Popen([sys.executable, "-c", """if True:
            import fcntl, sys
            files = []
            for line in sys.stdin:
                how, name = line.split(None, 1)
                f = open(name.strip(), "rb" if how == "read" else "r+b")
                files.append(f)
                if how == "flock":
                    fcntl.flock(f, fcntl.LOCK_EX)
                elif how == "range":
                    fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB, 5, 100)
                elif how == "read":
                    fcntl.lockf(f, fcntl.LOCK_SH | fcntl.LOCK_NB)
                else:
                    fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
                print("held", flush=True)
            """], cwd=self.dir, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.addCleanup(holder.wait)
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.stdin.close)
        for name, how in held.items():
            holder.stdin.write("%s %s\n" % (how, name))
            holder.stdin.flush()
            self.assertEqual(holder.stdout.readline(), "held\n")
        for args, cwd in ((("-xf", "../a.kox"), self.path("x")), (("-af", "a.kox", "small.txt"), self.dir),
                          (("-cf", "a.kox", "small.txt"), self.dir)):
            rc, out = self.run_kov(*args, cwd=cwd)
            self.assertEqual(rc, 0, (args, out))
        for name in held:
            self.assertTrue(os.path.exists(self.path(name)), (name, held[name]))
        for name in free:
            self.assertFalse(os.path.exists(self.path(name)), name)

    def stop_while_writing(self, args, grows, sig):
        """Starts args, sends sig once grows() says writing has begun;
        (exit status, output)."""
        proc = subprocess.Popen([KOVZEF] + list(args), cwd=self.dir, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, env=dict(os.environ, TZ="UTC"))
        deadline = time.time() + 60
        while not grows() and proc.poll() is None and time.time() < deadline:
            time.sleep(0.005)
        proc.send_signal(sig)
        out = proc.communicate(timeout=120)[0].decode("latin-1")
        return proc.returncode, out

    def test_stop_signals_leave_the_archive_as_it_was(self):
        before = self.make_archive()
        self.make_archive("source.kox")
        self.write("huge.bin", os.urandom(48 << 20))
        rc, out = self.run_kov("-af", "source.kox", "huge.bin")
        self.assertEqual(rc, 0, out)

        def bigger():
            return os.path.getsize(self.path("a.kox")) > len(before)

        def new_file_written():
            return any(os.path.getsize(self.path(n)) > 0 for n in self.leftovers())

        cases = [(("-af", "a.kox", "huge.bin"), bigger, signal.SIGINT),
                 (("-mf", "source.kox,a.kox"), bigger, signal.SIGHUP),
                 (("-cf", "a.kox", "huge.bin"), new_file_written, signal.SIGTERM)]
        for args, grows, sig in cases:
            # On a busy machine the signal can come after the run's last
            # point of return: it ends whole, the old archive is put back and
            # the stop tried again.
            for _ in range(3):
                rc, out = self.stop_while_writing(args, grows, sig)
                if rc != 0:
                    break
                self.assertEqual((self.run_kov("-df", "a.kox")[0], self.leftovers()), (0, []), args)
                self.write("a.kox", before)
            self.assertEqual(rc, 128 + sig, (args, out))
            self.assertIn("KOVZEF: run stopped by signal %d" % sig, out)
            self.assertEqual(self.read("a.kox"), before, args)
            self.assertEqual(self.leftovers(), [], args)
        rc, out = self.run_kov("-af", "a.kox", "small.txt")
        self.assertEqual(rc, 0, out)

    def size(self, rel):
        try:
            return os.path.getsize(self.path(rel))
        except FileNotFoundError:
            return -1

    def test_the_next_run_undoes_appends_and_merges_killed_outright(self):
        # Fault caught: an append or merge killed by SIGKILL (the
        # out-of-memory killer, a power loss) left a torn last entry: -t, -d
        # and -x failed with 5 on the archive and every later append refused
        # it, for good.
        self.make_archive()
        self.write("huge.bin", os.urandom(48 << 20))
        rc, out = self.run_kov("-cf", "source.kox", "huge.bin")
        self.assertEqual(rc, 0, out)
        record = self.path(".a.kox.undo")
        # Killed once its record is on disk (before or just after its first
        # write) and after growing the archive by a few bytes up to many
        # chunks; every next run puts the archive back and appends.
        moments = [("-af", "a.kox", "huge.bin", 70000), ("-af", "a.kox", "huge.bin", None),
                   ("-af", "a.kox", "huge.bin", 1), ("-af", "a.kox", "huge.bin", 3 << 20),
                   ("-af", "a.kox", "huge.bin", 20 << 20), ("-mf", "source.kox,a.kox", None, None),
                   ("-mf", "source.kox,a.kox", None, 1), ("-mf", "source.kox,a.kox", None, 5 << 20),
                   ("-mf", "source.kox,a.kox", None, 30 << 20)]
        # Both commands add huge.bin's entry as the create of source.kox wrote
        # it: a run that got to its end leaves the archive as it was plus
        # that entry.
        entry = self.read("source.kox")[8:]
        files = 1
        torn_seen = 0
        for command, archives, name, grown in moments:
            args = [command, archives] + ([name] if name else [])
            # On a busy machine the kill can land after the run's last write
            # (the archive is whole) or even after its end; such a moment is
            # checked as what it is and tried again, up to three times.
            for _ in range(3):
                before = self.read("a.kox")
                ready = ((lambda: os.path.exists(record)) if grown is None
                         else (lambda g=grown, n=len(before): self.size("a.kox") >= n + g))
                kill_when(args, self.dir, ready)
                recorded = os.path.exists(record)
                killed = self.read("a.kox")
                complete = (len(killed) == len(before) + len(entry) and killed.startswith(before)
                            and killed.endswith(entry))
                # Torn is what the readers see: neither the old archive nor
                # the run's complete one.
                whole = complete or killed == before
                os.makedirs(self.path("x"), exist_ok=True)
                readers = [self.run_kov(reader, "../a.kox", cwd=self.path("x")) for reader in ("-tf", "-df", "-xf")]
                rc, out = self.run_kov("-af", "a.kox", "small.txt")
                self.assertEqual(rc, 0, (args, grown, out))
                if recorded and complete:
                    # Killed after its last write: all it wrote stays.
                    self.assertEqual(out, KEPT, (args, grown))
                    before = killed
                    files += 1
                elif recorded:
                    # Fault caught: an archive the killed run had not
                    # changed yet was said to be restored.
                    self.assertEqual(out, AS_BEFORE if killed == before else RESTORED, (args, grown))
                else:
                    # The record goes only once the run's archive is whole.
                    self.assertEqual((out, complete), ("", True), (args, grown))
                    before = killed
                    files += 1
                torn_seen += not whole
                for rc, out in readers:
                    if whole:
                        self.assertEqual(rc, 0, (args, grown, out))
                    else:
                        self.assertEqual(rc, 5, (args, grown, out))
                        self.assertIn("KOVZEF: error reading from ../a.kox (error 5). " + HINT, out)
                files += 1
                after = self.read("a.kox")
                self.assertEqual(after[:len(before)], before, (args, grown))
                rc, out = self.run_kov("-dvf", "a.kox")
                self.assertEqual(rc, 0, out)
                self.assertIn("KOVZEF: %d file(s) tested" % files, out)
                self.assertEqual(self.leftovers(), [], (args, grown))
                if grown is None or not whole:
                    break
        self.assertGreaterEqual(torn_seen, 6)

        # An append that starts an archive writes it beside the name, which
        # it gets once whole: killed, it leaves no archive, and the next
        # append removes its new file and starts the archive anew.
        self.assertTrue(kill_when(["-af", "new.kox", "huge.bin"], self.dir,
                                  lambda: any(n.startswith(".new.kox.") and self.size(n) > 1000
                                              for n in self.leftovers())))
        self.assertFalse(os.path.exists(self.path("new.kox")))
        rc, out = self.run_kov("-avf", "new.kox", "small.txt")
        self.assertEqual((rc, out), (0, "a small.txt\n"))
        rc, out = self.run_kov("-tf", "new.kox")
        self.assertEqual((rc, out.count("small.txt"), "huge.bin" in out), (0, 1, False), out)
        self.assertEqual(self.leftovers(), [])

    def test_undo_records_that_do_not_fit_are_never_used(self):
        before = self.make_archive()
        self.write("huge.bin", os.urandom(24 << 20))
        record = self.path(".a.kox.undo")

        def killed_append():
            self.assertTrue(kill_when(["-af", "a.kox", "huge.bin"], self.dir,
                                      lambda: self.size("a.kox") > len(before) + (1 << 20)))
            return self.read(".a.kox.undo"), self.read("a.kox")

        def refused(status, why):
            torn = self.read("a.kox")
            rc, out = self.run_kov("-af", "a.kox", "small.txt")
            self.assertEqual(rc, status, out)
            self.assertIn(why, out)
            self.assertEqual(self.read("a.kox"), torn)
            self.assertTrue(os.path.lexists(record))

        good, torn = killed_append()
        # Damaged (a byte changed, cut short) or not a plain file: refused,
        # nothing changes.
        damaged = bytearray(good)
        damaged[48] ^= 1
        for content in (bytes(damaged), good[:-1], b""):
            self.write(".a.kox.undo", content)
            refused(100, "KOVZEF: can not restore archive a.kox: its undo record .a.kox.undo is damaged; "
                         "nothing was changed")
        os.unlink(record)
        os.symlink("elsewhere", record)
        refused(100, "its undo record .a.kox.undo is a link")
        os.unlink(record)
        # A record of a process that still runs: another run's.
        alive = bytearray(good[:-4])
        struct.pack_into("<QQ", alive, 24, os.getpid(), 0)
        alive += struct.pack("<I", zlib.crc32(bytes(alive)))
        self.write(".a.kox.undo", bytes(alive), mode=0o600)
        refused(6, "KOVZEF: archive a.kox is being written by another run; nothing was changed")
        # The genuine record puts the archive back.
        self.write(".a.kox.undo", good, mode=0o600)
        rc, out = self.run_kov("-af", "a.kox", "small.txt")
        self.assertEqual((rc, out), (0, RESTORED))
        self.assertEqual(self.read("a.kox")[:len(before)], before)

        # A record left for an archive that a create has replaced since
        # belongs to no file: it is dropped, the new archive stays whole.
        killed_append()
        rc, out = self.run_kov("-cf", "a.kox", "small.txt")
        self.assertEqual(rc, 0, out)
        created = self.read("a.kox")
        rc, out = self.run_kov("-af", "a.kox", "small.txt")
        self.assertEqual((rc, out), (0, DROPPED))
        self.assertEqual(self.read("a.kox")[:len(created)], created)
        self.assertEqual(self.leftovers(), [])

    def test_a_record_is_applied_only_to_the_bytes_its_own_run_left(self):
        # Faults caught: the undo record named its archive by device and
        # inode only.  An archive copied over the torn one (into the same
        # inode, or as a new file that got the freed inode back) was cut to
        # the killed run's old length by the next append, which reported it
        # "restored"; an archive copied to the name where a killed append had
        # started a new one was deleted, with status 0.
        seed = int.from_bytes(os.urandom(4), "little")
        rnd = random.Random(seed)
        self.make_archive()
        self.write("huge.bin", os.urandom(24 << 20))
        self.write("extra.txt", b"extra\n" * 500)
        for args in (("-cf", "source.kox", "huge.bin"), ("-cf", "other.kox", "extra.txt"),
                     ("-af", "a.kox", "extra.txt")):
            rc, out = self.run_kov(*args)
            self.assertEqual(rc, 0, out)
        record = self.path(".a.kox.undo")
        runs = {"append": ["-af", "a.kox", "huge.bin"], "merge": ["-mf", "source.kox,a.kox"]}

        def grown(start, *commands):
            """start with the commands run on it (a.kox standing for it)."""
            self.write("c.kox", start)
            for command in commands:
                rc, out = self.run_kov(*[arg.replace("a.kox", "c.kox") for arg in command])
                self.assertEqual(rc, 0, out)
            data = self.read("c.kox")
            os.unlink(self.path("c.kox"))
            return data

        def put_in(data, new_inode, keep_time):
            """Puts data at a.kox as cp does: into the same file, or as a new
            file after rm; with keep_time as cp -p from a copy an hour old."""
            if new_inode:
                os.unlink(self.path("a.kox"))
            self.write("a.kox", data)
            if keep_time:
                os.utime(self.path("a.kox"), (time.time() - 3600,) * 2)

        def names(data):
            return [entry[1] for entry in kox_entries(data)]

        older = self.make_archive("first.kox")
        step = 0
        for kind, copy in [(kind, copy) for kind in runs for copy in ("other", "older", "longer", "rerun", None)]:
            before = self.read("a.kox")
            # Each copy is made before the run: another archive, one older
            # than the archive, the archive with another entry behind its
            # end, and the archive with the run's own entries and another
            # behind them, as a run of the same command on a copy wrote them.
            data = {"other": lambda: self.read("other.kox"), "older": lambda: older,
                    "longer": lambda: grown(before, ("-af", "a.kox", "extra.txt")),
                    "rerun": lambda: grown(before, runs[kind], ("-af", "a.kox", "extra.txt")),
                    None: lambda: before}[copy]()
            moment = rnd.choice([None, 1, rnd.randrange(2, 1 << 16), rnd.randrange(1 << 16, 16 << 20)])
            ready = ((lambda: os.path.exists(record)) if moment is None
                     else (lambda m=moment, n=len(before): self.size("a.kox") >= n + m))
            note = (kind, copy, moment, step, seed)
            self.assertTrue(kill_when(runs[kind], self.dir, ready), note)
            self.assertTrue(os.path.exists(record), note)
            untouched = self.read("a.kox") == before
            if copy is not None:
                # A copy the run wrote the same bytes into is told apart only
                # by its time: it is put in place as cp -p puts it.
                put_in(data, new_inode=step % 2 == 1, keep_time=copy == "rerun" or step % 3 == 2)
                step += 1
            rc, out = self.run_kov("-af", "a.kox", "small.txt")
            # The archive with the run's own entries holds all that the run
            # wrote, in the run's file or in another (the record judges the
            # bytes, not the inode): it stays, whatever its time.
            expected = {None: AS_BEFORE if untouched else RESTORED, "rerun": KEPT}.get(copy, DROPPED)
            self.assertEqual((rc, out), (0, expected), note)
            after = self.read("a.kox")
            self.assertEqual(after[:len(data)], data, note)
            self.assertEqual(names(after), names(data) + ["small.txt"], note)
            self.assertEqual(self.leftovers(), [], note)
            older = before

        # An append that started a new archive, killed, and an archive of the
        # same file put at the name: the next append keeps it.
        self.assertTrue(kill_when(["-af", "new.kox", "huge.bin"], self.dir,
                                  lambda: self.size("new.kox") > 1000 or
                                  any(n.startswith(".new.kox.") and self.size(n) > 1000 for n in self.leftovers())),
                        seed)
        rc, out = self.run_kov("-cf", "same.kox", "huge.bin")
        self.assertEqual(rc, 0, out)
        same = self.read("same.kox")
        shutil.copyfile(self.path("same.kox"), self.path("new.kox"))
        rc, out = self.run_kov("-af", "new.kox", "small.txt")
        self.assertEqual((rc, out), (0, ""), seed)
        after = self.read("new.kox")
        self.assertEqual(after[:len(same)], same)
        self.assertEqual(names(after), ["huge.bin", "small.txt"])
        self.assertEqual(self.leftovers(), [])
        # An archive that gets the name while an append is starting one there
        # is never replaced: the append fails as when another run writes it.
        proc = subprocess.Popen([KOVZEF, "-af", "late.kox", "huge.bin"], cwd=self.dir, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, env=dict(os.environ, TZ="UTC"))
        deadline = time.time() + 60
        while not any(n.startswith(".late.kox.") for n in self.leftovers()) and proc.poll() is None \
                and time.time() < deadline:
            time.sleep(0.001)
        proc.send_signal(signal.SIGSTOP)
        self.assertIsNone(proc.poll(), "the append ended before another archive got the name")
        self.write("late.kox", same)
        proc.send_signal(signal.SIGCONT)
        out = proc.communicate(timeout=120)[0].decode("latin-1")
        self.assertEqual((proc.returncode, out),
                         (6, "KOVZEF: archive late.kox is being written by another run; nothing was changed "
                             "(error 6). \n"))
        self.assertEqual(self.read("late.kox"), same)
        self.assertEqual(self.leftovers(), [])

    @unittest.skipUnless(os.geteuid() == 0, "needs a directory its user may not write")
    def test_a_failed_create_in_place_leaves_nothing_a_reader_takes_for_an_archive(self):
        # Fault caught: a create whose archive lies in a directory its user
        # may not write rewrites the archive itself; failed (a name it could
        # not read), it could not remove what it had written and left the
        # archive's header alone, which every reader listed as a whole,
        # empty archive with status 0.
        program = reachable_program(self)
        os.chmod(self.dir, 0o755)
        self.write("src/f.txt", b"data\n" * 100)
        archive = self.path("a.kox")
        open(archive, "wb").close()
        os.chown(archive, NOBODY, NOBODY)

        def as_user(*args):
            rc, out, _ = measured(args, self.dir, program, NOBODY)
            return rc, out

        self.assertEqual(as_user("-cf", "a.kox", "src"), (0, ""))
        for args in (["-cf", "a.kox", "src", "missing.txt"], ["-cf", "a.kox", "missing.txt", "src"]):
            rc, out = as_user(*args)
            self.assertEqual(rc, 44, out)
            self.assertEqual(self.read("a.kox"), b"", args)
            self.assertNotEqual(self.run_kov("-tf", "a.kox")[0], 0, args)
        # With i the archive of the rest is what the run was asked for.
        self.assertEqual(as_user("-cif", "a.kox", "missing.txt", "src")[0], 44)
        rc, out = self.run_kov("-tf", "a.kox")
        self.assertEqual(rc, 0, out)
        self.assertIn("src/f.txt", out)

    @unittest.skipUnless(os.geteuid() == 0, "needs to act as two other users")
    def test_undo_record_names_others_hold_block_nobody_and_no_record_is_read_unbounded(self):
        # Faults caught: in a directory where anybody may make files (mode
        # 1777), another user's file, link or fifo at the names of the undo
        # record blocked every later append of the owner's archive for good
        # (status 100, or 4 "File exists"); a record was read whole before
        # its owner, type and size were looked at, by writers and readers
        # alike (a 3 GiB sparse one took gigabytes); a refused record left a
        # new empty archive behind and did not say how to go on.
        program = reachable_program(self)
        other = 4242
        os.chmod(self.dir, 0o755)
        shared = self.path("shared")
        os.mkdir(shared)
        os.chmod(shared, 0o1777)
        self.write("shared/small.txt", b"small file\n" * 100)
        self.write("shared/huge.bin", os.urandom(16 << 20))

        def as_owner(*args):
            rc, out, _ = measured(args, shared, program, NOBODY if os.geteuid() == 0 else -1)
            return rc, out

        rc, out = as_owner("-cf", "a.kox", "small.txt")
        self.assertEqual(rc, 0, out)
        archive = os.path.join(shared, "a.kox")
        record = os.path.join(shared, ".a.kox.undo")
        with open(archive, "rb") as f:
            before = f.read()
        self.assertTrue(kill_when(["-af", "a.kox", "huge.bin"], shared,
                                  lambda: self.size(archive) > len(before) + (1 << 20), program, drop_privileges))
        # The archive as the killed run would have left it had it got to its
        # end: the record fits it, and would cut it back, were it used.
        self.write("c.kox", before)
        rc, out = self.run_kov("-af", "c.kox", "shared/huge.bin")
        self.assertEqual(rc, 0, out)
        whole = self.read("c.kox")
        with open(archive, "r+b") as f:
            f.write(whole)
        # Another user holds the record's names: the fitting record, a link
        # to the archive, a fifo; and the record's former temporary name.
        planted = {".a.kox.undo.new": b"another user's"}
        self.write("shared/.a.kox.undo.new", planted[".a.kox.undo.new"])
        os.chown(os.path.join(shared, ".a.kox.undo.new"), other, other)
        os.chown(record, other, other)
        with open(record, "rb") as f:
            planted[".a.kox.undo"] = f.read()
        expected = whole
        for holder in ("record", "link", "fifo"):
            if holder == "link":
                os.unlink(record)
                os.symlink("a.kox", record)
                planted[".a.kox.undo"] = "a.kox"
            elif holder == "fifo":
                os.unlink(record)
                os.mkfifo(record, 0o666)
                planted[".a.kox.undo"] = None
            os.lchown(record, other, other)
            rc, out = as_owner("-af", "a.kox", "small.txt")
            self.assertEqual((rc, out), (0, ""), holder)
            with open(archive, "rb") as f:
                after = f.read()
            self.assertEqual(after[:len(expected)], expected, holder)
            self.assertEqual([entry[1] for entry in kox_entries(after)][-1], "small.txt", holder)
            expected = after
            for name, content in planted.items():
                path = os.path.join(shared, name)
                self.assertEqual(os.lstat(path).st_uid, other, (holder, name))
                if isinstance(content, bytes):
                    self.assertEqual(self.read(path), content, (holder, name))
                elif content is not None:
                    self.assertEqual(os.readlink(path), content, (holder, name))
        self.assertEqual(sorted(n for n in os.listdir(shared) if n.startswith(".")),
                         [".a.kox.undo", ".a.kox.undo.new"])

        # A record of 3 GiB, sparse: this user's is refused, another user's
        # left alone, without reading either; a reader that meets a torn end
        # does not read it either.
        self.make_archive()
        intact = self.read("a.kox")
        with open(self.path(".a.kox.undo"), "wb") as f:
            f.truncate(3 << 30)
        os.chmod(self.path(".a.kox.undo"), 0o600)
        rc, out, peak = measured(["-af", "a.kox", "small.txt"], self.dir)
        self.assertEqual(rc, 100, out)
        self.assertIn("its undo record .a.kox.undo is damaged; nothing was changed; check the archive, then remove "
                      ".a.kox.undo to go on", out)
        self.assertLess(peak, 1 << 30, out)
        self.assertEqual(self.read("a.kox"), intact)
        with open(self.path("a.kox"), "ab") as f:
            f.write(b"RG\xa4\x81")
        rc, out, peak = measured(["-tf", "a.kox"], self.dir)
        self.assertEqual(rc, 5, out)
        self.assertNotIn(HINT, out)
        self.assertLess(peak, 1 << 30, out)
        self.write("a.kox", intact)
        os.chown(self.path(".a.kox.undo"), other, other)
        rc, out, peak = measured(["-af", "a.kox", "small.txt"], self.dir)
        self.assertEqual((rc, out), (0, ""))
        self.assertLess(peak, 1 << 30, out)
        self.assertEqual(os.path.getsize(self.path(".a.kox.undo")), 3 << 30)
        # Fault caught: a record was read as far as the archive's length
        # allowed: one of 1 GiB, sparse, beside an archive of 3 GiB, took a
        # gigabyte before it was refused.  Its fixed fields tell no record.
        os.unlink(self.path(".a.kox.undo"))
        with open(self.path(".a.kox.undo"), "wb") as f:
            f.truncate(1 << 30)
        os.chmod(self.path(".a.kox.undo"), 0o600)
        with open(self.path("a.kox"), "r+b") as f:
            f.truncate(3 << 30)
        rc, out, peak = measured(["-af", "a.kox", "small.txt"], self.dir)
        self.assertEqual(rc, 100, out)
        self.assertLess(peak, 512 << 20, out)
        # Fault caught: a record whose fixed fields declare the bytes of a
        # run that wrote over the archive's last 256 MiB was read whole
        # before its checksum refused it.  It is checked a piece at a time.
        tail = 256 << 20
        lead = b"KOVUNDO3" + struct.pack("<8Q3I2H", 1, 2, 1, 0, 3 << 30, (3 << 30) - tail, 0, tail, 0, 0, 0, 5, 0)
        with open(self.path(".a.kox.undo"), "r+b") as f:
            f.write(lead + b"a.kox")
            f.truncate(len(lead) + 5 + tail + 4)
        rc, out, peak = measured(["-af", "a.kox", "small.txt"], self.dir)
        self.assertEqual(rc, 100, out)
        self.assertIn("its undo record .a.kox.undo is damaged", out)
        self.assertLess(peak, 128 << 20, out)
        self.write("a.kox", intact)

        # A damaged record beside a name that holds no archive: refused, and
        # no empty archive is left behind.
        for name in ("a.kox", ".a.kox.undo"):
            os.unlink(self.path(name))
        self.write(".a.kox.undo", b"damaged", mode=0o600)
        rc, out = self.run_kov("-af", "a.kox", "small.txt")
        self.assertEqual(rc, 100, out)
        self.assertIn("KOVZEF: can not restore archive a.kox: its undo record .a.kox.undo is damaged; nothing was "
                      "changed; check the archive, then remove .a.kox.undo to go on", out)
        self.assertFalse(os.path.lexists(self.path("a.kox")))
        self.assertEqual(self.leftovers(), [".a.kox.undo"])
        os.unlink(self.path(".a.kox.undo"))
        rc, out = self.run_kov("-af", "a.kox", "small.txt")
        self.assertEqual((rc, out), (0, ""))

    def test_the_new_files_of_killed_creates_go_with_the_next_run_of_any_kind(self):
        # Fault caught: the new file a create killed outright left beside the
        # archive, as large as its input, was removed only by the next
        # create: appends and merges of the archive left it for good.
        self.make_archive()
        self.make_archive("source.kox")
        self.write("huge.bin", os.urandom(32 << 20))

        def killed_create():
            before = self.read("a.kox")
            self.assertTrue(kill_when(["-cf", "a.kox", "huge.bin"], self.dir,
                                      lambda: any(self.size(n) > 0 for n in self.leftovers())))
            self.assertEqual(len(self.leftovers()), 1)
            self.assertEqual(self.read("a.kox"), before)

        for args in (("-af", "a.kox", "small.txt"), ("-mf", "source.kox,a.kox")):
            killed_create()
            rc, out = self.run_kov(*args)
            self.assertEqual((rc, out), (0, ""), args)
            self.assertEqual(self.leftovers(), [], args)
        rc, out = self.run_kov("-tf", "a.kox")
        self.assertEqual((rc, out.count("small.txt")), (0, 3), out)


if __name__ == "__main__":
    unittest.main()

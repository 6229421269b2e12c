"""Writing runs killed at each change they make to the file system, then
runs through a second name of the archive, by another user, on a copy put
back at the name, and in a directory that became read-only: nothing a run
reported done is lost, and every killed run is whole or undone.  The runs
are killed under strace, which sends SIGKILL as the chosen system call
begins."""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cmd_helpers import (KOVZEF, LIBRARY, NOBODY, ScratchCase, kox_entries, reachable_program,  # noqa: E402
                         refuse_unnamed_files, run)
import test_signing as signing  # noqa: E402
from test_interrupted_writes import AS_BEFORE, RESTORED  # noqa: E402

# The calls that change what a file or directory holds.
CHANGES = "write,pwrite64,writev,fsync,fdatasync,ftruncate,unlink,unlinkat,linkat,rename,renameat,renameat2"
# A user without an account: the co-worker on a shared archive.
OTHER = 4242
ROOT = 0
CALL = re.compile(r"^([a-z0-9_]+)\(")


def setUpModule():
    signing.setUpModule()


def tearDownModule():
    signing.tearDownModule()


def as_user(uid, one_processor=False):
    """For preexec_fn: goes on as uid (root stays root), on one processor
    when asked, so that the run makes the same calls in the same order."""

    def become():
        if one_processor:
            os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
        if uid != ROOT:
            os.setgroups([])
            os.setgid(uid)
            os.setuid(uid)

    return become


def names(path):
    with open(path, "rb") as f:
        return [entry[1] for entry in kox_entries(f.read())]


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("strace"), "needs strace and to act as other users")
class KilledAtEveryChange(ScratchCase):
    def setUp(self):
        super().setUp()
        self.program = reachable_program(self)
        self.library = os.path.join(os.path.dirname(self.program), "libkovcrypto.so")
        # Where other users can reach: the checkout may lie below a home
        # directory they can not enter.
        self.base = tempfile.mkdtemp(prefix="kov-killed-")
        os.chmod(self.base, 0o755)
        self.addCleanup(shutil.rmtree, self.base, True)
        self.count = 0

    def kov(self, args, cwd, uid=ROOT):
        proc = subprocess.run([self.program] + list(args), cwd=cwd, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, env=dict(os.environ, TZ="UTC"), timeout=300,
                              preexec_fn=as_user(uid))
        return proc.returncode, proc.stdout.decode("latin-1")

    def strace(self, options, args, cwd, uid, trace=os.devnull):
        env = dict(os.environ, TZ="UTC", ASAN_OPTIONS="detect_leaks=0")
        return subprocess.run(["strace", "-o", trace] + options + [self.program] + args,
                              cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, timeout=300,
                              preexec_fn=as_user(uid, one_processor=True)).returncode

    def changes(self, args, cwd, uid):
        """The calls of a run that change files of cwd, in order, each as
        (call, how many calls of its name the run had made by then)."""
        trace = os.path.join(self.base, "trace")
        self.assertEqual(self.strace(["-y", "-e", "trace=" + CHANGES], args, cwd, uid, trace), 0)
        seen, points = {}, []
        with open(trace, encoding="latin-1") as f:
            for line in f:
                call = CALL.match(line)
                if call:
                    name = call.group(1)
                    seen[name] = seen.get(name, 0) + 1
                    if "<" + cwd in line:
                        points.append((name, seen[name]))
        return points

    def copy(self, template, owner=ROOT, mode=0o755):
        self.count += 1
        work = os.path.join(self.base, "w%d" % self.count)
        shutil.copytree(template, work)
        for root, dirs, files in os.walk(work):
            for name in dirs + files:
                os.lchown(os.path.join(root, name), owner, owner)
        os.chown(work, owner, owner)
        os.chmod(work, mode)
        return work

    def template(self, command, signed):
        """A directory with the archive a.kox and what the runs add, and the
        archive as a backup that holds one more entry behind its end."""
        self.count += 1
        work = os.path.join(self.base, "t%d" % self.count)
        os.mkdir(work)
        for name, size in (("f1.txt", 300), ("f2.txt", 5000), ("new.txt", 700), ("x1.txt", 40), ("x2.txt", 50),
                           ("d2/g.txt", 900)):
            os.makedirs(os.path.dirname(os.path.join(work, name)), exist_ok=True)
            with open(os.path.join(work, name), "wb") as f:
                f.write(os.urandom(size // 2) + name.encode() * (size // 2 // len(name)))
        create = ["-cVf", "a.kox", "f1.txt", "f2.txt"] + self.signing() if signed else ["-cf", "a.kox", "f1.txt",
                                                                                        "f2.txt"]
        for args in (["-cf", "src.kox", "x2.txt", "f1.txt"], create):
            rc, out = self.kov(args, work)
            self.assertEqual(rc, 0, out)
        shutil.copyfile(os.path.join(work, "a.kox"), os.path.join(work, "backup.kox"))
        rc, out = self.kov(["-af", "backup.kox", "x1.txt"], work)
        self.assertEqual(rc, 0, out)
        return work

    def signing(self):
        return ["-L", self.library, "-key", os.path.join(signing.PKI, "signer.p12"), "-pwd", "signpin", "-tsaurl",
                signing.TSA_URL]

    def test_no_killed_run_undoes_what_a_later_run_reported_done(self):
        # Faults caught: a run killed after its last write, before its undo
        # record was removed, left a whole archive beside a record that still
        # fit it; an append through the archive's second hard-link name, or
        # by another user of a shared archive, then succeeded, and the next
        # run through the first name cut both away, reported as "restored".
        # A record that could not be removed (read-only directory) was said
        # to be removed, and the run appended without a record of its own,
        # for the run after it to cut away.  A backup of a signed archive
        # with one more entry behind its manifest, copied in after a killed
        # signing run, was cut back to the old length.
        commands = [("append", ["-af", "a.kox", "new.txt"], False), ("merge", ["-mf", "src.kox,a.kox"], False),
                    ("create", ["-cf", "a.kox", "d2"], False), ("sign", ["-Sf", "a.kox"], False),
                    ("sign again", ["-Sf", "a.kox"], True), ("verified append", ["-aVf", "a.kox", "new.txt"], True)]
        for label, args, signed in commands:
            plain = label in ("append", "merge", "create")
            args = args + ([] if plain else self.signing())
            template = self.template(label, signed)
            old = names(os.path.join(template, "a.kox"))
            backup = names(os.path.join(template, "backup.kox"))
            done = self.copy(template)
            rc, out = self.kov(args, done)
            self.assertEqual(rc, 0, (label, out))
            new = names(os.path.join(done, "a.kox"))
            points = self.changes(args, self.copy(template), ROOT)
            self.assertGreaterEqual(len(points), 4, label)
            follow_ups = ["second name", "copy put back", "other user"] + (["read-only directory"] if plain else [])
            for point in points:
                for follow_up in follow_ups:
                    self.check(label, args, template, point, follow_up, old, new, backup)

    def check(self, label, args, template, point, follow_up, old, new, backup):
        # The killed run's user, and the user of the run in between.
        killer, between = ROOT, ROOT
        if follow_up == "other user":
            # A shared directory and archive; the killed run is another
            # user's than the archive's where the archive can be signed by
            # root only (the key store lies where only root reads).
            work = self.copy(template, mode=0o1777)
            os.chmod(os.path.join(work, "a.kox"), 0o666)
            killer = NOBODY if label in ("append", "merge", "create") else ROOT
            between = OTHER
        elif follow_up == "read-only directory":
            work = self.copy(template, owner=NOBODY)
            killer = between = NOBODY
        else:
            work = self.copy(template)
        archive = os.path.join(work, "a.kox")
        note = (label, point, follow_up)
        name, nth = point
        status = self.strace(["-e", "trace=" + name, "-e", "inject=%s:signal=KILL:when=%d" % (name, nth)], args, work,
                             killer)
        committed = []
        candidates = [old, new]
        if status not in (-9, 137):
            # Another user's run can end before that call (a create can not
            # put its archive in place of another user's in a shared
            # directory): what it reported holds.
            self.assertNotEqual(killer, ROOT, note)
            candidates = [new] if status == 0 else [old]
        if follow_up == "second name":
            os.link(archive, os.path.join(work, "b.kox"))
            rc, out = self.kov(["-af", "b.kox", "x1.txt"], work, between)
            committed += ["x1.txt"] if rc == 0 else []
        elif follow_up == "other user":
            rc, out = self.kov(["-af", "a.kox", "x1.txt"], work, between)
            committed += ["x1.txt"] if rc == 0 else []
        elif follow_up == "copy put back":
            # Into the file itself, as cp does: a fresh time, the same inode.
            with open(os.path.join(work, "backup.kox"), "rb") as f, open(archive, "r+b") as out_file:
                data = f.read()
                out_file.write(data)
                out_file.truncate(len(data))
            candidates = [backup]
        else:
            os.chmod(work, 0o555)
            rc, out = self.kov(["-af", "a.kox", "x1.txt"], work, between)
            os.chmod(work, 0o755)
            if rc == 0:
                committed.append("x1.txt")
            else:
                # A run that could not remove a record appended nothing (the
                # names checked below) and did not say it was removed.
                self.assertNotIn("was removed", out, note)
        rc, out = self.kov(["-af", "a.kox", "x2.txt"], work, killer)
        self.assertEqual(rc, 0, (note, out))
        committed.append("x2.txt")
        rc, out = self.kov(["-tf", "a.kox"], work)
        self.assertEqual(rc, 0, (note, out))
        self.assertIn(names(archive), [base + committed for base in candidates], (note, out))
        self.assertEqual([n for n in os.listdir(work) if n.startswith(".")], [], note)
        shutil.rmtree(work)


# One call of a trace made with -y: its name, the path of its first
# descriptor, the text of its first string (written bytes as strace shows
# them), its other arguments and its result.
TRACED = re.compile(r'^([a-z0-9_]+)\(\d+<([^>]*)>(?:, "((?:[^"\\]|\\.)*)"(\.\.\.)?)?(.*)\) += (-?\d+)')
ZEROS = re.compile(r'(\\0)+')
DEAD_AUTHORITY = "http://127.0.0.1:1/tsa"


class EndingsCase(unittest.TestCase):
    """A directory other users can reach, with files to archive, and the
    program run there."""

    def setUp(self):
        self.program = reachable_program(self)
        self.library = os.path.join(os.path.dirname(self.program), "libkovcrypto.so")
        # Where other users can reach (see KilledAtEveryChange).
        self.dir = tempfile.mkdtemp(prefix="kov-endings-")
        os.chmod(self.dir, 0o755)
        self.addCleanup(shutil.rmtree, self.dir, True)
        for name, size in (("d/a.txt", 3000), ("d/b.txt", 900), ("new.txt", 150), ("x.txt", 60),
                           ("big.bin", 70000)):
            os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
            with open(self.path(name), "wb") as f:
                f.write(os.urandom(size))

    def path(self, name):
        return os.path.join(self.dir, name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def leftovers(self):
        return sorted(n for n in os.listdir(self.dir) if n.startswith("."))

    def kov(self, *args, uid=ROOT, url=None):
        extra = []
        if url:
            extra = ["-L", self.library, "-key", os.path.join(signing.PKI, "signer.p12"), "-pwd", "signpin",
                     "-tsaurl", url]
        proc = subprocess.run([self.program] + list(args) + extra, cwd=self.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, env=dict(os.environ, TZ="UTC"), timeout=300,
                              preexec_fn=as_user(uid))
        return proc.returncode, proc.stdout.decode("latin-1")

    def ok(self, *args, url=None):
        rc, out = self.kov(*args, url=url)
        self.assertEqual(rc, 0, (args, out))
        return out

    def names(self, name="a.kox"):
        return [entry[1] for entry in kox_entries(self.read(name))]

    def starts(self):
        self.ok("-cf", "src.kox", "x.txt")
        self.ok("-cf", "plain.kox", "d/a.txt", "d/b.txt")
        self.ok("-cVf", "signed.kox", "d/a.txt", "d/b.txt", url=signing.TSA_URL)


@unittest.skipUnless(shutil.which("strace"), "needs strace")
class WhatEveryEndingLeaves(EndingsCase):
    """Runs that end other than by success or a plain kill -- an error kept
    by i, an append-only archive, a time the archive shows from a file
    server's clock, a power loss (the order of the calls that put bytes on
    storage) -- and the readers of an archive a killed run left torn."""

    def strace(self, options, args, url=None):
        extra = []
        if url:
            extra = ["-L", self.library, "-key", os.path.join(signing.PKI, "signer.p12"), "-pwd", "signpin",
                     "-tsaurl", url]
        env = dict(os.environ, TZ="UTC", ASAN_OPTIONS="detect_leaks=0")
        # On one processor the run writes all from its one thread, which
        # strace follows.
        return subprocess.run(["strace", "-qq"] + options + [self.program] + list(args) + extra, cwd=self.dir,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=300,
                              preexec_fn=as_user(ROOT, one_processor=True))

    def killed_at(self, call, nth, args, url=None):
        """Runs args, killed as its nth call of that name begins."""
        proc = self.strace(["-o", os.devnull, "-e", "trace=" + call, "-e",
                            "inject=%s:signal=KILL:when=%d" % (call, nth)], args, url)
        self.assertIn(proc.returncode, (-9, 137), (args, call, nth))

    def traced(self, args, url=None, status=0):
        """Runs args under strace, which must end with status; the calls
        that put bytes or names on storage, each as (call, path of its
        descriptor, written text as strace shows it, whether that was cut
        short, its other arguments)."""
        log = self.dir + ".trace"
        proc = self.strace(["-y", "-s", "5000", "-o", log, "-e",
                            "trace=write,pwrite64,fsync,fdatasync,ftruncate,linkat,unlinkat,renameat,renameat2"],
                           args, url)
        self.assertEqual(proc.returncode, status, (args, proc.stdout))
        with open(log, encoding="latin-1") as f:
            calls = [m.group(1, 2, 3, 4, 5) for m in map(TRACED.match, f) if m]
        os.unlink(log)
        return calls

    def archive_calls(self, calls):
        archive = os.path.realpath(self.path("a.kox"))
        return [(call, text, cut, rest) for call, path, text, cut, rest in calls if path == archive]

    def record_named(self, calls):
        """The index of the call that gives the undo record its name."""
        return next(i for i, c in enumerate(calls) if c[0] == "linkat" and '".a.kox.undo"' in c[4])

    def check_write_order(self, label, calls, write_at, inside):
        """The order a writing run must keep, whatever a power loss keeps of
        what it did not sync: its record named and on storage before the
        archive's first write, which writes zeros where the run's bytes
        begin (on storage before any other byte when they lie inside the
        old length); the run's first bytes written last, behind a sync of
        all else, at write_at, and synced before the record goes."""
        named = self.record_named(calls)
        directory = os.path.realpath(self.dir)
        first_write = next(i for i, c in enumerate(calls) if c[1] == os.path.realpath(self.path("a.kox")))
        self.assertIn(("fsync", directory), [c[:2] for c in calls[named:first_write]], label)
        ours = self.archive_calls(calls)
        (call, zeros, cut, _), after = ours[0], ours[1]
        self.assertEqual(call, "write", label)
        if inside:
            self.assertTrue(ZEROS.fullmatch(zeros) and not cut, (label, zeros[:80]))
            self.assertIn(after[0], ("fdatasync", "fsync"), label)
        else:
            self.assertTrue(zeros.startswith("\\0" * 32), (label, zeros[:80]))
        puts = [i for i, c in enumerate(ours) if c[0] == "pwrite64"]
        self.assertEqual(len(puts), 1, label)
        last = puts[0]
        # Behind the old end the zeros need no sync of their own: an append
        # syncs once before its first bytes go in, if anything followed them.
        syncs = sum(c[0] in ("fdatasync", "fsync") for c in ours[:last])
        self.assertLessEqual(syncs, 2 if inside else 1, label)
        self.assertEqual(int(ours[last][3].split(",")[-1]), write_at, label)
        # All the run wrote besides zeros is on storage before its first bytes.
        wrote = max(i for i, c in enumerate(ours[:last]) if c[0] == "write")
        if not (ZEROS.fullmatch(ours[wrote][1]) and not ours[wrote][2]):
            self.assertTrue(any(c[0] in ("fdatasync", "fsync") for c in ours[wrote + 1:last]), label)
        self.assertEqual([c[0] for c in ours[last + 1:]], ["fsync"], label)
        removed = next(i for i, c in enumerate(calls) if c[0] == "unlinkat" and c[2] == ".a.kox.undo")
        synced = max(i for i, c in enumerate(calls) if c[:2] == ("fsync", os.path.realpath(self.path("a.kox"))))
        self.assertLess(synced, removed, label)

    def check_put_back_order(self, label, calls, old, write_at):
        """A put-back cuts the archive to its old length and syncs that
        before it writes the old bytes back, then syncs them."""
        ours = self.archive_calls(calls)
        ours = ours[[c[0] for c in ours].index("ftruncate"):]
        self.assertEqual([c[0] for c in ours[:4]], ["ftruncate", "fsync", "pwrite64", "fsync"], label)
        self.assertEqual(int(ours[0][3].strip(", ")), len(old), label)
        self.assertEqual(int(ours[2][3].split(",")[-1]), write_at, label)
        self.assertEqual(self.read("a.kox")[:len(old)], old, label)

    def test_no_run_ends_with_its_archive_torn_for_good(self):
        # Faults caught, each making every later run fail with 5 ("A run
        # writing it was killed"), though none was: an append that signs
        # anew, its signing failed and its archive kept by i (status 60),
        # removed its undo record and left zeros where its entries begin,
        # and what its entries did not overwrite of the old manifest behind
        # them; an append or merge into an append-only archive (chattr +a)
        # failed with 4 and left zeros the put-back could not reach (and,
        # written without a record, one stopped by a signal or failing left
        # bytes it could not cut back: such an archive is refused); a
        # killed run's archive that shows a time older than its record (a
        # file server's clock, touch) was judged another one and left torn.
        names = lambda name: [entry[1] for entry in kox_entries(self.read(name))]  # noqa: E731
        self.ok("-cVf", "a.kox", "d/a.txt", "d/b.txt", url=signing.TSA_URL)
        rc, out = self.kov("-aVif", "a.kox", "new.txt", url=DEAD_AUTHORITY)
        self.assertEqual(rc, 60, out)
        self.assertEqual(self.leftovers(), [])
        self.assertIn("new.txt", self.ok("-tf", "a.kox"))
        self.ok("-af", "a.kox", "x.txt")
        self.assertEqual(names("a.kox"), ["d/a.txt", "d/b.txt", "new.txt", "x.txt"])

        self.ok("-cf", "b.kox", "d/a.txt")
        self.ok("-cf", "src.kox", "x.txt")
        if subprocess.run(["chattr", "+a", self.path("b.kox")], stderr=subprocess.DEVNULL).returncode == 0:
            self.addCleanup(subprocess.run, ["chattr", "-a", self.path("b.kox")])
            # Every writing run is refused before it writes.
            appended = self.read("b.kox")
            for args, url in ((["-af", "b.kox", "big.bin"], None), (["-mf", "src.kox,b.kox"], None),
                              (["-Sf", "b.kox"], DEAD_AUTHORITY)):
                rc, out = self.kov(*args, url=url)
                self.assertEqual(rc, 6, out)
                self.assertIn("Operation not permitted", out)
                self.assertEqual(self.read("b.kox"), appended)
                self.assertEqual(self.leftovers(), [])

        # Killed as it puts in its first bytes: zeros stand where they go.
        before = names("a.kox")
        self.killed_at("pwrite64", 1, ["-af", "a.kox", "new.txt"])
        hour_ago = time.time() - 3600
        os.utime(self.path("a.kox"), (hour_ago, hour_ago))
        rc, out = self.kov("-af", "a.kox", "x.txt")
        self.assertEqual((rc, out), (0, RESTORED))
        self.assertEqual(names("a.kox"), before + ["x.txt"])
        self.assertEqual(self.leftovers(), [])

    def test_the_order_on_storage_survives_a_power_loss(self):
        # Faults caught: a run that writes inside the archive's old length
        # (signing it again, an append that signs anew) wrote its zeros and
        # its other bytes with one unsynced write; a power loss that kept
        # these and dropped the zeros left the old bytes where the run began
        # before its bytes over the old manifest, an archive its record
        # judged no longer matched and refused for good.  A put-back cut the
        # archive and wrote the old bytes back with one sync: a loss that
        # kept the bytes and not the cut left the old archive with the
        # killed run's bytes behind it, judged the same way.  A create that
        # keeps its archive (i) when its signing fails gave it the archive's
        # name before its bytes were on storage.
        self.ok("-cf", "src.kox", "x.txt")
        self.ok("-cf", "plain.kox", "d/a.txt", "d/b.txt")
        self.ok("-cVf", "signed.kox", "d/a.txt", "d/b.txt", url=signing.TSA_URL)
        runs = [("append", "plain.kox", ["-af", "a.kox", "big.bin"]),
                ("merge", "plain.kox", ["-mf", "src.kox,a.kox"]),
                ("first signing", "plain.kox", ["-Sf", "a.kox"]),
                ("signing again", "signed.kox", ["-Sf", "a.kox"]),
                ("append signing anew", "signed.kox", ["-aVf", "a.kox", "new.txt"])]
        for label, start, args in runs:
            old = self.read(start)
            shutil.copyfile(self.path(start), self.path("a.kox"))
            inside = start == "signed.kox"
            write_at = kox_entries(old)[-1][0] if inside else len(old)
            url = None if label in ("append", "merge") else signing.TSA_URL
            self.check_write_order(label, self.traced(args, url), write_at, inside)
            self.assertEqual(self.leftovers(), [], label)

        # Put-backs: of a signing run killed as it puts in its first bytes,
        # by the next run; of an append that signs anew, by itself when its
        # signing fails.
        old = self.read("signed.kox")
        write_at = kox_entries(old)[-1][0]
        shutil.copyfile(self.path("signed.kox"), self.path("a.kox"))
        self.killed_at("pwrite64", 1, ["-Sf", "a.kox"], signing.TSA_URL)
        self.check_put_back_order("killed", self.traced(["-af", "a.kox", "x.txt"]), old, write_at)
        shutil.copyfile(self.path("signed.kox"), self.path("a.kox"))
        calls = self.traced(["-aVf", "a.kox", "new.txt"], DEAD_AUTHORITY, status=60)
        self.check_put_back_order("failed", calls, old, write_at)
        self.assertEqual(self.read("a.kox"), old)
        self.assertEqual(self.leftovers(), [])

        calls = self.traced(["-cVif", "a.kox", "d/a.txt"], DEAD_AUTHORITY, status=60)
        named = next(i for i, c in enumerate(calls) if c[0] == "renameat" and c[4].endswith('"a.kox"'))
        new_file = os.path.join(os.path.realpath(self.dir), calls[named][2])
        self.assertIn(("fsync", new_file), [c[:2] for c in calls[:named]])
        self.assertEqual([entry[1] for entry in kox_entries(self.read("a.kox"))], ["d/a.txt"])

    @unittest.skipUnless(os.geteuid() == 0, "needs to act as another user")
    def test_the_messages_of_a_killed_run_say_what_it_left_and_where_its_record_is(self):
        # Faults caught: an archive that a run killed before its first write
        # into it had left as it was, was said to be "restored".  A reader
        # of an archive a killed run left torn, through a second hard-link
        # name of it or as another user, was told "error reading from a.kox
        # (error 5). " and nothing of the record that puts it right.
        self.ok("-cf", "a.kox", "d/a.txt")
        before = self.read("a.kox")
        # Killed as it syncs the directory that got its record.
        self.killed_at("fsync", 2, ["-af", "a.kox", "new.txt"])
        self.assertEqual((self.read("a.kox"), self.leftovers()), (before, [".a.kox.undo"]))
        self.assertEqual(self.kov("-af", "a.kox", "x.txt"), (0, AS_BEFORE))
        self.killed_at("pwrite64", 1, ["-af", "a.kox", "new.txt"])
        os.link(self.path("a.kox"), self.path("b.kox"))
        second_name = ("KOVZEF: error reading from b.kox (error 5). A run writing it was killed; the next run "
                       "that writes to it as a.kox restores it from its undo record .a.kox.undo.\n")
        other_user = ("KOVZEF: error reading from a.kox (error 5). A run writing it may have been killed: its undo "
                      "record .a.kox.undo, which this user can not use, restores it at the next run of that "
                      "record's owner that writes to it as a.kox.\n")
        for args, uid, said in ((["-tf", "b.kox"], ROOT, second_name), (["-af", "b.kox", "x.txt"], ROOT, second_name),
                                (["-tf", "a.kox"], NOBODY, other_user)):
            rc, out = self.kov(*args, uid=uid)
            self.assertEqual(rc, 5, (args, out))
            self.assertTrue(out.endswith(said), (args, out))
        rc, out = self.kov("-af", "a.kox", "x.txt")
        self.assertEqual((rc, out), (0, RESTORED))
        self.assertEqual(self.ok("-tf", "b.kox").count(".txt"), 3)

    # An archive a killed run left torn keeps the record that puts it right
    # until it is put back, however it got to its name and whoever meets it;
    # and every state a put-back or a kept archive can be cut short in reads
    # as torn or whole.

    def test_a_copy_of_a_torn_archive_put_at_its_name_is_put_back(self):
        # Fault caught: a copy of the archive a killed run left torn, put at
        # its name as a new file (cp then mv, a copy renamed over it), was
        # judged another archive by its inode: the next run removed the
        # undo record, said it "no longer matched", and every run after it
        # failed with 5 for good.
        self.starts()
        runs = [("append", "plain.kox", ["-af", "a.kox", "new.txt"], None),
                ("merge", "plain.kox", ["-mf", "src.kox,a.kox"], None),
                ("first signing", "plain.kox", ["-Sf", "a.kox"], signing.TSA_URL),
                ("signing again", "signed.kox", ["-Sf", "a.kox"], signing.TSA_URL),
                ("verified append", "signed.kox", ["-aVf", "a.kox", "new.txt"], signing.TSA_URL),
                ("verified append kept", "signed.kox", ["-aVif", "a.kox", "new.txt"], signing.TSA_URL)]
        for label, start, args, url in runs:
            shutil.copyfile(self.path(start), self.path("a.kox"))
            old, before = self.read("a.kox"), self.names()
            # Killed as it puts in its first bytes: zeros stand where they go.
            self.killed_at("pwrite64", 1, args, url)
            self.assertNotEqual(self.read("a.kox"), old, label)
            shutil.copyfile(self.path("a.kox"), self.path("copy"))
            os.rename(self.path("copy"), self.path("a.kox"))
            rc, out = self.kov("-af", "a.kox", "x.txt")
            self.assertEqual((rc, out), (0, RESTORED), label)
            self.assertEqual(self.read("a.kox")[:len(old)], old, label)
            self.assertEqual(self.names(), before + ["x.txt"], label)
            self.assertEqual(self.leftovers(), [], label)

    def first_call_after(self, calls, call, after):
        """The number among the run's calls of that name of the first one
        that comes after the last call named after on the archive."""
        archive = os.path.realpath(self.path("a.kox"))
        last = max(i for i, c in enumerate(calls) if c[0] == after and c[1] == archive)
        return 1 + sum(c[0] == call for c in calls[:last + 1])

    def test_a_put_back_cut_short_after_the_runs_first_bytes_reads_as_torn(self):
        # Fault caught: a signing run, or an append that signs anew, stopped
        # by SIGTERM as it synced its last bytes (a shutdown) puts the
        # archive back itself; killed after the put-back's synced cut and
        # before the old bytes went back (the shutdown's second signal), it
        # left the old length with the run's first bytes at the write
        # offset, which the next run took for all the run wrote: it removed
        # the record, and every run after it failed for good.
        # A manifest longer than the first bytes a record keeps: the run's
        # first bytes all lie inside the old length.
        os.mkdir(self.path("many"))
        for i in range(120):
            with open(self.path("many/f%03d.txt" % i), "wb") as f:
                f.write(b"%d\n" % i)
        self.ok("-cVf", "signed.kox", "many", url=signing.TSA_URL)
        manifest_at = kox_entries(self.read("signed.kox"))[-1][0]
        self.assertGreater(len(self.read("signed.kox")) - manifest_at, 4096)
        watched = "trace=write,pwrite64,fsync,fdatasync,ftruncate,linkat,unlinkat,renameat,renameat2"
        for label, args in (("signing again", ["-Sf", "a.kox"]), ("verified append", ["-aVf", "a.kox", "new.txt"])):
            shutil.copyfile(self.path("signed.kox"), self.path("a.kox"))
            old, before = self.read("a.kox"), self.names()
            # The run's last sync: the first after its first bytes went in.
            term = self.first_call_after(self.traced(args, signing.TSA_URL), "fsync", "pwrite64")
            stop = ["-e", "inject=fsync:signal=TERM:when=%d" % term]
            shutil.copyfile(self.path("signed.kox"), self.path("a.kox"))
            log = self.dir + ".trace"
            proc = self.strace(["-y", "-o", log, "-e", watched] + stop, args, signing.TSA_URL)
            self.assertEqual(proc.returncode, 143, (label, proc.stdout))
            self.assertEqual(self.read("a.kox"), old, label)
            with open(log, encoding="latin-1") as f:
                calls = [m.group(1, 2, 3, 4, 5) for m in map(TRACED.match, f) if m]
            os.unlink(log)
            # Killed as the put-back, its cut on storage, writes the old bytes.
            kill = self.first_call_after(calls, "pwrite64", "ftruncate")
            shutil.copyfile(self.path("signed.kox"), self.path("a.kox"))
            proc = self.strace(["-o", os.devnull, "-e", "trace=fsync,pwrite64"] + stop +
                               ["-e", "inject=pwrite64:signal=KILL:when=%d" % kill], args, signing.TSA_URL)
            self.assertIn(proc.returncode, (-9, 137), (label, proc.stdout))
            self.assertEqual(len(self.read("a.kox")), len(old), label)
            rc, out = self.kov("-af", "a.kox", "x.txt")
            self.assertEqual((rc, out), (0, RESTORED), label)
            self.assertEqual(self.names(), before + ["x.txt"], label)
            self.assertEqual(self.leftovers(), [], label)

    def test_a_kept_archive_has_its_cut_on_storage_before_its_first_bytes(self):
        # Fault caught: an append that signs anew, its signing failed and
        # its entries kept (i), cut the old manifest's rest behind its
        # entries and wrote its first bytes with no sync in between: a power
        # loss that kept the write and lost the cut left the old manifest's
        # tail behind the new entries, which the next run took for whole.
        self.starts()
        shutil.copyfile(self.path("signed.kox"), self.path("a.kox"))
        calls = self.archive_calls(self.traced(["-aVif", "a.kox", "new.txt"], DEAD_AUTHORITY, status=60))
        order = [c[0] for c in calls]
        cut = order.index("ftruncate")
        put = order.index("pwrite64", cut)
        self.assertTrue(set(order[cut + 1:put]) & {"fsync", "fdatasync"}, order)
        self.assertEqual(self.names(), ["d/a.txt", "d/b.txt", "new.txt"])
        self.assertEqual(self.leftovers(), [])

    @unittest.skipUnless(os.geteuid() == 0, "needs to act as two users")
    def test_another_user_is_told_what_a_reader_is_told_and_never_to_remove_the_record(self):
        # Fault caught: in a directory of a shared group (2775), a user
        # whose append met the undo record of the archive owner's killed
        # append was told to check the archive and then remove the record
        # to go on (status 100); removing it left the archive torn for good.
        owner, other, group = NOBODY, OTHER, OTHER + 1

        def as_member(uid):
            def become():
                os.setgroups([group])
                os.setgid(uid)
                os.setuid(uid)
                os.umask(0o002)
            return become

        shared = self.path("shared")
        os.mkdir(shared)
        os.chown(shared, owner, group)
        os.chmod(shared, 0o2775)
        for name in ("d/a.txt", "new.txt", "x.txt"):
            shutil.copy(self.path(name), shared)

        def kov(uid, *args):
            proc = subprocess.run([self.program] + list(args), cwd=shared, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, env=dict(os.environ, TZ="UTC"), timeout=300,
                                  preexec_fn=as_member(uid))
            return proc.returncode, proc.stdout.decode("latin-1")

        self.assertEqual(kov(owner, "-cf", "a.kox", "a.txt"), (0, ""))
        archive = os.path.join(shared, "a.kox")
        with open(archive, "rb") as f:
            old = f.read()
        proc = subprocess.run(["strace", "-qq", "-o", os.devnull, "-e", "trace=pwrite64", "-e",
                               "inject=pwrite64:signal=KILL:when=1", self.program, "-af", "a.kox", "new.txt"],
                              cwd=shared, env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=as_member(owner))
        self.assertIn(proc.returncode, (-9, 137))
        with open(archive, "rb") as f:
            torn = f.read()
        note = ("A run writing it may have been killed: its undo record .a.kox.undo, which this user can not use, "
                "restores it at the next run of that record's owner that writes to it as a.kox.")
        for args, status in ((["-af", "a.kox", "x.txt"], 100), (["-tf", "a.kox"], 5)):
            rc, out = kov(other, *args)
            self.assertEqual(rc, status, out)
            self.assertTrue(out.rstrip("\n").endswith(note), out)
            self.assertNotIn("remove", out)
            with open(archive, "rb") as f:
                self.assertEqual(f.read(), torn)
            self.assertTrue(os.path.exists(os.path.join(shared, ".a.kox.undo")))
        rc, out = kov(owner, "-af", "a.kox", "x.txt")
        self.assertEqual((rc, out), (0, RESTORED))
        with open(archive, "rb") as f:
            self.assertEqual(f.read()[:len(old)], old)

    def test_the_records_fallback_name_is_taken_only_from_a_killed_run(self):
        # Fault caught: every writing run removed a file named
        # .a.kox.undo.new (where a record is written when it can not be
        # made without a name) by its name, the user's own too.
        self.starts()
        shutil.copyfile(self.path("plain.kox"), self.path("a.kox"))
        fallback = self.path(".a.kox.undo.new")
        with open(fallback, "wb") as f:
            f.write(b"the user's own\n")
        self.ok("-af", "a.kox", "x.txt")
        self.assertEqual(self.read(".a.kox.undo.new"), b"the user's own\n")
        # Where the record can not be made without a name, it is written
        # under the fallback name: the user's file there is left, and the
        # run goes on without a record.
        log = self.dir + ".trace"
        self.strace(["-o", log, "-e", "trace=openat"], ["-af", "a.kox", "new.txt"])
        with open(log, encoding="latin-1") as f:
            opens = [line for line in f if line.startswith("openat(")]
        os.unlink(log)
        nameless = 1 + next(i for i, line in enumerate(opens) if "O_TMPFILE" in line)
        no_tmpfile = ["-e", "inject=openat:error=EOPNOTSUPP:when=%d" % nameless]
        proc = self.strace(["-o", os.devnull, "-e", "trace=openat"] + no_tmpfile, ["-af", "a.kox", "x.txt"])
        self.assertEqual(proc.returncode, 0, proc.stdout)
        self.assertEqual(self.read(".a.kox.undo.new"), b"the user's own\n")
        self.assertEqual(self.names(), ["d/a.txt", "d/b.txt", "x.txt", "new.txt", "x.txt"])
        os.unlink(fallback)
        # A run killed as it names its record from there leaves the file,
        # marked as made under that name, which the next run removes.
        proc = self.strace(["-o", os.devnull, "-e", "trace=openat,renameat2"] + no_tmpfile +
                           ["-e", "inject=renameat2:signal=KILL:when=1"], ["-af", "a.kox", "x.txt"])
        self.assertIn(proc.returncode, (-9, 137))
        self.assertEqual(self.leftovers(), [".a.kox.undo.new"])
        self.ok("-af", "a.kox", "x.txt")
        self.assertEqual(self.leftovers(), [])
        # Killed as it marks the file it just made: the empty file still
        # tells that it was made so (its sticky bit), and goes too.
        proc = self.strace(["-o", os.devnull, "-e", "trace=openat,fsetxattr"] + no_tmpfile +
                           ["-e", "inject=fsetxattr:signal=KILL:when=1"], ["-af", "a.kox", "x.txt"])
        self.assertIn(proc.returncode, (-9, 137))
        self.assertEqual(self.leftovers(), [".a.kox.undo.new"])
        self.ok("-af", "a.kox", "x.txt")
        self.assertEqual(self.leftovers(), [])

def earlier_undo_record(archive, st, write_at, first, pid):
    """The undo record (magic KOVUNDO2) the two releases before the
    record's spread checksum wrote for a run of process pid that found the
    bytes archive in the file of status st and writes first, its first
    bytes, at write_at: their layout, encoded here apart from the program."""
    span = 64 * 1024
    tail, base = archive[write_at:], b"a.kox"
    head, window = zlib.crc32(archive[:min(write_at, span)]), zlib.crc32(archive[max(0, write_at - span):write_at])
    body = (b"KOVUNDO2" + struct.pack("<8Q2I2H", st.st_dev, st.st_ino, pid, 0, len(archive), write_at,
                                      int(time.time()), len(tail), head, window, len(base), len(first)) +
            base + tail + first)
    return body + struct.pack("<I", zlib.crc32(body))


class RecordsOfEarlierReleases(EndingsCase):
    def torn(self, start, args, url=None, inside=False):
        """Leaves at a.kox what a run of args of an earlier release left of
        the archive start, killed after its zeros and all its other bytes
        (zeros where its first bytes go), and writes that release's record
        of it beside; the old bytes and the record."""
        old = self.read(start)
        shutil.copyfile(self.path(start), self.path("a.kox"))
        self.ok(*args, url=url)
        whole = self.read("a.kox")
        write_at = kox_entries(old)[-1][0] if inside else len(old)
        first = whole[write_at:write_at + 4096]
        with open(self.path("a.kox"), "r+b") as f:
            f.seek(write_at)
            f.write(bytes(len(first)))
        gone = subprocess.Popen(["true"])
        gone.wait()
        record = earlier_undo_record(old, os.stat(self.path("a.kox")), write_at, first, gone.pid)
        self.put_record(record)
        return old, record

    def put_record(self, record):
        with open(self.path(".a.kox.undo"), "wb") as f:
            f.write(record)
        os.chmod(self.path(".a.kox.undo"), 0o600)

    def test_a_torn_archive_beside_a_record_of_an_earlier_release_is_put_back(self):
        # Faults caught: the undo record an append or re-sign of the two
        # earlier releases, killed after its zeros, left beside its torn
        # archive (KOVUNDO2) was refused as damaged (100) with the advice to
        # remove it, which left the archive failing every run with 5 for
        # good, and the old manifest of a re-sign, kept only in the record,
        # lost.  A reader told the record's own user that a damaged record
        # "which this user can not use" restores it "at the next run of that
        # record's owner", and a writing run advised removing it while the
        # archive read torn.  An append with no names ended 29 and left a
        # torn archive torn.  A torn archive that could not be written was
        # reported as "... Permission deniedA run writing it was killed".
        self.starts()
        old, record = self.torn("plain.kox", ["-af", "a.kox", "new.txt"])
        torn = self.read("a.kox")
        before = [entry[1] for entry in kox_entries(old)]
        damaged = bytearray(record)
        damaged[30] ^= 1
        self.put_record(bytes(damaged))
        rc, out = self.kov("-tf", "a.kox")
        self.assertEqual(rc, 5, out)
        self.assertTrue(out.endswith(
            "A run writing it may have been killed: its undo record .a.kox.undo is damaged; the entries before the "
            "tear still extract with -x, and a copy of the archive from before that run puts it back.\n"), out)
        rc, out = self.kov("-af", "a.kox", "x.txt")
        self.assertEqual(rc, 100, out)
        self.assertIn("the archive reads torn", out)
        self.assertNotIn("remove", out)
        # As said: the entries before the tear extract.
        os.mkdir(self.path("out"))
        rc, out = self.kov("-xf", "a.kox", "-R", "out")
        self.assertEqual(rc, 5, out)
        for name in before:
            with open(self.path(os.path.join("out", name)), "rb") as f:
                self.assertEqual(f.read(), self.read(name), name)
        self.assertEqual(self.read("a.kox"), torn)
        if os.geteuid() == ROOT:
            # The record's user may not write the archive.
            self.put_record(record)
            os.chown(self.path(".a.kox.undo"), NOBODY, NOBODY)
            self.assertEqual(self.kov("-af", "a.kox", "x.txt", uid=NOBODY),
                             (4, "KOVZEF: error writing to a.kox (error 4). Permission denied. A run writing it was "
                                 "killed; its undo record .a.kox.undo stays and restores it at the next run that "
                                 "writes to it.\n"))
            self.assertEqual(self.read("a.kox"), torn)
        self.put_record(record)
        os.chown(self.path(".a.kox.undo"), os.geteuid(), os.getegid())
        self.assertEqual(self.kov("-af", "a.kox", "x.txt"), (0, RESTORED))
        self.assertEqual(self.read("a.kox")[:len(old)], old)
        self.assertEqual(self.names(), before + ["x.txt"])
        self.assertEqual(self.leftovers(), [])

        # A re-sign: the old manifest comes back from the record, and with it
        # the earlier signature; an append with no names puts it back and
        # adds nothing, and on a whole archive still ends with 29.
        old, _ = self.torn("signed.kox", ["-Sf", "a.kox"], signing.TSA_URL, inside=True)
        self.assertNotEqual(self.read("a.kox"), old)
        self.assertEqual(self.kov("-af", "a.kox"), (0, RESTORED))
        self.assertEqual(self.read("a.kox"), old)
        self.assertEqual(self.leftovers(), [])
        rc, out = self.kov("-tVf", "a.kox", "-L", self.library)
        self.assertEqual(rc, 0, out)
        self.assertEqual(self.kov("-af", "a.kox"), (29, "KOVZEF: no files specified for appending (error 29). \n"))
        self.assertEqual(self.read("a.kox"), old)


# The call that makes a run's hidden file: without a name, or by its name.
MAKES_HIDDEN = re.compile(r'^(openat\(.*(O_TMPFILE|\.(new|part)", O_WRONLY\|O_CREAT\|O_EXCL)|mkdir\(.*\.part")')


@unittest.skipUnless(shutil.which("strace"), "needs strace")
class KilledAsItMakesAHiddenFile(ScratchCase):
    def setUp(self):
        super().setUp()
        self.template = self.path("template")
        for name, size in (("small.txt", 300), ("d/a.txt", 3000), ("d/b.txt", 900)):
            os.makedirs(os.path.dirname(os.path.join(self.template, name)), exist_ok=True)
            with open(os.path.join(self.template, name), "wb") as f:
                f.write(os.urandom(size))
        signer = ["-L", LIBRARY, "-key", os.path.join(signing.PKI, "signer.p12"), "-pwd", "signpin", "-tsaurl",
                  signing.TSA_URL]
        for args in (["-cf", "a.kox", "small.txt"], ["-cVf", "s.kox", "d"] + signer):
            rc, out = run(args, self.template)
            self.assertEqual(rc, 0, out)
        # What a verified extraction replaces: the files are staged beside
        # their paths.
        shutil.copytree(os.path.join(self.template, "d"), os.path.join(self.template, "x", "d"))
        # Where it makes the directory it fills under a hidden name.
        os.mkdir(os.path.join(self.template, "y"))
        # Empty files and directories of the form the user made, without the
        # mark: one without the sticky bit, one with it and a time of its own.
        gone = subprocess.Popen(["true"])
        gone.wait()
        self.lookalikes = []
        for name in (".a.kox.%d-%d.new", ".n.kox.%d-%d.new", "x/d/.a.txt.%d-%d.part"):
            for n, mode in enumerate((0o600, 0o1600)):
                self.lookalikes.append(name % (gone.pid, n))
                made = os.path.join(self.template, self.lookalikes[-1])
                with open(made, "wb"):
                    pass
                os.chmod(made, mode)
                if mode & 0o1000:
                    os.utime(made, (1_000_000_000, 1_000_000_000))
        for n, mode in enumerate((0o700, 0o1700)):
            self.lookalikes.append("y/.e.%d-%d.part" % (gone.pid, n))
            made = os.path.join(self.template, self.lookalikes[-1])
            os.mkdir(made)
            os.chmod(made, mode)
            if mode & 0o1000:
                os.utime(made, (1_000_000_000, 1_000_000_000))

    def traced(self, args, cwd, refuse, trace=os.devnull, options=()):
        """Runs args in cwd under strace, on one processor, refused files
        without a name when refuse holds; the run's status."""

        def prepare():
            os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
            if refuse:
                refuse_unnamed_files()

        env = dict(os.environ, TZ="UTC", ASAN_OPTIONS="detect_leaks=0")
        return subprocess.run(["strace", "-o", trace] + list(options) + [KOVZEF] + args, cwd=cwd,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, timeout=300,
                              preexec_fn=prepare).returncode

    def hidden(self, work):
        return sorted(os.path.relpath(os.path.join(root, name), work) for root, dirs, files in os.walk(work)
                      for name in dirs + files if name.startswith("."))

    def test_a_run_killed_before_its_hidden_file_bears_the_mark_leaves_none_for_good(self):
        # Faults caught: a create (and an append that starts an archive)
        # made its new file ".NAME.PID-0.new" by its name and marked it as
        # its own after: killed in between, it left an empty file without
        # the mark, which no later run removed.  Where the file system makes
        # no file without a name, a verified extraction's staged
        # ".NAME.PID-N.part" files were left so as well, as would be the
        # directory it makes under such a name to fill it.  The runs are
        # killed at each call from the one that makes the file on; the next
        # run of the command leaves no hidden file of a run.
        commands = [("create", ["-cf", "a.kox", "small.txt"], "."), ("create anew", ["-cf", "n.kox", "small.txt"], "."),
                    ("append that starts an archive", ["-af", "n.kox", "small.txt"], "."),
                    ("verified extraction", ["-xVf", "../s.kox", "-L", LIBRARY], "x"),
                    ("verified extraction into a directory it makes", ["-xVf", "../s.kox", "-L", LIBRARY], "y")]
        killed = 0
        for label, args, where in commands:
            for refuse in (False, True):
                work = self.path("traced")
                shutil.copytree(self.template, work, symlinks=True)
                trace = self.path("trace")
                self.assertEqual(self.traced(args, os.path.join(work, where), refuse, trace), 0, label)
                seen, points = {}, []
                with open(trace, encoding="latin-1") as f:
                    for line in f:
                        call = CALL.match(line)
                        if call:
                            seen[call.group(1)] = seen.get(call.group(1), 0) + 1
                            if points or MAKES_HIDDEN.match(line):
                                points.append((call.group(1), seen[call.group(1)]))
                shutil.rmtree(work)
                self.assertTrue(points, (label, refuse))
                for name, nth in points[:12]:
                    note = (label, refuse, name, nth)
                    work = self.path("w%d" % killed)
                    shutil.copytree(self.template, work, symlinks=True)
                    status = self.traced(args, os.path.join(work, where), refuse,
                                         options=["-e", "trace=" + name,
                                                  "-e", "inject=%s:signal=KILL:when=%d" % (name, nth)])
                    self.assertIn(status, (-9, 137), note)
                    killed += 1
                    rc, out = run(args, os.path.join(work, where))
                    self.assertEqual(rc, 0, (note, out))
                    self.assertEqual(self.hidden(work), sorted(self.lookalikes), note)
                    shutil.rmtree(work)
        self.assertGreaterEqual(killed, 60)


if __name__ == "__main__":
    unittest.main()

"""Writing runs killed at each change they make to the file system, then
runs through a second name of the archive, by another user, on a copy put
back at the name, and in a directory that became read-only: nothing a run
reported done is lost, and every killed run is whole or undone.  The runs
are killed under strace, which sends SIGKILL as the chosen system call
begins."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cmd_helpers import KOVZEF, NOBODY, ScratchCase, kox_entries, reachable_program  # noqa: E402
import test_signing as signing  # noqa: E402

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


if __name__ == "__main__":
    unittest.main()

"""Runs under a limit on the process's address space (ulimit -v): where the
memory runs out the run ends with status 2 through its own clean-up, the
archive as it was and an archive streamed to standard output marked as
failed; it never hangs or aborts, and where fewer worker threads fit than
the machine has processors, it runs with fewer and succeeds."""

import os
import resource
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cmd_helpers import KOVZEF, ScratchCase  # noqa: E402
from test_install import sanitized  # noqa: E402

NO_MEMORY = "KOVZEF: can not allocate new memory"


def limited(args, cwd, kib):
    """Runs the program with its address space limited to kib KiB; (status,
    standard output bytes, standard error text).  A run that hangs is killed
    (it may ignore SIGTERM) and reported as status None."""
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (kib * 1024, kib * 1024))

    try:
        proc = subprocess.run([KOVZEF] + list(args), cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=dict(os.environ, TZ="UTC"), preexec_fn=limit, timeout=60)
    except subprocess.TimeoutExpired:
        return None, b"", "hung"
    return proc.returncode, proc.stdout, proc.stderr.decode("latin-1")


@unittest.skipIf(sanitized(), "a sanitizer runtime reserves more address space than any limit here leaves")
class MemoryLimits(ScratchCase):
    def read(self, rel):
        with open(self.path(rel), "rb") as f:
            return f.read()

    def leftovers(self):
        return sorted(n for n in os.listdir(self.dir) if n.startswith("."))

    def floor(self):
        """The least limit (KiB) under which a create of one small file
        succeeds: what the program needs to start and write at all."""
        low, high = 4096, 262144
        while high - low > 64:
            middle = (low + high) // 2
            status, _, _ = limited(["-cf", "probe.kox", "one.txt"], self.dir, middle)
            if status == 0:
                high = middle
            else:
                low = middle
        if os.path.exists(self.path("probe.kox")):
            os.unlink(self.path("probe.kox"))
        return high

    def test_out_of_memory_ends_with_2_and_fewer_workers_fit(self):
        # Faults caught: a job of the compression workers that ran out of
        # memory on a worker thread aborted the run (134, "terminate called
        # after throwing an instance of 'std::bad_alloc'"), leaving the new
        # file beside the archive and an unmarked stream; run on the
        # caller's thread (no worker thread could start) it left the job
        # unfinished, and the run hung for good, deaf to SIGINT and SIGTERM.
        # Every worker took its stack and batches even where that left the
        # run no memory, so runs that fit on one thread failed.  A handle of
        # the compression library that could not be had for memory ended
        # the run with 9 ("cslib error 0").
        for i in range(3002):
            self.write("d/f%05d" % i, os.urandom(1024) + b"a" * 1024)
        # A directory whose names take some MiB to list: the memory runs
        # out once the archive is begun.
        os.mkdir(self.path("wide"))
        for i in range(20000):
            open(self.path("wide", "%s%06d" % ("n" * 200, i)), "wb").close()
        self.write("one.txt", b"one\n")
        self.write("big/data.bin", os.urandom(3 << 20))
        for name, sources in (("whole.kox", ["d", "wide"]), ("old.kox", ["one.txt"]), ("big.kox", ["big"])):
            status, _, err = limited(["-cf", name] + sources, self.dir, 1 << 30)
            self.assertEqual(status, 0, err)
        whole, old = self.read("whole.kox"), self.read("old.kox")
        os.mkdir(self.path("x"))

        floor = self.floor()
        # Fine steps while the run may need more than it has (the names of
        # the run's entries, kept to tell two files of one place, take some
        # MiB), then on to where the workers of a large machine have their
        # stacks.
        steps = list(range(0, 12 << 10, 1536)) + list(range(12 << 10, 160 << 10, 8 << 10))
        for kib in (floor + step for step in steps):
            runs = {
                "create": (["-cf", "a.kox", "d", "wide"], "a.kox", None),
                "replace": (["-cf", "b.kox", "d", "wide"], "b.kox", old),
                "append": (["-af", "c.kox", "d", "wide"], "c.kox", old),
                "stream": (["-cf", "/dev/stdout", "d", "wide"], None, None),
                "extract": (["-xf", "../big.kox"], None, None),
            }
            for label, (args, archive, before) in runs.items():
                if archive and before is not None:
                    with open(self.path(archive), "wb") as f:
                        f.write(before)
                cwd = self.path("x") if label == "extract" else self.dir
                status, out, err = limited(args, cwd, kib)
                if label != "stream":
                    err = out.decode("latin-1") + err
                where = (label, kib - floor, status, err[-300:])
                self.assertIn(status, (0, 2), where)
                # A run out of memory ends through its own handling: its
                # message, and nothing of the archive left behind; from 24
                # MiB above what starting takes, fewer workers fit.
                if status == 2:
                    self.assertIn(NO_MEMORY, err, where)
                    self.assertLess(kib - floor, 24 << 10, where)
                self.assertEqual(self.leftovers(), [], where)
                if label == "stream" and status == 0:
                    self.assertEqual(out, whole, where)
                elif label == "stream" and out:
                    # What a failed run streamed is refused as torn.
                    with open(self.path("streamed.kox"), "wb") as f:
                        f.write(out)
                    self.assertEqual(limited(["-tf", "streamed.kox"], self.dir, 1 << 30)[0], 5, where)
                elif label == "extract" and status == 0:
                    self.assertEqual(self.read("x/big/data.bin"), self.read("big/data.bin"), where)
                elif archive is not None:
                    content = self.read(archive) if os.path.exists(self.path(archive)) else None
                    if status != 0:
                        self.assertEqual(content, before, where)
                    elif label == "append":
                        self.assertEqual(content[:len(old)], old, where)
                        self.assertGreater(len(content), len(whole), where)
                    else:
                        self.assertEqual(content, whole, where)
                if archive is not None and os.path.exists(self.path(archive)):
                    os.unlink(self.path(archive))


if __name__ == "__main__":
    unittest.main()

"""Runs under a limit on the process's address space (ulimit -v): where the
memory runs out the run ends with status 2 through its own clean-up, the
archive as it was and an archive streamed to standard output marked as
failed; it never hangs or aborts, and where fewer worker threads fit than
the machine has processors, it runs with fewer and succeeds."""

import os
import resource
import shutil
import subprocess
import sys
import unittest
from concurrent.futures import ThreadPoolExecutor

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


def wrapped(args, cwd, kib, env=None):
    """As limited, the limit set by a shell that then runs the program:
    safe beside other threads, and under limits too small for this Python
    process to take up again once forked."""
    try:
        proc = subprocess.run(["sh", "-c", 'ulimit -v "$1" && shift && exec "$@"', "sh", str(kib), KOVZEF] + list(args),
                              cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=dict(os.environ, TZ="UTC", **(env or {})), timeout=60)
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

    def start(self, floor):
        """The least limit (KiB) under which the dynamic loader can map the
        program (it ends with 127 below): where the program's own code
        begins, its static initialisers, then main."""
        low, high = 4096, floor
        while high - low > 1:
            middle = (low + high) // 2
            if wrapped(["-cf", "probe.kox", "one.txt"], self.dir, middle)[0] == 127:
                low = middle
            else:
                high = middle
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


    def test_near_the_floor_every_run_ends_with_0_or_2_and_its_own_message(self):
        # Faults caught: where the code page tables could not be loaded for
        # want of memory (the converter cache of some MiB, the marks of a
        # table load), the library took it for a failed conversion: runs
        # ended with 47 ("could not convert ... to UTF8") and the library's
        # own lines on standard error ("Syslog: ...", "rscpml: Cannot get
        # ... bytes.", "Impromptu CCC initialization ...") in a band of
        # limits below the one at which a create runs.  Just above what the
        # loader takes, a static initialiser's allocation that failed
        # aborted the process (134, "terminate called without an active
        # exception").
        pages = {"default": ({}, "\u00e4.txt".encode("latin-1")),
                 "8000": ({"KOV_CODEPAGE": "8000"}, "\u30bd\u30d5\u30c8.txt".encode("shift_jis")),
                 "4110": ({"KOV_CODEPAGE": "4110"}, "\u00e4.txt".encode("utf-8"))}
        commands = {"create": ["-cf", "c.kox", "t"], "append": ["-af", "ap.kox", "t/one.txt"],
                    "extract": ["-xf", "../a0.kox"], "list": ["-tf", "a0.kox"], "test": ["-df", "a0.kox"]}
        self.write("one.txt", b"one\n")
        archives = {}
        for page, (env, name) in pages.items():
            self.write(os.path.join(page, "t", "one.txt"), b"one\n")
            os.mkdir(self.path(page, "t", "sub"))
            with open(os.path.join(self.path(page, "t", "sub").encode(), name), "wb") as f:
                f.write(b"two\n")
            status, _, err = wrapped(["-cf", "a0.kox", "t"], self.path(page), 1 << 30, env)
            self.assertEqual(status, 0, err)
            archives[page] = self.read(os.path.join(page, "a0.kox"))
            for label in commands:
                shutil.copytree(self.path(page), self.path(page + "-" + label))
                os.mkdir(self.path(page + "-" + label, "x"))

        def content(path):
            if not os.path.exists(path):
                return b""
            with open(path, "rb") as f:
                return f.read()

        def faults(label, kib, status, out, err):
            """What is wrong with a run's end: a status but 0 and 2, a line
            on standard error that is not the program's own, a failure
            without the message of memory."""
            text = out.decode("latin-1") + err
            found = []
            if status not in (0, 2):
                found.append("status")
            if any(not line.startswith("KOVZEF: ") for line in err.splitlines()):
                found.append("foreign lines")
            if status == 2 and NO_MEMORY not in text:
                found.append("no memory message")
            return [(label, kib, status, problem, text[-300:]) for problem in found]

        floor = self.floor()
        # From where the program's own code begins, KiB by KiB through the
        # first 128 KiB.
        start = self.start(floor)
        problems = []
        for kib in range(start, start + 128):
            status, out, err = wrapped(["-cf", "c.kox", "one.txt"], self.dir, kib)
            problems += faults("start", kib - floor, status, out, err)
            if status == 0:
                os.unlink(self.path("c.kox"))
            elif os.path.exists(self.path("c.kox")):
                problems.append(("start", kib - floor, status, "archive left", ""))
        self.assertEqual(problems[:5], [])

        # From 1 MiB below the least limit of a create of one file (where
        # the converter cache and the tables are had) to 1 MiB above it, in
        # steps of 16 KiB; each page and command in a directory of its own,
        # four at a time.
        def sweep(page, label):
            env, name = pages[page]
            where = self.path(page + "-" + label)
            found = []
            for kib in range(floor - 1024, floor + 1024, 16):
                if label == "append":
                    with open(os.path.join(where, "ap.kox"), "wb") as f:
                        f.write(archives[page])
                cwd = os.path.join(where, "x") if label == "extract" else where
                status, out, err = wrapped(commands[label], cwd, kib, env)
                found += faults(page + " " + label, kib - floor, status, out, err)
                made = os.path.join(where, "c.kox")
                if label == "create" and os.path.exists(made):
                    if status != 0:
                        found.append((page, label, kib - floor, status, "archive left"))
                    os.unlink(made)
                if label == "append":
                    now = content(os.path.join(where, "ap.kox"))
                    if now[:len(archives[page])] != archives[page] or (status != 0 and now != archives[page]):
                        found.append((page, label, kib - floor, status, "archive changed"))
                extracted = os.path.join(cwd.encode(), b"t", b"sub", name)
                if label == "extract" and status == 0 and content(extracted) != b"two\n":
                    found.append((page, label, kib - floor, status, "extracted wrong"))
                if label == "list" and status == 0 and b"t/sub/" + name not in out:
                    found.append((page, label, kib - floor, status, "name listed wrong"))
                shutil.rmtree(os.path.join(where, "x", "t"), ignore_errors=True)
                hidden = [n for n in os.listdir(where) if n.startswith(".")]
                if hidden:
                    found.append((page, label, kib - floor, status, "left " + repr(hidden)))
            return found

        with ThreadPoolExecutor(max_workers=4) as pool:
            runs = [pool.submit(sweep, page, label) for page in pages for label in commands]
            for run in runs:
                problems += run.result()
        self.assertEqual(problems[:5], [])

    def test_start_up_out_of_memory_on_a_stream_is_refused(self):
        # Fault caught: where the code page tables could not be had at
        # start (from just above what the loader needs to some MiB below
        # the least limit of a create), the message was written through the
        # log before the options were read, so into standard output: an
        # archive streamed there held "KOVZEF: can not allocate new memory"
        # and nothing else, which readers took for a damaged archive (40)
        # instead of refusing the stream (5), and standard error was empty.
        self.write("one.txt", b"one\n")
        floor = self.floor()
        problems = []
        for kib in range(self.start(floor), floor + 256, 128):
            status, out, err = wrapped(["-cf", "/dev/stdout", "one.txt"], self.dir, kib)
            where = (kib - floor, status, out[:60], err[-200:])
            if status not in (0, 2) or (status == 2 and NO_MEMORY not in err) or NO_MEMORY.encode() in out:
                problems.append(where)
            elif status == 2 and out:
                with open(self.path("streamed.kox"), "wb") as f:
                    f.write(out)
                if limited(["-tf", "streamed.kox"], self.dir, 1 << 30)[0] != 5:
                    problems.append(where + ("not refused",))
        self.assertEqual(problems[:5], [])


if __name__ == "__main__":
    unittest.main()

"""An archive written to the program's own standard output: the stream holds
the archive alone, whatever the run has to say, and a redirection to a file
is written where it stands."""

import os
import signal
import subprocess
import unittest

from cmd_helpers import KOVZEF, LIBRARY, ScratchCase, run


class StandardOutputArchive(ScratchCase):
    def setUp(self):
        super().setUp()
        self.files = {"d/a.txt": b"alpha\n" * 100, "d/sub/b.bin": os.urandom(70000), "d/empty": b""}
        for name, data in self.files.items():
            self.write(name, data)

    def assert_whole_archive(self, data, label):
        """data is an archive of d that extracts to the very files."""
        self.assertFalse(b"KOVZEF" in data, label)
        with open(self.path("check.kox"), "wb") as f:
            f.write(data)
        target = self.path("x-" + label)
        os.mkdir(target)
        rc, out = run(["-xf", "../check.kox"], target)
        self.assertEqual(rc, 0, (label, out))
        for name, content in self.files.items():
            with open(os.path.join(target, name), "rb") as f:
                self.assertEqual(f.read(), content, (label, name))

    def test_stream_holds_only_the_archive_and_a_file_is_written_where_it_stands(self):
        # Before, notices, warnings, inaccessible names and verbose lines were
        # written to standard output too, into the archive (listing it failed
        # with 40); and a redirected file was replaced by a new one, losing
        # what it held and what the shell wrote around the run.
        # Other spellings of descriptor 1 were taken for names of other files,
        # opened anew, with the verbose lines written into the archive.
        piped = [
            (["-cvf", "/dev/stdout", "d", "-backup"], 0, "option -backup not supported"),
            (["-cf", "/dev/fd/1", "d", "/proc/self/status"], 0, "'/proc/self/status' grew while being archived"),
            (["-cnf", "/dev/stdout", "d"], 0, "Printing program statistics"),
            (["-cvf", "//dev/stdout", "d"], 0, "a d/sub/b.bin"),
            (["-cvf", "/dev/./stdout", "d"], 0, "a d/a.txt"),
            (["-cvf", "/dev/fd//1", "d"], 0, "a d/empty"),
            (["-cvf", "/proc/thread-self/fd/1", "d"], 0, "a d/sub"),
        ]
        for number, (args, status, message) in enumerate(piped):
            with self.subTest(args=args):
                proc = subprocess.run([KOVZEF] + args, cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      timeout=120)
                self.assertEqual(proc.returncode, status, proc.stderr)
                self.assertIn(message, proc.stderr.decode("latin-1"))
                self.assert_whole_archive(proc.stdout, "piped%d" % number)

        # A bad word before f's value, and the notice of a -backup, were
        # written to standard output, into the stream the archive would have
        # gone to: the command line decides as a whole.
        for args in (["-cXvf", "/dev/stdout", "d"], ["-backup", "-cXf", "/dev/fd/1", "d"]):
            with self.subTest(args=args):
                proc = subprocess.run([KOVZEF] + args, cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      timeout=120)
                self.assertEqual((proc.returncode, proc.stdout), (20, b""), proc.stderr)
                self.assertIn(b"KOVZEF: unknown command option X", proc.stderr)

        # Appended to what the file held, and between what the shell writes;
        # an append to an archive that is standard output keeps its lines
        # out of it too, by whatever name it is given (by its own name, the
        # lines went into the archive before).  An append that starts the
        # archive in the empty file that is standard output put a new file
        # in its place, so what the shell wrote after it was lost.
        self.write("out", b"OLD\n")
        shell = ('"$K" -cvf /dev/stdout d >> out && '
                 '{ echo H; "$K" -cf /dev/stdout d -backup; echo T; } > around && '
                 '"$K" -cf grown.kox d/sub && "$K" -avf /dev/stdout d/a.txt d/empty >> grown.kox && '
                 '"$K" -avf grown.kox d/sub/b.bin >> grown.kox && '
                 '{ "$K" -avf /dev/stdout d; echo T; } > started && '
                 '"$K" -cf renewed.kox d/sub && "$K" -cvf renewed.kox d >> renewed.kox')
        proc = subprocess.run(["bash", "-c", shell], cwd=self.dir, env=dict(os.environ, K=KOVZEF),
                              stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertIn(b"a d/a.txt", proc.stderr)
        with open(self.path("out"), "rb") as f:
            out = f.read()
        self.assertTrue(out.startswith(b"OLD\n"), out[:16])
        self.assert_whole_archive(out[4:], "append")
        with open(self.path("around"), "rb") as f:
            around = f.read()
        self.assertEqual((around[:2], around[-2:]), (b"H\n", b"T\n"))
        self.assert_whole_archive(around[2:-2], "around")
        with open(self.path("grown.kox"), "rb") as f:
            self.assert_whole_archive(f.read(), "grown")
        with open(self.path("started"), "rb") as f:
            started = f.read()
        self.assertEqual(started[-2:], b"T\n")
        self.assert_whole_archive(started[:-2], "started")
        # A create of an archive by its own name, with standard output
        # appended to that file: the new archive replaces the old one and
        # the lines go to standard error.  Taken for standard output, the
        # new archive was written behind the old one, a file every reader
        # refused, and the run ended with 0.
        with open(self.path("renewed.kox"), "rb") as f:
            self.assert_whole_archive(f.read(), "renewed")
        # No new file was made beside either to take its place.
        self.assertEqual([name for name in os.listdir(self.dir) if name.startswith(".")], [])

    def test_a_failed_run_leaves_a_stream_that_every_reader_refuses(self):
        # A run that failed after it began its archive on standard output
        # left a stream that listed, extracted, merged and took appends as a
        # whole archive with 0, the failed parts silently missing: only the
        # run's own status told.
        self.write("empty", b"")
        streams = {}

        def keep(label, args, status, stdout_file=None):
            target = open(self.path(stdout_file), "r+b") if stdout_file else subprocess.PIPE
            proc = subprocess.run([KOVZEF] + args, cwd=self.dir, stdout=target, stderr=subprocess.PIPE, timeout=120)
            self.assertEqual(proc.returncode, status, (label, proc.stderr))
            if stdout_file:
                target.close()
                with open(self.path(stdout_file), "rb") as f:
                    streams[label] = f.read()
            else:
                streams[label] = proc.stdout

        # Into a regular file, where a named archive would not be kept at
        # all; and kept with i.
        self.write("unreadable.out", b"")
        keep("unreadable", ["-cf", "/dev/fd/1", "d", "missing"], 44, "unreadable.out")
        keep("kept", ["-cif", "/dev/stdout", "d", "missing"], 44)
        # An append that starts the archive on standard output.
        keep("started", ["-aif", "/dev/stdout", "d", "missing"], 44, "empty")
        # Signing that fails after every entry is written.
        keep("unsigned", ["-cVf", "/dev/stdout", "d", "-L", LIBRARY, "-key", self.path("none.p12"), "-pwd", "x",
                          "-tsaurl", "http://127.0.0.1:9/"], 54)
        # Stopped while it waits to write what is left of a file that does
        # not fit into the pipe.
        self.write("d/big", os.urandom(1 << 20))
        proc = subprocess.Popen([KOVZEF, "-cf", "/dev/stdout", "d"], cwd=self.dir, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
        head = proc.stdout.read(8)
        proc.send_signal(signal.SIGTERM)
        streams["stopped"] = head + proc.stdout.read()
        self.assertEqual(proc.wait(timeout=120), 128 + signal.SIGTERM)

        run(["-cf", "good.kox", "d/a.txt"], self.dir)
        with open(self.path("good.kox"), "rb") as f:
            good = f.read()
        for label, data in streams.items():
            self.assertNotIn(b"KOVZEF", data, label)
            self.write(label + ".kox", data)
            os.mkdir(self.path("x-" + label))
            readers = [["-tvf", label + ".kox"], ["-xf", "../%s.kox" % label, "-R", "x-" + label],
                       ["-df", label + ".kox"], ["-mf", "%s.kox good.kox" % label], ["-mf", "good.kox %s.kox" % label],
                       ["-af", label + ".kox", "d/a.txt"]]
            for args in readers:
                with self.subTest(stream=label, reader=args):
                    rc, out = run(args, self.path("x-" + label) if args[0] == "-xf" else self.dir)
                    self.assertNotEqual(rc, 0, out)
                    with open(self.path(label + ".kox"), "rb") as f:
                        self.assertEqual(f.read(), data)
                    with open(self.path("good.kox"), "rb") as f:
                        self.assertEqual(f.read(), good)

    def test_a_closed_standard_output_is_no_archive(self):
        # A merge into a name of standard output while it was closed merged
        # the source into itself: the source, opened first, had taken
        # descriptor 1.  A create through another spelling of it wrote into
        # whatever file had taken the number.
        run(["-cf", "src.kox", "d"], self.dir)
        with open(self.path("src.kox"), "rb") as f:
            source = f.read()
        for args in (["-mf", "src.kox /dev/stdout"], ["-cf", "/dev/fd//1", "d"], ["-af", "/dev/./stdout", "d"]):
            with self.subTest(args=args):
                proc = subprocess.run([KOVZEF] + args, cwd=self.dir, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.PIPE, preexec_fn=lambda: os.close(1), timeout=120)
                self.assertEqual(proc.returncode, 6, proc.stderr)
                self.assertIn(b"Bad file descriptor", proc.stderr)
                with open(self.path("src.kox"), "rb") as f:
                    self.assertEqual(f.read(), source)
                self.assertEqual(sorted(os.listdir(self.dir)), ["d", "src.kox"])

    def test_standard_output_closed_with_standard_error_is_no_archive_either(self):
        # Fault caught: with descriptors 1 and 2 both closed, the stand-in
        # kept for descriptor 1 was forgotten once descriptor 2 got its own,
        # so an append, a signing run or a merge to a name of standard
        # output took the stand-in for an open standard output and failed
        # with 1 ("no KOX archive"), not with 6 before anything is opened.
        run(["-cf", "src.kox", "d"], self.dir)
        with open(self.path("src.kox"), "rb") as f:
            source = f.read()
        runs = (["-af", "/dev/stdout", "d"], ["-aVf", "/dev/fd/1", "d", "-L", LIBRARY], ["-Sf", "/dev/stdout"],
                ["-mf", "src.kox /dev/stdout"], ["-cf", "/dev/stdout", "d"])
        for closed in ((1,), (1, 2)):
            for args in runs:
                with self.subTest(closed=closed, args=args):
                    proc = subprocess.run([KOVZEF] + args, cwd=self.dir, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL, timeout=120,
                                          preexec_fn=lambda: [os.close(fd) for fd in closed])
                    self.assertEqual(proc.returncode, 6)
                    with open(self.path("src.kox"), "rb") as f:
                        self.assertEqual(f.read(), source)
                    self.assertEqual(sorted(os.listdir(self.dir)), ["d", "src.kox"])


if __name__ == "__main__":
    unittest.main()

"""An archive written to the program's own standard output: the stream holds
the archive alone, whatever the run has to say, and a redirection to a file
is written where it stands."""

import os
import subprocess
import unittest

from cmd_helpers import KOVZEF, ScratchCase, run


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
        piped = [
            (["-cvf", "/dev/stdout", "d", "-backup"], 0, "option -backup not supported"),
            (["-cf", "/dev/fd/1", "d", "/proc/self/status"], 0, "'/proc/self/status' grew while being archived"),
            (["-cif", "/proc/self/fd/1", "d", "missing"], 44, "file 'missing' is inaccessible"),
            (["-cnf", "/dev/stdout", "d"], 0, "Printing program statistics"),
        ]
        for number, (args, status, message) in enumerate(piped):
            with self.subTest(args=args):
                proc = subprocess.run([KOVZEF] + args, cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      timeout=120)
                self.assertEqual(proc.returncode, status, proc.stderr)
                self.assertIn(message, proc.stderr.decode("latin-1"))
                self.assert_whole_archive(proc.stdout, "piped%d" % number)

        # Appended to what the file held, and between what the shell writes;
        # an append to an archive that is standard output keeps its lines
        # out of it too.
        self.write("out", b"OLD\n")
        shell = ('"$K" -cvf /dev/stdout d >> out && '
                 '{ echo H; "$K" -cf /dev/stdout d -backup; echo T; } > around && '
                 '"$K" -cf grown.kox d/sub && "$K" -avf /dev/stdout d/a.txt d/empty >> grown.kox')
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
        # No new file was made beside either to take its place.
        self.assertEqual([name for name in os.listdir(self.dir) if name.startswith(".")], [])


if __name__ == "__main__":
    unittest.main()

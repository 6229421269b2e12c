"""The check-files command: missing names of the file list go to files.log."""
import os
import shutil
import subprocess
import sys
import unittest

from cmd_helpers import KOVZEF, SCRATCH as TMP
HEADER = ["# KOVZEF: list of missing files", "# =========================="]
MESSAGE = "KOVZEF: some files are missing. See files.log"


class CheckFilesTest(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.join(TMP, self._testMethodName)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(os.path.join(self.dir, "sub"))
        for name in ["a.txt", "b.txt", "sub/c.txt"]:
            with open(os.path.join(self.dir, name), "w") as f:
                f.write(name)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def write(self, name, content):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(content)

    def scan(self, *args):
        proc = subprocess.run([KOVZEF, "-l", *args], cwd=self.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
        log = os.path.join(self.dir, "files.log")
        lines = None
        if os.path.isfile(log):
            with open(log, "rb") as f:
                lines = f.read().decode("latin-1").split("\n")
            self.assertEqual(lines[-1], "")
            lines = lines[:-1]
        return proc.returncode, proc.stdout.decode("latin-1"), lines

    def test_missing_names_sorted(self):
        code, out, lines = self.scan("zz_missing", "a.txt", "b_missing", "sub/c.txt")
        self.assertEqual(code, 0)
        self.assertEqual(lines, HEADER + ["b_missing", "zz_missing"])
        self.assertEqual(out.strip(), MESSAGE)

    def test_nothing_missing(self):
        code, out, lines = self.scan("a.txt", "sub/", "b.txt", "-v")
        self.assertEqual((code, out, lines), (0, "", HEADER))

    def test_wildcards_present_when_they_match(self):
        code, out, lines = self.scan(".", "*.txt", "sub/?.txt", "*.none", "sub/x*")
        self.assertEqual(code, 0)
        self.assertEqual(lines, HEADER + ["*.none", "sub/x*"])
        self.assertEqual(out.strip(), MESSAGE)

    def test_dangling_link_is_missing(self):
        os.symlink("nowhere", os.path.join(self.dir, "dangling"))
        os.symlink("a.txt", os.path.join(self.dir, "good"))
        code, _, lines = self.scan("good", "dangling")
        self.assertEqual(code, 0)
        self.assertEqual(lines, HEADER + ["dangling"])

    def test_list_files(self):
        self.write("inc.lst", b"# comment\r\nsub\\c.txt\r\n\r\n   \nmissing one\r\n  b.txt\n"
                              b"gone\nx_excluded\n")
        self.write("ex.lst", b"gone\r\n\n x_excluded\n")
        code, out, lines = self.scan("-A", "inc.lst", "-X", "ex.lst", "cmd_missing")
        self.assertEqual(code, 0)
        self.assertEqual(lines, HEADER + ["cmd_missing", "missing one"])
        self.assertEqual(out.strip(), MESSAGE)

    def test_empty_include_file(self):
        self.write("empty.lst", b"")
        code, out, lines = self.scan("-A", "empty.lst")
        self.assertEqual((code, out, lines), (0, "", HEADER))

    def test_log_cannot_be_created(self):
        os.mkdir(os.path.join(self.dir, "files.log"))
        code, out, _ = self.scan("a.txt", "missing")
        self.assertEqual(code, 6)
        self.assertTrue(out.startswith("KOVZEF: error opening files.log (error 6). "), out)

    def test_no_files(self):
        code, out, lines = self.scan("-v")
        self.assertEqual(code, 29)
        self.assertTrue(out.startswith("KOVZEF: no files specified for scanning (error 29). "))
        self.assertIsNone(lines)


if __name__ == "__main__":
    result = unittest.main(exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)

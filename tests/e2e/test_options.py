"""Command-line misuse: every case ends with its message and exit status and
leaves nothing behind in the working directory."""
import os
import shutil
import subprocess
import sys
import unittest

from cmd_helpers import KOVZEF, SCRATCH as TMP


class MisuseTest(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.join(TMP, self._testMethodName)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        with open(os.path.join(self.dir, "a.txt"), "w") as f:
            f.write("hello\n")
        open(os.path.join(self.dir, "empty.lst"), "w").close()

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_kovzef(self, *args):
        proc = subprocess.run([KOVZEF, *args], cwd=self.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
        return proc.returncode, proc.stdout.decode("latin-1")

    def assert_fails(self, args, status, message):
        before = sorted(os.listdir(self.dir))
        code, out = self.run_kovzef(*args)
        self.assertEqual(code, status, "%r: %s" % (args, out))
        self.assertTrue(out.startswith(message), "%r: %r" % (args, out))
        self.assertEqual(sorted(os.listdir(self.dir)), before,
                         "%r wrote something before failing" % (args,))
        return out

    def test_parser_failures(self):
        self.assert_fails(["-cvPf", "a.kox", "a.txt"], 20,
                          "KOVZEF: unknown command option Pf (error 20). ")
        self.assert_fails(["-cve", "a.txt"], 20, "KOVZEF: unknown command option e (error 20). ")
        self.assert_fails(["a.txt", "-cvf"], 19,
                          "KOVZEF: f-option specified without filename (error 19). ")
        self.assert_fails(["-cvf", "-x"], 19, "KOVZEF: f-option specified without filename")
        self.assert_fails(["-cvf", "a.kox", "-f", "b.kox"], 18,
                          "KOVZEF: f: use option only once (error 18). ")
        self.assert_fails(["-c", "-X", "x", "-X", "y"], 18, "KOVZEF: X: use option only once")
        self.assert_fails(["-c", "-p", "644", "-p", "600"], 18,
                          "KOVZEF: use p-option only once (error 18). ")

    def test_permission_values(self):
        for bad in ["9", "40644", "-1", "10000", "x"]:
            self.assert_fails(["-cf", "a.kox", "-p", bad, "a.txt"], 27,
                              "KOVZEF: no octal value specified for p-option (error 27). ")

    def test_no_command(self):
        self.assert_fails(["-fx", "a.kox"], 21,
                          "KOVZEF: please specify a command (one of -c, -x, -t, -d, -a, -m, -l, "
                          "-S, -M) (error 21). ")
        self.assert_fails(["-v", "a.txt"], 21, "KOVZEF: please specify a command")

    def test_command_checks_come_first(self):
        self.assert_fails(["-l", "-R", "dir"], 29, "KOVZEF: no files specified for scanning")
        self.assert_fails(["-cf", "a.kox"], 29, "KOVZEF: no files given for archiving")
        self.assert_fails(["-af", "a.kox"], 29, "KOVZEF: no files specified for appending")
        self.assert_fails(["-xf", "none*.kox"], 29, "KOVZEF: no archives specified for extracting")
        self.assert_fails(["-mV", "a.txt"], 53,
                          "KOVZEF: no signatures supported for merging (error 53). \n")
        self.assert_fails(["-m", "-C", "d", "-S"], 53, "KOVZEF: no signatures supported")
        out = self.assert_fails(["-S", "a.txt"], 20,
                                "KOVZEF: additionally files are not allowed for signing")
        self.assertEqual(out.strip(), "KOVZEF: additionally files are not allowed for signing "
                                      "an archive (error 20).")

    def test_option_combinations_in_order(self):
        self.assert_fails(["-cf", "a.kox", "-C", "d", "-P", "a.txt"], 22,
                          "KOVZEF: don't use both P-option and C-option (error 22). ")
        self.assert_fails(["-x", "-C", "d"], 23, "KOVZEF: use C-option only with create (-c)")
        # The archive list is built first; a pattern whose directory does not
        # exist must not lend its error text to the later message.
        out = self.assert_fails(["-x", "-f", "nodir/a* a.txt", "-C", "d"], 23,
                                "KOVZEF: use C-option only with create (-c)")
        self.assertEqual(out, "KOVZEF: use C-option only with create (-c) (error 23). \n")
        self.assert_fails(["-t", "-T", "empty.lst", "-C", "d"], 23,
                          "KOVZEF: use C-option only with create (-c)")
        self.assert_fails(["-t", "-T", "empty.lst", "-X", "empty.lst"], 24,
                          "KOVZEF: use T-option only with create (-c) or append (-a)")
        self.assert_fails(["-t", "-X", "empty.lst"], 25,
                          "KOVZEF: use X-option only with create (-c), append (-a) or scan (-l)")
        self.assert_fails(["-cf", "a.kox", "-R", "d", "a.txt"], 26,
                          "KOVZEF: use R-option only with extract (-x) or list content (-t)")
        self.assert_fails(["-xs", "-v"], 31, "KOVZEF: use s-option only with list content (-t)")
        self.assert_fails(["-d", "-lower"], 46, "KOVZEF: use -lower only with extract (-x)")

    def test_list_file_errors(self):
        self.assert_fails(["-cf", "a.kox", "-A", "missing.lst"], 6,
                          "KOVZEF: error opening missing.lst (error 6). No such file or directory")
        os.mkdir(os.path.join(self.dir, "adir"))
        self.assert_fails(["-cf", "a.kox", "-A", "adir"], 5,
                          "KOVZEF: error reading from adir (error 5). \n")
        self.assert_fails(["-cf", "a.kox", "-T", "missing.lst"], 6,
                          "KOVZEF: error opening missing.lst")
        with open(os.path.join(self.dir, "bad.lst"), "w") as f:
            f.write("good new\nlonely\n")
        self.assert_fails(["-cf", "a.kox", "-T", "bad.lst"], 43,
                          "KOVZEF: wrong format in file bad.lst (error 43). ")


if __name__ == "__main__":
    result = unittest.main(exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)

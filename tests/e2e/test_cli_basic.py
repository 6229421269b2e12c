"""Program entry: usage text and version report for short command lines, the
exit status of failures, output redirection and clean-up of failed runs."""
import os
import shutil
import subprocess
import sys
import unittest

from cmd_helpers import KOVZEF, LIBRARY, SCRATCH as TMP

# The usage text as the program prints it, each line with its line end.
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "usage.txt"), encoding="latin-1") as _f:
    USAGE = _f.read()
USAGE_LINES = USAGE.count("\n")
REPORT_START = "\n--------------------\nKOVZEF information\n--------------------\n"


class CliBasicTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.dir = os.path.join(TMP, self._testMethodName)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_kovzef(self, *args):
        proc = subprocess.run([KOVZEF] + list(args), cwd=self.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)
        return proc.returncode, proc.stdout.decode("latin-1"), proc.stderr.decode("latin-1")

    def read(self, name):
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read()

    def write(self, name, content=b"data"):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(content)
        return path

    def split_usage(self, out):
        lines = out.split("\n")
        usage = "".join(line + "\n" for line in lines[:USAGE_LINES])
        return usage, out[len(usage):]

    def test_no_argument_prints_usage_empty_line_and_report(self):
        status, out, err = self.run_kovzef()
        self.assertEqual(status, 0)
        self.assertEqual(err, "")
        usage, rest = self.split_usage(out)
        self.assertEqual(usage, USAGE)
        # The usage text ends with its own empty line; the log manager adds one
        # more line end, and the report begins with an empty line of its own.
        self.assertTrue(rest.startswith("\n" + REPORT_START), rest[:80])
        self.assertIn("\nkernel release                720\n", rest)
        self.assertIn("\npatch number                  721\n", rest)
        self.assertIn("KOVZEF patch information", rest)
        self.assertEqual(os.listdir(self.dir), [])

    def test_one_argument_prints_report_only(self):
        _, full, _ = self.run_kovzef()
        _, report = self.split_usage(full)
        for arg in ["-x", "-V", "-version", "somefile", "", "-cvf"]:
            status, out, err = self.run_kovzef(arg)
            self.assertEqual(status, 0, arg)
            self.assertEqual(err, "", arg)
            self.assertTrue(out.startswith(REPORT_START), arg)
            self.assertEqual("\n" + out, report, arg)
        self.assertEqual(os.listdir(self.dir), [])

    def test_failures_print_one_line_with_their_status(self):
        # No stale system error text after the code suffix.
        cases = [
            (["a", "b"], 21, "KOVZEF: please specify a command (one of -c, -x, -t, -d, -a, -m, "
                             "-l, -S, -M) (error 21). \n"),
            (["-cve", "x"], 20, "KOVZEF: unknown command option e (error 20). \n"),
            (["-c", "-v"], 29, "KOVZEF: no files given for archiving (error 29). \n"),
            (["-tvf", "a.kox", "-f", "b.kox"], 18, "KOVZEF: f: use option only once (error 18). \n"),
            (["-xf", "a.kox", "-C", "dir"], 23, "KOVZEF: use C-option only with create (-c) (error 23). \n"),
        ]
        for args, code, text in cases:
            status, out, _ = self.run_kovzef(*args)
            self.assertEqual((status, out), (code, text), args)

    def test_missing_list_file_names_the_system_error(self):
        status, out, _ = self.run_kovzef("-cvf", "a.kox", "-A", "missing.lst")
        self.assertEqual(status, 6)
        self.assertEqual(out, "KOVZEF: error opening missing.lst (error 6). "
                              + os.strerror(2) + "\n")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "a.kox")))

    def test_signing_and_manifest_commands_fail_clearly(self):
        self.write("a.kox", b"ZEF 2.01")
        status, out, _ = self.run_kovzef("-M", "-manifest", "m.smf")
        self.assertEqual((status, out), (55, "KOVZEF: Manifest file was not found \n"))
        # The signing run is the create command's: it fails like -c with V
        # when the crypto library cannot be loaded, and leaves the archive.
        status, out, _ = self.run_kovzef("-Sf", "a.kox", "-L", "missing/libkovcrypto.so")
        self.assertEqual(status, 56)
        self.assertEqual(out, "KOVZEF: error in loading the cryptographic library (error 56).\n"
                              "Detail: KOV Crypto Library could not be loaded\n")
        self.assertEqual(self.read("a.kox"), b"ZEF 2.01")
        # With the library loaded but no key store to sign with, the same.
        if os.path.exists(LIBRARY):
            status, out, _ = self.run_kovzef("-Sf", "a.kox", "-L", LIBRARY)
            self.assertEqual(status, 54, out)
            self.assertIn("SMF-RC: SMF_ESSFLIB", out)
            self.assertEqual(self.read("a.kox"), b"ZEF 2.01")

    def test_redirect_failure_is_reported_and_run_goes_on(self):
        os.mkdir(os.path.join(self.dir, "kovzef_output"))
        status, out, _ = self.run_kovzef("-e", "x", "y")
        self.assertEqual(status, 21)
        self.assertEqual(out.split("\n")[0],
                         "KOVZEF: could not redirect stdout to file kovzef_output")
        self.assertIn("please specify a command", out)
        # The failed redirection's error text does not reach a later message.
        self.write("bad.lst", b"lonely\n")
        status, out, _ = self.run_kovzef("-cf", "a.kox", "-e", "-T", "bad.lst")
        self.assertEqual(status, 43)
        self.assertEqual(out, "KOVZEF: could not redirect stdout to file kovzef_output\n"
                              "KOVZEF: wrong format in file bad.lst (error 43). \n")

    def test_redirect_sends_output_to_file(self):
        status, out, _ = self.run_kovzef("-e", "x", "y")
        self.assertEqual(status, 21)
        self.assertEqual(out, "")
        with open(os.path.join(self.dir, "kovzef_output"), encoding="latin-1") as f:
            self.assertIn("please specify a command", f.read())

    def test_output_files_are_not_opened_through_links(self):
        # Fault caught: kovzef_output, kovzef.log and files.log were opened
        # following a link at their name, so links planted in the working
        # directory (by an archive extracted there) had the file outside
        # truncated and overwritten.  Now each such open fails as any failed
        # open of that file does, and the file outside is left alone.
        work = os.path.join(self.dir, "work")
        os.mkdir(work)
        self.write("outside", b"keep me")
        self.write("work/a.txt")
        for name in ["kovzef_output", "kovzef.log", "files.log"]:
            os.symlink("../outside", os.path.join(work, name))

        def run(*args):
            proc = subprocess.run([KOVZEF] + list(args), cwd=work, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=120)
            return proc.returncode, proc.stdout.decode("latin-1")

        status, out = run("-cif", "e.kox", "-e", "gone", "a.txt")
        self.assertEqual(status, 6, out)
        lines = out.split("\n")
        self.assertEqual(lines[0], "KOVZEF: could not redirect stdout to file kovzef_output")
        self.assertIn("KOVZEF: error opening kovzef.log (error 6). ", out)
        status, out = run("-l", "a.txt", "missing")
        self.assertEqual(status, 6, out)
        self.assertTrue(out.startswith("KOVZEF: error opening files.log (error 6). "), out)
        self.assertEqual(self.read("outside"), b"keep me")
        for name in ["kovzef_output", "kovzef.log", "files.log"]:
            self.assertEqual(os.readlink(os.path.join(work, name)), "../outside")

    def test_failed_create_leaves_other_files_alone(self):
        # The archive is a link to a device that refuses every write: the run
        # fails, and neither the link nor the device is removed.
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full")
        self.write("input.txt", b"x" * 100000)
        os.symlink("/dev/full", os.path.join(self.dir, "full.kox"))
        status, out, _ = self.run_kovzef("-cf", "full.kox", "input.txt")
        self.assertNotEqual(status, 0)
        self.assertTrue(out.startswith("KOVZEF: "), out)
        self.assertTrue(os.path.islink(os.path.join(self.dir, "full.kox")))
        self.assertTrue(os.path.exists("/dev/full"))


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    sys.exit(0 if result.wasSuccessful() else 1)

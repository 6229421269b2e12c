"""Start-up of the code page library in every run: silent when clean, one
line on standard error for each malformed line of "TCPDB.DAT" in the
working directory, and the run goes on."""
import os
import shutil
import subprocess
import unittest

from cmd_helpers import KOVZEF, SCRATCH as TMP


class CodePageStartupTest(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.join(TMP, self._testMethodName)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        with open(os.path.join(self.dir, "small.txt"), "w") as f:
            f.write("hello\n")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def create_and_list(self):
        env = dict(os.environ, TZ="UTC")
        env.pop("RSCP_ON_ERROR", None)
        env.pop("RSCPTRACE", None)
        out = []
        for args in (["-cf", "x.kox", "small.txt"], ["-tf", "x.kox"]):
            proc = subprocess.run([KOVZEF] + args, cwd=self.dir, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, env=env, timeout=60)
            self.assertEqual(proc.returncode, 0, proc.stderr)
            out.append((proc.stdout.decode("latin-1"), proc.stderr.decode("latin-1")))
        return out

    def write_tcpdb(self, data):
        with open(os.path.join(self.dir, "TCPDB.DAT"), "wb") as f:
            f.write(data)

    def test_clean_start_writes_nothing(self):
        (create_out, create_err), (list_out, list_err) = self.create_and_list()
        self.assertEqual(create_out, "")
        self.assertEqual(create_err, "")
        self.assertEqual(list_err, "")
        self.assertIn("small.txt", list_out)

    def test_good_tcpdb_is_silent(self):
        self.write_tcpdb(b"TCPDB\n1100\r\n4103\n")
        (_, create_err), (_, list_err) = self.create_and_list()
        self.assertEqual(create_err + list_err, "")

    def test_malformed_tcpdb_line_is_reported_and_the_run_goes_on(self):
        self.write_tcpdb(b"TCPDB\n11\n1100\n")
        (_, create_err), (list_out, list_err) = self.create_and_list()
        line = 'TCPDB.DAT line 2: format error: "11".\n'
        self.assertEqual(create_err, line)
        self.assertEqual(list_err, line)
        self.assertIn("small.txt", list_out)
        self.assertTrue(os.path.exists(os.path.join(self.dir, "TCPDB.DAT")))

    def test_empty_and_binary_tcpdb(self):
        self.write_tcpdb(b"")
        (_, err), _ = self.create_and_list()
        self.assertEqual(err, "")
        self.write_tcpdb(bytes(range(256)) * 4)
        (_, err), (list_out, _) = self.create_and_list()
        self.assertIn("format error", err)
        self.assertIn("small.txt", list_out)

    def test_marker_file_of_the_impromptu_start_is_left_alone(self):
        marker = os.path.join(self.dir, "RSCP_CATCH_INIT")
        with open(marker, "w") as f:
            f.write("user data\n")
        (_, err), _ = self.create_and_list()
        self.assertEqual(err, "")
        self.assertTrue(os.path.exists(marker))


if __name__ == "__main__":
    unittest.main()

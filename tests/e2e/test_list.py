"""The list command: header lines, the listing line, selection by file and
directory names, several archives, unreadable archives."""

import unittest

from cmd_helpers import ScratchCase, archive_bytes, entry_bytes

WHEN = 1_262_347_200  # 01 Jan 2010 12:00 UTC


class ListCommand(ScratchCase):

    def setUp(self):
        super().setUp()
        self.write("a.kox", archive_bytes([
            entry_bytes("DR", "dir", 0o40755, mtime=WHEN),
            entry_bytes("RG", "dir/a", 0o100644, b"x" * 1234, mtime=WHEN),
            entry_bytes("RG", "dirx/d", 0o104755, b"y", mtime=WHEN),
            entry_bytes("LK", "dir/l", 0o120777, target="a", mtime=WHEN),
            entry_bytes("RG", "top", 0o101777, b"", mtime=WHEN),
        ]))
        self.write("b.kox", archive_bytes([entry_bytes("RG", "dir/a", 0o100600, b"zz", mtime=WHEN)]))

    def test_every_entry_with_exact_lines(self):
        rc, out = self.run_kov("-tvf", "a.kox")
        self.assertEqual(rc, 0, out)
        self.assertEqual(out.splitlines(), [
            "KOVZEF: processing archive a.kox (version 2.01)",
            "drwxr-xr-x           0    01 Jan 2010 12:00 dir",
            "-rw-r--r--        1234    01 Jan 2010 12:00 dir/a",
            "-rwsr-xr-x           1    01 Jan 2010 12:00 dirx/d",
            "lrwxrwxrwx           0    01 Jan 2010 12:00 dir/l",
            "-rwxrwxrws           0    01 Jan 2010 12:00 top",
        ])

    def test_selection_by_directory_and_file_names(self):
        rc, out = self.run_kov("-tf", "a.kox b.kox", "dir", "nothing")
        self.assertEqual(rc, 0, out)
        self.assertEqual([line.split()[-1] for line in out.splitlines()], [
            "2.01)", "dir", "dir/a", "dir/l", "2.01)", "dir/a"])
        rc, out = self.run_kov("-tf", "a.kox,b.kox", "dir/a")
        self.assertEqual([line.split()[-1] for line in out.splitlines() if not line.startswith("KOVZEF")],
                         ["dir/a", "dir/a"])

    def test_an_unreadable_archive_is_reported_and_skipped(self):
        rc, out = self.run_kov("-tf", "missing.kox b.kox")
        self.assertEqual(rc, 6, out)
        lines = out.splitlines()
        self.assertTrue(lines[0].startswith("KOVZEF: error opening missing.kox (error 6). "), lines[0])
        self.assertEqual(lines[1], "KOVZEF: processing archive b.kox (version 2.01)")
        self.assertEqual(len(lines), 3)

    def test_a_file_of_neither_format_is_no_success(self):
        self.write("junk.kox", b"neither format\n")
        rc, out = self.run_kov("-tf", "junk.kox")
        self.assertEqual(rc, 40, out)
        self.assertNotIn("processing archive junk.kox (version", out)

    def test_a_damaged_archive_fails_clearly(self):
        with open(self.path("a.kox"), "rb") as f:
            data = f.read()
        self.write("cut.kox", data[:60])
        rc, out = self.run_kov("-tf", "cut.kox")
        self.assertNotEqual(rc, 0, out)
        self.assertIn("cut.kox", out)


if __name__ == "__main__":
    unittest.main()

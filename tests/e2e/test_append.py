"""Appending adds entries behind the existing ones, starts a new archive when
there is none, refuses files that are no current KOX archive, and never
loses the archive it was given."""

import os
import unittest

from cmd_helpers import ScratchCase, archive_bytes, entry_bytes


class Append(ScratchCase):

    def names(self, archive):
        rc, out = self.run_kov("-tf", archive)
        self.assertEqual(rc, 0, out)
        return [line.split()[-1] for line in out.splitlines()[1:]]

    def test_entries_go_behind_the_existing_ones(self):
        self.write("one.txt", b"1" * 100000)
        self.write("two.txt", b"2")
        rc, out = self.run_kov("-cf", "a.kox", "one.txt")
        self.assertEqual(rc, 0, out)
        rc, out = self.run_kov("-avf", "a.kox", "two.txt", "one.txt")
        self.assertEqual(rc, 0, out)
        self.assertEqual(self.names("a.kox"), ["one.txt", "one.txt", "two.txt"])
        os.mkdir(self.path("out"))
        rc, out = self.run_kov("-xf", "../a.kox", cwd=self.path("out"))
        self.assertEqual((rc, out.splitlines()[-1]), (0, "KOVZEF: 3 file(s) extracted"), out)
        with open(self.path("out", "two.txt"), "rb") as f:
            self.assertEqual(f.read(), b"2")

    def test_a_missing_or_empty_file_becomes_an_archive(self):
        self.write("f.txt", b"data")
        self.write("empty.kox", b"")
        for archive in ("missing.kox", "empty.kox"):
            rc, out = self.run_kov("-af", archive, "f.txt")
            self.assertEqual(rc, 0, out)
            with open(self.path(archive), "rb") as f:
                self.assertEqual(f.read(8), b"ZEF 2.01")
            self.assertEqual(self.names(archive), ["f.txt"])

    def test_other_files_are_refused_untouched(self):
        self.write("f.txt", b"data")
        cases = {
            "text.kox": b"this is not an archive at all",
            "short.kox": b"ZEF",
            "old.kox": archive_bytes([entry_bytes("RG", "x", 0o100644, b"x")], version=b"2.00"),
        }
        for name, content in cases.items():
            self.write(name, content)
            rc, out = self.run_kov("-af", name, "f.txt")
            self.assertEqual(rc, 1, out)
            self.assertIn("can not append to " + name, out)
            with open(self.path(name), "rb") as f:
                self.assertEqual(f.read(), content)

    def test_a_failed_append_cuts_the_archive_back(self):
        self.write("f.txt", b"data" * 1000)
        rc, out = self.run_kov("-cf", "a.kox", "f.txt")
        with open(self.path("a.kox"), "rb") as f:
            before = f.read()
        rc, out = self.run_kov("-af", "a.kox", "f.txt", "nothere")
        self.assertEqual(rc, 44, out)
        with open(self.path("a.kox"), "rb") as f:
            self.assertEqual(f.read(), before)
        self.write("big.bin", os.urandom(300000))
        rc, out = self.run_kov("-af", "a.kox", "big.bin", max_file_size=100000)
        self.assertEqual(rc, 4, out)
        with open(self.path("a.kox"), "rb") as f:
            self.assertEqual(f.read(), before)
        rc, out = self.run_kov("-aif", "a.kox", "f.txt", "nothere")
        self.assertEqual(rc, 44, out)
        self.assertEqual(self.names("a.kox"), ["f.txt", "f.txt"])

    def test_an_append_ended_by_any_other_failure_is_cut_back_too(self):
        # A failure that is neither a read nor a write error (here a link
        # loop met after another file was already appended) used to leave the
        # appended entries behind while the command reported failure.
        self.write("f.txt", b"data")
        rc, out = self.run_kov("-cf", "a.kox", "f.txt")
        self.assertEqual(rc, 0, out)
        with open(self.path("a.kox"), "rb") as f:
            before = f.read()
        self.write("b.txt", b"more")
        os.symlink("loop", self.path("loop"))
        rc, out = self.run_kov("-af", "a.kox", "b.txt", "loop")
        self.assertEqual(rc, 140, out)
        with open(self.path("a.kox"), "rb") as f:
            self.assertEqual(f.read(), before)


if __name__ == "__main__":
    unittest.main()

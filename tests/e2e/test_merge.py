"""Merging appends the entries of the first archive to the second one; only
two current, unsigned KOX archives are merged, and a refused or failed merge
leaves the target as it was."""

import os
import unittest

from cmd_helpers import ScratchCase, archive_bytes, entry_bytes

SIGNED = archive_bytes([
    entry_bytes("RG", "f", 0o100644, b"f"),
    entry_bytes("RG", "SIGNATURE.SMF", 0x4180, b"KOV-MANIFEST\n"),
])


class Merge(ScratchCase):

    def content(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def test_target_entries_then_source_entries(self):
        self.write("s1", b"source one\n" * 9000)
        self.write("t1", b"target one\n")
        rc, out = self.run_kov("-cf", "src.kox", "s1")
        rc, out = self.run_kov("-cf", "dst.kox", "t1")
        rc, out = self.run_kov("-mf", "src.kox dst.kox")
        self.assertEqual(rc, 0, out)
        rc, out = self.run_kov("-tf", "dst.kox")
        self.assertEqual([line.split()[-1] for line in out.splitlines()[1:]], ["t1", "s1"])
        os.mkdir(self.path("out"))
        rc, out = self.run_kov("-xf", "../dst.kox", cwd=self.path("out"))
        self.assertEqual(rc, 0, out)
        self.assertEqual(self.content("out/s1"), self.content("s1"))
        self.assertEqual(self.content("out/t1"), self.content("t1"))

    def test_an_empty_source_appends_nothing(self):
        self.write("empty.kox", b"ZEF 2.01")
        self.write("dst.kox", archive_bytes([entry_bytes("RG", "x", 0o100644, b"x")]))
        before = self.content("dst.kox")
        rc, out = self.run_kov("-mf", "empty.kox,dst.kox")
        self.assertEqual(rc, 0, out)
        self.assertEqual(self.content("dst.kox"), before)

    def test_a_merge_that_cannot_be_written_leaves_the_target(self):
        self.write("s1", os.urandom(300000))
        rc, out = self.run_kov("-cf", "src.kox", "s1")
        self.write("dst.kox", archive_bytes([entry_bytes("RG", "x", 0o100644, b"x")]))
        before = self.content("dst.kox")
        rc, out = self.run_kov("-mf", "src.kox dst.kox", max_file_size=100000)
        self.assertEqual(rc, 4, out)
        self.assertIn("KOVZEF: error writing to dst.kox", out)
        self.assertEqual(self.content("dst.kox"), before)

    def test_only_exactly_two_archives(self):
        self.write("a.kox", b"ZEF 2.01")
        for value in ("a.kox", "a.kox a.kox a.kox"):
            rc, out = self.run_kov("-mf", value)
            self.assertEqual(rc, 100, out)
            self.assertEqual(out.strip(), "KOVZEF: merging only supported for exactly two archives (error 100).")

    def test_refusals_leave_the_target_untouched(self):
        target = archive_bytes([entry_bytes("RG", "x", 0o100644, b"x")])
        sources = {
            "signed.kox": (SIGNED, 53, "KOVZEF: signed archives must not be merged"),
            "text.kox": (b"no archive here at all", 1, "can not merge text.kox"),
            "old.kox": (archive_bytes([entry_bytes("RG", "y", 0o100644, b"y")], b"2.00"), 1,
                        "can not merge old.kox"),
            "garbage.kox": (b"ZEF 2.01" + b"\x01" * 40, 100, "unknown entry type"),
        }
        for name, (content, status, text) in sources.items():
            self.write(name, content)
            self.write("dst.kox", target)
            rc, out = self.run_kov("-mf", name + " dst.kox")
            self.assertEqual(rc, status, out)
            self.assertIn(text, out)
            self.assertEqual(self.content("dst.kox"), target)
        self.write("src.kox", target)
        self.write("signed-target.kox", SIGNED)
        rc, out = self.run_kov("-mf", "src.kox signed-target.kox")
        self.assertEqual(rc, 53, out)
        self.assertEqual(self.content("signed-target.kox"), SIGNED)


if __name__ == "__main__":
    unittest.main()

"""The disk-space estimate of the list command: the report texts for an
archive that needs space and for one that needs none."""

import os
import unittest

from cmd_helpers import ScratchCase, archive_bytes, entry_bytes

NO_SPACE_TEXT = ("The extraction does not require free disk space (maybe\n"
                 "the extraction will only overwrite existing files of\n"
                 "greater or equal size or the uncompressed size of each\n"
                 "file in the archive is zero).\n")


class SpaceEstimate(ScratchCase):

    def listing_end(self, out):
        return out[out.index("\n\n") + 2:]

    def test_a_tree_needs_the_sum_of_its_files(self):
        self.write("t.kox", archive_bytes([
            entry_bytes("DR", "tree", 0o40755),
            entry_bytes("RG", "tree/a", 0o100644, b"a" * 3000),
            entry_bytes("RG", "tree/sub/b", 0o100644, b"b" * 2120),
            entry_bytes("RG", "c", 0o100644, b"c" * 1000),
            entry_bytes("RG", "SIGNATURE.SMF", 0x4180, b"m" * 1024),
        ]))
        rc, out = self.run_kov("-tsf", "t.kox")
        self.assertEqual(rc, 0, out)
        self.assertEqual(self.listing_end(out),
                         "The extraction requires approximately...\n"
                         "\t       6.976562 KB in %s\n" % os.path.realpath(self.dir))

    def test_existing_larger_files_and_empty_files_need_nothing(self):
        self.write("t.kox", archive_bytes([
            entry_bytes("RG", "zero", 0o100644, b""),
            entry_bytes("RG", "small", 0o100644, b"s" * 10),
            entry_bytes("DR", "d", 0o40755),
        ]))
        self.write("small", b"x" * 20)
        rc, out = self.run_kov("-tsf", "t.kox")
        self.assertEqual(rc, 0, out)
        self.assertEqual(self.listing_end(out), NO_SPACE_TEXT)

    def test_target_directory_of_an_other_tree(self):
        os.mkdir(self.path("target"))
        self.write("t.kox", archive_bytes([entry_bytes("RG", "new/f", 0o100644, b"f" * 2048)]))
        rc, out = self.run_kov("-tsf", "t.kox", "-R", "target")
        self.assertEqual(rc, 0, out)
        self.assertEqual(self.listing_end(out),
                         "The extraction requires approximately...\n"
                         "\t       2.000000 KB in target\n")


if __name__ == "__main__":
    unittest.main()

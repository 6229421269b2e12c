"""The entry headers a create run writes describe each file as it is on disk:
kind, permissions and size, for files named on the command line and files
met in a walk, with relative and absolute names."""

import os
import stat
import unittest

from cmd_helpers import ScratchCase


class CreateHeaders(ScratchCase):

    FILES = {
        "top.txt": (b"top level\n", 0o640),
        "empty": (b"", 0o400),
        "d/exact.bin": (bytes(range(256)) * 256, 0o600),     # exactly one chunk
        "d/over.bin": (bytes(range(256)) * 256 + b"!", 0o755),  # one byte past it
        "d/e/leaf": (b"leaf\n" * 3, 0o444),
    }

    def setUp(self):
        super().setUp()
        for rel, (data, mode) in self.FILES.items():
            self.write(rel, data, mode)

    def listing(self, archive):
        rc, out = self.run_kov("-tvf", archive)
        self.assertEqual(rc, 0, out)
        result = {}
        for line in out.splitlines()[1:]:
            fields = line.split()
            result[fields[-1]] = (fields[0], int(fields[1]))
        return result

    def expected(self, rel):
        st = os.stat(self.path(rel))
        return (stat.filemode(st.st_mode), st.st_size)

    def test_headers_match_the_files(self):
        rc, out = self.run_kov("-cf", "a.kox", "top.txt", "empty", "d")
        self.assertEqual(rc, 0, out)
        got = self.listing("a.kox")
        for rel in self.FILES:
            self.assertEqual(got.get(rel), self.expected(rel), rel)
        self.assertEqual(got["d"][0][0], "d")

    def test_headers_match_with_absolute_names(self):
        rc, out = self.run_kov("-cf", "p.kox", "-P", "top.txt", "d/over.bin")
        self.assertEqual(rc, 0, out)
        got = self.listing("p.kox")
        for rel in ("top.txt", "d/over.bin"):
            self.assertEqual(got.get(self.path(rel)), self.expected(rel), rel)

    def test_headers_match_when_links_are_stored(self):
        os.symlink("over.bin", self.path("d", "link"))
        rc, out = self.run_kov("-crf", "r.kox", "top.txt", "d")
        self.assertEqual(rc, 0, out)
        got = self.listing("r.kox")
        for rel in ("top.txt", "d/exact.bin", "d/over.bin", "d/e/leaf"):
            self.assertEqual(got.get(rel), self.expected(rel), rel)
        self.assertTrue(got["d/link"][0].startswith("l"), got)

    def test_permission_override_applies_to_every_file(self):
        rc, out = self.run_kov("-cf", "m.kox", "-p", "600", "top.txt", "d")
        self.assertEqual(rc, 0, out)
        for rel, (mode, size) in self.listing("m.kox").items():
            if mode.startswith("-"):
                self.assertEqual(mode, "-rw-------", rel)
                self.assertEqual(size, self.expected(rel)[1], rel)


if __name__ == "__main__":
    unittest.main()

"""Entry names between the local code page on disk and UTF-8 in the archive:
Latin-1 names (C1 controls among them) round-trip, KOV_CODEPAGE chooses
the local code page, and names the local code page cannot hold are
extracted changed, said so by name, and never over another entry."""
import os
import unittest

from cmd_helpers import ScratchCase, run

LATIN1_NAMES = [b"caf\xe9.txt", b"x\x85y", b"\xff\xa0end", b"plain.txt"]


class CodePageNamesTest(ScratchCase):
    def write(self, directory, name, data):
        os.makedirs(os.fsencode(self.path(directory)), exist_ok=True)
        with open(os.path.join(os.fsencode(self.path(directory)), name), "wb") as f:
            f.write(data)

    def test_latin1_names_are_stored_as_utf8_and_come_back(self):
        for i, name in enumerate(LATIN1_NAMES):
            self.write("src", name, b"data %d" % i)
        status, out = run(["-cf", "a.kox", "src"], self.dir)
        self.assertEqual(status, 0, out)
        with open(self.path("a.kox"), "rb") as f:
            archive = f.read()
        for name in LATIN1_NAMES:
            self.assertIn(b"src/" + name.decode("latin-1").encode("utf-8") + b"\0", archive)
        status, listing = run(["-tf", "a.kox"], self.dir)
        self.assertEqual(status, 0, listing)
        self.assertIn("src/caf\xe9.txt", listing)
        os.makedirs(self.path("out"))
        status, out = run(["-xf", "../a.kox"], self.path("out"))
        self.assertEqual(status, 0, out)
        self.assertEqual(sorted(os.listdir(os.fsencode(self.path("out", "src")))), sorted(LATIN1_NAMES))
        for i, name in enumerate(LATIN1_NAMES):
            with open(os.path.join(os.fsencode(self.path("out", "src")), name), "rb") as f:
                self.assertEqual(f.read(), b"data %d" % i)

    def test_names_outside_the_local_code_page_never_overwrite_each_other(self):
        # UTF-8 names on disk, stored as they are with KOV_CODEPAGE=4110; the
        # two differ only in characters Latin-1 cannot hold.
        self.write("src", "\u20ac.txt".encode(), b"euro")
        self.write("src", "\u03a9.txt".encode(), b"omega")
        self.write("src", b"plain.txt", b"plain")
        status, out = run(["-cf", "../u.kox", "plain.txt", "\u20ac.txt", "\u03a9.txt"], self.path("src"),
                          env={"KOV_CODEPAGE": "4110"})
        self.assertEqual(status, 0, out)
        status, listing = run(["-tf", "u.kox"], self.dir)
        self.assertEqual(status, 0, listing)
        self.assertEqual(listing.count("#.txt"), 2, listing)

        os.makedirs(self.path("out"))
        status, out = run(["-xvf", "../u.kox"], self.path("out"))
        self.assertEqual(status, 40, out)
        self.assertIn('KOVZEF: #.txt: name changed, the local code page cannot hold the stored name '
                      '"\\xe2\\x82\\xac.txt"', out)
        self.assertIn('"\\xce\\xa9.txt"', out)
        self.assertIn("KOVZEF: #.txt not extracted: a file of this name was written before by this run", out)
        self.assertIn("KOVZEF: not all files could be extracted", out)
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["#.txt", "plain.txt"])
        # The first of the two was written, the second reported.
        first = b"euro" if out.index("\\xe2\\x82\\xac") < out.index("\\xce\\xa9") else b"omega"
        with open(self.path("out", "#.txt"), "rb") as f:
            self.assertEqual(f.read(), first)

        # With UTF-8 as the local code page both come back under their names.
        os.makedirs(self.path("utf8"))
        status, out = run(["-xf", "../u.kox"], self.path("utf8"), env={"KOV_CODEPAGE": "4110"})
        self.assertEqual(status, 0, out)
        self.assertEqual(sorted(os.listdir(os.fsencode(self.path("utf8")))),
                         sorted([b"plain.txt", "\u20ac.txt".encode(), "\u03a9.txt".encode()]))

    def test_a_code_page_of_wide_units_is_refused_for_names(self):
        # File names are strings of bytes: UTF-16, UCS-2 or UCS-4 cannot be
        # their code page, so no name is stored or written in one.
        self.write("src", b"caf\xc3\xa9", b"x")
        status, out = run(["-cf", "../u.kox", b"caf\xc3\xa9"], self.path("src"), env={"KOV_CODEPAGE": "4110"})
        self.assertEqual(status, 0, out)
        for cp in ("4102", "4103", "4101", "4104"):
            status, out = run(["-cf", "../w.kox", b"caf\xc3\xa9"], self.path("src"), env={"KOV_CODEPAGE": cp})
            self.assertEqual(status, 47, out)
            self.assertIn("could not convert", out)
            self.assertFalse(os.path.exists(self.path("w.kox")), cp)
            os.makedirs(self.path("out" + cp))
            status, out = run(["-xf", "../u.kox"], self.path("out" + cp), env={"KOV_CODEPAGE": cp})
            self.assertEqual(status, 47, out)
            self.assertEqual(os.listdir(self.path("out" + cp)), [])

    def test_a_code_page_setting_that_is_no_code_page_is_reported(self):
        self.write("src", b"caf\xe9", b"x")
        status, out = run(["-cf", "../a.kox", b"caf\xe9"], self.path("src"), env={"KOV_CODEPAGE": "latin1"})
        self.assertEqual(status, 0, out)
        self.assertIn("Environment variable 'KOV_CODEPAGE' value 'latin1' format error.", out)
        with open(self.path("a.kox"), "rb") as f:
            self.assertIn(b"caf\xc3\xa9\0", f.read())


if __name__ == "__main__":
    unittest.main()

"""Extraction never writes outside its target through names or links of the
archive, keeps directories and files it must not touch, and says so when
something was not extracted."""

import os
import shutil
import stat
import unittest

from cmd_helpers import ScratchCase, archive_bytes, entry_bytes


class ExtractSafety(ScratchCase):

    def archive(self, name, entries):
        return self.write(name, archive_bytes(entries))

    def test_leading_slashes_and_parents_are_removed_and_others_refused(self):
        absolute = self.path("abs", "evil.txt")
        self.archive("a.kox", [
            entry_bytes("RG", "../evil.txt", 0o100644, b"up"),
            entry_bytes("RG", absolute, 0o100644, b"absolute"),
            entry_bytes("RG", "sub/../../evil2.txt", 0o100644, b"evil"),
            entry_bytes("RG", "dots..name", 0o100644, b"kept"),
        ])
        os.mkdir(self.path("out"))
        rc, out = self.run_kov("-xf", "../a.kox", "-R", "target", cwd=self.path("out"))
        self.assertEqual(rc, 40, out)
        self.assertFalse(os.path.exists(self.path("evil.txt")))
        self.assertFalse(os.path.exists(self.path("evil2.txt")))
        self.assertFalse(os.path.exists(absolute))
        with open(self.path("out", "target", "evil.txt"), "rb") as f:
            self.assertEqual(f.read(), b"up")
        with open(self.path("out", "target", absolute.lstrip("/")), "rb") as f:
            self.assertEqual(f.read(), b"absolute")
        self.assertTrue(os.path.exists(self.path("out", "target", "dots..name")))
        self.assertEqual(out.count("leading \"/\" and \"../\" removed"), 1, out)
        self.assertIn("sub/../../evil2.txt not extracted", out)
        self.assertEqual(out.splitlines()[-2:], ["KOVZEF: not all files could be extracted",
                                                 "KOVZEF: 3 file(s) extracted"])
        # With -P the names are used as stored, as for a backup made with -P.
        rc, out = self.run_kov("-xf", "../a.kox", "-P", "-R", "target2", "dots..name", absolute,
                               cwd=self.path("out"))
        self.assertEqual(rc, 0, out)
        with open(absolute, "rb") as f:
            self.assertEqual(f.read(), b"absolute")
        self.assertNotIn("removed", out)
        # The old-format reader follows the same rule.
        self.write("old.zef", b"# old\nF ../up.txt   644          0         0 1600000000          0\n#\n")
        rc, out = self.run_kov("-xf", "../old.zef", cwd=self.path("out"))
        self.assertEqual(rc, 0, out)
        self.assertTrue(os.path.exists(self.path("out", "up.txt")))
        self.assertFalse(os.path.exists(self.path("up.txt")))

    def test_a_link_of_the_archive_is_made_after_its_other_entries(self):
        os.mkdir(self.path("victim"))
        self.archive("a.kox", [
            entry_bytes("LK", "d", 0o120777, target=self.path("victim")),
            entry_bytes("RG", "d/x", 0o100644, b"through the link"),
        ])
        os.mkdir(self.path("out"))
        rc, out = self.run_kov("-xf", "../a.kox", cwd=self.path("out"))
        self.assertEqual(os.listdir(self.path("victim")), [])
        self.assertTrue(os.path.isfile(self.path("out", "d", "x")))
        self.assertFalse(os.path.islink(self.path("out", "d")))
        self.assertEqual(rc, 36, out)

    def test_a_link_made_by_an_earlier_archive_of_the_run_is_not_followed(self):
        os.mkdir(self.path("victim"))
        self.archive("one.kox", [entry_bytes("LK", "d", 0o120777, target=self.path("victim"))])
        self.archive("two.kox", [
            entry_bytes("RG", "d/x", 0o100644, b"through the link"),
            entry_bytes("DR", "d", 0o40700),
            entry_bytes("RG", "plain", 0o100644, b"ok"),
        ])
        os.mkdir(self.path("out"))
        rc, out = self.run_kov("-xf", "../one.kox ../two.kox", cwd=self.path("out"))
        self.assertEqual(rc, 40, out)
        self.assertEqual(os.listdir(self.path("victim")), [])
        self.assertEqual(stat.S_IMODE(os.stat(self.path("victim")).st_mode), 0o755)
        self.assertTrue(os.path.islink(self.path("out", "d")))
        self.assertTrue(os.path.isfile(self.path("out", "plain")))
        self.assertIn("d/x", out)

    def test_no_old_format_archive_is_extracted_after_links_of_the_run(self):
        # The old-format library sorts the names a pattern matches, the
        # command takes them in directory order: with the link archive first
        # the library would otherwise write d/x through the new link.
        os.mkdir(self.path("victim"))
        self.write("arch/a.zef", b"# old\nF d/x   644          0         0 1600000000          0\n#\n")
        self.archive("arch/b.kox", [entry_bytes("LK", "d", 0o120777, target=self.path("victim"))])
        for archives in ("../arch/b.kox ../arch/a.zef", "../arch/*"):
            out_dir = self.path("out")
            os.mkdir(out_dir)
            rc, out = self.run_kov("-xf", archives, cwd=out_dir)
            self.assertNotEqual(rc, 0, out)
            self.assertEqual(os.listdir(self.path("victim")), [], out)
            if archives.endswith("a.zef"):
                self.assertEqual(rc, 40, out)
                self.assertIn("KOVZEF: ../arch/a.zef not extracted: old-format archives are not "
                              "extracted after symbolic links made by this run", out.splitlines())
            shutil.rmtree(out_dir)

    def test_a_link_that_existed_before_the_run_is_followed(self):
        os.mkdir(self.path("victim"))
        os.mkdir(self.path("out"))
        os.symlink(self.path("victim"), self.path("out", "pre"))
        self.archive("a.kox", [entry_bytes("RG", "pre/y", 0o100644, b"wanted")])
        rc, out = self.run_kov("-xf", "../a.kox", cwd=self.path("out"))
        self.assertEqual(rc, 0, out)
        self.assertTrue(os.path.isfile(self.path("victim", "y")))

    def test_links_already_at_an_entry_path_are_not_written_through(self):
        # A file entry at an existing link replaces the link; a directory
        # entry at a link to a directory uses it but leaves its target's mode
        # and time alone.  Fault caught: a hard link at a file entry's path
        # was written through, giving the file outside the entry's data, mode
        # and time, with status 0.
        os.mkdir(self.path("victim"))
        self.write("victim/secret", b"precious", 0o600)
        self.write("victim/hard", b"precious too", 0o600)
        os.utime(self.path("victim", "hard"), (1_000_000_000, 1_000_000_000))
        os.chmod(self.path("victim"), 0o751)
        os.utime(self.path("victim"), (1_000_000_000, 1_000_000_000))
        os.mkdir(self.path("out"))
        os.symlink(self.path("victim", "secret"), self.path("out", "f"))
        os.symlink(self.path("victim"), self.path("out", "d"))
        os.link(self.path("victim", "hard"), self.path("out", "h"))
        self.archive("a.kox", [
            entry_bytes("RG", "f", 0o100644, b"from the archive", mtime=1_600_000_000),
            entry_bytes("DR", "d", 0o40700, mtime=1_600_000_000),
            entry_bytes("RG", "h", 0o100644, b"also from it", mtime=1_600_000_000),
        ])
        rc, out = self.run_kov("-xf", "../a.kox", cwd=self.path("out"))
        self.assertEqual(rc, 0, out)
        with open(self.path("victim", "secret"), "rb") as f:
            self.assertEqual(f.read(), b"precious")
        self.assertEqual(stat.S_IMODE(os.stat(self.path("victim", "secret")).st_mode), 0o600)
        self.assertFalse(os.path.islink(self.path("out", "f")))
        with open(self.path("out", "f"), "rb") as f:
            self.assertEqual(f.read(), b"from the archive")
        with open(self.path("victim", "hard"), "rb") as f:
            self.assertEqual(f.read(), b"precious too")
        st = os.stat(self.path("victim", "hard"))
        self.assertEqual((stat.S_IMODE(st.st_mode), st.st_mtime, st.st_nlink), (0o600, 1_000_000_000, 1))
        with open(self.path("out", "h"), "rb") as f:
            self.assertEqual(f.read(), b"also from it")
        self.assertTrue(os.path.islink(self.path("out", "d")))
        st = os.stat(self.path("victim"))
        self.assertEqual((stat.S_IMODE(st.st_mode), st.st_mtime), (0o751, 1_000_000_000))

    def test_directory_entry_over_something_else_leaves_it_alone(self):
        os.mkdir(self.path("out"))
        self.write("out/f", b"precious", 0o640)
        os.symlink("nowhere", self.path("out", "dangling"))
        self.archive("a.kox", [
            entry_bytes("DR", "f", 0o40700),
            entry_bytes("DR", "dangling", 0o40700),
            entry_bytes("DR", "real", 0o40750),
        ])
        rc, out = self.run_kov("-xf", "../a.kox", cwd=self.path("out"))
        self.assertEqual(rc, 40, out)
        with open(self.path("out", "f"), "rb") as f:
            self.assertEqual(f.read(), b"precious")
        self.assertEqual(stat.S_IMODE(os.stat(self.path("out", "f")).st_mode), 0o640)
        self.assertTrue(os.path.islink(self.path("out", "dangling")))
        self.assertEqual(stat.S_IMODE(os.stat(self.path("out", "real")).st_mode), 0o750)

    def test_modes_are_final_and_created_parents_are_not_left_private(self):
        self.archive("a.kox", [
            entry_bytes("RG", "deep/er/f", 0o100644, b"data"),
            entry_bytes("RG", "x", 0o100755, b"#!"),
        ])
        os.mkdir(self.path("out"))
        old = os.umask(0o022)
        try:
            rc, out = self.run_kov("-xf", "../a.kox", cwd=self.path("out"))
        finally:
            os.umask(old)
        self.assertEqual(rc, 0, out)
        mode = lambda *p: stat.S_IMODE(os.stat(self.path("out", *p)).st_mode)
        self.assertEqual(mode("deep"), 0o755)
        self.assertEqual(mode("deep", "er"), 0o755)
        self.assertEqual(mode("deep", "er", "f"), 0o644)
        self.assertEqual(mode("x"), 0o755)

    def test_directories_get_mode_and_time_when_the_run_fails(self):
        bad = bytearray(entry_bytes("RG", "d/f", 0o100644, b"payload"))
        bad[-1] ^= 0xFF  # stored checksum no longer matches
        self.archive("a.kox", [entry_bytes("DR", "d", 0o40555, mtime=1_000_000_000), bytes(bad)])
        os.mkdir(self.path("out"))
        rc, out = self.run_kov("-xf", "../a.kox", cwd=self.path("out"))
        self.assertEqual(rc, 12, out)
        self.assertIn("checksum error in d/f", out)
        st = os.stat(self.path("out", "d"))
        self.assertEqual(stat.S_IMODE(st.st_mode), 0o555)
        self.assertEqual(int(st.st_mtime), 1_000_000_000)

    def test_a_backslash_in_a_name_makes_no_directory(self):
        # Fault caught: parent directories were made at every backslash as at
        # every "/", while the file itself was made under its whole name.
        # Extracting "d\f.txt" over the file left there by the first run made
        # a stray empty directory "d" (status 0); so did "x/d\g.txt" once "x"
        # was missing, a directory entry "a\b" and a link "l\k".  And "p\q"
        # taken as inside "p" made "p" count as there, so that "p" made for
        # "p/r" kept the run's private mode 0700.
        self.archive("a.kox", [
            entry_bytes("RG", "d\\f.txt", 0o100644, b"one"),
            entry_bytes("RG", "x/d\\g.txt", 0o100644, b"two"),
            entry_bytes("DR", "a\\b", 0o40755),
            entry_bytes("LK", "l\\k", 0o120777, target="d\\f.txt"),
            entry_bytes("RG", "p\\q", 0o100644, b"three"),
            entry_bytes("RG", "p/r", 0o100644, b"four"),
        ])
        expected = {"d\\f.txt": 0o100644, "x": 0o40755, "x/d\\g.txt": 0o100644, "a\\b": 0o40755,
                    "l\\k": 0o120777, "p\\q": 0o100644, "p": 0o40755, "p/r": 0o100644}
        os.mkdir(self.path("out"))
        old = os.umask(0o022)
        try:
            for run in ("first", "second"):
                if run == "second":  # a link is never made over what is there (status 36)
                    os.remove(self.path("out", "l\\k"))
                rc, out = self.run_kov("-xf", "../a.kox", cwd=self.path("out"))
                self.assertEqual(rc, 0, "%s: %s" % (run, out))
                found = {}
                for root, dirs, files in os.walk(self.path("out")):
                    for name in dirs + files:
                        path = os.path.join(root, name)
                        found[os.path.relpath(path, self.path("out"))] = os.lstat(path).st_mode
                self.assertEqual({n: oct(m) for n, m in found.items()},
                                 {n: oct(m) for n, m in expected.items()}, run)
                with open(self.path("out", "l\\k"), "rb") as f:
                    self.assertEqual(f.read(), b"one", run)
        finally:
            os.umask(old)

    def test_a_listed_name_that_matches_nothing_is_reported(self):
        self.archive("a.kox", [
            entry_bytes("RG", "a", 0o100644, b"a"),
            entry_bytes("DR", "b", 0o40755),
            entry_bytes("RG", "b/1", 0o100644, b"1"),
            entry_bytes("RG", "b/2", 0o100644, b"2"),
        ])
        os.mkdir(self.path("out"))
        rc, out = self.run_kov("-xf", "../a.kox", "a", "b", "nothere", cwd=self.path("out"))
        self.assertEqual(rc, 40, out)
        self.assertEqual(out.splitlines()[-2:], ["KOVZEF: not all files could be extracted",
                                                 "KOVZEF: 4 file(s) extracted"])
        rc, out = self.run_kov("-df", "../a.kox", "a", "b", cwd=self.path("out"))
        self.assertEqual(rc, 0, out)
        self.assertEqual(out.splitlines()[-1], "KOVZEF: 4 file(s) tested")


if __name__ == "__main__":
    unittest.main()

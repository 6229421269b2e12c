"""Round trips through create, list, test and extract, and the create and
extract options that change what is stored or where it lands."""

import os
import random
import stat
import unittest

from cmd_helpers import ScratchCase

LATIN1_NAME = b"caf\xe9 \xfcber.txt"


def snapshot(root):
    """Everything extraction must give back: kind, mode, time, data/target."""
    result = {}
    root = os.fsencode(root)
    for dirpath, dirs, files in os.walk(root):
        for name in dirs + files:
            full = os.path.join(dirpath, name)
            rel = os.path.relpath(full, root)
            st = os.lstat(full)
            if stat.S_ISLNK(st.st_mode):
                result[rel] = ("link", os.readlink(full))
            elif stat.S_ISDIR(st.st_mode):
                result[rel] = ("dir", stat.S_IMODE(st.st_mode), int(st.st_mtime))
            else:
                with open(full, "rb") as f:
                    result[rel] = ("file", stat.S_IMODE(st.st_mode), int(st.st_mtime), f.read())
    return result


class TreeCase(ScratchCase):

    def setUp(self):
        super().setUp()
        rnd = random.Random(7)
        self.write("tree/text.txt", b"".join(b"line %d of some text\n" % i for i in range(5000)), 0o644)
        self.write("tree/binary.bin", bytes(range(256)) * 300, 0o600)
        self.write("tree/random.bin", bytes(rnd.getrandbits(8) for _ in range(70000)), 0o640)
        self.write("tree/empty", b"", 0o444)
        self.write("tree/large.dat", b"".join(b"%08d" % (i * 7919 % 100003) for i in range(3 * 8192 + 40)), 0o755)
        self.write("tree/sub/deeper/leaf.txt", b"leaf\n", 0o644)
        self.write(os.fsdecode(b"tree/" + LATIN1_NAME), b"latin-1 name\n", 0o644)
        os.symlink("text.txt", self.path("tree", "link-to-text"))
        os.chmod(self.path("tree", "sub", "deeper"), 0o750)
        for rel, when in (("tree/sub/deeper", 1_200_000_000), ("tree/sub", 1_300_000_000),
                          ("tree", 1_400_000_000)):
            os.utime(self.path(rel), (when, when))

    def extract_to(self, archive, target="out", *extra):
        os.makedirs(self.path(target), exist_ok=True)
        return self.run_kov("-xf", self.path(archive), *extra, cwd=self.path(target))


class RoundTrip(TreeCase):

    def test_tree_with_links_stored_as_links(self):
        rc, out = self.run_kov("-crvf", "t.kox", "tree")
        self.assertEqual(rc, 0, out)
        self.assertIn("a tree/large.dat", out.splitlines())
        rc, listing = self.run_kov("-tf", "t.kox")
        self.assertEqual(rc, 0, listing)
        self.assertEqual(listing.splitlines()[0], "KOVZEF: processing archive t.kox (version 2.01)")
        self.assertEqual(len(listing.splitlines()), 1 + len(snapshot(self.path("tree"))) + 1)
        rc, out = self.run_kov("-df", "t.kox")
        self.assertEqual((rc, out.splitlines()[-1]), (0, "KOVZEF: 11 file(s) tested"), out)
        self.assertFalse(os.path.exists(self.path("out")))
        rc, out = self.extract_to("t.kox")
        self.assertEqual(rc, 0, out)
        self.assertEqual(out.splitlines()[-1], "KOVZEF: 11 file(s) extracted")
        self.assertEqual(snapshot(self.path("out", "tree")), snapshot(self.path("tree")))

    def test_links_are_followed_by_default(self):
        rc, out = self.run_kov("-cf", "t.kox", "tree")
        self.assertEqual(rc, 0, out)
        rc, out = self.extract_to("t.kox")
        self.assertEqual(rc, 0, out)
        copy = self.path("out", "tree", "link-to-text")
        self.assertFalse(os.path.islink(copy))
        with open(copy, "rb") as a, open(self.path("tree", "text.txt"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_dot_and_star_forms_and_change_directory(self):
        rc, out = self.run_kov("-cvf", "../dot.kox", ".", cwd=self.path("tree"))
        self.assertEqual(rc, 0, out)
        self.assertIn("a sub/deeper/leaf.txt", out.splitlines())
        rc, out = self.run_kov("-cvf", "star.kox", "tree/sub/*")
        self.assertEqual(out.splitlines(), ["a tree/sub/deeper", "a tree/sub/deeper/leaf.txt"])
        rc, out = self.run_kov("-cvf", "c.kox", "-C", "tree", "sub")
        self.assertEqual(rc, 0, out)
        self.assertEqual(out.splitlines(), ["a sub", "a sub/deeper", "a sub/deeper/leaf.txt"])
        rc, out = self.extract_to("c.kox", "cout")
        self.assertEqual(snapshot(self.path("cout", "sub")), snapshot(self.path("tree", "sub")))

    def test_archive_is_never_added_to_itself(self):
        for name, args in (("self.kox", ("-cvf", "./self.kox", ".")),
                           ("abs.kox", ("-cvf", self.path("tree", "abs.kox"), self.path("tree")))):
            rc, out = self.run_kov(*args, cwd=self.path("tree"))
            self.assertEqual(rc, 0, out)
            self.assertNotIn(name, out)
            os.remove(self.path("tree", name))
        rc, out = self.run_kov("-cvf", "tree/c.kox", "-C", "tree", ".")
        self.assertEqual(rc, 0, out)
        self.assertNotIn("c.kox", out)

    def test_list_files_exclusions_renames_and_permissions(self):
        self.write("include.lst", b"# names to pack\n\ntree/text.txt\ntree/sub\n")
        self.write("exclude.lst", b"tree/sub/deeper\n")
        self.write("rename.lst", b"tree/text.txt renamed.txt\n")
        rc, out = self.run_kov("-cvf", "l.kox", "-A", "include.lst", "-X", "exclude.lst",
                               "-T", "rename.lst", "-p", "600")
        self.assertEqual(rc, 0, out)
        rc, listing = self.run_kov("-tf", "l.kox")
        names = [line.split()[-1] for line in listing.splitlines()[1:]]
        self.assertEqual(sorted(names), ["renamed.txt", "tree/sub"])
        for line in listing.splitlines()[1:]:
            self.assertTrue(line[1:10] == "rw-------", line)

    def test_selection_and_target_options(self):
        rc, out = self.run_kov("-cf", "t.kox", "tree")
        self.assertEqual(rc, 0, out)
        rc, out = self.run_kov("-xf", "t.kox", "-R", "r\\out", "tree/sub", "tree/empty")
        self.assertEqual(rc, 0, out)
        self.assertEqual(snapshot(self.path("r", "out", "tree", "sub")), snapshot(self.path("tree", "sub")))
        self.assertEqual(sorted(os.listdir(self.path("r", "out", "tree"))), ["empty", "sub"])
        rc, out = self.extract_to("t.kox", "flat", "-flat", "leaf.txt")
        self.assertEqual((rc, os.listdir(self.path("flat"))), (0, ["leaf.txt"]), out)
        self.write("upper.txt", b"U")
        rc, out = self.run_kov("-cf", "u.kox", "upper.txt")
        rc, out = self.extract_to("u.kox", "low", "-lower")
        self.assertEqual(os.listdir(self.path("low")), ["upper.txt".lower()])

    def test_force_replaces_and_plain_extraction_overwrites(self):
        rc, out = self.run_kov("-cf", "t.kox", "tree/text.txt")
        os.makedirs(self.path("out", "tree"))
        self.write("out/tree/text.txt", b"old", 0o400)
        rc, out = self.extract_to("t.kox", "out", "-j")
        self.assertEqual(rc, 0, out)
        self.assertEqual(snapshot(self.path("out", "tree"))[b"text.txt"],
                         snapshot(self.path("tree"))[b"text.txt"])

    def test_inaccessible_files(self):
        rc, out = self.run_kov("-cf", "bad.kox", "tree/text.txt", "nothere")
        self.assertEqual(rc, 44, out)
        self.assertIn("KOVZEF: file 'nothere' is inaccessible", out)
        self.assertFalse(os.path.exists(self.path("bad.kox")))
        rc, out = self.run_kov("-cif", "kept.kox", "tree/text.txt", "nothere")
        self.assertEqual(rc, 44, out)
        rc, listing = self.run_kov("-tf", "kept.kox")
        self.assertEqual(listing.splitlines()[1].split()[-1], "tree/text.txt")
        os.mkfifo(self.path("fifo"))
        rc, out = self.run_kov("-cif", "e.kox", "-e", "fifo", "gone", "tree/empty")
        self.assertEqual(rc, 44, out)
        with open(self.path("kovzef.log")) as f:
            self.assertEqual(f.read().splitlines(),
                             ["# List of inaccessible files", "# ==========================", "fifo", "gone"])
        with open(self.path("kovzef_output")) as f:
            self.assertIn("some files could not be accessed", f.read())


if __name__ == "__main__":
    unittest.main()

"""Hostile archives and careless command lines: each case crafts the input,
runs the program under a time limit and checks the status and that nothing
outside the intended place was written or lost."""

import os
import shutil
import stat
import struct
import subprocess
import sys
import unittest

from cmd_helpers import (KOVZEF, NOBODY, ScratchCase, archive_bytes, drop_privileges, entry_bytes, kox_crc,
                         reachable_program)


def sanitizer_clean(test, stderr):
    test.assertNotIn("Sanitizer", stderr)
    test.assertNotIn("runtime error", stderr)


class HostileInput(ScratchCase):

    def kov(self, *args, cwd=None, timeout=60):
        proc = subprocess.run([KOVZEF] + list(args), cwd=cwd or self.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=timeout,
                              env=dict(os.environ, TZ="UTC"))
        err = proc.stderr.decode("latin-1")
        sanitizer_clean(self, err)
        self.assertGreaterEqual(proc.returncode, 0, err)
        self.assertLess(proc.returncode, 128, err)
        return proc.returncode, proc.stdout.decode("latin-1")

    # -- cut archives ---------------------------------------------------------

    def test_every_cut_of_an_archive_fails_unless_it_ends_between_entries(self):
        # Fault caught: listing stopped quietly with status 0 when the file
        # ended where an entry's data blocks were still due (right after its
        # header, or after a "DA" block that announces more).
        two_blocks = (b"RG" + struct.pack("<IQIQIHH", 0o100644, 5, 0, 0, 0, 0, 4) + b"d/g\0"
                      + b"UD" + struct.pack("<I", 3) + b"abc"
                      + b"UE" + struct.pack("<I", 2) + b"de" + struct.pack("<I", kox_crc(b"abcde")))
        entries = [
            entry_bytes("DR", "d", 0o40755),
            entry_bytes("RG", "d/f", 0o100644, b"hello"),
            entry_bytes("LK", "d/l", 0o120777, target="f"),
            two_blocks,
        ]
        good = archive_bytes(entries)
        ends = {8}
        for e in entries:
            ends.add(max(ends) + len(e))
        self.assertEqual(max(ends), len(good))
        for cut in range(len(good)):
            self.write("cut.kox", good[:cut])
            for cmd in ("-tf", "-df"):
                rc, out = self.kov(cmd, "cut.kox")
                if cut in ends:
                    self.assertEqual(rc, 0, (cut, cmd, out))
                else:
                    self.assertNotEqual(rc, 0, (cut, cmd, out))

    # -- appending ----------------------------------------------------------------

    def test_append_or_merge_to_a_damaged_archive_is_refused_untouched(self):
        # Faults caught: appending checked only the archive header, so entries
        # written behind a cut last entry (or behind trailing garbage) were
        # read back as part of it: reported as added, but lost.  Merging
        # into an archive cut right behind an entry header did the same.
        self.write("new", b"new data")
        self.write("src.kox", archive_bytes([entry_bytes("RG", "g", 0o100644, b"world")]))
        good = archive_bytes([entry_bytes("RG", "f", 0o100644, b"hello" * 50)])
        for damaged in (good[:-3], good[:50], good + b"garbage!" * 10):
            for args in (["-af", "a.kox", "new"], ["-mf", "src.kox a.kox"]):
                self.write("a.kox", damaged)
                rc, out = self.kov(*args)
                self.assertNotEqual(rc, 0, (args, out))
                self.assertIn("a.kox", out)
                with open(self.path("a.kox"), "rb") as f:
                    self.assertEqual(f.read(), damaged, args)
        self.write("a.kox", good)
        rc, out = self.kov("-af", "a.kox", "new")
        self.assertEqual(rc, 0, out)
        rc, out = self.kov("-df", "a.kox")
        self.assertEqual((rc, out.splitlines()[-1]), (0, "KOVZEF: 2 file(s) tested"), out)

    # -- extraction over the archive itself ---------------------------------

    def test_an_entry_named_like_the_archive_being_read_is_not_written_over_it(self):
        # Fault caught: extracting an entry whose path is the archive itself
        # truncated the archive while it was being read (also with -j, which
        # removed it first), losing it and every entry after that one.
        payload = bytes(range(256)) * 600
        archive = archive_bytes([
            entry_bytes("RG", "a.kox", 0o100644, b"replacement"),
            entry_bytes("RG", "after", 0o100644, payload),
        ])
        for flags in ("-xf", "-xjf"):
            self.write("a.kox", archive)
            os.makedirs(self.path("sub"), exist_ok=True)
            # in the archive's own directory, and through -R from elsewhere
            for cwd, args in ((self.dir, ["a.kox"]), (self.path("sub"), ["../a.kox", "-R", ".."])):
                rc, out = self.kov(flags, *args, cwd=cwd)
                self.assertEqual(rc, 40, out)
                self.assertIn("is the archive being read", out)
                with open(self.path("a.kox"), "rb") as f:
                    self.assertEqual(f.read(), archive)
                with open(self.path("after"), "rb") as f:
                    self.assertEqual(f.read(), payload)
                os.remove(self.path("after"))

    # -- entry names -------------------------------------------------------------

    def test_entries_without_a_name_are_skipped_and_the_run_goes_on(self):
        # Fault caught: an entry with an empty name (stored so, or left empty
        # by -flat from "/") ended the whole extraction with a failure to
        # create a directory named "".
        self.write("a.kox", archive_bytes([
            entry_bytes("RG", "", 0o100644, b"nameless"),
            entry_bytes("RG", "/", 0o100644, b"root"),
            entry_bytes("RG", "keep", 0o100644, b"kept"),
        ]))
        os.mkdir(self.path("out"))
        rc, out = self.kov("-x", "-flat", "-f", "../a.kox", cwd=self.path("out"))
        self.assertEqual(rc, 40, out)
        self.assertEqual(out.count("an entry without a name was not extracted"), 2, out)
        self.assertEqual(os.listdir(self.path("out")), ["keep"])

    def test_backslash_names_stay_inside_the_target(self):
        # Guards a real risk: parent directories are made splitting at "\"
        # as well as "/", while ".." components are looked for between "/"
        # only; a backslash name must still be one name inside the target.
        self.write("w/a.kox", archive_bytes([
            entry_bytes("RG", "..\\..\\evil", 0o100644, b"x"),
            entry_bytes("RG", "a\\..\\..\\evil2", 0o100644, b"x"),
        ]))
        for extra in ([], ["-R", "out\\sub"]):
            rc, out = self.kov("-xf", "a.kox", *extra, cwd=self.path("w"))
            self.assertEqual(rc, 0, out)
        self.assertEqual(sorted(os.listdir(self.dir)), ["w"])
        self.assertTrue(os.path.isfile(self.path("w", "out", "sub", "..\\..\\evil")))

    # -- old-format header lines ------------------------------------------------

    def test_old_format_numbers_must_be_plain_and_whole(self):
        # Faults caught: a size of "-1" was read as the largest value, a
        # number wider than its scan field was split across the following
        # fields (shifting size, time and checksum), and a time without a
        # calendar date was listed as "Jan 00" and set on extracted files.
        lines = [
            b"F a 644 -1 5 0 0",
            b"F a 644 5 -1 0 0",
            b"F a 644 5 5 0 -1",
            b"F a -644 0 0 0 0",
            b"F a 644 99999999999999999999 5 0 0",
            b"F a 644 0 0 99999999999999999 0",
            b"F a 644 0 0 0 4294967296",
        ]
        for line in lines:
            self.write("old.zef", b"# old\n" + line + b"\n#\nxxxxx")
            for cmd in ("-tvf", "-xf"):
                rc, out = self.kov(cmd, "old.zef")
                self.assertEqual(rc, 40, (line, cmd, out))
                self.assertIn("format error in header", out, line)
            self.assertFalse(os.path.exists(self.path("a")), line)
        # Fault caught: the space estimate added such sizes with wrap-around,
        # so two entries of 2**63 bytes needed "0 KBytes" and passed the check.
        half = b"9223372036854775808"
        self.write("old.zef", b"F a 644 " + half + b" 9 0 0\nF b 644 " + half + b" 9 0 0\n#\n")
        rc, out = self.kov("-tsf", "old.zef")
        self.assertEqual(rc, 30, out)
        self.assertIn("18014398509481983 KBytes on .", out)
        # the same numbers written plainly are fine, whatever their width
        self.write("old.zef", b"F a 644 0 0 1600000000 0\nF b 100644 0 0 -5 0\n#\n")
        rc, out = self.kov("-tvf", "old.zef")
        self.assertEqual(rc, 0, out)

    def test_old_format_entry_named_like_the_archive_is_refused(self):
        # Fault caught: an old-format entry whose target was the archive
        # itself truncated the archive before its data were read.
        archive = b"F old.zef 644 0 0 0 0\nF b 644 0 0 0 0\n#\n"
        self.write("old.zef", archive)
        rc, out = self.kov("-xf", "old.zef")
        self.assertEqual(rc, 40, out)
        self.assertIn("can't create filename for old.zef", out)
        with open(self.path("old.zef"), "rb") as f:
            self.assertEqual(f.read(), archive)

    def test_damage_that_fits_the_format_is_reported_by_entry_name(self):
        # Faults caught: each of these passed -d and -x with status 0.
        cut = bytearray(entry_bytes("RG", "cut.txt", 0o100644, b"x" * 6000))
        cut[6:14] = struct.pack("<Q", 2 << 30)  # the header says 2 GiB
        bad_name = entry_bytes("RG", "ab", 0o100644, b"data")
        bad_name = bad_name[:34] + b"a\0b" + bad_name[34 + 3:]  # terminator inside the name
        blocks = entry_bytes("RG", "x", 0o100644, b"hidden")[34 + 2:]  # blocks and checksum
        self.write("bad.kox", archive_bytes([
            bytes(cut),
            entry_bytes("DR", "dir", 0o40755) + blocks,
            entry_bytes("RG", "empty", 0o100644) + blocks,
            bad_name,
            entry_bytes("RG", "fine.txt", 0o100644, b"fine"),
        ]))
        os.mkdir(self.path("out"))
        for args in (["-df", "bad.kox"], ["-xf", "../bad.kox"]):
            rc, out = self.kov(*args, cwd=self.path("out") if "-xf" in args else None)
            self.assertNotEqual(rc, 0, (args, out))
            self.assertIn("KOVZEF: cut.txt is damaged: its data blocks hold 6000 bytes, its "
                          "header says 2147483648", out)
            self.assertIn("KOVZEF: dir is damaged: a directory entry followed by data blocks", out)
            self.assertIn("KOVZEF: empty is damaged: an empty file entry followed by data blocks",
                          out)
            self.assertIn("KOVZEF: a is damaged: its stored name does not end with its terminator",
                          out)
        self.assertIn("what was read of it was kept", out)
        self.assertEqual(os.path.getsize(self.path("out", "cut.txt")), 6000)
        self.assertEqual(os.path.getsize(self.path("out", "empty")), 0)
        self.assertFalse(os.path.exists(self.path("out", "a")))
        with open(self.path("out", "fine.txt"), "rb") as f:
            self.assertEqual(f.read(), b"fine")

    def test_a_stream_that_fails_to_decode_writes_no_file_of_its_own(self):
        # Fault caught: the compression library wrote its message about the
        # broken stream to "cstrace.trc" in the working directory, opened
        # with truncation and through a link: a link planted there had the
        # file outside cut and overwritten, -d wrote a file, and -x with -R
        # wrote beside the target instead of only into it.
        stream = b"\x1f\x9d\x00\x00\x00"  # cut inside its 8-byte header
        stored = b"f\0"
        entry = (b"RG" + struct.pack("<IQIQIHH", 0o100644, 100, 0, 1_600_000_000, 0, 0, len(stored)) +
                 stored + b"ED" + struct.pack("<I", len(stream)) + stream + struct.pack("<I", 0))
        self.write("bad.kox", archive_bytes([entry]))
        self.write("outside", b"precious")
        os.mkdir(self.path("work"))
        os.symlink("../outside", self.path("work", "cstrace.trc"))
        for args in (["-df", "../bad.kox"], ["-xf", "../bad.kox", "-R", "../target"]):
            rc, out = self.kov(*args, cwd=self.path("work"))
            self.assertEqual(rc, 11, out)
            # The library's line goes where the archiver's messages go.
            self.assertIn("ERROR: CsRDecompress(init): inlen = 5\nKOVZEF: error decompressing ", out)
            with open(self.path("outside"), "rb") as f:
                self.assertEqual(f.read(), b"precious")
            self.assertEqual(os.listdir(self.path("work")), ["cstrace.trc"])
        self.assertEqual(os.listdir(self.path("target")), ["f"])

    def test_an_unsupported_version_is_shown_escaped(self):
        # Fault caught: the four version bytes were printed raw, so an
        # archive could send control sequences to the terminal.
        self.write("v.kox", b"ZEF \x1b[2J" + entry_bytes("RG", "f", 0o100644, b"x"))
        rc, out = self.kov("-tf", "v.kox")
        self.assertNotEqual(rc, 0, out)
        self.assertIn("archive version \\x1b[2J is not supported", out)
        self.assertNotIn("\x1b", out)

    # -- names that would drive the terminal ----------------------------------------

    def test_control_bytes_in_names_never_reach_the_output_raw(self):
        # Fault caught: entry and file names were shown raw in the listings,
        # the verbose lines of create, extract and test, the warnings and
        # errors and the log files, so that a name could send control
        # sequences to the terminal (set its title, clear the screen) or
        # forge a line of its own with a line feed or a carriage return.
        # Only what is shown is escaped: the files keep their names on disk,
        # and ordinary names (UTF-8 letters, whose bytes may lie in
        # 0x80-0x9F) are shown unchanged.
        shown = {b"t\x1b]0;title\x07": b"t\\x1b]0;title\\x07",
                 b"c\x1b[2J": b"c\\x1b[2J",
                 b"n\nforged": b"n\\x0aforged",
                 b"r\rforged": b"r\\x0dforged",
                 b"caf\xc3\xa9 \xe2\x82\xac": b"caf\xc3\xa9 \xe2\x82\xac"}
        root = self.dir.encode()
        os.mkdir(os.path.join(root, b"src"))
        for name in shown:
            with open(os.path.join(root, b"src", name), "wb") as f:
                f.write(name)
        gone, gone_shown = b"gone\x1b[2J\nforged", b"gone\\x1b[2J\\x0aforged"
        seen = []

        def kov(*args):
            proc = subprocess.run([KOVZEF.encode()] + list(args), cwd=root, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=60, env=dict(os.environ, TZ="UTC"))
            sanitizer_clean(self, proc.stderr.decode("latin-1"))
            seen.append((args, proc.stdout + proc.stderr))
            return proc.returncode, proc.stdout.split(b"\n")

        def read(name):
            with open(os.path.join(root, name), "rb") as f:
                data = f.read()
            seen.append((name, data))
            return data.split(b"\n")

        rc, lines = kov(b"-cvf", b"a.kox", b"src")
        self.assertEqual(rc, 0, lines)
        for name, text in shown.items():
            self.assertIn(b"a src/" + text, lines)
        for letters in (b"-tf", b"-tvf"):
            rc, lines = kov(letters, b"a.kox")
            self.assertEqual(rc, 0, lines)
            for text in shown.values():
                self.assertEqual(sum(line.endswith(b" src/" + text) for line in lines), 1, (text, lines))
        rc, lines = kov(b"-xvf", b"a.kox", b"-R", b"out")
        self.assertEqual(rc, 0, lines)
        for text in shown.values():
            self.assertIn(b"x src/" + text, lines)
        rc, lines = kov(b"-dvf", b"a.kox")
        self.assertEqual(rc, 0, lines)
        for text in shown.values():
            self.assertIn(b"d src/" + text, lines)
        # The round trip keeps every name and its data.
        for name in shown:
            with open(os.path.join(root, b"out", b"src", name), "rb") as f:
                self.assertEqual(f.read(), name)
        self.assertEqual(sorted(os.listdir(os.path.join(root, b"out", b"src"))), sorted(shown))

        # Inaccessible files on standard output and in kovzef.log, a missing
        # file in files.log, an archive that can not be opened.
        rc, lines = kov(b"-cf", b"b.kox", gone)
        self.assertEqual(rc, 44, lines)
        self.assertIn(b"KOVZEF: file '" + gone_shown + b"' is inaccessible", lines)
        rc, lines = kov(b"-cif", b"c.kox", b"-e", gone)
        self.assertEqual(rc, 44, lines)
        self.assertEqual(read(b"kovzef.log")[2:], [gone_shown, b""])
        read(b"kovzef_output")
        kov(b"-l", gone)
        self.assertEqual(read(b"files.log")[2:], [gone_shown, b""])
        # (An -f value is a list split at white space.)
        rc, lines = kov(b"-tf", b"no\x1b]0;t\x07.kox")
        self.assertEqual(rc, 6, lines)
        self.assertTrue(lines[0].startswith(b"KOVZEF: error opening no\\x1b]0;t\\x07.kox (error 6)."), lines)

        # The old format: its header lines can not hold a line feed.
        old = {b"o\x1b]0;t\x07": b"o\\x1b]0;t\\x07", b"q\x1b[2J\r": b"q\\x1b[2J\\x0d"}
        with open(os.path.join(root, b"old.zef"), "wb") as f:
            f.write(b"# old-format archive\n")
            for name in old:
                f.write(b"F " + name + b"   644          0         0 1600000000          0\n")
            f.write(b"#\n")
        rc, lines = kov(b"-tvf", b"old.zef")
        self.assertEqual(rc, 0, lines)
        for text in old.values():
            self.assertEqual(sum(line.endswith(b" " + text) for line in lines), 1, (text, lines))
        rc, lines = kov(b"-xvf", b"old.zef", b"-R", b"oldout")
        self.assertEqual(rc, 0, lines)
        for text in old.values():
            self.assertIn(b"x " + text, lines)
        self.assertEqual(sorted(os.listdir(os.path.join(root, b"oldout"))), sorted(old))

        for what, data in seen:
            raw = sorted({chr(b) for b in data if (b < 0x20 and b != 0x0A) or b == 0x7F})
            self.assertEqual(raw, [], (what, data))

    # -- fifos where files are expected ------------------------------------------

    def test_fifos_never_block_the_program(self):
        # Faults caught: a fifo given as the archive waited forever for a
        # writer (list, test, extract, merge) or a reader (create), and an
        # extracted file whose path was a fifo waited for a reader or blocked
        # once the fifo was full.
        os.mkfifo(self.path("fifo"))
        self.write("f", b"data")
        self.write("good.kox", archive_bytes([entry_bytes("RG", "f", 0o100644, b"x")]))
        for args in (["-tf", "fifo"], ["-df", "fifo"], ["-xf", "fifo"], ["-cf", "fifo", "f"],
                     ["-mf", "good.kox fifo"], ["-mf", "fifo good.kox"]):
            rc, out = self.kov(*args, timeout=20)
            self.assertNotEqual(rc, 0, (args, out))
            self.assertIn("fifo", out, args)
            self.assertTrue(os.path.exists(self.path("fifo")), args)
        os.mkdir(self.path("out"))
        os.mkfifo(self.path("out", "p"))
        self.write("new.kox", archive_bytes([entry_bytes("RG", "p", 0o100644, b"x" * 70000)]))
        # A fifo at an entry's path is replaced like anything else there.
        rc, out = self.kov("-xf", "../new.kox", cwd=self.path("out"), timeout=20)
        self.assertEqual(rc, 0, out)
        self.assertTrue(stat.S_ISREG(os.lstat(self.path("out", "p")).st_mode))
        os.remove(self.path("out", "p"))
        os.mkfifo(self.path("out", "p"))
        self.write("old.zef", b"F p 644 0 0 0 0\n#\n")
        rc, out = self.kov("-xf", "../old.zef", cwd=self.path("out"), timeout=20)
        self.assertEqual(rc, 0, out)
        self.assertTrue(stat.S_ISREG(os.lstat(self.path("out", "p")).st_mode))
        # an archive pattern of the old-format library that matches a fifo
        os.mkfifo(self.path("out", "old.fifo"))
        os.rename(self.path("old.zef"), self.path("out", "old.zef"))
        # Each match is handled once, in the order of the names: the fifo
        # fails to open (6) without waiting for a writer, and the archive
        # after it is extracted all the same.
        rc, out = self.kov("-xf", "old*", cwd=self.path("out"), timeout=20)
        self.assertEqual(rc, 6, out)
        self.assertIn("KOVZEF: error opening old.fifo (error 6). Illegal seek", out)
        self.assertIn("processing archive old.zef...", out)

    # -- list files ------------------------------------------------------------------

    def test_a_device_as_list_file_is_refused_quickly(self):
        # Fault caught: a list file without line ends (/dev/zero) was read
        # into one ever growing line until the memory ran out.
        self.write("f", b"data")
        for option in ("-A", "-X", "-T"):
            rc, out = self.kov("-cf", "a.kox", option, "/dev/zero", "f", timeout=30)
            self.assertEqual(rc, 5, (option, out))
            self.assertIn("error reading from /dev/zero", out)


    def test_fifos_and_malformed_lines_in_list_files_are_refused(self):
        # Faults caught: a fifo list file with no writer hung the run; a
        # rename line whose new name is blank gave an entry without a name;
        # a zero byte cut a name short without a word.
        self.write("f", b"data")
        os.mkfifo(self.path("list.fifo"))
        for option in ("-A", "-X", "-T"):
            rc, out = self.kov("-cf", "a.kox", option, "list.fifo", "f", timeout=20)
            self.assertEqual(rc, 6, (option, out))
            self.assertIn("error opening list.fifo", out)
        for name, content in (("cr.txt", b"f|\r\n"), ("blank.txt", b"f|  \n"),
                              ("zero.txt", b"f|g\0h\n")):
            self.write(name, content)
            rc, out = self.kov("-cf", "a.kox", "-T", name, "f")
            self.assertEqual(rc, 43, (name, out))
            self.assertIn("wrong format in file " + name, out)
        self.write("include.txt", b"f\0other\n")
        rc, out = self.kov("-cf", "a.kox", "-A", "include.txt")
        self.assertEqual(rc, 43, out)
        self.assertFalse(os.path.exists(self.path("a.kox")))

    def test_inputs_that_can_not_be_stored_are_reported_and_the_run_goes_on(self):
        # Faults caught: a link whose own name holds "|" was stored as
        # another name and target; a directory that can be read but not
        # searched ended the whole run with a stat error.
        self.write("f", b"data")
        os.symlink("f", self.path("odd|name"))
        rc, out = self.kov("-cirf", "a.kox", "odd|name", "f")
        self.assertEqual(rc, 44, out)
        self.assertIn("KOVZEF: file 'odd|name' is inaccessible (a link whose name contains "
                      "\"|\" can not be stored)", out)
        rc, out = self.kov("-tf", "a.kox")
        self.assertEqual(out.split()[-1], "f", out)
        os.mkdir(self.path("closed"))
        self.write("closed/inner", b"x")
        os.chmod(self.path("closed"), 0o444)
        # Run as root, the program drops to another user, who can not search
        # the directory either; run as its owner, the owner can not.
        if os.geteuid() == 0:
            os.chown(self.dir, NOBODY, NOBODY)
            os.chown(self.path("f"), NOBODY, NOBODY)
        proc = subprocess.run([reachable_program(self), "-cif", "b.kox", "closed", "f"], cwd=self.dir,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60,
                              preexec_fn=drop_privileges)
        out = proc.stdout.decode("latin-1")
        self.assertEqual(proc.returncode, 44, out)
        self.assertIn("KOVZEF: file 'closed/*' is inaccessible", out)
        rc, out = self.kov("-tf", "b.kox")
        self.assertEqual([line.split()[-1] for line in out.splitlines()[1:]], ["closed", "f"], out)

    @unittest.skipUnless(shutil.which("strace"), "needs strace")
    def test_a_link_that_vanishes_while_it_is_read_is_reported_and_the_run_goes_on(self):
        # Fault caught: a symbolic link gone by the time the run read it
        # (followed, or stored with -r) ended the whole run, even with -i,
        # where a file that vanishes is reported and the run goes on.
        self.write("target", b"t")
        self.write("z", b"z")
        os.symlink("target", self.path("lnk"))
        # The link is listed; every later look at it finds nothing.  Also
        # caught: a link gone between two looks of the run at it (the third
        # look on) still ended the run.
        env = dict(os.environ, TZ="UTC")
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"  # no leak check under ptrace
        for flags, when in (("-cif", 2), ("-cirf", 2), ("-cif", 3)):
            vanish = ["strace", "-f", "-qq", "-o", "/dev/null", "-P", "lnk",
                      "-e", "trace=%stat,%file,readlink,readlinkat",
                      "-e", "inject=newfstatat,statx:error=ENOENT:when=%d+" % when,
                      "-e", "inject=readlink,readlinkat,openat:error=ENOENT"]
            proc = subprocess.run(vanish + [KOVZEF, flags, "a.kox", "lnk", "z"], cwd=self.dir, env=env,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
            out = proc.stdout.decode("latin-1")
            self.assertEqual(proc.returncode, 44, out)
            self.assertIn("KOVZEF: file 'lnk' is inaccessible (No such file or directory)", out)
            rc, out = self.kov("-tf", "a.kox")
            self.assertEqual(out.split()[-1], "z", out)

    def test_a_listing_that_can_not_be_written_fails(self):
        self.write("a.kox", archive_bytes([entry_bytes("RG", "f", 0o100644, b"x")]))
        with open("/dev/full", "wb") as full:
            proc = subprocess.run([KOVZEF, "-tf", "a.kox"], cwd=self.dir, stdout=full,
                                  stderr=subprocess.PIPE, timeout=30)
        self.assertEqual(proc.returncode, 4, proc.stderr)
        self.assertIn(b"KOVZEF: error writing to standard output", proc.stderr)

if __name__ == "__main__":
    sys.exit(0 if unittest.main(exit=False).result.wasSuccessful() else 1)

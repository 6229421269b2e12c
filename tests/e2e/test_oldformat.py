"""Archives of the old text-header format, built by hand, listed, tested and
extracted through the archiver's fallback for files without the KOX magic.

The entries' data are compressed streams made three ways: with our own coder
(taken from the data block of a KOX archive that kovzef writes), with zlib's
raw deflate and with the Unix compress program, each behind the 8-byte
stream header."""

import os
import shutil
import stat
import struct
import subprocess
import sys
import time
import unittest
import zlib

from cmd_helpers import KOVZEF, SCRATCH as TMP, ScratchCase, run
ENV = dict(os.environ, TZ="UTC", LC_ALL="C")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def checksum(data):
    """CRC-32 register started at 0 and not complemented."""
    return ~zlib.crc32(data, 0xFFFFFFFF) & 0xFFFFFFFF


def stream_header(length, descriptor, param):
    return struct.pack("<I", length) + bytes([descriptor, 0x1F, 0x9D, param])


def zlib_stream(data):
    """Raw deflate (16 KiB window) behind the header.  The bit stream starts
    with a 2-bit count of filler bits: 0 here, so zlib's bits move up by 2.
    Only compressible data are given to it: stored blocks are not part of
    the format."""
    c = zlib.compressobj(6, zlib.DEFLATED, -14)
    raw = c.compress(data) + c.flush()
    shifted = (int.from_bytes(raw, "little") << 2).to_bytes(len(raw) + 1, "little")
    return stream_header(len(data), 0x12, 2) + shifted


def compress_stream(data):
    out = subprocess.run(["compress", "-c", "-b", "13"], input=data,
                         stdout=subprocess.PIPE, check=False).stdout
    # compress writes 1F 9D and the flag byte (block mode | 13 bits): they are
    # the last three bytes of the stream header.
    assert out[:3] == b"\x1f\x9d\x8d", out[:3]
    return struct.pack("<I", len(data)) + b"\x11" + out


def own_stream(data, workdir):
    """One compressed stream made by kovzef itself: the single "ED" block
    of a KOX archive holding the data (at most 64 KiB)."""
    assert 0 < len(data) <= 65536
    src = os.path.join(workdir, "own-src")
    os.makedirs(src, exist_ok=True)
    name = os.path.join(src, "payload")
    with open(name, "wb") as f:
        f.write(data)
    kox = os.path.join(workdir, "own.kox")
    if os.path.exists(kox):
        os.remove(kox)
    r = subprocess.run([KOVZEF, "-cf", kox, "payload"], cwd=src, env=ENV,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if r.returncode != 0:
        raise AssertionError("kovzef -c failed: %r" % r.stdout)
    blob = read(kox)
    assert blob[:4] == b"ZEF ", blob[:8]
    pos = 8
    _typ, _mode, _size, _hi, _mtime, _res, ulen, nlen = struct.unpack_from("<2sIQIQIHH", blob, pos)
    pos += 34 + nlen + ulen
    kind, length = struct.unpack_from("<2sI", blob, pos)
    if kind != b"ED":
        raise AssertionError("expected one compressed block, got %r" % kind)
    return blob[pos + 6:pos + 6 + length]


def lzw_stream_without_block_mode(data):
    """LZW codes of 9 bits without block mode: no clear code, so the first
    new string is code 256.  Kept short enough that the width stays 9."""
    table = {bytes([i]): i for i in range(256)}
    codes, word = [], b""
    for c in data:
        longer = word + bytes([c])
        if longer in table:
            word = longer
            continue
        codes.append(table[word])
        table[longer] = len(table)
        word = bytes([c])
    codes.append(table[word])
    assert len(table) <= 512
    bits = sum(code << (9 * i) for i, code in enumerate(codes))
    return stream_header(len(data), 0x11, 13) + bits.to_bytes((9 * len(codes) + 7) // 8, "little")


class Entry:
    def __init__(self, name, data=None, typ="F", mode=0o644, mtime=1600000000,
                 stream=zlib_stream, crc=True, size=None, csize=None, raw=None):
        self.name, self.typ, self.mode, self.mtime = name, typ, mode, mtime
        self.data = data or b""
        self.raw = raw
        if raw is None:
            self.raw = stream(self.data) if (typ == "F" and self.data) else b""
        self.size = len(self.data) if size is None else size
        self.csize = len(self.raw) if csize is None else csize
        self.crc = checksum(self.data) if crc is True else (crc or 0)

    def line(self, with_crc=True):
        text = "%c %s %5o %10d %9d %10d" % (self.typ, self.name, self.mode, self.size,
                                            self.csize, self.mtime)
        if with_crc:
            text += " %10d" % self.crc
        return text + "\n"


def write_archive(path, entries, comments=("# old-format archive",), six_fields=()):
    with open(path, "wb") as f:
        for c in comments:
            f.write((c + "\n").encode())
        for e in entries:
            f.write(e.line(e.name not in six_fields).encode("latin-1"))
        f.write(b"#\n")
        for e in entries:
            f.write(e.raw)


class OldFormatTest(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.join(TMP, self.id().split(".")[-1])
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)

    def run_kovzef(self, *args, cwd=None):
        r = subprocess.run([KOVZEF] + list(args), cwd=cwd or self.dir, env=ENV,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        return r.returncode, r.stdout.decode("latin-1"), r.stderr.decode("latin-1")

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def sample_entries(self):
        text = b"hello old world\n" * 40
        binary = bytes(range(256)) * 300
        return [
            Entry("docs", typ="D", mode=0o750, mtime=1500000000),
            Entry("docs/readme.txt", text, mode=0o640, mtime=1500000100),
            Entry("docs/data.bin", binary, mode=0o600, mtime=1500000200, stream=compress_stream),
            Entry("empty.txt", b"", mode=0o604, mtime=1500000300),
            Entry("my notes.txt", b"blanks in the name\n", mode=0o644, mtime=1500000400),
            Entry("tool.sh", b"#!/bin/sh\necho hi\n", mode=0o755, mtime=1500000500),
        ]

    # -- listing ---------------------------------------------------------------

    def test_lzw_streams_without_block_mode_read_256_as_a_string(self):
        data = b"abababababababab" * 4 + b"xyzzy"
        write_archive(self.path("old.zef"),
                      [Entry("plain.txt", data, stream=lzw_stream_without_block_mode)])
        rc, out, err = self.run_kovzef("-xf", "old.zef", "-R", "out")
        self.assertEqual(rc, 0, out + err)
        self.assertEqual(read(self.path("out", "plain.txt")), data)

    def test_list_verbose_lines(self):
        entries = self.sample_entries()
        write_archive(self.path("old.zef"), entries)
        rc, out, err = self.run_kovzef("-tvf", "old.zef")
        self.assertEqual(rc, 0, out + err)
        self.assertNotIn("invalid archive", out)
        expected = []
        for e in entries:
            perm = ("d" if e.typ == "D" else "-") + "".join(
                c if e.mode & bit else "-" for c, bit in zip("rwxrwxrwx", (
                    0o400, 0o200, 0o100, 0o40, 0o20, 0o10, 0o4, 0o2, 0o1)))
            date = time.strftime("%b %d %H:%M", time.gmtime(e.mtime))
            expected.append("%s  %9d  %s   %s" % (perm, e.size, date, e.name))
        lines = [l for l in out.splitlines() if l in expected]
        self.assertEqual(lines, expected, out)
        self.assertEqual(os.listdir(self.dir), ["old.zef"])

    def test_list_selected_names(self):
        write_archive(self.path("old.zef"), self.sample_entries())
        rc, out, _ = self.run_kovzef("-tvf", "old.zef", "docs")
        self.assertEqual(rc, 0, out)
        self.assertIn("docs/readme.txt", out)
        self.assertIn("docs/data.bin", out)
        self.assertNotIn("tool.sh", out)

    def test_list_space_estimate_for_directories_not_there_yet(self):
        entries = [Entry("new/deeper/f.bin", b"x" * 5000, stream=zlib_stream)]
        write_archive(self.path("old.zef"), entries)
        rc, out, err = self.run_kovzef("-tsvf", "old.zef")
        self.assertEqual(rc, 0, out + err)
        self.assertIn("The extraction requires the following free space:\n    4 KBytes on .\n", out)
        self.assertIn("new/deeper/f.bin", out)

    # -- extraction --------------------------------------------------------------

    def check_tree(self, base, entries):
        for e in entries:
            p = os.path.join(base, e.name)
            st = os.stat(p)
            if e.typ == "D":
                self.assertTrue(stat.S_ISDIR(st.st_mode), p)
            else:
                self.assertEqual(read(p), e.data, p)
            self.assertEqual(stat.S_IMODE(st.st_mode), e.mode, p)
            self.assertEqual(int(st.st_mtime), e.mtime, p)

    def test_extract_files_directories_modes_and_times(self):
        entries = self.sample_entries()
        write_archive(self.path("old.zef"), entries)
        rc, out, err = self.run_kovzef("-xvf", "old.zef")
        self.assertEqual(rc, 0, out + err)
        for e in entries:
            self.assertIn("x %s\n" % e.name, out)
        self.check_tree(self.dir, entries)

    def test_extract_under_target_directory(self):
        entries = self.sample_entries()
        write_archive(self.path("old.zef"), entries)
        rc, out, err = self.run_kovzef("-xf", "old.zef", "-R", "out/sub")
        self.assertEqual(rc, 0, out + err)
        self.check_tree(self.path("out", "sub"), entries)
        self.assertFalse(os.path.exists(self.path("docs")))

    def test_own_coder_streams(self):
        data = b"".join(b"line %d of the own coder\n" % i for i in range(3000))[:60000]
        own = own_stream(data, self.dir)
        entries = [Entry("own.txt", data, raw=own)]
        write_archive(self.path("old.zef"), entries)
        rc, out, err = self.run_kovzef("-xf", "old.zef", "-R", "res")
        self.assertEqual(rc, 0, out + err)
        self.assertEqual(read(self.path("res", "own.txt")), data)

    def test_six_field_line_has_no_checksum(self):
        e = Entry("plain.txt", b"no checksum here\n", crc=0xDEAD)
        write_archive(self.path("old.zef"), [e], six_fields=("plain.txt",))
        rc, out, err = self.run_kovzef("-xf", "old.zef")
        self.assertEqual(rc, 0, out + err)
        self.assertEqual(read(self.path("plain.txt")), e.data)

    def test_test_mode_writes_nothing(self):
        write_archive(self.path("old.zef"), self.sample_entries())
        rc, out, err = self.run_kovzef("-dvf", "old.zef")
        self.assertEqual(rc, 0, out + err)
        self.assertIn("d docs/readme.txt\n", out)
        self.assertEqual(os.listdir(self.dir), ["old.zef"])

    def test_checksum_error(self):
        good = Entry("good.txt", b"fine\n")
        bad = Entry("bad.txt", b"spoiled\n", crc=12345)
        write_archive(self.path("old.zef"), [good, bad])
        for mode in ("-xf", "-df"):
            rc, out, _ = self.run_kovzef(mode, "old.zef")
            self.assertEqual(rc, 40, out)
            self.assertIn("checksum error bad.txt", out)

    def test_include_file_selects(self):
        write_archive(self.path("old.zef"), self.sample_entries())
        with open(self.path("names.lst"), "w") as f:
            f.write("# wanted\ntool.sh\n")
        rc, out, err = self.run_kovzef("-xvf", "old.zef", "-A", "names.lst")
        self.assertEqual(rc, 0, out + err)
        self.assertTrue(os.path.exists(self.path("tool.sh")))
        self.assertFalse(os.path.exists(self.path("docs")))

    def test_several_archives_by_pattern(self):
        for i in (1, 2, 5):
            write_archive(self.path("r%d.zef" % i), [Entry("from%d.txt" % i, b"archive %d\n" % i)])
        rc, out, err = self.run_kovzef("-xvf", "r?.zef")
        self.assertEqual(rc, 0, out + err)
        for i in (1, 2, 5):
            self.assertIn("processing archive r%d.zef...\n" % i, out)
            self.assertTrue(os.path.exists(self.path("from%d.txt" % i)))

    def test_archive_names_without_case_reach_each_old_archive_once(self):
        # Fault caught: under g, -x and -d handed the old-format library the
        # -f value itself, which it looked up by its own rules and with case:
        # "A?.ZEF" was "No such file or directory A?.ZEF", status 40, while
        # -t read both archives.  Each archive the program's own expansion
        # finds is read once, in the order of the names, a KOX one among them
        # by the program itself; the library no longer expands the value
        # again (a "[1-2]" is no pattern of the program's).
        for i in (1, 2):
            write_archive(self.path("a%d.zef" % i), [Entry("from%d.txt" % i, b"archive %d\n" % i)])
        with open(self.path("from3.txt"), "wb") as f:
            f.write(b"archive 3\n")
        rc, out, err = self.run_kovzef("-cf", "a3.zef", "from3.txt")
        self.assertEqual(rc, 0, out + err)
        os.remove(self.path("from3.txt"))
        for command, value in (("t", "A?.ZEF"), ("x", "A?.ZEF"), ("d", "A?.ZEF"), ("x", "a1.ZEF,A[1-2].zef,a2.zef")):
            what = "-%sgvf %s" % (command, value)
            rc, out, err = self.run_kovzef("-%sgvf" % command, value, "-R", "out") if command == "x" else \
                self.run_kovzef("-%sgvf" % command, value)
            self.assertEqual(rc, 0, what + out + err)
            self.assertNotIn("No such file", out, what)
            headers = [l for l in out.splitlines() if l.startswith(("processing archive", "KOVZEF: processing"))]
            if "," in value:
                self.assertEqual(headers, ["processing archive a1.zef...", "processing archive a2.zef..."], what)
                continue
            self.assertEqual(headers, ["processing archive a1.zef...", "processing archive a2.zef...",
                                       "KOVZEF: processing archive a3.zef (version 2.01)"], what)
            if command == "x":
                for i in (1, 2, 3):
                    self.assertEqual(read(self.path("out", "from%d.txt" % i)), b"archive %d\n" % i, what)
                shutil.rmtree(self.path("out"))

    # -- faults that must be refused ------------------------------------------------

    def test_names_leaving_the_target_are_refused(self):
        # With -P, as stored, these would leave the target and are refused.
        # Without -P a leading "../" is removed, but a ".." inside a name is
        # refused as the KOX reader refuses it.  Fault caught: the ".." was
        # resolved first, so "a/../../evil.txt" was extracted as "evil.txt".
        for name, inside in (("../evil.txt", True), ("a/../../evil.txt", False),
                             ("sub\\..\\..\\evil.txt", False), ("a/../evil.txt", False)):
            work = self.path("w")
            shutil.rmtree(work, ignore_errors=True)
            os.makedirs(work)
            write_archive(os.path.join(work, "old.zef"),
                          [Entry("fine.txt", b"ok\n"), Entry(name, b"escape\n")])
            rc, out, _ = self.run_kovzef("-xf", "old.zef", "-P", "-R", "out", cwd=work)
            self.assertEqual(rc, 40, out)
            self.assertIn("can't create filename for " + name, out)
            self.assertFalse(os.path.exists(os.path.join(work, "evil.txt")), name)
            self.assertFalse(os.path.exists(os.path.join(self.dir, "evil.txt")), name)
            self.assertFalse(os.path.exists(os.path.join(work, "out", "fine.txt")), name)
            rc, out, _ = self.run_kovzef("-xf", "old.zef", "-R", "out", cwd=work)
            if inside:
                self.assertEqual(rc, 0, out)
                self.assertEqual(read(os.path.join(work, "out", "evil.txt")), b"escape\n")
            else:
                self.assertEqual(rc, 40, out)
                self.assertIn("can't create filename for " + name, out)
                self.assertFalse(os.path.exists(os.path.join(work, "out")), name)

    def test_links_at_an_entry_path_are_replaced_not_written_through(self):
        # Fault caught: a file entry was written through a symbolic or a hard
        # link at its path, into the file outside the target.
        os.makedirs(self.path("out"))
        for name in ("soft", "hard"):
            with open(self.path(name + ".keep"), "wb") as f:
                f.write(b"precious")
        os.symlink(self.path("soft.keep"), self.path("out", "soft"))
        os.link(self.path("hard.keep"), self.path("out", "hard"))
        # A directory entry at a link to a directory uses it, but leaves its
        # target's mode and time alone.  Fault caught: the directory outside
        # the target got the entry's mode (here 0777) and time.
        os.makedirs(self.path("victim"))
        os.chmod(self.path("victim"), 0o751)
        os.utime(self.path("victim"), (1_000_000_000, 1_000_000_000))
        os.symlink(os.path.join("..", "victim"), self.path("out", "d"))
        write_archive(self.path("old.zef"), [Entry("soft", b"one\n"), Entry("hard", b"two\n"),
                                             Entry("d", typ="D", mode=0o777)])
        rc, out, err = self.run_kovzef("-xf", "old.zef", "-R", "out")
        self.assertEqual(rc, 0, out + err)
        for name, data in (("soft", b"one\n"), ("hard", b"two\n")):
            self.assertEqual(read(self.path(name + ".keep")), b"precious")
            self.assertFalse(os.path.islink(self.path("out", name)))
            self.assertEqual(read(self.path("out", name)), data)
        self.assertTrue(os.path.islink(self.path("out", "d")))
        st = os.stat(self.path("victim"))
        self.assertEqual((stat.S_IMODE(st.st_mode), st.st_mtime), (0o751, 1_000_000_000))

    def test_stored_absolute_name_stays_absolute_with_P_only(self):
        target = self.path("abs", "target.txt")
        write_archive(self.path("old.zef"), [Entry(target, b"absolute\n")])
        rc, out, err = self.run_kovzef("-xf", "old.zef", "-R", "out")
        self.assertEqual(rc, 0, out + err)
        self.assertFalse(os.path.exists(target))
        self.assertEqual(read(self.path("out", target.lstrip("/"))), b"absolute\n")
        rc, out, err = self.run_kovzef("-xf", "old.zef", "-P", "-R", "out")
        self.assertEqual(rc, 0, out + err)
        self.assertEqual(read(target), b"absolute\n")

    def test_cut_stream_fails_instead_of_hanging(self):
        data = b"".join(b"%d," % (i * 7919 % 10007) for i in range(20000))
        raw = zlib_stream(data)
        for cut in (raw[:len(raw) // 2], raw[:9]):
            write_archive(self.path("old.zef"), [Entry("cut.bin", data, raw=cut)])
            rc, out, _ = self.run_kovzef("-df", "old.zef")
            self.assertEqual(rc, 40, out)
            self.assertIn("can't decompress", out)

    def test_more_output_than_announced_is_stopped(self):
        data = b"\0" * 1000000
        e = Entry("bomb.bin", data, size=10, crc=0)
        write_archive(self.path("old.zef"), [e])
        rc, out, _ = self.run_kovzef("-xf", "old.zef")
        self.assertEqual(rc, 40, out)
        self.assertIn("can't decompress", out)
        self.assertLessEqual(os.path.getsize(self.path("bomb.bin")), 10)

    def test_archive_shorter_than_its_entries(self):
        data = b"abc" * 5000
        e = Entry("short.bin", data, stream=compress_stream)
        e.raw = e.raw[:-5]
        write_archive(self.path("old.zef"), [e])
        rc, out, _ = self.run_kovzef("-df", "old.zef")
        self.assertEqual(rc, 40, out)
        self.assertIn("Archive seems to be corrupt", out)

    def test_header_format_error(self):
        with open(self.path("old.zef"), "wb") as f:
            f.write(b"this is not an archive at all\nsecond line\n")
        rc, out, _ = self.run_kovzef("-xf", "old.zef")
        self.assertEqual(rc, 40, out)
        self.assertIn("format error in header", out)
        self.assertEqual(os.listdir(self.dir), ["old.zef"])

    def test_word_option_values_are_not_names(self):
        write_archive(self.path("old.zef"), self.sample_entries())
        rc, out, err = self.run_kovzef("-xf", "old.zef", "-key", "store", "-manifest", "m.smf")
        self.assertEqual(rc, 0, out + err)
        self.assertIn("KOVZEF: the option -key has no effect when working with old archives.", out)
        self.assertTrue(os.path.exists(self.path("tool.sh")), out)
        self.assertTrue(os.path.exists(self.path("docs", "data.bin")), out)

    def test_output_order_of_library_and_log_lines(self):
        for i in (1, 2):
            write_archive(self.path("r%d.zef" % i), [Entry("f%d" % i, b"x")])
        rc, out, err = self.run_kovzef("-xvf", "r?.zef", "-flat")
        self.assertEqual(rc, 0, out + err)
        notice = "KOVZEF: the option -flat has no effect when working with old archives."
        lines = [l for l in out.splitlines() if l.startswith(("processing", "x f", notice))]
        self.assertEqual(lines, [
            "processing archive r1.zef...", notice, "x f1",
            "processing archive r2.zef...", notice, "x f2"], out)


class ArchivesByPattern(ScratchCase):
    def test_each_archive_a_pattern_or_list_names_is_listed_and_tested(self):
        # Faults caught: the list and test commands handed the old-format
        # library the -f value itself, so every old-format archive that a
        # pattern (or a list of names) matched was reported as "No such file
        # or directory a*.zef" with status 40 and none was read; and
        # extraction, which reads such a list, took a KOX archive the pattern
        # matched for an old one ("format error in header", status 40).
        for i in (1, 2):
            write_archive(self.path("a%d.zef" % i), [Entry("docs", typ="D", mode=0o755),
                                                     Entry("docs/from%d.txt" % i, b"archive %d\n" % i),
                                                     Entry("other%d.txt" % i, b"not selected\n")])
        # A KOX archive under the same pattern.
        self.write("docs/from3.txt", b"archive %d\n" % 3)
        rc, out = run(["-cf", "a3.zef", "docs"], self.dir)
        self.assertEqual(rc, 0, out)
        shutil.rmtree(self.path("docs"))
        lines = {"t": r"-rw-r--r-- +10 .*   docs/from%d\.txt", "d": r"d docs/from%d\.txt", "x": r"x docs/from%d\.txt"}
        for value in ("a*.zef", "a?.zef", "a1.zef a2.zef a3.zef", "a1.zef,a3.zef,a2.zef"):
            for command in ("t", "d", "x"):
                what = "-%svf %s" % (command, value)
                target = os.path.join(self.dir, "out", command)
                rc, out = run(["-%svf" % command, value, "docs", "-R", target] if command == "x"
                              else ["-%svf" % command, value, "docs"], self.dir)
                self.assertEqual(rc, 0, "%s: %s" % (what, out))
                self.assertNotIn("No such file", out, what)
                for i in (1, 2):
                    header = "processing archive a%d.zef...\n" % i
                    self.assertEqual(out.count(header), 1, "%s: %s" % (what, out))
                    self.assertRegex(out.split(header)[1], r"^(.*\n)?%s\n" % (lines[command] % i), what)
                    self.assertNotIn("other%d.txt" % i, out, what)
                self.assertNotIn("processing archive a3.zef...", out, what)
                self.assertEqual(out.count("KOVZEF: processing archive a3.zef (version 2.01)\n"), 1, what)
                self.assertRegex(out, r"\n%s\n" % (lines[command] % 3).replace("   ", " +"), what)
                if command == "x":
                    for i in (1, 2, 3):
                        self.assertEqual(read(os.path.join(target, "docs", "from%d.txt" % i)),
                                         b"archive %d\n" % i, what)
                    shutil.rmtree(target)

if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=1)

"""Extract and test decode the blocks of large entries on worker threads: a
run with all the processors must give exactly what a run on one processor
(which decodes on the caller's thread alone) gives -- files, times, modes,
messages and status -- on sound archives and on damaged ones.  Runs of
zero bytes come back as holes where the file system keeps them."""

import os
import random
import stat
import struct
import unittest
import zlib

from cmd_helpers import ScratchCase, kox_entries, run

CHUNK = 65536
ARCHIVED_TIME = 1_500_000_000


def run_on(cpus, args, cwd):
    """Runs the program limited to the given processors; (status, output)."""
    return run(args, cwd, cpus=cpus)


def tree(root):
    """Kind, mode, time and bytes of every path below root; a time other than
    the archived one is that of the run (a file a failed run left)."""
    result = {}
    for dirpath, dirs, files in os.walk(root):
        for name in dirs + files:
            full = os.path.join(dirpath, name)
            st = os.lstat(full)
            data = None
            if stat.S_ISREG(st.st_mode):
                with open(full, "rb") as f:
                    data = zlib.crc32(f.read()), st.st_size
            when = int(st.st_mtime) if int(st.st_mtime) == ARCHIVED_TIME else "run"
            result[os.path.relpath(full, root)] = (stat.S_IFMT(st.st_mode), stat.S_IMODE(st.st_mode),
                                                   when, data)
    return result


@unittest.skipIf(len(os.sched_getaffinity(0)) < 2, "one processor: no workers to compare with")
class ParallelDecoding(ScratchCase):

    def setUp(self):
        super().setUp()
        rnd = random.Random(11)
        text = b"".join(b"row %d: %s\n" % (i, b"abcdefgh"[: i % 8] * 5) for i in range(40000))
        noise = bytes(rnd.getrandbits(8) for _ in range(3 * CHUNK + 100))
        os.makedirs(self.path("src", "d"))
        self.files = {
            "src/big.txt": text,
            "src/mixed.bin": text[:CHUNK * 2] + noise + bytes(5 * CHUNK) + text[:999],
            "src/d/zeros.img": bytes(8 * CHUNK + 17),
            "src/small.txt": b"small\n",
        }
        for rel, data in self.files.items():
            with open(self.path(rel), "wb") as f:
                f.write(data)
            os.chmod(self.path(rel), 0o640)
            os.utime(self.path(rel), (ARCHIVED_TIME, ARCHIVED_TIME))
        rc, out = run_on(os.sched_getaffinity(0), ["-cf", "a.kox", "src"], self.dir)
        self.assertEqual(rc, 0, out)
        with open(self.path("a.kox"), "rb") as f:
            self.archive = f.read()

    def compare(self, archive, label):
        """Extracts and tests archive on one processor and on all of them."""
        with open(self.path(label + ".kox"), "wb") as f:
            f.write(archive)
        results = {}
        for name, cpus in (("one", {min(os.sched_getaffinity(0))}), ("all", os.sched_getaffinity(0))):
            # Each run in a directory of its own, seeing the same names.
            run_dir = self.path(label + "-" + name)
            os.makedirs(os.path.join(run_dir, "out"))
            test = run_on(cpus, ["-df", "../" + label + ".kox"], run_dir)
            extract = run_on(cpus, ["-xf", "../" + label + ".kox", "-R", "out"], run_dir)
            results[name] = (test, extract, tree(os.path.join(run_dir, "out")))
        self.assertEqual(results["one"], results["all"], label)
        return results["all"]

    def block(self, name, index):
        for _, entry, blocks, _, _ in kox_entries(self.archive):
            if entry == name:
                return blocks[index]
        raise KeyError(name)

    def test_sound_archive_comes_back_whole_with_zero_runs_as_holes(self):
        (test, extract, got) = self.compare(self.archive, "sound")
        self.assertEqual(test[0], 0, test[1])
        self.assertEqual(extract[0], 0, extract[1])
        for rel, data in self.files.items():
            self.assertEqual(got[rel][3], (zlib.crc32(data), len(data)), rel)
            self.assertEqual(got[rel][1:3], (0o640, ARCHIVED_TIME), rel)
        # Where the file system keeps holes, the zeros take none of its blocks.
        probe = self.path("probe")
        with open(probe, "wb") as f:
            f.truncate(1 << 20)
        if os.stat(probe).st_blocks == 0:
            zeros = os.stat(self.path("sound-all", "out", "src", "d", "zeros.img"))
            self.assertLess(zeros.st_blocks * 512, 2 * 4096)
            mixed = os.stat(self.path("sound-all", "out", "src", "mixed.bin"))
            self.assertLess(mixed.st_blocks * 512, mixed.st_size - 3 * CHUNK)

    def test_damaged_blocks_fail_the_same_way(self):
        at, btype, blen = self.block("src/big.txt", 3)
        self.assertEqual(btype, b"DA")
        bad = bytearray(self.archive)
        for i in range(at + 6 + 20, at + 6 + blen - 4, 7):
            bad[i] ^= 0x5A
        test, extract, _ = self.compare(bytes(bad), "corrupt")
        self.assertNotEqual(test[0], 0)

        cut = self.archive[:self.block("src/mixed.bin", 4)[0] + 1000]
        test, _, _ = self.compare(cut, "cut")
        self.assertNotEqual(test[0], 0)

        for _, name, blocks, crc_at, _ in kox_entries(self.archive):
            if name == "src/big.txt":
                bad = bytearray(self.archive)
                bad[crc_at] ^= 1
                test, _, _ = self.compare(bytes(bad), "checksum")
                self.assertIn("checksum error", test[1])

        # A stream longer than a chunk is refused before it is decoded.
        at, _, _ = self.block("src/big.txt", 5)
        bad = bytearray(self.archive)
        bad[at + 6:at + 10] = struct.pack("<I", CHUNK + 1)
        self.compare(bytes(bad), "long")

    def test_a_stream_spread_over_two_blocks_is_decoded_in_order(self):
        # Another writer may let a stream run on into the next block: the
        # second half is no stream of its own, which only the order shows.
        at, btype, blen = self.block("src/big.txt", 2)
        body = self.archive[at + 6:at + 6 + blen]
        half = blen // 2
        split = b"DA" + struct.pack("<I", half) + body[:half] + b"DA" + struct.pack("<I", blen - half) + body[half:]
        archive = self.archive[:at] + split + self.archive[at + 6 + blen:]
        test, extract, got = self.compare(archive, "split")
        self.assertEqual(test[0], 0, test[1])
        self.assertEqual(got["src/big.txt"][3], (zlib.crc32(self.files["src/big.txt"]), len(self.files["src/big.txt"])))


if __name__ == "__main__":
    unittest.main()

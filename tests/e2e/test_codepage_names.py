"""Entry names between the local code page on disk and UTF-8 in the archive:
Latin-1 names (C1 controls among them) round-trip, KOV_CODEPAGE chooses
the local code page, and names the local code page cannot hold are
extracted changed, said so by name, and never over another entry."""
import functools
import os
import re
import struct
import subprocess
import unicodedata
import unittest

from cmd_helpers import KOVZEF, ScratchCase, archive_bytes, entry_bytes, kox_entries, run
from test_oldformat import Entry, write_archive

LATIN1_NAMES = [b"caf\xe9.txt", b"x\x85y", b"\xff\xa0end", b"plain.txt"]

# Double-byte code pages, their codec, and names whose characters have the
# byte 0x5C ("\\") as their second byte.
DOUBLE_BYTE_PAGES = [("8000", "shift_jis", "\u8868", "\u30bd\u30d5\u30c8.txt"),
                     ("8300", "big5", "\u8a31", "\u529f\u80fd"),
                     ("8400", "gbk", "\u4e57", "a\u4e57b")]


# The codecs the tables of the double-byte code pages were made from (EUC-JP:
# three bytes for its supplementary set); 8341-8345 and 8404 carry the data
# of 8340 and 8400.
DOUBLE_BYTE_CODECS = {"8000": "shift_jis", "8004": "cp932", "8100": "euc_jp", "8300": "big5", "8304": "cp950",
                      "8340": "big5hkscs", "8341": "big5hkscs", "8342": "big5hkscs", "8343": "big5hkscs",
                      "8344": "big5hkscs", "8345": "big5hkscs", "8400": "gbk", "8404": "gbk", "8450": "gb2312",
                      "8500": "euc_kr", "8504": "cp949"}


def readme_pages():
    """Every code page the README says the program carries."""
    readme = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")
    with open(readme, encoding="utf-8") as f:
        carried = next(line for line in f if line.startswith("- Code pages carried:")).split("(")[0]
    pages = []
    for first, last in re.findall(r"\b(\d{4})(?:-(\d{4}))?\b", carried):
        pages += ["%04d" % n for n in range(int(first), int(last or first) + 1)]
    return pages


def readme_double_byte_pages():
    """Every double-byte code page the README says the program carries (the
    East Asian pages but the ISO-2022 ones, 8200 and 8599), with its codec:
    a page added there without a codec here fails, not passed over."""
    return [(cp, DOUBLE_BYTE_CODECS[cp]) for cp in readme_pages() if "8000" <= cp < "8600" and cp not in ("8200", "8599")]


def page_character(local, i, codec):
    """(length, text) of the character at local[i:]: the shortest run of
    bytes the codec decodes; (0, "") when no character starts there."""
    for n in range(1, 4):
        try:
            return n, local[i:i + n].decode(codec)
        except UnicodeDecodeError:
            pass
    return 0, ""


def shown_on_page(local, codec):
    """How a name in the local code page is shown: its characters as they
    are, a control character and a byte that starts no character as \\xNN."""
    out, i = b"", 0
    while i < len(local):
        n, text = page_character(local, i, codec)
        if n and not any(unicodedata.category(c) == "Cc" for c in text):
            out += local[i:i + n]
        else:
            n = max(n, 1)
            out += b"".join(b"\\x%02x" % b for b in local[i:i + n])
        i += n
    return out


@functools.lru_cache(maxsize=None)
def page_characters(codec):
    """Every character of a code page that is no control and comes back
    from Unicode as it was: the single bytes from 0x80 on, the pairs and
    EUC-JP's triples."""
    runs = [bytes([b]) for b in range(0x80, 0x100)]
    runs += [bytes([lead, trail]) for lead in range(0x81, 0xFF) for trail in range(0x40, 0xFF)]
    runs += [bytes([0x8F, a, b]) for a in range(0xA1, 0xFF) for b in range(0xA1, 0xFF)] if codec == "euc_jp" else []
    chars = []
    for run in runs:
        n, text = page_character(run, 0, codec)
        if n == len(run) and len(text) == 1 and unicodedata.category(text) != "Cc" and text.encode(codec) == run:
            chars.append(run)
    return chars


def raw_archive(names):
    """An archive of empty files under the stored names, taken as they are."""
    out = b"ZEF 2.01"
    for name in names:
        stored = name + b"\0"
        out += b"RG" + struct.pack("<IQIQIHH", 0o100644, 0, 0, 1_600_000_000, 0, 0, len(stored)) + stored
    return out


def stored_names(archive):
    """The stored names of an archive of entries without data, as bytes."""
    names, pos = [], 8
    while pos < len(archive):
        (size,) = struct.unpack_from("<Q", archive, pos + 6)
        ulen, nlen = struct.unpack_from("<HH", archive, pos + 30)
        assert size == 0
        names.append(archive[pos + 34:pos + 34 + nlen - 1])
        pos += 34 + nlen + ulen
    return names


def tree(top):
    """Every path below top (bytes, relative) with the data of the files."""
    out = {}
    for root, dirs, files in os.walk(os.fsencode(top)):
        rel = os.path.relpath(root, os.fsencode(top))
        for d in dirs:
            out[os.path.normpath(os.path.join(rel, d))] = None
        for f in files:
            with open(os.path.join(root, f), "rb") as fh:
                out[os.path.normpath(os.path.join(rel, f))] = fh.read()
    return out


def wide_characters_with(codec, trails):
    """The characters of two bytes of a double-byte page whose second byte is
    one of trails; for an ISO-2022 page (its codec's EUC twin) those whose
    7-bit bytes have either byte among trails."""
    if codec.startswith("iso2022"):
        euc = {"iso2022_jp": "euc_jp", "iso2022_kr": "euc_kr"}[codec]
        pairs = [bytes([a | 0x80, b | 0x80]) for a in range(0x21, 0x7F) for b in range(0x21, 0x7F)
                 if a in trails or b in trails]
        return [p.decode(euc).encode(codec) for p in pairs if page_character(p, 0, euc) == (2, p.decode(euc, "replace"))
                and len(p.decode(euc)) == 1 and p.decode(euc).encode(euc) == p][:40]
    return [c for c in page_characters(codec) if len(c) == 2 and c[1] in trails]


def names_of(prefix, chars, longest=200):
    """The characters in names of at most longest bytes, each after prefix
    and its number."""
    names = []
    for c in chars:
        if not names or len(names[-1]) + len(c) > longest:
            names.append(b"%s%03d_" % (prefix, len(names)))
        names[-1] += c
    return names


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

    def test_double_byte_names_with_a_backslash_byte_round_trip(self):
        # The second byte 0x5C of a double-byte character was taken for a
        # backslash and made "/": naming such a file failed with 44, a
        # directory of such a name could not be walked, and extraction made a
        # stray directory of the first byte.
        for cp, codec, dirname, filename in DOUBLE_BYTE_PAGES:
            env = {"KOV_CODEPAGE": cp}
            local_dir, local_file = dirname.encode(codec), filename.encode(codec)
            self.assertEqual(local_dir[-1:], b"\\")
            src = self.path("src" + cp)
            os.makedirs(os.path.join(os.fsencode(src), local_dir, local_dir))
            for path, data in ((local_file, b"top"), (local_dir + b"/" + local_file, b"inner"),
                               (local_dir + b"/" + local_dir + b"/" + local_file, b"deep")):
                with open(os.path.join(os.fsencode(src), path), "wb") as f:
                    f.write(data)
            utf8_dir, utf8_file = dirname.encode(), filename.encode()
            cases = [
                # naming the file (its directory is no entry of the archive)
                ([local_dir + b"/" + local_file], {local_dir: None, local_dir + b"/" + local_file: b"inner"},
                 [utf8_dir + b"/" + utf8_file]),
                # walking the directory, named with a last "/"
                ([local_dir + b"/"], {k: v for k, v in tree(src).items() if k.startswith(local_dir + b"/")
                                      or k == local_dir},
                 sorted([utf8_dir, utf8_dir + b"/" + utf8_file, utf8_dir + b"/" + utf8_dir,
                         utf8_dir + b"/" + utf8_dir + b"/" + utf8_file])),
                # walking the directory and naming the file beside it
                ([local_dir, local_file], tree(src), None),
            ]
            for i, (names, expected, stored) in enumerate(cases):
                archive = self.path("a%s_%d.kox" % (cp, i))
                status, out = run(["-cf", archive] + names, src, env=env)
                self.assertEqual(status, 0, (cp, names, out))
                if stored is not None:
                    with open(archive, "rb") as f:
                        self.assertEqual(sorted(e[1].encode() for e in kox_entries(f.read())), stored, cp)
                dest = self.path("out%s_%d" % (cp, i))
                os.makedirs(dest)
                status, out = run(["-xf", archive], dest, env=env)
                self.assertEqual(status, 0, (cp, names, out))
                self.assertEqual(tree(dest), expected, (cp, names))

    def test_a_target_directory_with_a_backslash_byte_is_extracted_into(self):
        # The byte 0x5C of a double-byte character of the -R value was taken
        # for a backslash and made "/": KOX and old-format archives alike
        # were extracted into a directory named by the first byte alone, with
        # status 0, and the space estimate looked for the target there.  Under
        # 8344 and 8345, whose converter reads byte pairs although their kind
        # gives no character lengths, stored names holding such characters
        # were split too (stray directories) and the verbose lines showed
        # every byte of them as \xNN.  Every double-byte page is swept with
        # all its characters whose last byte is 0x5C (a page without any:
        # forty of its characters) in one name.
        for cp, codec in readme_double_byte_pages():
            env = {"KOV_CODEPAGE": cp}
            wide = [c for c in page_characters(codec) if len(c) > 1]
            local_dir = b"".join([c for c in wide if c.endswith(b"\\")] or wide[:40])
            local_file = b"f" + local_dir
            src = os.fsencode(self.path("src" + cp))
            os.makedirs(os.path.join(src, b"sub", local_dir))
            files = {b"sub/" + local_file: b"kox " + cp.encode(), b"sub/" + local_dir + b"/" + local_file: b"inner"}
            for path, data in files.items():
                with open(os.path.join(src, path), "wb") as f:
                    f.write(data)
            status, out = run(["-cf", "../a%s.kox" % cp, "sub"], src, env=env)
            self.assertEqual(status, 0, (cp, out))
            old = {b"sub/old.txt": b"old format " * 20, b"sub/o" + local_file: b"old " + cp.encode(),
                   b"sub/" + local_dir + b"/o" + local_file: b"old inner"}
            write_archive(self.path("o%s.zef" % cp), [Entry(n.decode("latin-1"), d) for n, d in old.items()])
            for target in (local_dir, local_dir + b"/" + local_dir):
                nested = b"/" in target
                dest = self.path("x%s_%d" % (cp, nested))
                os.makedirs(os.path.join(os.fsencode(dest), target))
                # The target is there: the space is needed on its file system.
                status, out = run(["-tsf", "../a%s.kox" % cp, "-R", target], dest, env=env)
                self.assertEqual(status, 0, (cp, out))
                self.assertIn(" KB in " + target.decode("latin-1") + "\n", out)
                # -xf and -xvf of each format, the verbose lines showing the
                # names as they are.
                for archive, names, verbose in (("../a%s.kox" % cp, files, nested), ("../o%s.zef" % cp, old, not nested)):
                    status, out = run(["-xvf" if verbose else "-xf", archive, "-R", target], dest, env=env)
                    self.assertEqual(status, 0, (cp, archive, out))
                    lines = out.encode("latin-1").split(b"\n")
                    for name in names if verbose else ():
                        self.assertIn(b"x " + shown_on_page(name, codec), lines, (cp, archive))
                parents = {target[:i]: None for i in range(len(target) + 1) if target[i:i + 1] in (b"/", b"")}
                written = {target + b"/" + name: data for name, data in {**files, **old}.items()}
                self.assertEqual(tree(dest), {**parents, target + b"/sub": None, target + b"/sub/" + local_dir: None,
                                              **written}, (cp, target))

    def test_shown_names_are_read_by_the_characters_of_the_local_code_page(self):
        # Every byte 0x80-0x9F was taken for a C1 control: a double-byte
        # character with such a lead byte was torn apart in every listing
        # and verbose line ("\u30bd\u30d5\u30c8.txt" under 8000 as
        # \x83\\x83t\x83g.txt); under 8344 and 8345, whose kind gives no
        # character lengths, every byte of a Chinese name was \xNN and a name
        # holding a character with the second byte 0x5C could not be named
        # (44).  The oracle reads each name by the page's own codec, on every
        # double-byte page: every character of the page shown as it is, a
        # control and a byte that starts no character escaped, the whole
        # decodable.
        for cp, codec in readme_double_byte_pages():
            env = {"KOV_CODEPAGE": cp}
            chars = page_characters(codec)
            names = [b"v%03d_" % 0]
            for c in chars:
                if len(names[-1]) + len(c) > 200:
                    names.append(b"v%03d_" % len(names))
                names[-1] += c
            # Control bytes between characters, and what the page decodes to
            # a control of its own (0x80 under 8004).
            controls = [bytes([b]) for b in list(range(1, 0x20)) + [0x7F]]
            controls += [bytes([b]) for b in range(0x80, 0x100) if page_character(bytes([b]), 0, codec)[1] == chr(b)
                         and unicodedata.category(chr(b)) == "Cc"]
            names.append(b"c_" + b"".join(b + chars[i * 97 % len(chars)] for i, b in enumerate(controls)))
            # A byte before DEL (no trail byte of any page) and at the end.
            bare = [b"b%02x_" % b + bytes([b]) + b"\x7f" + bytes([b]) for b in range(0x80, 0x100)]
            src = os.fsencode(self.path("src" + cp))
            os.makedirs(src)
            for name in names + bare:
                with open(os.path.join(src, name), "wb"):
                    pass
            status, out = run(["-cvf", "../s%s.kox" % cp] + names + bare, src, env=env)
            self.assertEqual(status, 0, (cp, out))
            listings = [("-cvf", out.encode("latin-1"), names + bare)]
            for command in ("-tf", "-tvf"):
                status, out = run([command, "s%s.kox" % cp], self.dir, env=env)
                self.assertEqual(status, 0, (cp, out))
                listings.append((command, out.encode("latin-1"), names))
            # An old-format archive keeps the names as they are, bare bytes
            # among them (its lines hold no blank, tab or line end).
            old = [n.translate(None, b" \t\n\r") for n in names[-1:] + bare]
            write_archive(self.path("o%s.zef" % cp), [Entry(n.decode("latin-1"), b"") for n in old])
            status, out = run(["-tvf", "o%s.zef" % cp], self.dir, env=env)
            self.assertEqual(status, 0, (cp, out))
            listings.append(("old -tvf", out.encode("latin-1"), old))
            for command, listing, listed in listings:
                lines = listing.split(b"\n")
                if command == "-cvf":
                    shown = {line[2:] for line in lines if line.startswith(b"a ")}
                else:
                    shown = {line.rsplit(b" ", 1)[-1] for line in lines}
                for name in listed:
                    self.assertIn(shown_on_page(name, codec), shown, (cp, command, name))
                listing.decode(codec)

        # Under ISO-2022 each byte counts on its own: the escape sequences of
        # a name never reach the terminal.
        with open(self.path("j.kox"), "wb") as f:
            f.write(raw_archive(["\u6f22\u5b57".encode()]))
        for cp, codec in (("8200", "iso2022_jp"), ("8599", "iso2022_kr")):
            status, out = run(["-tf", "j.kox"], self.dir, env={"KOV_CODEPAGE": cp})
            self.assertEqual(status, 0, (cp, out))
            local = "\u6f22\u5b57".encode(codec)
            self.assertIn(" " + "".join(chr(b) if b >= 0x20 else "\\x%02x" % b for b in local) + "\n", out)
            self.assertNotIn("\x1b", out)

        # Under ISO 8859-1 and UTF-8 the bytes are read as UTF-8 or Latin-1,
        # as they always were: a UTF-8 character whole, its C1 controls and a
        # lone byte 0x80-0x9F escaped.
        os.makedirs(self.path("u"))
        with open(os.path.join(os.fsencode(self.path("u")), b"u\xc4\x81\xc2\x85\x9b\xe9"), "wb"):
            pass
        for cp in ("1100", "4110"):
            status, out = run(["-cvf", "../u%s.kox" % cp, b"u\xc4\x81\xc2\x85\x9b\xe9"], self.path("u"),
                              env={"KOV_CODEPAGE": cp})
            self.assertEqual(status, 0, (cp, out))
            self.assertIn("a u\xc4\x81\\xc2\\x85\\x9b\xe9\n", out)

    def test_converted_names_never_gain_a_separator_nor_broken_utf8(self):
        # A character that a stateful or EBCDIC code page writes with a byte
        # "/" made a directory on extraction; a UTF-8 local code page took
        # broken UTF-8, surrogates, overlong and too long forms as they were,
        # both from the archive and into it.
        # (code page, codec, stored name, what is written of it); a "/" of
        # the stored name stays a separator.
        gaining = [("8200", "iso2022_jp", "x\u304f.txt", ["x#.txt"]),
                   ("8200", "iso2022_jp", "d\u6f22/\u6f22\u304f", ["d\u6f22", "d\u6f22/\u6f22#"]),
                   ("8599", "iso2022_kr", "\uac17z", ["#z"]),
                   ("0120", "cp500", "a\x07b", ["a#b"])]
        for i, (cp, codec, stored, written) in enumerate(gaining):
            self.assertIn(b"/", stored.split("/")[-1].encode(codec))
            dest = self.path("gain%d" % i)
            os.makedirs(dest)
            with open(self.path("gain%d.kox" % i), "wb") as f:
                f.write(raw_archive([stored.encode()]))
            status, out = run(["-xf", "../gain%d.kox" % i], dest, env={"KOV_CODEPAGE": cp})
            self.assertEqual(status, 0, (cp, out))
            self.assertIn("name changed", out)
            local = [b"/".join(part.encode(codec) for part in w.split("/")) for w in written]
            expected = {path: None for path in local[:-1]}
            expected[local[-1]] = b""
            self.assertEqual(tree(dest), expected, cp)

        # Python's decoder replaces each broken sequence once, as the
        # conversion from UTF-8 into ISO-8859-1 does.
        hostile = [b"\xed\xa0\x80", b"\xed\xbf\xbf", b"\xf4\x90\x80\x80", b"\xc0\xaf", b"\xc1\xbf", b"\xe0\x80\xaf",
                   b"\xf0\x80\x80\xaf", b"\xf8\x88\x80\x80\x80", b"\xfc\x84\x80\x80\x80\x80", b"\xff", b"\xfe",
                   b"\x80", b"\xbf\xbf", b"\xe3\x81", b"\xf4\x90", b"\xc3\xc3\xa9", b"\xf5\x80\x80\x80"]
        valid = [b"\xc3\xa9", b"\xed\x9f\xbf", b"\xee\x80\x80", b"\xef\xbf\xbf", b"\xf4\x8f\xbf\xbf", b"\xf0\x90\x80\x80"]
        names = [b"n%02d%se" % (i, part) for i, part in enumerate(hostile + valid)]
        oracle = {n: n.decode("utf-8", "replace").replace("\ufffd", "#").encode() for n in names}
        with open(self.path("h.kox"), "wb") as f:
            f.write(raw_archive(names))
        latin1 = self.path("h1100")
        os.makedirs(latin1)
        status, out = run(["-xf", "../h.kox"], latin1, env={"KOV_CODEPAGE": "1100"})
        self.assertEqual(status, 0, out)
        self.assertEqual(sorted(tree(latin1)),
                         sorted(oracle[n].decode().encode("latin-1", "replace").replace(b"?", b"#") for n in names))
        for cp in ("4110", "4310"):
            dest = self.path("h" + cp)
            os.makedirs(dest)
            status, out = run(["-xf", "../h.kox"], dest, env={"KOV_CODEPAGE": cp})
            self.assertEqual(status, 0, (cp, out))
            self.assertEqual(sorted(tree(dest)), sorted(oracle.values()), cp)

            # Into the archive: local names that are no UTF-8 are stored with
            # "#", never as they are.
            src = self.path("s" + cp)
            os.makedirs(src)
            for n in names:
                with open(os.path.join(os.fsencode(src), n), "wb"):
                    pass
            status, out = run(["-cf", "../c%s.kox" % cp] + sorted(names), src, env={"KOV_CODEPAGE": cp})
            self.assertEqual(status, 0, (cp, out))
            with open(self.path("c%s.kox" % cp), "rb") as f:
                self.assertEqual(sorted(stored_names(f.read())), sorted(oracle[n] for n in names), cp)


    def test_iso2022_kr_names_read_their_designation_wherever_it_stands(self):
        # The designation ESC $ ) C went into the stored name as it stood
        # unless SO followed it at once (once at the start, as such text is
        # written; again; after the text), and SO without it read Hangul.
        # Each local name is named as it is (one holds a pair whose second
        # byte is 0x5C, which stays no backslash); Python reads the names.
        names = [b"\x1b$)CHello \x0eGQ19\x0f.txt", b"\x1b$)Ca\x1b$)Cb\x0e0\\\x0f\x1b$)C",
                 b"x\x0eGQ\x0f", b"\x1b$)C\x0eGQ\nGQ\x0f\x1bxZ"]
        src = self.path("kr")
        os.makedirs(src)
        for name in names:
            with open(os.path.join(os.fsencode(src), name), "wb") as f:
                f.write(name)
        status, out = run(["-cf", "../kr.kox"] + names, src, env={"KOV_CODEPAGE": "8599"})
        self.assertEqual(status, 0, out)
        with open(self.path("kr.kox"), "rb") as f:
            stored = sorted(e[1] for e in kox_entries(f.read()))
        self.assertEqual(stored, sorted(n.decode("iso2022_kr") for n in names))

    def test_lower_changes_only_letters_of_one_byte(self):
        # Fault caught: -lower lowered every byte of a name, so a second byte
        # A-Z of a double-byte character became another character (under 8000
        # "A\u3001.txt" and "A\u2016.txt" were both extracted to "a\u2016.txt",
        # "2 file(s) extracted", status 0), the bytes of an ISO-2022 character
        # and the final byte of its escape changed, and under EBCDIC (0120)
        # bytes that are no letters there became others, a "/" among them.
        # Every double-byte page with all its characters whose second byte is
        # A-Z; Python's codecs give each name on disk.  A file whose name
        # -lower made another one's keeps its place: the later one is
        # reported, status 40; a name stored twice is the same file again.
        for cp, codec in readme_double_byte_pages() + [("0120", "cp500"), ("8200", "iso2022_jp"),
                                                      ("8599", "iso2022_kr")]:
            env = {"KOV_CODEPAGE": cp}
            texts = [n.decode(codec) for n in names_of(b"L", wide_characters_with(codec, range(0x41, 0x5B)))]
            texts += ["MiXed!.TXT", "Up.txt", "up.txt", "Re.txt", "Re.txt"]
            data = {t: t.encode() for t in texts}
            data["up.txt"], data["Re.txt"] = b"second", b"newer"
            entries = [entry_bytes("RG", t.encode(), 0o100644, t.encode(), utf8=True) for t in texts[:-1]]
            entries.append(entry_bytes("RG", b"Re.txt", 0o100644, b"newer", utf8=True))
            with open(self.path("l%s.kox" % cp), "wb") as f:
                f.write(archive_bytes(entries))
            dest = self.path("l" + cp)
            os.makedirs(dest)
            status, out = run(["-xf", "../l%s.kox" % cp, "-lower"], dest, env=env)
            self.assertEqual(status, 40, (cp, out))
            self.assertIn("KOVZEF: %s not extracted: a file of this name was written before by this run"
                          % "up.txt".encode(codec).decode("latin-1"), out)
            self.assertIn("KOVZEF: %d file(s) extracted" % (len(texts) - 1), out)

            def lowered(text):
                return "".join(c.lower() if "A" <= c <= "Z" else c for c in text)

            # "up.txt" holds the data of "Up.txt", which came first.
            expected = {lowered(t).encode(codec): data[t] for t in texts if t != "up.txt"}
            self.assertEqual(tree(dest), expected, cp)

        # -flat alike: "d2/same.txt" would take the place of "d1/same.txt";
        # "/top.txt" lands on "top.txt" with or without -flat.
        with open(self.path("flat.kox"), "wb") as f:
            f.write(archive_bytes([entry_bytes("RG", n, 0o100644, n.encode())
                                   for n in ("d1/same.txt", "d2/same.txt", "/top.txt", "top.txt")]))
        os.makedirs(self.path("flat"))
        status, out = run(["-xf", "../flat.kox", "-flat"], self.path("flat"))
        self.assertEqual(status, 40, out)
        self.assertIn("KOVZEF: same.txt not extracted: a file of this name was written before by this run", out)
        self.assertEqual(tree(self.path("flat")), {b"same.txt": b"d1/same.txt", b"top.txt": b"top.txt"})

    def test_lower_and_flat_judge_names_by_the_place_they_land_on(self):
        # Fault caught: the check that no file -lower or -flat moved takes the
        # place of a file of another stored name compared paths as spelled:
        # "./ABC.txt" lowered took the place of "abc.txt", "d/ABC.txt" that
        # of "d//abc.txt", "x/./s.txt" flattened that of "y//s.txt" ("2
        # file(s) extracted", status 0, one file's data gone).  Every
        # spelling of a place against every other, in both orders: a later
        # entry of another stored name is refused with 40 and the first
        # keeps its data; a name stored twice, in whatever spellings, is the
        # same name again, whose later entry replaces the earlier one.
        groups = [("-lower", "abc.txt", ["./ABC.txt", "ABC.txt", "/ABC.txt", "../ABC.txt", ".//ABC.txt",
                                         "./abc.txt", "abc.txt", "/abc.txt"]),
                  ("-lower", "d/abc.txt", ["d/ABC.txt", "d//ABC.txt", "./d/./ABC.txt", "/d/ABC.txt",
                                           "d/abc.txt", "d//abc.txt", "d/./abc.txt"]),
                  ("-flat", "s.txt", ["x/./s.txt", "x//s.txt", "y/s.txt", "./y/s.txt", "s.txt", "./s.txt"])]
        number = 0
        for option, place, names in groups:
            for first in names:
                for second in names:
                    number += 1
                    with open(self.path("p%d.kox" % number), "wb") as f:
                        f.write(archive_bytes([entry_bytes("RG", first, 0o100644, b"first"),
                                               entry_bytes("RG", second, 0o100644, b"second")]))
                    dest = self.path("p%d" % number)
                    os.makedirs(dest)
                    status, out = run(["-xf", "../p%d.kox" % number, option], dest)
                    # The place each stored name lands on without -lower and -flat.
                    same = os.path.normpath(first.lstrip("./")) == os.path.normpath(second.lstrip("./"))
                    label = (option, first, second, out)
                    self.assertEqual(status, 0 if same else 40, label)
                    self.assertEqual("a file of this name was written before by this run" in out, not same, label)
                    files = {k: v for k, v in tree(dest).items() if v is not None}
                    self.assertEqual(files, {place.encode(): b"second" if same else b"first"}, label)

    def test_a_double_byte_character_with_a_bar_byte_stays_whole_in_links_and_renames(self):
        # Faults caught: a link whose name or target held a character with the
        # second byte 0x7C ("|") was refused ("contains |", 44), and one stored
        # was split at that byte on extraction (a wrong name and target,
        # status 0); a lead byte that ended a link's name took the "|" for
        # its second byte; a rename list (-T) cut the old name inside such a
        # character ("file 'F_\x81' is inaccessible", 44).  Every double-byte
        # page with such characters; Python's codecs read the stored names.
        for cp, codec in readme_double_byte_pages():
            bars = wide_characters_with(codec, [0x7C])[:40]
            if not bars:
                continue
            env = {"KOV_CODEPAGE": cp}
            src = os.fsencode(self.path("k" + cp))
            os.makedirs(src)
            run_of = b"".join(bars)
            link, target = b"L" + run_of, b"T" + run_of + b"/x"
            os.symlink(target, os.path.join(src, link))
            os.symlink(b"t", os.path.join(src, b"E" + bars[0][:1]))
            with open(os.path.join(src, b"F" + run_of), "wb") as f:
                f.write(b"renamed")
            with open(os.path.join(src, b"ren.lst"), "wb") as f:
                f.write(b"F" + run_of + b"|G" + run_of + b"\n")
            status, out = run(["-crf", "../k%s.kox" % cp, "-T", "ren.lst", link, b"E" + bars[0][:1], b"F" + run_of],
                              src, env=env)
            self.assertEqual(status, 0, (cp, out))
            with open(self.path("k%s.kox" % cp), "rb") as f:
                stored = sorted(e[1] for e in kox_entries(f.read()))
            text = run_of.decode(codec)
            self.assertEqual(stored, sorted(["L%s|T%s/x" % (text, text), "E#|t", "G" + text]), cp)
            dest = os.fsencode(self.path("kx" + cp))
            os.makedirs(dest)
            status, out = run(["-xf", "../k%s.kox" % cp], dest, env=env)
            self.assertEqual(status, 0, (cp, out))
            self.assertEqual(sorted(os.listdir(dest)), sorted([link, b"E#", b"G" + run_of]), cp)
            self.assertEqual(os.readlink(os.path.join(dest, link)), target, cp)
            self.assertEqual(os.readlink(os.path.join(dest, b"E#")), b"t", cp)

    def test_names_that_become_one_stored_name_end_the_run_with_47(self):
        # Fault caught: two local names the page cannot convert (under 8000
        # 0x8540 and 0x8640, under 4110 0xFF and 0xFE, 8345's characters of
        # two code points) were stored under one name with status 0 and no
        # word, and their extraction wrote one file.  Each changed name is
        # said; a second file stored under the name of another is said too
        # and ends the run with 47 (the archive holds both); a name given
        # twice is the same file.
        cases = [("8000", [b"\x85\x40", b"\x86\x40"]), ("4110", [b"\xff", b"\xfe"]),
                 ("8345", [b"\x88\x62", b"\x88\x64", b"\x88\xa3", b"\x88\xa5"])]
        for cp, odd in cases:
            env = {"KOV_CODEPAGE": cp}
            src = os.fsencode(self.path("n" + cp))
            os.makedirs(src)
            names = [b"s" + odd[0]] + [b"n" + x for x in odd]
            for name in names:
                with open(os.path.join(src, name), "wb") as f:
                    f.write(name)
            status, out = run(["-cf", "../n%s.kox" % cp] + names + [names[1]], src, env=env)
            self.assertEqual(status, 47, (cp, out))
            lines = out.split("\n")
            self.assertEqual(len([l for l in lines if ': name changed, stored as "' in l]), len(names), (cp, out))
            clashes = [l for l in lines if "stored under the name of another file of this run" in l]
            self.assertTrue(all(l.endswith("(error 47)") for l in clashes), out)
            with open(self.path("n%s.kox" % cp), "rb") as f:
                stored = [e[1] for e in kox_entries(f.read())]
            self.assertEqual(len(stored), len(names), (cp, stored))
            self.assertEqual(len(clashes), len(stored) - len(set(stored)), (cp, stored, out))
            self.assertGreater(len(clashes), 0, (cp, stored))
        # One changed name alone loses nothing: said, status 0.
        status, out = run(["-cf", "../one.kox", b"s\xff"], self.path("n4110"), env={"KOV_CODEPAGE": "4110"})
        self.assertEqual(status, 0, out)
        self.assertIn('KOVZEF: s\xff: name changed, stored as "s#"', out)


    def test_a_name_stored_unchanged_comes_back_as_it_was(self):
        # Guards the shortcut that tells, by its bytes alone, that a name of
        # a page of single bytes converts into UTF-8 and back as it was: a
        # byte taken so that does not come back would be stored changed
        # without a word.  Under every page carried, each byte (but "/") in a
        # name of its own: what a create stores without saying it changed
        # is extracted under the very bytes, what it says changed is not
        # (the pages of wide units, 4100-4105, hold no names at all).
        names = [b"b%02x_" % b + bytes([b]) for b in range(1, 256) if b != 0x2F]
        for name in names:
            self.write("bytes", name, name)
        for cp in [cp for cp in readme_pages() if not "4100" <= cp <= "4105"]:
            env = {"KOV_CODEPAGE": cp}
            status, out = run(["-cf", "../b%s.kox" % cp, "."], self.path("bytes"), env=env)
            self.assertEqual(status, 0, (cp, out))
            changed = {int(h, 16) for h in re.findall(r"^KOVZEF: b([0-9a-f]{2})_.*: name changed, stored as", out, re.M)}
            os.makedirs(self.path("x" + cp))
            status, out = run(["-xf", "../b%s.kox" % cp], self.path("x" + cp), env=env)
            self.assertEqual(status, 0, (cp, out))
            back = set(os.listdir(os.fsencode(self.path("x" + cp))))
            self.assertEqual(sorted(n for n in names if int(n[1:3], 16) not in changed),
                             sorted(n for n in names if n in back), cp)

    def test_two_files_of_one_stored_place_end_the_run_with_47_in_any_spelling(self):
        # Faults caught: the check of one stored name for two files compared
        # the UTF-8 names as spelled and passed over plain ones, so a create
        # under 8000 of "./\x85\x40.txt" and "\x86\x40.txt" ("./#@.txt" and
        # "#@.txt"), under 8200 of "\x1b(JA.txt" and "A.txt" (a redundant
        # escape: both "A.txt"), and a rename list (-T) that put two files
        # onto one name ended with 0, and their extraction wrote one file.
        # Now each ends with 47 and one line for the later file, the archive
        # holding both; a file given twice, in two spellings, is no clash.
        # Written to standard output, such a run's stream is the very
        # archive a named one is: no reader refuses it (a run that ended with
        # 47 marked it torn, status 5 for every reader).
        self.write("src", b"\x85\x40.txt", b"sjis 1")
        self.write("src", b"\x86\x40.txt", b"sjis 2")
        self.write("src", b"\x1b(JA.txt", b"roman")
        self.write("src", b"\x1b(BA.txt", b"ascii")
        for name in (b"A.txt", b"a.txt", b"b.txt", b"c.txt"):
            self.write("src", name, name)
        with open(self.path("src", "two.lst"), "wb") as f:
            f.write(b"a.txt|z.txt\nb.txt|z.txt\n")
        with open(self.path("src", "spelt.lst"), "wb") as f:
            f.write(b"a.txt|./d/z.txt\nb.txt|d//z.txt\n")
        with open(self.path("src", "onto.lst"), "wb") as f:
            f.write(b"a.txt|c.txt\n")
        cases = [("8000", [b"\x85\x40.txt", b"\x86\x40.txt"], 47),
                 ("8000", [b"./\x85\x40.txt", b"\x86\x40.txt"], 47),
                 ("8000", [b"\x85\x40.txt", b"./\x85\x40.txt"], 0),
                 ("8200", [b"\x1b(JA.txt", b"A.txt"], 47),
                 ("8200", [b"\x1b(BA.txt", b"\x1b(JA.txt"], 47),
                 ("1100", [b"-T", b"two.lst", b"a.txt", b"b.txt"], 47),
                 ("1100", [b"-T", b"spelt.lst", b"a.txt", b"b.txt"], 47),
                 ("1100", [b"-T", b"onto.lst", b"a.txt", b"c.txt"], 47),
                 ("1100", [b"a.txt", b"./a.txt", b"b.txt"], 0)]
        for number, (cp, args, status) in enumerate(cases):
            env = {"KOV_CODEPAGE": cp}
            label = (cp, args)
            rc, out = run([b"-cf", b"../c%d.kox" % number] + args, self.path("src"), env=env)
            self.assertEqual(rc, status, (label, out))
            clashes = [line for line in out.splitlines() if "stored under the name of another file of this run" in line]
            self.assertEqual(len(clashes), 1 if status else 0, (label, out))
            self.assertTrue(all(line.endswith("(error 47)") for line in clashes), out)
            with open(self.path("c%d.kox" % number), "rb") as f:
                named = f.read()
            self.assertEqual(len(kox_entries(named)), len([a for a in args if not a.startswith(b"-")]) -
                             (1 if b"-T" in args else 0), label)
            proc = subprocess.run([KOVZEF, "-cf", "/dev/stdout"] + args, cwd=self.path("src"), stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, env=dict(os.environ, **env), timeout=120)
            self.assertEqual(proc.returncode, status, (label, proc.stderr))
            self.assertEqual(proc.stdout, named, label)
            with open(self.path("s%d.kox" % number), "wb") as f:
                f.write(proc.stdout)
            rc, out = run(["-tf", "s%d.kox" % number], self.dir, env=env)
            self.assertEqual(rc, 0, (label, out))


if __name__ == "__main__":
    unittest.main()

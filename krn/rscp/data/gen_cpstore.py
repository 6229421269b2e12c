#!/usr/bin/env python3
"""Writes the compiled-in code page store (cpstore_tables.cpp) from Python's
standard codecs.

    gen_cpstore.py [--output FILE]   (default: cpstore_tables.cpp beside this script)
    gen_cpstore.py --check FILE      (exit 1 when FILE differs from what is generated)

The output is deterministic: the same Python codecs give the same bytes, and a
unit test regenerates it and compares it with the committed file.

Layout of what is written (see krn/rscp/cpstore.h):
- a catalogue row for every code page below, ascending; pages without
  segments have a blank segment id;
- the character-number map: 1-31 the library's own characters from
  0x110000, 32-126 the ASCII graphics, then every other character of the
  first nine single-byte pages (and U+FFFD) in code point order, 2404 the
  character U+0000, 4987-4990 own characters from 0x111000;
- one build segment "<cp>T" per page with data, listing mapping segments,
  rule segments and control-code segments; a page that carries another's
  data lists that page's build; the pairs that the double-byte pages of a
  family share stand in segments of their own; builds of rule segments that
  no catalogued page takes whole (GB 18030's among them) are not catalogued.

Large 2-byte (and EUC-JP's 3-byte) entry arrays are written as grids of
characters by code, and GB 18030's four-byte codes as runs; both are
expanded into the entry arrays at compile time, so the store stays constant
data with the layout of krn/rscp/cpstore.h.

Mapping segments keep first-wins order for the loader: within a segment the
code points that round-trip come first; codes that only decode and
characters that only encode go into a separate extra segment "<cp>X" that is
included after the others, so it never shadows a round-trip pair.
"""

import codecs
import sys

import genfile

BUILD_DATE = 20120905
FIELD_COUNT = 24

# ---------------------------------------------------------------------------
# Catalogue


class Page:
    def __init__(self, cp, issuer, cls, related, descr, kind=0, minor=0,
                 codec=None, unicode_form=None, thai='0'):
        self.cp = cp
        self.issuer = issuer
        self.cls = cls            # six class digits, bytes 7-12
        self.related = related    # five digits, bytes 13-17
        self.descr = descr
        self.kind = kind
        self.minor = minor
        self.codec = codec        # Python codec of a table page
        self.unicode_form = unicode_form
        self.thai = thai
        self.segid = '     '


SINGLE_BYTE = [
    # cp, codec, issuer, class, related, description
    ('0120', 'cp500', 'IBM', '010000', '00500', 'EBCDIC international (500)'),
    ('1100', 'latin_1', 'ISO', '040000', '88591', 'ISO 8859-1 Latin-1, Western European'),
    ('1101', 'ascii', 'ISO', '050000', '00646', 'ISO 646 7-bit ASCII'),
    ('1160', 'cp1252', 'MS ', '040000', '01252', 'Latin-1 with graphics in 80-9F (1252)'),
    ('1401', 'iso8859_2', 'ISO', '040000', '88592', 'ISO 8859-2 Latin-2, Central European'),
    ('1500', 'iso8859_5', 'ISO', '040000', '88595', 'ISO 8859-5 Cyrillic'),
    ('1610', 'iso8859_9', 'ISO', '040000', '88599', 'ISO 8859-9 Latin-5, Turkish'),
    ('1700', 'iso8859_7', 'ISO', '040000', '88597', 'ISO 8859-7 Greek'),
    ('1800', 'iso8859_8', 'ISO', '040000', '88598', 'ISO 8859-8 Hebrew'),
    ('1103', 'cp850', 'IBM', '040000', '00850', 'PC Latin-1, Western European (850)'),
    ('1164', 'iso8859_15', 'ISO', '040000', '00000', 'ISO 8859-15 Latin-9, Western European with euro'),
    ('1403', 'cp852', 'IBM', '040000', '00852', 'PC Latin-2, Central European (852)'),
    ('1404', 'cp1250', 'MS ', '040000', '01250', 'Central European (1250)'),
    ('1503', 'cp866', 'IBM', '040000', '00866', 'PC Cyrillic, Russian (866)'),
    ('1504', 'cp1251', 'MS ', '040000', '01251', 'Cyrillic (1251)'),
    ('1509', 'koi8_u', 'ISO', '040000', '00000', 'KOI8-U Cyrillic, Ukrainian'),
    ('1510', 'koi8_r', 'ISO', '040000', '00000', 'KOI8-R Cyrillic, Russian'),
    ('1614', 'cp1254', 'MS ', '040000', '01254', 'Turkish (1254)'),
    ('1704', 'cp1253', 'MS ', '040000', '01253', 'Greek (1253)'),
    ('1804', 'cp1255', 'MS ', '040000', '01255', 'Hebrew (1255)'),
    ('1900', 'iso8859_4', 'ISO', '040000', '88594', 'ISO 8859-4 Latin-4, Northern European'),
    ('1904', 'cp1257', 'MS ', '040000', '01257', 'Baltic (1257)'),
    ('8600', 'tis_620', 'ISO', '040000', '00620', 'TIS-620 Thai'),
    ('8604', 'cp874', 'MS ', '040000', '00874', 'Thai (874)'),
    ('8700', 'iso8859_6', 'ISO', '040000', '88596', 'ISO 8859-6 Arabic'),
    ('8704', 'cp1256', 'MS ', '040000', '01256', 'Arabic (1256)'),
    ('8805', 'cp1258', 'MS ', '040000', '01258', 'Vietnamese (1258)'),
]

# Pages that carry another page's data: a build of one row, the other page's
# build, with rule segments of their own before it where they have them.
ALIASES = [
    # cp, base, issuer, class, related, description, kind, rules over the base
    ('1140', '1100', 'ISO', '040000', '88591', 'ISO 8859-1 Latin-1 (variant 1140)', 0, []),
    ('1180', '1100', 'KOV', '040000', '88591', 'Latin-1 for Western and Eastern Europe', 0, []),
    ('1810', '1800', 'ISO', '040000', '88598', 'ISO 8859-8-I Hebrew, logical order', 0, ['CTHB0']),
    ('4310', '4110', 'ISO', '040000', '00000', 'UTF-8 (variant 4310)', 12, []),
    ('8341', '8340', 'ISO', '040001', '00000', 'Hong Kong Big5-HKSCS (variant 8341)', 7, []),
    ('8342', '8340', 'ISO', '040001', '00000', 'Hong Kong Big5-HKSCS (variant 8342)', 7, []),
    ('8343', '8340', 'ISO', '040001', '00000', 'Hong Kong Big5-HKSCS (variant 8343)', 7, []),
    ('8344', '8340', 'MS ', '040001', '00000', 'Hong Kong Big5-HKSCS, Windows (8344)', 8, []),
    ('8345', '8340', 'MS ', '040001', '00000', 'Hong Kong Big5-HKSCS, Windows (8345)', 8, []),
    ('8404', '8400', 'MS ', '040001', '00936', 'Simplified Chinese GBK, Windows (936)', 5, []),
]

# Double-byte families: the round-trip pairs that all pages of a family share
# form one segment, each page adds its own pairs and its one-way extras.
DOUBLE_BYTE = [
    # family segment, [(cp, codec, issuer, class, related, description, kind)]
    ('B5C  ', [('8300', 'big5', 'ISO', '040001', '00000', 'Traditional Chinese Big5', 4),
               ('8304', 'cp950', 'MS ', '040001', '00950', 'Traditional Chinese Big5, Windows (950)', 4),
               ('8340', 'big5hkscs', 'ISO', '040001', '00000', 'Hong Kong Big5-HKSCS', 7)]),
    ('GBC  ', [('8400', 'gbk', 'ISO', '040001', '00000', 'Simplified Chinese GBK', 5),
               ('8450', 'gb2312', 'ISO', '040001', '00000', 'Simplified Chinese GB 2312 (EUC-CN)', 25),
               # Not catalogued: its two-byte codes, then its four-byte codes
               # outside the range rules, then the range rules.
               ('GB18', 'gb18030', None, None, None, None, 29)]),
    ('KSC  ', [('8500', 'euc_kr', 'ISO', '040001', '00000', 'Korean EUC-KR (KS X 1001)', 6),
               ('8504', 'cp949', 'MS ', '040001', '00949', 'Korean Unified Hangul Code, Windows (949)', 6)]),
    ('SJW  ', [('8004', 'cp932', 'MS ', '040001', '00932', 'Japanese Shift-JIS, Windows (932)', 3)]),
]

# Unicode encoding forms: rule segment, control segment, own-character rule.
UNICODE_FORMS = [
    ('4100', '000200', 10, 'UCS2B', 'CTU2B', 'IU16B', 'UCS-2 big endian'),
    ('4101', '000200', 14, 'UCS2L', 'CTU2L', 'IU16L', 'UCS-2 little endian'),
    ('4102', '000200', 13, 'UC16B', 'CTU2B', 'IU16B', 'UTF-16 big endian'),
    ('4103', '000200', 16, 'UC16L', 'CTU2L', 'IU16L', 'UTF-16 little endian'),
    ('4104', '000500', 11, 'UC32B', 'CTU4B', 'IU32B', 'UCS-4 big endian'),
    ('4105', '000500', 15, 'UC32L', 'CTU4L', 'IU32L', 'UCS-4 little endian'),
    ('4110', '040000', 12, 'UC8  ', 'CTU8 ', 'IU8  ', 'UTF-8'),
]

RULE_TYPES = {'UCS2B': 10, 'UC32B': 11, 'UC8  ': 12, 'UC16B': 13, 'UCS2L': 14,
              'UC32L': 15, 'UC16L': 16, 'IU16B': 53, 'IU16L': 54, 'IU8  ': 55,
              'IU32B': 56, 'IU32L': 57}

# Rule segments beside the encoding forms': id, type, word 1, word 2.  The
# range rules give first and last character and the start code in word 1
# (the last rule without a separator before the start code, as the six-digit
# bound needs every one of the twenty characters), the lowest and highest
# code bytes in word 2.  Python's gb18030 gives each start code, and the
# codes of the first and last characters must lie within the bounds.
GB18030_RANGES = [
    (0x0452, 0x200F), (0x2643, 0x2E80), (0x361B, 0x3917), (0x3CE1, 0x4055), (0x4160, 0x4336),
    (0x44D7, 0x464B), (0x478E, 0x4946), (0x49B8, 0x4C76), (0x9FA6, 0xD7FF), (0xE865, 0xF92B),
    (0xFA2A, 0xFE2F), (0xFFE6, 0xFFFF), (0x10000, 0x10FFFF),
]


def gb18030_rules():
    rules = []
    for i, (first, last) in enumerate(GB18030_RANGES):
        start = chr(first).encode('gb18030')
        for ch, code in ((first, start), (last, chr(last).encode('gb18030'))):
            assert len(code) == 4 and 0x81 <= code[0] <= 0xFE and 0x30 <= code[1] <= 0x39, hex(ch)
        word1 = '%04X,%04X,%s' % (first, last, start.hex().upper())
        if len(word1) > 20:
            word1 = '%04X,%04X%s' % (first, last, start.hex().upper())
        assert len(word1) <= 20
        rules.append(('GB18' + '123456789ABCD'[i], 68, word1, '81308130,FE39FE39'))
    return rules


OTHER_RULES = gb18030_rules() + [
    # JIS X 0208 after ESC $ @, back with ESC ( B (Shift-JIS pairs).
    ('NJ1S1', 2, 'SJ1,unsj,', '1B2440,1B2842'),
    # JIS X 0208 from the EUC-JP pairs, after ESC $ B or ESC $ @, back with
    # ESC ( B or ESC ( J.
    ('NJ2  ', 2, 'EJ2,uneuc,', '1B2442,1B2842'),
    ('NJ2S1', 2, 'EJ2,uneuc,', '1B2440,1B2842'),
    ('NJ2S2', 2, 'EJ2,uneuc,', '1B2442,1B284A'),
    # KS X 1001 from the EUC-KR pairs after shift-out, back with shift-in;
    # the first rule writes the designation with the first shift-out and
    # reads it, the second reads the shift-outs after it.
    ('NJ2U1', 2, 'KSC,uneuc,', '1B2429430E,0F'),
    ('NK2  ', 2, 'KSC,uneuc,', '0E,0F'),
    # ASCII and the two control-code sets after ESC ( B, back with ESC ( J.
    ('JISAS', 73, 'ASCII', '1B2842,1B284A'),
    ('JISSD', 73, 'CTSD', '1B2842,1B284A'),
    ('JISSE', 73, 'CTSE', '1B2842,1B284A'),
    # Own characters as 1B 2C and their two key characters in ASCII, or as
    # 1B 6B (6B the comma in EBCDIC) and the two keys in EBCDIC.
    ('IA2C ', 40, '1B2C', ''),
    ('IE6B ', 41, '1B6B', ''),
    # The left-to-right and right-to-left marks are dropped on output.
    ('CTHB0', 72, '00200E', '00200F'),
]

# Build lists of rule segments that no catalogued page includes as a whole
# (GB 18030's build, "GB18T", is made with the other Simplified Chinese pages).
RULE_BUILDS = [
    ('JEUCT', ['ASCII', 'CTSA ', 'NJ2  ', 'NJ2S1', 'NJ2S2', 'NJ1S1']),
    ('JIS7T', ['JISAS', 'JISSD', 'JISSE']),
    ('OWNKT', ['ASCII', 'IA2C ', 'IE6B ']),
]

# ISO-2022-KR: ASCII, and KS X 1001 in the shift-out state.
ISO2022_KR = ('8599', 'ISO', '050001', '00000', 'Korean ISO-2022-KR (7-bit KS X 1001)', 0)

# Catalogued, no segments.
EMPTY_PAGES = [
    ('4000', 'KOV', '000200', '00000', 'Internal 16-bit character set', 19),
    ('6100', 'KOV', '040001', '00000', 'Blended code page family 61', 0),
    ('6200', 'KOV', '040001', '00000', 'Blended code page family 62 (Asian)', 39),
    ('6500', 'KOV', '040001', '00000', 'Blended code page family 65', 0),
    ('6300', 'KOV', '040001', '00000', 'Blended code page family 63', 0),
]

JAPANESE = [
    ('8000', 'shift_jis', 'JIS', '040001', '00932', 'Japanese Shift-JIS', 3),
    ('8100', 'euc_jp', 'JIS', '040001', '00000', 'Japanese EUC (JIS X 0208, 0212)', 1),
    ('8200', 'iso2022_jp', 'JIS', '050001', '00000', 'Japanese ISO-2022-JP (7-bit JIS)', 2),
]


def catalogue_row(p):
    descr = p.descr.ljust(48)
    assert len(descr) == 48, p.descr
    row = (p.cp + p.issuer + p.cls + p.related + descr + '  0000' + '0'
           + '0000' + '0000' + '%02d' % p.kind + '%02d' % p.minor + '4'
           + '-----' + p.thai + p.segid)
    assert len(row) == 97 and row.isascii(), (p.cp, len(row))
    return row


# ---------------------------------------------------------------------------
# Segments


class MapSeg:
    def __init__(self, segid):
        self.segid = segid
        self.pairs = []   # (char, code bytes) in loader order

    def add(self, ch, code):
        self.pairs.append((ch, bytes(code)))


class RuleSeg:
    def __init__(self, segid, rtype, word1='', word2=''):
        self.segid, self.rtype, self.word1, self.word2 = segid, rtype, word1, word2


class BuildSeg:
    def __init__(self, segid):
        self.segid = segid
        self.rows = []    # (segid, segment type)

    def add(self, segid, segtype):
        self.rows.append((segid, segtype))


SEGTYPE_MAP, SEGTYPE_RULE, SEGTYPE_C0, SEGTYPE_C1, SEGTYPE_CTRL, SEGTYPE_OWN, SEGTYPE_EXTRA = range(7)


def is_control(ch):
    return ch < 0x20 or 0x7F <= ch <= 0x9F


def decode1(codec, code):
    try:
        s = bytes(code).decode(codec)
    except UnicodeDecodeError:
        return None
    return ord(s) if len(s) == 1 else None


def encode1(codec, ch):
    if 0xD800 <= ch <= 0xDFFF:
        return None
    try:
        return chr(ch).encode(codec)
    except UnicodeEncodeError:
        return None


def split_pairs(codec, decoded, new_codes=False):
    """decoded: list of (code, char) in code order.  Returns round-trip
    pairs, decode-only pairs and encode-only pairs (char, code)."""
    rt, do = [], []
    codes = {}
    for code, ch in decoded:
        codes[code] = ch
        if encode1(codec, ch) == code:
            rt.append((ch, code))
        else:
            do.append((ch, code))
    eo = []
    for ch in range(0x10000):
        code = encode1(codec, ch)
        if code is None or codes.get(code) == ch:
            continue
        assert new_codes or code in codes, (codec, hex(ch), code)   # never a new code
        eo.append((ch, code))
    return rt, do, eo


ASCII_PAIRS = [(c, bytes([c])) for c in range(0x20, 0x7F)]
C0_PAIRS = [(c, bytes([c])) for c in list(range(0x20)) + [0x7F]]
C1_PAIRS = [(c, bytes([c])) for c in range(0x80, 0xA0)]


class Store:
    def __init__(self):
        self.segs = {}
        self.pages = []

    def seg(self, s):
        assert s.segid not in self.segs, s.segid
        assert len(s.segid) == 5
        self.segs[s.segid] = s
        return s

    def shared_mapping(self, segid, pairs):
        if segid not in self.segs:
            m = self.seg(MapSeg(segid))
            for ch, code in pairs:
                m.add(ch, code)
        return segid

    def single_byte(self, cp, codec):
        decoded = [(bytes([b]), decode1(codec, [b])) for b in range(256)]
        decoded = [(c, ch) for c, ch in decoded if ch is not None]
        rt, do, eo = split_pairs(codec, decoded)
        build = self.seg(BuildSeg(cp + 'T'))
        ordinary = [(ch, c) for ch, c in rt if not is_control(ch)]
        controls = [(ch, c) for ch, c in rt if is_control(ch)]
        if all(p in ordinary for p in ASCII_PAIRS):
            build.add(self.shared_mapping('ASCII', ASCII_PAIRS), SEGTYPE_MAP)
            ordinary = [p for p in ordinary if p not in ASCII_PAIRS]
        if ordinary:
            m = self.seg(MapSeg(cp + 'M'))
            for ch, c in ordinary:
                m.add(ch, c)
            build.add(m.segid, SEGTYPE_MAP)
        if all(p in controls for p in C0_PAIRS):
            build.add(self.shared_mapping('CTSA ', C0_PAIRS), SEGTYPE_C0)
            controls = [p for p in controls if p not in C0_PAIRS]
            if all(p in controls for p in C1_PAIRS):
                build.add(self.shared_mapping('CTSI ', C1_PAIRS), SEGTYPE_C1)
                controls = [p for p in controls if p not in C1_PAIRS]
        if controls:
            m = self.seg(MapSeg(cp + 'C'))
            for ch, c in controls:
                m.add(ch, c)
            build.add(m.segid, SEGTYPE_CTRL)
        self.extras(cp, build, do, eo)
        return build.segid

    def extras(self, cp, build, do, eo):
        if not do and not eo:
            return
        m = self.seg(MapSeg(cp + 'X'))
        for ch, c in do + eo:
            m.add(ch, c)
        build.add(m.segid, SEGTYPE_EXTRA)

    def unicode_form(self, cp, rule, ctrl, own):
        for segid in (rule, own):
            if segid not in self.segs:
                self.seg(RuleSeg(segid, RULE_TYPES[segid]))
        if ctrl not in self.segs:
            m = self.seg(MapSeg(ctrl))
            for ch in list(range(0x20)) + list(range(0x7F, 0xA0)):
                if ctrl == 'CTU8 ':
                    m.add(ch, chr(ch).encode('utf-8'))
                else:
                    order = 'little' if ctrl[4] == 'L' else 'big'
                    width = 2 if ctrl[3] == '2' else 4
                    m.add(ch, ch.to_bytes(width, order))
        build = self.seg(BuildSeg(cp + 'T'))
        build.add(rule, SEGTYPE_RULE)
        build.add(ctrl, SEGTYPE_CTRL)
        build.add(own, SEGTYPE_OWN)
        return build.segid

    def japanese(self, cp, codec):
        build = self.seg(BuildSeg(cp + 'T'))
        build.add(self.shared_mapping('ASCII', ASCII_PAIRS), SEGTYPE_MAP)
        build.add(self.shared_mapping('CTSA ', C0_PAIRS), SEGTYPE_C0)
        if codec == 'iso2022_jp':
            # ASCII in the initial state; JIS X 0208 after ESC $ B, back with
            # ESC ( B; the pairs are the Shift-JIS ones turned into JIS.
            self.seg(RuleSeg('NJ1  ', 2, 'SJ1,unsj,', '1B2442,1B2842'))
            build.add('NJ1  ', SEGTYPE_RULE)
            # JIS X 0201 Roman after ESC ( J, back with ESC ( B: its own
            # state, as the codec reads it ASCII but for 0x5C, the yen sign
            # U+00A5, and 0x7E, the overline U+203E (and writes those two
            # characters in it).  Its control codes are ASCII's, in the
            # control-code variants only.
            roman = self.seg(MapSeg('JISR '))
            for b in range(0x20, 0x7F):
                roman.add(ord((b'\x1b(J' + bytes([b])).decode(codec)), [b])
            assert [ch for ch, code in roman.pairs if ch != code[0]] == [0xA5, 0x203E]
            for segid, name, segtype in (('NJR  ', 'JISR', SEGTYPE_RULE), ('NJRC ', 'CTSA', SEGTYPE_C0)):
                self.seg(RuleSeg(segid, 73, name, '1B284A,1B2842'))
                build.add(segid, segtype)
            # JIS X 0208 is read after ESC $ @ too, the designation of its
            # 1978 edition, as the codec does; it is written after ESC $ B,
            # as the entries of the first rule stay.
            build.add('NJ1S1', SEGTYPE_RULE)
            return build.segid
        for b in range(0x80):
            assert decode1(codec, [b]) == b, (codec, b)
        if codec == 'shift_jis':
            parts = [('SJK  ', [[b] for b in range(0xA1, 0xE0)]),
                     ('SJ1  ', [[l, t] for l in list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD))
                                for t in range(0x40, 0xFD) if t != 0x7F])]
        else:
            parts = [('EJ2  ', [[l, t] for l in range(0xA1, 0xFF) for t in range(0xA1, 0xFF)]),
                     ('EJK  ', [[0x8E, t] for t in range(0xA1, 0xE0)]),
                     ('EJ3  ', [[0x8F, l, t] for l in range(0xA1, 0xFF) for t in range(0xA1, 0xFF)])]
        decoded_all = [(bytes([b]), b) for b in range(0x80)]
        all_do = []
        for segid, cands in parts:
            decoded = [(bytes(c), decode1(codec, c)) for c in cands]
            decoded = [(c, ch) for c, ch in decoded if ch is not None]
            decoded_all += decoded
            m = self.seg(MapSeg(segid))
            for code, ch in decoded:
                if encode1(codec, ch) == code:
                    m.add(ch, code)
                else:
                    all_do.append((ch, code))
            build.add(segid, SEGTYPE_MAP)
        rt, do, eo = split_pairs(codec, decoded_all)
        assert sorted(do) == sorted(all_do)
        self.extras(cp, build, do, eo)
        return build.segid


    def alias(self, cp, base, rules):
        # The page's own rules come first: a segment loaded later never
        # replaces an entry made earlier, so the base's entries for the same
        # characters (1800's FD and FE for the direction marks that 1810
        # drops) are left out.
        build = self.seg(BuildSeg(cp + 'T'))
        for segid in rules:
            build.add(segid, SEGTYPE_RULE)
        build.add(base + 'T', SEGTYPE_MAP)
        return build.segid

    def rule(self, segid, rtype, word1, word2):
        self.seg(RuleSeg(segid.ljust(5), rtype, word1, word2))

    def double_byte(self, family, pages):
        """Builds of the pages of one double-byte family: ASCII and the C0
        controls, the segments of round-trip pairs that the page shares with
        others of the family, its own round-trip pairs (and single bytes from
        0x80 up), its control codes from 0x80 up, and its one-way extras."""
        rts, one_way = {}, {}
        for cp, codec, *_rest in pages:
            for b in range(0x80):
                assert decode1(codec, [b]) == b, (codec, b)
            singles = [(bytes([b]), decode1(codec, [b])) for b in range(0x80, 0x100)]
            singles = [(c, ch) for c, ch in singles if ch is not None]
            leads = [b for b in range(0x81, 0xFF) if decode1(codec, [b]) is None]
            doubles = [(bytes([l, t]), decode1(codec, [l, t])) for l in leads for t in range(0x40, 0xFF)]
            doubles = [(c, ch) for c, ch in doubles if ch is not None]
            decoded = [(bytes([b]), b) for b in range(0x80)] + singles + doubles
            rt, do, eo = split_pairs(codec, decoded, True)
            one_way[cp] = do, eo
            # A character written as a double-byte code that is read only
            # as the start of a longer sequence (EUC-KR's hangul filler)
            # keeps the code both ways.
            codes = set(c for c, _ch in decoded)
            rt += [p for p in eo if len(p[1]) == 2 and p[1] not in codes]
            rts[cp] = [p for p in rt if p[1][0] >= 0x80]
        # One segment per set of pages that share a pair: the family's id for
        # the pairs of every page, "<cp>M" for a page's own pairs (with its
        # single bytes), the family's id and a digit for those of some pages.
        members = {}
        for cp, *_r in pages:
            for p in rts[cp]:
                if not is_control(p[0]):
                    members.setdefault(p, []).append(cp)
        groups = {}
        for p, cps in members.items():
            groups.setdefault(tuple(cps), []).append(p)
        all_cps = tuple(cp for cp, *_r in pages)
        shared = sorted((g for g in groups if len(g) > 1), key=lambda g: (-len(g), g))
        group_id = {g: family if g == all_cps else family.strip() + str(i) for i, g in enumerate(shared)}
        for g in shared:
            assert len(group_id[g]) <= 5 and (g == all_cps or group_id[g] != family), g
            self.seg(MapSeg(group_id[g].ljust(5))).pairs = sorted(groups[g], key=lambda p: (len(p[1]), p[1]))
        segids = {}
        for cp, codec, *_rest in pages:
            build = self.seg(BuildSeg(cp + 'T'))
            build.add(self.shared_mapping('ASCII', ASCII_PAIRS), SEGTYPE_MAP)
            build.add(self.shared_mapping('CTSA ', C0_PAIRS), SEGTYPE_C0)
            for g in shared:
                if cp in g:
                    build.add(group_id[g].ljust(5), SEGTYPE_MAP)
            own = sorted(groups.get((cp,), []), key=lambda p: (len(p[1]), p[1]))
            if own:
                self.seg(MapSeg(cp + 'M')).pairs = own
                build.add(cp + 'M', SEGTYPE_MAP)
            controls = [p for p in rts[cp] if is_control(p[0])]
            if controls:
                self.seg(MapSeg(cp + 'C')).pairs = controls
                build.add(cp + 'C', SEGTYPE_CTRL)
            do, eo = one_way[cp]
            both_ways = set(rts[cp])
            # EUC-KR writes the syllables that KS X 1001 lacks as eight-byte
            # jamo sequences; they are not carried (such a syllable is missing).
            eo = [p for p in eo if len(p[1]) <= 4 and p not in both_ways]
            if codec == 'gb18030':
                self.gb18030_four_bytes(build, eo)
                eo = [p for p in eo if len(p[1]) != 4]
            self.extras(cp, build, do, eo)
            if codec == 'gb18030':
                for segid, rtype, _w1, _w2 in OTHER_RULES:
                    if rtype == 68:
                        build.add(segid, SEGTYPE_RULE)
            segids[cp] = build.segid
        return segids

    def gb18030_four_bytes(self, build, eo):
        """GB 18030's four-byte codes of the basic plane outside the range
        rules, entered ahead of the rules: the rules then take the table
        slots that these codes leave free."""
        m = self.seg(MapSeg('GB18F'))
        m.pairs = sorted(p for p in eo if len(p[1]) == 4 and
                         not any(a <= p[0] <= b for a, b in GB18030_RANGES))
        build.add(m.segid, SEGTYPE_MAP)

    def iso2022_kr(self, cp):
        build = self.seg(BuildSeg(cp + 'T'))
        build.add(self.shared_mapping('ASCII', ASCII_PAIRS), SEGTYPE_MAP)
        build.add(self.shared_mapping('CTSA ', C0_PAIRS), SEGTYPE_C0)
        for segid in ('NJ2U1', 'NK2  '):
            build.add(segid, SEGTYPE_RULE)
        return build.segid

    def rule_builds(self):
        self.shared_mapping('CTSD ', C0_PAIRS)
        self.shared_mapping('CTSE ', C1_PAIRS)
        for segid, rows in RULE_BUILDS:
            build = self.seg(BuildSeg(segid))
            for row in rows:
                assert row in self.segs, row
                kind = SEGTYPE_C0 if row == 'CTSA ' else SEGTYPE_RULE if isinstance(self.segs[row], RuleSeg) else SEGTYPE_MAP
                build.add(row, kind)


def check_iso2022(store):
    """The shift rule's pairs, Shift-JIS turned into JIS, decode in
    ISO-2022-JP to the same characters."""
    for ch, code in store.segs['SJ1  '].pairs:
        a, b = code
        a = (a - 0x70 if a < 0xA0 else a - 0xB0) * 2
        if b < 0x9F:
            a -= 1
            b -= 0x1F if b < 0x7F else 0x20
        else:
            b -= 0x7E
        got = (b'\x1b$B' + bytes([a, b]) + b'\x1b(B').decode('iso2022_jp')
        assert got == chr(ch), (hex(ch), code)


def build_store():
    st = Store()
    for cp, codec, issuer, cls, rel, descr in SINGLE_BYTE:
        p = Page(cp, issuer, cls, rel, descr, codec=codec, thai='1' if cp.startswith('86') else '0')
        p.segid = st.single_byte(cp, codec)
        st.pages.append(p)
    for cp, cls, kind, rule, ctrl, own, descr in UNICODE_FORMS:
        p = Page(cp, 'ISO', cls, '00000', descr, kind=kind,
                 thai='1' if cp == '4110' else '0')
        p.segid = st.unicode_form(cp, rule, ctrl, own)
        st.pages.append(p)
    for cp, codec, issuer, cls, rel, descr, kind in JAPANESE:
        p = Page(cp, issuer, cls, rel, descr, kind=kind, codec=codec)
        p.segid = st.japanese(cp, codec)
        st.pages.append(p)
    check_iso2022(st)
    for segid, rtype, word1, word2 in OTHER_RULES:
        st.rule(segid, rtype, word1, word2)
    for family, pages in DOUBLE_BYTE:
        segids = st.double_byte(family, pages)
        for cp, codec, issuer, cls, rel, descr, kind in pages:
            if not cp.isdigit():
                continue
            p = Page(cp, issuer, cls, rel, descr, kind=kind, codec=codec)
            p.segid = segids[cp]
            st.pages.append(p)
    cp, issuer, cls, rel, descr, kind = ISO2022_KR
    p = Page(cp, issuer, cls, rel, descr, kind=kind)
    p.segid = st.iso2022_kr(cp)
    st.pages.append(p)
    for cp, base, issuer, cls, rel, descr, kind, rules in ALIASES:
        p = Page(cp, issuer, cls, rel, descr, kind=kind, thai='1' if base == '4110' else '0')
        p.segid = st.alias(cp, base, rules)
        st.pages.append(p)
    st.rule_builds()
    for cp, issuer, cls, rel, descr, kind in EMPTY_PAGES:
        st.pages.append(Page(cp, issuer, cls, rel, descr, kind=kind))
    st.pages.sort(key=lambda p: p.cp)
    return st


# ---------------------------------------------------------------------------
# Character-number map

OWN_LOW = 31          # numbers 1..31 -> 0x110000..
NUL_NUMBER = 2404
OWN_HIGH_FIRST = 4987  # 4987..4990 -> 0x111000..0x111003
HIGHEST_NUMBER = 0xFEFE


# The map numbers the characters of the first single-byte pages only: its
# numbers stay as they were when the other pages were added, and the cache
# build reads every row at start-up.
MAP_PAGES = 9


def tcp01_rows():
    rows = [(n, 0x110000 + n - 1) for n in range(1, OWN_LOW + 1)]
    rows += [(n, n) for n in range(0x20, 0x7F)]
    chars = {0xFFFD}
    for _cp, codec, *_rest in SINGLE_BYTE[:MAP_PAGES]:
        for b in range(256):
            ch = decode1(codec, [b])
            if ch is not None:
                chars.add(ch)
    chars -= set(range(0x20, 0x7F)) | {0}
    n = 0x7F
    for ch in sorted(chars):
        rows.append((n, ch))
        n += 1
    assert n < NUL_NUMBER, n
    rows.append((NUL_NUMBER, 0))
    rows += [(OWN_HIGH_FIRST + i, 0x111000 + i) for i in range(4)]
    return rows


# ---------------------------------------------------------------------------
# C++ output


def cname(segid):
    return 'seg_' + segid.strip()


def words(values, per_line=6):
    out = []
    for i in range(0, len(values), per_line):
        out.append('    ' + ', '.join('0x%08X' % v for v in values[i:i + per_line]) + ',')
    return '\n'.join(out)


def chars_init(text):
    return '{' + ','.join("'%s'" % c for c in text) + '}'


GRID_MIN = 256


def emit_grid(name, entries, three, out):
    """Writes a large array of 2-byte entries, or of 3-byte entries with one
    first byte, whose codes ascend as a grid of characters by the last two
    code bytes, expanded into the entry array at compile time.  A cell holds
    its character minus the character of the cell before it that has one
    (0: no character).  False when the codes do not fit the form."""
    pairs = []
    for i in range(0, len(entries), 2):
        w0, w1 = entries[i], entries[i + 1]
        if three:
            if w0 >> 24 != 3:
                return False
            pairs.append((w1 & 0xFF, w1 >> 8 & 0xFF, w1 >> 16 & 0xFF, w0 & 0xFFFFFF))
        else:
            pairs.append((0, w0 >> 24, w1, w0 & 0xFFFFFF))
    codes = [(p[0], p[1], p[2]) for p in pairs]
    if len(set(p[0] for p in pairs)) != 1 or any(a >= b for a, b in zip(codes, codes[1:])):
        return False
    lead0, trail0 = min(p[1] for p in pairs), min(p[2] for p in pairs)
    width = max(p[2] for p in pairs) - trail0 + 1
    cells = [0] * ((max(p[1] for p in pairs) - lead0 + 1) * width)
    for _first, lead, trail, ch in pairs:
        assert ch != 0
        cells[(lead - lead0) * width + trail - trail0] = ch
    deltas, prev = [], 0
    for ch in cells:
        deltas.append(ch - prev if ch else 0)
        prev = ch or prev
    assert all(d != 0 for d, ch in zip(deltas, cells) if ch)
    lines = []
    for i in range(0, len(deltas), 24):
        lines.append(','.join(str(v) for v in deltas[i:i + 24]) + ',')
    out.append('static constexpr int32_t %s_grid[] = {\n%s\n};' % (name, '\n'.join(lines)))
    out.append('static constexpr auto %s = rscpF5Grid<%d>(%s_grid, 0x%02X, 0x%02X, 0x%02X, %d);' % (
        name, len(pairs), name, pairs[0][0], lead0, trail0, width))
    return True


def gb4_index(code):
    """Linear index of a GB 18030 four-byte code, or None."""
    b = code.to_bytes(4, 'little')
    if not (0x81 <= b[0] <= 0xFE and 0x30 <= b[1] <= 0x39 and 0x81 <= b[2] <= 0xFE and 0x30 <= b[3] <= 0x39):
        return None
    return (((b[0] - 0x81) * 10 + b[1] - 0x30) * 126 + b[2] - 0x81) * 10 + b[3] - 0x30


def emit_gb4_runs(name, e34, out):
    """Writes a large array of GB 18030 four-byte entries as runs of
    consecutive characters with consecutive codes, expanded at compile time.
    False when an entry is not such a code."""
    runs = []
    for i in range(0, len(e34), 2):
        ch, index = e34[i] & 0xFFFFFF, gb4_index(e34[i + 1])
        if e34[i] >> 24 != 4 or index is None:
            return False
        if runs and runs[-1][0] + runs[-1][1] == ch and runs[-1][2] + runs[-1][1] == index:
            runs[-1][1] += 1
        else:
            runs.append([ch, 1, index])
    lines = ['    {%d, %d, %d},' % tuple(r) for r in runs]
    out.append('static constexpr uint32_t %s_runs[][3] = {\n%s\n};' % (name, '\n'.join(lines)))
    out.append('static constexpr auto %s = rscpF5Gb4Runs<%d>(%s_runs);' % (name, len(e34) // 2, name))
    return True


def emit_mapping(m, out):
    e1, e2, e34, el = [], [], [], []
    for ch, code in m.pairs:
        assert ch < 0x1000000
        if len(code) == 1:
            e1.append(ch | code[0] << 24)
        elif len(code) == 2:
            e2 += [ch | code[0] << 24, code[1]]
        elif len(code) <= 4:
            e34 += [ch | len(code) << 24, int.from_bytes(code.ljust(4, b'\0'), 'little')]
        else:
            el.append(code)
    assert not el, 'long codes are not generated'
    n = cname(m.segid)
    arrays = []
    for suffix, data, count in (('1', e1, len(e1)), ('2', e2, len(e2) // 2), ('34', e34, len(e34) // 2)):
        if count >= GRID_MIN and (emit_grid('%s_%s' % (n, suffix), data, suffix == '34', out) or
                                  (suffix == '34' and emit_gb4_runs(n + '_34', data, out))):
            arrays.append((count, '%s_%s.data()' % (n, suffix)))
        elif data:
            out.append('static const uint32_t %s_%s[] = {\n%s\n};' % (n, suffix, words(data)))
            arrays.append((count, '%s_%s' % (n, suffix)))
        else:
            arrays.append((0, 'nullptr'))
    out.append('static const rscpMapSeg %s = {%d, %d, %d, 0, %s, %s, %s, nullptr};\n' % (
        n, arrays[0][0], arrays[1][0], arrays[2][0], arrays[0][1], arrays[1][1], arrays[2][1]))


def emit_rule(r, out):
    assert len(r.word1) <= 20 and len(r.word2) <= 20
    head = r.rtype | len(r.word1) << 7 | len(r.word2) << 12
    out.append('static const rscpRuleSeg %s = {{0x%02X, 0x%02X, 0x%02X}, %s, %s};\n' % (
        cname(r.segid), head & 0xFF, head >> 8 & 0xFF, head >> 16 & 0xFF,
        chars_init(r.word1.ljust(20)), chars_init(r.word2.ljust(20))))


def emit_build(b, out):
    rows = []
    for order, (segid, segtype) in enumerate(b.rows, 1):
        b5 = order | (segtype & 1) << 7
        b6 = segtype >> 1
        rows.append('    {%s, 0x%02X, 0x%02X, 0},' % (chars_init(segid), b5, b6))
    rows.append("    {{' ',' ',' ',' ',' '}, 0, 0, 0},")
    out.append('static const rscpBuildRow %s[] = {\n%s\n};\n' % (cname(b.segid), '\n'.join(rows)))


def generate():
    st = build_store()
    for p in st.pages:
        if p.segid.strip():
            assert p.segid in st.segs
    for b in st.segs.values():
        if isinstance(b, BuildSeg):
            for segid, _t in b.rows:
                assert segid in st.segs, segid
    rows01 = tcp01_rows()

    out = []
    out.append('// Generated by krn/rscp/data/gen_cpstore.py from Python\'s codecs: do not edit.')
    with_data = [p.cp for p in st.pages if p.segid.strip()]
    out.append('// Code pages with segments: %s.' % ', '.join(with_data))
    out.append('// Catalogued without segments: %s.'
               % ', '.join(p.cp for p in st.pages if not p.segid.strip()))
    out.append('#include <array>\n')
    out.append('#include "krn/rscp/cpstore.h"\n')
    out.append('''namespace {

// The entries of a grid of characters by the last two code bytes, in code
// order: 2-byte entries (first 0: the character and the lead byte in word 0,
// the trail byte in word 1) or 3-byte entries after the byte first (the
// character and the length in word 0, the code bytes in word 1).  A cell
// holds its character minus that of the last cell before it that has one;
// 0 means no character.
template <std::size_t N, std::size_t G>
constexpr std::array<uint32_t, 2 * N> rscpF5Grid(const int32_t (&cells)[G], uint32_t first, uint32_t lead0,
                                                 uint32_t trail0, uint32_t width)
{
    std::array<uint32_t, 2 * N> e{};
    std::size_t k = 0;
    uint32_t ch = 0;
    for (std::size_t i = 0; i < G; ++i) {
        if (cells[i] == 0)
            continue;
        ch += static_cast<uint32_t>(cells[i]);
        const uint32_t lead = lead0 + uint32_t(i / width), trail = trail0 + uint32_t(i % width);
        if (first == 0) {
            e[2 * k] = ch | lead << 24;
            e[2 * k + 1] = trail;
        } else {
            e[2 * k] = ch | 3u << 24;
            e[2 * k + 1] = first | lead << 8 | trail << 16;
        }
        ++k;
    }
    return e;
}

// The four-byte entries of runs {first character, count, index of its code}
// of GB 18030 codes, whose bytes run over 81-FE, 30-39, 81-FE, 30-39.
template <std::size_t N, std::size_t R>
constexpr std::array<uint32_t, 2 * N> rscpF5Gb4Runs(const uint32_t (&runs)[R][3])
{
    std::array<uint32_t, 2 * N> e{};
    std::size_t k = 0;
    for (const auto& r : runs) {
        for (uint32_t i = 0; i < r[1]; ++i, ++k) {
            const uint32_t x = r[2] + i;
            e[2 * k] = (r[0] + i) | 4u << 24;
            e[2 * k + 1] = (0x81 + x / 12600) | (0x30 + x / 1260 % 10) << 8 | (0x81 + x / 10 % 126) << 16 |
                           (0x30 + x % 10) << 24;
        }
    }
    return e;
}

}  // namespace
''')
    out.append('extern const rscpF5Head_t rscpF5Head = {%d, %d};\n' % (BUILD_DATE, FIELD_COUNT))

    out.append('extern const uint32_t rscpF5Tcp00Count = %d;' % len(st.pages))
    out.append('extern const char rscpF5Tcp00[] =')
    for p in st.pages:
        out.append('    "%s"' % catalogue_row(p))
    out.append('    "%s";\n' % (' ' * 97))

    out.append('extern const uint32_t rscpF5Tcp01Count = %d;' % len(rows01))
    out.append('extern const uint8_t rscpF5Tcp01[] = {')
    for n, ch in rows01:
        b = n.to_bytes(2, 'big') + ch.to_bytes(3, 'big')
        out.append('    ' + ', '.join('0x%02X' % x for x in b) + ',')
    out.append('    0x00, 0x00, 0x00, 0x00, 0x00,')
    out.append('    ' + ', '.join('0x%02X' % x for x in HIGHEST_NUMBER.to_bytes(4, 'little')) + ',')
    out.append('};\n')

    ids = sorted(st.segs)
    for segid in ids:
        s = st.segs[segid]
        if isinstance(s, MapSeg):
            emit_mapping(s, out)
        elif isinstance(s, RuleSeg):
            emit_rule(s, out)
    for segid in ids:
        s = st.segs[segid]
        if isinstance(s, BuildSeg):
            emit_build(s, out)

    out.append('extern const uint32_t rscpF5SegDirCount = %d;' % len(ids))
    out.append('extern const rscpSegDirRow rscpF5SegDir[] = {')
    for segid in ids:
        s = st.segs[segid]
        kind = 1 if isinstance(s, MapSeg) else 2 if isinstance(s, RuleSeg) else 3
        ref = cname(segid) if kind == 3 else '&' + cname(segid)
        out.append('    {%s, %d, 0, %s},' % (chars_init(segid), kind, ref))
    out.append("    {{' ',' ',' ',' ',' '}, 0, 0, nullptr},")
    out.append('};')
    return '\n'.join(out) + '\n'


if __name__ == '__main__':
    sys.exit(genfile.main(generate, __file__, 'cpstore_tables.cpp', 'store'))

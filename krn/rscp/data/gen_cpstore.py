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
  single-byte pages carried here (and U+FFFD) in code point order, 2404 the
  character U+0000, 4987-4990 own characters from 0x111000;
- one build segment "<cp>T" per page with data, listing mapping segments,
  rule segments and control-code segments.

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

# Catalogued, no segments.
EMPTY_PAGES = [
    ('4000', 'KOV', '000200', '00000', 'Internal 16-bit character set', 19),
    ('6100', 'KOV', '040001', '00000', 'Blended code page family 61', 0),
    ('6200', 'KOV', '040001', '00000', 'Blended code page family 62 (Asian)', 39),
    ('6500', 'KOV', '040001', '00000', 'Blended code page family 65', 0),
    ('8300', 'ISO', '040001', '00000', 'Traditional Chinese double-byte', 4),
    ('8400', 'ISO', '040001', '00000', 'Simplified Chinese double-byte', 5),
    ('8500', 'ISO', '040001', '00000', 'Korean double-byte', 6),
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


def split_pairs(codec, decoded):
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
        assert code in codes, (codec, hex(ch), code)   # never a new code
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
        p = Page(cp, issuer, cls, rel, descr, codec=codec)
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


def tcp01_rows():
    rows = [(n, 0x110000 + n - 1) for n in range(1, OWN_LOW + 1)]
    rows += [(n, n) for n in range(0x20, 0x7F)]
    chars = {0xFFFD}
    for _cp, codec, *_rest in SINGLE_BYTE:
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
        if data:
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
    out.append('#include "krn/rscp/cpstore.h"\n')
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

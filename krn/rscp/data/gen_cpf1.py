#!/usr/bin/env python3
"""Writes the compiled-in data of the code page pair filter (cpf1_tables.cpp).

    gen_cpf1.py [--output FILE]   (default: cpf1_tables.cpp beside this script)
    gen_cpf1.py --check FILE      (exit 1 when FILE differs from what is generated)

What is written (layouts in krn/rscp/cpf1.h):
- the 85 code page rows with their character set and manufacturer, and a
  sentinel row "init" (character set 28, manufacturer 15, status 0);
- one 15 x 15 matrix of manufacturer pairs per character set that has one;
- the translation tables the matrices and exception lists name;
- the compatible character-set pairs and the unification groups.

Matrix cells.  The rows of source manufacturers 0 (7-bit ASCII) and 1
(7-bit EBCDIC) are the same in every matrix but that of character set 24.
Every other cell (md, mt) of the matrix of a character set compares the
first code page of that set made by md with the first made by mt:
- equal manufacturers: 0 (nothing to do);
- a manufacturer without a code page in the set: 8 (not sure), so that a
  look-up across sets tries the other set's matrix;
- a multi-byte code page on either side: 16 (multi-byte conversion);
- single-byte code pages: the table of source byte -> destination byte of
  the same character.  A table that keeps every byte it can map is no table:
  32 when it maps every character of the source, else 0.
Bytes without a counterpart stay 0 in a table; the filter's initialisation
maps them onto themselves.

Character sets of the code pages come from Python's codecs; the EBCDIC pages
that Python lacks or whose Python tables differ from glibc's
(0410 Latin-2, 0500 Cyrillic, 0610 Turkish, 0700 Greek, 0860 Thai) from
glibc's iconv.  1180, the blended Western/Eastern European page, is Latin-1:
a Latin-2 letter it lacks takes its base letter (the letter without its
accent), which is how Eastern European text is written "in Latin-1".

The output is deterministic, and a test regenerates it and compares.
"""

import ctypes
import ctypes.util
import sys
import unicodedata

import genfile

STAMP = '20120905'

# code page, character set, manufacturer, exception list (destinations)
ROWS = [
    ('0100', 0, 3), ('0120', 0, 4), ('0160', 24, 1), ('0410', 1, 4, ['1180']), ('0500', 5, 4),
    ('0610', 2, 4), ('0700', 4, 4), ('0800', 3, 4), ('0860', 10, 4), ('1100', 0, 2), ('1103', 0, 7),
    ('1101', 24, 0), ('1127', 0, 6), ('1150', 0, 2), ('1151', 0, 7), ('1160', 0, 5), ('1180', 26, 2),
    ('1401', 1, 2, ['1180']), ('1404', 1, 5, ['1180']), ('1500', 5, 2), ('1504', 5, 5), ('1610', 2, 2),
    ('1614', 2, 5), ('1700', 4, 2), ('1704', 4, 5), ('1800', 3, 2), ('1804', 3, 5), ('1810', 3, 13),
    ('1824', 3, 14), ('1900', 22, 2), ('1904', 22, 5), ('4110', 24, 0), ('8000', 6, 2), ('8004', 6, 5),
    ('8300', 8, 2), ('8304', 8, 5), ('8340', 8, 2), ('8341', 8, 2), ('8344', 8, 5), ('8345', 8, 5),
    ('8400', 7, 2), ('8404', 7, 5), ('8450', 27, 2), ('8454', 27, 5), ('8500', 9, 2), ('8504', 9, 5),
    ('8600', 10, 2), ('8604', 10, 5), ('8700', 23, 2), ('8704', 23, 5), ('6100', 12, 2), ('6110', 0, 2),
    ('6112', 0, 2), ('6113', 0, 7), ('6114', 0, 5), ('6115', 0, 6), ('6120', 1, 2), ('6122', 1, 2),
    ('6123', 1, 7), ('6124', 1, 5), ('6125', 1, 6), ('6170', 4, 2), ('6172', 4, 2), ('6173', 4, 7),
    ('6174', 4, 5), ('6175', 4, 6), ('6180', 6, 2), ('6200', 17, 2), ('6230', 15, 2), ('6240', 14, 2),
    ('6250', 16, 2), ('6280', 6, 2), ('6300', 13, 2), ('6400', 20, 2), ('6500', 18, 2), ('6510', 0, 2),
    ('6512', 0, 2), ('6513', 0, 7), ('6514', 0, 5), ('6570', 4, 2), ('6572', 4, 2), ('6573', 4, 7),
    ('6574', 4, 5), ('6600', 19, 2), ('6700', 21, 2),
]
assert len(ROWS) == 85

WITHOUT_MATRIX = set(range(12, 22)) | {26}
UNICODE_SET = 11
MULTI_BYTE_SETS = {6, 7, 8, 9, 27}

# The character set of a single-byte code page that a table is built from:
# ('py', codec), ('iconv', name), ('ascii-of', codec) for a 7-bit page.
CODECS = {
    '0100': ('py', 'cp037'), '0120': ('py', 'cp500'), '0160': ('ascii-of', 'cp037'),
    '0410': ('iconv', 'IBM870'), '0500': ('iconv', 'IBM1025'), '0610': ('iconv', 'IBM1026'),
    '0700': ('iconv', 'IBM875'), '0800': ('py', 'cp424'), '0860': ('iconv', 'IBM1160'),
    '1100': ('py', 'latin_1'), '1101': ('py', 'ascii'), '1103': ('py', 'cp850'), '1127': ('py', 'mac_roman'),
    '1160': ('py', 'cp1252'), '1180': ('py', 'latin_1'), '1401': ('py', 'iso8859_2'),
    '1404': ('py', 'cp1250'), '1500': ('py', 'iso8859_5'), '1504': ('py', 'cp1251'),
    '1610': ('py', 'iso8859_9'), '1614': ('py', 'cp1254'), '1700': ('py', 'iso8859_7'),
    '1704': ('py', 'cp1253'), '1800': ('py', 'iso8859_8'), '1804': ('py', 'cp1255'),
    '1810': ('py', 'iso8859_8'), '1824': ('py', 'cp1255'), '1900': ('py', 'iso8859_4'),
    '1904': ('py', 'cp1257'), '6123': ('py', 'cp852'), '6125': ('py', 'mac_latin2'),
    '6173': ('py', 'cp869'), '6175': ('py', 'mac_greek'), '8600': ('py', 'tis_620'),
    '8604': ('py', 'cp874'), '8700': ('py', 'iso8859_6'), '8704': ('py', 'cp1256'),
}

COMPATIBLE = [(24, c) for c in range(28) if c != 11] + [(25, 1), (27, 7)]
UNIFICATION = {12: [0, 1, 2, 4], 13: [6, 0], 14: [6, 27], 15: [6, 8], 16: [6, 9], 17: [6, 27, 8, 9],
               18: [0, 4], 19: [6, 10], 20: [6, 4], 21: [6, 5], 26: [0, 25]}

TEXT = {0: 'no_op', 8: 'sorry', 16: 'Multibytes', 32: 'is_subset'}

# ---------------------------------------------------------------------------
# Character sets


def iconv_decoder(name):
    libc = ctypes.CDLL(ctypes.util.find_library('c'), use_errno=True)
    libc.iconv_open.restype = ctypes.c_void_p
    libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    libc.iconv.restype = ctypes.c_size_t
    libc.iconv.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t),
                           ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)]
    libc.iconv_close.argtypes = [ctypes.c_void_p]
    cd = libc.iconv_open(b'UTF-32LE', name.encode())
    if cd in (None, ctypes.c_void_p(-1).value):
        raise SystemExit('glibc iconv lacks %s' % name)
    out = []
    for b in range(256):
        src = ctypes.create_string_buffer(bytes([b]), 1)
        dst = ctypes.create_string_buffer(16)
        pin, pout = ctypes.c_char_p(ctypes.addressof(src)), ctypes.c_char_p(ctypes.addressof(dst))
        nin, nout = ctypes.c_size_t(1), ctypes.c_size_t(16)
        r = libc.iconv(cd, ctypes.byref(pin), ctypes.byref(nin), ctypes.byref(pout), ctypes.byref(nout))
        libc.iconv(cd, None, None, None, None)
        ok = r != ctypes.c_size_t(-1).value and nout.value == 12
        out.append(chr(int.from_bytes(dst.raw[:4], 'little')) if ok else None)
    libc.iconv_close(cd)
    return out


def decoder(cp):
    """Character of every byte of a single-byte code page (None: no character)."""
    how, name = CODECS[cp]
    if how == 'iconv':
        return iconv_decoder(name)
    out = []
    for b in range(256):
        try:
            c = bytes([b]).decode(name)
        except UnicodeDecodeError:
            c = None
        if how == 'ascii-of' and c is not None and ord(c) >= 0x80:
            c = None
        out.append(c)
    return out


def encoder(cp):
    enc = {}
    for b, c in enumerate(decoder(cp)):
        if c is not None and c not in enc:
            enc[c] = b
    return enc


def base_letter(c):
    d = unicodedata.normalize('NFD', c)
    return d[0] if len(d) > 1 and ord(d[0]) < 0x80 else None


def translation(src, dst):
    dec, enc = decoder(src), encoder(dst)
    table, complete = [0] * 256, True
    for b, c in enumerate(dec):
        if c is None:
            continue
        e = enc.get(c)
        if e is None and dst == '1180':
            e = enc.get(base_letter(c))
        if e is None:
            complete = False
        else:
            table[b] = e
    return table, complete

# ---------------------------------------------------------------------------
# Matrices


class Data:
    def __init__(self):
        self.tables = []       # (name, 256 bytes)
        self.index = {}

    def table(self, src, dst):
        """Cell value of a table src -> dst: a tag, or 0/32 for no table."""
        name = 't_%s_to_%s' % (src, dst)
        if name not in self.index:
            table, complete = translation(src, dst)
            if all(t in (0, b) for b, t in enumerate(table)):
                return 32 if complete else 0, None
            self.index[name] = len(self.tables)
            self.tables.append((name, table))
        return 'TAG', name


def first_of(charset, manufacturer):
    for r in ROWS:
        if r[1] == charset and r[2] == manufacturer:
            return r[0]
    return None


def shared_cell(md, mt, data):
    if md == 0:
        if mt in (1, 4):
            return data.table('1100', '0120')
        if mt == 3:
            return data.table('1100', '0100')
        if mt in (8, 10, 11):
            return 16, None
        return (0 if mt == 0 else 32), None
    if mt in (0, 2, 5, 6, 7, 9, 13, 14):
        return data.table('0120', '1100')
    if mt in (3, 4):
        return 32, None
    if mt in (8, 10, 11, 12):
        return 16, None
    return 0, None


def unicode_cell(md, mt):
    uni = {8, 9, 10, 11, 12}
    if md == mt:
        return 0
    if md in uni and mt in uni:
        return 32 if (md, mt) == (8, 11) else 16
    if md in uni or mt in uni:
        return 16
    return 8


def matrix(charset, data):
    cells = []
    for md in range(15):
        for mt in range(15):
            if charset != 24 and md in (0, 1):
                cells.append(shared_cell(md, mt, data))
                continue
            if charset == UNICODE_SET:
                cells.append((unicode_cell(md, mt), None))
                continue
            if md == mt:
                cells.append((0, None))
                continue
            a, b = first_of(charset, md), first_of(charset, mt)
            if a is None or b is None:
                cells.append((8, None))
            elif charset in MULTI_BYTE_SETS:
                cells.append((16, None))
            else:
                cells.append(data.table(a, b))
    return cells

# ---------------------------------------------------------------------------
# Output


def cp_init(cp):
    return '{%s}' % ', '.join("'%s'" % c for c in cp)


def description(name):
    return '"%s %s"' % (name, STAMP)


def cell_init(cell, data):
    value, name = cell
    if value == 'TAG':
        return '{RSCPF1_TABLE_TAG + %d, %s}' % (data.index[name], description(name))
    return '{%d, "%s"}' % (value, TEXT[value])


def generate():
    data = Data()
    matrices = {cs: matrix(cs, data) for cs in range(28) if cs not in WITHOUT_MATRIX}
    exceptions = []
    for r in ROWS:
        for dst in (r[3] if len(r) > 3 else []):
            exceptions.append((r[0], dst, data.table(r[0], dst)))

    out = ['// Generated by gen_cpf1.py from Python\'s codecs and glibc\'s iconv: do not edit.',
           '// The data of the code page pair filter; see the generator for how it is made.',
           '#include "krn/rscp/cpf1.h"', '']
    out.append('uint8_t rscpf1Tables[%d][256] = {' % len(data.tables))
    for name, table in data.tables:
        out.append('    // %s' % name)
        out.append('    {')
        for i in range(0, 256, 16):
            out.append('        ' + ', '.join('0x%02x' % v for v in table[i:i + 16]) + ',')
        out.append('    },')
    out.append('};')
    out.append('extern const uint32_t rscpf1TableCount = %d;' % len(data.tables))
    out.append('')
    out.append('namespace {')
    out.append('')
    for cs, cells in matrices.items():
        out.append('rscpf1Cell g_matrix%d[225] = {' % cs)
        for md in range(15):
            row = [cell_init(c, data) for c in cells[md * 15:md * 15 + 15]]
            out.append('    // from manufacturer %d' % md)
            for i in range(0, 15, 3):
                out.append('    ' + ' '.join(x + ',' for x in row[i:i + 3]))
        out.append('};')
        out.append('')
    out.append('}  // namespace')
    out.append('')
    out.append('rscpf1Cell* const rscpf1Matrices[RSCPF1_CHARSETS] = {')
    out.append('    ' + ', '.join('g_matrix%d' % cs if cs in matrices else 'nullptr' for cs in range(28)) + ',')
    out.append('};')
    out.append('rscpf1Cell* const rscpf1UnicodeMatrix = g_matrix%d;' % UNICODE_SET)
    out.append('')
    out.append('static rscpf1Exception rscpf1ExceptionNodes[%d] = {' % len(exceptions))
    for src, dst, cell in exceptions:
        out.append('    {%s, nullptr, %s},' % (cp_init(dst), cell_init(cell, data)[1:-1] + ', nullptr'))
    out.append('};')
    out.append('')
    out.append('rscpf1Row rscpf1Rows[RSCPF1_ROWS + 1] = {')
    ex = 0
    for r in ROWS:
        node = 'nullptr'
        if len(r) > 3:
            node = '&rscpf1ExceptionNodes[%d]' % ex
            ex += len(r[3])
        out.append('    {%s, %d, %d, 1, %s},' % (cp_init(r[0]), r[1], r[2], node))
    out.append("    {{'i', 'n', 'i', 't'}, 28, 15, 0, nullptr},")
    out.append('};')
    out.append('')
    out.append('extern const uint32_t rscpf1CompatiblePairs[][2] = {')
    out.append('    ' + ' '.join('{%d, %d},' % p for p in COMPATIBLE))
    out.append('};')
    out.append('extern const uint32_t rscpf1CompatiblePairCount = %d;' % len(COMPATIBLE))
    out.append('')
    out.append('extern const rscpf1Unification rscpf1Unifications[RSCPF1_CHARSETS] = {')
    for cs in range(28):
        groups = UNIFICATION.get(cs, [cs])
        out.append('    {%d, {%s}},' % (len(groups), ', '.join(str(g) for g in groups + [0] * (5 - len(groups)))))
    out.append('};')
    return '\n'.join(out) + '\n'


if __name__ == '__main__':
    sys.exit(genfile.main(generate, __file__, 'cpf1_tables.cpp', 'data'))

#!/usr/bin/env python3
"""UTF-8 <-> 16-bit conversion against Python's codecs: every Unicode scalar
value decoded (string converters and fgetcU16), every BMP unit and random
surrogate pairs encoded, and random byte strings, where whatever Python
decodes must decode alike and whatever it rejects (overlong forms aside, which
the library accepts) must be rejected."""
import random
import struct
import subprocess
import sys

tool = sys.argv[1]
failures = []


def run(mode, records, fmt):
    data = b"".join(struct.pack("<I", len(r)) + (struct.pack(f"<{len(r)}H", *r) if fmt == "H" else r)
                    for r in records)
    res = subprocess.run([tool, mode], input=data, capture_output=True)
    if res.returncode != 0:
        sys.exit(f"{mode} tool failed with {res.returncode}")
    return res.stdout


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def u32(self):
        v = struct.unpack_from("<I", self.data, self.pos)[0]
        self.pos += 4
        return v

    def units(self):
        n = self.u32()
        v = list(struct.unpack_from(f"<{n}H", self.data, self.pos))
        self.pos += 2 * n
        return v


def utf16(s):
    b = s.encode("utf-16-le", "surrogatepass")
    return list(struct.unpack(f"<{len(b) // 2}H", b))


def overlong_or_surrogate(b):
    # Forms the library accepts and Python rejects.
    for i, x in enumerate(b):
        nxt = b[i + 1] if i + 1 < len(b) else 0
        if x in (0xC0, 0xC1) or (x == 0xE0 and nxt < 0xA0) or (x == 0xF0 and nxt < 0x90) \
                or (x == 0xED and nxt >= 0xA0):
            return True
    return False


# Every scalar value (no NUL, no surrogates) in runs of 64, plus random bytes.
scalars = [c for c in range(1, 0x110000) if not 0xD800 <= c <= 0xDFFF]
texts = ["".join(map(chr, scalars[i:i + 64])).encode("utf-8") for i in range(0, len(scalars), 64)]
rng = random.Random(3)
pool = [0x41, 0x7F, 0x80, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0, 0xE1, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xF8, 0xFF, 0xA0, 0x90]
randoms = [bytes(rng.choice(pool) for _ in range(rng.randint(1, 6))) for _ in range(20000)]
# The edges of each sequence length, whole and cut short.
edges = ["7f", "c280", "dfbf", "e0a080", "efbfbf", "f0908080", "f48fbfbf", "f4908080", "f7bfbfbf",
         "80", "bf", "c2", "c241", "e0a0", "e0a041", "f09080", "f0908041", "f8888080", "ff"]
randoms += [bytes.fromhex(e) for e in edges] + [b"a" + bytes.fromhex(e) + b"z" for e in edges]
out = Reader(run("decode", texts + randoms, "B"))
for i, b in enumerate(texts + randoms):
    r = struct.unpack("<i", struct.pack("<I", out.u32()))[0]
    strunits = out.units()
    errors = out.u32()
    replunits = out.units()
    chars = out.units()
    try:
        want = utf16(b.decode("utf-8", "surrogatepass"))
    except UnicodeDecodeError:
        want = None
    if want is not None:
        per_char = [c if c < 0x10000 else 0xFFFD for c in map(ord, b.decode("utf-8", "surrogatepass"))]
        if (r, strunits, errors, replunits, chars) != (len(want), want, 0, want, per_char):
            failures.append(f"valid {b.hex()}: {r} {strunits} {errors} {replunits} {chars}")
    elif not overlong_or_surrogate(b):
        if r != -1 or errors == 0 or 0x23 not in replunits or 0x23 not in chars:
            failures.append(f"invalid {b.hex()} accepted: {r} {errors} {replunits} {chars}")

# Every BMP unit alone, and random texts with surrogate pairs.
records = [[u] for u in range(1, 0x10000)]
for _ in range(2000):
    records.append(utf16("".join(chr(rng.choice([0x41, 0xE9, 0x20AC, 0x1F600, 0x10FFFF, 0xFFFF]))
                                 for _ in range(rng.randint(0, 8)))))
out = Reader(run("encode", records, "H"))
for r in records:
    n = out.u32()
    got = out.data[out.pos:out.pos + n]
    out.pos += n
    want = "".join(map(chr, r)).encode("utf-8", "surrogatepass")
    if got != want:
        failures.append(f"encode {r}: {got.hex()} want {want.hex()}")

for f in failures[:20]:
    print(f)
print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)

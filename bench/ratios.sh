#!/usr/bin/env bash
# Every speed ratio the archiver is held to, measured side by side in one run:
#   threads       create of the header tree and of a 1 GB file on all the
#                 processors against one processor (same archive bytes)
#   decoding      extract of the 1 GB file against tar with zstd; test (-d)
#                 throughput on 4 processors
#   small files   system calls per file against tar, create and extract of
#                 100,000 tiny files against tar with gzip -1
#   codec         coder against zlib level 4 and decoder against libdeflate,
#                 per core (from bench_codec)
#   sparse        disk taken by an extracted file of zeros
#   tar           the header tree against tar with gzip -1, scaling with the
#                 number of entries, and a file above 4 GiB that round-trips
#
#   bash bench/ratios.sh [kovzef] [bench_codec] [scratch-dir]
#
# Use release builds (make bench builds both).  Wall times are medians of
# RUNS interleaved runs (default 5): program A, program B, A, B, ...  The
# scratch directory defaults to /dev/shm, where the disk's own noise does not
# drown the programs' cost.
set -euo pipefail

KOVZEF=$(realpath "${1:-build/bench/app/kovzef}")
CODEC=$(realpath "${2:-build/bench/bench/bench_codec}")
BASE=${3:-/dev/shm}
RUNS=${RUNS:-5}
HEADERS=${HEADERS:-/usr/include}
[ -x "$KOVZEF" ] || { echo "no kovzef at $KOVZEF" >&2; exit 2; }
for tool in tar zstd strace python3 taskset; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 2; }
done
SCRATCH=$(mktemp -d "$BASE/kovzef-ratios.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT
cd "$SCRATCH"
CPUS=$(nproc)

# wall SETUP COMMAND...: runs SETUP (a shell snippet) then the command, output
# discarded; prints the wall seconds.
wall() {
    local setup=$1; shift
    eval "$setup"
    /usr/bin/time -o "$SCRATCH/.time" -f "%e" "$@" >/dev/null 2>&1 || true
    cat "$SCRATCH/.time"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
# pair NAME SETUP-A "A" SETUP-B "B": interleaved runs; sets A_MED, B_MED and
# R_MED (median of the per-pair ratios A/B).
pair() {
    local a b ta=() tb=() tr=() i
    for ((i = 0; i < RUNS; i++)); do
        a=$(eval "wall '$2' $3"); b=$(eval "wall '$4' $5")
        ta+=("$a"); tb+=("$b"); tr+=("$(ratio "$a" "$b")")
    done
    A_MED=$(printf '%s\n' "${ta[@]}" | median)
    B_MED=$(printf '%s\n' "${tb[@]}" | median)
    R_MED=$(printf '%s\n' "${tr[@]}" | median)
}
line() { printf '  %-58s %s\n' "$1" "$2"; }

echo "kovzef $KOVZEF, $CPUS processors, medians of $RUNS interleaved runs"

echo "== threads"
cp -a "$HEADERS" src
python3 - <<'PY'
# A 1 GB file: the header tree's text, shuffled in 64 KiB pieces with some
# noise, so that chunks neither repeat nor all compress alike.
import os, random
rnd = random.Random(5)
pieces = []
for root, _, files in os.walk("src"):
    for f in files:
        p = os.path.join(root, f)
        if os.path.isfile(p) and not os.path.islink(p):
            with open(p, "rb") as h:
                pieces.append(h.read())
text = b"".join(pieces)
with open("big.bin", "wb") as out:
    written = 0
    while written < 1 << 30:
        at = rnd.randrange(0, max(1, len(text) - 65536))
        chunk = text[at:at + 65536]
        if rnd.random() < 0.1:
            chunk = os.urandom(len(chunk))
        out.write(chunk)
        written += len(chunk)
PY
ONE="taskset -c $(taskset -pc $$ | sed 's/.*: //; s/[,-].*//')"
pair tree 'rm -f t1.kox' "$KOVZEF -crf t1.kox src" 'rm -f t0.kox' "$ONE $KOVZEF -crf t0.kox src"
line "header tree create, all/one processor ($A_MED s / $B_MED s)" "$R_MED (goal about 0.5 of the old time)"
cmp -s t1.kox t0.kox && line "archive of all processors = archive of one" "yes" || line "archive of all processors = archive of one" "NO"
pair big 'rm -f b1.kox' "$KOVZEF -cf b1.kox big.bin" 'rm -f b0.kox' "$ONE $KOVZEF -cf b0.kox big.bin"
line "1 GB file create, all/one processor ($A_MED s / $B_MED s)" "$R_MED"
cmp -s b1.kox b0.kox && line "archive of all processors = archive of one" "yes" || line "archive of all processors = archive of one" "NO"

echo "== parallel decoding"
tar --zstd -cf big.tar.zst big.bin
mkdir -p xk xt
pair extract 'rm -f xk/big.bin' "$KOVZEF -xf b1.kox -R xk" 'rm -f xt/big.bin' "tar --zstd -xf big.tar.zst -C xt"
line "1 GB file extract, kovzef/tar with zstd ($A_MED s / $B_MED s)" "$R_MED (goal <= 1.00)"
cmp -s xk/big.bin big.bin && line "extracted file identical" "yes" || line "extracted file identical" "NO"
FOUR="taskset -c $(python3 -c 'import os; print(",".join(map(str, sorted(os.sched_getaffinity(0))[:4])))')"
pair test ':' "$FOUR $KOVZEF -df b1.kox" ':' "$KOVZEF -df b1.kox"
line "1 GB file test (-d) on 4 processors ($A_MED s)" "$(awk -v t="$A_MED" 'BEGIN { printf "%.2f GB/s", 1.073741824 / t }') (goal >= 3)"
rm -rf xk xt big.tar.zst b0.kox

echo "== small files"
make_tree() {  # make_tree DIR COUNT: COUNT files of 100-300 bytes in directories of 1000
    python3 - "$1" "$2" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    d = os.path.join(root, "d%03d" % (i // 1000))
    if i % 1000 == 0:
        os.makedirs(d)
    with open(os.path.join(d, "f%06d.txt" % i), "w") as f:
        f.write(("entry %d " % i) * (10 + i % 20))
PY
}
make_tree tiny 100000
# System calls per file on 1,000 of them (strace -f counts every thread).
calls() { strace -f -c -o "$SCRATCH/.calls" "$@" >/dev/null 2>&1 || true; awk '$NF == "total" { print $4 }' "$SCRATCH/.calls"; }
mkdir -p one/d && cp tiny/d000/* one/d/
KC=$(calls "$KOVZEF" -cf one.kox one); TC=$(calls tar cf one.tar one)
mkdir xk1 xt1
KX=$(calls "$KOVZEF" -xf one.kox -R xk1); TX=$(calls tar xf one.tar -C xt1)
line "system calls per file, create: kovzef/tar ($KC / $TC per 1,000)" "$(ratio "$KC" "$TC") (goal <= 1.00)"
line "system calls per file, extract: kovzef/tar ($KX / $TX per 1,000)" "$(ratio "$KX" "$TX") (goal <= 1.00)"
pair tinyc 'rm -f tiny.kox' "$KOVZEF -cf tiny.kox tiny" 'rm -f tiny.tgz' "env GZIP=-1 tar czf tiny.tgz tiny"
line "100,000 tiny files create, kovzef/tar czf gzip -1 ($A_MED s / $B_MED s)" "$R_MED (goal <= 1.00)"
pair tinyx 'rm -rf xk && mkdir xk' "$KOVZEF -xf tiny.kox -R xk" 'rm -rf xt && mkdir xt' "tar xzf tiny.tgz -C xt"
line "100,000 tiny files extract, kovzef/tar xzf ($A_MED s / $B_MED s)" "$R_MED (goal <= 1.00)"
diff -r tiny xk/tiny >/dev/null && line "extracted tree identical" "yes" || line "extracted tree identical" "NO"
rm -rf one one.kox one.tar xk1 xt1 xk xt tiny.tgz

echo "== scale"
declare -A CW XW
for n in 25000 100000; do
    make_tree "s$n" "$n"
    CW[$n]=$(printf '%s\n' $(for i in 1 2 3; do wall "rm -f s.kox" "$KOVZEF" -cf s.kox "s$n"; done) | median)
    XW[$n]=$(printf '%s\n' $(for i in 1 2 3; do wall "rm -rf xs && mkdir xs" "$KOVZEF" -xf s.kox -R xs; done) | median)
    rm -rf "s$n" xs s.kox
done
line "4x the entries: create time x, extract time x (linear: 4)" "$(ratio "${CW[100000]}" "${CW[25000]}"), $(ratio "${XW[100000]}" "${XW[25000]}")"
rm -rf tiny tiny.kox

echo "== codec (per core)"
if [ -x "$CODEC" ]; then
    tar -cf corpus.tar -C "$(dirname "$HEADERS")" "$(basename "$HEADERS")" 2>/dev/null || true
    KOV_BENCH_CORPUS=corpus.tar "$CODEC" 2>/dev/null | sed 's/\x1b\[[0-9;]*m//g' |
        grep -E '^(ratio|coder on|CRC)' | sed 's/^/  /'
    rm -f corpus.tar
else
    echo "  no bench_codec at $CODEC (build with -DKOV_BENCH=ON)"
fi

echo "== sparse"
truncate -s 256M zeros.img
printf 'end' >> zeros.img
"$KOVZEF" -cf zeros.kox zeros.img >/dev/null
mkdir xz && "$KOVZEF" -xf zeros.kox -R xz >/dev/null
ALLOC=$(( $(stat -c %b xz/zeros.img) * $(stat -c %B xz/zeros.img) ))
cmp -s zeros.img xz/zeros.img && same=identical || same=DIFFERENT
line "256 MiB of zeros extracted: bytes on disk / size ($same)" "$(ratio "$ALLOC" "$(stat -c %s zeros.img)") (goal: near 0 where holes are kept)"
rm -rf xz zeros.img zeros.kox

echo "== the header tree against tar with gzip -1"
pair tc 'rm -f a.kox' "$KOVZEF -crf a.kox src" 'rm -f a.tgz' "env GZIP=-1 tar czf a.tgz src"
line "create, kovzef/tar czf ($A_MED s / $B_MED s)" "$R_MED (goal <= 0.80)"
line "archive size, kovzef/tar" "$(ratio "$(stat -c %s a.kox)" "$(stat -c %s a.tgz)") (goal <= 1.00)"
pair tx 'rm -rf xk && mkdir xk' "$KOVZEF -xf a.kox -R xk" 'rm -rf xt && mkdir xt' "tar xzf a.tgz -C xt"
line "extract, kovzef/tar xzf ($A_MED s / $B_MED s)" "$R_MED (goal <= 1.00)"
diff -r --no-dereference src xk/src >/dev/null 2>&1 && line "extracted tree identical" "yes" || line "extracted tree identical" "NO"
rm -rf src xk xt a.kox a.tgz big.bin b1.kox t0.kox t1.kox

echo "== a file above 4 GiB (sparse)"
mkdir big
truncate -s $((4 * 1024 * 1024 * 1024 + 12345)) big/huge.bin
printf 'head' | dd of=big/huge.bin conv=notrunc status=none
printf 'tail' | dd of=big/huge.bin bs=1 seek=$((4 * 1024 * 1024 * 1024 + 12341)) conv=notrunc status=none
line "create (s)" "$(wall ':' "$KOVZEF" -cf huge.kox big)"
line "test, decode and checksum all of it (s)" "$(wall ':' "$KOVZEF" -df huge.kox)"
mkdir xh
line "extract (s)" "$(wall ':' "$KOVZEF" -xf huge.kox -R xh)"
if [ "$(stat -c %s xh/big/huge.bin)" = "$(stat -c %s big/huge.bin)" ] && cmp -s big/huge.bin xh/big/huge.bin; then
    line "round trip" "identical, $(( $(stat -c %b xh/big/huge.bin) * $(stat -c %B xh/big/huge.bin) )) bytes on disk"
else
    line "round trip" "MISMATCH"
fi

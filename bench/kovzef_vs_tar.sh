#!/usr/bin/env bash
# Times kovzef against tar with gzip -1 on the system's C header tree, side by
# side in one run, and prints the ratios; then shows how create and extract
# scale with the number of entries and that a file above 4 GiB round-trips.
#
#   bash bench/kovzef_vs_tar.sh [path/to/kovzef] [scratch-dir]
#
# Use a release build.  The scratch directory defaults to /dev/shm (memory),
# where the disk's own noise does not drown the programs' cost; the large
# file is made sparse there and extracted only where there is room for it.
set -euo pipefail

KOVZEF=$(realpath "${1:-build/release/app/kovzef}")
BASE=${2:-/dev/shm}
HEADERS=${HEADERS:-/usr/include}
SCRATCH=$(mktemp -d "$BASE/kovzef-bench.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT
cd "$SCRATCH"

[ -x "$KOVZEF" ] || { echo "no kovzef at $KOVZEF" >&2; exit 2; }

# Runs a command, discarding its output; sets WALL, USER and SYS (seconds).
measure() {
    /usr/bin/time -o "$SCRATCH/.time" -f "%e %U %S" "$@" >/dev/null 2>&1 || true
    read -r WALL USER SYS < "$SCRATCH/.time"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "n/a" }'; }
best_of() {  # best_of N VAR-PREFIX command...: keeps the run with the least wall time
    local n=$1 prefix=$2; shift 2
    local bw=999999 bu=0 bs=0 i
    for ((i = 0; i < n; i++)); do
        eval "${BEST_SETUP:-:}"
        measure "$@"
        if awk -v a="$WALL" -v b="$bw" 'BEGIN { exit !(a < b) }'; then bw=$WALL bu=$USER bs=$SYS; fi
    done
    printf -v "${prefix}_WALL" '%s' "$bw"
    printf -v "${prefix}_USER" '%s' "$bu"
    printf -v "${prefix}_SYS" '%s' "$bs"
}

echo "== header tree: $HEADERS -> $SCRATCH/src"
cp -a "$HEADERS" src
echo "   $(find src | wc -l) entries, $(du -sh src | cut -f1)"

# Links are stored as links by both programs (kovzef -r), as tar does.
BEST_SETUP='rm -f a.kox' best_of 3 KC "$KOVZEF" -crf a.kox src
BEST_SETUP='rm -f a.tgz' best_of 3 TC env GZIP=-1 tar czf a.tgz src
KSIZE=$(stat -c %s a.kox); TSIZE=$(stat -c %s a.tgz)

BEST_SETUP='rm -rf xk && mkdir xk' best_of 3 KX "$KOVZEF" -xf a.kox -R xk
BEST_SETUP='rm -rf xt && mkdir xt' best_of 3 TX tar xzf a.tgz -C xt
diff -r --no-dereference src xk/src >/dev/null 2>&1 && SAME=yes || SAME=NO

printf '%-22s %10s %10s %10s %14s\n' "" wall user sys "archive bytes"
printf '%-22s %10s %10s %10s %14s\n' "kovzef -crf" "$KC_WALL" "$KC_USER" "$KC_SYS" "$KSIZE"
printf '%-22s %10s %10s %10s %14s\n' "tar czf (GZIP=-1)" "$TC_WALL" "$TC_USER" "$TC_SYS" "$TSIZE"
printf '%-22s %10s %10s %10s\n' "kovzef -xf" "$KX_WALL" "$KX_USER" "$KX_SYS"
printf '%-22s %10s %10s %10s\n' "tar xzf" "$TX_WALL" "$TX_USER" "$TX_SYS"
echo "create:  wall ratio $(ratio "$KC_WALL" "$TC_WALL") (goal <= 0.80), size ratio $(ratio "$KSIZE" "$TSIZE") (goal <= 1.00)"
echo "extract: wall ratio $(ratio "$KX_WALL" "$TX_WALL") (goal <= 1.00), user CPU ratio $(ratio "$KX_USER" "$TX_USER") (goal <= 0.50)"
echo "extracted tree identical to the original: $SAME"
rm -rf src xk xt a.kox a.tgz

echo "== scale: many small files"
make_tree() {  # make_tree DIR COUNT: COUNT files of 100-300 bytes in dirs of 1000
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
declare -A CW XW
for n in 25000 100000; do
    make_tree "t$n" "$n"
    BEST_SETUP="rm -f t$n.kox" best_of 2 S "$KOVZEF" -cf "t$n.kox" "t$n"
    CW[$n]=$S_WALL
    BEST_SETUP="rm -rf x$n && mkdir x$n" best_of 2 S "$KOVZEF" -xf "t$n.kox" -R "x$n"
    XW[$n]=$S_WALL
    diff -r --no-dereference "t$n" "x$n/t$n" >/dev/null && ok=identical || ok=DIFFERENT
    printf '%7d files: create %6ss (%5.1f us/entry), extract %6ss (%5.1f us/entry), %s\n' "$n" \
        "${CW[$n]}" "$(awk -v t="${CW[$n]}" -v n="$n" 'BEGIN{print t*1e6/n}')" \
        "${XW[$n]}" "$(awk -v t="${XW[$n]}" -v n="$n" 'BEGIN{print t*1e6/n}')" "$ok"
    rm -rf "x$n" "t$n.kox"
    [ "$n" = 100000 ] || rm -rf "t$n"
done
rm -rf t100000
echo "4x the entries: create took $(ratio "${CW[100000]}" "${CW[25000]}")x, extract $(ratio "${XW[100000]}" "${XW[25000]}")x the time (linear: about 4)"

echo "== a file above 4 GiB (sparse)"
mkdir big
truncate -s $((4 * 1024 * 1024 * 1024 + 12345)) big/huge.bin
printf 'head' | dd of=big/huge.bin conv=notrunc status=none
printf 'tail' | dd of=big/huge.bin bs=1 seek=$((4 * 1024 * 1024 * 1024 + 12341)) conv=notrunc status=none
measure "$KOVZEF" -cf big.kox big
echo "create: ${WALL}s, archive $(stat -c %s big.kox) bytes"
"$KOVZEF" -tf big.kox | grep huge.bin
measure "$KOVZEF" -df big.kox
echo "test (decompress and checksum all of it): ${WALL}s"
EXTRACT_DIR=${BIG_EXTRACT_DIR:-${TMPDIR:-/tmp}}
NEED=$((5 * 1024 * 1024))
if [ "$(df -Pk "$EXTRACT_DIR" | awk 'NR==2 {print $4}')" -gt "$NEED" ]; then
    XB=$(mktemp -d "$EXTRACT_DIR/kovzef-big.XXXXXX")
    measure "$KOVZEF" -xf "$SCRATCH/big.kox" -R "$XB"
    if [ "$(stat -c %s "$XB/big/huge.bin")" = "$(stat -c %s big/huge.bin)" ] &&
       cmp -s <(head -c 4 "$XB/big/huge.bin") <(printf head) &&
       cmp -s <(tail -c 4 "$XB/big/huge.bin") <(printf tail); then
        echo "extract: ${WALL}s, size and contents round-trip"
    else
        echo "extract: ${WALL}s, MISMATCH"
    fi
    rm -rf "$XB"
else
    echo "extract skipped: less than 5 GiB free in $EXTRACT_DIR (set BIG_EXTRACT_DIR)"
fi

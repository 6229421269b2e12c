#!/usr/bin/env bash
# Peak memory per name: what create (-cf), plain extract (-xf) and list (-tf)
# of one tree take more, per name, at LARGE names than at SMALL names (maximum
# resident set, as /usr/bin/time gives it).  The tree: empty files in DIRS
# directories, named file000000000000 and on, or with NAMES=random by 24
# random hexadecimal digits (as a tree of hashed names has them).  What a run
# keeps for every name it meets shows here; buffers of a fixed size do not.
#
#   bash bench/names_memory.sh [kovzef...]
#
# Several builds are measured on the same trees, one line each.  NAMES (default
# short), SMALL (default 50000), LARGE (default 250000), DIRS (default 250),
# RUNS (default 3: the lowest peak of RUNS runs counts) and the scratch
# directory BASE (default /dev/shm) come from the environment.
set -euo pipefail

SMALL=${SMALL:-50000}
LARGE=${LARGE:-250000}
DIRS=${DIRS:-250}
RUNS=${RUNS:-3}
NAMES=${NAMES:-short}
case $NAMES in short | random) ;; *) echo "NAMES is short or random" >&2; exit 2 ;; esac
BASE=${BASE:-/dev/shm}
[ $# -gt 0 ] || set -- build/bench/app/kovzef
for program in "$@"; do
    [ -x "$program" ] || { echo "no kovzef at $program" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing" >&2; exit 2; }
SCRATCH=$(mktemp -d "$BASE/kovzef-names.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT

# tree N: a tree of N empty files in $SCRATCH/N/t.
tree() {
    python3 - "$SCRATCH/$1/t" "$1" "$DIRS" "$NAMES" <<'EOF'
import os, sys
root, count, dirs, names = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
for d in range(dirs):
    os.makedirs(os.path.join(root, "dir%05d" % d))
for i in range(count):
    name = os.urandom(12).hex() if names == "random" else "file%012d" % i
    open(os.path.join(root, "dir%05d" % (i % dirs), name), "w").close()
EOF
}
# peak COMMAND...: the lowest maximum resident set (KiB) of RUNS runs.
peak() {
    local best= kib i
    for ((i = 0; i < RUNS; i++)); do
        rm -rf "$SCRATCH/out" && mkdir "$SCRATCH/out"
        /usr/bin/time -o "$SCRATCH/.rss" -f "%M" "$@" >/dev/null 2>&1 || true
        kib=$(tail -n 1 "$SCRATCH/.rss")
        if [ -z "$best" ] || [ "$kib" -lt "$best" ]; then best=$kib; fi
    done
    echo "$best"
}
per_name() { awk -v a="$1" -v b="$2" -v n=$((LARGE - SMALL)) 'BEGIN { printf "%.1f", (b - a) * 1024 / n }'; }

for n in "$SMALL" "$LARGE"; do
    tree "$n"
done
printf '%-40s %22s %22s %22s\n' "peak KiB at $SMALL / $LARGE $NAMES names" "create" "extract" "list"
printf '%-40s %22s %22s %22s\n' "(bytes per name)" "" "" ""
for program in "$@"; do
    line=
    for action in create extract list; do
        results=()
        for n in "$SMALL" "$LARGE"; do
            archive="$SCRATCH/$n/a.kox"
            case $action in
            create) results+=("$(peak "$program" -cf "$archive.new" -C "$SCRATCH/$n" t)") ;;
            extract)
                [ -f "$archive" ] || "$program" -cf "$archive" -C "$SCRATCH/$n" t >/dev/null 2>&1
                results+=("$(peak "$program" -xf "$archive" -R "$SCRATCH/out")") ;;
            list) results+=("$(peak "$program" -tf "$archive")") ;;
            esac
        done
        line+=$(printf ' %22s' "${results[0]}/${results[1]} ($(per_name "${results[0]}" "${results[1]}"))")
    done
    printf '%-40s%s\n' "$program" "$line"
done

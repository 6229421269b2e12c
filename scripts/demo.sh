#!/usr/bin/env bash
# Shows the archiver at work on a directory of this repository: archive app/,
# list the archive, extract it into another directory and compare the result
# with the original.  Usage: bash scripts/demo.sh PATH-TO-KOVZEF
set -euo pipefail
if [ $# -ne 1 ] || [ ! -x "$1" ]; then
  echo "usage: bash scripts/demo.sh PATH-TO-KOVZEF" >&2
  exit 2
fi
kovzef=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kovzef-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
archive=$work/demo.kox
mkdir "$work/extracted"

step() { printf '\n== %s\n' "$*"; }
# Runs a command with its output in a log file; shows the log when it fails.
logged() {
  local log=$1 status=0; shift
  "$@" >"$log" || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 20 "$log"
    echo "FAILED (status $status): $*" >&2
    exit 1
  fi
}
# Counts the entry lines of a -v log: those that begin with the letter of the
# command ("a", "x", "d"), not the program's own "KOVZEF: " lines.
entries() { grep -c "^$1 " "$2" || true; }

step "archiving $root/app into $archive"
logged "$work/create.log" bash -c 'cd "$1" && "$2" -cvf "$3" app' _ "$root" "$kovzef" "$archive"
echo "$(entries a "$work/create.log") entries written, archive size $(stat -c %s "$archive") bytes" \
     "(sources: $(du -sb "$root/app" | cut -f1) bytes)"

step "listing the archive (first 10 lines)"
logged "$work/list.log" "$kovzef" -tvf "$archive"
head -n 10 "$work/list.log"
echo "... $(grep -c -v '^KOVZEF: ' "$work/list.log" || true) entries listed"

step "extracting into $work/extracted"
logged "$work/extract.log" bash -c 'cd "$1" && "$2" -xvf "$3"' _ "$work/extracted" "$kovzef" "$archive"
echo "$(entries x "$work/extract.log") entries extracted"

step "testing the archive"
logged "$work/test.log" "$kovzef" -dvf "$archive"
echo "archive test passed: $(entries d "$work/test.log") entries tested"

step "comparing with the original (diff -r)"
if diff -r "$root/app" "$work/extracted/app"; then
  echo "identical: the extracted tree matches $root/app"
else
  echo "DIFFERENCES FOUND" >&2
  exit 1
fi

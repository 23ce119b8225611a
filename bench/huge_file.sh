#!/usr/bin/env bash
# Files over 2 GiB: a 3 GB text (mostly one long run of spaces, made sparse so
# it costs no disk) with one address near its start and one at its very end
# must give both, with byte positions beyond 32 bits, in a small, fixed amount
# of memory (the file is read in pieces). Not run in CI: it reads the whole
# file, which takes a while.
# Usage: bench/huge_file.sh [BUILD_DIR] [GIGABYTES]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build}"
gigabytes="${2:-3}"
tool="$build_dir/cli/quillon-extract"
[ -x "$tool" ] || { echo "build $tool first" >&2; exit 2; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
file="$dir/huge.txt"
printf 'first@start.jp ' > "$file"
truncate -s "${gigabytes}G" "$file"      # the rest reads as NUL bytes
printf ' last@end.jp\n' >> "$file"
ls -l "$file"

out="$dir/out.tsv"
/usr/bin/time -v "$tool" --no-prefs --encoding utf-8 --format tsv --output "$out" "$file" 2> "$dir/time.txt" || true
grep -E "Elapsed|Maximum resident" "$dir/time.txt"
cat "$out"
if grep -q 'last@end.jp' "$out" && grep -q 'first@start.jp' "$out"; then
    echo "ok: both addresses found"
else
    echo "FAILED: an address is missing" >&2
    exit 1
fi

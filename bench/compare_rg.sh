#!/usr/bin/env bash
# Times quillon-extract end to end on generated text files beside ripgrep's
# `rg -o` with the equivalent ASCII pattern, and prints the ratio.
#
# Usage: bench/compare_rg.sh [--size MB] [--files N] [--seed N] [--runs N] [--build-dir DIR]
#   --size MB        total size of the generated text (default 20)
#   --files N        number of files it is spread over (default 100)
#   --seed N         the generator's seed (default 42): the same seed gives the same files
#   --runs N         timed runs of each tool; the best is kept (default 3)
#   --build-dir DIR  use quillon-extract from this build instead of building
#                    a Release build in a temporary folder
#
# quillon-extract runs without post-processing (no duplicate removal, sort,
# check or filter), reads the files as UTF-8 and writes UTF-8 to /dev/null.
# Only the times are compared: the two tools are not claimed to print the same
# lines (the address counts are shown for information).
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
size_mb=20
files=100
seed=42
runs=3
build_dir=""

while [ $# -gt 0 ]; do
  case "$1" in
    --size) size_mb="$2"; shift 2 ;;
    --files) files="$2"; shift 2 ;;
    --seed) seed="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "compare_rg.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done

work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-rg-XXXXXX")"
trap 'rm -rf "$work"' EXIT

# ripgrep from Debian when it is missing.
if ! command -v rg >/dev/null 2>&1; then
  echo "Installing ripgrep..."
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q ripgrep ||
    { "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
      "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q ripgrep; }
fi

# A Release build of quillon-extract alone, unless one is given.
if [ -z "$build_dir" ]; then
  build_dir="$work/build"
  echo "Building quillon-extract (Release) in $build_dir..."
  # Warnings stay warnings here: GCC 12 at -O3 reports false -Wrestrict
  # warnings inside the standard library.
  if ! { cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_WERROR=OFF \
           -DQUILLON_BUILD_UI=OFF -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_BENCH=OFF &&
         cmake --build "$build_dir" --parallel 2 --target quillon-extract; } >"$work/build.log" 2>&1; then
    tail -n 30 "$work/build.log" >&2
    echo "compare_rg.sh: the build failed" >&2
    exit 1
  fi
fi
extract="$build_dir/cli/quillon-extract"
[ -x "$extract" ] || { echo "compare_rg.sh: no quillon-extract in $build_dir/cli" >&2; exit 1; }

# Prose in ASCII and in Japanese (UTF-8), with an address on about one line in
# twelve; the same seed gives the same bytes.
data="$work/data"
mkdir -p "$data"
echo "Generating ${size_mb} MB in $files files (seed $seed)..."
awk -v seed="$seed" -v total=$((size_mb * 1000000)) -v files="$files" -v dir="$data" 'BEGIN {
  srand(seed)
  nw = split("the of and to in is for on with that by this from at as are be or an it mail list send reply meeting report office", words, " ")
  nj = split("会議の資料を送ります。 ご確認ください。 株式会社 担当者様 よろしくお願いいたします。 連絡先は以下のとおりです。", jp, " ")
  nd = split("example.jp example.co.jp mail.example.com example.ne.jp example.org example.net ml.example.ac.jp", doms, " ")
  nc = split("abcdefghijklmnopqrstuvwxyz0123456789", chars, "")
  per = int(total / files) + 1
  for (f = 1; f <= files; f++) {
    name = sprintf("%s/f%05d.txt", dir, f)
    written = 0
    while (written < per) {
      line = ""
      if (rand() < 0.3) {
        for (i = 0; i < 6; i++) line = line jp[int(rand() * nj) + 1]
      } else {
        for (i = 0; i < 14; i++) line = line words[int(rand() * nw) + 1] " "
      }
      if (rand() < 0.08) {
        acct = ""
        len = 3 + int(rand() * 10)
        for (i = 0; i < len; i++) acct = acct chars[int(rand() * nc) + 1]
        if (rand() < 0.3) acct = acct "." chars[int(rand() * 26) + 1] chars[int(rand() * 26) + 1]
        line = line " <" acct "@" doms[int(rand() * nd) + 1] "> "
      }
      print line > name
      written += length(line) + 1
    }
    close(name)
  }
}'
bytes=$(du -sb "$data" | cut -f1)

pattern='[A-Za-z0-9][A-Za-z0-9_.-]+?@[A-Za-z0-9_.-]+[a-zA-Z]'
q_cmd=("$extract" --quiet --no-prefs --no-dedupe --no-sort --no-check --filter "" --encoding utf-8
       --output-encoding utf-8 --layout line "$data")
rg_cmd=(rg --no-config -o --no-filename --no-line-number -e "$pattern" "$data")
rg1_cmd=(rg --no-config -j1 -o --no-filename --no-line-number -e "$pattern" "$data")

# Arithmetic on decimals (awk, so that bc is not needed).
calc() { awk "BEGIN { print $1 }"; }

# Best wall-clock time of $runs runs, in seconds, after one warm-up run.
best_time() {
  "$@" >/dev/null || true
  local best="" start end t
  for ((r = 0; r < runs; r++)); do
    start=$(date +%s.%N)
    "$@" >/dev/null || true
    end=$(date +%s.%N)
    t=$(calc "$end - $start")
    if [ -z "$best" ] || [ "$(calc "($t < $best) ? 1 : 0")" = 1 ]; then best=$t; fi
  done
  printf '%.3f' "$best"
}

q_count=$("$extract" --quiet --no-prefs --no-dedupe --no-sort --no-check --filter "" --encoding utf-8 \
  --format tsv "$data" | wc -l)
rg_count=$("${rg_cmd[@]}" | wc -l)

q_time=$(best_time "${q_cmd[@]}")
rg_time=$(best_time "${rg_cmd[@]}")
rg1_time=$(best_time "${rg1_cmd[@]}")

mb=$(calc "$bytes / 1000000")
echo
printf 'Data: %.1f MB in %d files; addresses found: quillon-extract %d, rg -o %d (for information)\n' \
  "$mb" "$files" "$q_count" "$rg_count"
printf '%-28s %8s s  %8.1f MB/s\n' "quillon-extract" "$q_time" "$(calc "$mb / $q_time")"
printf '%-28s %8s s  %8.1f MB/s\n' "rg -o ($(nproc) threads)" "$rg_time" "$(calc "$mb / $rg_time")"
printf '%-28s %8s s  %8.1f MB/s\n' "rg -o -j1" "$rg1_time" "$(calc "$mb / $rg1_time")"
printf 'Ratio quillon-extract / rg -o:     %.2f\n' "$(calc "$q_time / $rg_time")"
printf 'Ratio quillon-extract / rg -o -j1: %.2f\n' "$(calc "$q_time / $rg1_time")"

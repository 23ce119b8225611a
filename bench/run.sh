#!/usr/bin/env bash
# Times Quillon beside the tools people would use instead, on inputs generated
# with a fixed seed, and prints one table: each measurement, our time, the
# other tool's time measured in the same run, the ratio and the target.
#
# Usage: bench/run.sh [--size small|full] [--seed N] [--pairs N] [--build-dir DIR] [--keep DIR]
#   --size small|full  small (default): inputs of 10 MB, a run of well under a
#                      minute; full: the sizes the targets are stated for
#                      (50 and 100 MB texts, folders of 10,000 and 100,000
#                      files, a million addresses, a 200 MB window run)
#   --seed N           the generator's seed (default 42): the same seed gives
#                      the same files on every machine
#   --pairs N          interleaved pairs (ours, theirs, ours, theirs...) timed
#                      after one warm-up pair (default 7 in full size, 3 in small)
#   --build-dir DIR    use the programs of this Release build instead of
#                      building build-rel/ in the repository
#   --keep DIR         write the inputs into DIR and keep them (default: a
#                      temporary folder, removed at the end); inputs already
#                      generated there for the same size and seed are reused
#
# quillon-extract runs with the built-in defaults (--no-prefs). Beside rg it
# does no post-processing and writes UTF-8 to /dev/null, as `rg -o` does; on
# the million-address list it runs its default post-processing (duplicate
# removal, sort by domain, suspicious check) beside `rg -o | sort -fu`. The
# address pattern of rg is the ASCII equivalent of quillon-extract's.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
size=small
seed=42
pairs=""
build_dir=""
keep=""

while [ $# -gt 0 ]; do
  case "$1" in
    --size) size="$2"; shift 2 ;;
    --seed) seed="$2"; shift 2 ;;
    --pairs) pairs="$2"; shift 2 ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    --keep) keep="$2"; shift 2 ;;
    -h|--help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done
case "$size" in small|full) ;; *) echo "run.sh: --size is small or full" >&2; exit 2 ;; esac
if [ -z "$pairs" ]; then
  pairs=3
  [ "$size" = full ] && pairs=7
fi

export LC_ALL=C

# ---- Tools ------------------------------------------------------------------

missing=()
command -v rg >/dev/null 2>&1 || missing+=(ripgrep)
[ -x /usr/bin/time ] || missing+=(time)
command -v iconv >/dev/null 2>&1 || missing+=(libc-bin)
command -v python3 >/dev/null 2>&1 || missing+=(python3)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing ${missing[*]}..." >&2
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >&2 ||
    { "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2 &&
      "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >&2; }
fi

# ---- Build --------------------------------------------------------------------

if [ -z "$build_dir" ]; then
  build_dir="$repo/build-rel"
  echo "Building Release in $build_dir..." >&2
  # Warnings stay warnings here: GCC 12 at -O3 reports false -Wrestrict
  # warnings inside the standard library.
  if ! { cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=OFF \
           -DQUILLON_WERROR=OFF && cmake --build "$build_dir" -j2; } >"$build_dir.log" 2>&1; then
    tail -n 30 "$build_dir.log" >&2
    echo "run.sh: the build failed (log: $build_dir.log)" >&2
    exit 1
  fi
fi
extract="$build_dir/cli/quillon-extract"
bench_list="$build_dir/bench/bench_list"
bench_conv="$build_dir/bench/bench_conv"
ui_gap="$build_dir/bench/ui_eventLoopGap"
[ -x "$extract" ] || { echo "run.sh: no quillon-extract in $build_dir/cli" >&2; exit 1; }

# ---- Inputs -------------------------------------------------------------------

if [ -n "$keep" ]; then
  data="$keep"
  mkdir -p "$data"
else
  work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-bench-XXXXXX")"
  trap 'rm -rf "$work"' EXIT
  data="$work"
fi
stamp="$data/.generated-$size-$seed"
if [ ! -e "$stamp" ]; then
  echo "Generating the $size inputs (seed $seed) in $data..." >&2
  rm -f "$data"/.generated-*
  python3 "$repo/bench/gen_inputs.py" --out "$data" --size "$size" --seed "$seed" >/dev/null
  touch "$stamp"
fi

# ---- Measuring ----------------------------------------------------------------

pattern='[A-Za-z0-9][A-Za-z0-9_.-]+?@[A-Za-z0-9_.-]+[a-zA-Z]'
rg_o=(rg --no-config -o --no-filename --no-line-number -e "$pattern")
q_plain=("$extract" --quiet --no-prefs --no-dedupe --no-sort --no-check --output-encoding utf-8)

q() { printf '%q ' "$@"; }

rows_file="$data/.rows"
: >"$rows_file"
# One table row: measurement, compared with, target kind, target, then the
# figures of pairs.py (a_med a_min a_max b_med b_min b_max r_med r_min r_max a_peak).
#   kind "ratio": met when the median ratio ours / theirs <= target
#   kind "s": met when our median time <= target
#   kind "ms" / "bytes" / "bytes/row": met when the median figure <= target
add_row() { printf '%s\t%s\t%s\t%s\t%s\n' "$@" >>"$rows_file"; }

# Times our command (a shell line) paired with theirs: $pairs interleaved
# pairs after a warm-up pair.
paired() { python3 "$repo/bench/pairs.py" --pairs "$pairs" -- "$1" "$2"; }
alone() { python3 "$repo/bench/pairs.py" --pairs "$pairs" -- "$1"; }

mb_of() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.0f MB", b / 1e6 }'; }
echo "Timing ($pairs interleaved pairs after a warm-up pair)..." >&2
declare -A extraction # median seconds quillon-extract takes for each file, by name

# Against rg -o on UTF-8 text.
# The mail archive is read as mail (MIME parsed, its attachments skipped),
# where rg reads it as text.
for f in prose.txt:"English prose" ja.utf-8.txt:"Japanese prose, UTF-8" mail.mbox:"mail archive (mbox), read as mail"; do
  file="$data/${f%%:*}"
  figures=$(paired "$(q "${q_plain[@]}" --encoding utf-8 "$file")" "$(q "${rg_o[@]}" "$file")")
  add_row "${f#*:}, $(mb_of "$file")" "rg -o" ratio 0.5 "$figures"
  extraction["${f%%:*}"]=$(cut -f1 <<<"$figures")
done

# Against iconv | rg -o on the Japanese encodings.
for f in ja.sjis.txt:CP932:shift_jis:"Shift_JIS" ja.eucjp.txt:EUC-JP:euc-jp:"EUC-JP" \
         ja.jis.txt:ISO-2022-JP:iso-2022-jp:"ISO-2022-JP"; do
  IFS=: read -r file_name from enc label <<<"$f"
  file="$data/$file_name"
  figures=$(paired "$(q "${q_plain[@]}" --encoding "$enc" "$file")" \
    "iconv -f $from -t UTF-8 $(q "$file") | $(q "${rg_o[@]}")")
  add_row "Japanese prose, $label, $(mb_of "$file")" "iconv \| rg -o" ratio 0.35 "$figures"
  extraction["$file_name"]=$(cut -f1 <<<"$figures")
done

# The encoding verdict over each whole file (bench_conv), beside the
# extraction of that file measured above. prose.txt is also read as
# Shift_JIS, the window's default: ASCII never settles the verdict, so that
# is where it costs most (read as UTF-8 it costs nothing).
if [ -x "$bench_conv" ]; then
  echo "Running bench_conv (encoding verdict)..." >&2
  extraction[prose.txt]=$(alone "$(q "${q_plain[@]}" --encoding shift_jis "$data/prose.txt")" | cut -f1)
  verdict_files=""
  for f in prose.txt ja.utf-8.txt ja.sjis.txt ja.eucjp.txt ja.jis.txt; do verdict_files+="$data/$f:"; done
  QUILLON_VERDICT_FILES="$verdict_files" "$bench_conv" --benchmark_filter=EncodingVerdictFile \
    --benchmark_format=csv 2>/dev/null |
    awk -F, 'NR > 1 && $1 ~ /^"BM_EncodingVerdictFile/ {
      gsub(/"/, "", $1); sub(/^BM_EncodingVerdictFile\//, "", $1)
      ms = $3; if ($5 == "ns") ms = $3 / 1e6; else if ($5 == "us") ms = $3 / 1e3; else if ($5 == "s") ms = $3 * 1e3
      printf "%s\t%.6f\n", $1, ms / 1e3
    }' | while IFS=$'\t' read -r name secs; do
      how="read as found"; [ "$name" = prose.txt ] && how="read as Shift_JIS"
      add_row "encoding verdict, $name (in-process)" "its extraction, $how" ratio 0.1 \
        "$(awk -v a="$secs" -v b="${extraction[$name]}" 'BEGIN { r = b > 0 ? a / b : 0
          printf "%s\t%s\t%s\t%s\t%s\t%s\t%.3f\t%.3f\t%.3f\t0", a, a, a, b, b, b, r, r, r }')"
    done
fi

# Folders against rg -o walking the same folder.
for d in folder-5k folder-500; do
  files=$(find "$data/$d" -type f | wc -l)
  per=$(awk -v b="$(du -sb --apparent-size "$data/$d" | cut -f1)" -v n="$files" 'BEGIN { printf "%.1f", b / n / 1000 }')
  figures=$(paired "$(q "${q_plain[@]}" --encoding utf-8 "$data/$d")" "$(q "${rg_o[@]}" "$data/$d")")
  add_row "folder of $files files of $per KB" "rg -o PATTERN DIR" ratio 1.0 "$figures"
done

# The default post-processing on the address list, and its memory per row.
list="$data/addresses.txt"
count=$(wc -l <"$list")
figures=$(paired "$(q "$extract" --quiet --no-prefs --encoding utf-8 "$list")" \
  "$(q "${rg_o[@]}" "$list") | sort -fu")
add_row "$count addresses (30% repeated): dedupe, sort by domain, check" "rg -o \| sort -fu" ratio 1.0 "$figures"
peak=$(cut -f10 <<<"$figures")
# The goal is stated for a million rows; with fewer, the process's own few
# megabytes weigh on every row, so the figure is shown without a verdict.
memory_goal=120
[ "$count" -ge 1000000 ] || memory_goal=-
add_row "peak memory for $count rows (whole process, with post-processing)" "" bytes/row "$memory_goal" \
  "$(awk -v p="$peak" -v n="$count" 'BEGIN { v = p / n; printf "%.1f\t%.1f\t%.1f\t-\t-\t-\t-\t-\t-\t%d", v, v, v, p }')"

# Mail whose every body is base64 or quoted-printable against the same mails
# with plain bodies, both read as mail.
figures=$(paired "$(q "${q_plain[@]}" --encoding utf-8 "$data/mail-encoded.mbox")" \
  "$(q "${q_plain[@]}" --encoding utf-8 "$data/mail-plain.mbox")")
add_row "mail archive, every body base64 or quoted-printable, $(mb_of "$data/mail-encoded.mbox")" \
  "the same mails, plain bodies" ratio 2.0 "$figures"

# Timed alone.
figures=$(alone "$(q "${q_plain[@]}" --encoding utf-8 "$data/refs.html")")
add_row "HTML page, 200,000 references, $(mb_of "$data/refs.html")" "" s 0.3 "$figures"
for f in line-noat.txt:'no "@"' line-atonly.txt:'an "@" and no domain' line-addr.txt:'an address at its end'; do
  figures=$(alone "$(q "${q_plain[@]}" --encoding utf-8 "$data/${f%%:*}")")
  add_row "$(mb_of "$data/${f%%:*}") line of letters and digits, ${f#*:}" "" s 0.2 "$figures"
done

# The list operations on a million rows (Google Benchmark, in-process).
if [ -x "$bench_list" ]; then
  echo "Running bench_list..." >&2
  "$bench_list" --benchmark_format=csv --benchmark_repetitions=1 2>/dev/null |
    awk -F, 'NR > 1 && $1 ~ /^"BM_/ {
      gsub(/"/, "", $1)
      ms = $3; if ($5 == "ns") ms = $3 / 1e6; else if ($5 == "us") ms = $3 / 1e3; else if ($5 == "s") ms = $3 * 1e3
      printf "%s\t%.3f\n", $1, ms / 1e3
    }' | while IFS=$'\t' read -r name secs; do
      case "$name" in
        BM_DeleteByColumn) label="duplicate removal" ;;
        BM_SortByDomain) label="sort by domain" ;;
        BM_CheckAddress) label="suspicious check" ;;
        BM_CheckByAddresses/0) label="filter, 10,000 entries, remove" ;;
        BM_CheckByAddresses/1) label="filter, 10,000 entries, check" ;;
        BM_DeleteChecksHalf) label="deletion of the checked half" ;;
        BM_ExportText/4) label="export text, one a line" ;;
        BM_ExportText/14) label="export text, 10 a line" ;;
        *) label="$name" ;;
      esac
      add_row "1,000,000 rows in-process: $label" "" s 0.5 "$secs	$secs	$secs	-	-	-	-	-	-	0"
    done
fi

# The window's longest event-loop gap while a big file is searched, over
# several runs.
if [ -x "$ui_gap" ]; then
  gap_mb=20
  gap_runs=3
  [ "$size" = full ] && gap_mb=200 && gap_runs=5
  echo "Running ui_eventLoopGap ($gap_mb MB, $gap_runs runs)..." >&2
  gaps=()
  for ((r = 0; r < gap_runs; r++)); do
    line=$(QT_QPA_PLATFORM=offscreen "$ui_gap" "$gap_mb" 2>/dev/null | tail -n 1)
    gap=$(sed -n 's/.*longest event-loop gap: \([0-9]*\) ms.*/\1/p' <<<"$line")
    [ -n "$gap" ] && gaps+=("$gap")
  done
  if [ ${#gaps[@]} -gt 0 ]; then
    add_row "window: longest event-loop gap, $gap_mb MB searched, ${#gaps[@]} runs" "" ms 100 \
      "$(printf '%s\n' "${gaps[@]}" | sort -n | awk '{ v[NR] = $1 } END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%s\t%s\t%s\t-\t-\t-\t-\t-\t-\t0", m, v[1], v[NR] }')"
  fi
fi

# ---- The table ------------------------------------------------------------------

echo
echo "Quillon benchmarks, $size inputs, seed $seed, median of $pairs interleaved pairs (min to max)"
echo "Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)," \
  "$(awk '/MemTotal/ { printf "%.0f GB RAM", $2 / 1048576 }' /proc/meminfo), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
awk -F'\t' '
  # One figure when it was measured once (the in-process rows).
  function secs(m, lo, hi) { return lo == hi ? sprintf("%.3f s", m) : sprintf("%.3f s (%.3f to %.3f)", m, lo, hi) }
  function ratio(m, lo, hi) { return lo == hi ? sprintf("%.2f", m) : sprintf("%.2f (%.2f to %.2f)", m, lo, hi) }
  BEGIN {
    print "| Measurement | Quillon | Compared with | Their time | Ratio (min to max) | Goal | Met |"
    print "|---|---:|---|---:|---:|---|:-:|"
  }
  {
    name = $1; other = $2; kind = $3; target = $4
    if (kind == "ratio") {
      met = $11 <= target ? "yes" : "no"
      printf "| %s | %s | %s | %s | %s | <= %s | %s |\n", name, secs($5, $6, $7), other,
        secs($8, $9, $10), ratio($11, $12, $13), target, met
    } else if (kind == "s") {
      printf "| %s | %s | | | | < %s s | %s |\n", name, secs($5, $6, $7), target, $5 < target ? "yes" : "no"
    } else if (kind == "ms") {
      printf "| %s | %d ms (%d to %d) | | | | < %s ms | %s |\n", name, $5, $6, $7, target, $5 < target ? "yes" : "no"
    } else {
      if (target == "-") {
        printf "| %s | %.0f bytes a row (%.0f MB) | | | | (stated for a million rows) | - |\n", name, $5, $14 / 1e6
      } else {
        printf "| %s | %.0f bytes a row (%.0f MB) | | | | <= %s bytes a row | %s |\n", name, $5, $14 / 1e6, target,
          $5 <= target ? "yes" : "no"
      }
    }
  }' "$rows_file"

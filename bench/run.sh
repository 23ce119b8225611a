#!/usr/bin/env bash
# Times Quillon beside the tools people would use instead, on inputs generated
# with a fixed seed, and prints one table: each measurement, our time, the
# other tool's time measured in the same run, the ratio and the target.
#
# Usage: bench/run.sh [--size small|full] [--seed N] [--runs N] [--build-dir DIR] [--keep DIR]
#   --size small|full  small (default): inputs of 10 MB, a run of well under a
#                      minute; full: the sizes the targets are stated for
#                      (100 MB texts, a million addresses, a 200 MB window run)
#   --seed N           the generator's seed (default 42): the same seed gives
#                      the same files on every machine
#   --runs N           timed runs of each command after one warm-up; the best
#                      is kept (default 3)
#   --build-dir DIR    use the programs of this Release build instead of
#                      building build-rel/ in the repository
#   --keep DIR         write the inputs into DIR and keep them (default: a
#                      temporary folder, removed at the end)
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
runs=3
build_dir=""
keep=""

while [ $# -gt 0 ]; do
  case "$1" in
    --size) size="$2"; shift 2 ;;
    --seed) seed="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    --keep) keep="$2"; shift 2 ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done
case "$size" in small|full) ;; *) echo "run.sh: --size is small or full" >&2; exit 2 ;; esac

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
echo "Generating the $size inputs (seed $seed) in $data..." >&2
python3 "$repo/bench/gen_inputs.py" --out "$data" --size "$size" --seed "$seed" >/dev/null

# ---- Measuring ----------------------------------------------------------------

pattern='[A-Za-z0-9][A-Za-z0-9_.-]+?@[A-Za-z0-9_.-]+[a-zA-Z]'
rg_o=(rg --no-config -o --no-filename --no-line-number -e "$pattern")
q_plain=("$extract" --quiet --no-prefs --no-dedupe --no-sort --no-check --output-encoding utf-8)

# Best wall-clock time of $runs runs after a warm-up, in seconds; the command
# is a shell line (pipes allowed), its output thrown away.
best_time() {
  bash -c "$1" >/dev/null 2>&1 || true
  local best="" start end t
  for ((r = 0; r < runs; r++)); do
    start=$(date +%s%N)
    bash -c "$1" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    t=$((end - start))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  awk -v ns="$best" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

# Peak resident memory of one run, in bytes (from /usr/bin/time -v).
peak_bytes() {
  /usr/bin/time -v bash -c "exec $1 >/dev/null 2>&1" 2>&1 >/dev/null |
    awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 * 1024 }'
}

q() { printf '%q ' "$@"; }

rows_file="$data/.rows"
: >"$rows_file"
# One table row: measurement, ours, other tool, theirs, target kind, target.
#   kind "ratio": met when ours / theirs <= target
#   kind "s" / "ms" / "bytes": met when ours <= target
add_row() { printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$@" >>"$rows_file"; }

mb_of() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.0f MB", b / 1e6 }'; }
echo "Timing (best of $runs runs)..." >&2
declare -A extraction # seconds quillon-extract takes for each file, by name

# Against rg -o on UTF-8 text.
for f in prose.txt:"English prose" ja.utf-8.txt:"Japanese prose, UTF-8" \
         mail.mbox:"mail archive with base64 attachments, read as mail"; do
  file="$data/${f%%:*}"
  name="${f#*:} ($(mb_of "$file"))"
  ours=$(best_time "$(q "${q_plain[@]}" --encoding utf-8 "$file")")
  theirs=$(best_time "$(q "${rg_o[@]}" "$file")")
  add_row "$name" "$ours" "rg -o" "$theirs" ratio 1.0
  extraction["${f%%:*}"]=$ours
done

# Against iconv | rg -o on the Japanese encodings.
for f in ja.sjis.txt:CP932:shift_jis:"Shift_JIS" ja.eucjp.txt:EUC-JP:euc-jp:"EUC-JP" \
         ja.jis.txt:ISO-2022-JP:iso-2022-jp:"ISO-2022-JP"; do
  IFS=: read -r file_name from enc label <<<"$f"
  file="$data/$file_name"
  ours=$(best_time "$(q "${q_plain[@]}" --encoding "$enc" "$file")")
  theirs=$(best_time "iconv -f $from -t UTF-8 $(q "$file") | $(q "${rg_o[@]}")")
  add_row "Japanese prose, $label ($(mb_of "$file"))" "$ours" "iconv | rg -o" "$theirs" ratio 1.0
  extraction["$file_name"]=$ours
done

# The encoding verdict over each whole file (bench_conv), beside the
# extraction of that file measured above. prose.txt is also read as
# Shift_JIS, the window's default: ASCII never settles the verdict, so that
# is where it costs most (read as UTF-8 it costs nothing).
if [ -x "$bench_conv" ]; then
  echo "Running bench_conv (encoding verdict)..." >&2
  extraction[prose.txt]=$(best_time "$(q "${q_plain[@]}" --encoding shift_jis "$data/prose.txt")")
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
      add_row "encoding verdict, $name" "$secs" "its extraction, $how" "${extraction[$name]}" ratio 0.1
    done
fi

# The default post-processing on the address list.
list="$data/addresses.txt"
count=$(wc -l <"$list")
ours=$(best_time "$(q "$extract" --quiet --no-prefs --encoding utf-8 "$list")")
theirs=$(best_time "$(q "${rg_o[@]}" "$list") | sort -fu")
add_row "$count addresses, 30% repeated: dedupe, sort, check" "$ours" "rg -o | sort -fu" "$theirs" ratio 1.0

# The folder against the same bytes in one file.
files=$(find "$data/folder" -type f | wc -l)
ours=$(best_time "$(q "${q_plain[@]}" --encoding utf-8 "$data/folder")")
theirs=$(best_time "$(q "${q_plain[@]}" --encoding utf-8 "$data/prose.txt")")
add_row "$files files ($(du -sb "$data/folder" | awk '{ printf "%.0f MB", $1 / 1e6 }'))" "$ours" \
  "the same bytes in one file" "$theirs" ratio 2.0

# Mail whose every body is base64 or quoted-printable against the same mails
# with plain bodies, both read as mail.
ours=$(best_time "$(q "${q_plain[@]}" --encoding utf-8 "$data/mail-encoded.mbox")")
theirs=$(best_time "$(q "${q_plain[@]}" --encoding utf-8 "$data/mail-plain.mbox")")
add_row "mail archive, every body base64 or quoted-printable ($(mb_of "$data/mail-encoded.mbox"))" "$ours" \
  "the same mails, plain bodies" "$theirs" ratio 2.0

# Timed alone.
ours=$(best_time "$(q "${q_plain[@]}" --encoding utf-8 "$data/refs.html")")
add_row "HTML page, 200,000 references ($(mb_of "$data/refs.html"))" "$ours" "" "" s 0.3
for f in line-noat.txt:'no "@"' line-atonly.txt:'an "@" and no domain' line-addr.txt:'an address at its end'; do
  ours=$(best_time "$(q "${q_plain[@]}" --encoding utf-8 "$data/${f%%:*}")")
  add_row "$(mb_of "$data/${f%%:*}") line of letters and digits, ${f#*:}" "$ours" "" "" s 0.2
done

# Peak memory of the big runs: at most 3x the input plus 150 bytes a row.
echo "Measuring peak memory..." >&2
for f in prose.txt:utf-8 ja.utf-8.txt:utf-8 ja.sjis.txt:shift_jis mail.mbox:utf-8; do
  file="$data/${f%%:*}"
  enc="${f#*:}"
  found=$("$extract" --quiet --no-prefs --no-dedupe --no-sort --no-check --encoding "$enc" --format tsv "$file" |
    wc -l)
  peak=$(peak_bytes "$(q "${q_plain[@]}" --encoding "$enc" "$file")")
  limit=$(($(stat -c %s "$file") * 3 + found * 150))
  add_row "peak memory, ${f%%:*} ($(mb_of "$file"), $found rows)" "$peak" "" "" bytes "$limit"
done
peak=$(peak_bytes "$(q "$extract" --quiet --no-prefs --encoding utf-8 "$list")")
limit=$(($(stat -c %s "$list") * 3 + count * 150))
add_row "peak memory, addresses.txt with post-processing" "$peak" "" "" bytes "$limit"

# The list operations on a million rows (Google Benchmark).
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
      add_row "1,000,000 rows: $label" "$secs" "" "" s 0.5
    done
fi

# The window's longest event-loop gap while a big file is searched.
if [ -x "$ui_gap" ]; then
  gap_mb=20
  [ "$size" = full ] && gap_mb=200
  echo "Running ui_eventLoopGap ($gap_mb MB)..." >&2
  line=$("$ui_gap" "$gap_mb" 2>/dev/null | tail -n 1)
  gap=$(sed -n 's/.*longest event-loop gap: \([0-9]*\) ms.*/\1/p' <<<"$line")
  [ -n "$gap" ] && add_row "window: longest event-loop gap, $gap_mb MB searched" "$gap" "" "" ms 100
fi

# ---- The table ------------------------------------------------------------------

echo
echo "Quillon benchmarks, $size inputs, seed $seed, best of $runs runs"
echo "Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)," \
  "$(awk '/MemTotal/ { printf "%.0f GB RAM", $2 / 1048576 }' /proc/meminfo)"
echo
awk -F'\t' '
  function human(v, kind) {
    if (kind == "bytes") return sprintf("%.0f MB", v / 1e6)
    if (kind == "ms") return sprintf("%d ms", v)
    return sprintf("%.3f s", v)
  }
  BEGIN {
    print "| Measurement | Quillon | Compared with | Their time | Ratio | Target | Met |"
    print "|---|---:|---|---:|---:|---|:-:|"
  }
  {
    name = $1; ours = $2; other = $3; theirs = $4; kind = $5; target = $6
    gsub(/\|/, "\\|", other)
    if (kind == "ratio") {
      ratio = theirs > 0 ? ours / theirs : 0
      met = ratio <= target ? "yes" : "no"
      # Times under 10 ms in milliseconds, where three decimals of a second say little.
      shown = ours < 0.01 ? sprintf("%.2f ms", ours * 1e3) : sprintf("%.3f s", ours)
      printf "| %s | %s | %s | %.3f s | %.2f | ratio <= %s | %s |\n", name, shown, other, theirs, ratio, target, met
    } else {
      met = ours + 0 <= target + 0 ? "yes" : "no"
      printf "| %s | %s | | | | <= %s | %s |\n", name, human(ours, kind), human(target, kind), met
    }
  }' "$rows_file"

#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time over a
# copy of its seed corpus; fails on the first crash, hang, leak or broken check.
# Usage: tests/fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]
#   FUZZ_BUILD_DIR  build folder (default build-fuzz)
#   FUZZ_FILES_DIR  where the targets that make files (prefs, export, walk)
#                   make them (default /dev/shm where there is one: memory
#                   is many times faster than a disk for them)
#   FUZZ_WORK_DIR   where the corpus copies and any crash inputs go
#                   (default: a new temporary folder, kept when a target fails)
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds="${1:-5}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(prefs refer scan conv list pieces utf8 extract options export walk mail)
fi
build_dir="${FUZZ_BUILD_DIR:-build-fuzz}"
files_dir="${FUZZ_FILES_DIR:-}"
if [ -z "$files_dir" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  files_dir=/dev/shm
fi

echo "== fuzz build ($build_dir)"
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DQUILLON_FUZZ=ON \
  -DQUILLON_BUILD_UI=OFF -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"

work="${FUZZ_WORK_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/quillon-fuzz.XXXXXX")}"
mkdir -p "$work"
failed=()
for t in "${targets[@]}"; do
  bin="$build_dir/tests/fuzz/fuzz_$t"
  corpus="tests/fuzz/corpus/$t"
  max_len=4096
  case "$t" in refer | scan) max_len=2048 ;; options) max_len=1024 ;; esac
  rm -rf "${work:?}/$t"
  mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
  cp -r "$corpus/." "$work/$t/corpus/"
  dict=()
  [ -f "tests/fuzz/$t.dict" ] && dict=(-dict="tests/fuzz/$t.dict")
  echo "== fuzz_$t for ${seconds}s"
  if ! TMPDIR="${files_dir:-${TMPDIR:-/tmp}}" "$bin" "${dict[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -max_len="$max_len" \
    -print_final_stats=1 -artifact_prefix="$work/$t/artifacts/" "$work/$t/corpus" \
    >"$work/$t/log" 2>&1; then
    failed+=("$t")
    echo "fuzz_$t FAILED; the end of its log ($work/$t/log):"
    tail -n 40 "$work/$t/log"
    ls -l "$work/$t/artifacts"
  else
    grep -E '^stat::number_of_executed_units|^Done' "$work/$t/log" || true
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs kept in $work)"
  exit 1
fi
[ -n "${FUZZ_WORK_DIR:-}" ] || rm -rf "$work"
echo "fuzzing: no faults found"

#!/usr/bin/env bash
# Sets up, builds and runs every test. Usage: scripts/test.sh [BUILD_DIR] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build}"
scripts/setup.sh "$@"
ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)"

#!/usr/bin/env bash
# Takes docs/screenshot.png, the README's picture of the main window with a
# searched list, on a virtual X display.
# Usage: packaging/take-screenshot.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build}"

scripts/ensure-packages.sh xvfb xauth

scripts/setup.sh "$build_dir" -DQUILLON_BUILD_UI=ON
cmake --build "$build_dir" --target quillon-screenshot
mkdir -p docs
env -u QT_QPA_PLATFORM LANG=C.UTF-8 QT_QPA_PLATFORM=xcb \
    xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24" \
    "$build_dir/packaging/quillon-screenshot" docs/screenshot.png
echo "docs/screenshot.png written"

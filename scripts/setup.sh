#!/usr/bin/env bash
# Installs what Quillon needs on Debian 12 (only the packages that are missing),
# then configures and builds it.
# Usage: scripts/setup.sh [BUILD_DIR] [extra cmake args...]
#          everything: the window, quillon-extract and its manual page, the
#          tests and the benchmarks (default BUILD_DIR: build)
#        scripts/setup.sh --app [BUILD_DIR] [extra cmake args...]
#          the window alone, with only the packages it needs (default: build-app)
set -euo pipefail
cd "$(dirname "$0")/.."

# What the window needs to be built and to run.
app_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n libgl-dev
  libpcre2-dev libuchardet-dev libgmime-3.0-dev liburing-dev
  fonts-noto-cjk
)
# What the tests, the benchmarks, the manual page and the checks need besides.
dev_packages=(
  git help2man
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format clang libclang-rt-14-dev
)

if [ "${1:-}" = --app ]; then
  shift
  scripts/ensure-packages.sh "${app_packages[@]}"
  build_dir="${1:-build-app}"
  shift || true
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_BENCH=OFF -DQUILLON_BUILD_MANPAGE=OFF "$@"
  cmake --build "$build_dir" --parallel "$(nproc)" --target quillon
  exit 0
fi

scripts/ensure-packages.sh "${app_packages[@]}" "${dev_packages[@]}"

build_dir="${1:-build}"
shift || true
cmake -S . -B "$build_dir" -G Ninja "$@"
cmake --build "$build_dir" --parallel "$(nproc)"

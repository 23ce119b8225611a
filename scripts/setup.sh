#!/usr/bin/env bash
# Installs what Quillon needs on Debian 12 (only the packages that are missing),
# then configures and builds it. Usage: scripts/setup.sh [BUILD_DIR] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  libpcre2-dev libuchardet-dev libgmime-3.0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-noto-cjk clang-format clang libclang-rt-14-dev
)

scripts/ensure-packages.sh "${packages[@]}"

build_dir="${1:-build}"
shift || true
cmake -S . -B "$build_dir" -G Ninja "$@"
cmake --build "$build_dir" --parallel "$(nproc)"

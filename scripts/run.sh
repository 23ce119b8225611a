#!/usr/bin/env bash
# Installs what the window needs (Debian 12, only the packages that are
# missing), builds the window alone into build-app/ and starts it. Arguments
# go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --app build-app
exec build-app/quillon "$@"

#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: scripts/test.sh [build folder [cmake args...]]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
dir=${1:-build}
shift || true
scripts/build.sh "$dir" -DCMAKE_BUILD_TYPE=Release "$@"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"

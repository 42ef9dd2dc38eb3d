#!/usr/bin/env bash
# Installs what is missing, builds in release mode and converts the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
build/cvnconv examples/example.cvn

#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit, loopback, peer).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh release -DCMAKE_BUILD_TYPE=RelWithDebInfo
cd build/release
ctest --output-on-failure -j"$(nproc)" --timeout 300

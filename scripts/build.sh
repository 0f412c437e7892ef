#!/usr/bin/env bash
# Configures and builds into build/<name> with Ninja.
# Usage: scripts/build.sh [name] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:-release}; shift || true
mkdir -p "build/$name"
cmake -S . -B "build/$name" -G Ninja "$@" >/dev/null
cmake --build "build/$name"

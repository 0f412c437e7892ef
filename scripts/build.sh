#!/usr/bin/env bash
# Configures and builds into build/<name> with Ninja.
# Usage: scripts/build.sh [name] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
# Compiler cache hits across clones in different folders: paths are taken
# relative to the checkout and the working folder is not hashed.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
name=${1:-release}; shift || true
mkdir -p "build/$name"
cmake -S . -B "build/$name" -G Ninja "$@" >/dev/null
cmake --build "build/$name"

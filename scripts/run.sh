#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main program.
# Arguments are passed to the program (for example: --idiom tablet).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh release -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ -x build/release/tools/simulator/simulator ]; then
  exec build/release/tools/simulator/simulator "$@"
fi
echo "Built the libraries; test programs:"
find build/release -name '*_tests' -type f -executable | sort

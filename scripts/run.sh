#!/usr/bin/env bash
# Installs what is missing, builds the simulator, and runs the app on the
# bundled sample deck. The app's home folder (favourites, groups, user
# defaults, mail it sends) is ./home, kept between runs.
# Arguments go to the program (for example: --idiom tablet, --script FILE,
# --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
mkdir -p build/release
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target korvel
exec build/release/tools/simulator/korvel --home ./home --bundle ./resources "$@"

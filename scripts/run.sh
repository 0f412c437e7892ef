#!/usr/bin/env bash
# Installs what is missing, builds the simulator, and runs the app on the
# bundled sample deck. The app's home folder (favourites, groups, user
# defaults, mail it sends) is the repository's home/, kept between runs.
# Arguments go to the program (for example: --idiom tablet, --script FILE,
# --help); relative paths in them (--script, --home, --bundle) are read from
# the folder this script was started in. What installing and building print
# goes to standard error, so standard output holds only the program's own.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
{
  "$root/scripts/deps.sh"
  mkdir -p "$root/build/release"
  cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$root/build/release" --target korvel
} >&2
exec "$root/build/release/tools/simulator/korvel" --home "$root/home" --bundle "$root/resources" "$@"

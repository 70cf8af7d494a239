#!/usr/bin/env bash
# Sets up, builds and runs every test under Wine on a virtual display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
build=${ORVANE_BUILD:-$root/build}
exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$root/scripts/ctest-display.sh" "$build"

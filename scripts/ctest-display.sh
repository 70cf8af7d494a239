#!/usr/bin/env bash
# Runs ctest on the current display with a persistent wineserver; prints "N passed, N failed".
# A test that fails is run once more: Wine on a bare X server now and then loses a start-up or
# an input event under load; a test that fails twice fails the run.
set -uo pipefail
build=$(cd "${1:?build directory}" && pwd)
shift
# Further arguments go to ctest (for instance -R test_log).
source "$(dirname "$0")/wine-env.sh"
export WINEPREFIX=$build/wineprefix
bash "$(dirname "$0")/wine-prefix.sh" "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 || true
# Wine's own services start now, not inside the first test: a service holding a test's
# output pipe open would keep ctest waiting.
wine64 wineboot >/dev/null 2>&1 </dev/null || true
cd "$build"
ctest -j 8 --output-on-failure --timeout 300 --repeat until-pass:2 "$@" 2>&1 | tee "$build/ctest.log"
rc=${PIPESTATUS[0]}
wineserver -k >/dev/null 2>&1 || true
total=$(sed -n 's/.*tests passed, \([0-9]*\) tests\? failed out of \([0-9]*\).*/\1 \2/p' "$build/ctest.log" | tail -1)
if [ -n "$total" ]; then
  set -- $total
  echo "$(( $2 - $1 )) passed, $1 failed"
else
  echo "0 passed, 1 failed"
  rc=1
fi
exit $rc

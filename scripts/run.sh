#!/usr/bin/env bash
# Sets up, builds and starts the shell under Wine: on the user's display, or, when there is
# none, on a virtual screen started here (a screenshot is saved in build/ after a few seconds).
# ORVANE_RUN_SECONDS=N ends the run after N seconds; otherwise it runs until Ctrl-C.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
build=${ORVANE_BUILD:-$root/build}
source "$root/scripts/wine-env.sh"
export WINEPREFIX=$build/runprefix
bash "$root/scripts/wine-prefix.sh" "$WINEPREFIX"

xvfb_pid=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || { display=":$n"; break; }
  done
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=$display
  sleep 1
  command -v xcompmgr >/dev/null && { xcompmgr >/dev/null 2>&1 & }
  echo "no display: running on virtual screen $DISPLAY"
fi
# Wine takes the screen size from the display it first meets, so everything runs on it.
wineserver -k >/dev/null 2>&1 || true
# The shell reads this once: 0 means the default menus are filled on its first start.
wine64 reg query 'HKLM\SOFTWARE\Orvane' /v Inited >/dev/null 2>&1 ||
  wine64 reg add 'HKLM\SOFTWARE\Orvane' /v Inited /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true

(cd "$build/bin" && wine64 orvane.exe) &
shell_pid=$!
if [ -n "$xvfb_pid" ]; then
  (sleep 8; import -window root "$build/run-screenshot.png" 2>/dev/null &&
     echo "screenshot: $build/run-screenshot.png") &
fi
if [ -n "${ORVANE_RUN_SECONDS:-}" ]; then
  sleep "$ORVANE_RUN_SECONDS"
  exit 0
fi
wait "$shell_pid"

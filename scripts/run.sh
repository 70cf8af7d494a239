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
shell_pid=""
# Ends the shell as its Quit button does, so that it saves its settings and menus; Wine and
# whatever the shell started go after that.
end_shell() {
  [ -n "$shell_pid" ] && kill -0 "$shell_pid" 2>/dev/null || return 0
  (cd "$build/bin" && timeout 30 wine64 set_explorer.exe) >/dev/null 2>&1 || true
  for _ in $(seq 100); do kill -0 "$shell_pid" 2>/dev/null || break; sleep 0.1; done
}
cleanup() {
  end_shell
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
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

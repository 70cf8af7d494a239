#!/usr/bin/env bash
# End to end, for a long time: the bar in a fresh prefix under the window manager, driven by
# long_drive.exe from a seed (hovers, clicks, right clicks, typing, drags, keys across the eight
# menus). After every step the bar must answer within 5 s; after the session end the rows in
# dk.pdb must be the ones the steps made. A failing run prints its seed and step; the same seed
# and duration replay it.
# Usage: long_drive.sh <build dir> <output dir> [seconds] [seed] [step to stop before]
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
out=${2:?output dir}
seconds=${3:-60}
seed=${4:-20240611}
stop=${5:-}
extra_exes="long_drive"
source "$(dirname "$0")/bar_app.sh"

# The program runs from C: with no drive for the host's file system: the Files menu then shows
# the prefix alone, and nothing a step opens reaches the host's files.
run=$WINEPREFIX/drive_c/orvane
mv "$app" "$run" && app=$run
wineserver -k >/dev/null 2>&1
rm -f "$WINEPREFIX/dosdevices/z:"
# Programs of the prefix that would end the session.
rm -f "$WINEPREFIX"/drive_c/windows/system32/{shutdown,wineboot,tsdiscon,logoff}.exe
wineserver -p >/dev/null 2>&1
# A crash prints its place instead of waiting on a dialog.
wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

(cd "$app" && exec wine64 orvane.exe >"$out/orvane.out" 2>&1) &
bar_pid=$!
wait_for 120 menus_built || { fail "menus not built: $(grep -c ' menu has been created' "$app/orvane.log")"; exit 1; }

# The drive asks for input on its output; each command is run here and answered.
coproc DRIVE { cd "$app" && exec wine64 long_drive.exe "$seed" "$seconds" $stop 2>&1; }
drive_pid=$DRIVE_PID
while IFS= read -r line <&"${DRIVE[0]}"; do
  line=${line%$'\r'}
  case $line in
    "X "*)
      # shellcheck disable=SC2086
      if xdotool ${line#X } >/dev/null 2>&1; then echo ok >&"${DRIVE[1]}"; else echo failed >&"${DRIVE[1]}"; fi ;;
    *) echo "$line" ;;
  esac
done
wait "$drive_pid" 2>/dev/null
result=$?
if [ $result -ne 0 ]; then
  fail "the drive (seed $seed, $seconds s) failed"
  grep -E 'wine: Unhandled|page fault|Backtrace|^=>|^  [0-9]+ 0x' "$out/orvane.out" | head -40
  tail -20 "$app/orvane.log" | sed 's/^/log: /'
else
  ok "the drive (seed $seed, $seconds s) passed"
fi
kill "$bar_pid" 2>/dev/null
echo "$fails failure(s)"
[ $fails -eq 0 ]

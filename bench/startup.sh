#!/usr/bin/env bash
# Start-up time of the bar against a minimal program that shows one window, both started the
# same way under Wine in one fresh prefix: time to a visible window, and for the bar the time to
# the last " menu has been created" line, with a Start Menu of 2,000 shortcuts in 200 folders.
# Usage: bench/startup.sh [build dir] [runs]   (on a display; under xvfb-run when there is none)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-5}
source "$root/scripts/wine-env.sh"
out=$build/bench-startup
rm -rf "$out"
mkdir -p "$out/app"
export WINEPREFIX=$out/prefix
bash "$root/scripts/wine-prefix.sh" "$WINEPREFIX"
wineserver -p >/dev/null 2>&1
wine64 reg add 'HKLM\SOFTWARE\Orvane' /v Inited /t REG_DWORD /d 1 /f >/dev/null 2>&1
app=$out/app
cp "$build"/bin/{orvane.exe,hk.dll,dkmonitor.exe,set_explorer.exe,bar_probe.exe,minimal_window.exe,make_shortcuts.exe} "$app"/
cp -r "$build/bin/images" "$app"/
made=$(cd "$app" && wine64 make_shortcuts.exe programs 200 10 2>/dev/null | tr -d '\r')
echo "Start Menu shortcuts made: $made"

ms() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }
visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

: >"$out/minimal.txt"; : >"$out/bar.txt"; : >"$out/menus.txt"
for run in $(seq "$runs"); do
  t0=$(date +%s%N)
  (cd "$app" && exec wine64 minimal_window.exe >/dev/null 2>&1) &
  until visible '^Minimal$'; do sleep 0.005; done
  ms "$t0" >>"$out/minimal.txt"
  (cd "$app" && wine64 taskkill /f /im minimal_window.exe >/dev/null 2>&1)

  : >"$app/orvane.log"
  printf '[General]\r\nLogPriority=1\r\n' >"$app/orvane.ini"
  t0=$(date +%s%N)
  (cd "$app" && exec wine64 orvane.exe >/dev/null 2>&1) &
  until visible '^Orvane$'; do sleep 0.005; done
  ms "$t0" >>"$out/bar.txt"
  until [ "$(grep -c ' menu has been created' "$app/orvane.log")" -ge 8 ]; do sleep 0.005; done
  ms "$t0" >>"$out/menus.txt"
  (cd "$app" && wine64 bar_probe.exe endsession >/dev/null 2>&1)
  sleep 3  # the programs it starts once its menus are built settle before the next run
done
wineserver -k >/dev/null 2>&1

m=$(median <"$out/minimal.txt"); b=$(median <"$out/bar.txt"); k=$(median <"$out/menus.txt")
printf '\n| measure (median of %d runs) | ms | ratio to the minimal window |\n|---|---|---|\n' "$runs"
printf '| minimal window visible | %d | 1.00 |\n' "$m"
printf '| bar visible | %d | %s |\n' "$b" "$(awk -v a="$b" -v b="$m" 'BEGIN { printf "%.2f", a / b }')"
printf '| last menu built | %d | %s |\n' "$k" "$(awk -v a="$k" -v b="$m" 'BEGIN { printf "%.2f", a / b }')"

# Sourced by the end-to-end scripts that run orvane.exe: a fresh Wine prefix under the output
# folder, the program and its tools copied into "$app", and the check helpers.
# Before sourcing: build, out (as given), extra_exes (more programs of build/bin to copy),
# no_wm=1 to run on the bare display.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$here/scripts/wine-env.sh"
source "$here/scripts/wm.sh"
[ "${no_wm:-0}" = 1 ] || start_wm || exit 1
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
export WINEPREFIX=$out/prefix
bash "$here/scripts/wine-prefix.sh" "$WINEPREFIX" || { echo "FAIL: no prefix"; exit 1; }
wineserver -p >/dev/null 2>&1
wine64 reg add 'HKLM\SOFTWARE\Orvane' /v Inited /t REG_DWORD /d 0 /f >/dev/null 2>&1

app=$out/app
mkdir -p "$app"
for exe in orvane hk.dll dkmonitor set_explorer bar_probe ${extra_exes:-}; do
  case $exe in *.dll) cp "$build/bin/$exe" "$app"/ ;; *) cp "$build/bin/$exe.exe" "$app"/ ;; esac
done
cp -r "$build/bin/images" "$app"/
: >"$app/orvane.log"
printf '[General]\r\nLogPriority=1\r\n' >"$app/orvane.ini"

fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
ok() { echo "ok: $*"; }
# Bounded: a probe blocked by a hung bar fails its check instead of stalling the run.
probe() { (cd "$app" && timeout 30 wine64 bar_probe.exe "$@" 2>/dev/null | tr -d '\r'); }
wait_for() {  # wait_for <seconds> <command...>: true once the command succeeds
  local end=$((SECONDS + $1)); shift
  while [ $SECONDS -lt $end ]; do "$@" && return 0; sleep 0.2; done
  return 1
}
probe_has() { probe info | grep -qE "$1"; }
log_has() { grep -qF -- "$1" "$app/orvane.log"; }
menus_built() { [ "$(grep -c ' menu has been created' "$app/orvane.log")" -ge 8 ]; }
cleanup() { wineserver -k >/dev/null 2>&1; stop_wm; }
trap cleanup EXIT

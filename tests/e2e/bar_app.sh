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
# The bar started as a user starts it (from its folder, $app when called); ended: it is gone.
start_bar() { (cd "$app" && exec wine64 orvane.exe >/dev/null 2>&1) & bar_pid=$!; }
ended() { ! kill -0 "$bar_pid" 2>/dev/null; }
# pixel <png> <x> <y>: "R G B" of that pixel of a screenshot.
pixel() { convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:; }
menus_built() { [ "$(grep -c ' menu has been created' "$app/orvane.log")" -ge 8 ]; }
cleanup() { wineserver -k >/dev/null 2>&1; stop_wm; }
trap cleanup EXIT

# Menus as a user drives them (pointer and keys on the running bar).
# row_of <start of a caption> (long captions are cut): "X Y" of the first visible row so captioned.
row_of() {
  probe rows | awk -v c="$1" '$1 == "row" { t = $0; sub(/^row -?[0-9]+ -?[0-9]+ /, "", t)
    if (index(t, c) == 1) { print $2, $3; f = 1; exit } } END { exit !f }'
}
rows_like() { probe rows | awk -v c="$1" '$1 == "row" { t = $0; sub(/^row -?[0-9]+ -?[0-9]+ /, "", t)
  if (index(t, c) == 1) n++ } END { print n + 0 }'; }
# edit_of <text>: "L T R B" of the visible edit box holding exactly the text.
edit_of() {
  probe rows | awk -v c="$1" '$1 == "edit" { t = $0; sub(/^edit -?[0-9]+ -?[0-9]+ -?[0-9]+ -?[0-9]+ /, "", t)
    if (t == c) { print $2, $3, $4, $5; f = 1; exit } } END { exit !f }'
}
has_edit() { edit_of "$1" >/dev/null; }
no_edit() { ! has_edit "$1"; }
menu_shown() { probe_has '^menu '; }
menu_gone() { ! menu_shown; }
click_at() { [ -n "${1:-}" ] && xdotool mousemove "$1" "$2" sleep 0.2 click 1; }
# open_menu <button x> <a root row>: the menu opened with a click on its button.
open_menu() {
  menu_gone || { xdotool key Escape; wait_for 5 menu_gone; } || fail "Esc does not hide the open menu"
  menu_gone || { xdotool mousemove "$1" 9 click 1; wait_for 5 menu_gone; }
  xdotool mousemove "$1" 9 click 1
  wait_for 10 row_of "$2" >/dev/null && return 0
  fail "the menu with '$2' did not open: $(probe rows | head -3 | tr '\n' ' ')"
  return 1
}
# hover <row> <row of its submenu>: rests on a row until its submenu shows.
hover() {
  local at
  at=$(row_of "$1") || { fail "no row '$1'"; return 1; }
  xdotool mousemove $at
  wait_for 5 row_of "$2" >/dev/null || { fail "'$1' did not open its submenu"; return 1; }
}
choose() {  # choose <row> <command of its submenu>
  hover "$1" "$2" && click_at $(row_of "$2")
}
edits() { probe rows | grep '^edit' | tr '\n' ' '; }
# typed <text>: typed with the keyboard, the text fills the box that has it.
typed() { xdotool type --delay 100 "$1"; wait_for 5 has_edit "$1"; }

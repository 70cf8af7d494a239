#!/usr/bin/env bash
# End to end: a three-level menu of made-up items (tests/helpers/menu_demo) driven with the real
# pointer and keyboard through xdotool on the current X display; checks which menu windows are
# open, the child order after a drag, and the colours of a screenshot.
# Usage: menu_e2e.sh <build dir> <output dir>
set -uo pipefail
# Pointer timing under Wine on a bare X server is not always kept: one more attempt is allowed.
if [ -z "${MENU_E2E_ATTEMPT:-}" ]; then
  for attempt in 1 2; do
    MENU_E2E_ATTEMPT=$attempt bash "$0" "$@" && exit 0
    echo "attempt $attempt failed"
  done
  exit 1
fi
build=$(cd "${1:?build dir}" && pwd)
out=${2:?output dir}
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/scripts/wine-env.sh"
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
mkdir -p "$out"
state=$out/state.txt
rm -f "$state" "$state.quit" "$out"/*.png
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
ok() { echo "ok: $*"; }

win_state=$(winepath -w "$state" 2>/dev/null)
wine64 "$build/bin/menu_demo.exe" "$win_state" >"$out/helper.log" 2>&1 &
helper=$!
cleanup() {
  touch "$state.quit"
  for _ in $(seq 50); do kill -0 $helper 2>/dev/null || break; sleep 0.1; done
  kill $helper 2>/dev/null || true
}
trap cleanup EXIT

# wait_for <grep -E pattern> [seconds]: true once the state file matches.
wait_for() {
  local end=$((SECONDS + ${2:-10}))
  while [ $SECONDS -lt $end ]; do
    grep -qE "$1" "$state" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
wait_gone() {
  local end=$((SECONDS + ${2:-10}))
  while [ $SECONDS -lt $end ]; do
    [ -f "$state" ] && ! grep -qE "$1" "$state" && return 0
    sleep 0.1
  done
  return 1
}
open_windows() { grep '^open ' "$state" | sed -E 's/^open (.*) -?[0-9]+ -?[0-9]+ -?[0-9]+ -?[0-9]+ selected -?[0-9]+$/\1/' | sort | tr '\n' '|'; }
# row_at <window caption> <row> [fraction]: screen x y of a row of an open window.
row_at() {
  local line
  line=$(grep "^open $1 " "$state" | head -1)
  [ -n "$line" ] || { echo "0 0"; return; }
  set -- $line "${2}" "${3:-0.5}"
  # fields from the end: left top right bottom "selected" n
  local n=$#
  local args=("$@")
  local left=${args[$((n - 8))]} top=${args[$((n - 7))]} row=${args[$((n - 2))]} frac=${args[$((n - 1))]}
  echo "$((left + 60)) $(awk -v t="$top" -v r="$row" -v f="$frac" 'BEGIN { printf "%d", t + r * 21 + f * 21 }')"
}
move() { xdotool mousemove "$1" "$2"; }

wait_for '^open root ' 20 || { fail "the root window never opened"; cat "$out/helper.log"; exit 1; }
ok "root window open"

# Hover: resting on Alpha opens its submenu, then Alpha 2 opens the third level.
read -r x y < <(row_at root 0); move $((x - 5)) "$y"; sleep 0.05; move "$x" "$y"
wait_for '^open Alpha ' 5 && ok "hover opened Alpha" || fail "hover did not open Alpha: $(open_windows)"
read -r x y < <(row_at Alpha 1); move $((x - 5)) "$y"; sleep 0.05; move "$x" "$y"
wait_for '^open Alpha 2 ' 5 && ok "hover opened Alpha 2" || fail "hover did not open Alpha 2: $(open_windows)"
[ "$(open_windows)" = "Alpha|Alpha 2|root|" ] && ok "three windows" || fail "windows after hover: $(open_windows)"

# A click on Beta closes the submenus and fires its click.
read -r x y < <(row_at root 1); move "$x" "$y"; sleep 0.2; xdotool click 1
wait_for '^clicked Beta' 5 && ok "Beta clicked" || fail "no click on Beta"
wait_gone '^open Alpha' 5 && ok "submenus closed" || fail "submenus still open: $(open_windows)"

# Keyboard: click Alpha (opens it), Right brings its window forward, Down twice, Right opens
# Alpha 2's window; Down selects its first row, Left closes it again; Esc hides the whole menu.
# Keys act only while the window has a selected row.
read -r x y < <(row_at root 0); move "$x" "$y"; sleep 0.2; xdotool click 1
wait_for '^open Alpha ' 5 || fail "click did not open Alpha"
xdotool key Right; sleep 0.4
xdotool key Down; sleep 0.2; xdotool key Down; sleep 0.2
xdotool key Right
wait_for '^open Alpha 2 ' 5 && ok "Right opened Alpha 2" || fail "Right did not open Alpha 2: $(open_windows); $(grep '^open' "$state")"
sleep 0.3; xdotool key Down; sleep 0.2
wait_for '^open Alpha 2 .* selected 0$' 3 || fail "Down did not select in Alpha 2"
xdotool key Left
wait_gone '^open Alpha 2 ' 10 && ok "Left closed Alpha 2" || fail "Left did not close Alpha 2: $(open_windows)"
grep -q '^open Alpha ' "$state" && ok "Alpha still open" || fail "Left closed too much: $(open_windows)"
# The helper reopens a hidden menu after 300 ms and notes it: count those notes.
reopened() { grep -c '^reopened' "$state"; }
before=$(reopened)
xdotool key Escape
end=$((SECONDS + 10))
while [ $SECONDS -lt $end ] && [ "$(reopened)" = "$before" ]; do sleep 0.1; done
[ "$(reopened)" != "$before" ] && ok "Esc hid the menu" || fail "Esc left windows: $(open_windows)"
wait_for '^open root ' 5 || fail "the menu did not come back"

# Drag Gamma (row 2) to the lower part of Delta (row 3): it lands after Delta.
move 700 700; sleep 0.3
read -r x y < <(row_at root 2); move "$x" "$y"; sleep 0.3
xdotool mousedown 1; sleep 0.1
read -r x2 y2 < <(row_at root 3 0.8)
for f in 0.2 0.5 0.8 1.0; do
  move "$x2" "$(awk -v a="$y" -v b="$y2" -v f="$f" 'BEGIN { printf "%d", a + (b - a) * f }')"; sleep 0.1
done
sleep 0.2
xdotool mouseup 1
wait_for '^order root:Alpha,Beta,Delta,Gamma,Epsilon$' 5 && ok "Gamma dropped after Delta" ||
  fail "order after drag: $(grep '^order root' "$state")"

# Activation passing between windows of the menu keeps it; a click on another window (the
# helper's grey one at 800,700) hides it.
read -r x y < <(row_at root 0); move "$x" "$y"; sleep 0.2; xdotool click 1
wait_for '^open Alpha ' 5 || fail "click did not open Alpha"
read -r x y < <(row_at Alpha 2); move "$x" "$y"; sleep 0.2; xdotool click 1; sleep 0.5
[ "$(open_windows)" = "Alpha|root|" ] && ok "clicks inside the menu keep it open" ||
  fail "windows after clicks inside: $(open_windows)"
before=$(reopened)
move 900 775; sleep 0.2; xdotool click 1
wait_for "^clicked Alpha 3" 2 || true
# The menu hides at once, but Wine then waits for a window manager to confirm each window it
# unmaps, up to 2 s a window, and the bare X server has none: the helper's thread stands still
# for about 4 s (two windows) before it sees the menu hidden.
end=$((SECONDS + 10))
while [ $SECONDS -lt $end ] && [ "$(reopened)" = "$before" ]; do sleep 0.1; done
[ "$(reopened)" != "$before" ] && ok "a click elsewhere hid the menu" ||
  fail "a click elsewhere left the menu: $(open_windows)"
wait_for '^open root ' 5 || fail "the menu did not come back"

# Screenshot: the rows show the menu colour 0x023917 at transparency 150. Without a compositor
# the screen shows the premultiplied colour: (0x17, 0x39, 0x02) x 150/255.
move 700 700; sleep 0.6
shot=$out/menu.png
import -window root "$shot"
read -r x y < <(row_at root 4)
px=$(convert "$shot" -format "%[fx:int(255*p{$((x + 60)),$y}.r)] %[fx:int(255*p{$((x + 60)),$y}.g)] %[fx:int(255*p{$((x + 60)),$y}.b)]" info:)
echo "row colour at $((x + 60)),$y: $px"
read -r r g b <<<"$px"
if [ $((r > 10 && r < 18 && g > 30 && g < 38 && b < 5)) = 1 ]; then ok "row colour"; else fail "row colour $px"; fi
# Right of the window nothing of ours is drawn.
read -r l t rr bb < <(grep '^open root ' "$state" | awk '{ print $(NF-5), $(NF-4), $(NF-3), $(NF-2) }')
px2=$(convert "$shot" -format "%[fx:int(255*p{$((rr + 20)),$((t + 10))}.g)]" info:)
[ "$px2" != "$g" ] && ok "outside differs" || fail "outside the window looks like a row"

echo "$fails failure(s)"
[ $fails = 0 ]

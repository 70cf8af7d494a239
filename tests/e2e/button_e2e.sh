#!/usr/bin/env bash
# End to end: a bar button opens its menu on every click that finds the menu closed, however the
# menu closed before (Esc, a click elsewhere, another button), and closes it when it is open.
# Usage: button_e2e.sh <build dir> <output dir>
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
out=${2:?output dir}
extra_exes="titled_windows"
source "$(dirname "$0")/bar_app.sh"
(cd "$app" && exec wine64 orvane.exe >/dev/null 2>&1) &
bar_pid=$!
wait_for 60 menus_built || fail "menus not built: $(grep -c ' menu has been created' "$app/orvane.log")"
# An ordinary window of the session, low on the screen where no menu reaches, for clicks elsewhere.
(cd "$app" && exec wine64 titled_windows.exe Elsewhere >/dev/null 2>&1) &
wait_for 20 xdotool search --onlyvisible --name '^Elsewhere$' >/dev/null || fail "no ordinary window"
other=$(xdotool search --onlyvisible --name '^Elsewhere$' | head -1)
xdotool windowsize "$other" 300 150 windowmove "$other" 950 850

# "menu X": the left edge of the one visible root menu window (Programs at 0 or 1, Files at 142).
menu_at() { probe info | grep -qE "^menu $1 21 "; }
no_menu() { ! probe info | grep -q '^menu '; }
programs=(60 9)
files=(200 9)
click() { xdotool mousemove "$1" "$2" sleep 0.2 click 1; }

opened() {  # opened <what was done before>
  click "${programs[@]}"
  wait_for 5 menu_at '[01]' && ok "$1: the next click opens Programs" || fail "$1: the click did not open Programs: $(probe info | grep '^menu')"
}
for round in 1 2 3; do
  opened "round $round, first"
  for i in 1 2 3; do
    sleep 0.3
    xdotool key Escape
    wait_for 5 no_menu || fail "round $round: Esc left the menu open"
    sleep 0.3
    opened "round $round, Esc $i"
  done
  # A click on the open menu's own button closes it, and the one after opens it again.
  sleep 0.3
  click "${programs[@]}"
  wait_for 5 no_menu && ok "round $round: a click on the button closes its open menu" || fail "round $round: the menu stays open"
  sleep 0.3
  opened "round $round, closed by its button"
  # A click elsewhere closes it.
  sleep 0.3
  click 1100 940
  wait_for 5 no_menu || fail "round $round: a click elsewhere left the menu open"
  sleep 0.3
  opened "round $round, closed by a click elsewhere"
  # Another button's click opens that menu instead.
  sleep 0.3
  click "${files[@]}"
  wait_for 5 menu_at 142 || fail "round $round: Files did not open: $(probe info | grep '^menu')"
  probe info | grep -qE '^menu [01] 21 ' && fail "round $round: Programs stayed open beside Files"
  sleep 0.3
  opened "round $round, after Files"
  sleep 0.3
  xdotool key Escape
  wait_for 5 no_menu || fail "round $round: Esc left the menu open at the end"
  xdotool mousemove 640 500 sleep 0.3
done
import -window root "$out/button.png"

probe endsession >/dev/null
wait_for 30 bash -c "! kill -0 $bar_pid 2>/dev/null" || fail "the bar did not end"
echo "$fails failed"
[ "$fails" -eq 0 ]

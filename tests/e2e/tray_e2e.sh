#!/usr/bin/env bash
# End to end: the notification area of the running orvane.exe in a fresh Wine prefix. A client
# program sends its icon with the Windows block; the Tray menu shows it under the Tray button; a
# click on its row reaches the client as mouse messages and is recorded as a launch.
# Usage: tray_e2e.sh <build dir> <output dir>
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
out=${2:?output dir}
extra_exes="tray_client"
source "$(dirname "$0")/bar_app.sh"
client_has() { grep -qF -- "$1" "$out/client.txt" 2>/dev/null; }

(cd "$app" && exec wine64 orvane.exe >/dev/null 2>&1) &
bar_pid=$!
wait_for 90 menus_built && ok "menus built" || fail "menus: $(grep -c ' menu has been created' "$app/orvane.log")"

# The client finds the bar's "Shell_TrayWnd" by its class, adds a two-line tip, and waits for
# the release of the left button (lParam 0x202), then of the right one (0x205).
(cd "$app" && exec wine64 tray_client.exe --log "$(winepath -w "$out/client.txt" 2>/dev/null)" \
  add 1 'Tray e2e\nSecond line' until 202 60000 until 205 60000 delete 1 >/dev/null 2>&1) &
client_pid=$!
wait_for 30 client_has "reply add 1 1" && ok "the bar took the icon" || fail "add: $(cat "$out/client.txt" 2>/dev/null)"

# The Tray button (id 6) opens the menu under itself: title row, then the icon's row.
xdotool mousemove 923 9 click 1
wait_for 10 probe_has '^menu 852 21 ' && ok "Tray opens under its button" || fail "no menu: $(probe info | grep '^menu')"
sleep 0.5
import -window root "$out/tray-menu.png"
read -r mx my _ < <(probe info | awk '/^menu/ { print $2, $3; exit }')
xdotool mousemove $((mx + 60)) $((my + 21 + 10))
sleep 0.4
xdotool click 1
wait_for 15 client_has "msg 8001 1 202" && ok "the click reached the client" ||
  fail "client saw: $(tr '\n' ' ' <"$out/client.txt")"
grep -q '^msg 8001 1 201' "$out/client.txt" && ok "button down forwarded" || fail "no button-down message"
# Launches of the Tray menu (one program's icons share their path, so one row of ItemsPath).
launches() { probe count dk.pdb "select count(*) from ExecItemTime e join ItemsPath i on e.PID = i.PID where i.MID = 6"; }
[ "$(launches)" -ge 1 ] && ok "the release is recorded as a launch" || fail "no launch recorded"

# A real right click on the icon's row: the list view keeps the button-up to itself, yet the
# row gets its release. Version 0 gets the button's down and up messages.
right_click_row() {
  probe_has '^menu 852 21 ' || xdotool mousemove 923 9 click 1
  wait_for 10 probe_has '^menu 852 21 ' || fail "the Tray menu does not open"
  sleep 0.5
  xdotool mousemove $((mx + 60)) $((my + 21 + 10))
  sleep 0.4
  xdotool click 3
}
right_click_row
wait_for 15 client_has "reply delete 1 1" && ok "the right click reached the client" ||
  fail "client saw: $(tr '\n' ' ' <"$out/client.txt")"
grep -q '^msg 8001 1 204' "$out/client.txt" && ok "right button down forwarded" || fail "no right button-down"
grep -q '^msg 8001 1 205' "$out/client.txt" && ok "right button up forwarded" || fail "no right button-up"
[ "$(launches)" -ge 2 ] && ok "the right release is recorded as a launch" || fail "no right-button launch"
wait_for 10 bash -c "! kill -0 $client_pid 2>/dev/null" || kill "$client_pid" 2>/dev/null

# Version 4: the up message, then NIN_POPUPOPEN, NIN_POPUPCLOSE and WM_CONTEXTMENU, each with
# the icon's id in the high word.
(cd "$app" && exec wine64 tray_client.exe --log "$(winepath -w "$out/client4.txt" 2>/dev/null)" \
  add 2 'Tray v4' version 2 4 until 2007B 60000 delete 2 >/dev/null 2>&1) &
client_pid=$!
wait_for 30 grep -qF "reply version 2 1" "$out/client4.txt" && ok "the bar took the version-4 icon" ||
  fail "version 4: $(cat "$out/client4.txt" 2>/dev/null)"
right_click_row
wait_for 15 grep -qF "reply delete 2 1" "$out/client4.txt" && ok "the right click reached the version-4 client" ||
  fail "client saw: $(tr '\n' ' ' <"$out/client4.txt")"
seq4=$(tr -d '\r' <"$out/client4.txt" | awk '$1 == "msg" && $4 ~ /^20/ && $4 != "20200" { printf "%s ", $4 }')
[ "$seq4" = "20406 20407 20204 20205 20406 20407 2007B " ] && ok "version-4 right-button sequence" ||
  fail "version-4 sequence: $seq4"
[ "$(launches)" -ge 3 ] && ok "the version-4 release is recorded" || fail "no version-4 launch"
wait_for 10 bash -c "! kill -0 $client_pid 2>/dev/null" || kill "$client_pid" 2>/dev/null

# With the Tray menu open, a program asks for 300 icons on one window (the bar takes 256 and logs
# the rest) and ends without removing them: the next request is answered at once, the dead rows
# are gone and the bar still answers.
probe_has '^menu 852 21 ' || xdotool mousemove 923 9 click 1
wait_for 10 probe_has '^menu 852 21 ' || fail "the Tray menu does not open"
(cd "$app" && wine64 tray_client.exe --log "$(winepath -w "$out/many.txt" 2>/dev/null)" many 300 >/dev/null 2>&1)
grep -qF "many added 256" "$out/many.txt" && ok "a client asking for 300 icons got 256 and ended" ||
  fail "many: $(tail -n 2 "$out/many.txt" 2>/dev/null)"
[ "$(grep -c '(t6) .*tray_client.exe has 256 icons on one window' "$app/orvane.log")" = 1 ] &&
  ok "the refused icons are logged once" || fail "refused icons: $(grep -c '(t6) ' "$app/orvane.log") log lines"
(cd "$app" && wine64 tray_client.exe --log "$(winepath -w "$out/after.txt" 2>/dev/null)" \
  add 5 'After the purge' took delete 5 >/dev/null 2>&1)
took=$(tr -d '\r' <"$out/after.txt" 2>/dev/null | awk '$1 == "took" { print $2; exit }')
grep -qF "reply add 5 1" "$out/after.txt" && [ -n "$took" ] && [ "$took" -lt 1000 ] &&
  ok "the next request was answered in $took ms" || fail "after the purge: $(tr '\n' ' ' <"$out/after.txt" 2>/dev/null)"
# (256 rows made the window wider than the screen, so it stands at the left edge now.)
probe_has '^menu ' && ! probe rows | grep -q 'Many ' && ok "the open menu's dead rows are gone" ||
  fail "dead rows remain: $(probe rows | grep -c 'Many ') (menu: $(probe info | grep '^menu'))"
probe_has '^bar 0 0 ' && ok "the bar answers" || fail "the bar does not answer"

probe endsession >/dev/null
wait_for 20 bash -c "! kill -0 $bar_pid 2>/dev/null" && ok "bar ended" || fail "bar still runs"
echo "$fails failure(s)"
[ $fails -eq 0 ]

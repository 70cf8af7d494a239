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
# the release of the left button (lParam 0x202).
(cd "$app" && exec wine64 tray_client.exe --log "$(winepath -w "$out/client.txt" 2>/dev/null)" \
  add 1 'Tray e2e\nSecond line' until 202 60000 delete 1 >/dev/null 2>&1) &
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
wait_for 15 client_has "reply delete 1 1" && ok "the click reached the client" ||
  fail "client saw: $(tr '\n' ' ' <"$out/client.txt")"
grep -q '^msg 8001 1 201' "$out/client.txt" && ok "button down forwarded" || fail "no button-down message"
grep -q '^msg 8001 1 202' "$out/client.txt" && ok "button up forwarded" || fail "no button-up message"
launches=$(probe count dk.pdb "select count(*) from ExecItemTime e join ItemsPath i on e.PID = i.PID where i.MID = 6")
[ "${launches:-0}" -ge 1 ] && ok "the release is recorded as a launch ($launches)" || fail "no launch recorded"
wait_for 10 bash -c "! kill -0 $client_pid 2>/dev/null" || kill "$client_pid" 2>/dev/null

probe endsession >/dev/null
wait_for 20 bash -c "! kill -0 $bar_pid 2>/dev/null" && ok "bar ended" || fail "bar still runs"
echo "$fails failure(s)"
[ $fails -eq 0 ]

#!/usr/bin/env bash
# End to end: orvane.exe in a fresh Wine prefix on the current X display, checked as a user
# would: the bar's place and buttons, the work area, the notifications, a second start, auto-hide,
# the session end and an unusable data file. Screenshots land in the output folder.
# Usage: bar_e2e.sh <build dir> <output dir>
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
out=${2:?output dir}
extra_exes=""
source "$(dirname "$0")/bar_app.sh"
start_bar() { (cd "$app" && exec wine64 orvane.exe >/dev/null 2>&1) & bar_pid=$!; }
pixel() { convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:; }
ended() { ! kill -0 "$bar_pid" 2>/dev/null; }

# A Start Menu big enough that the Programs menu is still being built for a few seconds after the
# bar shows (plain files: made here in a moment, listed like shortcuts).
big="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Big"
make_big() {
  for g in $(seq 500); do mkdir -p "$big/Group $g" && (cd "$big/Group $g" && touch $(printf 'Program_%d.txt ' $(seq 20))); done
}
make_big

# --- a normal start
start_bar
# A click on "Programs" as soon as the bar shows: the menu is not there yet, so the green
# notification says so and no menu opens.
end=$((SECONDS + 30))
until xdotool search --onlyvisible --name '^Orvane$' >/dev/null 2>&1 || [ $SECONDS -ge $end ]; do sleep 0.01; done
xdotool mousemove 60 9 click 1
if wait_for 10 probe_has '^notification .* visible 1$'; then
  built=$(grep -c 'Programs menu has been created' "$app/orvane.log")
  [ "$built" -eq 0 ] && ok "an early click on Programs shows the wait notification" ||
    fail "the notification came after the Programs menu was built"
  probe info | grep -q '^menu ' && fail "a menu opened before it was built" || ok "no menu opened by the early click"
else
  fail "no notification after an early click: $(grep ' menu ' "$app/orvane.log" | tr '\n' ' ')"
fi
xdotool mousemove 640 500
wait_for 30 probe_has '^bar 0 0 1280 19 topmost 1 visible 1$' && ok "bar at 0,0, 1280 x 19, topmost" ||
  fail "bar: $(probe info | grep '^bar')"
info=$(probe info)
widths=$(echo "$info" | awk '/^button/ { printf "%s ", $4 }')
[ "$widths" = "142 142 142 142 142 142 142 142 144 " ] && ok "eight buttons of 142 and a clock of 144" ||
  fail "button widths: $widths"
log_has "Program start... ( " && ok "start line logged" || fail "no start line"
wait_for 20 probe_has '^monitor$' && ok "the monitor runs" || fail "no monitor window"

# Once the menus are built, a click opens a menu under its button and a second one closes it.
wait_for 60 menus_built && ok "eight menus built" || fail "menus: $(grep -c ' menu has been created' "$app/orvane.log")"
rm -rf "$big"  # the later starts need not wait for it
# The notification fades out by itself.
wait_for 30 bash -c "! (cd '$app' && wine64 bar_probe.exe info 2>/dev/null | grep -q '^notification .* visible 1$')" ||
  fail "the wait notification stays"
xdotool mousemove 60 9 click 1
wait_for 10 probe_has '^menu [01] 21 ' && ok "Programs opens under its button" || fail "no menu: $(probe info | grep '^menu')"
sleep 0.5
import -window root "$out/bar-menu.png"
xdotool click 1
wait_for 10 bash -c "! (cd '$app' && wine64 bar_probe.exe info 2>/dev/null | grep -q '^menu ')" &&
  ok "a second click closes it" || fail "menu still open: $(probe info | grep '^menu')"
# Win+F opens Files under its button; Esc hides it.
xdotool mousemove 400 9 key super+f
wait_for 10 probe_has '^menu 142 21 ' && ok "Win+F opens Files" || fail "Win+F: $(probe info | grep '^menu')"
xdotool key Escape
wait_for 10 bash -c "! (cd '$app' && wine64 bar_probe.exe info 2>/dev/null | grep -q '^menu ')" &&
  ok "Esc hides the menu" || fail "after Esc: $(probe info | grep '^menu')"

# A second start ends at once, writes no second start line and writes the settings file again.
rm -f "$app/orvane.ini"
(cd "$app" && timeout 30 wine64 orvane.exe >/dev/null 2>&1)
rc=$?
[ $rc -eq 0 ] && ok "second start ended" || fail "second start exit $rc"
[ "$(grep -c 'Program start... ( ' "$app/orvane.log")" -eq 1 ] && ok "one start line" || fail "second start line written"
kill -0 "$bar_pid" 2>/dev/null && ok "first bar still runs" || fail "first bar ended"
grep -q '^\[ClockFormats\]' "$app/orvane.ini" 2>/dev/null && ok "second start wrote the settings" ||
  fail "no settings file after the second start"
printf '[General]\r\nLogPriority=1\r\n' >"$app/orvane.ini"

# A copy under another name is another program: it runs beside the first.
cp "$app/orvane.exe" "$app/orvane2.exe"
: >"$app/orvane2.log"
(cd "$app" && exec wine64 orvane2.exe >/dev/null 2>&1) &
copy_pid=$!
wait_for 30 grep -qF "Program start... ( " "$app/orvane2.log" && ok "a renamed copy starts too" ||
  fail "renamed copy did not start"
kill -0 "$copy_pid" 2>/dev/null && ok "the copy keeps running" || fail "the copy ended"
(cd "$app" && wine64 taskkill /f /im orvane2.exe >/dev/null 2>&1)
wait_for 10 bash -c "! kill -0 $copy_pid 2>/dev/null" || kill "$copy_pid" 2>/dev/null

# Session end: the bar tears down, logs its last line and refuses the query.
ans=$(probe endsession)
[ "$ans" = "answer 0" ] && ok "session end refused" || fail "session end: $ans"
wait_for 10 log_has " Program closed successfully..." && ok "closing line logged" || fail "no closing line"
wait_for 20 ended && ok "program ended" || fail "program did not end"
rows=$(probe count dk.pdb "select count(*) from MenuItems")
[ "${rows:-0}" -gt 0 ] && ok "the menus' stored items are in dk.pdb ($rows rows)" || fail "no stored items"

# --- auto-hide: the bar waits above the screen and slides in when the pointer touches the top
printf '[General]\r\nLogPriority=1\r\nHideMenu=1\r\n' >"$app/orvane.ini"
xdotool mousemove 640 500
start_bar
wait_for 30 probe_has '^bar 0 -19 1280 19 ' && ok "auto-hidden bar at -19" || fail "hidden bar: $(probe info | grep '^bar')"
(cd "$app" && wine64 bar_probe.exe cover 20 >/dev/null 2>&1) &
sleep 2
xdotool mousemove 640 200 sleep 0.3 mousemove 640 100 sleep 0.3 mousemove 640 1
wait_for 10 probe_has '^bar 0 0 1280 19 ' && ok "the bar slid in" || fail "no slide in: $(probe info | grep '^bar')"
import -window root "$out/bar.png"
rgb=$(pixel "$out/bar.png" 70 3)
[ "$rgb" != "$(pixel "$out/bar.png" 70 60)" ] && ok "bar painted ($rgb)" || fail "bar not painted"
probe endsession >/dev/null
wait_for 20 ended || fail "auto-hide run did not end"

# --- the session ends while the Programs menu is still being built: the teardown waits for it
printf '[General]\r\nLogPriority=1\r\n' >"$app/orvane.ini"
make_big
: >"$app/orvane.log"
start_bar
wait_for 30 probe_has '^bar 0 0 1280 19 ' || fail "no bar for the early session end"
building=$(grep -c "Programs menu has been created" "$app/orvane.log")
ans=$(probe endsession)
[ "$ans" = "answer 0" ] && ok "session end refused while a menu is built" || fail "early session end: $ans"
wait_for 60 log_has " Program closed successfully..." && ok "closing line logged after an early session end" ||
  fail "no closing line after an early session end"
wait_for 60 ended && ok "program ended after an early session end" || fail "program did not end after an early session end"
[ "$building" -eq 0 ] && ok "the session ended while Programs was being built" ||
  echo "note: Programs was built before the session end"
grep -q '^\[ClockFormats\]' "$app/orvane.ini" && ok "settings written after an early session end" ||
  fail "no settings after an early session end"
rm -rf "$big"

# --- 20,000 stored rows nested one below the other, a menu of 100,000 rows and 500 schemes:
# every menu is built (the chain to its depth bound, logged), the session ends within seconds
# and the settings file is whole
probe count dk.pdb "with recursive c(n) as (select 1 union all select n + 1 from c where n < 20000)
  insert into MenuItems (MID, MIID, ParentID, [Position], Caption) select 0, 100000 + n,
  case when n = 1 then -1 else 100000 + n - 1 end, 99, 'level ' || n from c returning MIID" >/dev/null
probe count dk.pdb "with recursive c(n) as (select 1 union all select n + 1 from c where n < 100000)
  insert into MenuItems (MID, MIID, ParentID, [Position], Caption, ExecPath)
  select 4, 1000 + n, -1, n, 'row ' || n, '' from c returning MIID" >/dev/null
{ printf '[General]\r\nLogPriority=1\r\n'; for n in $(seq 0 499); do printf '[Scheme%d]\r\nName=S%d\r\n' $n $n; done; } >"$app/orvane.ini"
: >"$app/orvane.log"
start_bar
wait_for 120 menus_built && ok "every menu built over the deep and the big stored menus" || fail "menus not built: $(grep -c 'menu has been created' "$app/orvane.log")"
log_has "(d5) Menu 0: rows nested deeper than 1000 levels are not loaded" && ok "the deep chain is refused with a line" ||
  fail "no line for the deep chain"
probe endsession >/dev/null
asked=$SECONDS
wait_for 30 log_has " Program closed successfully..." && wait_for 30 ended && ok "ended $((SECONDS - asked)) s after the session end" ||
  fail "no end after the session end with large menus"
[ $((SECONDS - asked)) -le 10 ] || fail "the session end took $((SECONDS - asked)) s"
[ "$(grep -c '^\[Scheme' "$app/orvane.ini")" -eq 500 ] && grep -q '^\[ClockFormats\]' "$app/orvane.ini" &&
  ok "500 schemes written back" || fail "settings file after the session end: $(grep -c '^\[Scheme' "$app/orvane.ini") schemes"
[ "$(probe count dk.pdb "select count(*) from MenuItems where MID = 0 and MIID > 100000")" -eq 20000 ] &&
  ok "the deep chain's rows are kept" || fail "the deep chain's rows were rewritten"

# --- an unusable data file: the red notification, then the program ends
printf '[General]\r\nLogPriority=1\r\n' >"$app/orvane.ini"
printf 'this is not a database, not at all, just text that fills a page%.0s' $(seq 100) >"$app/dk.pdb"
start_bar
wait_for 20 probe_has '^notification .* visible 1$' && ok "notification for the data file" || fail "no data-file notification"
sleep 1.2
import -window root "$out/bar-nodata.png"
read -r nx ny _ < <(probe info | awk '/^notification/ { print $2, $3 }')
rgb=$(pixel "$out/bar-nodata.png" $((nx + 120)) $((ny + 150)))
read -r r g b <<<"$rgb"
[ "$r" -gt "$g" ] && ok "the notification is red ($rgb)" || fail "data-file notification colour $rgb"
probe info | grep -q '^bar none$' && ok "no bar" || probe info | grep -q 'visible 0' || fail "a bar appeared"
wait_for 30 ended && ok "program ended after the notification" || fail "program still runs"

echo "$fails failure(s)"
[ $fails -eq 0 ]

#!/usr/bin/env bash
# End to end: starting and ending orvane.exe in a fresh Wine prefix, as a user meets it.
#  - hk.dll missing: a notification names the file, the log says so, the program ends cleanly;
#  - a save that failed where there was no log: the next start tells the user;
#  - the session ends while the Programs menu is still being built: the settings and the built
#    menus are on disk at once, before the bar waits for the builder;
#  - the program in a folder whose name the ANSI code page cannot spell: a startup program from
#    such a folder starts, and Win+Esc starts set_explorer.exe from it, which ends the bar.
# Usage: start_e2e.sh <build dir> <output dir>
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
out=${2:?output dir}
extra_exes="startup_probe"
source "$(dirname "$0")/bar_app.sh"
winpath() { echo "Z:${1//\//\\}"; }
start_bar() { (cd "$app" && exec wine64 orvane.exe >/dev/null 2>&1) & bar_pid=$!; }
ended() { ! kill -0 "$bar_pid" 2>/dev/null; }
notes() { probe notes; }
has_note() { notes | grep -qF -- "$1"; }
unsaved_note() { wine64 reg query 'HKCU\SOFTWARE\Orvane\UnsavedSettings' 2>/dev/null | tr -d '\r' | grep -F 'orvane.ini'; }
fresh_settings() { printf '[General]\r\nLogPriority=1\r\n' >"$app/orvane.ini"; }

# --- hk.dll missing: said on screen and in the log, and the program ends through its end routines
mv "$app/hk.dll" "$out/hk.dll.away"
start_bar
if wait_for 20 has_note hk.dll; then
  note=$(notes)
  echo "$note" | grep -qF "Hook library is not available" && echo "$note" | grep -qF "$(winpath "$app")\\hk.dll" &&
    ok "the notification names the missing file" || fail "notification: $note"
  probe_has '^notification .* visible 1$' && ok "the notification is shown" || fail "notification not visible"
  import -window root "$out/no-hook-library.png"
  probe_has '^bar none$' && ok "no bar without its hooks" || fail "a bar shows: $(probe info | grep '^bar')"
else
  fail "no notification names hk.dll: $(notes)"
fi
wait_for 30 ended && ok "the program ended" || fail "the program still runs"
wait "$bar_pid" 2>/dev/null
rc=$?
[ $rc -eq 0 ] && ok "it ended cleanly (exit code 0)" || fail "exit code $rc"
grep -qF "(m6) $(winpath "$app")\\hk.dll could not be loaded: " "$app/orvane.log" && ok "the log names the file" ||
  fail "log: $(tail -n 3 "$app/orvane.log" | tr '\r\n' '  ')"
grep -q '^\[ClockFormats\]' "$app/orvane.ini" && ok "the settings were written at the end" ||
  fail "orvane.ini: $(tr '\r\n' '  ' <"$app/orvane.ini")"
mv "$out/hk.dll.away" "$app/hk.dll"

# --- a save that fails with no log to tell of it: the next start tells the user
fresh_settings
rm -f "$app/orvane.log"
start_bar
wait_for 60 probe_has '^bar 0 0 1280 19 ' || fail "no bar for the failing save"
# Neither the file nor its folder take anything now.
if chattr +i "$app/orvane.ini" "$app" 2>/dev/null; then
  probe endsession >/dev/null
  wait_for 60 ended && ok "the bar ended with its save refused" || fail "the bar did not end"
  chattr -i "$app" "$app/orvane.ini"
  unsaved_note >/dev/null && ok "the failed save left a note for the next start" || fail "no note in the registry"
  : >"$app/orvane.log"
  start_bar
  if wait_for 30 has_note "Settings were not saved"; then
    notes | grep -qF "could not be saved to $(winpath "$app")\\orvane.ini" && ok "the next start shows the failed save" ||
      fail "note: $(notes)"
  else
    fail "no notification of the failed save: $(notes)"
  fi
  wait_for 10 log_has "the settings could not be saved to " && ok "the next start logs it" || fail "not logged"
  unsaved_note >/dev/null && fail "the note stays for another start" || ok "the note is shown once"
  wait_for 60 menus_built || fail "menus not built after the note"
  probe endsession >/dev/null
  wait_for 60 ended || fail "the bar did not end after the note"
else
  echo "note: chattr is not available here; the failed-save run is skipped"
  probe endsession >/dev/null
  wait_for 60 ended || fail "the bar did not end"
fi

# --- the session ends while Programs is still being built: settings and built menus first
big="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Big"
for g in $(seq 1500); do mkdir -p "$big/Group $g" && (cd "$big/Group $g" && touch $(printf 'P_%d.txt ' $(seq 20))); done
fresh_settings
: >"$app/orvane.log"
# A row the System menu loads and that is then taken from the file behind its back: its save at
# the session end writes it again (a save replaces only the rows it loaded).
probe count dk.pdb "insert into MenuItems (MID, MIID, ParentID, [Position], Caption)
  values (5, 99999, -1, 99, 'in the menu') returning MIID" >/dev/null
start_bar
others_built() { [ "$(grep -c ' menu has been created' "$app/orvane.log")" -ge 7 ]; }
wait_for 90 others_built || fail "the other menus were not built"
probe count dk.pdb "delete from MenuItems where Caption = 'in the menu' returning MIID" >/dev/null
if log_has "Programs menu has been created"; then
  echo "note: Programs was built before the session end; the order is not shown by this run"
  probe endsession >/dev/null
else
  (cd "$app" && wine64 bar_probe.exe endsession >"$out/endsession.txt" 2>/dev/null) &
  gone() { [ "$(probe count dk.pdb "select count(*) from MenuItems where Caption = 'in the menu'")" = 1 ]; }
  saved() { grep -q '^\[ClockFormats\]' "$app/orvane.ini"; }
  wait_for 4 saved && ok "the settings are written at once" ||
    fail "orvane.ini: $(tr '\r\n' '  ' <"$app/orvane.ini")"
  wait_for 4 gone && ok "the built menus are written at once" || fail "the System menu's rows were not written"
  log_has "Programs menu has been created" && echo "note: Programs was built meanwhile" ||
    ok "both while Programs was still being built"
  wait_for 60 grep -q answer "$out/endsession.txt" || fail "no answer to the session end"
fi
wait_for 60 ended && ok "the bar ended" || fail "the bar still runs"
rm -rf "$big"

# --- the program in a folder whose name the ANSI code page cannot spell
odd="$out/Оболочка 日本"
mkdir -p "$odd" "$out/records"
cp -r "$app"/orvane.exe "$app"/hk.dll "$app"/dkmonitor.exe "$app"/set_explorer.exe "$app"/startup_probe.exe "$app"/images "$odd"/
: >"$odd/orvane.log"
printf '[General]\r\nLogPriority=1\r\n' >"$odd/orvane.ini"
export ORV_PROBE_DIR=$(winpath "$out/records")
wine64 reg add 'HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce' /v odd_probe /t REG_SZ \
  /d "\"$(winpath "$odd")\\startup_probe.exe\" odd_once" /f >/dev/null 2>&1
(cd "$odd" && exec wine64 orvane.exe >/dev/null 2>&1) &
bar_pid=$!
wait_for 30 probe_has '^bar 0 0 1280 19 ' && ok "the bar starts from $(basename "$odd")" || fail "no bar from the odd folder"
wait_for 30 test -f "$out/records/odd_once.started" && ok "the startup program in that folder started" ||
  fail "the startup program did not start"
wait_for 30 probe_has '^monitor$' && ok "the monitor started from that folder" || fail "no monitor window"
odd_built() { [ "$(grep -c ' menu has been created' "$odd/orvane.log")" -ge 8 ]; }
wait_for 60 odd_built || fail "menus not built in the odd folder"
# Wine sees keys while one of its windows has the focus: an ordinary window is clicked first.
(cd "$app" && wine64 bar_probe.exe cover 30 >/dev/null 2>&1) &
sleep 2
xdotool mousemove 640 200 click 1 sleep 0.5 key super+Escape
wait_for 30 ended && ok "Win+Esc started set_explorer.exe from that folder, which ended the bar" ||
  fail "the bar still runs after Win+Esc"
shell=$(wine64 reg query 'HKCU\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon' /v Shell 2>/dev/null | tr -d '\r' |
  awk '/Shell/ { print $3 }')
[ "$shell" = "explorer.exe" ] && ok "the default shell is restored" || fail "Winlogon Shell: '$shell'"
ended || kill "$bar_pid" 2>/dev/null

echo "$fails failure(s)"
[ $fails -eq 0 ]

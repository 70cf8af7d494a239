#!/usr/bin/env bash
# End to end: what the running bar tells a user when something cannot be done, and the first
# start's colour scheme; real clicks and keys under the window manager.
# - No scheme in orvane.ini: the options dialog lists the built-in scheme, a colour chosen for it
#   shows on the bar at once and is in orvane.ini after quitting. Default favourites this
#   machine lacks were not added.
# - A favourite whose program is missing, Help and Support that is not there and a rename the
#   system refuses each show a light red notification saying what and why; nothing else happens.
# Usage: notify_e2e.sh <build dir> <output dir>
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
out=${2:?output dir}
extra_exes=""
source "$(dirname "$0")/bar_app.sh"

programs=71
files=213
system=781
help=1065
db() { probe count dk.pdb "$1"; }
notes() { probe notes | tr '\n' ' '; }
note_has() { probe notes | grep -qF -- "note $1"; }
no_note() { ! probe notes | grep -q '^note '; }
# The notification stands at the top left and holds while the pointer is on it: the pointer
# leaves it before it is waited out.
note_goes() { xdotool mousemove 640 600; wait_for 15 no_note || fail "the notification did not go"; }
# middle <L T R B>: "X Y" of the rectangle.
middle() { [ $# -eq 4 ] && echo $((($1 + $3) / 2)) $((($2 + $4) / 2)); }
shown() { probe control "$@" >/dev/null; }
gone() { ! shown "$@"; }
quit() {
  local ans
  ans=$(probe endsession)
  [ "$ans" = "answer 0" ] || fail "session end: $ans"
  wait_for 30 ended || fail "the bar did not end"
}
# Visible top-level windows of the display, one id a line.
windows() { xdotool search --onlyvisible --name '' 2>/dev/null | sort; }

docs=$(ls -d "$WINEPREFIX"/drive_c/users/*/Documents | grep -v /Public/ | head -1)
printf alpha >"$docs/a.txt"
printf beta >"$docs/b.txt"

# --- first start: orvane.ini holds no scheme
start_bar
wait_for 90 menus_built && ok "menus built" || fail "menus: $(grep -c ' menu has been created' "$app/orvane.log")"
[ "$(db "select count(*) from MenuItems where Caption in ('Calculator', 'WordPad', 'license.txt')")" = 0 ] &&
  ok "no default favourite of a program or file this machine lacks" ||
  fail "dk.pdb: $(db "select count(*) from MenuItems where Caption in ('Calculator', 'WordPad', 'license.txt')") dead favourites"
[ "$(db "select count(*) from MenuItems where Caption in ('Notepad', 'My Documents', 'Task Manager')")" = 3 ] &&
  ok "the default favourites that are here were added" || fail "dk.pdb lacks Notepad, My Documents or Task Manager"

xdotool mousemove 640 600
sleep 0.5
import -window root "$out/before.png"
before=$(pixel "$out/before.png" 70 3)
open_menu $system "Configure This Shell"
click_at $(row_of "Configure This Shell")
wait_for 10 shown Options 10 && ok "the options dialog opened" || fail "no options dialog"
click_at $(probe listrow Options 10 1)
wait_for 5 shown Options 200 || fail "the View page did not show"
schemes=$(probe combo Options 24 | tr '\n' '|')
[ "$schemes" = "row Some Scheme|" ] && ok "the dialog lists one scheme, the built-in 'Some Scheme'" ||
  fail "schemes listed: '$schemes'"
click_at $(middle $(probe control Options 200))
wait_for 10 shown Color 720 && ok "the Programs colour cell opens the colour chooser" || fail "no colour chooser"
read -r l t r b < <(probe control Color 720)
click_at $((l + (r - l) / 16)) $((t + (b - t) / 12))  # the first basic colour
click_at $(middle $(probe control Color 1))
wait_for 10 gone Color 1 || fail "the colour chooser stays"
xdotool mousemove 640 600
sleep 1
import -window root "$out/after.png"
after=$(pixel "$out/after.png" 70 3)
read -r r0 g0 b0 <<<"$before"
read -r r1 g1 b1 <<<"$after"
[ "$g0" -gt "$r0" ] && [ "$r1" -gt "$g1" ] && [ "$r1" -gt "$b1" ] &&
  ok "the Programs button turned from green ($before) to the chosen red ($after)" ||
  fail "Programs button before: $before, after: $after"
[ "$(pixel "$out/after.png" 780 3)" = "$(pixel "$out/before.png" 780 3)" ] &&
  ok "the other buttons keep their colour" || fail "the System button changed colour"
click_at $(middle $(probe control Options 1))
wait_for 10 gone Options 1 || fail "the options dialog stays after OK"
quit
scheme=$(sed -n '/^\[Scheme0\]/,/^\[/p' "$app/orvane.ini" | tr -d '\r')
grep -qx 'Name=Some Scheme' <<<"$scheme" && ! grep -qx 'MenuColors0=$23917' <<<"$scheme" &&
  grep -qx 'MenuColors1=$23917' <<<"$scheme" && ok "orvane.ini: [Scheme0] 'Some Scheme' with the chosen colour" ||
  fail "orvane.ini: $(tr '\r\n' '  ' <"$app/orvane.ini" | head -c 400)"
grep -q '^\[Scheme1\]' "$app/orvane.ini" && fail "orvane.ini holds a second scheme"

# --- a favourite whose program is missing: told why; the menu closes as for any run, nothing
# starts, nothing is recorded, the bar runs on
db "insert into MenuItems (MID, MIID, ParentID, [Position], Caption, ExecPath)
    values (0, 100, -1, 0, 'Gone Tool', 'C:\\gone\\tool.exe')" >/dev/null
: >"$app/orvane.log"
start_bar
wait_for 90 menus_built || fail "menus not built for the second run"
open_menu $programs "Gone Tool"
at=$(row_of "Gone Tool")
windows >"$out/windows_before.txt"
click_at $at
wait_for 10 note_has 'Could not start | Gone Tool | C:\gone\tool.exe | ' &&
  ok "a click on the favourite tells: $(notes)" || fail "notes after the dead favourite: '$(notes)'"
import -window root "$out/dead_favourite.png"
wait_for 5 menu_gone && ok "the menu closed as for any run" || fail "the menu stays"
windows >"$out/windows_after.txt"
new=$(comm -13 "$out/windows_before.txt" "$out/windows_after.txt" | wc -l)
shown_notes=$(probe info | grep -c '^notification .* visible 1$')
[ "$new" -le "$shown_notes" ] && ok "no window but the notification came up" ||
  fail "$new new windows, $shown_notes notifications: $(for w in $(comm -13 "$out/windows_before.txt" "$out/windows_after.txt"); do xdotool getwindowname "$w"; done | tr '\n' ' ')"
probe_has '^bar 0 0 1280 19 ' && ok "the bar runs on" || fail "bar: $(probe info | head -1)"
note_goes

# --- Help and Support that this machine does not have
open_menu $help "Help and Support"
click_at $(row_of "Help and Support")
wait_for 10 note_has 'Could not start | Help and Support | helppane.exe -Embedding | ' &&
  ok "Help and Support tells: $(notes)" || fail "notes after Help and Support: '$(notes)'"
[ "$(probe notes | grep -c '^note ')" = 1 ] || fail "more than one notification: $(notes)"
note_goes

# --- renames the system refuses: a taken name and one with a character no file name takes
rename_to() {  # rename_to <new name> <the notification's reason starts after this>
  open_menu $files "My Documents"
  hover "My Documents" "a.txt" || return
  hover "a.txt" "Rename File" || return
  click_at $(row_of "Rename File")
  wait_for 5 has_edit "a.txt" || { fail "no rename box: $(edits)"; return; }
  typed "$1" || fail "the rename box holds: $(edits)"
  xdotool key Return
  wait_for 10 note_has "Could not rename | a.txt | to $1 | " && ok "renaming to $1 tells: $(notes)" ||
    fail "notes after renaming to $1: '$(notes)'"
  wait_for 5 row_of "a.txt" >/dev/null && no_edit "$1" && ok "the row keeps its name a.txt" ||
    fail "rows after renaming to $1: $(probe rows | grep -E 'a.txt|b.txt|edit' | tr '\n' ' ')"
  [ "$(cat "$docs/a.txt")" = alpha ] && [ "$(cat "$docs/b.txt")" = beta ] || fail "the files changed"
  note_goes
}
rename_to b.txt
rename_to 'a?b.txt'

quit
[ "$(db "select count(*) from ItemsPath where Path = 'c:\\gone\\tool.exe'")" = 0 ] &&
  ok "dk.pdb: the start that failed is not recorded as a launch" || fail "dk.pdb records the failed start"

echo "$fails failure(s)"
[ $fails -eq 0 ]

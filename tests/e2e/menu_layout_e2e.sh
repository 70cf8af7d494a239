#!/usr/bin/env bash
# End to end: the menu windows of a big folder and of a deep chain of folders under
# Files > My Documents, driven with the pointer, the wheel and the keys under openbox. Every
# window lies below the bar and inside the work area; the wheel and the keys reach every file of
# the big folder and a click or Enter opens it; submenus opened by hovering stay on the screen
# beside the rows that opened them. Screenshots land in the output folder.
# Usage: menu_layout_e2e.sh <build dir> <output dir>
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
out=${2:?output dir}
extra_exes="startup_probe"
source "$(dirname "$0")/bar_app.sh"

docs=$(ls -d "$WINEPREFIX"/drive_c/users/*/Documents | grep -v /Public/ | head -1)
big="$docs/Big Folder"
mkdir -p "$big" "$docs/deep1/deep2/deep3/deep4/deep5/deep6/deep7"
(cd "$big" && touch $(printf 'file_%04d.txt ' $(seq 2000)))
touch "$docs/deep1/deep2/deep3/deep4/deep5/deep6/deep7/leaf.txt"
# A text file opens with startup_probe standing in for its program: "opened.started" then holds
# the command line with the file's path.
probe_dir="$WINEPREFIX/drive_c/orvprobe"
mkdir -p "$probe_dir"
handler=$(winepath -w "$app/startup_probe.exe" 2>/dev/null)
wine64 reg add 'HKLM\Software\Classes\.txt' /ve /d orvtxt /f >/dev/null 2>&1
wine64 reg add 'HKLM\Software\Classes\orvtxt\shell\open\command' /ve /d "\"$handler\" opened \"%1\"" /f >/dev/null 2>&1
opened() { [ -f "$probe_dir/opened.started" ] && iconv -f UTF-16LE -t UTF-8 "$probe_dir/opened.started" | grep -q "$1"; }

(cd "$app" && ORV_PROBE_DIR='C:\orvprobe' exec wine64 orvane.exe >/dev/null 2>&1) &
bar_pid=$!
wait_for 30 probe_has '^bar 0 0 1280 19 ' || fail "no bar: $(probe info | grep '^bar')"
wait_for 60 menus_built || fail "menus not built: $(grep -c ' menu has been created' "$app/orvane.log")"

# The layout of the visible menus: "menu L T R B" lines, each followed by its rows'
# "row L T R B S caption" lines.
layout() { probe layout >"$out/layout.txt"; }
# row_rect <caption>: "L T R B S" of the visible row with that caption (the last listed).
row_rect() { awk -v c="$1" '$1 == "row" { t = $0; sub(/^row -?[0-9]+ -?[0-9]+ -?[0-9]+ -?[0-9]+ [01] /, "", t); if (t == c) r = $2 " " $3 " " $4 " " $5 " " $6 } END { if (r == "") exit 1; print r }' "$out/layout.txt"; }
# menu_of <caption>: "L T R B" of the window listing that row.
menu_of() { awk -v c="$1" '$1 == "menu" { m = $2 " " $3 " " $4 " " $5 } $1 == "row" { t = $0; sub(/^row -?[0-9]+ -?[0-9]+ -?[0-9]+ -?[0-9]+ [01] /, "", t); if (t == c) r = m } END { if (r == "") exit 1; print r }' "$out/layout.txt"; }
has_row() { layout && row_rect "$1" >/dev/null; }
# The middle of a row's left part, where its caption is.
row_mid() { local l t r b s; read -r l t r b s < <(row_rect "$1") || return 1; echo "$((l + 60)) $(((t + b) / 2))"; }
# Every visible menu window inside the work area and below the bar.
in_area() {
  local wl wt wr wb
  read -r _ wl wt wr wb < <(probe info | grep '^work ')
  [ "$wt" -ge 19 ] || wt=19
  awk -v l="$wl" -v t="$wt" -v r="$wr" -v b="$wb" '$1 == "menu" { n++; if ($2 < l || $3 < t || $4 > r || $5 > b) { print "window " $2 "," $3 "-" $4 "," $5 " leaves " l "," t "-" r "," b; bad = 1 } }
    END { if (!n) print "no menu window"; exit (bad || !n) }' "$out/layout.txt"
}
# inside <caption> <window L T R B>: that window's row so captioned lies whole within it.
inside() {
  awk -v c="$1" -v m="$2 $3 $4 $5" -v l="$2" -v t="$3" -v r="$4" -v b="$5" '$1 == "menu" { w = $2 " " $3 " " $4 " " $5 }
    $1 == "row" && w == m { s = $0; sub(/^row -?[0-9]+ -?[0-9]+ -?[0-9]+ -?[0-9]+ [01] /, "", s); if (s == c) { f = 1; in_ = $2 >= l && $3 >= t && $4 <= r && $5 <= b } }
    END { exit !(f && in_) }' "$out/layout.txt"
}
# selected_row <window L T R B>: the caption of that window's selected row.
selected_row() { awk -v m="$*" '$1 == "menu" { w = $2 " " $3 " " $4 " " $5 } $1 == "row" && $6 == 1 && w == m { t = $0; sub(/^row -?[0-9]+ -?[0-9]+ -?[0-9]+ -?[0-9]+ [01] /, "", t); print t }' "$out/layout.txt"; }
menus_closed() { ! probe info | grep -q '^menu '; }

# Files > My Documents > Big Folder, each folder opened by resting the pointer on its row
# (a click on a favourite folder opens it in a window of its own).
open_big_folder() {
  xdotool mousemove 213 9 click 1
  wait_for 10 has_row "My Documents" || { fail "Files shows no My Documents: $(head -c 300 "$out/layout.txt")"; return 1; }
  xdotool mousemove $(row_mid "My Documents")
  wait_for 10 has_row "Big Folder" || { fail "My Documents shows no Big Folder"; return 1; }
  xdotool mousemove $(row_mid "Big Folder")
  wait_for 20 has_row "file_0001.txt" || { fail "Big Folder did not open"; return 1; }
}

# --- the big folder: below the bar, inside the screen; the wheel reaches the last file
if open_big_folder; then
  sleep 0.5
  import -window root "$out/big-folder.png"
  layout
  read -r bl bt br bb < <(menu_of "file_0001.txt")
  echo "Big Folder window: $bl,$bt-$br,$bb"
  problems=$(in_area) && ok "every menu window lies inside the work area below the bar" || fail "$problems"
  inside "file_2000.txt" $bl $bt $br $bb && fail "file_2000.txt shows at once: nothing to scroll" ||
    ok "the big folder shows the columns that fit ($(( (br - bl) )) px)"
  xdotool mousemove $((bl + 60)) $((bt + 40))
  notches=0
  until inside "file_2000.txt" $bl $bt $br $bb || [ $notches -ge 80 ]; do
    xdotool click 5
    notches=$((notches + 1))
    [ $((notches % 5)) -eq 0 ] && layout
  done
  layout
  if inside "file_2000.txt" $bl $bt $br $bb; then
    ok "the wheel brought file_2000.txt into the window ($notches notches)"
    import -window root "$out/big-folder-scrolled.png"
    read -r fl ft fr fb _ < <(row_rect "file_2000.txt")
    read -r nl nt nr nb < <(menu_of "file_2000.txt")
    [ "$nl $nt $nr $nb" = "$bl $bt $br $bb" ] && ok "the window stayed where it was" || fail "the window moved to $nl,$nt-$nr,$nb"
    rm -f "$probe_dir/opened.started"
    xdotool mousemove $((fl + 60)) $(((ft + fb) / 2)) sleep 0.3 click 1
    wait_for 20 opened 'file_2000.txt' && ok "a click on file_2000.txt opened it" || fail "file_2000.txt was not opened by the click"
    wait_for 10 menus_closed || fail "the menu stays after opening a file"
  else
    fail "the wheel did not bring file_2000.txt in: $(grep -c '^row' "$out/layout.txt") rows, $(menu_of file_0001.txt)"
  fi
fi

# --- the keys: Right opens the big folder from its row; Page Down and Up and the arrows at the
# window's edge reach every file, the window following; Enter opens one
sel_is() { layout && [ "$(selected_row $bl $bt $br $bb)" = "$1" ]; }
xdotool mousemove 213 9 click 1
if wait_for 10 has_row "My Documents"; then
  # The pointer picks My Documents in the Files menu, the keys go on from there.
  xdotool mousemove $(row_mid "My Documents") sleep 0.3 key Right
  wait_for 10 has_row "Big Folder" || fail "My Documents shows no Big Folder for the keys"
  read -r dl dt dr db < <(menu_of "Big Folder")
  xdotool key Down
  wait_for 10 bash -c "cd '$app' && wine64 bar_probe.exe layout 2>/dev/null | tr -d '\r' | grep -q '^row $dl $dt $dr [0-9]* 1 Big Folder$'" ||
    fail "Down in My Documents did not select Big Folder"
  xdotool key Right
  if wait_for 20 has_row "file_0001.txt"; then
    read -r bl bt br bb < <(menu_of "file_0001.txt")
    xdotool key Down
    wait_for 10 sel_is "file_0001.txt" || fail "Down selected '$(selected_row $bl $bt $br $bb)', not the first file"
    last=$(awk -v m="$bl $bt $br $bb" '$1 == "menu" { w = $2 " " $3 " " $4 " " $5 } $1 == "row" && w == m { t = $0; sub(/^row -?[0-9]+ -?[0-9]+ -?[0-9]+ -?[0-9]+ [01] /, "", t); l = t } END { print l }' "$out/layout.txt")
    rows=$(awk -v m="$bl $bt $br $bb" '$1 == "menu" { w = $2 " " $3 " " $4 " " $5 } $1 == "row" && w == m { n++ } END { print n }' "$out/layout.txt")
    # Down on the last row shown brings the next column in; Up on the first row shown, the one before.
    read -r fl _ fr _ _ < <(row_rect "file_0001.txt")
    per=$(awk -v l=$bl -v m="$bl $bt $br $bb" '$1 == "menu" { w = $2 " " $3 " " $4 " " $5 } $1 == "row" && w == m && $2 == l { n++ } END { print n }' "$out/layout.txt")
    shown=$(( (br - bl) / (fr - fl) ))
    for _ in $(seq $((shown * per))); do xdotool key Down sleep 0.02; done
    next=$(printf 'file_%04d.txt' $((shown * per + 1)))
    if wait_for 10 sel_is "$next" && inside "$next" $bl $bt $br $bb; then
      ok "Down on the last row shown scrolled $next in"
    else
      fail "Down at the edge: selected '$(selected_row $bl $bt $br $bb)', $next not in the window"
    fi
    for _ in $(seq $((shown * per + 1 - per))); do xdotool key Up sleep 0.02; done
    back=$(printf 'file_%04d.txt' $per)
    if wait_for 10 sel_is "$back" && inside "$back" $bl $bt $br $bb; then
      ok "Up on the first row shown scrolled $back back in"
    else
      fail "Up at the edge: selected '$(selected_row $bl $bt $br $bb)', $back not in the window"
    fi
    # A page is the rows the window shows; one more press than pages stays on the last row.
    pages=$(( rows / (shown * per) + 2 ))
    for _ in $(seq $pages); do xdotool key Next sleep 0.1; done
    if wait_for 10 sel_is "$last" && inside "$last" $bl $bt $br $bb; then
      ok "Page Down reached the last of $rows rows, '$last', in the window"
    else
      fail "Page Down: selected '$(selected_row $bl $bt $br $bb)', the last row is '$last'"
    fi
    import -window root "$out/big-folder-keys.png"
    for _ in $(seq $((rows - 1999))); do xdotool key Up sleep 0.05; done
    if wait_for 10 sel_is "file_1999.txt" && inside "file_1999.txt" $bl $bt $br $bb; then
      ok "Up reached file_1999.txt in the window"
    else
      fail "Up: selected '$(selected_row $bl $bt $br $bb)'"
    fi
    for _ in $(seq $pages); do xdotool key Prior sleep 0.1; done
    if wait_for 10 sel_is "file_0001.txt" && inside "file_0001.txt" $bl $bt $br $bb; then
      ok "Page Up went back to the first file"
    else
      fail "Page Up: selected '$(selected_row $bl $bt $br $bb)'"
    fi
    for _ in $(seq $pages); do xdotool key Next sleep 0.1; done
    for _ in $(seq $((rows - 1999))); do xdotool key Up sleep 0.05; done
    wait_for 10 sel_is "file_1999.txt" || fail "file_1999.txt not selected for Enter"
    rm -f "$probe_dir/opened.started"
    xdotool key Return
    wait_for 20 opened 'file_1999.txt' && ok "Enter opened file_1999.txt" || fail "file_1999.txt was not opened by Enter"
  else
    fail "Right did not open Big Folder"
  fi
else
  fail "Files did not open for the keys"
fi
wait_for 10 menus_closed || { xdotool key Escape; wait_for 10 menus_closed; }

# --- seven folders deep, opened by hovering: on the screen, beside the rows that opened them
xdotool mousemove 213 9 click 1
if wait_for 10 has_row "My Documents"; then
  xdotool mousemove $(row_mid "My Documents")
  for k in 1 2 3 4 5 6 7; do
    next="deep$((k + 1))"
    [ $k -eq 7 ] && next="leaf.txt"
    wait_for 10 has_row "deep$k" || { fail "no row deep$k"; break; }
    xdotool mousemove $(row_mid "deep$k")
    wait_for 10 has_row "$next" || { fail "hovering deep$k opened nothing"; break; }
  done
  sleep 0.5
  import -window root "$out/deep-chain.png"
  layout
  problems=$(in_area) && ok "the seven levels lie inside the work area below the bar" || fail "$problems"
  for k in 1 2 3 4 5 6 7; do
    next="deep$((k + 1))"
    [ $k -eq 7 ] && next="leaf.txt"
    read -r rl rt rr rb _ < <(row_rect "deep$k") || { fail "row deep$k not listed"; continue; }
    read -r wl wt wr wb < <(menu_of "$next") || { fail "no window lists $next"; continue; }
    # The submenu starts at most in the row's fade band (its last 70 pixels), or left of it.
    if [ "$wr" -le "$rl" ] || [ "$wl" -ge $((rr - 70)) ] || [ "$wb" -le "$rt" ] || [ "$wt" -ge "$rb" ]; then
      echo "level $k: row $rl..$rr, window $wl..$wr"
    else
      fail "level $k covers its row: row $rl,$rt-$rr,$rb, window $wl,$wt-$wr,$wb"
    fi
  done
  ok "hovering checked over seven levels"
  xdotool key Escape
else
  fail "Files did not open for the chain"
fi

probe endsession >/dev/null
wait_for 20 bash -c "! kill -0 $bar_pid 2>/dev/null" || kill "$bar_pid" 2>/dev/null
echo "$fails failed"
[ "$fails" -eq 0 ]

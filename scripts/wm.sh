# Sourced by the end-to-end scripts: openbox on the current display, as a desktop has a window
# manager. New windows do not take the focus (Windows gives the foreground only to the program in
# front), so a test sees what a user on Windows would. Calls stop_wm from its own cleanup.
wm_pid=""
# A window manager runs: the root names its check window, and that window is there (a manager
# that ended without its cleanup leaves the name behind).
wm_running() {
  local w
  w=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -o '0x[0-9a-fA-F]*') || return 1
  xwininfo -id "$w" >/dev/null 2>&1
}
start_wm() {
  command -v openbox >/dev/null 2>&1 || { echo "FAIL: openbox is not installed"; return 1; }
  # Another window manager already on the display (a developer's own) is kept.
  wm_running && return 0
  local conf
  conf=$(mktemp -d)
  sed 's|<focusNew>yes</focusNew>|<focusNew>no</focusNew>|' /etc/xdg/openbox/rc.xml >"$conf/rc.xml"
  openbox --config-file "$conf/rc.xml" >/dev/null 2>&1 &
  wm_pid=$!
  local end=$((SECONDS + 10))
  until wm_running; do
    [ $SECONDS -lt $end ] || { echo "FAIL: openbox did not start"; return 1; }
    sleep 0.1
  done
}
stop_wm() {
  [ -n "$wm_pid" ] || return 0
  kill "$wm_pid" 2>/dev/null
  wait "$wm_pid" 2>/dev/null
  wm_pid=""
}

# Drives a real KAVEL window under a private virtual X server, as a person
# would: clicks on the tool bar and in dialogs, typing into edit boxes and file
# dialogs. Sourced by the end-to-end test and the screenshot script.
#
# Coordinates are client pixels of the windows: without a window manager
# every window is placed exactly where the program asks.

XD_KAVEL_PID=""
XD_XVFB_PID=""
XD_SHOTS="${XD_SHOTS:-.}"
XD_LAST_SHOT=""
XD_STEP=0

xd_fail() {
  echo "e2e: FAILED: $*" >&2
  xd_shot "failure" || true
  [ -n "$XD_LAST_SHOT" ] && echo "e2e: last screenshot: $XD_LAST_SHOT" >&2
  exit 1
}

# Starts Xvfb on a free display and exports DISPLAY.
xd_start_x() {
  local fifo
  fifo="$(mktemp -u)"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >"$XD_SHOTS/xvfb.log" 2>&1 &
  XD_XVFB_PID=$!
  local display
  read -r -t 15 display <"$fifo" || xd_fail "the virtual X server did not start (see $XD_SHOTS/xvfb.log)"
  rm -f "$fifo"
  export DISPLAY=":$display"
  unset WAYLAND_DISPLAY
  export QT_QPA_PLATFORM=xcb
}

# Starts the program; its exit status is collected by xd_wait_exit.
xd_start_kavel() {
  "$@" >"$XD_SHOTS/kavel.log" 2>&1 &
  XD_KAVEL_PID=$!
  xd_wait_window '^Kavel_V2$' >/dev/null
}

# Ends only what this script started.
xd_cleanup() {
  if [ -n "$XD_KAVEL_PID" ] && kill -0 "$XD_KAVEL_PID" 2>/dev/null; then
    kill "$XD_KAVEL_PID" 2>/dev/null || true
  fi
  if [ -n "$XD_XVFB_PID" ] && kill -0 "$XD_XVFB_PID" 2>/dev/null; then
    kill "$XD_XVFB_PID" 2>/dev/null || true
    wait "$XD_XVFB_PID" 2>/dev/null || true
  fi
}

xd_shot() {
  XD_STEP=$((XD_STEP + 1))
  XD_LAST_SHOT="$XD_SHOTS/$(printf '%02d' "$XD_STEP")-$1.png"
  import -window root "$XD_LAST_SHOT" 2>/dev/null
}

# Prints the id of the visible window whose name matches the pattern, waiting
# up to 20 s for it.
xd_wait_window() {
  local id
  id="$(timeout 20 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1)" ||
    xd_fail "no window named '$1' appeared"
  [ -n "$id" ] || xd_fail "no window named '$1' appeared"
  echo "$id"
}

xd_wait_gone() {
  local i
  for i in $(seq 1 100); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  xd_fail "the window '$1' did not close"
}

# Clicks at client point (x, y) of a window.
xd_click() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --sync $((X + $2)) $((Y + $3)) click 1
  sleep 0.3
}

# Tool bar buttons are 32 x 32 at x 0, 40, 80, ... under the menu bar.
xd_toolbar() {
  local main
  main="$(xd_wait_window '^Kavel_V2$')"
  local x
  case "$1" in
    open) x=0 ;; save) x=40 ;; zoom) x=80 ;; treatment) x=120 ;; histo) x=160 ;; exit) x=200 ;;
    *) xd_fail "no tool button $1" ;;
  esac
  # A click on the empty end of the tool bar first: it closes whatever popup a
  # file dialog's name completion may have left open, which would otherwise
  # swallow the click on the button.
  xd_click "$main" 600 36
  xd_click "$main" $((x + 16)) 36
}

xd_type() {
  xdotool type --delay 20 "$1"
  sleep 0.2
}

xd_key() {
  xdotool key "$@"
  sleep 0.3
}

# Types a full file name into the file dialog that has the keyboard and
# confirms it; with a filter number, chooses that filter first.
xd_file_dialog() {
  local id="$1" name="$2" filter="${3:-}"
  xdotool windowfocus --sync "$id"
  if [ -n "$filter" ]; then
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$id")"
    # "Files of type" is the combo on the bottom row of the dialog.
    xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT - 24)) click 1
    sleep 0.5
    xd_key Home
    local i
    for ((i = 1; i < filter; i++)); do xd_key Down; done
    xd_key Return
    xd_key alt+n
  fi
  xd_key ctrl+a
  xd_type "$name"
  xd_key Return
}

# Waits for the program to end and returns its exit status.
xd_wait_exit() {
  local i
  for i in $(seq 1 100); do
    kill -0 "$XD_KAVEL_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$XD_KAVEL_PID" 2>/dev/null && xd_fail "the program did not end"
  local status=0
  wait "$XD_KAVEL_PID" || status=$?
  XD_KAVEL_PID=""
  return "$status"
}

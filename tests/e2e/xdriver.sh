# Drives a real KAVEL window under a private virtual X server, as a person
# would: clicks on the tool bar and in dialogs, typing into edit boxes and file
# dialogs. Sourced by the end-to-end test and the screenshot script.
#
# Coordinates are client pixels of the windows. The windows are framed by a
# real window manager (openbox), as a person sees them.
#
# XD_DISPLAY=:N drives a server that is already running (with its window
# manager) instead of starting a private one.

XD_KAVEL_PID=""
XD_XVFB_PID=""
XD_WM_PID=""
XD_SHOTS="${XD_SHOTS:-.}"
XD_LAST_SHOT=""
XD_STEP=0
# How long a condition may take to come true. Generous: on a loaded machine
# everything is slow, and a wait ends as soon as its condition holds.
XD_PATIENCE="${XD_PATIENCE:-90}"

xd_fail() {
  echo "e2e: FAILED: $*" >&2
  xd_shot "failure" || true
  [ -n "$XD_LAST_SHOT" ] && echo "e2e: last screenshot: $XD_LAST_SHOT" >&2
  exit 1
}

# Starts Xvfb on a free display with openbox on it and exports DISPLAY.
xd_start_x() {
  export QT_QPA_PLATFORM=xcb
  unset WAYLAND_DISPLAY
  if [ -n "${XD_DISPLAY:-}" ]; then
    export DISPLAY="$XD_DISPLAY"
    return 0
  fi
  local fifo
  fifo="$(mktemp -u)"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >"$XD_SHOTS/xvfb.log" 2>&1 &
  XD_XVFB_PID=$!
  local display
  read -r -t 15 display <"$fifo" || xd_fail "the virtual X server did not start (see $XD_SHOTS/xvfb.log)"
  rm -f "$fifo"
  export DISPLAY=":$display"
  command -v openbox >/dev/null || xd_fail "openbox is not installed"
  openbox >"$XD_SHOTS/openbox.log" 2>&1 &
  XD_WM_PID=$!
  local end=$((SECONDS + XD_PATIENCE))
  while [ "$SECONDS" -lt "$end" ]; do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    # Under load it can give up before the server takes connections: again.
    if ! kill -0 "$XD_WM_PID" 2>/dev/null; then
      openbox >>"$XD_SHOTS/openbox.log" 2>&1 &
      XD_WM_PID=$!
    fi
    sleep 0.1
  done
  xd_fail "openbox did not start (see $XD_SHOTS/openbox.log)"
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
  if [ -n "$XD_WM_PID" ] && kill -0 "$XD_WM_PID" 2>/dev/null; then
    kill "$XD_WM_PID" 2>/dev/null || true
  fi
  if [ -n "$XD_XVFB_PID" ] && kill -0 "$XD_XVFB_PID" 2>/dev/null; then
    kill "$XD_XVFB_PID" 2>/dev/null || true
    wait "$XD_XVFB_PID" 2>/dev/null || true
  fi
}

# A digest of what the screen shows now.
xd_screen_digest() {
  import -window root rgb:- 2>/dev/null | md5sum
}

# Waits until the screen stops changing: two digests in a row alike. With a
# digest given, the screen must also have changed from it (the program has
# reacted, then finished drawing).
xd_settle() {
  local before="${1:-}" last="" now end=$((SECONDS + XD_PATIENCE))
  while [ "$SECONDS" -lt "$end" ]; do
    now="$(xd_screen_digest)"
    if [ "$now" = "$last" ] && [ "$now" != "$before" ]; then
      return 0
    fi
    last="$now"
    sleep 0.05
  done
  xd_fail "the screen did not settle${before:+ into something new}"
}

xd_shot() {
  XD_STEP=$((XD_STEP + 1))
  XD_LAST_SHOT="$XD_SHOTS/$(printf '%02d' "$XD_STEP")-$1.png"
  import -window root "$XD_LAST_SHOT" 2>/dev/null
}

# Prints the id of the visible window whose name matches the pattern, waiting
# for it.
xd_wait_window() {
  local id
  id="$(timeout "$XD_PATIENCE" xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1)" ||
    xd_fail "no window named '$1' appeared"
  [ -n "$id" ] || xd_fail "no window named '$1' appeared"
  # The window manager frames and places it after it is mapped: wait until
  # its place holds still, so that clicks land where they are aimed.
  local last="" now end=$((SECONDS + XD_PATIENCE))
  while [ "$SECONDS" -lt "$end" ]; do
    now="$(xd_geometry "$id")"
    [ "$now" = "$last" ] && break
    last="$now"
    sleep 0.05
  done
  echo "$id"
}

xd_wait_gone() {
  local end=$((SECONDS + XD_PATIENCE))
  while [ "$SECONDS" -lt "$end" ]; do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  xd_fail "the window '$1' did not close"
}

# Prints "X Y WIDTH HEIGHT" of a window's client area on the screen. (Under a
# window manager xdotool's own geometry counts the frame twice.)
xd_geometry() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
    /^ *Width:/ {w = $2} /^ *Height:/ {h = $2} END {print x, y, w, h}'
}

# Prints "WIDTH HEIGHT" of a window with its frame.
xd_outer_size() {
  local x y w h left right top bottom
  read -r x y w h < <(xd_geometry "$1")
  read -r left right top bottom < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  echo "$((w + left + right)) $((h + top + bottom))"
}

# Clicks at client point (x, y) of a window.
xd_click() {
  local X Y WIDTH HEIGHT
  read -r X Y WIDTH HEIGHT < <(xd_geometry "$1")
  xdotool mousemove --sync $((X + $2)) $((Y + $3)) click 1
}

# Tool bar buttons are 32 x 32 at x 0, 40, 80, ... under the menu bar.
xd_toolbar() {
  local main
  main="$(xd_wait_window '^Kavel_V2')"  # maximised children add to the title
  local x
  case "$1" in
    open) x=0 ;; save) x=40 ;; zoom) x=80 ;; treatment) x=120 ;; histo) x=160 ;; exit) x=200 ;;
    *) xd_fail "no tool button $1" ;;
  esac
  # No click elsewhere first: a popup left open by a file dialog would take
  # this click, and the step waiting for the button's window would fail.
  xd_click "$main" $((x + 16)) 36
}

xd_type() {
  xdotool type --delay 20 "$1"
}

xd_key() {
  xdotool key "$@"
}

# Types a full file name into the file dialog that has the keyboard and
# confirms it; with a filter number, chooses that filter first.
xd_file_dialog() {
  local id="$1" name="$2" filter="${3:-}"
  xdotool windowfocus --sync "$id"
  if [ -n "$filter" ]; then
    local X Y WIDTH HEIGHT
    read -r X Y WIDTH HEIGHT < <(xd_geometry "$id")
    # "Files of type" is the combo on the bottom row of the dialog.
    xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT - 24)) click 1
    xd_settle
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
  local end=$((SECONDS + XD_PATIENCE))
  while [ "$SECONDS" -lt "$end" ]; do
    kill -0 "$XD_KAVEL_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$XD_KAVEL_PID" 2>/dev/null && xd_fail "the program did not end"
  local status=0
  wait "$XD_KAVEL_PID" || status=$?
  XD_KAVEL_PID=""
  return "$status"
}

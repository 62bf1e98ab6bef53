#!/usr/bin/env bash
# End to end in a real X window: opens the sample, saves its histogram, runs
# "Item and Border", saves the result as raw and as bitmap, exits with the Exit
# button, then checks every file byte for byte against kavel-cli.
#
# usage: e2e_desktop.sh KAVEL KAVEL_CLI SAMPLES_DIR WORK_DIR
set -euo pipefail
# KAVEL_E2E_TRACE=FILE traces every step of this script into FILE.
if [ -n "${KAVEL_E2E_TRACE:-}" ]; then
  exec 2>"$KAVEL_E2E_TRACE"
  set -x
fi

kavel="$1" cli="$2" samples="$3" work="$4"
rm -rf "$work"
mkdir -p "$work/out" "$work/screenshots"
XD_SHOTS="$work/screenshots"
# shellcheck source=xdriver.sh
. "$(dirname "$0")/xdriver.sh"
# The whole run stops by itself: a watchdog ends what we started. It keeps no
# output stream open, so the test runner never waits on it.
( sleep 900 && kill -TERM $$ ) >/dev/null 2>&1 &
watchdog=$!
trap 'echo "e2e: FAILED: timed out after 900 s" >&2; exit 1' TERM
trap 'rc=$?; set +e; pkill -P $watchdog; kill $watchdog 2>/dev/null; xd_cleanup; exit $rc' EXIT

MIN=100 MAX=180 ITEM=128 BORDER=255 BACKGROUND=0
out="$work/out"

# Checks a dialog's size with its frame, and that it stands centred over the
# main window or with its frame at the given screen position.
# The window manager frames and places a window after it appears, so the
# outer size and place are awaited, not read once.
check_outer() {  # id title width height (centred | x y)
  local id="$1" title="$2" width="$3" height="$4" problem="" end=$((SECONDS + XD_PATIENCE))
  while [ "$SECONDS" -lt "$end" ]; do
    problem="$(outer_problem "$@")"
    [ -z "$problem" ] && return 0
    sleep 0.1
  done
  xd_fail "$problem"
}

outer_problem() {
  local id="$1" title="$2" width="$3" height="$4"
  local size
  size="$(xd_outer_size "$id")"
  [ "$size" = "$width $height" ] || { echo "'$title' is $size outside, not $width $height"; return; }
  local x y w h left right top bottom
  read -r x y w h < <(xd_geometry "$id")
  read -r left right top bottom < <(xprop -id "$id" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  if [ "$5" = centred ]; then
    local mx my mw mh mleft mright mtop mbottom
    read -r mx my mw mh < <(xd_geometry "$main")
    read -r mleft mright mtop mbottom < <(xprop -id "$main" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    local dx=$(((x - left + width / 2) - (mx - mleft + (mw + mleft + mright) / 2)))
    local dy=$(((y - top + height / 2) - (my - mtop + (mh + mtop + mbottom) / 2)))
    [ "${dx#-}" -le 2 ] && [ "${dy#-}" -le 2 ] || echo "'$title' is off centre by $dx, $dy"
  else
    [ "$((x - left)) $((y - top))" = "$5 $6" ] ||
      echo "'$title' stands at $((x - left)), $((y - top)), not $5, $6"
  fi
}

# In one column of a vertical scroll bar, the rows of groove above and below
# the thumb (the longest run of the thumb's face): "ABOVE BELOW", or nothing
# when no thumb shows.
thumb_gaps() {  # shot x top height
  convert "$1" -crop "1x$4+$2+$3" +repage txt:- | awk -F'[(),]' 'NR > 1 {print int($3)}' | awk '
    { v[NR] = $1 }
    END {
      best = 0; run = 0
      for (i = 1; i <= NR; i++) {
        if (v[i] >= 170 && v[i] <= 200) { run++; if (run > best) { best = run; last = i } } else run = 0
      }
      if (best < 10) exit
      first = last - best + 1; above = 0; below = 0
      for (i = 1; i < first; i++) if (v[i] >= 220 && v[i] <= 236) above++
      for (i = last + 1; i <= NR; i++) if (v[i] >= 220 && v[i] <= 236) below++
      print above, below
    }'
}

xd_start_x
xd_start_kavel "$kavel"
main="$(xd_wait_window '^Kavel_V2$')"
xd_shot start
cc -O2 -o "$work/xcursor" "$(dirname "$0")/xcursor.c" -lXfixes -lX11 || xd_fail "cannot build the cursor reader"

echo "e2e: the magnifier as the X server shows it"
xd_toolbar zoom
xd_click "$main" 600 400
"$work/xcursor" >"$work/cursor.txt"
grep -qx 'hot 13 12' "$work/cursor.txt" || xd_fail "the magnifier's hot spot is not 13, 12"
# Row 12 (the hot spot's): the lens ring, the cross at its centre, nothing else.
[ "$(sed -n 13p "$work/cursor.txt")" = "....##.......#.......##........." ] || xd_fail "the magnifier is not drawn as its resource: $(cat "$work/cursor.txt")"
[ "$(sed -n 1p "$work/cursor.txt")" = "................................" ] || xd_fail "the magnifier's corners are not transparent"
xd_toolbar zoom

echo "e2e: open the sample raw image without its descriptor: the size dialog"
mkdir -p "$work/in"
cp "$samples/scene.raw" "$work/in/scene.raw"
xd_toolbar open
dialog="$(xd_wait_window '^OPEN IMAGE$')"
xd_file_dialog "$dialog" "$work/in/scene.raw"
xd_wait_gone '^OPEN IMAGE$'
sizes="$(xd_wait_window '^ Image Size$')"
check_outer "$sizes" " Image Size" 214 213 661 200
xdotool windowfocus --sync "$sizes"
xd_click "$sizes" $((8 + 72 + 28)) $((32 + 24 + 10)); xd_type 512
xd_click "$sizes" $((8 + 72 + 28)) $((32 + 56 + 10)); xd_type 512
xd_shot image-size
before="$(xd_screen_digest)"
xd_key Return
xd_wait_gone '^ Image Size$'
# The image windows live inside the main window: nothing to wait for by
# name, so wait for the screen to change and settle.
xd_settle "$before"
opened="$XD_SHOTS/opened-first.png"
import -window root "$opened"
# Where the image window stands: what the open changed on the screen.
read -r img_w img_h img_x img_y < <(convert "$XD_SHOTS/01-start.png" "$opened" -compose difference -composite \
  -threshold 0 -trim -format '%w %h %X %Y\n' info: | tr -d +)
# The descriptor is written once the dialog has closed, as the open goes on.
end=$((SECONDS + XD_PATIENCE))
until [ "$(tr -d '\r' <"$work/in/scene.txt" 2>/dev/null)" = "$(printf '512\n512')" ]; do
  [ "$SECONDS" -lt "$end" ] || xd_fail "the descriptor written is not 512, 512"
  sleep 0.1
done
xd_shot opened

# Right after the open, with no click elsewhere, the next click must reach
# the menu: the dialog's completion list has to be gone.
echo "e2e: outer sizes and centring of the dialogs under the window manager"
# Opens a menu and walks it with keys, each once the menu has shown what
# the last one did: keys sent ahead of a popup that is still opening are lost.
menu_keys() {  # menu-x keys...
  local x="$1" key before
  shift
  before="$(xd_screen_digest)"
  xd_click "$main" "$x" 8
  xd_settle "$before"
  for key in "$@"; do
    before="$(xd_screen_digest)"
    xd_key "$key"
    [ "$key" = Return ] || xd_settle "$before"
  done
}

check_dialog() {  # menu-keys title width height menu-x
  local title="$2"
  menu_keys "$5" $1
  local id
  id="$(xd_wait_window "^$title\$")"
  check_outer "$id" "$title" "$3" "$4" centred
  xd_shot "dialog-${title// /}"
  xd_key Escape
  xd_wait_gone "^$title\$"
}
check_dialog "Down Return" " Author" 310 209 150
check_dialog "Down Down Return" " Copyrigth" 292 188 150
check_dialog "Down Down Down Right Return" " Info" 255 294 150

echo "e2e: the gray-tone count's title bar is empty"
menu_keys 55 Down Down Return
xd_wait_window '^ $' >/dev/null
xd_shot gray-tones
xd_key Return
xd_wait_gone '^ $'

echo "e2e: histogram and its export"
xd_toolbar histo
histo="$(xd_wait_window '^ HISTOGRAM$')"
check_outer "$histo" " HISTOGRAM" 301 380 336 260
xd_shot histogram
xd_click "$histo" $((200 + 37)) $((296 + 12))
dialog="$(xd_wait_window '^Save Histogram$')"
xd_file_dialog "$dialog" "$out/histogram"
xd_wait_gone '^Save Histogram$'
xd_click "$histo" $((16 + 37)) $((296 + 12))
xd_wait_gone '^ HISTOGRAM$'

echo "e2e: treatment Item and Border"
xd_toolbar treatment
params="$(xd_wait_window '^ Parameters$')"
check_outer "$params" " Parameters" 255 403 centred
xdotool windowfocus --sync "$params"
# Edit centres: the edits sit in their group boxes (group box origin + edit).
xd_click "$params" $((8 + 112 + 36)) $((8 + 24 + 10)); xd_key ctrl+a; xd_type "$MIN"
xd_click "$params" $((8 + 112 + 36)) $((8 + 56 + 10)); xd_key ctrl+a; xd_type "$MAX"
xd_click "$params" $((8 + 24 + 10)) $((104 + 72 + 8))
xd_click "$params" $((8 + 104 + 32)) $((216 + 20 + 10)); xd_key ctrl+a; xd_type "$ITEM"
xd_click "$params" $((8 + 104 + 32)) $((216 + 44 + 10)); xd_key ctrl+a; xd_type "$BORDER"
xd_click "$params" $((8 + 104 + 32)) $((216 + 68 + 10)); xd_key ctrl+a; xd_type "$BACKGROUND"
xd_shot parameters
xd_key Return
xd_wait_gone '^ Parameters$'
xd_settle
xd_shot result

echo "e2e: save the result as raw, then as bitmap"
xd_toolbar save
dialog="$(xd_wait_window '^SAVE RESULT$')"
xd_file_dialog "$dialog" "$out/result"
xd_wait_gone '^SAVE RESULT$'
xd_toolbar save
dialog="$(xd_wait_window '^SAVE RESULT$')"
xd_file_dialog "$dialog" "$out/result" 2
xd_wait_gone '^SAVE RESULT$'

echo "e2e: the same image again, in a window made small: fitted again"
xdotool mousemove --sync $((img_x + img_w - 2)) $((img_y + img_h - 2)) mousedown 1 \
  mousemove --sync $((img_x + 150)) $((img_y + 150)) mouseup 1
xd_settle
xd_shot image-window-small
# Inside the frame: its rounded corners show what lies behind.
region="$((img_w - 12))x$((img_h - 12))+$((img_x + 6))+$((img_y + 6))"
same_region() {
  [ "$(compare -metric AE -crop "$region" "$1" "$2" null: 2>&1)" = 0 ]
}
same_region "$opened" "$XD_LAST_SHOT" && xd_fail "the image window did not get smaller"
before="$(xd_screen_digest)"
xd_toolbar open
dialog="$(xd_wait_window '^OPEN IMAGE$')"
xd_file_dialog "$dialog" "$work/in/scene.raw"
xd_wait_gone '^OPEN IMAGE$'
xd_settle "$before"
xd_shot reopened
same_region "$opened" "$XD_LAST_SHOT" || xd_fail "the image opened again is not shown as the first time"

echo "e2e: maximised at 2:1, the scroll bar shows where the view is and moves it"
xdotool mousemove --sync $((img_x + img_w / 2)) $((img_y + 10)) click --repeat 2 1
xd_settle
read -r mx my mw mh < <(xd_geometry "$main")
xd_click "$main" 96 36
xd_click "$main" $((mw / 2)) $((mh / 2))
xd_click "$main" 96 36
xdotool mousemove --sync $((mx + 300)) $((my + 30))
xd_settle
xd_shot maximised-2to1
bar_x=$((mx + mw - 11)) bar_top=$((my + 60)) bar_height=$((mh - 85))
read -r above below < <(thumb_gaps "$XD_LAST_SHOT" "$bar_x" "$bar_top" "$bar_height")
[ -n "${above:-}" ] || xd_fail "no scroll bar thumb at the right of the maximised window"
# The click was below the middle of the image: the view shows its bottom.
[ "$above" -ge 30 ] && [ "$below" -le 3 ] || xd_fail "the thumb is not at the bottom: groove $above above, $below below"
before="$(xd_screen_digest)"
xdotool mousemove --sync $((mx + mw / 2)) $((my + mh / 2)) click --repeat 10 4
xdotool mousemove --sync $((mx + 300)) $((my + 30))
xd_settle "$before"
xd_shot maximised-wheel-up
read -r above below < <(thumb_gaps "$XD_LAST_SHOT" "$bar_x" "$bar_top" "$bar_height")
[ "${above:-99}" -le 3 ] && [ "${below:-0}" -ge 30 ] ||
  xd_fail "after the wheel the thumb is not at the top: groove ${above:-?} above, ${below:-?} below"

echo "e2e: exit with the Exit button"
xd_shot before-exit
xd_toolbar exit
status=0
xd_wait_exit || status=$?
[ "$status" -eq 0 ] || xd_fail "the program ended with status $status"

echo "e2e: compare with kavel-cli"
expect="$work/expected"
mkdir -p "$expect"
params=(--min "$MIN" --max "$MAX" --type item-border --item "$ITEM" --border "$BORDER" --background "$BACKGROUND")
"$cli" treat "$samples/scene.raw" -o "$expect/result.raw" "${params[@]}"
"$cli" treat "$samples/scene.raw" -o "$expect/result.bmp" "${params[@]}"
"$cli" histogram "$samples/scene.raw" -o "$expect/histogram.xls"
for f in result.raw result.txt result.bmp histogram.xls; do
  [ -f "$out/$f" ] || xd_fail "the program did not write $f"
  cmp "$expect/$f" "$out/$f" || xd_fail "$f differs from kavel-cli's"
done
echo "e2e: passed; screenshots in $XD_SHOTS"

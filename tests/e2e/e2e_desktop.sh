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
( sleep 180 && kill -TERM $$ ) >/dev/null 2>&1 &
watchdog=$!
trap 'echo "e2e: FAILED: timed out after 180 s" >&2; exit 1' TERM
trap 'rc=$?; set +e; pkill -P $watchdog; kill $watchdog 2>/dev/null; xd_cleanup; exit $rc' EXIT

MIN=100 MAX=180 ITEM=128 BORDER=255 BACKGROUND=0
out="$work/out"

xd_start_x
xd_start_kavel "$kavel"
xd_shot start
cc -O2 -o "$work/xcursor" "$(dirname "$0")/xcursor.c" -lXfixes -lX11 || xd_fail "cannot build the cursor reader"

echo "e2e: the magnifier as the X server shows it"
xd_toolbar zoom
main="$(xd_wait_window '^Kavel_V2$')"
xd_click "$main" 600 400
"$work/xcursor" >"$work/cursor.txt"
grep -qx 'hot 13 12' "$work/cursor.txt" || xd_fail "the magnifier's hot spot is not 13, 12"
# Row 12 (the hot spot's): the lens ring, the cross at its centre, nothing else.
[ "$(sed -n 13p "$work/cursor.txt")" = "....##.......#.......##........." ] || xd_fail "the magnifier is not drawn as its resource: $(cat "$work/cursor.txt")"
[ "$(sed -n 1p "$work/cursor.txt")" = "................................" ] || xd_fail "the magnifier's corners are not transparent"
xd_toolbar zoom

echo "e2e: open the sample raw image"
xd_toolbar open
dialog="$(xd_wait_window '^OPEN IMAGE$')"
xd_file_dialog "$dialog" "$samples/scene.raw"
xd_wait_gone '^OPEN IMAGE$'
sleep 1  # the image windows live inside the main window: nothing to wait for by name
xd_shot opened

# Right after the open, with no click elsewhere, the next click must reach
# the tool bar: the dialog's completion list has to be gone.
echo "e2e: outer sizes and centring of the dialogs under the window manager"
check_dialog() {  # menu-key-sequence title width height
  local title="$2" width="$3" height="$4"
  xd_click "$main" "$5" 8
  xd_key $1
  local id
  id="$(xd_wait_window "^$title\$")"
  sleep 0.5
  local size
  size="$(xd_outer_size "$id")"
  [ "$size" = "$width $height" ] || xd_fail "'$title' is $size outside, not $width $height"
  if [ -n "${6:-}" ]; then
    local x y w h mx my mw mh left right top bottom
    read -r x y w h < <(xd_geometry "$id")
    read -r left right top bottom < <(xprop -id "$id" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    read -r mx my mw mh < <(xd_geometry "$main")
    local dx=$(( (x - left + width / 2) - (mx + mw / 2) )) dy=$(( (y - top + height / 2) - (my - 19 + (mh + 19) / 2) ))
    [ "${dx#-}" -le 2 ] && [ "${dy#-}" -le 2 ] || xd_fail "'$title' is off centre by $dx, $dy"
  fi
  xd_shot "dialog-${title// /}"
  xd_key Escape
  xd_wait_gone "^$title\$"
}
check_dialog "Down Return" " Author" 310 209 150 centred
check_dialog "Down Down Return" " Copyrigth" 292 188 150 centred
check_dialog "Down Down Down Right Return" " Info" 255 294 150 centred

echo "e2e: histogram and its export"
xd_toolbar histo
histo="$(xd_wait_window '^ HISTOGRAM$')"
sleep 0.5
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
sleep 1
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

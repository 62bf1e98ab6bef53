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
trap 'rc=$?; set +e; pkill -P $watchdog; kill $watchdog; xd_cleanup; exit $rc' EXIT

MIN=100 MAX=180 ITEM=128 BORDER=255 BACKGROUND=0
out="$work/out"

xd_start_x
xd_start_kavel "$kavel"
xd_shot start

echo "e2e: open the sample raw image"
xd_toolbar open
dialog="$(xd_wait_window '^OPEN IMAGE$')"
xd_file_dialog "$dialog" "$samples/scene.raw"
xd_wait_gone '^OPEN IMAGE$'
sleep 1  # the image windows live inside the main window: nothing to wait for by name
xd_shot opened

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

#!/usr/bin/env bash
# Regenerates the pictures in docs/images from the real program: screenshots
# of kavel under a virtual X server with the openbox window manager, and the
# three treatments of the sample made by kavel-cli, scaled without smoothing
# so that a two-tone result stays two tones. XD_DISPLAY=:N uses a running
# server instead of a private one.
#
# usage: scripts/screenshots.sh [BUILD_DIR]   (default build/release, built if needed)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
build="${1:-build/release}"
if [ ! -x "$build/app/kavel" ] || [ ! -x "$build/cli/kavel-cli" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target kavel kavel-cli
  build=build/release
fi
kavel="$(cd "$build" && pwd)/app/kavel"
cli="$(cd "$build" && pwd)/cli/kavel-cli"
images="$root/docs/images"
work="$(mktemp -d)"
mkdir -p "$images"

XD_SHOTS="$work"
. tests/e2e/xdriver.sh
trap 'xd_cleanup; rm -rf "$work"' EXIT

# Crops a screen region (x y width height) of the last screenshot into docs/images.
crop() {
  convert "$XD_LAST_SHOT" -crop "${4}x${5}+${2}+${3}" +repage "$images/$1"
  echo "screenshots: wrote docs/images/$1"
}
# The window with its frame, as the window manager draws it.
window_region() {
  local x y w h left right top bottom
  read -r x y w h < <(xd_geometry "$1")
  read -r left right top bottom < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  echo "$((x - left)) $((y - top)) $((w + left + right)) $((h + top + bottom))"
}

MIN=100 MAX=180

xd_start_x
xd_start_kavel "$kavel"
main="$(xd_wait_window '^Kavel_V2$')"

xd_toolbar open
dialog="$(xd_wait_window '^OPEN IMAGE$')"
xd_file_dialog "$dialog" "$root/samples/scene.raw"
xd_wait_gone '^OPEN IMAGE$'

xd_toolbar treatment
params="$(xd_wait_window '^ Parameters$')"
xdotool windowfocus --sync "$params"
xd_click "$params" 156 42; xd_key ctrl+a; xd_type "$MIN"
xd_click "$params" 156 74; xd_key ctrl+a; xd_type "$MAX"
xd_click "$params" 42 184
xd_click "$params" 144 246; xd_key ctrl+a; xd_type 128
xd_click "$params" 144 270; xd_key ctrl+a; xd_type 255
xd_click "$params" 144 294; xd_key ctrl+a; xd_type 0
xd_shot parameters
read -r x y w h < <(window_region "$params")
crop treatment-dialog.png "$x" "$y" "$w" "$h"
xd_key Return
xd_wait_gone '^ Parameters$'

# Window > Tile: both images one above the other across the frame.
xd_click "$main" 100 8
xd_key Down Down Return
sleep 1
xd_shot main
crop main-window.png 0 0 1280 1024

xd_toolbar histo
histo="$(xd_wait_window '^ HISTOGRAM$')"
sleep 0.5
xd_shot histogram
read -r x y w h < <(window_region "$histo")
crop histogram.png "$x" "$y" "$w" "$h"
xd_click "$histo" 53 308
xd_wait_gone '^ HISTOGRAM$'
xd_toolbar exit
xd_wait_exit

# The three treatments of the sample, as kavel-cli makes them.
convert "$root/samples/scene.bmp" -sample 256x256 "$images/sample.png"
for type in whole border item-border; do
  "$cli" treat "$root/samples/scene.raw" -o "$work/$type.bmp" --min "$MIN" --max "$MAX" \
    --type "$type" --item 128 --border 255 --background 0
  convert "$work/$type.bmp" -sample 256x256 "$images/treatment-$type.png"
  echo "screenshots: wrote docs/images/treatment-$type.png"
done

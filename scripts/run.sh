#!/usr/bin/env bash
# Sets up, builds and starts KAVEL. Without a display it says so and runs the
# command-line demonstration on the bundled sample instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target kavel kavel-cli

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/release/app/kavel "$@"
fi

echo "No display found (DISPLAY is not set): running the command-line demonstration instead."
cli=build/release/cli/kavel-cli
out=build/demo
mkdir -p "$out"
"$cli" treat samples/scene.raw -o "$out/scene-whole.raw" \
  --min 100 --max 180 --type whole --item 255 --background 0
"$cli" treat samples/scene.raw -o "$out/scene-border.bmp" \
  --min 100 --max 180 --type border --border 255 --background 0
"$cli" treat samples/scene.bmp -o "$out/scene-item-border.bmp" \
  --min 100 --max 180 --type item-border --item 128 --border 255 --background 0
"$cli" histogram samples/scene.raw -o "$out/scene-histogram.xls"
echo "Distinct gray tones in samples/scene.raw: $("$cli" tones samples/scene.raw)"
echo "Results written to $(pwd)/$out:"
ls -l "$out"

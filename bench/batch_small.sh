#!/usr/bin/env bash
# Many small inputs through `kavel-cli treat --out-dir`, beside ImageMagick's
# mogrify on the same files in the same run (it thresholds each file into a
# folder of its own, as treat does). Prints the median (and the runs) of RUNS
# alternating runs of each, for COUNT, 4000 and 2000 inputs, and the ratio of
# the 4000 and 2000 kavel-cli figures (planning and writing must scale
# linearly).
#
# usage: bench/batch_small.sh KAVEL_CLI [COUNT] [RUNS]
# Works in a scratch folder under ${TMPDIR:-/tmp}, removed at the end.
set -euo pipefail
cli="$(realpath "$1")" count="${2:-10000}" runs="${3:-3}"
command -v mogrify >/dev/null || { echo "batch_small: mogrify (ImageMagick) is needed" >&2; exit 1; }
work="$(mktemp -d "${TMPDIR:-/tmp}/kavel-batch-XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"

# 16 x 16 8-bit gray bitmaps, each of its own pattern.
python3 - "$count" <<'PY'
import os, struct, sys
count = max(int(sys.argv[1]), 4000)
palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
os.makedirs("in", exist_ok=True)
for n in range(count):
    pixels = bytes((x * 7 + y * 13 + n) % 256 for y in range(16) for x in range(16))
    offset = 14 + 40 + 1024
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 8, 0, len(pixels), 2835, 2835, 256, 256)
    with open(f"in/img{n:05d}.bmp", "wb") as f:
        f.write(header + info + palette + pixels)
PY

seconds() { # command... -> wall seconds on stdout
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

# One command line each, all files on it.
mapfile -t files < <(find in -name '*.bmp' | sort)
# Each timed run writes into a new folder, and nothing is removed until the
# end: on ext4 without a journal, a new file's inode is found by stepping over
# every inode freed in the last one to five minutes, so a run right after the
# removal of the previous run's thousands of files pays for it with a cost per
# file that grows with the count (seen in perf as recently_deleted under
# ext4_create). The file system is synced before each run.
runs_made=0
fresh() { runs_made=$((runs_made + 1)); out="out$runs_made"; mkdir "$out" && sync; }
kavel() { # N
  "$cli" treat "${files[@]:0:$1}" --out-dir "$out" --type whole --min 0 --max 127 --item 255 --background 0 -q
}
magick() { # N
  mogrify -path "$out" -threshold 50% "${files[@]:0:$1}"
}

sizes=("$count" 4000 2000)
declare -A figures
for ((r = 0; r < runs; r++)); do
  for n in "${sizes[@]}"; do
    fresh
    figures[kavel$n]+="$(seconds kavel "$n") "
    fresh
    figures[magick$n]+="$(seconds magick "$n") "
  done
done
median_of() { tr ' ' '\n' <<<"${figures[$1]}" | grep . | median; }
for n in "${sizes[@]}"; do
  printf '%6d inputs: kavel-cli %6.2f s (%s), mogrify %6.2f s (%s)\n' "$n" "$(median_of "kavel$n")" \
    "${figures[kavel$n]% }" "$(median_of "magick$n")" "${figures[magick$n]% }"
done
printf 'kavel-cli 4000 inputs / 2000 inputs: %.2f\n' "$(echo "$(median_of kavel4000) / $(median_of kavel2000)" | bc -l)"

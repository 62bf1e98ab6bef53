#!/bin/bash
# Whole-process timings of kavel-cli against the I/O floor, run by hand (not in CI).
#
# For each size it makes a scene with make_samples (raw with descriptor, and an 8-bit
# bitmap), then runs, ROUNDS times and alternating the commands within each round:
#   dd if=IN of=OUT bs=1M conv=fsync     (the same bytes, with the durability of a synced save)
#   kavel-cli treat IN -o OUT             (item and border, [100, 180])
#   kavel-cli convert IN OUT              (read and write, no treatment)
# for IN = scene.bmp (bitmap to bitmap) and IN = scene.raw (raw to raw). Every command
# runs under /usr/bin/time -v, for its system time and peak resident set; the wall time
# is taken around it from bash's microsecond clock, since time's own has 10 ms steps.
# The table gives the medians of the wall time, of the system time and of the peak
# resident set, the wall time per pixel, and the ratio of the wall time to the dd of the
# same input; a second table compares the time per pixel of each size with the first.
# Outputs are deleted after every run, outside the timing. The inputs are read from the
# page cache (each is read once before the first round).
#
# usage: bench/whole_process.sh [-r ROUNDS] [-b BUILD_DIR]... [-d SCRATCH_DIR] [MEGAPIXELS...]
#   MEGAPIXELS: 100 (10000 x 10000) or 400 (20000 x 20000), or LINESxCOLUMNS; default 100 400
#   BUILD_DIR must hold cli/kavel-cli (default build/ci); the first one also tools/make_samples.
#   Given more than once (before and after a change), the builds' commands alternate too.
#   SCRATCH_DIR needs about 4 bytes per pixel of the largest size, free (default /tmp).
set -euo pipefail

rounds=5
builds=()
scratch=${TMPDIR:-/tmp}
while getopts "r:b:d:h" option; do
    case $option in
        r) rounds=$OPTARG ;;
        b) builds+=("$OPTARG") ;;
        d) scratch=$OPTARG ;;
        *) sed -n '2,22p' "$0"; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(100 400)

[ ${#builds[@]} -eq 0 ] && builds=(build/ci)
clis=()
for build in "${builds[@]}"; do
    clis+=("$(realpath "$build/cli/kavel-cli")")
done
samples=$(realpath "${builds[0]}/tools/make_samples")
python=/usr/bin/python3
work=$(mktemp -d "$scratch/kavel-whole.XXXXXX")
trap 'rm -rf "$work"' EXIT
log=$work/times.csv
treat=(--type item-border --min 100 --max 180 --item 255 --border 128)

echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
    "$(free -g | awk '/Mem:/ {print $2}') GiB, kernel $(uname -r)"
echo "transparent huge pages: enabled $(cat /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null)," \
    "defrag $(cat /sys/kernel/mm/transparent_hugepage/defrag 2>/dev/null)"
for k in "${!clis[@]}"; do
    echo "kavel-cli #$((k + 1)): ${clis[$k]}"
done
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# One timed run: appends "size,case,wall,system,rss_kb" to the log.
run() {
    local size=$1 name=$2
    shift 2
    local report=$work/time.txt
    local start=$EPOCHREALTIME
    /usr/bin/time -v -o "$report" "$@" >/dev/null 2>"$work/stderr.txt" ||
        { echo "failed: $*" >&2; cat "$work/stderr.txt" >&2; exit 1; }
    local end=$EPOCHREALTIME
    $python - "$report" "$size" "$name" "$start" "$end" >>"$log" <<'EOF'
import sys
fields = {}
for line in open(sys.argv[1]):
    key, _, value = line.strip().rpartition(": ")
    fields[key] = value
wall = float(sys.argv[5]) - float(sys.argv[4])
print(f"{sys.argv[2]},{sys.argv[3]},{wall:.6f},{fields['System time (seconds)']},"
      f"{fields['Maximum resident set size (kbytes)']}")
EOF
    rm -f "$work"/out.*
}

for size in "${sizes[@]}"; do
    case $size in
        100) lines=10000 columns=10000 ;;
        400) lines=20000 columns=20000 ;;
        *x*) lines=${size%x*} columns=${size#*x} ;;
        *) echo "unknown size $size" >&2; exit 2 ;;
    esac
    input=$work/in$size
    "$samples" "$input" "$lines" "$columns"
    cat "$input/scene.raw" "$input/scene.bmp" >/dev/null
    for round in $(seq "$rounds"); do
        for kind in bmp raw; do
            in=$input/scene.$kind
            run "$size" "dd $kind" dd if="$in" of="$work/out.$kind" bs=1M conv=fsync
            for k in "${!clis[@]}"; do
                run "$size" "treat $kind #$((k + 1))" "${clis[$k]}" treat "$in" -o "$work/out.$kind" \
                    "${treat[@]}"
                run "$size" "convert $kind #$((k + 1))" "${clis[$k]}" convert "$in" "$work/out.$kind"
            done
        done
    done
    rm -rf "$input"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo

$python - "$log" "$rounds" <<'EOF'
import collections, statistics, sys
runs = collections.defaultdict(list)
for line in open(sys.argv[1]):
    size, name, wall, system, rss = line.strip().split(",")
    runs[(size, name)].append((float(wall), float(system), int(rss)))

def pixels(size):
    if "x" in size:
        lines, columns = size.split("x")
        return int(lines) * int(columns)
    return int(size) * 1_000_000

def label(size):
    return size if "x" in size else f"{size} MP"

print(f"medians of {sys.argv[2]} alternating runs")
print()
print("| size | command | wall | per pixel | system | ÷ dd of the same file | peak RSS |")
print("|---|---|---|---|---|---|---|")
walls = {}
for (size, name), values in runs.items():
    wall = statistics.median(v[0] for v in values)
    walls[(size, name)] = wall
    system = statistics.median(v[1] for v in values)
    rss = statistics.median(v[2] for v in values)
    dd = statistics.median(v[0] for v in runs[(size, "dd " + name.split()[1])])
    print(f"| {label(size)} | {name} | {wall:.3f} s | {wall / pixels(size) * 1e9:.3f} ns |"
          f" {system:.2f} s | {wall / dd:.2f} | {rss / 1024:.1f} MiB |")
sizes = list(dict.fromkeys(size for size, _ in runs))
if len(sizes) > 1:
    print()
    print(f"time per pixel against {label(sizes[0])} (below 1: faster per pixel)")
    print()
    print("| command | " + " | ".join(label(size) for size in sizes[1:]) + " |")
    print("|---|" + "---|" * (len(sizes) - 1))
    for name in dict.fromkeys(name for _, name in runs):
        base = walls[(sizes[0], name)] / pixels(sizes[0])
        cells = [f"{walls[(size, name)] / pixels(size) / base:.2f}" for size in sizes[1:]]
        print(f"| {name} | " + " | ".join(cells) + " |")
EOF

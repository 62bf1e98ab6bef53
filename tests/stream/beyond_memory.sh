#!/bin/bash
# Images larger than the process may even map, through the kavel-cli that
# ships: a sparse 30000 x 30000 raw file and a 20000 x 20000 bitmap whose
# pixels are a hole in the file, under a virtual-memory limit of 200 MB.
# Reading holes costs no disk; the one large output goes to a memory-backed
# folder and is removed.
#   beyond_memory.sh KAVEL_CLI [sanitized]
set -euo pipefail

cli=$(realpath "$1")
if [[ ${2:-} == sanitized ]]; then
    echo "skipped: a sanitized build reserves more address space than the limit"
    exit 77
fi
limit_kb=204800

base=/dev/shm
[[ -d $base && -w $base ]] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/kavel-stream.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Runs kavel-cli under the limit; its peak resident size goes to $work/rss.
limited() {
    (ulimit -v "$limit_kb" && exec /usr/bin/time -f %M -o rss "$cli" "$@")
}

le32() {
    local v=$1
    printf "\\$(printf %03o $((v & 255)))\\$(printf %03o $(((v >> 8) & 255)))"
    printf "\\$(printf %03o $(((v >> 16) & 255)))\\$(printf %03o $(((v >> 24) & 255)))"
}

# 30000 x 30000 = 900 MB of tone 0, none of it on disk.
truncate -s 900000000 big.raw
printf '30000\r\n30000\r\n' >big.txt
tones=$(limited tones big.raw) || fail "tones of the 900 MB raw image"
[[ $tones == 1 ]] || fail "tones gave '$tones', not 1"
echo "tones big.raw: $tones (peak resident $(tail -n 1 rss) KB)"
limited histogram big.raw -o big.xls || fail "histogram of the 900 MB raw image"
[[ $(head -n 1 big.xls) == $'900000000\r' ]] || fail "histogram line 0 is '$(head -n 1 big.xls)'"
echo "histogram big.raw: line 0 $(head -n 1 big.xls | tr -d '\r') (peak resident $(tail -n 1 rss) KB)"

# A 20000 x 20000 8-bit bitmap: header, gray ramp, then 400 MB of tone 0.
{
    printf 'BM'
    le32 $((1078 + 400000000))
    le32 0
    le32 1078
    le32 40
    le32 20000
    le32 20000
    printf '\001\000\010\000'
    le32 0
    le32 400000000
    le32 10000
    le32 10000
    le32 0
    le32 0
    for ((i = 0; i < 256; i++)); do
        printf "\\$(printf %03o $i)\\$(printf %03o $i)\\$(printf %03o $i)\\000"
    done
} >big.bmp
truncate -s $((1078 + 400000000)) big.bmp

# Every pixel selected: the whole result is the item tone.
limited treat big.bmp -o out.raw --type whole --min 0 --max 0 --item 255 || fail "treat of the 400 MB bitmap"
echo "treat big.bmp -> out.raw: $(stat -c %s out.raw) bytes (peak resident $(tail -n 1 rss) KB)"
treated=$(tail -n 1 rss)
# What the image adds to the program's own start-up (its libraries, Qt's among
# them while import is linked in) is the few bands in flight, not the image.
limited --version >/dev/null || fail "kavel-cli --version"
started=$(tail -n 1 rss)
echo "kavel-cli --version: peak resident $started KB"
((treated - started <= 8192)) || fail "treat used $treated KB, $((treated - started)) KB more than start-up"
[[ $(tr -d '\r' <out.txt | head -n 2 | tr '\n' ' ') == "20000 20000 " ]] || fail "descriptor: $(cat out.txt)"
limited histogram out.raw -o out.xls || fail "histogram of the result"
[[ $(sed -n 256p out.xls) == $'400000000\r' ]] || fail "result histogram line 255 is '$(sed -n 256p out.xls)'"
echo "histogram out.raw: line 255 $(sed -n 256p out.xls | tr -d '\r') (peak resident $(tail -n 1 rss) KB)"

# measure of a 30000 x 30000 raw file, again a hole but for four pixels of
# 255: one alone, one at the right edge, and a diagonal pair at the bottom
# left corner (one region touching at a corner, two side by side only).
truncate -s 900000000 marked.raw
cp big.txt marked.txt
for offset in $((1000 * 30000 + 5000)) $((20000 * 30000 + 29999)) $((29999 * 30000)) $((29998 * 30000 + 1)); do
    printf '\377' | dd of=marked.raw bs=1 seek=$offset conv=notrunc status=none
done
limited --version >/dev/null || fail "kavel-cli --version"
measure_start=$(tail -n 1 rss)
for connectivity in 8 4; do
    row=$(limited measure marked.raw --min 1 --max 255 --connectivity $connectivity --format csv | tail -n 1) ||
        fail "measure of the 900 MB raw image"
    regions=$((connectivity == 8 ? 3 : 4))
    [[ $row == "marked.raw,1,255,900000000,4,4,0,0.000000,1,255.0000,255,255,0.0000,$regions" ]] ||
        fail "measure --connectivity $connectivity gave '$row'"
    echo "measure marked.raw --connectivity $connectivity: $row (peak resident $(tail -n 1 rss) KB)"
    (($(tail -n 1 rss) - measure_start <= 8192)) ||
        fail "measure used $(tail -n 1 rss) KB, more than 8 MB over start-up ($measure_start KB)"
done
row=$(limited measure big.raw --min 0 --max 0 --format csv | tail -n 1) || fail "measure of the 900 MB raw image"
[[ $row == "big.raw,0,0,900000000,900000000,0,900000000,1.000000,1,0.0000,0,0,0.0000,1" ]] ||
    fail "measure of all pixels gave '$row'"
echo "measure big.raw: $row (peak resident $(tail -n 1 rss) KB)"

if ((failures > 0)); then
    exit 1
fi
echo "all passed"

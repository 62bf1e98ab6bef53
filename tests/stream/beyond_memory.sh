#!/bin/bash
# Images larger than the process may even map, through the kavel-cli that
# ships: a sparse 30000 x 30000 raw file and a 20000 x 20000 bitmap whose
# pixels are a hole in the file, under a virtual-memory limit of 200 MB.
# Every streaming command (treat, histogram, tones, convert) must stay within
# 16 MiB resident, start-up included: a few lines of a 20000- or 30000-column
# image, where one whole image is 400 MB or more.
# Reading holes costs no disk; large outputs go to a memory-backed folder or a
# pipe and are removed.
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

# The peak of the last run, checked against the bound.
rss_limit_kb=16384
peak() {
    local kb
    kb=$(tail -n 1 rss)
    if [[ ! $kb =~ ^[0-9]+$ ]] || ((kb == 0)); then
        fail "$1: no peak resident size measured ('$kb')"
    elif ((kb > rss_limit_kb)); then
        fail "$1: peak resident $kb KB, above $rss_limit_kb KB"
    fi
    echo "$1: peak resident $kb KB"
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
peak "tones big.raw"
limited histogram big.raw -o big.xls || fail "histogram of the 900 MB raw image"
[[ $(head -n 1 big.xls) == $'900000000\r' ]] || fail "histogram line 0 is '$(head -n 1 big.xls)'"
peak "histogram big.raw"

# raw to bitmap through a pipe: every pixel becomes the background tone 7.
# Counts the pixels after the 1078-byte header and those of another tone.
count_pixels() {
    /usr/bin/python3 -c '
import sys
f = sys.stdin.buffer
f.read(1078)
pixels = others = 0
while chunk := f.read(1 << 20):
    pixels += len(chunk)
    others += len(chunk) - chunk.count(int(sys.argv[1]))
print(pixels, others)' "$1"
}
counted=$(limited treat big.raw -o - --format bmp --type none --background 7 | count_pixels 7) ||
    fail "treat of the 900 MB raw image"
peak "treat big.raw -> bitmap on stdout"
[[ $counted == "900000000 0" ]] || fail "treat wrote pixels and other tones: $counted"

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
peak "treat big.bmp -> out.raw"
[[ $(stat -c %s out.raw) == 400000000 ]] || fail "treat wrote $(stat -c %s out.raw) bytes of raw image"
[[ $(tr -d '\r' <out.txt | head -n 2 | tr '\n' ' ') == "20000 20000 " ]] || fail "descriptor: $(cat out.txt)"
limited histogram out.raw -o out.xls || fail "histogram of the result"
[[ $(sed -n 256p out.xls) == $'400000000\r' ]] || fail "result histogram line 255 is '$(sed -n 256p out.xls)'"
peak "histogram out.raw"

limited convert out.raw out.bmp || fail "convert of the 400 MB raw image"
peak "convert out.raw -> out.bmp"
rm out.raw
[[ $(stat -c %s out.bmp) == $((1078 + 400000000)) ]] || fail "convert wrote $(stat -c %s out.bmp) bytes of bitmap"
tones=$(limited tones out.bmp) || fail "tones of the converted bitmap"
[[ $tones == 1 ]] || fail "the converted bitmap has $tones tones, not 1"
peak "tones out.bmp"

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

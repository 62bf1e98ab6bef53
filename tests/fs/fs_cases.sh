#!/usr/bin/env bash
# File-system cases on the shipped kavel-cli, run as a user would run it:
#   fs_cases.sh KAVEL_CLI WORK_DIR
# Each case prints what the program said; any unexpected outcome fails the run.
# Run as root, the read-only folder case switches to the user nobody.
set -uo pipefail
cli="${1:?kavel-cli}"
work="${2:?work folder}"
rm -rf "$work"
mkdir -p "$work"
chmod 755 "$work"
cd "$work" || exit 1

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# Runs kavel-cli with a time limit so that a hang is a failure, not a stuck
# test; keeps its status and stderr in $rc and $err.
run() {
  err="$(timeout 20 "$cli" "$@" 2>&1 >/dev/null)"
  rc=$?
  echo "  \$ kavel-cli $*"
  echo "  -> exit $rc${err:+, said: $err}"
}
no_temporaries() {
  local left
  left="$(find "$1" -maxdepth 1 -name '.kavel-*.tmp' | head -n 3)"
  [ -z "$left" ] || fail "temporaries left in $1: $left"
}
raw_image() {  # NAME LINES COLUMNS
  head -c $(($2 * $3)) /dev/urandom >"$1.raw"
  printf '%d\r\n%d\r\n' "$2" "$3" >"$1.txt"
}

raw_image in 20 30

echo "== mode and owner of a replaced file are kept"
cp in.raw kept.raw && cp in.txt kept.txt
chmod 600 kept.raw && chmod 640 kept.txt
if [ "$(id -u)" = 0 ]; then chown nobody:nogroup kept.raw; fi
run treat in.raw -o kept.raw --type whole --min 0 --max 128 --item 200
[ "$rc" = 0 ] || fail "save over kept.raw"
[ "$(stat -c %a kept.raw)" = 600 ] || fail "kept.raw mode $(stat -c %a kept.raw)"
[ "$(stat -c %a kept.txt)" = 640 ] || fail "kept.txt mode $(stat -c %a kept.txt)"
if [ "$(id -u)" = 0 ]; then
  [ "$(stat -c %U:%G kept.raw)" = nobody:nogroup ] || fail "kept.raw owner $(stat -c %U:%G kept.raw)"
fi
echo "  modes: kept.raw $(stat -c '%a %U:%G' kept.raw), kept.txt $(stat -c %a kept.txt)"

echo "== a symbolic link is written through and stays a link"
mkdir -p elsewhere
printf 'old' >elsewhere/real.bmp
ln -s elsewhere/real.bmp link.bmp
run convert in.raw link.bmp
[ "$rc" = 0 ] || fail "save through link.bmp"
[ -L link.bmp ] || fail "link.bmp is no longer a link"
[ "$(stat -c %s elsewhere/real.bmp)" = $((1078 + 20 * 32)) ] || fail "real.bmp size $(stat -c %s elsewhere/real.bmp)"
no_temporaries . && no_temporaries elsewhere
echo "  link.bmp -> $(readlink link.bmp), target $(stat -c %s elsewhere/real.bmp) bytes"

echo "== a 255-character name saves"
long="$(printf 'n%.0s' $(seq 1 251)).bmp"
run convert in.raw "$long"
[ "$rc" = 0 ] && [ -f "$long" ] || fail "255-character name"
rm -f "$long"

echo "== a FIFO as input is refused without waiting"
mkfifo pipe.raw && printf '20\r\n30\r\n' >pipe.txt
run tones pipe.raw
[ "$rc" = 1 ] || fail "FIFO input gave exit $rc"
mkfifo pipe.bmp
run histogram pipe.bmp
[ "$rc" = 1 ] || fail "FIFO bitmap input gave exit $rc"

echo "== a FIFO, a device or a link to one as output is refused and left alone"
mkfifo out-pipe.bmp
run convert in.raw out-pipe.bmp
[ "$rc" = 1 ] && [ -p out-pipe.bmp ] || fail "FIFO output: exit $rc"
ln -s /dev/null null.bmp
run convert in.raw null.bmp
[ "$rc" = 1 ] && [ -c /dev/null ] && [ -L null.bmp ] || fail "link to /dev/null: exit $rc"
# Like /dev/stdout, but our own link: a faulty build must not replace the system's.
ln -s /proc/self/fd/1 stdout-link
run histogram in.raw -o stdout-link
[ "$rc" = 1 ] && [ -L stdout-link ] || fail "histogram -o stdout-link: exit $rc"
no_temporaries .

echo "== the file-size limit (ulimit -f, SIGXFSZ not ignored by the caller)"
raw_image big 200 200
printf 'precious' >limited.raw && printf 'old' >limited.txt
err="$(timeout 20 bash -c 'ulimit -f 8; exec "$0" "$@"' "$cli" convert big.raw limited.raw 2>&1)"
rc=$?
echo "  \$ (ulimit -f 8; kavel-cli convert big.raw limited.raw)"
echo "  -> exit $rc, said: $err"
[ "$rc" = 1 ] || fail "under ulimit -f: exit $rc (153 is death by SIGXFSZ)"
[[ "$err" == *"File too large"* ]] || fail "no 'File too large' in: $err"
[ "$(cat limited.raw)" = precious ] && [ "$(cat limited.txt)" = old ] || fail "old pair damaged"
no_temporaries .

echo "== a full disk (a small tmpfs, when mounting is allowed)"
mkdir -p small
if mount -t tmpfs -o size=32k tmpfs small 2>/dev/null; then
  printf 'precious' >small/full.raw && printf 'old' >small/full.txt
  run convert big.raw small/full.raw
  [ "$rc" = 1 ] || fail "full disk: exit $rc"
  [[ "$err" == *"No space left on device"* ]] || fail "no 'No space left on device' in: $err"
  [ "$(cat small/full.raw)" = precious ] && [ "$(cat small/full.txt)" = old ] || fail "old pair damaged"
  no_temporaries small
  umount small
else
  echo "  (mounting refused here; the file-size limit above covers the failed write)"
fi

echo "== a read-only folder as the user nobody"
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  mkdir -p ro && cp in.raw in.txt ro/ && printf 'old' >ro/mine.bmp
  chown nobody:nogroup ro/mine.bmp ro/in.raw ro/in.txt
  chmod 555 ro
  err="$(timeout 20 setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$cli" convert ro/in.raw ro/mine.bmp 2>&1)"
  rc=$?
  echo "  \$ (as nobody) kavel-cli convert ro/in.raw ro/mine.bmp   # mine.bmp writable, folder not"
  echo "  -> exit $rc${err:+, said: $err}"
  [ "$rc" = 0 ] && [ "$(stat -c %s ro/mine.bmp)" = $((1078 + 20 * 32)) ] || fail "in-place save in a read-only folder"
  err="$(timeout 20 setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$cli" convert ro/in.raw ro/new.bmp 2>&1)"
  rc=$?
  echo "  \$ (as nobody) kavel-cli convert ro/in.raw ro/new.bmp"
  echo "  -> exit $rc${err:+, said: $err}"
  [ "$rc" = 1 ] && [[ "$err" == *"Permission denied"* ]] && [ ! -e ro/new.bmp ] || fail "new file in a read-only folder"
  chmod 000 ro/in.raw
  err="$(timeout 20 setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$cli" tones ro/in.raw 2>&1)"
  rc=$?
  echo "  \$ (as nobody) kavel-cli tones ro/in.raw   # mode 000"
  echo "  -> exit $rc${err:+, said: $err}"
  [ "$rc" = 1 ] && [[ "$err" == *"Permission denied"* ]] || fail "unreadable raw file"
  no_temporaries ro
  chmod 755 ro
else
  echo "  (needs root and setpriv to switch to nobody)"
fi

echo "== a kill -9 during a save leaves a temporary of ours, which the next save removes"
mkdir -p killed
raw_image killed/in 4000 10000  # 40 MB
( exec "$cli" convert killed/in.raw killed/out.raw ) &
pid=$!
for _ in $(seq 1 4000); do
  compgen -G 'killed/.kavel-*.tmp' >/dev/null && break
  sleep 0.005
done
kill -9 "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
left="$(cd killed && compgen -G '.kavel-*.tmp')"
echo "  after kill -9: ${left:-nothing left (the save finished first)}"
sleep 1.1  # the next run must start later than the leftover was last written
run convert in.raw killed/other.bmp
[ "$rc" = 0 ] || fail "save after a kill"
no_temporaries killed

echo "== an interrupted save (SIGTERM, SIGINT) removes its temporaries itself"
for signal in TERM INT; do
  ( exec "$cli" convert killed/in.raw killed/term.raw ) &
  pid=$!
  for _ in $(seq 1 4000); do
    compgen -G 'killed/.kavel-*.tmp' >/dev/null && break
    sleep 0.005
  done
  kill -"$signal" "$pid" 2>/dev/null
  wait "$pid"
  echo "  kill -$signal: exit $?"
  no_temporaries killed
done

echo "== two runs writing one raw pair end with a matching pair"
raw_image a 10 10
raw_image b 30 30
for i in $(seq 1 20); do
  "$cli" convert a.raw both.raw 2>/dev/null &
  "$cli" convert b.raw both.raw 2>/dev/null &
  wait
  lines="$(head -n 1 both.txt | tr -d '\r')"
  size="$(stat -c %s both.raw)"
  [ $((lines * lines)) = "$size" ] || { fail "run $i: both.txt says $lines lines, both.raw has $size bytes"; break; }
done
echo "  20 rounds: pixels and descriptor agree"
no_temporaries .

if [ "$failures" -ne 0 ]; then
  echo "fs_cases: $failures failure(s)"
  exit 1
fi
echo "fs_cases: all passed"

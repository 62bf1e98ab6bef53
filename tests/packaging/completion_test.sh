#!/usr/bin/env bash
# Completes command lines with the kavel-cli bash completion as bash would and
# checks what is offered: commands, options, option values and file names.
#
# usage: completion_test.sh COMPLETION_FILE KAVEL_CLI
set -uo pipefail
completion="$1" cli="$2"

# shellcheck source=/dev/null
. /usr/share/bash-completion/bash_completion || { echo "bash-completion is not installed" >&2; exit 1; }
# shellcheck source=/dev/null
. "$completion"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir shots
touch scene.raw photo.BMP camera.png film.tiff scene.txt notes.md

# A stand-in program whose help names an option the completion file does not list.
cat >fake-cli <<'FAKE'
#!/bin/sh
printf 'Usage: fake-cli treat INPUT...\n\n  -o, --output FILE   a file\n      --frobnicate N  new\n'
FAKE
chmod +x fake-cli

failures=0
# complete LINE: fills COMPREPLY for the cursor at the end of LINE, splitting
# words as readline does (blanks separate words, "=" and ":" are words).
complete_line() {
  local line="$1" word="" c i
  COMP_WORDS=()
  for ((i = 0; i < ${#line}; i++)); do
    c="${line:i:1}"
    case "$c" in
      ' ') [ -n "$word" ] && COMP_WORDS+=("$word"); word="" ;;
      '=' | ':') [ -n "$word" ] && COMP_WORDS+=("$word"); COMP_WORDS+=("$c"); word="" ;;
      *) word+="$c" ;;
    esac
  done
  COMP_WORDS+=("$word")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$line" COMP_POINT=${#line}
  COMPREPLY=()
  _kavel_cli "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
}

# expect LINE WORDS...: the offers are exactly WORDS (in any order).
expect() {
  local line="$1"; shift
  complete_line "$line"
  local got="" wanted=""
  [ "${#COMPREPLY[@]}" -gt 0 ] && got="$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')"
  [ "$#" -gt 0 ] && wanted="$(printf '%s\n' "$@" | sort | tr '\n' ' ')"
  if [ "$got" != "$wanted" ]; then
    echo "FAIL: '$line': offered [$got], expected [$wanted]"
    failures=$((failures + 1))
  fi
}

# expect_some LINE WORDS...: the offers include every one of WORDS.
expect_some() {
  local line="$1" w; shift
  complete_line "$line"
  for w in "$@"; do
    if ! printf '%s\n' "${COMPREPLY[@]}" | grep -qxF -- "$w"; then
      echo "FAIL: '$line': '$w' not offered (offered: ${COMPREPLY[*]})"
      failures=$((failures + 1))
    fi
  done
}

# Commands and global options.
expect "kavel-cli " treat histogram tones convert import suggest measure help
expect "kavel-cli t" treat tones
expect "kavel-cli --v" --version
expect "kavel-cli help m" measure
expect "kavel-cli help treat " 

# Options of each command.
expect "kavel-cli treat --ty" --type
expect_some "kavel-cli treat -" -o --output --out-dir --format --type --auto --min --max --item --border --background --size --help
expect "kavel-cli measure --c" --connectivity
expect_some "kavel-cli suggest --" --method --format --try-all --out-dir
expect "kavel-cli import --fo" --force --format
expect_some "kavel-cli convert --" --out-dir --name --format --size --jobs
expect "kavel-cli histogram --n" --name
expect "kavel-cli tones --j" --jobs
expect_some "kavel-cli treat --" --allow-empty --strict --force --quiet --progress
expect_some "kavel-cli import --" --name --jobs --force --quiet
expect_some "kavel-cli measure --" --allow-empty --strict
expect "kavel-cli tones --f"

# Option values, after a blank and after "=".
expect "kavel-cli treat --type i" item-border
expect "kavel-cli treat --type=" whole border item-border none
expect "kavel-cli treat --format " raw bmp
expect "kavel-cli import --format=b" bmp
expect "kavel-cli suggest --format " text csv json
expect "kavel-cli measure --format=c" csv
expect "kavel-cli measure --connectivity " 4 8
expect "kavel-cli suggest --method M" MaxEntropy Mean MinError Minimum Moments
expect "kavel-cli treat --auto Ot" Otsu:dark Otsu:light
expect "kavel-cli treat --auto Otsu:l" light
expect "kavel-cli treat --min "

# File names by extension; folders are always offered.
expect "kavel-cli treat " scene.raw photo.BMP shots
expect "kavel-cli tones s" scene.raw shots
expect "kavel-cli import " photo.BMP camera.png film.tiff shots
expect "kavel-cli treat --out-dir " shots
expect "kavel-cli treat scene.raw -o " scene.raw photo.BMP shots
expect_some "kavel-cli histogram scene.raw -o " notes.md scene.txt

# Options the program's own help names are offered too: the real program, and
# one whose help has an option unknown to the completion file.
expect_some "$cli treat --b" --background --border
expect_some "./fake-cli treat --fr" --frobnicate

if [ "$failures" -ne 0 ]; then
  echo "completion: $failures failed"
  exit 1
fi
echo "completion: all passed"

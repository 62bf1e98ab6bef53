#!/usr/bin/env bash
# Writes the kavel-cli(1) manual page from the program's own help: help2man
# formats `kavel-cli --help`, and every command listed there gets a section of
# its own from `kavel-cli COMMAND --help`, so a new command or option appears
# in the page without editing anything here.
#
# usage: make-cli-manpage.sh KAVEL_CLI EXTRA.h2m OUTPUT.1
# SOURCE_DATE_EPOCH, when set, dates the page (help2man reads it).
set -euo pipefail
cli="$1" extra="$2" out="$3"
name="thresholding of 8-bit gray-tone images from the shell"

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# The command names: the first word of each line of the "Commands:" block.
commands="$("$cli" --help | awk '/^Commands:/ {on = 1; next} on && /^$/ {exit} on && NF {print $1}')"
[ -n "$commands" ] || { echo "make-cli-manpage: no commands in '$cli --help'" >&2; exit 1; }

# help2man's page of one command, cut down to its synopsis and description.
# A continuation line that starts with a word and a run of blanks is a row of
# a small table under an option (the values of --type): it keeps its own line.
{
  echo "[COMMANDS]"
  for command in $commands; do
    help2man -N --no-discard-stderr --help-option="$command --help" --version-string=0 "$cli" >"$tmp/page"
    echo ".SS \"$command\""
    sed -n '/^\.SH SYNOPSIS$/,/^\.SH DESCRIPTION$/{/^\.SH/d;p}' "$tmp/page"
    echo ".PP"
    sed -n '/^\.SH DESCRIPTION$/,/^\.SH /{/^\.SH/d;p}' "$tmp/page" |
      awk 'prev_text && /^[^. ][^ ]*   *[^ ]/ {print ".br"} {print; prev_text = !/^\./}'
  done
} >"$tmp/commands.h2m"

help2man -N --no-discard-stderr --name="$name" --include="$tmp/commands.h2m" --include="$extra" \
  --output="$tmp/out.1" "$cli"
mv "$tmp/out.1" "$out"

#!/usr/bin/env bash
# Builds the three Debian packages from a configured build folder and checks
# each: its contents, its dependencies, lintian, the manual pages, the menu
# entry, that no build path is left in the programs, that its documents link
# only to installed files, and that it unpacks into a scratch root of its own
# (with the packages it depends on) where its programs run.
set -euo pipefail
build_dir="${1:?build dir}"
build_dir="$(cd "$build_dir" && pwd)"
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
fail() { echo "check-package: $*" >&2; exit 1; }

rm -rf "$build_dir/package"
(cd "$build_dir" && cpack -G DEB -B "$build_dir/package" >"$build_dir/package.log" 2>&1) || {
  cat "$build_dir/package.log" >&2
  fail "cpack failed"
}
deb_of() { ls "$build_dir"/package/"$1"_*.deb 2>/dev/null || fail "no package $1"; }
cli_deb="$(deb_of kavel-cli)" import_deb="$(deb_of kavel-import)" desktop_deb="$(deb_of kavel)"
echo "check-package: built $(basename "$cli_deb") $(basename "$import_deb") $(basename "$desktop_deb")"

# contains DEB FILE...: every FILE is in the package, and its documents are
# in its own folder only.
contains() {
  local deb="$1" package contents wanted others
  shift
  package="$(dpkg-deb --field "$deb" Package)"
  contents="$(dpkg-deb --contents "$deb")"
  for wanted in "$@" "./usr/share/doc/$package/copyright" "./usr/share/doc/$package/changelog.Debian.gz"; do
    grep -q " $wanted\$" <<<"$contents" || fail "$wanted missing from $package"
  done
  others="$(grep -o " ./usr/share/doc/[^/]*/\$" <<<"$contents" | grep -v " ./usr/share/doc/$package/\$" || true)"
  [ -z "$others" ] || fail "$package has documents outside /usr/share/doc/$package:$others"
}
contains "$cli_deb" ./usr/bin/kavel-cli ./usr/share/man/man1/kavel-cli.1.gz \
  ./usr/share/bash-completion/completions/kavel-cli ./usr/share/doc/kavel-cli/cli.md \
  ./usr/share/kavel/samples/scene.raw ./usr/share/kavel/samples/scene.txt ./usr/share/kavel/samples/scene.bmp
contains "$import_deb" ./usr/libexec/kavel/kavel-import
contains "$desktop_deb" ./usr/bin/kavel ./usr/share/applications/kavel.desktop \
  ./usr/share/icons/hicolor/scalable/apps/kavel.svg ./usr/share/icons/hicolor/48x48/apps/kavel.png \
  ./usr/share/icons/hicolor/256x256/apps/kavel.png ./usr/share/man/man1/kavel.1.gz \
  ./usr/share/doc/kavel/README.md ./usr/share/doc/kavel/user-guide.md ./usr/share/doc/kavel/images/histogram.png
dpkg-deb --contents "$cli_deb" | grep -q "kavel-import\|/usr/bin/kavel\$" && fail "kavel-cli holds another package's program"

# needs DEB FIELD PACKAGE...: the field names every PACKAGE; none: a package it must not name.
needs() {
  local deb="$1" field="$2" value package
  shift 2
  value="$(dpkg-deb --field "$deb" "$field")"
  echo "check-package: $(dpkg-deb --field "$deb" Package): $field: $value"
  for package in "$@"; do
    tr ',|' '\n' <<<"$value" | awk '{print $1}' | grep -qxF -- "$package" ||
      fail "$(basename "$deb"): no $field on $package"
  done
}
needs "$cli_deb" Depends libc6 libstdc++6
needs "$cli_deb" Recommends kavel-import
dpkg-deb --field "$cli_deb" Depends | grep -qi "qt\|kavel" && fail "kavel-cli depends on more than the C++ runtime"
needs "$import_deb" Depends libqt6gui6 qt6-image-formats-plugins
needs "$desktop_deb" Depends kavel-cli kavel-import libqt6widgets6 libqt6svg6 qt6-qpa-plugins fonts-wine

# Errors and warnings fail; what is accepted is overridden, with the reason,
# in packaging/lintian/PACKAGE.
for deb in "$cli_deb" "$import_deb" "$desktop_deb"; do
  echo "check-package: lintian $(basename "$deb")"
  status=0
  report="$(lintian --fail-on error,warning --display-info "$deb" 2>&1)" || status=$?
  grep -v "running with root privileges" <<<"$report" || true
  [ "$status" -eq 0 ] || fail "lintian reports errors or warnings for $(basename "$deb") (status $status)"
done

# unpack ROOT DEB...: a scratch root holding exactly those packages.
unpack() {
  local root="$1" deb
  shift
  rm -rf "$root"
  for deb in "$@"; do dpkg -x "$deb" "$root"; done
}

# links ROOT: every relative link of every installed document leads to a file in ROOT.
links() {
  local root="$1" doc target
  while IFS= read -r doc; do
    while IFS= read -r target; do
      target="${target%%#*}"
      [ -n "$target" ] || continue
      [ -e "$(dirname "$doc")/$target" ] || fail "${doc#"$root"} links to $target, which is not installed"
    done < <(grep -o '\]([^)]*)' "$doc" | sed 's/^](//; s/)$//' | grep -v '^[a-z]*:' || true)
  done < <(find "$root/usr/share/doc" -name '*.md')
}

# kavel-cli alone: the command, its manual page, completion and samples.
root="$build_dir/package/cli-root"
unpack "$root" "$cli_deb"
links "$root"
cli="$root/usr/bin/kavel-cli"
echo "check-package: kavel-cli alone says: $("$cli" --version)"
[ "$("$cli" tones "$root/usr/share/kavel/samples/scene.raw")" -gt 0 ] || fail "kavel-cli tones fails"
"$cli" treat "$root/usr/share/kavel/samples/scene.raw" -o "$root/result.bmp" --type whole --min 100 --max 180 ||
  fail "kavel-cli treat fails"
if ldd "$cli" | grep -q libQt; then
  fail "kavel-cli links Qt, which only kavel-import needs"
fi
status=0
message="$("$cli" import "$root/usr/share/kavel/samples/scene.bmp" -o "$root/imported.raw" 2>&1)" || status=$?
if [ "$status" -ne 1 ] || ! grep -q "install the package kavel-import" <<<"$message"; then
  fail "import without its helper does not name the package to install: $message"
fi
bash -c '. /usr/share/bash-completion/bash_completion && . "$1" && complete -p kavel-cli' _ \
  "$root/usr/share/bash-completion/completions/kavel-cli" >/dev/null || fail "the bash completion does not load"
# kavel-cli(1) comes from the program's help: every command it lists has its section.
cli_page="$(MANWIDTH=80 man -l "$root/usr/share/man/man1/kavel-cli.1.gz" 2>/dev/null)"
for command in $("$cli" --help | awk '/^Commands:/ {on = 1; next} on && /^$/ {exit} on && NF {print $1}'); do
  grep -q "^   $command\$" <<<"$cli_page" || fail "kavel-cli(1) has no section for '$command'"
done

# With kavel-import: import runs the helper installed beside it; an 8-bit
# gray bitmap imports to the pixels convert reads from it.
root="$build_dir/package/import-root"
unpack "$root" "$cli_deb" "$import_deb"
links "$root"
"$root/usr/bin/kavel-cli" import "$root/usr/share/kavel/samples/scene.bmp" -o "$root/imported.raw" ||
  fail "kavel-cli import with kavel-import fails"
"$root/usr/bin/kavel-cli" convert "$root/usr/share/kavel/samples/scene.bmp" "$root/converted.raw"
cmp -s "$root/imported.raw" "$root/converted.raw" || fail "import and convert of scene.bmp differ"

# The desktop with what it depends on.
root="$build_dir/package/root"
unpack "$root" "$cli_deb" "$import_deb" "$desktop_deb"
links "$root"
# Manual pages: a whatis line, and rendered at 80 columns without a warning.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  lexgrog "$page" >/dev/null || fail "$(basename "$page"): no NAME line that whatis can read"
  warnings="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)" || fail "$(basename "$page") does not render"
  [ -z "$warnings" ] || fail "$(basename "$page") renders with warnings: $warnings"
done
echo "check-package: manual pages render cleanly"
out="$(desktop-file-validate "$root/usr/share/applications/kavel.desktop" 2>&1)" || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
# Paths of this machine have no meaning on another. Qt keeps its literals in
# UTF-16, hence the second pass of strings.
for binary in "$root"/usr/bin/* "$root"/usr/libexec/kavel/*; do
  found="$({ strings -a "$binary"; strings -a -el "$binary"; } | grep -F -e "$source_dir" -e "$build_dir" || true)"
  [ -z "$found" ] || fail "$(basename "$binary") holds build paths: $(tr '\n' ' ' <<<"$found")"
done
# The desktop program has no batch mode: check it is executable and that every
# library it needs resolves on this system.
test -x "$root/usr/bin/kavel"
for binary in "$root/usr/bin/kavel" "$root/usr/libexec/kavel/kavel-import"; do
  if ldd "$binary" | grep -q "not found"; then
    ldd "$binary" | grep "not found" >&2
    fail "$(basename "$binary") needs libraries that are not installed"
  fi
done

# A plain install to a prefix carries no lintian overrides: those are the packages'.
prefix="$build_dir/package/prefix"
rm -rf "$prefix"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
[ ! -e "$prefix/share/lintian" ] || fail "cmake --install puts lintian overrides under $prefix/share/lintian"
[ -x "$prefix/bin/kavel-cli" ] || fail "cmake --install leaves out kavel-cli"
echo "check-package: passed"

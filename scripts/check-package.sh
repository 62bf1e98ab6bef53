#!/usr/bin/env bash
# Builds the Debian package from a configured build folder and checks it: its
# contents, its dependencies, lintian, the manual pages, the menu entry, that
# no build path is left in the programs, and that it unpacks into a scratch
# root with runnable binaries.
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
deb="$(ls "$build_dir"/package/*.deb)"
echo "check-package: built $(basename "$deb")"

contents="$(dpkg-deb --contents "$deb")"
for wanted in ./usr/bin/kavel ./usr/bin/kavel-cli ./usr/libexec/kavel/kavel-import \
  ./usr/share/applications/kavel.desktop \
  ./usr/share/icons/hicolor/scalable/apps/kavel.svg \
  ./usr/share/icons/hicolor/48x48/apps/kavel.png \
  ./usr/share/icons/hicolor/256x256/apps/kavel.png \
  ./usr/share/kavel/samples/scene.raw ./usr/share/kavel/samples/scene.txt \
  ./usr/share/kavel/samples/scene.bmp \
  ./usr/share/man/man1/kavel.1.gz ./usr/share/man/man1/kavel-cli.1.gz \
  ./usr/share/bash-completion/completions/kavel-cli \
  ./usr/share/doc/kavel/copyright ./usr/share/doc/kavel/changelog.Debian.gz \
  ./usr/share/doc/kavel/README.md ./usr/share/doc/kavel/user-guide.md ./usr/share/doc/kavel/cli.md; do
  grep -q " $wanted\$" <<<"$contents" || fail "$wanted missing from the package"
done
# Only the package's own documents folder.
others="$(grep -o " ./usr/share/doc/[^/]*/\$" <<<"$contents" | grep -v " ./usr/share/doc/kavel/\$" || true)"
[ -z "$others" ] || fail "documents outside /usr/share/doc/kavel:$others"

depends="$(dpkg-deb --field "$deb" Depends)"
echo "check-package: Depends: $depends"
for package in libqt6widgets6 libqt6svg6 libc6 qt6-qpa-plugins fonts-wine; do
  grep -Eq "(^|, )$package( |,|\$)" <<<"$depends" || fail "no dependency on $package"
done

# Errors and warnings fail; what is accepted is overridden, with the reason,
# in packaging/lintian-overrides.
echo "check-package: lintian"
status=0
report="$(lintian --fail-on error,warning --display-info "$deb" 2>&1)" || status=$?
grep -v "running with root privileges" <<<"$report" || true
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings (status $status)"

root="$build_dir/package/root"
rm -rf "$root"
dpkg -x "$deb" "$root"

# Manual pages: a whatis line, and rendered at 80 columns without a warning.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  lexgrog "$page" >/dev/null || fail "$(basename "$page"): no NAME line that whatis can read"
  warnings="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)" || fail "$(basename "$page") does not render"
  [ -z "$warnings" ] || fail "$(basename "$page") renders with warnings: $warnings"
done
# kavel-cli(1) comes from the program's help: every command it lists has its section.
cli_page="$(MANWIDTH=80 man -l "$root/usr/share/man/man1/kavel-cli.1.gz" 2>/dev/null)"
for command in $("$root/usr/bin/kavel-cli" --help | awk '/^Commands:/ {on = 1; next} on && /^$/ {exit} on && NF {print $1}'); do
  grep -q "^   $command\$" <<<"$cli_page" || fail "kavel-cli(1) has no section for '$command'"
done
echo "check-package: manual pages render cleanly"

out="$(desktop-file-validate "$root/usr/share/applications/kavel.desktop" 2>&1)" || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"

bash -c '. /usr/share/bash-completion/bash_completion && . "$1" && complete -p kavel-cli' _ \
  "$root/usr/share/bash-completion/completions/kavel-cli" >/dev/null || fail "the bash completion does not load"

# Paths of this machine have no meaning on another. Qt keeps its literals in
# UTF-16, hence the second pass of strings.
for binary in "$root"/usr/bin/* "$root"/usr/libexec/kavel/*; do
  found="$({ strings -a "$binary"; strings -a -el "$binary"; } | grep -F -e "$source_dir" -e "$build_dir" || true)"
  [ -z "$found" ] || fail "$(basename "$binary") holds build paths: $(tr '\n' ' ' <<<"$found")"
done

version="$("$root/usr/bin/kavel-cli" --version)"
echo "check-package: unpacked kavel-cli says: $version"
[ "$("$root/usr/bin/kavel-cli" tones "$root/usr/share/kavel/samples/scene.raw")" -gt 0 ]
# import runs the helper installed beside it; an 8-bit gray bitmap imports to
# the pixels convert reads from it.
"$root/usr/bin/kavel-cli" import "$root/usr/share/kavel/samples/scene.bmp" -o "$root/imported.raw" ||
  fail "the unpacked kavel-cli import fails"
"$root/usr/bin/kavel-cli" convert "$root/usr/share/kavel/samples/scene.bmp" "$root/converted.raw"
cmp -s "$root/imported.raw" "$root/converted.raw" || fail "import and convert of scene.bmp differ"
if ldd "$root/usr/bin/kavel-cli" | grep -q libQt; then
  fail "kavel-cli links Qt, which only kavel-import needs"
fi
# The desktop program has no batch mode: check it is executable and that every
# library it needs resolves on this system.
test -x "$root/usr/bin/kavel"
for binary in "$root/usr/bin/kavel" "$root/usr/libexec/kavel/kavel-import"; do
  if ldd "$binary" | grep -q "not found"; then
    ldd "$binary" | grep "not found" >&2
    fail "$(basename "$binary") needs libraries that are not installed"
  fi
done
echo "check-package: passed"

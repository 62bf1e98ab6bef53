#!/usr/bin/env bash
# Builds the Debian package from a configured build folder and checks it: its
# contents, its dependencies, and that it unpacks into a scratch root with
# runnable binaries.
set -euo pipefail
build_dir="${1:?build dir}"
build_dir="$(cd "$build_dir" && pwd)"

rm -rf "$build_dir/package"
(cd "$build_dir" && cpack -G DEB -B "$build_dir/package" >"$build_dir/package.log" 2>&1) || {
  cat "$build_dir/package.log" >&2
  echo "check-package: cpack failed" >&2
  exit 1
}
deb="$(ls "$build_dir"/package/*.deb)"
echo "check-package: built $(basename "$deb")"

contents="$(dpkg-deb --contents "$deb")"
for wanted in ./usr/bin/kavel ./usr/bin/kavel-cli \
  ./usr/share/applications/kavel.desktop \
  ./usr/share/icons/hicolor/scalable/apps/kavel.svg \
  ./usr/share/icons/hicolor/48x48/apps/kavel.png \
  ./usr/share/icons/hicolor/256x256/apps/kavel.png \
  ./usr/share/kavel/samples/scene.raw ./usr/share/kavel/samples/scene.txt \
  ./usr/share/kavel/samples/scene.bmp; do
  grep -q " $wanted\$" <<<"$contents" || { echo "check-package: $wanted missing from the package" >&2; exit 1; }
done

depends="$(dpkg-deb --field "$deb" Depends)"
echo "check-package: Depends: $depends"
for lib in libqt6widgets6 libqt6svg6 libc6; do
  grep -q "$lib" <<<"$depends" || { echo "check-package: no dependency on $lib" >&2; exit 1; }
done

root="$build_dir/package/root"
rm -rf "$root"
dpkg -x "$deb" "$root"
version="$("$root/usr/bin/kavel-cli" --version)"
echo "check-package: unpacked kavel-cli says: $version"
[ "$("$root/usr/bin/kavel-cli" tones "$root/usr/share/kavel/samples/scene.raw")" -gt 0 ]
# The desktop program has no batch mode: check it is executable and that every
# library it needs resolves on this system.
test -x "$root/usr/bin/kavel"
if ldd "$root/usr/bin/kavel" | grep -q "not found"; then
  ldd "$root/usr/bin/kavel" | grep "not found" >&2
  echo "check-package: kavel needs libraries that are not installed" >&2
  exit 1
fi
echo "check-package: passed"

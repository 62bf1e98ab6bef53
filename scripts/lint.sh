#!/usr/bin/env bash
# The format check and the clang-tidy pass over our C++ sources, with the
# compile commands of a configured build folder (default build/ci). Any
# finding fails the run.
#   lint.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build/ci}"
[ -f "$build_dir/compile_commands.json" ] || { echo "lint: no $build_dir/compile_commands.json" >&2; exit 1; }

mapfile -t sources < <(git ls-files '*.cpp' '*.h' '*.c')
echo "lint: clang-format, ${#sources[@]} files"
clang-format --dry-run --Werror "${sources[@]}"

# The build is GCC's; clang does not know its vectoriser options.
commands="$(mktemp -d)"
trap 'rm -rf "$commands"' EXIT
sed 's/ -fvect-cost-model=[a-z]*//g' "$build_dir/compile_commands.json" >"$commands/compile_commands.json"

# Production code: the core, the conversion, both programs and the tools that the build
# folder compiles. The tests are left out: Google Test's macros are most of
# what the checks would report there.
mapfile -t units < <(git ls-files 'core/*.cpp' 'convert/*.cpp' 'app/*.cpp' 'cli/*.cpp' 'tools/*.cpp' |
  while read -r f; do grep -q "\"file\": \"$PWD/$f\"" "$commands/compile_commands.json" && echo "$f"; done)
echo "lint: clang-tidy, ${#units[@]} translation units"
run-clang-tidy -quiet -p "$commands" -j "$(nproc)" "${units[@]/#/$PWD/}" >"$commands/tidy.log" 2>&1 || {
  sed 's/\x1b\[[0-9;]*m//g' "$commands/tidy.log" | grep -E 'warning:|error:' | sort -u >&2
  echo "lint: clang-tidy found the above" >&2
  exit 1
}
echo "lint: clean"

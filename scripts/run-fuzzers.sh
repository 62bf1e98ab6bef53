#!/usr/bin/env bash
# Runs every fuzz target in BUILD_DIR/fuzz for SECONDS each, starting from the
# seed corpus the project generates. Any crash, leak or timeout fails the run.
set -euo pipefail
build_dir="${1:?build dir}"
seconds="${2:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"

shopt -s nullglob
targets=("$build_dir"/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "run-fuzzers: no fuzz targets in $build_dir/fuzz" >&2
  exit 1
fi
for target in "${targets[@]}"; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  corpus="$build_dir/corpus/$name"
  mkdir -p "$corpus"
  if [ -d "$root/fuzz/seeds/$name" ]; then
    cp -n "$root/fuzz/seeds/$name"/* "$corpus"/ 2>/dev/null || true
  fi
  echo "run-fuzzers: $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build_dir/" "$corpus" 2>"$build_dir/$name.log" || {
      echo "run-fuzzers: $name found a problem:" >&2
      tail -n 60 "$build_dir/$name.log" >&2
      exit 1
    }
  grep -E 'stat::number_of_executed_units' "$build_dir/$name.log" || true
done

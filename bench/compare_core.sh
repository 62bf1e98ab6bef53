#!/bin/bash
# Runs core benchmark binaries alternately and prints the median CPU time of each
# benchmark for each binary: the way to compare a build before and after a change on
# a shared machine. Run by hand (not in CI).
#
# usage: bench/compare_core.sh ROUNDS FILTER KAVEL_BENCH...
#   e.g. bench/compare_core.sh 7 'BM_Memcpy|BM_Treatment/' old/kavel_bench build/ci/bench/kavel_bench
set -euo pipefail
[ $# -ge 3 ] || { sed -n '2,8p' "$0"; exit 2; }
rounds=$1
filter=$2
shift 2
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for round in $(seq "$rounds"); do
    for binary in "$@"; do
        "$binary" --benchmark_filter="$filter" --benchmark_min_time=0.2 --benchmark_format=csv 2>/dev/null |
            grep '^"' | awk -F, -v b="$binary" '{print b "," $1 "," $4}' >>"$out"
    done
done
/usr/bin/python3 - "$out" <<'PY'
import collections, statistics, sys
times = collections.defaultdict(list)
for line in open(sys.argv[1]):
    binary, name, cpu = line.strip().rsplit(",", 2)
    times[(name.strip('"'), binary)].append(float(cpu))
for (name, binary), values in sorted(times.items()):
    print(f"{name:50s} {binary:40s} median {statistics.median(values):8.3f} ms"
          f"  (n={len(values)}, {min(values):.3f} to {max(values):.3f})")
PY

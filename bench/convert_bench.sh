#!/usr/bin/env bash
# Conversion throughput: generates deterministic neutral files of about SIZE and 4 x SIZE
# megabytes (kept in a cache directory between runs), converts each with loadxdb, and prints
# megabytes of neutral text per second, peak resident memory, and for scale the time of one
# md5sum pass over the same bytes.
#
#   bench/convert_bench.sh [BUILD_DIR] [SIZE_MB]      defaults: build 512
#
# The cache directory is $LOADXDB_BENCH_DIR, else /tmp/loadxdb-bench.
set -euo pipefail
build=${1:-build}
size=${2:-512}
cache=${LOADXDB_BENCH_DIR:-/tmp/loadxdb-bench}
mkdir -p "$cache"
loadxdb=$(cd "$build" && pwd)/loadxdb
ndbgen=$(cd "$build" && pwd)/tools/ndbgen/ndbgen
for tool in "$loadxdb" "$ndbgen"; do
  [ -x "$tool" ] || { echo "missing $tool: build first (cmake --build $build)" >&2; exit 1; }
done

# Runs a command; prints "<seconds> <peak resident kilobytes>".
measure() {
  python3 - "$@" <<'PY'
import resource, subprocess, sys, time
start = time.monotonic()
status = subprocess.call(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
elapsed = time.monotonic() - start
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
if status not in (0, 2):
    sys.exit(f"command failed with status {status}: {' '.join(sys.argv[1:])}")
print(f"{elapsed:.3f} {peak}")
PY
}

printf '%-10s %10s %10s %10s %12s %10s %8s\n' "input" "MB" "seconds" "MB/s" "peak RSS MB" "md5 MB/s" "ratio"
for factor in 1 4; do
  mb=$((size * factor))
  file="$cache/bench-$mb.ndb"
  if [ ! -s "$file" ]; then
    echo "generating $file ..." >&2
    "$ndbgen" --seed 1 --size "$mb" --block-size 1024 "$file" 2>/dev/null
  fi
  bytes=$(stat -c %s "$file")
  out="$cache/bench-$mb.xdb"
  rm -f "$out"
  cat "$file" > /dev/null  # both programs read from the page cache
  read -r seconds peak_kb < <(measure "$loadxdb" "$file" "output=$out" verbose=no)
  rm -f "$out"
  read -r md5_seconds _ < <(measure md5sum "$file")
  python3 - "$mb" "$bytes" "$seconds" "$peak_kb" "$md5_seconds" <<'PY'
import sys
mb, size, seconds, peak_kb, md5 = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5])
rate, md5_rate = size / 1e6 / seconds, size / 1e6 / md5
print(f"{mb + ' MB':<10} {size / 1e6:10.1f} {seconds:10.2f} {rate:10.1f} {peak_kb / 1024:12.1f} {md5_rate:10.1f} {rate / md5_rate:8.2f}")
PY
done

#!/usr/bin/env bash
# Conversion throughput against the speed of reading the file: for two workloads made by our
# generator, each at SIZE and 4 x SIZE megabytes, converts the neutral file with loadxdb and times
# md5sum over the same bytes in the same run (best of RUNS each, the file in the page cache), and
# prints megabytes of neutral text per second, the ratio of loadxdb's time to md5sum's, and
# loadxdb's peak resident memory. Then dumps each XDB back to a neutral file with dumpxdb and
# prints the same figures for the dump (megabytes of neutral text written per second, md5sum
# over the XDB it reads), with the ratio of the dump's time to the load's.
#
#   bench/convert_bench.sh [BUILD_DIR] [SIZE_MB] [RUNS]      defaults: build 256 3
#
# The workloads:
#   relations  mostly relations: weights 1 group : 6 integer-keyed relations : 1 single record :
#              3 relations keyed by several words; keys in random or ascending order; each
#              relation of 2,000 to 60,000 words (entries of 1 word up to nearly a block);
#              1024-word blocks
#   groups     mostly groups: weights 8 : 1 : 1 : 0, large groups now and then; 1024-word blocks
#
# Files are generated once and kept in $LOADXDB_BENCH_DIR (default /tmp/loadxdb-bench).
set -euo pipefail
build=${1:-build}
size=${2:-256}
runs=${3:-3}
cache=${LOADXDB_BENCH_DIR:-/tmp/loadxdb-bench}
mkdir -p "$cache"
loadxdb=$(cd "$build" && pwd)/loadxdb
dumpxdb=$(cd "$build" && pwd)/dumpxdb
ndbgen=$(cd "$build" && pwd)/tools/ndbgen/ndbgen
for tool in "$loadxdb" "$dumpxdb" "$ndbgen"; do
  [ -x "$tool" ] || { echo "missing $tool: build first (cmake --build $build)" >&2; exit 1; }
done

workload_options() {  # workload -> ndbgen options
  case $1 in
    relations) echo "--mix 1,6,1,3 --orders random,ascending --relation-words 2000,60000" ;;
    groups) echo "--mix 8,1,1,0" ;;
  esac
}

# Runs a command RUNS times, removing the file $REMOVE (if set) before each run; prints
# "<best seconds> <largest peak resident kilobytes>".
measure() {
  python3 - "$runs" "$@" <<'PY'
import os, subprocess, sys, time
runs, command = int(sys.argv[1]), sys.argv[2:]
remove = os.environ.get("REMOVE")
best, peak = float("inf"), 0
for _ in range(runs):
    if remove and os.path.exists(remove):
        os.remove(remove)
    start = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.monotonic() - start
    code = os.waitstatus_to_exitcode(status)
    if code not in (0, 2):
        sys.exit(f"command failed with status {code}: {' '.join(command)}")
    best, peak = min(best, elapsed), max(peak, usage.ru_maxrss)
print(f"{best:.3f} {peak}")
PY
}

printf '%-10s %8s %9s %9s %9s %9s %7s %12s\n' workload MB loadxdb_s "MB/s" md5sum_s "md5 MB/s" ratio "peak RSS MB"
dumps=()
for workload in relations groups; do
  for factor in 1 4; do
    mb=$((size * factor))
    file="$cache/$workload-$mb.ndb"
    if [ ! -s "$file" ]; then
      echo "generating $file ..." >&2
      # shellcheck disable=SC2046
      "$ndbgen" --seed 1 --size "$mb" --block-size 1024 $(workload_options "$workload") "$file" 2>/dev/null
    fi
    bytes=$(stat -c %s "$file")
    out="$cache/$workload-$mb.xdb"
    rm -f "$out"
    cat "$file" >/dev/null  # into the page cache
    read -r seconds peak_kb < <(REMOVE=$out measure "$loadxdb" "$file" "output=$out" verbose=no)
    read -r md5_seconds _ < <(measure md5sum "$file")
    # The dump of the XDB just made, against md5sum over that XDB and against the load.
    dumped="$cache/$workload-$mb.dump.ndb"
    read -r dump_seconds dump_peak_kb < <(REMOVE=$dumped measure "$dumpxdb" "$out" "output=$dumped" verbose=no)
    read -r xdb_md5_seconds _ < <(measure md5sum "$out")
    dumps+=("$workload $(stat -c %s "$dumped") $dump_seconds $dump_peak_kb $xdb_md5_seconds $seconds")
    rm -f "$out" "$dumped"
    python3 - "$workload" "$bytes" "$seconds" "$peak_kb" "$md5_seconds" <<'PY'
import sys
name, size, seconds, peak_kb, md5 = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5])
mb = size / 1e6
print(f"{name:<10} {mb:8.0f} {seconds:9.2f} {mb / seconds:9.1f} {md5:9.2f} {mb / md5:9.1f} {seconds / md5:7.2f} {peak_kb / 1024:12.1f}")
PY
  done
done

echo
printf '%-10s %8s %9s %9s %9s %7s %9s %12s\n' workload "dump MB" dumpxdb_s "MB/s" md5_xdb_s ratio dump/load "peak RSS MB"
for line in "${dumps[@]}"; do
  # shellcheck disable=SC2086
  python3 - $line <<'PY'
import sys
name, size, seconds, peak_kb, md5, load = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5]), float(sys.argv[6])
mb = size / 1e6
print(f"{name:<10} {mb:8.0f} {seconds:9.2f} {mb / seconds:9.1f} {md5:9.2f} {seconds / md5:7.2f} {seconds / load:9.2f} {peak_kb / 1024:12.1f}")
PY
done

#!/usr/bin/env bash
# Long fuzz runs: builds the fuzz targets (clang, libFuzzer, AddressSanitizer and UBSan), writes the
# seed corpora with our own generator, and fuzzes each target for SECONDS (default 1800), as many
# targets at a time as JOBS (default 2). Corpora grow in BUILD/corpus/<target>/ and are kept for
# the next run; findings land in BUILD/findings/<target>/.
#
#   tools/fuzz_long.sh [SECONDS] [JOBS] [TARGET...]
#
# TARGETs are neutral_reader, conversion and xdb_image (default all three). The build folder is
# build-fuzz-long (LOADXDB_FUZZ_BUILD to change). Prints each target's executions and whether it
# found anything; exits 1 when any target did. A finding becomes a regression input: fix the
# defect, add a test, and copy the input to fuzz/regressions/<target>/ under a name that says
# what it was.
set -euo pipefail
seconds=${1:-1800}
jobs=${2:-2}
shift $(($# > 2 ? 2 : $#))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(neutral_reader conversion xdb_image dump_image)
build=${LOADXDB_FUZZ_BUILD:-build-fuzz-long}
cd "$(dirname "$0")/.."

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DLOADXDB_FUZZ=ON -DLOADXDB_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target fuzz_neutral_reader fuzz_conversion fuzz_xdb_image fuzz_dump_image fuzz_seeds >/dev/null
"$build/fuzz/fuzz_seeds" "$build/seeds" >/dev/null

run() {  # target
  local target=$1 log="$build/fuzz_$1.log"
  mkdir -p "$build/corpus/$target" "$build/findings/$target"
  local seeds=$target
  [ "$target" = dump_image ] && seeds=xdb_image  # the dumper reads the checker's XDB images
  local corpora=("$build/corpus/$target" "$build/seeds/$seeds")
  [ -d "fuzz/regressions/$target" ] && corpora+=("fuzz/regressions/$target")
  local status=0
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$build/findings/$target/" "${corpora[@]}" >"$log" 2>&1 || status=$?
  local executions
  executions=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  if [ "$status" -eq 0 ] && [ -z "$(ls -A "$build/findings/$target")" ]; then
    echo "fuzz_$target: $seconds s, $executions executions, no findings"
  else
    echo "fuzz_$target: $seconds s, $executions executions, FINDINGS in $build/findings/$target (log $log)"
    return 1
  fi
}

failed=0
pids=()
for target in "${targets[@]}"; do
  run "$target" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit $failed

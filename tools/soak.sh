#!/usr/bin/env bash
# Soak run of the randomized conversion property: many more seeds than a test run takes, spread
# over parallel jobs. Each job runs the property test of app_tests on its own range of seeds;
# a failing seed leaves its neutral file in BUILD_DIR/property-failures/ and names the command
# that repeats it.
#
#   tools/soak.sh [BUILD_DIR] [SEEDS] [FIRST_SEED] [JOBS]     defaults: build 5000 1 2
set -uo pipefail
build=${1:-build}
seeds=${2:-5000}
first=${3:-1}
jobs=${4:-2}
tests=$build/tests/app/app_tests
[ -x "$tests" ] || { echo "missing $tests: build first (cmake --build $build)" >&2; exit 1; }
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

start=$(date +%s)
per_job=$(( (seeds + jobs - 1) / jobs ))
for ((j = 0; j < jobs; ++j)); do
  from=$(( first + j * per_job ))
  count=$(( seeds - j * per_job < per_job ? seeds - j * per_job : per_job ))
  [ "$count" -gt 0 ] || continue
  LOADXDB_PROPERTY_FIRST_SEED=$from LOADXDB_PROPERTY_SEEDS=$count \
    "$tests" --gtest_filter='Seeds/Property.*' >"$logs/job$j.log" 2>&1 &
done
status=0
wait || status=$?
for log in "$logs"/job*.log; do
  if ! grep -q '^\[  PASSED  \]' "$log"; then
    status=1
    grep -E '^seed [0-9]+|Failure|differences|exit status' "$log" | head -n 40
  fi
done
ran=$(cat "$logs"/job*.log | sed -n 's/^\[ seeds    \] \([0-9]*\) run.*/\1/p' | awk '{ s += $1 } END { print s + 0 }')
two=$(cat "$logs"/job*.log | sed -n 's/.* run, \([0-9]*\) with two.*/\1/p' | awk '{ s += $1 } END { print s + 0 }')
three=$(cat "$logs"/job*.log | sed -n 's/.* and \([0-9]*\) with three.*/\1/p' | awk '{ s += $1 } END { print s + 0 }')
echo "soak: ${ran:-0} seeds from $first in $(( $(date +%s) - start )) s; ${two:-0} built two and ${three:-0} three or more level-2 blocks"
if [ "$status" -eq 0 ]; then echo "soak: all seeds passed"; else echo "soak: FAILED"; fi
exit "$status"

#!/usr/bin/env bash
# Shows that two builds of loadxdb behave alike: both convert the same corpus (tools/make_corpus.sh:
# generated neutral files and damaged copies), and every XDB is compared byte for byte, and the
# standard-error and standard-output texts and the exit status with cmp.
#
#   tools/compare_outputs.sh BASE_BUILD NEW_BUILD [WORK_DIR]
#
# BASE_BUILD and NEW_BUILD are build folders holding loadxdb (the corpus is made with NEW_BUILD's
# tools/ndbgen/ndbgen). Exits 0 when every output is identical.
set -euo pipefail
base=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
work=${3:-$(mktemp -d)}
mkdir -p "$work/corpus" "$work/base" "$work/new"
ndbgen=$new/tools/ndbgen/ndbgen
for tool in "$base/loadxdb" "$new/loadxdb" "$ndbgen"; do
  [ -x "$tool" ] || { echo "missing $tool" >&2; exit 2; }
done

# The corpus.
n=$("$(dirname "$0")/make_corpus.sh" "$ndbgen" "$work/corpus")

# Both builds, each in its own folder with the same relative names.
differ=0
for f in "$work"/corpus/*.ndb; do
  name=$(basename "$f" .ndb)
  for side in base new; do
    bin=$base/loadxdb
    [ $side = new ] && bin=$new/loadxdb
    (
      cd "$work/$side"
      rm -f "$name.xdb" "$name-listed.xdb"
      set +e
      "$bin" "$f" "output=$name.xdb" verbose=no >"$name.out" 2>"$name.err"
      echo $? >"$name.status"
      "$bin" "$f" "output=$name-listed.xdb" verbose=yes debug=on >"$name-listed.out" 2>"$name-listed.err"
      echo $? >"$name-listed.status"
    )
  done
  for file in "$name.xdb" "$name.out" "$name.err" "$name.status" "$name-listed.xdb" "$name-listed.out" \
    "$name-listed.err" "$name-listed.status"; do
    if [ -e "$work/base/$file" ] || [ -e "$work/new/$file" ]; then
      cmp -s "$work/base/$file" "$work/new/$file" || { echo "differs: $file"; differ=1; }
    fi
  done
done
echo "compared the outputs of $n neutral files, each converted plainly and with listing and debug lines"
[ $differ -eq 0 ] && echo "identical" || echo "DIFFERENT"
exit $differ

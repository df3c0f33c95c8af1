#!/usr/bin/env bash
# Shows that two builds of loadxdb behave alike: both convert the same corpus of generated neutral
# files (block sizes from 300 to 4096 words, extended entries, every key order, relation-heavy
# and group-heavy mixes, and damaged copies: cut short, bytes outside the alphabet, CR LF), and
# every XDB is compared byte for byte, and the standard-error and standard-output texts and the
# exit status with cmp.
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
n=0
add() {  # name, ndbgen options...
  local name=$1
  shift
  "$ndbgen" "$@" "$work/corpus/$name.ndb" 2>/dev/null
  n=$((n + 1))
}
orders=(ascending descending scattered split random clustered duplicates)
sizes=(300 320 777 1024 0 -2048 4096)
for i in "${!sizes[@]}"; do
  b=${sizes[$i]}
  add "mix-$i" --seed $((i + 1)) --block-size "$b" --size 0.6
  add "relations-$i" --seed $((i + 11)) --block-size "$b" --size 1.5 --mix 1,6,1,3 --no-large-groups \
    --orders "${orders[$((i % 7))]},${orders[$(((i + 3) % 7))]}" --relation-words 2000,120000
  add "groups-$i" --seed $((i + 21)) --block-size "$b" --size 1 --mix 8,1,1,0 --no-ddl --flag 1
done
add "crlf" --seed 40 --size 0.3 --crlf
add "no-trailing" --seed 41 --size 0.2 --no-trailing-lines
# Damaged copies: cut inside the data, a byte outside the alphabet, an empty file.
src=$work/corpus/mix-3.ndb
head -c 200000 "$src" >"$work/corpus/cut-inside.ndb"
head -c 81 "$src" >"$work/corpus/cut-after-line1.ndb"
head -n 1500 "$src" >"$work/corpus/cut-at-a-line.ndb"
sed '5s/^\(.\{20\}\)./\1~/' "$src" >"$work/corpus/outside-alphabet.ndb"
: >"$work/corpus/empty.ndb"
n=$((n + 5))

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

#!/usr/bin/env bash
# Writes the corpus that tools/compare_outputs.sh and tools/compare_windows.sh convert with two
# builds: generated neutral files (block sizes from 300 to 4096 words, extended entries, every
# key order, relation-heavy and group-heavy mixes, CR LF line ends) and damaged copies (cut
# short, bytes outside the alphabet, empty). Prints the number of files written.
#
#   tools/make_corpus.sh NDBGEN DIR
set -euo pipefail
ndbgen=$1
dir=$2
mkdir -p "$dir"

n=0
add() {  # name, ndbgen options...
  local name=$1
  shift
  "$ndbgen" "$@" "$dir/$name.ndb" 2>/dev/null
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
src=$dir/mix-3.ndb
head -c 200000 "$src" >"$dir/cut-inside.ndb"
head -c 81 "$src" >"$dir/cut-after-line1.ndb"
head -n 1500 "$src" >"$dir/cut-at-a-line.ndb"
sed '5s/^\(.\{20\}\)./\1~/' "$src" >"$dir/outside-alphabet.ndb"
: >"$dir/empty.ndb"
n=$((n + 5))
echo "$n"

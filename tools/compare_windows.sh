#!/usr/bin/env bash
# Shows that the Windows programs (cross-compiled, run under wine) do exactly what the Linux ones
# do. Both builds convert the shipped example and the corpus of tools/make_corpus.sh, plainly and
# with listing and debug lines; then each dumps the XDB it made, to a file and to standard
# output, and the checker lists it. Compared:
#   - every XDB and every neutral file (to a file or standard output): byte for byte;
#   - the checker's list (standard output) and the exit statuses: exactly;
#   - the messages and listings (standard error): line for line, with the line ends aside (the
#     Windows programs end lines on standard error with CR LF, the console's own) and with the
#     neutral file's full name, which the listing shows in the system's own form (Z:\work\a.ndb
#     under wine for /work/a.ndb), written back in the Linux form.
#
#   tools/compare_windows.sh LINUX_BUILD WINDOWS_BUILD [WORK_DIR]
#
# Needs wine (WINE names another runner). Exits 0 when everything is identical.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
work=${3:-$(mktemp -d)}
wine=${WINE:-wine}
export WINEDEBUG=${WINEDEBUG:--all}
mkdir -p "$work/corpus" "$work/linux" "$work/windows"
for tool in "$linux/loadxdb" "$linux/dumpxdb" "$linux/xdbcheck" "$linux/tools/ndbgen/ndbgen" \
  "$windows/loadxdb.exe" "$windows/dumpxdb.exe" "$windows/xdbcheck.exe"; do
  [ -e "$tool" ] || { echo "missing $tool" >&2; exit 2; }
done

n=$("$source_dir/tools/make_corpus.sh" "$linux/tools/ndbgen/ndbgen" "$work/corpus")
cp "$source_dir/examples/example.ndb" "$work/corpus/example.ndb"
n=$((n + 1))

# run SIDE NAME PROGRAM ARGS...: runs one program of one build in the side's folder; its
# standard output, standard error and status land in NAME.out, NAME.err, NAME.status.
run() {
  local side=$1 name=$2 program=$3
  shift 3
  (
    cd "$work/$side"
    set +e
    if [ "$side" = linux ]; then
      "$linux/$program" "$@" >"$name.out" 2>"$name.err" </dev/null
    else
      "$wine" "$windows/$program.exe" "$@" >"$name.out" 2>"$name.err" </dev/null
    fi
    echo $? >"$name.status"
  )
}

# The Windows messages in the Linux form: no CR before LF, and the drive-letter form of a
# full name written back with slashes.
linux_form() {
  sed -e 's/\r$//' -e '/^ NEUTRAL FILE: /{s#[A-Za-z]:\\#/#;s#\\#/#g}' "$1"
}

differ=0
compared=0
same() {  # file: compared byte for byte
  compared=$((compared + 1))
  cmp -s "$work/linux/$1" "$work/windows/$1" || { echo "differs: $1"; differ=1; }
}
same_text() {  # file of messages: compared in the Linux form
  compared=$((compared + 1))
  linux_form "$work/windows/$1" | cmp -s "$work/linux/$1" - || { echo "differs: $1"; differ=1; }
}

for f in "$work"/corpus/*.ndb; do
  name=$(basename "$f" .ndb)
  for side in linux windows; do
    rm -f "$work/$side/$name".*
    run $side "$name.load" loadxdb "$f" "output=$name.xdb" verbose=no
    run $side "$name.listed" loadxdb "$f" "output=$name-listed.xdb" verbose=yes debug=on
    if [ -e "$work/$side/$name.xdb" ]; then
      run $side "$name.dump" dumpxdb "$name.xdb" "output=$name.ndb"
      run $side "$name.piped" dumpxdb "$name.xdb" output=-
      run $side "$name.check" xdbcheck --list "$name.xdb"
    fi
  done
  for file in "$name.xdb" "$name-listed.xdb" "$name.ndb"; do
    if [ -e "$work/linux/$file" ] || [ -e "$work/windows/$file" ]; then same "$file"; fi
  done
  for run_name in load listed dump piped check; do
    [ -e "$work/linux/$name.$run_name.status" ] || [ -e "$work/windows/$name.$run_name.status" ] || continue
    same "$name.$run_name.status"
    same "$name.$run_name.out"
    same_text "$name.$run_name.err"
  done
done
echo "compared $compared outputs of $n neutral files: XDBs, dumps to files and to standard output, check lists, messages, statuses"
[ $differ -eq 0 ] && echo "identical" || echo "DIFFERENT"
exit $differ

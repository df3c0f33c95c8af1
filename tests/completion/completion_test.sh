#!/usr/bin/env bash
# The bash completion of the three programs: keywords with their "=", the values of each keyword,
# and file names by the extension each place takes. Each case sets the words as bash splits them
# (at "=" too), calls the completion function and compares COMPREPLY, sorted, with what a user
# must be offered.
#
# Usage: completion_test.sh COMPLETION-SCRIPT
set -uo pipefail
script=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir models
touch big.ndb small.ndb big.xdb other.txt models/inner.ndb
COMP_WORDBREAKS=$' \t\n"\'><=;|&(:'
# shellcheck source=/dev/null
source "$script"

passed=0 failed=0
# expect "what" "expected words, sorted, blank-separated" word...   (the last word is completed)
expect() {
  local what=$1 expected=$2
  shift 2
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _loadxdb
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$got" = "$expected" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what: words (${COMP_WORDS[*]}): expected [$expected], got [$got]"
  fi
}

# loadxdb
expect "loadxdb offers its keywords and its neutral files" \
  "big.ndb debug= models/ output= progress= small.ndb verbose=" loadxdb ""
expect "loadxdb completes an abbreviated keyword" "progress=" loadxdb pro
expect "loadxdb offers neutral files, not XDBs" "big.ndb" loadxdb b
expect "loadxdb walks into a directory" "models/inner.ndb" loadxdb models/
expect "loadxdb offers the values of progress" "no yes" loadxdb progress =
expect "loadxdb completes a started value" "yes" loadxdb verbose = y
expect "loadxdb offers the values of debug" "off on" loadxdb big.ndb debug =
expect "loadxdb offers XDB names for its output" "big.xdb models/" loadxdb output =
expect "loadxdb offers nothing for a keyword it does not take" "" loadxdb list =

# dumpxdb
expect "dumpxdb offers its keywords and its XDBs" "big.xdb models/ output= progress= verbose=" dumpxdb ""
expect "dumpxdb has no debug keyword" "" dumpxdb deb
expect "dumpxdb offers neutral names for its output" "big.ndb models/ small.ndb" dumpxdb big.xdb output =
expect "dumpxdb offers the values of verbose" "no yes" dumpxdb verbose =

# xdbcheck
expect "xdbcheck offers its options" "--help --list" xdbcheck -
expect "xdbcheck offers XDBs" "big.xdb models/" xdbcheck --list ""
expect "a program called by its path is completed as itself" "big.xdb" /usr/bin/xdbcheck bi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

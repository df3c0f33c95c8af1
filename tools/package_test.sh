#!/usr/bin/env bash
# The packages as a user gets them: builds the Debian package and the source tarball of a build
# folder with cpack, checks the package's contents list (the three programs, their gzipped
# manual pages, the format documents, the completions; nothing from the build tree or the
# tests) and its control fields (version, dependencies found by dpkg-shlibdeps), installs it into
# a scratch root and runs the installed programs from there: the banner of `loadxdb --version`,
# the shipped example converted and checked. The tarball must hold the sources and no build
# folder. Needs dpkg-deb and dpkg-shlibdeps (Debian's dpkg and dpkg-dev); no root.
#
# Usage: tools/package_test.sh BUILD-FOLDER   (built already)
set -euo pipefail
build=$(cd "${1:?usage: package_test.sh BUILD-FOLDER}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(loadxdb VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "PACKAGE TEST FAILED: $*" >&2
  exit 1
}

echo "== cpack: Debian package and source tarball of version $version"
(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack -G DEB"; }
(cd "$build" && cpack --config CPackSourceConfig.cmake -B "$scratch/out" >"$scratch/cpack-source.log" 2>&1) ||
  { cat "$scratch/cpack-source.log"; fail "cpack of the sources"; }
deb=$(ls "$scratch"/out/loadxdb_"$version"_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no loadxdb_${version}_*.deb made"
tarball="$scratch/out/loadxdb-$version-source.tar.gz"
[ -f "$tarball" ] || fail "no source tarball $tarball made"

echo "== contents of $(basename "$deb")"
dpkg-deb -c "$deb" | tee "$scratch/contents"
paths=$(awk '{print $6}' "$scratch/contents" | sed 's|^\./|/|; s|/$||')
for expected in /usr/bin/loadxdb /usr/bin/dumpxdb /usr/bin/xdbcheck \
  /usr/share/man/man1/loadxdb.1.gz /usr/share/man/man1/dumpxdb.1.gz /usr/share/man/man1/xdbcheck.1.gz \
  /usr/share/doc/loadxdb/neutral-format.md /usr/share/doc/loadxdb/xdb-format.md /usr/share/doc/loadxdb/dumpxdb.md \
  /usr/share/doc/loadxdb/README.md \
  /usr/share/bash-completion/completions/loadxdb /usr/share/bash-completion/completions/dumpxdb \
  /usr/share/bash-completion/completions/xdbcheck; do
  grep -Fxq -- "$expected" <<<"$paths" || fail "the package lacks $expected"
done
if grep -Ev '^/usr(/(bin|share(/(man(/man1)?|doc(/loadxdb)?|bash-completion(/completions)?))?)?)?(/[^/]+)?$' <<<"$paths" | grep .; then
  fail "the package holds files outside the places above"
fi
if grep -Ei 'test|testkit|ndbgen|CMakeFiles|\.a$|\.o$|\.h$|\.cc$' <<<"$paths"; then
  fail "the package holds files of the build tree or the tests"
fi
for program in loadxdb dumpxdb xdbcheck; do
  grep -q "^-rwxr-xr-x .* ./usr/bin/$program\$" "$scratch/contents" || fail "/usr/bin/$program is not executable by all"
done

echo "== control fields"
dpkg-deb -f "$deb" Package Version Section Architecture Depends | tee "$scratch/control"
grep -qx "Version: $version" "$scratch/control" || fail "the package's version is not the project's ($version)"
grep -q '^Depends: .*libc6' "$scratch/control" || fail "no dependency on the C library: dpkg-shlibdeps did not run"
grep -q '^Depends: .*libstdc++6' "$scratch/control" || fail "no dependency on the C++ library"

echo "== install into a scratch root and run from there"
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
banner=$("$root/usr/bin/loadxdb" --version 2>&1) || fail "the installed loadxdb --version"
echo "$banner"
[ "$banner" = " LOADXDB - V$version (06-Jul-2012)" ] || fail "the banner of the installed loadxdb: '$banner'"
"$root/usr/bin/dumpxdb" --version 2>&1 | grep -q "DUMPXDB - V$version" || fail "the installed dumpxdb --version"
work="$scratch/work"
mkdir "$work"
(cd "$work" && "$root/usr/bin/loadxdb" "$source_dir/examples/example.ndb" output=example.xdb verbose=no) ||
  fail "the installed loadxdb converting the shipped example"
"$root/usr/bin/xdbcheck" "$work/example.xdb" >"$scratch/check.log" 2>&1 || { cat "$scratch/check.log"; fail "the installed xdbcheck finds the example unsound"; }
(cd "$work" && "$root/usr/bin/dumpxdb" example.xdb output=example.ndb verbose=no) || fail "the installed dumpxdb"
gzip -dc "$root/usr/share/man/man1/loadxdb.1.gz" | cmp -s - "$source_dir/man/loadxdb.1" ||
  fail "the installed manual page is not man/loadxdb.1"

echo "== source tarball"
tar -tzf "$tarball" | sed "s|^loadxdb-$version-source/||" >"$scratch/sources"
echo "$(wc -l <"$scratch/sources") entries"
for expected in CMakeLists.txt README.md app/loadxdb.cc app/progress.cc platform/terminal.h platform/posix/terminal.cc man/loadxdb.1 \
  completion/loadxdb docs/xdb-format.md examples/example.ndb tools/package_test.sh tests/app/progress_test.cc .ci/run; do
  grep -Fxq -- "$expected" "$scratch/sources" || fail "the source tarball lacks $expected"
done
if grep -E '^(build[^/]*|\.git|_CPack_Packages)(/|$)|/CMakeCache\.txt$|\.xdb$' "$scratch/sources"; then
  fail "the source tarball holds a build folder, git's data or an XDB"
fi

echo "package test: 1 passed, 0 failed"

#!/usr/bin/env bash
# install_test.sh BUILD_DIR CMAKE CPACK MAN_PAGES
#
# Installs the build in BUILD_DIR with `cmake --install` into a temporary
# prefix and requires the three programs there, runnable, with the README,
# jbbtool's JSON schemas (each what `jbbtool schema NAME` prints) and a man
# page each (jbbview's only, unless MAN_PAGES is ON: help2man makes the
# others); then makes the package of
# the platform (`cpack`: a Debian package on Linux, a zip on Windows) and
# requires the same files in it.
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 BUILD_DIR CMAKE CPACK MAN_PAGES" >&2
  exit 2
fi
build=$(realpath "$1")
cmake=$2
cpack=$3
man_pages=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/jbb-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

"$cmake" --install "$build" --prefix "$work/prefix" >"$work/install.log" ||
  { cat "$work/install.log" >&2; exit 1; }
programs=(jbbview jbbtool jbbgen)
schemas=()
for n in check-2 stats-2 dump-1 diff-1; do schemas+=("schemas/jbbtool.$n.schema.json"); done

if grep -q 'CPACK_GENERATOR "ZIP"' "$build/CPackConfig.cmake"; then
  # Windows: the executables and the README side by side, nothing else.
  for p in "${programs[@]}"; do
    [ -f "$work/prefix/$p.exe" ] || fail "$p.exe not installed"
  done
  [ -f "$work/prefix/README.md" ] || fail "README.md not installed"
  expected=$(printf '%s\n' README.md jbbgen.exe jbbtool.exe jbbview.exe "${schemas[@]}" | LC_ALL=C sort)
  actual=$(cd "$work/prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
  [ "$actual" = "$expected" ] || fail "installed files: $actual"

  (cd "$work" && "$cpack" -G ZIP --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log") ||
    { cat "$work/cpack.log" >&2; exit 1; }
  zip=$(ls "$work"/pkg/*.zip)
  listing=$(cd "$work" && "$cmake" -E tar tf "$zip" | sed 's|^[^/]*/||' | grep -v '/$' | LC_ALL=C sort)
  [ "$listing" = "$expected" ] || fail "zip holds: $listing"
else
  # Linux: the programs in bin/, the README in share/doc/, the man pages
  # in share/man/man1/.
  for p in "${programs[@]}"; do
    [ -x "$work/prefix/bin/$p" ] || fail "bin/$p not installed"
  done
  version=$("$work/prefix/bin/jbbtool" --version) || fail "the installed jbbtool does not run"
  [ "$("$work/prefix/bin/jbbgen" --version)" = "jbbgen ${version#jbbtool }" ] ||
    fail "jbbgen --version does not match $version"
  [ -f "$work/prefix/share/doc/jbbview/README.md" ] || fail "README.md not installed"
  for f in "${schemas[@]}"; do
    n=${f#schemas/jbbtool.}
    "$work/prefix/bin/jbbtool" schema "${n%-*.schema.json}" | cmp -s - "$work/prefix/share/doc/jbbview/$f" ||
      fail "share/doc/jbbview/$f is not what jbbtool schema ${n%-*.schema.json} prints"
  done
  # jbbview's man page is written by hand; help2man makes the others.
  man_files=()
  with_pages=(jbbview)
  [ "$man_pages" = ON ] && with_pages=("${programs[@]}")
  for p in "${with_pages[@]}"; do
    page=share/man/man1/$p.1
    man_files+=("./usr/$page")
    grep -q "^\.TH \"\?${p^^}\"\? \"\?1\"\? " "$work/prefix/$page" 2>/dev/null || fail "no man page $page"
    grep -q "^\.SH \"\?SYNOPSIS" "$work/prefix/$page" 2>/dev/null || fail "$page has no synopsis"
  done

  (cd "$work" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log") ||
    { cat "$work/cpack.log" >&2; exit 1; }
  deb=$(ls "$work"/pkg/*.deb)
  [ "$(dpkg-deb -f "$deb" Package)" = jbbview ] || fail "package name: $(dpkg-deb -f "$deb" Package)"
  [ -n "$(dpkg-deb -f "$deb" Depends)" ] || fail "the package has no dependencies"
  contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
  for f in ./usr/bin/jbbview ./usr/bin/jbbtool ./usr/bin/jbbgen ./usr/share/doc/jbbview/README.md \
           "${schemas[@]/#/./usr/share/doc/jbbview/}" "${man_files[@]}"; do
    grep -qxF "$f" <<<"$contents" || fail "$f is not in $(basename "$deb")"
  done
fi

[ "$failures" -eq 0 ] || exit 1
echo "installed and packaged: ${programs[*]}"

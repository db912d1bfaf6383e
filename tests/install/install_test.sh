#!/usr/bin/env bash
# install_test.sh BUILD_DIR CMAKE CPACK
#
# Installs the build in BUILD_DIR with `cmake --install` into a temporary
# prefix and requires the three programs there, runnable, with a README
# (on Windows the user's README.txt and the man pages as text, with CR LF
# line ends), jbbtool's JSON schemas (each what `jbbtool schema NAME`
# prints) and, on Linux, a gzipped man page each, the copyright file and
# the changelog; then makes the package of the platform (`cpack`: a Debian
# package on Linux, a zip on Windows) and requires the same files in it.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 BUILD_DIR CMAKE CPACK" >&2
  exit 2
fi
build=$(realpath "$1")
cmake=$2
cpack=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/jbb-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

"$cmake" --install "$build" --prefix "$work/prefix" >"$work/install.log" ||
  { cat "$work/install.log" >&2; exit 1; }
programs=(jbbview jbbtool jbbgen)
schemas=()
for n in check-3 stats-2 dump-1 diff-1 info-1; do schemas+=("schemas/jbbtool.$n.schema.json"); done

if grep -q 'CPACK_GENERATOR "ZIP"' "$build/CPackConfig.cmake"; then
  # Windows: the executables, the user's README and the schemas side by
  # side, nothing else.
  for p in "${programs[@]}"; do
    [ -f "$work/prefix/$p.exe" ] || fail "$p.exe not installed"
  done
  if [ -f "$work/prefix/README.txt" ]; then
    lines=$(wc -l <"$work/prefix/README.txt")
    [ "$(grep -c $'\r$' "$work/prefix/README.txt")" = "$lines" ] || fail "README.txt has lines without CR LF"
    grep -q 'jbbtool check' "$work/prefix/README.txt" || fail "README.txt does not name jbbtool check"
  else
    fail "README.txt not installed"
  fi
  # The man pages as text, when the build had groff to format them.
  texts=()
  for p in "${programs[@]}"; do
    [ -f "$build/man/$p.txt" ] && texts+=("$p.txt")
  done
  [ ${#texts[@]} -eq 0 ] || [ ${#texts[@]} -eq 3 ] || fail "only some man pages formatted as text: ${texts[*]}"
  for t in "${texts[@]}"; do
    grep -q $'^SYNOPSIS\r$' "$work/prefix/$t" || fail "$t is not a man page as text with CR LF line ends"
  done
  expected=$(printf '%s\n' README.txt jbbgen.exe jbbtool.exe jbbview.exe "${texts[@]}" "${schemas[@]}" | LC_ALL=C sort)
  actual=$(cd "$work/prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
  [ "$actual" = "$expected" ] || fail "installed files: $actual"

  (cd "$work" && "$cpack" -G ZIP --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log") ||
    { cat "$work/cpack.log" >&2; exit 1; }
  zip=$(ls "$work"/pkg/*.zip)
  listing=$(cd "$work" && "$cmake" -E tar tf "$zip" | sed 's|^[^/]*/||' | grep -v '/$' | LC_ALL=C sort)
  [ "$listing" = "$expected" ] || fail "zip holds: $listing"
else
  # Linux: the programs in bin/, the README, copyright file and changelog
  # in share/doc/jbbview/, the gzipped man pages in share/man/man1/.
  for p in "${programs[@]}"; do
    [ -x "$work/prefix/bin/$p" ] || fail "bin/$p not installed"
  done
  version=$("$work/prefix/bin/jbbtool" --version) || fail "the installed jbbtool does not run"
  [ "$("$work/prefix/bin/jbbgen" --version)" = "jbbgen ${version#jbbtool }" ] ||
    fail "jbbgen --version does not match $version"
  docs=()
  for f in README.md copyright changelog.gz; do
    docs+=("./usr/share/doc/jbbview/$f")
    [ -f "$work/prefix/share/doc/jbbview/$f" ] || fail "share/doc/jbbview/$f not installed"
  done
  grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$work/prefix/share/doc/jbbview/copyright" || fail "the copyright file is not in the machine-readable format"
  for f in "${schemas[@]}"; do
    n=${f#schemas/jbbtool.}
    "$work/prefix/bin/jbbtool" schema "${n%-*.schema.json}" | cmp -s - "$work/prefix/share/doc/jbbview/$f" ||
      fail "share/doc/jbbview/$f is not what jbbtool schema ${n%-*.schema.json} prints"
  done
  man_files=()
  for p in "${programs[@]}"; do
    page=share/man/man1/$p.1.gz
    man_files+=("./usr/$page")
    text=$(gzip -dc "$work/prefix/$page" 2>/dev/null) || { fail "no man page $page"; continue; }
    grep -q "^\.TH ${p^^} 1 " <<<"$text" || fail "$page is not ${p}'s man page"
    grep -q "^\.SH SYNOPSIS" <<<"$text" || fail "$page has no synopsis"
  done

  (cd "$work" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log") ||
    { cat "$work/cpack.log" >&2; exit 1; }
  deb=$(ls "$work"/pkg/*.deb)
  [ "$(dpkg-deb -f "$deb" Package)" = jbbview ] || fail "package name: $(dpkg-deb -f "$deb" Package)"
  [ -n "$(dpkg-deb -f "$deb" Depends)" ] || fail "the package has no dependencies"
  contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
  for f in ./usr/bin/jbbview ./usr/bin/jbbtool ./usr/bin/jbbgen "${docs[@]}" \
           "${schemas[@]/#/./usr/share/doc/jbbview/}" "${man_files[@]}"; do
    grep -qxF "$f" <<<"$contents" || fail "$f is not in $(basename "$deb")"
  done
fi

[ "$failures" -eq 0 ] || exit 1
echo "installed and packaged: ${programs[*]}"

#!/usr/bin/env bash
# console_tool.sh WINDOWS_JBBTOOL WINDOWS_JBBGEN WINE
#
# jbbtool.exe on a console and redirected, on journals named, and holding
# names, with characters outside the ANSI code page (1252 under Wine).  The
# console is Wine's, on a pseudo-terminal from script(1), which shows the
# console's text as UTF-8 (see console_names.sh).  The file name reaches
# jbbtool whole through the wide command line; on the console every
# character shows, and redirected the output is its UTF-8 bytes.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 WINDOWS_JBBTOOL WINDOWS_JBBGEN WINE" >&2
  exit 2
fi
tool=$(realpath "$1")
gen=$(realpath "$2")
wine=$3
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8 TZ=UTC
work=$(mktemp -d "${TMPDIR:-/tmp}/jbb-console-tool.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

greek='C:\Δοκιμή\日本語\ファイル.txt'
latin='C:\café\plain.txt'
printf '4\t1\t2024-01-01T00:00:00\t2024-01-01T00:00:00\t%s\n' "$greek" "$latin" >both.txt
printf '4\t1\t2024-01-01T00:00:00\t2024-01-01T00:00:00\t%s\n' "$latin" >one.txt
"$wine" "$gen" both --input both.txt --no-progress </dev/null >/dev/null
"$wine" "$gen" one --input one.txt --no-progress </dev/null >/dev/null
mv both.jbbdb 'Δοκιμή.jbbdb'

run="'$wine' '$tool' diff 'Δοκιμή.jbbdb' one.jbbdb"
script -qec "$run" /dev/null </dev/null >console.out 2>&1 || true
"$wine" "$tool" diff 'Δοκιμή.jbbdb' one.jbbdb >redirected.out 2>&1 || true

failures=0
expect() {  # expect FILE TEXT WHAT
  if ! grep -aqF -- "$2" "$1"; then
    echo "FAIL: $3: no '$2' in $1:" >&2
    cat "$1" >&2
    failures=$((failures + 1))
  fi
}
expect console.out "$greek" "the name on the console"  # its tab shown as blanks
expect console.out "summary: 2 entries in A, 1 in B" "the summary on the console"
expect redirected.out "only-a	$greek" "the name redirected"
[ "$failures" -eq 0 ]

#!/usr/bin/env bash
# console_names.sh WINDOWS_JBBVIEW WINDOWS_JBBGEN WINE WINDOWS_JBBTOOL
#
# jbbview.exe on a console and redirected, on a journal whose names hold
# characters outside the ANSI code page (1252 under Wine).  The console is
# Wine's, on a pseudo-terminal from script(1): Wine gives a program whose
# output is a terminal a console and shows what it writes there as UTF-8
# (LC_ALL=C.UTF-8).  On the console every character of the names must
# show; redirected, the output is the ANSI code page's text as before, '?'
# for what it lacks.  (Wine's terminal shows a character outside the BMP
# as two U+FFFD, so the names stay inside it.)  jbbtool.exe gets the
# journal by a file name outside the code page, through the wide command
# line; its names show whole on the console and are UTF-8 redirected.
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 WINDOWS_JBBVIEW WINDOWS_JBBGEN WINE WINDOWS_JBBTOOL" >&2
  exit 2
fi
view=$(realpath "$1")
gen=$(realpath "$2")
wine=$3
tool=$(realpath "$4")
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8 TZ=UTC
work=$(mktemp -d "${TMPDIR:-/tmp}/jbb-console.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

greek='C:\Δοκιμή\日本語\ファイル.txt'
latin='C:\café\plain.txt'
printf '4\t1\t2024-01-01T00:00:00\t2024-01-01T00:00:00\t%s\n' "$greek" "$latin" >names.txt
"$wine" "$gen" names --input names.txt --no-progress </dev/null >/dev/null
# Requests are read in the ANSI code page: "café" is caf\xe9.
latin_ansi=$(printf 'C:\\caf\xe9\\plain.txt')
printf 'list\nfind %s\nquit\n' "$latin_ansi" >requests.txt

# On the console (stdin stays the request file: only the output is the
# terminal's).
script -qec "'$wine' '$view' names i <requests.txt" /dev/null </dev/null >console.out 2>&1
# Redirected.
"$wine" "$view" names i <requests.txt >redirected.out 2>&1 || true

# jbbtool's diff against a journal of the plain name alone, on the console
# (where a tab shows as blanks) and redirected.
printf '4\t1\t2024-01-01T00:00:00\t2024-01-01T00:00:00\t%s\n' "$latin" >latin.txt
"$wine" "$gen" latin --input latin.txt --no-progress </dev/null >/dev/null
cp names.jbbdb 'Δοκιμή.jbbdb'
script -qec "'$wine' '$tool' diff 'Δοκιμή.jbbdb' latin.jbbdb" /dev/null </dev/null >tool-console.out 2>&1 || true
"$wine" "$tool" diff 'Δοκιμή.jbbdb' latin.jbbdb >tool-redirected.out 2>&1 || true

failures=0
expect() {  # expect FILE TEXT WHAT
  if ! grep -aqF -- "$2" "$1"; then
    echo "FAIL: $3: no '$2' in $1:" >&2
    grep -a "Object Name" "$1" >&2 || cat "$1" >&2
    failures=$((failures + 1))
  fi
}
expect console.out "Object Name  : $greek" "the listing on the console"
expect console.out "Object Name  : $latin" "the listing on the console"
expect console.out "Located Journal Database Record" "the found entry on the console"
expect redirected.out "Object Name  : C:\\??????\\???\\????.txt" "the listing redirected"
expect redirected.out "Object Name  : $latin_ansi" "the listing redirected"
expect redirected.out "Located Journal Database Record" "the found entry redirected"
expect tool-console.out "$greek" "jbbtool's name on the console"
expect tool-console.out "summary: 2 entries in A, 1 in B" "jbbtool's summary on the console"
expect tool-redirected.out "only-a	$greek" "jbbtool's name redirected"
[ "$failures" -eq 0 ]

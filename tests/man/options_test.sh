#!/usr/bin/env bash
# options_test.sh JBBTOOL JBBGEN MAN_DIR
#
# Holds the hand-written man pages in MAN_DIR (jbbtool.1, jbbgen.1) to the
# programs' --help: every command that `jbbtool --help` lists has its
# subsection (.SS) under COMMANDS, every option that `jbbtool COMMAND
# --help` shows appears in that subsection or under OPTIONS (which holds
# those every command takes), and every option that `jbbgen --help` shows
# appears in jbbgen.1.  An option counts as shown where the usage names it
# or where an indented line begins with it.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 JBBTOOL JBBGEN MAN_DIR" >&2
  exit 2
fi
jbbtool=$1
jbbgen=$2
man_dir=$3
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The options a help text shows, one a line.
shown_options() {
  awk '
    /^Usage:/ { usage = 1 }
    usage && /^[[:space:]]*$/ { usage = 0 }
    usage { s = $0; while (match(s, /--[a-z][a-z0-9-]*/)) { print substr(s, RSTART, RLENGTH); s = substr(s, RSTART + RLENGTH) } next }
    /^[[:space:]]+--[a-z]/ { match($0, /--[a-z][a-z0-9-]*/); print substr($0, RSTART, RLENGTH) }
  ' | sort -u
}

# A man page's text as its source has it, with hyphens plain and no font
# changes.
plain_page() {
  sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\f(..//g' "$1"
}

# The lines of section or subsection $2 (".SH NAME" or ".SS NAME") of the
# plain page in file $1, up to the next heading of either kind.
section() {
  awk -v head="$2" '
    /^\.S[HS] / { inside = ($0 == head || $0 == head "\"") }
    inside' "$1"
}

# Whether text $1 mentions option $2 as a whole word.
mentions() {
  grep -qE -- "(^|[^a-zA-Z0-9-])$2([^a-zA-Z0-9-]|\$)" <<<"$1"
}

work=$(mktemp -d "${TMPDIR:-/tmp}/jbb-manopts.XXXXXX")
trap 'rm -rf "$work"' EXIT
plain_page "$man_dir/jbbtool.1" >"$work/jbbtool.1"
plain_page "$man_dir/jbbgen.1" >"$work/jbbgen.1"

common=$(section "$work/jbbtool.1" ".SH OPTIONS")
[ -n "$common" ] || fail "jbbtool.1 has no OPTIONS section"
for opt in $("$jbbtool" --help | shown_options); do
  mentions "$common" "$opt" || fail "jbbtool.1: OPTIONS lacks $opt (jbbtool --help)"
done

commands=$("$jbbtool" --help | awk '/^Commands:/ { on = 1; next } on && /^  [a-z]/ { print $1; next } on { on = 0 }')
[ -n "$commands" ] || fail "jbbtool --help lists no commands"
checked=0
for cmd in $commands; do
  text=$(section "$work/jbbtool.1" ".SS $cmd")
  if [ -z "$text" ]; then
    fail "jbbtool.1 has no subsection .SS $cmd"
    continue
  fi
  for opt in $("$jbbtool" "$cmd" --help | shown_options); do
    checked=$((checked + 1))
    mentions "$text" "$opt" || mentions "$common" "$opt" ||
      fail "jbbtool.1: $cmd lacks $opt (jbbtool $cmd --help)"
  done
done

gen_page=$(cat "$work/jbbgen.1")
gen_options=$("$jbbgen" --help | shown_options)
[ -n "$gen_options" ] || fail "jbbgen --help shows no options"
for opt in $gen_options; do
  checked=$((checked + 1))
  mentions "$gen_page" "$opt" || fail "jbbgen.1 lacks $opt (jbbgen --help)"
done

[ "$failures" -eq 0 ] || exit 1
echo "the man pages document all $checked options that the commands' --help shows"

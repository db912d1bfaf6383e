#!/bin/sh
# Compiles a few message sources with jbbtool msgc and runs the message
# repository's fuzz target on them and on fixed changes of them.
#   nls_replay_test.sh JBBTOOL NLS_REPLAY [MUTATIONS]
set -eu
tool=$1
replay=$2
mutations=${3:-3000}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cat > "$dir/a.msg" <<'SRC'
1 I "Hello %s, you have %d new messages.\n"
2 E "Copied %2$s to %1$s (%3$lld bytes, %5$*4$d%%).\n"
3 Z response "Y" "Continue? (Y/N) "
4 L "%3$.*2$s|%1$c|%4$lc|%5$x|%6$ls"
5 W "%*.*d %-10s %c %lu %lld %f %ls %%"
7 12 "caf\x82 in code page 850"
12 S "%10$d%9$d%8$d%7$d%6$d%5$d%4$d%3$d%2$d%1$d"
SRC
long=$(printf '%0600d' 0)
echo "6 K \"$long %s $long\"" >> "$dir/a.msg"
printf '1 I "one"\n9 E "nine %%1$s"\n' > "$dir/b.msg"
"$tool" msgc "$dir/a.msg" "$dir/a.rep"
"$tool" msgc "$dir/b.msg" "$dir/b.rep"
TMPDIR=$dir "$replay" --mutations "$mutations" "$dir/a.rep" "$dir/b.rep"

#!/bin/sh
# Makes a few journals of different shapes with jbbgen and runs the fuzz
# target on them and on fixed changes of them (jbbdb_replay).
#   replay_test.sh JBBGEN JBBDB_REPLAY [MUTATIONS]
set -eu
gen=$1
replay=$2
mutations=${3:-1000}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$gen" "$dir/one" --count 1 --no-progress >/dev/null
"$gen" "$dir/small" --count 40 --seed 7 --no-progress >/dev/null
"$gen" "$dir/levels" --count 700 --seed 3 --no-progress >/dev/null
"$gen" "$dir/open" --count 60 --seed 5 --leave-open --no-progress >/dev/null
TMPDIR=$dir "$replay" --mutations "$mutations" "$dir/one.jbbdb" "$dir/small.jbbdb" "$dir/levels.jbbdb" "$dir/open.jbbdb"

#!/usr/bin/env bash
# json_schemas.sh LINUX_BUILD_DIR WINDOWS_JBBTOOL WINE VALIDATOR
#
# The Windows jbbtool.exe (under WINE) writes JSON that validates against
# the schemas it prints, as the Linux build's e2e test requires of the
# Linux jbbtool: check, stats, dump and diff --json on journals of the
# Linux build's jbbgen (sound, held open, empty, with an unpaired surrogate
# in a key, of type 0 with entries), on one damaged in several ways and on
# noise for salvage; check on a file shorter than a control record writes
# no document, only its line on standard error.  VALIDATOR (validate_json.py)
# runs under /usr/bin/python3 with python3-jsonschema; without them the
# test is skipped (exit status 77), except in CI, which installs them.
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 LINUX_BUILD_DIR WINDOWS_JBBTOOL WINE VALIDATOR" >&2
  exit 2
fi
jbbgen=$(realpath "$1/tools/jbbgen")
tool=$(realpath "$2")
wine=$3
validator=$(realpath "$4")
if ! /usr/bin/python3 -c 'import jsonschema' 2>/dev/null; then
  echo "no /usr/bin/python3 with jsonschema (tools/install-deps.sh installs python3-jsonschema)"
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi

export TZ=UTC WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d "${TMPDIR:-/tmp}/jbb-json-schemas.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

"$jbbgen" sound --no-progress --count 3000 --seed 8 >/dev/null
"$jbbgen" open --no-progress --count 50 --leave-open >/dev/null
"$jbbgen" empty --no-progress --count 0 >/dev/null
printf '%%key 0043003a005c006c006f006e0065d800\ncreate\tfile\t0\t0\tC:\\lone\n' >odd.txt
"$jbbgen" odd --no-progress --input odd.txt >/dev/null
"$jbbgen" type0 --no-progress --count 40 --type unformatted >/dev/null
# Damage: lastIndex 0 in the control record, noise over the first slot's
# info block and over bytes in the middle of the file.
cp sound.jbbdb damaged.jbbdb
printf '\0\0\0\0' | dd of=damaged.jbbdb bs=1 seek=20 conv=notrunc status=none
head -c 24 /dev/zero | tr '\0' '\125' | dd of=damaged.jbbdb bs=1 seek=2088 conv=notrunc status=none
head -c 3000 /dev/zero | tr '\0' '\252' | dd of=damaged.jbbdb bs=1 seek=300000 conv=notrunc status=none
head -c 1000 sound.jbbdb >short.jbbdb
head -c 50000 /dev/zero | tr '\0' '\315' >noise.jbbdb

n=0
run() {  # run SCHEMA ARGS...: one output of jbbtool.exe, LF line ends
  local schema=$1
  shift
  n=$((n + 1))
  "$wine" "$tool" "$@" 2>"$n.err" | tr -d '\r' >"$schema-$n.json" || true
  [ -s "$schema-$n.json" ] || fail "jbbtool $* wrote nothing: $(cat "$n.err")"
}
for f in sound open empty odd; do
  run check check --json $f.jbbdb
  run stats stats --json $f.jbbdb
  run dump dump --json $f.jbbdb
done
run check check --json damaged.jbbdb
run check check --json type0.jbbdb
grep -q '"just-created-entries":1' check-$n.json || fail "type0.jbbdb: $(cat check-$n.json)"
"$wine" "$tool" check --json short.jbbdb >short.out 2>short.err && fail "check short.jbbdb: exit status 0"
[ ! -s short.out ] || fail "check short.jbbdb wrote $(cat short.out)"
grep -q '^jbbtool check: short.jbbdb: not a journal database: ' short.err || fail "check short.jbbdb said $(cat short.err)"
run stats stats --json damaged.jbbdb
run dump dump --salvage --json damaged.jbbdb
run dump dump --salvage --json noise.jbbdb
run diff diff --json sound.jbbdb odd.jbbdb
grep -q '"file":"damaged.jbbdb".*"summary":{"ctrl-field":1,"slot-gap":' check-*.json ||
  fail "the damaged file's findings: $(grep -ho '"file":"damaged.jbbdb".*"summary":{[^}]*}' check-*.json)"
grep -q '"code":"key-unpaired-surrogate"' check-*.json || fail "no note of the unpaired surrogate"

for schema in check stats dump diff; do
  "$wine" "$tool" schema $schema | tr -d '\r' >$schema.schema.json
  /usr/bin/python3 "$validator" $schema.schema.json $schema-*.json || fail "$schema documents"
done
[ "$failures" -eq 0 ] || exit 1
echo "the Windows jbbtool's JSON validates"

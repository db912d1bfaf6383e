#!/usr/bin/env bash
# same_output.sh LINUX_BUILD_DIR WINDOWS_JBBVIEW WINE
#
# Runs the Linux jbbview (LINUX_BUILD_DIR/viewer/jbbview) and the Windows
# jbbview.exe (under WINE) on copies of the same journal files and requires
# the same results: standard output and standard error byte for byte once
# the CR LF line ends of the Windows text-mode streams are LF and the value
# of "Total DB Walk Time" is masked, the same exit status, and the same
# database file afterwards (or none on both).  The journals come from the
# Linux build's make_sample and jbbgen: reports of every kind, the open
# state, the just-created question, interactive listings, damaged and
# missing files.  Names stay ASCII wherever the viewer prints them: each
# platform prints text in its own user locale's encoding.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 LINUX_BUILD_DIR WINDOWS_JBBVIEW WINE" >&2
  exit 2
fi
linux_view=$(realpath "$1/viewer/jbbview")
jbbgen=$(realpath "$1/tools/jbbgen")
make_sample=$(realpath "$1/tests/make_sample")
win_view=$(realpath "$2")
wine=$3
for f in "$linux_view" "$jbbgen" "$make_sample" "$win_view"; do
  [ -f "$f" ] || { echo "missing: $f" >&2; exit 1; }
done

export TZ=UTC WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d "${TMPDIR:-/tmp}/jbb-same-output.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/src
mkdir -p "$src" "$work/linux" "$work/windows"

gen() {  # gen NAME ARGS...: a journal made by jbbgen
  local name=$1; shift
  "$jbbgen" "$src/$name" --no-progress "$@"
}

# ---- the journals ----
"$make_sample" "$src/sample" >/dev/null
gen change --count 5000 --seed 11
gen incremental --count 800 --seed 3 --type incremental --server SRV01 --node NODE7 \
  --state in-progress --max-size 3g
gen inuse --count 300 --leave-open --server SERVER --node NODE1 --max-size 10m
gen empty --count 0 --fs 'E:\Data'
gen dates --count 10 --activated -86400 --validated 3000-12-31T23:59:59 --state valid
gen justkeep --count 20 --type unformatted
gen justdrop --count 20 --type unformatted
gen noanswer --count 1500 --type unformatted

# Listed in interactive mode: ASCII names, every action and type, times
# at both ends of the range the viewer shows and outside it.
entries=$work/entries.txt
{
  printf '# action\ttype\tinserted\tobject time\tname\n'
  i=0
  for action in rename-old rename-new delete create change-attribute modify delete-restore 9; do
    for type in file dir 7; do
      printf '%s\t%s\t%d\t%d\tC:\\Users\\Public\\Documents\\item-%02d %s\n' \
        "$action" "$type" $((1700000000 + i * 86399)) $((1600000000 - i * 7)) "$i" "$action"
      i=$((i + 1))
    done
  done
  printf 'create\tfile\t0\t-5\tC:\\epoch\n'
  printf 'modify\tfile\t32535215999\t32535216000\tD:\\last second\n'
  printf 'delete\tdir\t1251072000\t1251072000\t\\\\server\\share\\folder\n'
} >"$entries"
gen listed --input "$entries" --server FILESRV01 --node WORKSTATION-07
gen listedinc --input "$entries" --type incremental --order sorted

# Damaged and missing files.
head -c 3000 "$src/change.jbbdb" >"$src/truncated.jbbdb"
head -c 1000 "$src/change.jbbdb" >"$src/short.jbbdb"
cp "$src/change.jbbdb" "$src/garbage.jbbdb"
printf '%*s' 200 '' | tr ' ' '\377' |
  dd of="$src/garbage.jbbdb" bs=1 seek=2100 conv=notrunc status=none
mkdir "$src/folder.jbbdb"

# ---- the runs: NAME, then "i" for interactive mode, then the input ----
cases=(
  "sample||"
  "change||"
  "incremental||"
  "inuse||"
  "empty||"
  "dates||"
  "justkeep||y\n"
  "justdrop||n\n"
  "noanswer||"
  "listed|i|List\nQuit\n"
  "listedinc|i|bogus request\nlist\n"
  "change|i|Quit\n"
  "truncated||"
  "short||"
  "garbage||"
  "missing||"
  "folder||"
)

normalize() {  # CR LF to LF, the walk time masked
  sed -e 's/\r$//' -e 's/^\(Total DB Walk Time   : \).*$/\1<T>/' "$1"
}

failed=0
passed=0
n=0
for c in "${cases[@]}"; do
  IFS='|' read -r name mode input <<<"$c"
  n=$((n + 1))
  tag="$n-$name"
  for side in linux windows; do
    rm -rf "$work/$side"
    cp -R "$src" "$work/$side"
    printf "$input" >"$work/$side.in"
  done
  args=("$name")
  [ -z "$mode" ] || args+=("$mode")
  set +e
  (cd "$work/linux" && "$linux_view" "${args[@]}" <"$work/linux.in" >"$work/$tag.linux.out" \
    2>"$work/$tag.linux.err")
  linux_status=$?
  (cd "$work/windows" && "$wine" "$win_view" "${args[@]}" <"$work/windows.in" \
    >"$work/$tag.windows.out" 2>"$work/$tag.windows.err")
  windows_status=$?
  set -e

  problems=()
  [ "$linux_status" = "$windows_status" ] ||
    problems+=("exit status: Linux $linux_status, Windows $windows_status")
  for stream in out err; do
    if ! diff -u --label "Linux std$stream" --label "Windows std$stream" \
      <(normalize "$work/$tag.linux.$stream") <(normalize "$work/$tag.windows.$stream") \
      >"$work/$tag.$stream.diff"; then
      problems+=("std$stream differs:"$'\n'"$(head -n 60 "$work/$tag.$stream.diff")")
    fi
  done
  if [ -f "$work/linux/$name.jbbdb" ] || [ -f "$work/windows/$name.jbbdb" ]; then
    cmp "$work/linux/$name.jbbdb" "$work/windows/$name.jbbdb" >/dev/null 2>&1 ||
      problems+=("the database files differ afterwards (or one is gone)")
  fi
  if ! grep -q 'Quillstore' "$work/$tag.linux.out"; then
    problems+=("the Linux run printed no banner: nothing was compared")
  fi

  if [ ${#problems[@]} -eq 0 ]; then
    passed=$((passed + 1))
    echo "same: $name ${args[*]:1} (status $linux_status)"
  else
    failed=$((failed + 1))
    echo "DIFFERENT: $name ${args[*]:1}"
    printf '  %s\n' "${problems[@]}"
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

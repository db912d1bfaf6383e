#!/usr/bin/env bash
# Builds every configuration of CMakePresets.json and runs every test:
# Linux, Linux under AddressSanitizer and UndefinedBehaviorSanitizer, the
# tests that run threads under ThreadSanitizer (only the targets they
# need), and
# Windows x86-64 (mingw-w64 cross build, tests under Wine), whose tests
# include the comparison of its viewer with the Linux one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
bash "$root/tools/install-deps.sh" all
cd "$root"

build() {
  echo "=== $1 build (${SECONDS} s)"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j"$jobs"
}

run_tests() {
  echo "=== $1 tests (${SECONDS} s)"
  ctest --preset "$1" -j"$jobs"
}

build linux
run_tests linux
build sanitize
run_tests sanitize
build tsan
run_tests tsan

# The benchmark on a small journal: that it builds and runs, not its figures.
echo "=== benchmark smoke run (${SECONDS} s)"
bash "$root/bench/run.sh" --smoke

# Wine makes its prefix (~/.wine) on first use.  Made here, once, with no
# display and without the dialogs that offer to install Mono and Gecko,
# so that parallel tests do not race to make it.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
echo "=== wine prefix (${SECONDS} s)"
"$wine" wineboot --init </dev/null >/dev/null 2>&1 || true
"$wineserver" -w

build windows
# The Windows build registers the comparison with the Linux viewer only
# when it finds that viewer: it must be there.
listed=$(ctest --preset windows -N -R '^Platforms\.SameOutputAsTheLinuxBuild$')
if [[ $listed != *"Total Tests: 1"* ]]; then
  echo "The Windows/Linux output comparison is not registered" >&2
  exit 1
fi
run_tests windows
echo "=== all passed (${SECONDS} s)"

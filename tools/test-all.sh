#!/usr/bin/env bash
# Builds every configuration and runs every test: Linux, Linux under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
bash "$root/tools/install-deps.sh" all

run() {
  local name=$1; shift
  echo "=== $name build"
  cmake -S "$root" -B "$root/build/$name" "$@" >/dev/null
  cmake --build "$root/build/$name" -j"$jobs"
  echo "=== $name tests"
  (cd "$root/build/$name" && ctest --output-on-failure -j"$jobs" --timeout 600)
}

run linux -DCMAKE_BUILD_TYPE=RelWithDebInfo
run sanitize -DCMAKE_BUILD_TYPE=Debug -DJBB_SANITIZE=ON

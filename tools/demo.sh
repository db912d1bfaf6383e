#!/usr/bin/env bash
# Builds the viewer, makes a sample journal and shows its report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/install-deps.sh" native
cmake -S "$root" -B "$root/build/linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/linux" -j"$(nproc)" --target jbbview make_sample >/dev/null
mkdir -p "$root/build/sample"
"$root/build/linux/tests/make_sample" "$root/build/sample/sample"
"$root/build/linux/viewer/jbbview" "$root/build/sample/sample"

#!/usr/bin/env bash
# Builds the viewer and the generator, makes a sample journal with jbbgen
# and shows its report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/install-deps.sh" native
cmake -S "$root" -B "$root/build/linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/linux" -j"$(nproc)" --target jbbview jbbgen >/dev/null
mkdir -p "$root/build/sample"
"$root/build/linux/tools/jbbgen" "$root/build/sample/sample" --force --count 25000 --seed 7 \
  --fs 'D:' --server FILESRV01 --node WORKSTATION-07 --max-size 100M
"$root/build/linux/viewer/jbbview" "$root/build/sample/sample"

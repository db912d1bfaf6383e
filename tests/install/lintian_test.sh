#!/usr/bin/env bash
# lintian_test.sh BUILD_DIR CPACK
#
# Makes the Debian package of the build in BUILD_DIR (`cpack -G DEB`) and
# runs lintian on it: any error (a line "E: ...") fails the test, and so
# does lintian itself failing.  Without lintian the test is skipped (exit
# status 77), unless CI=true: CI installs lintian (tools/install-deps.sh).
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR CPACK" >&2
  exit 2
fi
build=$(realpath "$1")
cpack=$2

if ! command -v lintian >/dev/null 2>&1; then
  if [ "${CI:-}" = true ]; then
    echo "FAIL: lintian is not installed (tools/install-deps.sh installs it)" >&2
    exit 1
  fi
  echo "lintian is not installed: skipped"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/jbb-lintian.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log") ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/pkg/*.deb)

status=0
lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
if grep -q '^E:' "$work/lintian.log" || [ "$status" -ne 0 ]; then
  echo "FAIL: lintian finds errors in $(basename "$deb") (exit status $status)" >&2
  exit 1
fi
echo "lintian: no errors in $(basename "$deb")"

#!/bin/sh
# Under the sanitizers, a fault while the fuzz target sends jbbtool's
# reports to /dev/null still shows the sanitizer's report and names the
# input that failed.
#   report_test.sh JBBDB_REPLAY
set -u
out=$("$1" --fault-while-quiet 2>&1)
status=$?
[ "$status" -eq 77 ] && exit 77
if [ "$status" -eq 0 ]; then
  echo "the fault ended with status 0"
  exit 1
fi
case $out in
  *"ERROR: AddressSanitizer: heap-buffer-overflow"*"jbbdb_replay: the input that failed: --fault-while-quiet"*) ;;
  *) echo "the sanitizer's report is missing:"; echo "$out"; exit 1 ;;
esac

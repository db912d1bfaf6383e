#!/bin/sh
# help2man-input.sh PROGRAM OPTION...: PROGRAM's output for help2man.  The
# further lines of the usage ("       PROGRAM ...", in the first paragraph)
# become help2man's "  or: PROGRAM ..." lines, which it puts in the
# synopsis; everything else is passed through unchanged.
prog=$1
shift
name=$(basename "$prog")
out=$("$prog" "$@") || exit
printf '%s\n' "$out" | sed -E "1,/^\$/ s/^ +(${name}( |\$))/  or: \\1/"

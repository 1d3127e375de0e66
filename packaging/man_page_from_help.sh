#!/bin/sh
# Writes the man page of a program, gzipped, from its own --help (see help_to_man.awk).
#   man_page_from_help.sh PROGRAM OUTPUT.gz DATE SOURCE SUMMARY SEE_ALSO
# Fails, and leaves no output, when the program's --help fails or prints nothing.
set -eu
program=$1 output=$2
help=$(LC_ALL=C.UTF-8 "$program" --help)
[ -n "$help" ] || { echo "$program --help printed nothing" >&2; exit 1; }
printf '%s\n' "$help" |
  LC_ALL=C awk -v prog="$(basename "$program")" -v date="$3" -v source="$4" -v summary="$5" \
    -v see_also="$6" -f "$(dirname "$0")/help_to_man.awk" |
  gzip -9n >"$output.tmp"
mv "$output.tmp" "$output"

#!/usr/bin/env bash
# Every program has a manual page, named after it, that renders without a warning.
#   lint_man_pages.sh <man-dir> <program>...
set -u
man_dir=$1; shift
failures=0
for program in "$@"; do
    page="$man_dir/$program.1"
    if [ ! -f "$page" ]; then
        echo "$program: no manual page $page"; failures=$((failures + 1)); continue
    fi
    # The NAME line is what apropos and whatis index: "<program> \- <summary>".
    if ! grep -q "^$program \\\\- ." "$page"; then
        echo "$program: NAME line does not read '$program \\- ...'"; failures=$((failures + 1))
    fi
    if ! grep -q '^\.SH EXIT STATUS' "$page" || ! grep -q '^\.SH SYNOPSIS' "$page"; then
        echo "$program: SYNOPSIS or EXIT STATUS section missing"; failures=$((failures + 1))
    fi
    warnings=$( { mandoc -T lint -W warning "$page"; groff -ww -man -z "$page"; } 2>&1)
    if [ -n "$warnings" ]; then
        echo "$program:"; printf '%s\n' "$warnings"; failures=$((failures + 1))
    fi
done
[ $failures -eq 0 ] && echo "$# manual pages, no warnings"
exit $((failures > 0))

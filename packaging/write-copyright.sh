#!/bin/sh
# Writes Debian's machine-readable copyright file: the project's licence and,
# when the font ships, the font's.
# usage: write-copyright.sh OUT LICENSE [FONT_LICENSE]
set -eu
out=$1 licence=$2 font_licence=${3:-}

# A licence as a field's continuation lines: indented, blank lines as " .",
# none leading or trailing.
indent() {
    awk '{ sub(/[ \t\r]+$/, "") }
         /^$/ { if (seen) blank++; next }
         { while (blank) { print " ."; blank-- } print " " $0; seen = 1 }' "$1"
}

{
    echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
    echo "Upstream-Name: QuorvaDesktop"
    echo "Upstream-Contact: Quorva <packages@quorva.example>"
    echo
    echo "Files: *"
    echo "Copyright: $(sed -n 's/^Copyright (c) //p' "$licence")"
    echo "License: Expat"
    indent "$licence"
    if [ -n "$font_licence" ]; then
        echo
        echo "Files: */Resources/Vazirmatn.ttf */Resources/Vazirmatn-OFL.txt"
        echo "Copyright: $(sed -n '1s/^Copyright //p' "$font_licence")"
        echo "License: OFL-1.1"
        indent "$font_licence"
    fi
} >"$out.tmp"
mv "$out.tmp" "$out"

#!/usr/bin/env bash
# The macOS Objective-C++ source cannot be compiled for macOS here; this
# parses it on Linux against GNUstep's AppKit and Foundation headers, with
# Apple's runtime rules and the project's flags, so that a misspelt selector,
# a wrong type or a missing declaration fails CI. The two ApplicationServices
# and CoreGraphics headers are small stand-ins in include/.
# The GNUstep headers are unpacked into .cache/gnustep, not installed.
set -euo pipefail
cd "$(dirname "$0")/../.."
say() { echo "macos-check: $*"; }
headers=.cache/gnustep

if ! command -v clang >/dev/null; then
    say "installing clang"
    mkdir -p .cache
    { apt-get update -q && apt-get install -y -q --no-install-recommends clang; } >.cache/apt-clang.log 2>&1 ||
        { cat .cache/apt-clang.log >&2; exit 1; }
fi
# GCC's Objective-C runtime headers (libobjc-*-dev, which clang depends on).
objc_headers=(/usr/lib/gcc/*/*/include/objc/objc.h)
[[ -e ${objc_headers[0]} ]] || { say "no objc/objc.h from libobjc-*-dev" >&2; exit 1; }
objc_include=${objc_headers[0]%/objc/objc.h}

if [[ ! -d $headers/usr/include/GNUstep/AppKit ]]; then
    say "unpacking GNUstep's AppKit and Foundation headers into $headers"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    chmod 755 "$work"  # apt's download user writes here
    download() { (cd "$work" && apt-get download -q libgnustep-gui-dev libgnustep-base-dev >/dev/null 2>&1); }
    download || { apt-get update -q >/dev/null && download; }
    rm -rf "$headers" && mkdir -p "$headers"
    for deb in "$work"/*.deb; do dpkg-deb -x "$deb" "$headers"; done
fi

say "parsing src/platform/system_macos.mm"
clang -fsyntax-only -x objective-c++ -std=c++20 -Wall -Wextra -Werror \
    -fobjc-runtime=macosx-10.15 -fconstant-string-class=NSConstantString \
    -DGNUSTEP -DGNUSTEP_BASE_LIBRARY=1 -DGNU_GUI_LIBRARY=1 -DGNU_RUNTIME=1 \
    -I tests/macos/include -I "$headers/usr/include/GNUstep" -idirafter "$objc_include" \
    -include apple_objc.h -include apple_appkit.h -I src -DQUORVA_BUNDLE_ID='"com.quorva.desktop"' \
    src/platform/system_macos.mm
say "ok"

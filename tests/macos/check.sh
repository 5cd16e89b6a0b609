#!/usr/bin/env bash
# The macOS-only sources cannot be compiled for macOS here; this parses each of
# them on Linux with clang, with the project's warnings as errors, so that a
# missing include, a misspelt name or a wrong type fails CI. Objective-C++ is
# parsed against GNUstep's AppKit and Foundation headers with Apple's runtime
# rules; the Darwin calls come from small stand-ins in include/, each declared
# as Apple's SDK declares it.
#   check.sh          parse every macOS-only source
#   check.sh --list   name them: every *_macos.* and *_darwin.* file, and every
#                     Objective-C(++) file, outside tests/, build folders and .cache
# The GNUstep headers are unpacked into .cache/gnustep, not installed.
set -euo pipefail
cd "$(dirname "$0")/../.."
say() { echo "macos-check: $*"; }

macos_sources() {
    find . \( -path ./.git -o -path ./.cache -o -path './build*' -o -path ./tests \) -prune -o \
        -type f \( -name '*_macos.*' -o -name '*_darwin.*' -o -name '*.mm' -o -name '*.m' \) \
        -printf '%P\n' | sort
}
if [[ ${1:-} == --list ]]; then
    macos_sources
    exit 0
fi
mapfile -t sources < <(macos_sources)
((${#sources[@]})) || { say "no macOS-only source found" >&2; exit 1; }

headers=.cache/gnustep
if ! command -v clang >/dev/null; then
    [[ $(id -u) -eq 0 ]] || { say "clang is missing: sudo apt-get install clang" >&2; exit 1; }
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

# As CMake would build them on macOS: the project's warnings, its include
# folders, the definitions its targets get, and the compiler's macOS macros
# (shared headers may hold Darwin-only branches).
common=(-fsyntax-only -Wall -Wextra -Werror -I tests/macos/include -I src/client/include
    -DQUORVA_BUNDLE_ID='"com.quorva.desktop"' -DQUORVA_VERSION='"0"' -D__APPLE__ -D__MACH__)
objc=(-fobjc-runtime=macosx-10.15 -fconstant-string-class=NSConstantString
    -DGNUSTEP -DGNUSTEP_BASE_LIBRARY=1 -DGNU_GUI_LIBRARY=1 -DGNU_RUNTIME=1
    -I "$headers/usr/include/GNUstep" -idirafter "$objc_include" -include apple_objc.h -include apple_appkit.h)
failed=()
say "parsing ${#sources[@]} macOS-only sources with clang"
for source in "${sources[@]}"; do
    case $source in
    *.mm) language=(-x objective-c++ -std=c++20 "${objc[@]}") ;;
    *.m) language=(-x objective-c -std=c11 "${objc[@]}") ;;
    *.c) language=(-x c -std=c11) ;;
    *.h) language=(-x c++-header -std=c++20) ;;
    *) language=(-x c++ -std=c++20) ;;
    esac
    # Targets take their own folder or one above for their includes.
    folders=() folder=$(dirname "$source")
    while [[ $folder != . ]]; do folders+=(-I "$folder") folder=$(dirname "$folder"); done
    echo "  $source"
    clang "${common[@]}" "${language[@]}" "${folders[@]}" "$source" || failed+=("$source")
done
if ((${#failed[@]})); then
    say "${#failed[@]} of ${#sources[@]} failed: ${failed[*]}" >&2
    exit 1
fi
say "ok"

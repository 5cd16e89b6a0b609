#!/usr/bin/env bash
# Every source file of the project is compiled by this build or parsed by
# check.sh as macOS-only: a file only macOS builds, named so that check.sh
# does not find it, would otherwise never be compiled by anyone here.
#   every_source.sh BUILD SOURCE
set -euo pipefail
build=$1 source=$(realpath "$2")
compiled=$(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" | xargs -r realpath | sort -u)
parsed=$("$source/tests/macos/check.sh" --list | sed "s|^|$source/|")
[[ -n $compiled && -n $parsed ]] || { echo "FAIL: nothing compiled or nothing parsed" >&2; exit 1; }
left=$(cd "$source" &&
    find . \( -path ./.git -o -path ./.cache -o -path './build*' -o -path ./tests \) -prune -o \
        -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.cxx' -o -name '*.m' -o -name '*.mm' \) \
        -printf "$source/%P\n" | sort | comm -23 - <(printf '%s\n' "$compiled" "$parsed" | sort -u))
if [[ -n $left ]]; then
    echo "FAIL: neither built here nor parsed by tests/macos/check.sh (name a macOS-only file *_macos.*):" >&2
    echo "$left" >&2
    exit 1
fi
echo "ok: $(wc -l <<<"$compiled") sources compiled, $(wc -l <<<"$parsed") parsed as macOS-only"

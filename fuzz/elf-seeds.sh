#!/usr/bin/env bash
# Makes the ELF fuzz target's seeds in fuzz/corpus/elf: small shared objects
# of this machine's kind, each reaching another part of the checks (none
# needed, needs already loaded with a run path, a need looked for in the
# system's folders with an old-style run path), and one cut short.
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/elf
src=$(mktemp --suffix=.c)
trap 'rm -f "$src"' EXIT
echo 'int f(void) { return 1; }' >"$src"
small=(-shared -nostdlib -fPIC -Wl,-s -Wl,--hash-style=gnu -Wl,-z,norelro -Wl,-z,noseparate-code
    -Wl,--build-id=none -Wl,--no-as-needed)
clang "${small[@]}" -o $out/no-needs.so "$src"
clang "${small[@]}" -Wl,--enable-new-dtags -Wl,-rpath,'$ORIGIN/../lib:/nonexistent' \
    -o $out/run-path.so "$src" -lm -lc
clang "${small[@]}" -Wl,--disable-new-dtags -Wl,-rpath,'$ORIGIN' -o $out/rpath-system-need.so \
    "$src" -l:libz.so.1 -lc
head -c 700 $out/run-path.so >$out/cut-short.so

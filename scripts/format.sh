#!/usr/bin/env bash
# Formats every C++ and Objective-C(++) source of the repository with
# clang-format 14 (Debian 12's) and the repository's .clang-format. Another
# version formats some constructs differently, so only 14 is used.
#   format.sh           rewrites the sources that need it
#   format.sh --check   changes nothing; names the sources that need it and fails
#   format.sh --list    names every source it looks at
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "format: $*"; }

sources() {
    find . \( -path ./.git -o -path ./.cache -o -path './build*' \) -prune -o -type f \
        \( -name '*.cpp' -o -name '*.cc' -o -name '*.h' -o -name '*.hpp' -o -name '*.mm' -o -name '*.m' \) \
        -printf '%P\n' | sort
}
case ${1:-} in
--list) sources; exit 0 ;;
--check | '') ;;
*) echo "usage: format.sh [--check|--list]" >&2; exit 2 ;;
esac

tool=clang-format-14
if ! command -v $tool >/dev/null; then
    [[ $(id -u) -eq 0 ]] || { say "$tool is missing: sudo apt-get install $tool" >&2; exit 1; }
    say "installing $tool"
    mkdir -p .cache
    { apt-get update -q && apt-get install -y -q --no-install-recommends $tool; } >.cache/apt-clang-format.log 2>&1 ||
        { cat .cache/apt-clang-format.log >&2; exit 1; }
fi

mapfile -t files < <(sources)
if [[ ${1:-} != --check ]]; then
    $tool -i --style=file "${files[@]}"
    exit 0
fi
# One run for all of them; it names each change "FILE:LINE:COLUMN: error: ...".
if ! out=$($tool --dry-run -Werror --style=file "${files[@]}" 2>&1); then
    mapfile -t unformatted < <(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' <<<"$out" | sort -u)
    ((${#unformatted[@]})) || { echo "$out" >&2; say "$tool failed" >&2; exit 1; }
    say "clang-format would change ${unformatted[*]}; run ./scripts/format.sh and commit the result" >&2
    exit 1
fi
say "${#files[@]} sources formatted"

#!/usr/bin/env bash
# Sets up and builds QuorvaDesktop with its tests, then runs every test.
#   test.sh                              in build/, every test
#   test.sh -R REGEX                     in build/, the tests whose names match (ctest -R),
#       say -R '^Host\.' or -R OneHostPerHome
#   test.sh --sanitize [--skip NAME]...  in build-sanitize/, built with AddressSanitizer and
#       UndefinedBehaviorSanitizer: every test but the slow ones (Slow... in their names, a
#       minute each; the normal tree runs them) and those named; any report fails the run
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "usage: test.sh [-R REGEX | --sanitize [--skip NAME]...]" >&2; exit 2; }
mode=test tree=build skip=() only=()
[[ ${1:-} == -h || ${1:-} == --help ]] && { sed -n '2,9s/^# \{0,1\}//p' "$0"; exit 0; }
if [[ ${1:-} == -R ]]; then
    (($# == 2)) || usage
    only=(-R "$2")
    shift 2
elif [[ ${1:-} == --sanitize ]]; then
    mode=sanitize tree=build-sanitize
    shift
    while (($#)); do
        [[ $1 == --skip && $# -ge 2 ]] || usage
        skip+=("$2")
        shift 2
    done
fi
(($#)) && usage
./scripts/setup.sh $mode
selection=("${only[@]}") what="every test"
((${#only[@]})) && what="the tests matching ${only[1]}"
if [[ $mode == sanitize ]]; then
    source scripts/sanitizers.sh
    exclude='\.Slow'
    for name in "${skip[@]}"; do exclude+="|^${name//./\\.}\$"; done
    selection=(-E "$exclude")
    what="every test but the slow ones and ${#skip[@]} skipped"
fi
cd "$tree"
echo "test: running $what with ctest"
# ctest names a test when it ends, and some take a minute: every 10 quiet
# seconds, the tests still running are named.
status=0
ctest --output-on-failure -j2 --timeout 300 "${selection[@]}" | {
    declare -A running=()
    SECONDS=0
    while :; do
        if IFS= read -r -t 10 line; then
            echo "$line"
            if [[ $line =~ Start\ +([0-9]+):\ (.+)$ ]]; then
                running[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
            elif [[ $line =~ Test\ +\#([0-9]+): ]]; then
                unset "running[${BASH_REMATCH[1]}]"
            fi
        elif (($? > 128)); then
            echo "test: $SECONDS s into the tests, still running: ${running[*]}"
        else
            break
        fi
    done
} || status=$?
cd ..
if [[ $mode == sanitize ]]; then sanitizer_check "the tests" || status=1; fi
exit $status

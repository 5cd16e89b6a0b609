#!/usr/bin/env bash
# Sets up and builds QuorvaDesktop with its tests, then runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
cd build
echo "test: running every test with ctest"
# ctest names a test when it ends, and some take a minute: every 10 quiet
# seconds, the tests still running are named.
ctest --output-on-failure -j2 --timeout 300 | {
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
}

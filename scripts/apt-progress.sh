#!/usr/bin/env bash
# Turns apt's status lines (apt-get -o APT::Status-Fd=N) on standard input into
# progress for people: downloads, unpacking and setting up, each said at every
# tenth of its total and at its end with the total, and while nothing moves,
# what apt is busy with at least every 10 seconds.
#   apt-progress.sh PACKAGES [SECONDS]   (SECONDS: the longest quiet spell, 10)
# PACKAGES is how many packages apt installs; downloads count apt's files.
# With PACKAGES 0 (apt-get update) only the quiet spells are filled.
set -uo pipefail
total=$1 quiet=${2:-10}
# Times in microseconds, so that a quiet spell never outlasts the set time.
start=${EPOCHREALTIME/./} said=${EPOCHREALTIME/./} busy="starting"
((total)) || busy="updating the package lists"
# Counts and the tenth each count was last said at.
declare -A count=([downloaded]=0 [unpacked]=0 [setup]=0) tenth=()

say() {
    echo "setup:   $*"
    said=${EPOCHREALTIME/./}
}
# step NAME DONE OF: says "NAME DONE of OF" when DONE reaches a new tenth of OF
# (OF itself is the tenth tenth).
step() {
    local name=$1 done=$2 of=$3 key=${1// /}
    ((done > count[$key])) || return 0
    count[$key]=$done
    local t=$((of ? done * 10 / of : 10))
    ((t > ${tenth[$key]:--1})) || return 0
    tenth[$key]=$t
    say "$name $done of $of"
}

dl='^dlstatus:([0-9]+):([0-9.]+):Retrieving file ([0-9]+) of ([0-9]+)'
pm='^pmstatus:.*:[0-9.]+:(.*)$'
while :; do
    # Wait for the next line no longer than what is left of the quiet spell.
    left=$((quiet * 1000000 - (${EPOCHREALTIME/./} - said)))
    ((left > 0)) || left=1
    printf -v wait '%d.%06d' $((left / 1000000)) $((left % 1000000))
    if IFS= read -r -t "$wait" line; then
        if [[ $line =~ $dl ]] && ((total)); then
            busy="downloading"
            files=${BASH_REMATCH[4]} got=$((BASH_REMATCH[3] - 1))
            [[ ${BASH_REMATCH[2]} == 100* ]] && got=$files
            step downloaded "$got" "$files"
        elif [[ $line =~ $pm ]]; then
            busy=${BASH_REMATCH[1]}
            case $busy in
            "Unpacking "*) step unpacked $((count[unpacked] + 1)) "$total" ;;
            "Installed "*) step "set up" $((count[setup] + 1)) "$total" ;;
            esac
        fi
    else
        (($? > 128)) || break  # the end of apt's output
    fi
    t=${EPOCHREALTIME/./}
    ((t - said >= quiet * 1000000)) && say "still at it after $(((t - start) / 1000000)) s: $busy"
done
exit 0

#!/usr/bin/env bash
# How many SIGTERMs the driver gets on each way its host can end, over RUNS
# runs each (default 50), for the host of APP_DIR (default: this build's).
# The driver is a script that counts them and takes 300 ms to clean up after
# the first. Prints one line per way: how many runs saw 0, 1, 2, ... SIGTERMs.
#   ./bench/driver_signals.sh [APP_DIR] [RUNS] [WAY ...]
# Ways: quit-signal kill-9 sigsegv sigbus sigusr1 guard-killed home-moved
#       driver-ended no-toolkit x-gone idle (idle takes a minute: its runs go in parallel,
#       as do home-moved's, for a host that runs on until then).
set -uo pipefail
cd "$(dirname "$0")/.."
app=$(realpath "${1:-build/QuorvaDesktop}")
runs=${2:-50}
shift 2 2>/dev/null || shift $#
ways=("$@")
((${#ways[@]})) || ways=(quit-signal kill-9 sigsegv sigbus sigusr1 guard-killed home-moved driver-ended no-toolkit x-gone idle)

work=$(mktemp -d /tmp/quorva-signals-XXXXXX)
# Drivers left running (a way that failed) are ended by the pids they noted.
cleanup() {
    cat "$work"/*/pids 2>/dev/null | xargs -r kill -KILL 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cp -r "$app" "$work/app"
cat >"$work/app/Resources/vov-driver" <<'EOF'
#!/bin/bash
trap 'echo >> "$COUNT_DIR/terms.$$"; stop=1' TERM
echo $$ >> "$COUNT_DIR/pids"
n=0
while [ ! -e "$COUNT_DIR/end" ]; do
  sleep 0.05 & wait $!
  [ -n "$stop" ] && n=$((n + 1)) && [ $n -ge 6 ] && exit 0
done
EOF
chmod 755 "$work/app/Resources/vov-driver"
# A toolkit module without its entry point: a failure after the driver's launch.
# The tests' one loads slowly enough for the driver to be counting by then; Qt's
# widgets library may not (a driver killed before its trap reads "no-driver").
cp -r "$work/app" "$work/broken"
module=build/tests/libmodule_without_entry.so
[[ -e $module ]] || module=$(echo /usr/lib/*/libQt6Widgets.so.6)
cp "$module" "$work/broken/lib/quorva-qt.so"

# Waits up to $1 tenths of a second for the command to succeed.
wait_for() {
    local tenths=$1
    shift
    for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
    return 1
}

# One run in folder $1 ends the way $2; prints the driver's SIGTERM count.
run() {
    local dir=$1 way=$2 program=$work/app/bin/quorva-desktop args=() display=
    mkdir -p "$dir"
    if [[ $way == no-toolkit ]]; then program=$work/broken/bin/quorva-desktop args=(--permissions); fi
    if [[ $way == x-gone ]]; then
        Xvfb -displayfd 3 -noreset -nolisten tcp 3>"$dir/display" 2>/dev/null &
        local xvfb=$!
        wait_for 50 test -s "$dir/display"
        display=:$(cat "$dir/display") args=(--permissions)
    fi
    (
        ulimit -c 0
        unset DISPLAY WAYLAND_DISPLAY XDG_SESSION_TYPE
        [[ -n $display ]] && export DISPLAY=$display
        COUNT_DIR=$dir exec "$program" --home "$dir/home" "${args[@]}"
    ) &
    local host=$!
    if [[ $way != no-toolkit ]]; then
        wait_for 50 test -e "$dir/home/desktop/status.json"
        case $way in
            quit-signal) kill -TERM $host ;;
            kill-9) kill -KILL $host ;;
            sigsegv) kill -SEGV $host ;;
            sigbus) kill -BUS $host ;;
            sigusr1) kill -USR1 $host ;;
            # The guard killed: the host puts another in its place, and is then killed itself.
            guard-killed)
                pkill -KILL -P $host -f quorva-driver-guard
                sleep 0.2
                kill -KILL $host
                ;;
            home-moved) mv "$dir/home/desktop" "$dir/home/old" ;;
            driver-ended) : >"$dir/end" ;;
            x-gone) kill -KILL $xvfb ;;
            idle) ;;
        esac
    fi
    wait $host 2>/dev/null
    sleep 0.8  # the driver's 300 ms, and any late second signal
    [[ $way == x-gone ]] && wait $xvfb 2>/dev/null
    local pid
    pid=$(head -1 "$dir/pids" 2>/dev/null)
    if [[ -z $pid ]]; then echo no-driver; elif [[ -e $dir/terms.$pid ]]; then wc -l <"$dir/terms.$pid"; else echo 0; fi
}

echo "SIGTERMs per driver over $runs runs each, host $app:"
for way in "${ways[@]}"; do
    parallel=4
    # An old host may run on until its idle end after losing its home.
    [[ $way == idle || $way == home-moved ]] && parallel=$runs
    [[ $way == x-gone ]] && parallel=2
    for ((i = 0; i < runs; i++)); do
        run "$work/$way-$i" "$way" >"$work/$way-$i.count" 2>/dev/null &
        (((i + 1) % parallel == 0)) && wait
    done
    wait
    printf '  %-13s %s\n' "$way" "$(cat "$work/$way"-*.count | sort | uniq -c | awk '{ printf "%s×%s  ", $1, $2 }')"
done

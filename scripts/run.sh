#!/usr/bin/env bash
# Sets up and builds QuorvaDesktop, then runs it with the stand-in driver
# through quorvactl. Options go to `quorvactl hold` and so to the host it
# starts, e.g.: ./scripts/run.sh --english --permissions [--home FOLDER]
# While this script runs it holds the host; Ctrl-C quits the host it started,
# unless other clients hold it too.
# Started with sh: this is a bash script.
if [ -z "${BASH_VERSION:-}" ]; then exec bash "$0" "$@"; fi
set -euo pipefail
case ${1:-} in -h | --help)
    cat <<'EOF'
usage: ./scripts/run.sh [--home FOLDER] [--english] [--permissions]
Installs what is missing (as root), builds, and runs the host with the stand-in
driver until Ctrl-C; it prints the runtime folder, the driver's log lines and
each new status. The options go to the host.
EOF
    exit 0
    ;;
esac
here=$PWD
repo=$(cd "$(dirname "$0")/.." && pwd)
ctl="$repo/build/bin/quorvactl"

# What `quorvactl hold` keeps up: the driver's new log lines and each new status.
if [[ ${1:-} == --watch ]]; then
    home=$2 logsize=$3
    tail -c +$((logsize + 1)) -F --pid=$$ "$home/desktop/desktop.log" 2>/dev/null |
        sed -u 's/^/  log: /' &
    last=""
    while :; do
        status=$("$ctl" status --json --home "$home" || true)
        [[ $status != "$last" ]] && echo "  status: $status" && last=$status
        sleep 1
    done
fi

(cd "$repo" && ./scripts/setup.sh run)
cd "$here"
# Only --home is needed here; quorvactl works the folder out as the host does.
home_option=()
for ((i = 1; i <= $#; i++)); do
    if [[ ${!i} == --home ]] && ((i < $#)); then
        j=$((i + 1))
        home_option=(--home "${!j}")
        break
    fi
done
home=$("$ctl" home "${home_option[@]}")
state=0
"$ctl" status --home "$home" >/dev/null || state=$?

echo "QuorvaDesktop with the stand-in driver"
echo "  display:        ${DISPLAY:-none, running offscreen (no window can be seen)}"
echo "  runtime folder: $home/desktop"
echo "  driver log:     $home/desktop/desktop.log"
echo "  status file:    $home/desktop/status.json"
echo "  Ctrl-C to quit"

logsize=$(stat -c %s "$home/desktop/desktop.log" 2>/dev/null || echo 0)
"$ctl" hold "$@" -- "$repo/scripts/run.sh" --watch "$home" "$logsize" &
hold=$!
# Ctrl-C or a SIGTERM to this script: hold passes SIGTERM on to the watcher and
# ends, then this script tidies up below. (A job started with & ignores the
# terminal's SIGINT, so it is told with SIGTERM.)
trap 'kill -TERM "$hold" 2>/dev/null || true' INT TERM
set +e
while :; do
    wait "$hold"
    held=$?
    kill -0 "$hold" 2>/dev/null || break  # ended, rather than a signal caught while waiting
done
set -e
((held == 125)) && exit 1  # quorvactl has said why
# Registered clients other than this run, alive.
others() {
    local n=0 entry
    for entry in "$home/desktop/clients"/*; do
        [[ ${entry##*/} =~ ^[0-9]+$ ]] && kill -0 "${entry##*/}" 2>/dev/null && n=$((n + 1))
    done
    echo $n
}
if ((state == 3)); then  # not running before: this run started it
    n=$(others)
    if ((n > 0)); then
        echo "QuorvaDesktop is left running: $n other client(s) hold it"
        exit 0
    fi
    "$ctl" stop --home "$home" >/dev/null 2>&1 || true
fi
echo "QuorvaDesktop has ended"

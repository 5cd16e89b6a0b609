#!/usr/bin/env bash
# Sets up and builds QuorvaDesktop, then runs it with the stand-in driver.
# Extra arguments go to the host, e.g.: ./scripts/run.sh --english --permissions
# While this script runs it is registered as a client, so the host stays up;
# Ctrl-C quits the host (which stops the driver).
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."
repo=$PWD
./scripts/setup.sh
app="$repo/build/QuorvaDesktop/bin/quorva-desktop"

# The home folder as the host works it out: the value after the first --home.
home="${HOME:-$(getent passwd "$(id -un)" | cut -d: -f6)}/.quorva"
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
    if [[ ${args[i]} == --home ]]; then
        ((i + 1 < ${#args[@]})) && home=${args[i + 1]}
        break
    fi
done
[[ $home == /* ]] || home="$here/$home"
runtime="$home/desktop"

echo "QuorvaDesktop with the stand-in driver"
echo "  display:        ${DISPLAY:-none, running offscreen (no window can be seen)}"
echo "  runtime folder: $runtime"
echo "  driver log:     $runtime/desktop.log"
echo "  status file:    $runtime/status.json"
echo "  Ctrl-C to quit"

# Show only what this run's driver writes, not earlier runs' lines.
logsize=$(stat -c %s "$runtime/desktop.log" 2>/dev/null || echo 0)
cd "$here"
"$app" "$@" &
host=$!
registration=""
cleanup() {
    kill -TERM "$host" 2>/dev/null || true
    wait "$host" 2>/dev/null || true
    [[ -n $registration ]] && rm -f "$registration"
    [[ -n ${tailer:-} ]] && kill "$tailer" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 0' INT TERM

for _ in $(seq 50); do [[ -d $runtime/clients ]] && break; sleep 0.1; done
if [[ -d $runtime/clients ]]; then
    registration="$runtime/clients/$$"
    : >"$registration"
fi
[[ -f $runtime/desktop.log ]] && { tail -c +$((logsize + 1)) -F --pid="$host" "$runtime/desktop.log" 2>/dev/null | sed -u 's/^/  log: /' & tailer=$!; }

last=""
while kill -0 "$host" 2>/dev/null; do
    status=$(cat "$runtime/status.json" 2>/dev/null || true)
    # A file left by an earlier run names another host; wait for ours.
    if [[ $status == *"\"host_pid\":$host"[,}]* && $status != "$last" ]]; then
        echo "  status: $status"
        last=$status
    fi
    sleep 1
done
wait "$host" 2>/dev/null || true
echo "QuorvaDesktop has ended"

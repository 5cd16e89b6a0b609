#!/usr/bin/env bash
# scripts/run.sh as a user meets it: Ctrl-C quits the host it started, but
# leaves one that another client still holds to that client.
#   run_check.sh SOURCE BUILD
set -euo pipefail
source=$1 build=$2
ctl=$build/bin/quorvactl
tmp=$(mktemp -d)
trap 'pkill -KILL -f "$tmp" 2>/dev/null || true; rm -rf "$tmp"' EXIT
# Qt's runtime folder in ours, not a /tmp/runtime-* nobody removes.
export XDG_RUNTIME_DIR=$tmp/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
fail() {
    echo "FAIL: $*" >&2
    echo "--- run.sh said:" >&2
    cat "$tmp/out" >&2
    exit 1
}
wait_for() {  # tenths, command...
    local tenths=$1
    shift
    for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
    return 1
}
host_runs() { "$ctl" status -q --home "$tmp/home"; (($? != 3)); }

# Once with another client holding the host, once alone.
for other in yes no; do
    rm -rf "$tmp/home" "$tmp/out"
    # A process group of its own, as at a shell's prompt: Ctrl-C reaches all of it.
    # Started with &, it would ignore SIGINT: a terminal's Ctrl-C finds it at its default.
    setsid env --default-signal=INT -u DISPLAY bash "$source/scripts/run.sh" --home "$tmp/home" >"$tmp/out" 2>&1 &
    run=$!
    wait_for 600 grep -q "status: {" "$tmp/out" || fail "no status within a minute"
    if [[ $other == yes ]]; then
        sleep 1000 &
        client=$!
        : >"$tmp/home/desktop/clients/$client"
    fi
    kill -INT -- -"$run"
    wait_for 100 eval '! kill -0 $run 2>/dev/null' || fail "run.sh did not end on Ctrl-C"
    if [[ $other == yes ]]; then
        grep -q "left running: 1 other client" "$tmp/out" || fail "it did not say why the host stays"
        host_runs || fail "the host another client holds was stopped"
        "$ctl" stop --home "$tmp/home" >/dev/null
        kill "$client"
    else
        wait_for 50 eval '! host_runs' || fail "the host it started was left running"
    fi
done
echo "ok: run.sh"

#!/usr/bin/env bash
# Builds and runs the benchmarks and prints their figures.
# ./bench/run.sh        tick, start-up, exit, memory, window
# ./bench/run.sh --cpu  also the 60-second idle CPU measurement
# ./bench/run.sh --hardening
#                       only the host's start, against the same host built
#                       without the hardening flags (in build-unhardened/)
# ./bench/run.sh --baseline APPFOLDER
#                       also times another build of the host (say the last
#                       release's app folder) beside this one
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
cmake --build build -j2 --target tick_bench host_bench window_bench ctl_bench >/dev/null
B=build/bench

if [[ ${1:-} == --hardening ]]; then
    cmake -S . -B build-unhardened -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVA_HARDENING=OFF \
        -DQUORVA_BUILD_TESTS=OFF -DQUORVA_BUILD_BENCH=OFF >/dev/null
    cmake --build build-unhardened -j2 --target app-folder >/dev/null
    echo "== host start, hardened (this build) vs. build-unhardened =="
    exec "$B/host_bench" --against build-unhardened/QuorvaDesktop --starts 60
fi

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Tick and floor runs are interleaved so that both see the same disk.
for dir in /tmp /dev/shm; do
    echo "== one tick vs. its system-call floor, files in $dir (median of 9) =="
    QUORVA_BENCH_DIR=$dir "$B/tick_bench" --benchmark_repetitions=9 \
        --benchmark_enable_random_interleaving=true --benchmark_min_time=0.05 \
        --benchmark_report_aggregates_only=true 2>/dev/null | grep median
done

echo "== host =="
"$B/host_bench" "$@"

echo "== quorvactl (an earlier build beside it: build/bench/ctl_bench --against DIR) =="
"$B/ctl_bench"

echo "== permissions window (Xvfb; 7 processes) =="
font=build/QuorvaDesktop/Resources/Vazirmatn.ttf
results=$(for _ in $(seq 7); do
    xvfb-run -a -s "-screen 0 1280x800x24" "$B/window_bench" "$font" 2>/dev/null
done)
echo "first showPermissions -> on screen: median $(cut -d' ' -f1 <<<"$results" | median) ms"
echo "later showPermissions -> on screen: median $(cut -d' ' -f2 <<<"$results" | median) ms"

#!/usr/bin/env bash
# Builds and runs the benchmarks and prints their figures.
# ./bench/run.sh        tick, start-up, exit, memory, window
# ./bench/run.sh --cpu  also the 60-second idle CPU measurement
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --build build -j2 --target tick_bench host_bench window_bench >/dev/null
B=build/bench

echo "== one tick vs. its system-call floor =="
"$B/tick_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_filter='median' 2>/dev/null | grep -E 'median' || \
    "$B/tick_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null | grep median

echo "== host =="
"$B/host_bench" "$@"

echo "== permissions window (Xvfb; 7 processes, median) =="
font=build/QuorvaDesktop/Resources/Vazirmatn.ttf
for _ in $(seq 7); do
    xvfb-run -a -s "-screen 0 1280x800x24" "$B/window_bench" "$font"
done | sort -n | awk '{ f[NR] = $1; l[NR] = $2 } END {
    n = asort(f); asort(l); m = int((n + 1) / 2);
    printf "first showPermissions -> on screen: median %.1f ms; later: median %.2f ms\n", f[m], l[m] }'

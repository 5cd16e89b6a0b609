#!/usr/bin/env bash
# Runs the libFuzzer targets of the sanitized tree, each on its seed corpus.
#   fuzz/run.sh [--time SECONDS] [TARGET...]
# Every target (status registration home command_line elf) unless named, for
# SECONDS each (5 unless given); `fuzz/run.sh --time 600` is a longer run.
# Builds build-sanitize/ first (scripts/setup.sh sanitize). What a target
# finds that adds coverage is kept in build-sanitize/fuzz/corpus/TARGET and
# used again next time; an input that fails is kept as
# build-sanitize/fuzz/artifacts/TARGET-crash-... (run the target on it to see
# the failure again). Any failure, leak or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "usage: fuzz/run.sh [--time SECONDS] [TARGET...]" >&2; exit 2; }
seconds=5
if [[ ${1:-} == --time ]]; then
    [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage
    seconds=$2
    shift 2
fi
targets=("$@")
((${#targets[@]})) || targets=(status registration home command_line elf)
for target in "${targets[@]}"; do [[ -f fuzz/$target.cpp ]] || usage; done

./scripts/setup.sh sanitize
source scripts/sanitizers.sh
tree=build-sanitize/fuzz
mkdir -p "$tree/artifacts"
failed=()
for target in "${targets[@]}"; do
    corpus=$tree/corpus/$target log=$tree/$target.log
    mkdir -p "$corpus"
    # New inputs go to the first folder; the seeds in the repository stay as they are.
    status=0
    "$tree/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$tree/artifacts/$target-" "$corpus" "fuzz/corpus/$target" \
        >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    if ((status)); then
        echo "fuzz: $target FAILED after ${runs:-?} executions (exit status $status); its output:"
        grep -v '^#' "$log" | tail -40
        failed+=("$target")
    else
        echo "fuzz: $target: ${runs:-?} executions in $seconds s, ${edges:-?} edges covered, nothing found"
    fi
done
sanitizer_check "the fuzz targets" || failed+=(sanitizers)
if ((${#failed[@]})); then
    echo "fuzz: failed: ${failed[*]} (inputs in $tree/artifacts/, output in $tree/*.log)" >&2
    exit 1
fi

# shellcheck shell=bash
# Sourced by setup.sh and test.sh for the sanitized tree, build-sanitize/.
# Its programs write each report to a file of their own in
# build-sanitize/sanitizer-reports/ (tools/sanitizer_defaults.cpp says how),
# so a report fails the run even when its program's end went unnoticed (say,
# a host that a test kills anyway).
sanitizer_reports=$PWD/build-sanitize/sanitizer-reports

# Clears the reports of an earlier run.
sanitizer_clear() {
    rm -rf "$sanitizer_reports"
    mkdir -p "$sanitizer_reports"
}

# LeakSanitizer's check at a program's end, when the program is killed in the
# middle of it (tests end what they started with SIGKILL, whatever it is
# doing), leaves this line alone and finds nothing: such a file is no report.
sanitizer_cut_short='^(==[^=]+)?==[0-9]+==Unable to get registers from thread [0-9]+\.$'

# Prints every report and fails when there is one. $1 says who ran.
sanitizer_check() {
    local reports=() found=() cut=0
    mapfile -t found < <(find "$sanitizer_reports" -type f | sort)
    for report in "${found[@]}"; do
        if [[ -s $report ]] && ! grep -qvE "$sanitizer_cut_short" "$report"; then
            cut=$((cut + 1))
        else
            reports+=("$report")
        fi
    done
    ((cut)) && echo "sanitizers: $cut leak check(s) cut short by a kill, with nothing found, not counted" >&2
    ((${#reports[@]})) || return 0
    for report in "${reports[@]}"; do
        echo "===== ${report#"$PWD"/}"
        cat "$report"
    done >&2
    echo "sanitizers: ${#reports[@]} report(s) from $1, above and in ${sanitizer_reports#"$PWD"/}/" >&2
    return 1
}

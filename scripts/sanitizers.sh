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

# Prints every report and fails when there is one. $1 says who ran.
sanitizer_check() {
    local reports=()
    mapfile -t reports < <(find "$sanitizer_reports" -type f | sort)
    ((${#reports[@]})) || return 0
    for report in "${reports[@]}"; do
        echo "===== ${report#"$PWD"/}"
        cat "$report"
    done >&2
    echo "sanitizers: ${#reports[@]} report(s) from $1, above and in ${sanitizer_reports#"$PWD"/}/" >&2
    return 1
}

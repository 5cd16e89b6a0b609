#!/usr/bin/env bash
# The set-up scripts as a newcomer meets them:
#   setup_check.sh progress SOURCE   apt's status lines become progress: each step
#                                    said at every tenth, ending with its total, and
#                                    a quiet spell filled within the set time
#   setup_check.sh readme SOURCE     the README names every package setup.sh installs
#   setup_check.sh owner SOURCE      root in another user's clone builds nothing there
#   setup_check.sh sanitizers SOURCE a sanitizer report fails the run, unless it is
#                                    only a leak check's note that a kill cut it short
set -euo pipefail
mode=$1 source=$2
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

case $mode in
progress)
    # 37 packages, 35 of them downloaded (two were in apt's cache), one of them
    # multiarch; setting up stalls for 2.5 s, with 1 s allowed to pass quietly.
    mapfile -t packages < <(echo libfoo:i386 && seq -f 'pkg%g' 2 37)
    out=$({
        for ((f = 1; f <= 35; f++)); do
            echo "dlstatus:$f:$((f * 100 / 36)).5000:Retrieving file $f of 35"
        done
        echo "dlstatus:35:100.0000:Retrieving file 35 of 35"
        echo "pmstatus:dpkg-exec:0.0000:Running dpkg"
        for p in "${packages[@]}"; do
            printf 'pmstatus:%s:1.0:%s %s (amd64)\n' "$p" Preparing "$p" "$p" Unpacking "$p" "$p" Installing "$p"
        done
        for p in "${packages[@]}"; do
            printf 'pmstatus:%s:2.0:%s %s (amd64)\n' "$p" "Preparing to configure" "$p" "$p" Configuring "$p"
            if [[ $p == pkg20 ]]; then sleep 2.5; fi
            printf 'pmstatus:%s:2.0:Installed %s (amd64)\n' "$p" "$p"
        done
    } | "$source/scripts/apt-progress.sh" 37 1)
    for step in "downloaded 35" "unpacked 37" "set up 37"; do
        [[ $(grep -c "^setup:   ${step% *} [0-9]* of ${step##* }$" <<<"$out") -ge 10 ]] ||
            fail "'${step% *}' said fewer than ten times:"$'\n'"$out"
        grep -qx "setup:   $step of ${step##* }" <<<"$out" || fail "no '$step of ${step##* }':"$'\n'"$out"
    done
    # Never more than a tenth of a step between two of its lines.
    awk '/^setup:   (downloaded|unpacked|set up) [0-9]+ of/ {
             step = $2; n = $(NF - 2); of = $NF
             if (n - last[step] > of / 10 + 1) { print "jumped to: " $0; bad = 1 }
             last[step] = n
         } END { exit bad }' <<<"$out" || fail "a step skipped more than a tenth:"$'\n'"$out"
    grep -q '^setup:   still at it after [0-9]* s: Configuring pkg20 (amd64)$' <<<"$out" ||
        fail "the stall went unsaid:"$'\n'"$out"
    ;;
readme)
    for what in run test font sanitize; do
        for package in $("$source/scripts/setup.sh" --list $what); do
            grep -qF "\`$package\`" "$source/README.md" || fail "README.md does not name $package ($what)"
        done
    done
    ;;
owner)
    # Needs a clone that belongs to someone else: only root can make one.
    if [[ $(id -u) -ne 0 ]]; then
        echo "skipped: only root can make a clone that belongs to another user"
        exit 77
    fi
    clone=$(mktemp -d)
    trap 'rm -rf "$clone"' EXIT
    cp -r "$source/scripts" "$clone/"
    chown -R 65534:65534 "$clone"
    out=$("$clone/scripts/setup.sh" run 2>&1) || fail "it failed: $out"
    grep -q "build there as nobody" <<<"$out" || fail "it did not say who builds: $out"
    [[ ! -e $clone/build && ! -e $clone/.cache ]] || fail "it made $(ls "$clone") as root"
    ;;
sanitizers)
    cd "$(mktemp -d)"
    trap 'rm -rf "$PWD"' EXIT
    source "$source/scripts/sanitizers.sh"
    cut='==vov-driver==1360==Unable to get registers from thread 1357.'
    verdict() { # $1: what the report holds, escapes as printf %b takes them; prints 0 or 1
        sanitizer_clear
        printf '%b' "$1" >"$sanitizer_reports/report.x.1"
        sanitizer_check "the check" 2>/dev/null && echo 0 || echo 1
    }
    [[ $(verdict "$cut\n") == 0 ]] || fail "a cut-short check counted as a report"
    [[ $(verdict "${cut#==vov-driver}\n$cut\n") == 0 ]] || fail "the line without a name counted"
    for report in "$cut\n==1==ERROR: LeakSanitizer: detected memory leaks\n" "$cut and more\n" \
        "==1==ERROR: AddressSanitizer: heap-use-after-free\n" ""; do
        [[ $(verdict "$report") == 1 ]] || fail "set aside: $report"
    done
    ;;
*) fail "unknown check: $mode" ;;
esac
echo "ok: $mode"

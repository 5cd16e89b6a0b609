#!/usr/bin/env bash
# Runs every test as an unprivileged user, as a developer without root runs
# them: a copy of the sources that the user owns, built and tested there with
# ./scripts/test.sh, with a home and a TMPDIR of its own, no display, no
# supplementary groups and no capabilities. Run it as root, once the packages
# are in (./scripts/test.sh as root installs them).
#   test-as-user.sh [UID]   the user, 65534 (nobody) unless named; one without
#                           an entry in the password database works too
# Everything is kept in /var/tmp/quorva-as-UID/ (src/ and its build, home/,
# tmp/, test.log), so a second run builds only what changed. It ends by
# naming the tests that failed or skipped, and fails if one did.
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "as-user: $*"; }

uid=${1:-65534}
[[ $uid =~ ^[1-9][0-9]*$ ]] || { echo "usage: test-as-user.sh [UID]" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || { say "run this as root: it starts the tests as uid $uid" >&2; exit 1; }
command -v setpriv >/dev/null || { say "setpriv is missing (util-linux)" >&2; exit 1; }
gid=$(getent passwd "$uid" | cut -d: -f4 || true)
gid=${gid:-$uid}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in $(./scripts/setup.sh --list run) $(./scripts/setup.sh --list test); do
    installed "$p" || missing+=("$p")
done
if ((${#missing[@]})); then
    say "missing packages: ${missing[*]}; run ./scripts/test.sh as root once first" >&2
    exit 1
fi

work=/var/tmp/quorva-as-$uid
as_user() {
    setpriv --reuid="$uid" --regid="$gid" --clear-groups --inh-caps=-all -- \
        env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work/home" TMPDIR="$work/tmp" \
        LANG=C.UTF-8 USER="$(id -un "$uid" 2>/dev/null || echo "$uid")" "$@"
}
# Made here once, then only ever entered as the user: whatever the user put
# there (a link, say) is met with the user's rights only.
if [[ ! -e $work && ! -L $work ]]; then
    mkdir -m 700 "$work"
    chown "$uid:$gid" "$work"
elif [[ -L $work || ! -d $work || $(stat -c %u "$work") != "$uid" ]]; then
    say "$work is not a folder of uid $uid: remove it first" >&2
    exit 1
fi
as_user mkdir -p "$work/src" "$work/home" "$work/tmp"

# The sources as they are here, committed or not, and the font if fetched;
# unpacked as the user, with their times, so the build there redoes only what
# changed. What is gone here goes there too (build/ stays).
say "copying the sources to $work/src"
as_user find "$work/src" -mindepth 1 -maxdepth 1 ! -name build ! -name .cache -exec rm -rf {} +
{
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z --cached --others --exclude-standard |
            while IFS= read -r -d '' f; do [[ -e $f || -L $f ]] && printf '%s\0' "$f"; done
    else
        find . \( -path ./.git -o -path ./.cache -o -path './build*' \) -prune -o -type f -printf '%P\0'
    fi
    find .cache/fonts -type f -print0 2>/dev/null || true
} | tar --null -T - -cf - | as_user tar -C "$work/src" -xf -

# No display, as in CI; ccache, when there, keeps its cache in the user's home.
launcher=()
command -v ccache >/dev/null && launcher=(CMAKE_CXX_COMPILER_LAUNCHER=ccache)
say "building and testing as uid $uid (gid $gid) in $work/src; full output in $work/test.log"
status=0
as_user env "${launcher[@]}" bash -c 'cd "$1/src" && exec ./scripts/test.sh >"$1/test.log" 2>&1' \
    bash "$work" || status=$?
# The log is read as the user too: it is the user's file.
log=$(as_user cat "$work/test.log")
# ctest's verdicts on the tests that failed or skipped, and why each skipped.
grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*(\*\*\*|Skipped)' <<<"$log" || true
grep -E '% tests passed|^setup: .*(fail|missing)' <<<"$log" || true
mapfile -t skipped < <(sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) .*Skipped.*/\1/p' <<<"$log")
for name in "${skipped[@]}"; do
    echo "$name:"
    as_user bash -c 'cd "$1/src/build" && ctest -V -R "^$2\$"' bash "$work" "$name" |
        sed -nE '/: Skipped$/,/\[  SKIPPED \]/{/\[  SKIPPED \]/!s/^[0-9]+: /    /p}'
done
if ((status || ${#skipped[@]})); then
    say "not every test ran and passed as uid $uid (status $status, ${#skipped[@]} skipped); see $work/test.log" >&2
    exit 1
fi
say "every test ran and passed as uid $uid"

#!/usr/bin/env bash
# Sets up a Debian 12 machine for QuorvaDesktop and builds it into build/.
#   setup.sh run          what building and running the host needs (scripts/run.sh)
#   setup.sh test         that and the test tools; builds the tests too (scripts/test.sh)
#   setup.sh --list WHAT  names the packages of run, test or font, one a line
# Installs only what is missing, fetches the font once, builds incrementally,
# and says what each step is doing. Each step's full output is appended to
# build/logs/STEP.log under a header naming the run.
set -euo pipefail
cd "$(dirname "$0")/.."

# Building and running the host.
RUN_PACKAGES=(
    cmake g++ make
    qt6-base-dev libx11-dev libxcb1-dev nlohmann-json3-dev
    fonts-dejavu-core xdg-utils
)
# The tests and benchmarks, the X server they use, and the package checks.
TEST_PACKAGES=(
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xfonts-base x11-utils
    dpkg-dev file lintian desktop-file-utils
    python3-jsonschema  # checks status.json against its schema
    bash-completion zsh  # quorvactl's completions, loaded as users' shells load them
)
# Fetching the font from the npm registry over HTTPS, until it is in .cache.
FONT_PACKAGES=(ca-certificates curl)

if [[ ${1:-} == --list ]]; then
    case ${2:-} in
    run) printf '%s\n' "${RUN_PACKAGES[@]}" ;;
    test) printf '%s\n' "${TEST_PACKAGES[@]}" ;;
    font) printf '%s\n' "${FONT_PACKAGES[@]}" ;;
    *) echo "usage: setup.sh --list run|test|font" >&2; exit 2 ;;
    esac
    exit 0
fi
mode=${1:-run}
[[ $mode == run || $mode == test ]] || { echo "usage: setup.sh run|test" >&2; exit 2; }

say() { echo "setup: $*"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

wanted=("${RUN_PACKAGES[@]}")
[[ $mode == test ]] && wanted+=("${TEST_PACKAGES[@]}")
if [[ ! -e .cache/fonts/fetch-failed ]] &&
    ! [[ -s .cache/fonts/Vazirmatn.ttf && -s .cache/fonts/Vazirmatn-OFL.txt ]]; then
    wanted+=("${FONT_PACKAGES[@]}")
fi
missing=()
for p in "${wanted[@]}"; do installed "$p" || missing+=("$p"); done

# build/ and .cache/ are written by every run: files another user made there
# (say root, through sudo) make this run fail half-way, and files this run
# made as root in another user's folders would make that user's runs fail.
me=$(id -un)
foreign=$(find build .cache ! -user "$(id -u)" -print -quit 2>/dev/null || true)
[[ -z $foreign && ! -e build && ! -w . ]] && foreign=.
refuse() {
    local owner
    owner=$(stat -c %U "$foreign")
    if [[ $foreign == . ]]; then
        say "cannot make build/ in $PWD: that folder belongs to $owner, and $me, who runs this, cannot write in it." >&2
        say "Run ./scripts/$mode.sh as $owner, or in a copy of the sources that $me owns." >&2
        exit 1
    elif [[ $(id -u) -eq 0 ]]; then
        say "$foreign belongs to $owner: building there as root would leave files that $owner cannot replace." >&2
    else
        say "$foreign belongs to $owner: an earlier run as $owner made it, and $me, who runs this, cannot write there." >&2
    fi
    say "Run ./scripts/$mode.sh as $owner, or remove build/ and .cache/ (sudo rm -rf build .cache) and run it again." >&2
    exit 1
}

logs=build/logs
# log STEP: appends a header for this run to build/logs/STEP.log; sets LOG to
# that file and FROM to where this run's part starts.
log() {
    LOG=$logs/$1.log
    mkdir -p "$logs"
    FROM=$(stat -c %s "$LOG" 2>/dev/null || echo 0)
    printf '\n===== %s: scripts/setup.sh %s as %s =====\n' "$(date '+%F %T %Z')" "$mode" "$me" >>"$LOG"
}
this_run() { tail -c +$((FROM + 1)) "$LOG"; }

if ((${#missing[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        [[ -n $foreign ]] && refuse
        say "missing packages: ${missing[*]}" >&2
        say "run as root (or: sudo apt-get install --no-install-recommends ${missing[*]})" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    if [[ -n $foreign ]]; then  # someone else's folders: the log goes elsewhere
        LOG=$(mktemp -t quorva-apt.XXXXXX.log) FROM=0
    else
        log apt
    fi
    apt_failed() {
        say "apt-get failed:" >&2
        this_run | grep -E '^(E|W): ' >&2 || true
        say "its full output is in $LOG" >&2
        exit 1
    }
    # apt's own output goes to the log; its status lines (descriptor 3) say how far it is.
    say "updating the package lists"
    apt-get update -q -o APT::Status-Fd=3 3>&1 >>"$LOG" 2>&1 | ./scripts/apt-progress.sh 0 ||
        apt_failed
    total=$(apt-get install -s -q --no-install-recommends "${missing[@]}" 2>>"$LOG" | grep -c '^Inst ') ||
        apt_failed
    say "installing ${missing[*]}: $total packages with what they need"
    apt-get install -y -q --no-install-recommends -o APT::Status-Fd=3 "${missing[@]}" \
        3>&1 >>"$LOG" 2>&1 | ./scripts/apt-progress.sh "$total" || apt_failed
    this_run | grep -E '^W: ' || true
    if [[ -n $foreign ]]; then rm -f "$LOG"; fi
fi
[[ -n $foreign ]] && refuse

./scripts/fetch-font.sh

# The tests are configured whenever their libraries are here, so that run.sh
# and test.sh share one build folder without switching the tests off and on.
tests=OFF
installed libgtest-dev && installed libgmock-dev && installed libbenchmark-dev && tests=ON
# Configured every time (it takes a moment) so a font fetched later is used.
log configure
say "configuring build/ (tests: $tests; full output in $LOG)"
if ! cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVA_BUILD_TESTS=$tests \
    -DQUORVA_BUILD_BENCH=$tests >>"$LOG" 2>&1; then
    this_run >&2
    say "configuring failed" >&2
    exit 1
fi
targets=(--target app-folder quorvactl) what="the app folder and quorvactl"
[[ $mode == test ]] && targets=() what="everything"
jobs=$(nproc)
log build
say "building $what with $jobs jobs (full output in $LOG)"
# Make's bookkeeping lines say nothing; compiling, linking and drawing do.
if ! cmake --build build -j"$jobs" "${targets[@]}" 2>&1 | tee -a "$LOG" |
    { grep --line-buffered -Ev '(Built target|Consolidate compiler generated|Scanning dependencies)' || true; }; then
    say "build failed (full output in $LOG)" >&2
    exit 1
fi
test -x build/QuorvaDesktop/bin/quorva-desktop
say "built build/QuorvaDesktop"

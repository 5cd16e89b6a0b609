#!/usr/bin/env bash
# Sets up a Debian 12 machine for QuorvaDesktop and builds it into build/.
#   setup.sh run          what building and running the host needs (scripts/run.sh)
#   setup.sh test         that and the test tools; builds the tests too (scripts/test.sh)
#   setup.sh sanitize     as test, into build-sanitize/: every program instrumented with
#                         AddressSanitizer and UndefinedBehaviorSanitizer (scripts/test.sh --sanitize)
#   setup.sh --list WHAT  names the packages of run, test, sanitize or font, one a line
# Installs only what is missing, fetches the font once, builds incrementally,
# and says what each step is doing. Each step's full output is appended to
# TREE/logs/STEP.log (TREE: build or build-sanitize) under a header naming the run.
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
    dpkg-dev file lintian desktop-file-utils appstream
    pkgconf  # its pkg-config builds a client against the development package
    python3-jsonschema  # checks status.json against its schema
    bash-completion zsh  # quorvactl's completions, loaded as users' shells load them
)
# The sanitized tree (build-sanitize/): clang, whose one runtime holds both
# sanitizers and reports to a file, its runtime libraries (libFuzzer among
# them, for the fuzz targets), and llvm-symbolizer, which names the source
# lines in reports.
SANITIZE_PACKAGES=(clang libclang-rt-14-dev llvm)
# Fetching the font from the npm registry over HTTPS, until it is in .cache.
FONT_PACKAGES=(ca-certificates curl)

if [[ ${1:-} == --list ]]; then
    case ${2:-} in
    run) printf '%s\n' "${RUN_PACKAGES[@]}" ;;
    test) printf '%s\n' "${TEST_PACKAGES[@]}" ;;
    sanitize) printf '%s\n' "${SANITIZE_PACKAGES[@]}" ;;
    font) printf '%s\n' "${FONT_PACKAGES[@]}" ;;
    *) echo "usage: setup.sh --list run|test|sanitize|font" >&2; exit 2 ;;
    esac
    exit 0
fi
mode=${1:-run}
[[ $mode == run || $mode == test || $mode == sanitize ]] || { echo "usage: setup.sh run|test|sanitize" >&2; exit 2; }
tree=build script=$mode.sh
[[ $mode == sanitize ]] && tree=build-sanitize script="test.sh --sanitize"

say() { echo "setup: $*"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

wanted=("${RUN_PACKAGES[@]}")
[[ $mode != run ]] && wanted+=("${TEST_PACKAGES[@]}")
[[ $mode == sanitize ]] && wanted+=("${SANITIZE_PACKAGES[@]}")
if [[ ! -e .cache/fonts/fetch-failed ]] &&
    ! [[ -s .cache/fonts/Vazirmatn.ttf && -s .cache/fonts/Vazirmatn-OFL.txt ]]; then
    wanted+=("${FONT_PACKAGES[@]}")
fi
missing=()
for p in "${wanted[@]}"; do installed "$p" || missing+=("$p"); done

# The build folder and .cache/ are written by every run: files another user made there
# (say root, through sudo) make this run fail half-way, and files this run
# made as root in another user's folders would make that user's runs fail.
me=$(id -un 2>/dev/null || echo "uid $(id -u)")  # a user need not have a name
foreign=$(find "$tree" .cache ! -user "$(id -u)" -print -quit 2>/dev/null || true)
[[ -z $foreign && ! -e $tree && ! -w . ]] && foreign=.
# Root in another user's clone builds nothing there: that user's next run
# could not replace root's files. It installs the packages and stops.
[[ -z $foreign && ! -e $tree && $(id -u) -eq 0 && $(stat -c %u .) -ne 0 ]] && foreign=.
refuse() {
    local owner
    owner=$(stat -c %U "$foreign")
    if [[ $foreign == . && $(id -u) -eq 0 ]]; then
        say "the packages are in place. $PWD belongs to $owner: build there as $owner, so that" \
            "$owner's later runs can replace what it makes:"
        say "  ./scripts/$script"
        exit 0
    elif [[ $foreign == . ]]; then
        say "cannot make $tree/ in $PWD: that folder belongs to $owner, and $me, who runs this, cannot write in it." >&2
        say "Run ./scripts/$script as $owner, or in a copy of the sources that $me owns." >&2
        exit 1
    elif [[ $(id -u) -eq 0 ]]; then
        say "$foreign belongs to $owner: building there as root would leave files that $owner cannot replace." >&2
    else
        say "$foreign belongs to $owner: an earlier run as $owner made it, and $me, who runs this, cannot write there." >&2
    fi
    say "Run ./scripts/$script as $owner, or remove $tree/ and .cache/ (sudo rm -rf $tree .cache) and run it again." >&2
    exit 1
}

logs=$tree/logs
# log STEP: appends a header for this run to $tree/logs/STEP.log; sets LOG to
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
options=("-DQUORVA_BUILD_TESTS=$tests" "-DQUORVA_BUILD_BENCH=$tests")
if [[ $mode == sanitize ]]; then
    # With clang (CMakeLists.txt says why); ccache, if there, for this second tree.
    options+=(-DCMAKE_CXX_COMPILER=clang++ "-DQUORVA_SANITIZE=address,undefined" -DQUORVA_FUZZ=ON)
    command -v ccache >/dev/null && options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # The build runs some of its programs (the logo drawer, the tests'
    # listing): their reports count too.
    source scripts/sanitizers.sh
    sanitizer_clear
fi
# Configured every time (it takes a moment) so a font fetched later is used.
log configure
say "configuring $tree/ (tests: $tests; full output in $LOG)"
if ! cmake -S . -B "$tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >>"$LOG" 2>&1; then
    this_run >&2
    say "configuring failed" >&2
    exit 1
fi
targets=(--target runnable) what="the app folder and quorvactl"
[[ $mode != run ]] && targets=() what="everything"
jobs=$(nproc)
log build
say "building $what with $jobs jobs (full output in $LOG)"
# Make's bookkeeping lines say nothing; compiling, linking and drawing do.
# One file can take longer than ten seconds to compile: then a line says the
# build goes on.
show_build() {
    local line
    SECONDS=0
    while :; do
        if IFS= read -r -t 10 line; then
            [[ $line =~ (Built\ target|Consolidate\ compiler\ generated|Scanning\ dependencies) ]] ||
                echo "$line"
        elif (($? > 128)); then
            say "  still building, $SECONDS s in"
        else
            return 0
        fi
    done
}
if ! cmake --build "$tree" -j"$jobs" "${targets[@]}" 2>&1 | tee -a "$LOG" | show_build; then
    say "build failed (full output in $LOG)" >&2
    exit 1
fi
[[ $mode == sanitize ]] && { sanitizer_check "the build" || exit 1; }
test -x "$tree/QuorvaDesktop/bin/quorva-desktop"
say "built $tree/QuorvaDesktop"

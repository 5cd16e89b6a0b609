#!/usr/bin/env bash
# Sets up a Debian 12 machine for QuorvaDesktop and builds it into build/.
#   setup.sh run    what building and running the host needs (scripts/run.sh)
#   setup.sh test   that and the test tools; builds the tests too (scripts/test.sh)
# Installs only what is missing, fetches the font once, builds incrementally,
# and says what each step is doing.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-run}
[[ $mode == run || $mode == test ]] || { echo "usage: setup.sh run|test" >&2; exit 2; }

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

say() { echo "setup: $*"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

wanted=("${RUN_PACKAGES[@]}")
[[ $mode == test ]] && wanted+=("${TEST_PACKAGES[@]}")
if [[ ! -e .cache/fonts/fetch-failed ]] &&
    ! [[ -s .cache/fonts/Vazirmatn.ttf && -s .cache/fonts/Vazirmatn-OFL.txt ]]; then
    # Fetching the font from the npm registry over HTTPS; needed only until
    # the font is in .cache.
    wanted+=(ca-certificates curl)
fi
missing=()
for p in "${wanted[@]}"; do installed "$p" || missing+=("$p"); done

if ((${#missing[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        say "missing packages: ${missing[*]}" >&2
        say "run as root (or: sudo apt-get install --no-install-recommends ${missing[*]})" >&2
        exit 1
    fi
    say "installing ${missing[*]} (and what they need) with apt-get"
    export DEBIAN_FRONTEND=noninteractive
    mkdir -p .cache
    say "updating the package lists"
    apt-get update -q >.cache/apt.log 2>&1 || { cat .cache/apt.log >&2; exit 1; }
    # apt's own lines are many; show its summary, then progress every 20 packages.
    if ! apt-get install -y -q --no-install-recommends "${missing[@]}" 2>&1 | tee -a .cache/apt.log |
        awk '/newly installed/ { total = $3; print "setup:   " $0; fflush() }
             /^(Need to get|After this operation)/ { print "setup:   " $0; fflush() }
             /^Get:/ && ++got % 20 == 0 { print "setup:   downloaded " got " of " total; fflush() }
             /^Setting up / && (++done % 20 == 0 || done == total) {
                 print "setup:   set up " done " of " total; fflush() }
             /^(E|W): / { print; fflush() }'; then
        say "apt-get failed; its output is in .cache/apt.log" >&2
        exit 1
    fi
fi

./scripts/fetch-font.sh

# The tests are configured whenever their libraries are here, so that run.sh
# and test.sh share one build folder without switching the tests off and on.
tests=OFF
installed libgtest-dev && installed libgmock-dev && installed libbenchmark-dev && tests=ON
# Configured every time (it takes a moment) so a font fetched later is used.
say "configuring build/ (tests: $tests)"
if ! cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVA_BUILD_TESTS=$tests \
    -DQUORVA_BUILD_BENCH=$tests >.cache/configure.log 2>&1; then
    cat .cache/configure.log >&2
    say "configuring failed" >&2
    exit 1
fi
targets=(--target app-folder quorvactl) what="the app folder and quorvactl"
[[ $mode == test ]] && targets=() what="everything"
jobs=$(nproc)
say "building $what with $jobs jobs (full output in build/build.log)"
# Make's bookkeeping lines say nothing; compiling, linking and drawing do.
if ! cmake --build build -j"$jobs" "${targets[@]}" 2>&1 | tee build/build.log |
    { grep --line-buffered -Ev '(Built target|Consolidate compiler generated|Scanning dependencies)' || true; }; then
    say "build failed" >&2
    exit 1
fi
test -x build/QuorvaDesktop/bin/quorva-desktop
say "built build/QuorvaDesktop"

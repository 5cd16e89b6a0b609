#!/usr/bin/env bash
# Sets up a Debian 12 machine for QuorvaDesktop and builds it into build/.
# Installs only what is missing, fetches the font once, builds incrementally:
# a second run does no needless work. Arguments name further packages (the
# tests' own).
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
    cmake g++ make pkg-config
    qt6-base-dev libx11-dev libxcb1-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xfonts-base x11-utils xdg-utils
    fontconfig fonts-dejavu-core
    "$@"
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# npm only brings the font; without root, build without it rather than stop.
if ! command -v npm >/dev/null; then
    if [[ $(id -u) -eq 0 ]]; then missing+=(npm); else echo "setup: npm not found; the window will use the system font" >&2; fi
fi
if ((${#missing[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        echo "setup: missing packages: ${missing[*]}" >&2
        echo "setup: run as root (or: sudo apt-get install ${missing[*]})" >&2
        exit 1
    fi
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

./scripts/fetch-font.sh

# Configured every time (it takes a moment) so a font fetched later is used.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! cmake --build build -j"$(nproc)" >build/build.log 2>&1; then
    cat build/build.log >&2
    echo "setup: build failed" >&2
    exit 1
fi
test -x build/QuorvaDesktop/bin/quorva-desktop

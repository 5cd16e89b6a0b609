#!/usr/bin/env bash
# Sets up a Debian 12 machine for QuorvaDesktop and builds it into build/.
# Installs only what is missing, fetches the font once, builds incrementally:
# a second run does no needless work.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
    cmake g++ make pkg-config
    qt6-base-dev libx11-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth x11-utils xdg-utils
    fontconfig fonts-dejavu-core
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
command -v npm >/dev/null || missing+=(npm)
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

if [[ ! -f build/CMakeCache.txt ]]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
if ! cmake --build build -j"$(nproc)" >build/build.log 2>&1; then
    cat build/build.log >&2
    echo "setup: build failed" >&2
    exit 1
fi
test -x build/QuorvaDesktop/bin/quorva-desktop

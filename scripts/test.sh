#!/usr/bin/env bash
# Sets up and builds QuorvaDesktop, then runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cd build
ctest --output-on-failure -j2 --timeout 300

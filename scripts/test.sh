#!/usr/bin/env bash
# Sets up and builds QuorvaDesktop with its tests, then runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
cd build
echo "test: running every test with ctest"
ctest --output-on-failure -j2 --timeout 300

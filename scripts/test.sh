#!/usr/bin/env bash
# Sets up and builds QuorvaDesktop, then runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
# python3-jsonschema checks status.json against its schema.
./scripts/setup.sh python3-jsonschema
cd build
ctest --output-on-failure -j2 --timeout 300

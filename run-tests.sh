#!/usr/bin/env bash
# Installs the build dependencies, builds everything (test programs and benchmarks included),
# and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)"

#!/usr/bin/env bash
# Installs the build dependencies, builds the two programs the demo runs (Quendle and the demo
# package maker), builds a demo package and edits it. ./run-tests.sh builds and runs the rest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh quendle make_demo_package
demo/run-demo.sh build
